#include "ProgramName.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace cli {

namespace {

const QString kName = QStringLiteral("chuna");
const QString kOldName = QStringLiteral("ledger");

}  // namespace

void setProgramName() {
    QCoreApplication::setOrganizationName(kName);
    QCoreApplication::setApplicationName(kName);
    QSettings settings;
    if (!settings.allKeys().isEmpty()) return;
    const QSettings old(kOldName, kOldName);
    for (const QString& key : old.allKeys()) settings.setValue(key, old.value(key));
}

QString dataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

// AppDataLocation is <data home>/<organisation>/<application>; the old folder
// is the same with the old names.
QString oldDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + '/' + kOldName +
           '/' + kOldName;
}

QString defaultDatabase(const QString& file, const QString& oldFile) {
    const QString path = dataFolder() + '/' + file;
    if (QFileInfo::exists(path)) return path;
    const QString old = oldDataFolder() + '/' + oldFile;
    return QFileInfo::exists(old) ? old : path;
}

}  // namespace cli
