#include "ReportOutput.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>

#include "Cell.h"

namespace ledgerhost {

bool exportSheet(const SheetModel& sheet, const QString& path, QString* error) {
    QString ext = QFileInfo(path).suffix().toLower();
    if (ext == "csv") {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            if (error) *error = f.errorString();
            return false;
        }
        QByteArray out = "\xEF\xBB\xBF";
        for (int r = 1; r < sheet.sheetRows(); ++r) {
            QStringList cells;
            for (int c = 1; c < sheet.sheetCols(); ++c) {
                QString t = sheet.displayText(c, r);
                if (t.contains(',') || t.contains('"') || t.contains('\n'))
                    t = '"' + QString(t).replace("\"", "\"\"") + '"';
                cells << t;
            }
            out += cells.join(',').toUtf8() + "\r\n";
        }
        if (f.write(out) != out.size()) {
            if (error) *error = f.errorString();
            return false;
        }
        return true;
    }
    if (error) *error = QStringLiteral("不支持的导出格式：") + ext;
    return false;
}

void printSheet(const SheetModel& sheet, QPrinter& printer, const QString& title) {
    QPainter p(&printer);
    p.drawText(100, 100, title);
}

}  // namespace ledgerhost
