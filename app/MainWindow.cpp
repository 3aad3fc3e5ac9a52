#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMap>
#include <QMenuBar>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <algorithm>

#include "Backup.h"
#include "CarryForwardForm.h"
#include "CashierInitForm.h"
#include "Guard.h"
#include "Handles.h"
#include "PluginBinding.h"
#include "Seams.h"
#include "SignInForm.h"
#include "Store.h"
#include "SystemAdmin.h"
#include "Users.h"

using namespace ledgerhost;

MainWindow::MainWindow(HostSession& session, std::vector<LoadedPlugin>& plugins,
                       const QString& dbPath)
    : session_(session), plugins_(plugins), dbPath_(dbPath) {
    resize(1024, 700);
    QMenu* sys = menuBar()->addMenu(QStringLiteral("系统(&S)"));
    // The office's lists, the openings and the year: for administrators.
    if (isAdministrator(session.dbManage().Db(), session.user().Code)) {
        struct Item {
            const char* text;
            const char* name;
            void (MainWindow::*run)();
        };
        for (const Item& i : {Item{"系统管理(&M)…", "systemAdmin", &MainWindow::systemAdmin},
                              Item{"出纳初始化(&I)…", "cashierInit", &MainWindow::cashierInit},
                              Item{"结转下年(&Y)…", "carryForward", &MainWindow::carryForward}}) {
            QAction* a = sys->addAction(QString::fromUtf8(i.text));
            a->setObjectName(QString::fromUtf8(i.name));
            connect(a, &QAction::triggered, this, guardedSlot(this, i.text, i.run));
        }
        sys->addSeparator();
    }
    QAction* password = sys->addAction(QStringLiteral("修改密码(&P)…"));
    password->setObjectName(QStringLiteral("changePassword"));
    connect(password, &QAction::triggered, this, [this] {
        guarded(this, "修改密码", [&] {
            office::TFrmChangePassword form(this, session_.dbManage().Db(), session_.user().Code,
                                            false);
            ShowModal(form);
        });
    });
    QAction* backup = sys->addAction(QStringLiteral("备份账套…"));
    backup->setObjectName(QStringLiteral("backupBook"));
    connect(backup, &QAction::triggered, this,
            [this] { guarded(this, "备份账套", [&] { backupBook(); }); });
    sys->addSeparator();
    sys->addAction(QStringLiteral("退出(&X)"), this, &QWidget::close);

    // Each plug-in type's menu and each plug-in in it get a keyboard
    // accelerator: letters for the menus (出纳(&C) …), digits for the items.
    QMap<QString, QMenu*> menus;
    const QString letters = QStringLiteral("CJBDFGHKLMRTUW");
    for (const LoadedPlugin& p : plugins_) {
        QMenu*& m = menus[p.type];
        if (!m) {
            const int n = static_cast<int>(menus.size()) - 1;
            m = menuBar()->addMenu(
                n < letters.size() ? QStringLiteral("%1(&%2)").arg(p.type, letters[n]) : p.type);
        }
        const int item = static_cast<int>(m->actions().size()) + 1;
        QAction* a =
            m->addAction(item <= 9 ? QStringLiteral("%1(&%2)").arg(p.name).arg(item) : p.name);
        a->setToolTip(p.detail);
        a->setObjectName(p.name);
        connect(a, &QAction::triggered, this,
                [this, &p] { guarded(this, "运行插件", [&] { runPlugin(p); }); });
    }
    welcome_ = new QLabel(this);
    welcome_->setAlignment(Qt::AlignCenter);
    setCentralWidget(welcome_);
    bookSetChanged();
    statusBar()->showMessage(QStringLiteral("数据库：%1").arg(dbPath));
}

void MainWindow::bookSetChanged() {
    // The book set is shared with every window open on it (BookManage).
    if (auto fresh = TBookSet::load(session_.dbManage().Db(), session_.bookSet().Code))
        session_.bookSet() = *fresh;
    const TBookSet& book = session_.bookSet();
    setWindowTitle(
        QStringLiteral("账务处理 - %1 %2")
            .arg(QString::fromStdString(book.DispCode), QString::fromStdString(book.Name)));
    welcome_->setText(
        QStringLiteral("<h2>%1 %2</h2><p>会计年度 %3 · 用户 %4</p><p>%5</p>")
            .arg(QString::fromStdString(book.DispCode), QString::fromStdString(book.Name))
            .arg(book.Year)
            .arg(QString::fromStdString(session_.user().Name))
            .arg(book.InitConfirmed
                     ? QStringLiteral("从菜单“出纳”打开日记账或银行对账单。")
                     : QStringLiteral(
                           "出纳初始化尚未完成：请先在“系统 → 出纳初始化”中录入期初数据。")));
}

