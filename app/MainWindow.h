#pragma once

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <memory>
#include <vector>

#include "PluginLoader.h"
#include "Session.h"

class QLabel;

// The host application's main window: a menu per plug-in type listing the
// plug-ins found, and the windows they return.
class MainWindow final : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(ledgerhost::HostSession& session, std::vector<LoadedPlugin>& plugins,
               const QString& dbPath);

    // Runs a plug-in; answers its window (shown) or nothing when it refused.
    // A plug-in whose window is still open is not run again: its window is
    // raised, keeping its filters and rows.
    QWidget* runPlugin(const LoadedPlugin& plugin);
    const LoadedPlugin* findPlugin(const QString& name) const;
    // "备份账套…": asks for a new file (in the documents folder at first) and
    // makes a checked backup of the open database there while it stays in use.
    void backupBook();
    // The name the backup file dialog offers: "<账套> <名称> <date>.ledger-backup.db".
    QString defaultBackupName() const;
    // "系统管理…", "出纳初始化…", "结转下年…" (offered to administrators): the
    // office's windows on the open database. Afterwards the session's book set
    // is read again, so the windows see a confirmed initialisation or a new
    // year at once.
    void systemAdmin();
    void cashierInit();
    void carryForward();

  private:
    void bookSetChanged();
    QLabel* welcome_ = nullptr;
    ledgerhost::HostSession& session_;
    std::vector<LoadedPlugin>& plugins_;
    QString dbPath_;
    QMap<QString, QPointer<QWidget>> openWindows_;
};
