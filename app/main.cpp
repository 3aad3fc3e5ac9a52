// The host application: opens a book-set database (on the first start on a
// database that is not there yet, making the office's own book set or the
// demo, as the user chooses; --demo makes the demo without asking), signs a
// user in, finds the plug-ins and runs them.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "DemoData.h"
#include "FirstStart.h"
#include "Guard.h"
#include "MainWindow.h"
#include "PluginLoader.h"
#include "ProgramName.h"
#include "Seams.h"
#include "Session.h"
#include "SignIn.h"
#include "SignInForm.h"
#include "Store.h"
#include "TerminalSignIn.h"
#include "Users.h"

using namespace ledgerhost;

namespace {

// A last resort only: every handler runs its body through `guarded`
// (host/Guard.h), so nothing should get here. Should a failure slip through
// all the same, it is logged and reported, and the application keeps running.
class LedgerApplication final : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            reportHandlerFailure(nullptr, "处理事件", e.what());
        } catch (...) {
            reportHandlerFailure(nullptr, "处理事件", nullptr);
        }
        return false;
    }
};

bool hasDisplay() {
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform == "offscreen" || platform == "minimal" || platform == "vnc") return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool wantsScreenshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]).startsWith("--screenshot")) return true;
    return false;
}

// The plug-ins beside the program: the installed folder
// (../lib/<multiarch>/chuna/plugins from bin/) when it is there, else the
// build tree's "plugins" folder next to the program.
QString defaultPluginDir() {
    const QString here = QCoreApplication::applicationDirPath();
    const QString installed = QDir::cleanPath(here + "/" + LEDGER_INSTALLED_PLUGIN_DIR);
    if (QFileInfo(installed).isDir()) return installed;
    return here + "/" + LEDGER_DEFAULT_PLUGIN_DIR;
}

// The user who signs in when none is named: "admin" where there is one,
// else the first administrator.
std::string defaultUser(Database& db) {
    if (findUser(db, "admin")) return "admin";
    for (const UserInfo& u : listUsers(db))
        if (u.Administrator) return u.Code;
    return "admin";
}

// The book set when none is named: "001" when the user may use it, else the
// user's first; a user without any is told how to get one.
std::string defaultBookSet(Database& db, const std::string& user) {
    const auto u = findUser(db, user);
    if (u && u->BookSets.empty())
        throw StoreError("用户 " + user +
                         " 还没有可用的账套。请用 chuna-admin book-set add 建立账套，或用 "
                         "chuna-admin user grant 给用户分配账套。");
    if (!u || std::find(u->BookSets.begin(), u->BookSets.end(), "001") != u->BookSets.end())
        return "001";
    return u->BookSets.front();
}