void MainWindow::systemAdmin() {
    office::TFrmSystemAdmin form(this, session_.dbManage().Db(), session_.user().Code,
                                 session_.bookSet().Code);
    ShowModal(form);
    bookSetChanged();
}

void MainWindow::cashierInit() {
    office::TFrmCashierInit form(this, session_.dbManage().Db(), session_.user().Code,
                                 session_.bookSet().Code);
    ShowModal(form);
    bookSetChanged();
}

void MainWindow::carryForward() {
    office::TFrmCarryForward form(this, session_.dbManage().Db(), session_.user().Code,
                                  session_.bookSet().Code);
    ShowModal(form);
    bookSetChanged();
}

const LoadedPlugin* MainWindow::findPlugin(const QString& name) const {
    for (const LoadedPlugin& p : plugins_)
        if (p.name == name) return &p;
    return nullptr;
}

QWidget* MainWindow::runPlugin(const LoadedPlugin& plugin) {
    if (QWidget* open = openWindows_.value(plugin.name)) {
        if (open->isMinimized()) open->showNormal();
        open->raise();
        open->activateWindow();
        return open;
    }
    PluginHostBlock block = makeHostBlock(session_, this);
    std::uint32_t app = registerHandle<QWidget>(this);
    if (plugin.run(app, &block) != 0) return nullptr;
    QWidget* w = resolveHandle<QWidget>(block.Window);
    if (!w) return nullptr;
    w->setAttribute(Qt::WA_DeleteOnClose);
    // A window that remembers where it was stays there; others open centred.
    if (!w->property("ledgerGeometryRestored").toBool()) {
        // Centred on the main window, but never past the screen's edges.
        QRect frame(QPoint(0, 0), w->size());
        frame.moveCenter(geometry().center());
        if (QScreen* s = screen()) {
            const QRect avail = s->availableGeometry();
            frame.moveLeft(
                std::max(avail.left(), std::min(frame.left(), avail.right() - frame.width())));
            frame.moveTop(
                std::max(avail.top(), std::min(frame.top(), avail.bottom() - frame.height())));
        }
        w->move(frame.topLeft());
    }
    w->show();
    w->raise();
    w->activateWindow();
    openWindows_[plugin.name] = w;
    return w;
}

QString MainWindow::defaultBackupName() const {
    QString name = QStringLiteral("%1 %2 %3.ledger-backup.db")
                       .arg(QString::fromStdString(session_.bookSet().DispCode),
                            QString::fromStdString(session_.bookSet().Name),
                            QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    // A file name, whatever the book set's name holds.
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    return name.trimmed();
}

void MainWindow::backupBook() {
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) docs = QDir::homePath();
    seams::FileRequest req;
    req.title = QStringLiteral("备份账套");
    req.filter = QStringLiteral("账套备份(*.ledger-backup.db)|*.ledger-backup.db|所有文件(*)|*");
    req.defaultExt = QStringLiteral("db");
    req.initialDir = QDir(docs).filePath(defaultBackupName());
    req.save = true;
    const std::optional<QString> chosen = OpenFileDialog(this, req);
    if (!chosen) return;
    const std::string target = QFileInfo(*chosen).absoluteFilePath().toStdString();
    if (isStoreFile(target)) {
        MessageBoxA(this, kStoreFileRefused, "备份账套", MB_OK | MB_ICONERROR);
        return;
    }
    struct Cursor {
        Cursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
        ~Cursor() { QApplication::restoreOverrideCursor(); }
    };
    BackupResult result;
    std::string failure;
    {
        Cursor wait;
        const QString before = statusBar()->currentMessage();
        try {
            result = backupDatabase(dbPath_.toStdString(), target, [this](int done, int total) {
                statusBar()->showMessage(
                    QStringLiteral("正在备份账套… %1%").arg(total ? done * 100 / total : 0));
                statusBar()->repaint();
            });
        } catch (const std::exception& e) {
            failure = e.what();
        }
        statusBar()->showMessage(before);
    }
    if (!failure.empty()) {
        MessageBoxA(this, failure, "备份账套", MB_OK | MB_ICONERROR);
        return;
    }
    std::int64_t rows = 0;
    for (const auto& t : result.tables) rows += t.second;
    MessageBoxA(this,
                "已备份账套到 " + result.path + "\n（" + std::to_string(result.tables.size()) +
                    " 张表，" + std::to_string(rows) + " 行），完整性检查通过。",
                "备份账套", MB_OK | MB_ICONINFORMATION);
}