// A failed start, reported with what failed first ("无法登录：…"), unless the
// message already says so itself.
int failedStart(const char* stage, const std::exception& e, const std::string& location) {
    const std::string what = withoutPassword(e.what(), location);
    std::cerr << "chuna: " << (what.rfind(stage, 0) == 0 ? what : stage + std::string("：") + what)
              << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool screenshot = wantsScreenshot(argc, argv);
    if (!hasDisplay()) {
        if (!screenshot) {
            std::fprintf(stderr,
                         "chuna: 没有图形显示（DISPLAY 未设置）。请在桌面环境中运行，"
                         "或加 --screenshot 文件名 在无显示环境下截图。\n");
            return 2;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    LedgerApplication app(argc, argv);
    cli::setProgramName();
    // The forms are laid out for a 9-point CJK face, as on the host's desktop.
    QFont face(QStringLiteral("Noto Sans CJK SC"), 9);
    face.setStyleHint(QFont::SansSerif);
    QApplication::setFont(face);
    guardFileDialogs();
    showWaitsInWindows();
    // Qt's own dialogs (files, printing, page set-up) in Chinese, from the
    // translations installed with Qt; without them they stay in English.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString& catalogue : {QStringLiteral("qtbase"), QStringLiteral("qt")}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QLocale(QLocale::Chinese, QLocale::China), catalogue,
                             QStringLiteral("_"), qtTranslations))
            QApplication::installTranslator(translator);
        else
            delete translator;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("账务处理主程序（出纳插件的宿主）"));
    parser.addHelpOption();
    const QString mainBooks =
        cli::defaultDatabase(QStringLiteral("chuna.db"), QStringLiteral("ledger.db"));
    const QString demoBooks =
        cli::defaultDatabase(QStringLiteral("demo.db"), QStringLiteral("demo.db"));
    QCommandLineOption dbOpt(
        "db",
        "账套数据库：文件路径（默认 " + mainBooks + "，加 --demo 时为 " + demoBooks +
            "），或 "
            "PostgreSQL 连接串 postgresql://用户@主机/库名 或 service=名称（密码请放在 ~/.pgpass "
            "或 PGPASSWORD 中）。数据库还不存在时先询问：新建账套，或打开演示账套",
        "PATH");
    QCommandLineOption demoOpt("demo", "数据库还不存在时直接建立演示账套，不询问");
    QCommandLineOption userOpt("user", "登录用户编码（不给时在登录窗口中选择；密码总要输入）",
                               "CODE");
    QCommandLineOption passwordFileOpt(
        "password-file",
        "从文件（只让自己读取）读登录密码，不显示登录窗口（不给时在登录窗口中输入）", "FILE");
    QCommandLineOption bookOpt("book", "账套编码（默认 001，用户不能使用时为其第一个账套）",
                               "CODE");
    QCommandLineOption dirOpt("plugin-dir", "插件目录", "DIR", defaultPluginDir());
    QCommandLineOption runOpt("run-plugin", "直接打开该插件的窗口", "NAME");
    QCommandLineOption shotOpt("screenshot", "显示插件窗口后截图保存为 PNG 并退出", "PATH");
    parser.addOptions({dbOpt, demoOpt, userOpt, bookOpt, passwordFileOpt, dirOpt, runOpt, shotOpt});
    parser.process(app);

    const bool wantDemo = parser.isSet(demoOpt);
    QString dbPath = parser.isSet(dbOpt) ? parser.value(dbOpt) : wantDemo ? demoBooks : mainBooks;
    // A server password given in --db leaves the process list once read.
    hidePasswordsInArguments(argc, argv);
    const std::string location = dbPath.toStdString();
    const bool onServer = Database::isServerLocation(location);
    std::string user = parser.value(userOpt).toStdString();
    std::string book = parser.value(bookOpt).toStdString();
    // What the start was doing when it failed, said first: opening the
    // database, making it, or signing in.
    const char* stage = "无法打开账套数据库";
    try {
        if (Database::isMissing(location)) {
            // The default folder is made on first start; a folder named with
            // --db must exist, so a mistyped path does not grow new folders.
            const QString folder = QFileInfo(dbPath).absolutePath();
            if (!onServer && !parser.isSet(dbOpt)) QDir().mkpath(folder);
            if (!onServer && !QFileInfo(folder).isDir())
                throw StoreError("无法打开账套数据库 " + location + "：文件夹 " +
                                 folder.toStdString() + " 不存在。");
            bool makeDemo = wantDemo;
            if (!wantDemo) {
                if (screenshot) {
                    std::cerr << "chuna: 数据库 " << Database::displayLocation(location)
                              << " 还不存在。加 --demo 建立演示账套，在图形界面中启动以新建账套，"
                                 "或用 chuna-admin create 建立。\n";
                    return 2;
                }
                stage = "无法新建账套";
                office::TFrmFirstStart first(nullptr, location, QDate::currentDate().year());
                if (ShowModal(first) != mrOk) return 0;
                makeDemo = first.demo;
                if (!makeDemo) {
                    std::cerr << "chuna: 已建立账套数据库 " << Database::displayLocation(location)
                              << "\n";
                    if (book.empty()) book = first.book.Code;
                    if (user.empty()) user = first.adminCode;
                }
            }
            // When another program created the database first, this one opens it.
            if (makeDemo) stage = "无法创建演示账套";
            if (makeDemo && demo::createDemoDatabase(location, QDate::currentDate())) {
                std::cerr << "chuna: 已创建演示账套 " << Database::displayLocation(location)
                          << "\n";
                // The sample statements go to the user's documents, not beside
                // the database: the import dialogs then have no reason to
                // browse the database's folder.
                QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
                if (docs.isEmpty()) docs = QDir::homePath();
                const QString statements = docs + QStringLiteral("/出纳示例对账单");
                try {
                    for (const auto& f :
                         demo::writeDemoStatements(statements.toStdString(), QDate::currentDate()))
                        std::cerr << "chuna: 示例对账单 " << f << "\n";
                } catch (const std::exception& e) {
                    std::cerr << "chuna: " << e.what() << "\n";
                }
            }
        }
        // Nothing is opened for a user who has not given the right password:
        // read from --password-file, else typed into the sign-in window.
        stage = "无法打开账套数据库";
        Database db(location);
        stage = "无法登录";
        if (parser.isSet(passwordFileOpt) || screenshot) {
            if (!parser.isSet(passwordFileOpt))
                throw StoreError(
                    "没有人能在登录窗口中输入密码：请用 --password-file 文件 "
                    "指定密码文件（只让自己读取）。");
            if (user.empty()) user = defaultUser(db);
            const SignedIn who = signIn(
                db, user, cli::readPasswordFile(parser.value(passwordFileOpt).toStdString()));
            if (who.Needs != SignInNeeds::Nothing) throw SignInError(needsMessage(who));
            if (book.empty()) book = defaultBookSet(db, user);
        } else {
            // Offered first: --user and --book, else the last sign-in's, else
            // "admin" (or the first administrator) in book set "001".
            if (user.empty()) {
                user = office::TFrmSignIn::lastUser();
                if (user.empty() || !findUser(db, user)) user = defaultUser(db);
            }
            if (book.empty()) book = office::TFrmSignIn::lastBook();
            office::TFrmSignIn form(nullptr, db, user, book);
            if (ShowModal(form) != mrOk) return 0;
            user = form.signedIn.UserCode;
            book = form.book;
        }
    } catch (const std::exception& e) {
        return failedStart(stage, e, location);
    }

    std::unique_ptr<HostSession> session;
    try {
        session = std::make_unique<HostSession>(location, book, user);
    } catch (const std::exception& e) {
        return failedStart("无法登录", e, location);
    }

    if (screenshot) {
        // Nobody is there to answer a message box: print it instead.
        seams::messageHook() = [](QWidget*, const seams::Message& m) {
            std::cerr << "chuna: [" << m.caption << "] " << m.text << "\n";
            return (m.flags & 0xF) == MB_YESNO ? IDNO : IDOK;
        };
    }

    QStringList problems;
    std::vector<LoadedPlugin> plugins = loadPlugins(parser.value(dirOpt), &problems);
    for (const QString& p : problems) std::cerr << "chuna: " << p.toStdString() << "\n";
    if (plugins.empty())
        std::cerr << "chuna: 插件目录 " << parser.value(dirOpt).toStdString() << " 中没有插件。\n";

    int rc = 0;
    {
        MainWindow main(*session, plugins, dbPath);
        setApplicationWindow(&main);
        main.show();

        QString runName = parser.value(runOpt);
        if (screenshot && runName.isEmpty() && !plugins.empty())
            runName = main.findPlugin(QStringLiteral("银行对账单")) ? QStringLiteral("银行对账单")
                                                                    : plugins.front().name;
        QWidget* window = nullptr;
        if (!runName.isEmpty()) {
            const LoadedPlugin* p = main.findPlugin(runName);
            if (!p) {
                std::cerr << "chuna: 没有名为 " << runName.toStdString() << " 的插件。\n";
                rc = 1;
            } else {
                window = main.runPlugin(*p);
                if (!window && screenshot) rc = 1;
            }
        }
        if (screenshot && rc == 0) {
            QString path = parser.value(shotOpt);
            QWidget* target = window ? window : static_cast<QWidget*>(&main);
            QTimer::singleShot(200, [&, target] {
                guarded(nullptr, "截图", [&] {
                    QApplication::processEvents();
                    if (isStoreFile(path.toStdString())) {
                        std::cerr << "chuna: " << kStoreFileRefused << "\n";
                        rc = 1;
                    } else if (!target->grab().save(path)) {
                        std::cerr << "chuna: 无法保存截图 " << path.toStdString() << "\n";
                        rc = 1;
                    }
                });
                QApplication::quit();
            });
        }
        if (rc == 0) rc = app.exec() == 0 ? rc : 1;
        setApplicationWindow(nullptr);
    }
    session.reset();
    unloadPlugins(plugins);
    return rc;
}
