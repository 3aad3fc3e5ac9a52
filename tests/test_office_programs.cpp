// What the programs do around a real office's store: an older file keeps
// someone who can manage it; the demo's statements are never written over or
// through a link; `chuna` asks before it makes anything (or makes the demo
// with --demo); chuna-admin's refusals exit with their status and message.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "DemoData.h"
#include "Fixture.h"
#include "Programs.h"
#include "Store.h"
#include "Users.h"

using namespace ledgerhost;

namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

// A file of the version before: without the columns and tables of version 6.
TEST(OfficeUpgrade, AnOlderFileKeepsSomeoneWhoCanManageIt) {
    struct Case {
        const char* what;
        const char* users;
        std::vector<std::string> administrators;
    };
    const Case cases[] = {
        {"a user admin", "('admin', '管理员'), ('u1', '张三')", {"admin"}},
        {"no user admin", "('u1', '张三'), ('u2', '李四')", {"u1", "u2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const std::string file = dir.filePath("old.db").toStdString();
        testutil::createTestBook(file);
        {
            Database db(file);
            db.exec(std::string("DELETE FROM user_book_sets; DELETE FROM users; "
                                "ALTER TABLE users DROP COLUMN is_admin; "
                                "INSERT INTO users (code, name) VALUES ") +
                    c.users +
                    "; ALTER TABLE book_sets DROP COLUMN start_month; "
                    "ALTER TABLE book_sets DROP COLUMN closed; "
                    "ALTER TABLE bank_accounts DROP COLUMN bank_name; "
                    "DROP TABLE closing_balances; DROP TABLE closed_years; "
                    "PRAGMA user_version = 5");
        }
        Database db(file);
        EXPECT_EQ(db.schemaVersion(), Database::kSchemaVersion);
        std::vector<std::string> admins;
        for (const UserInfo& u : listUsers(db))
            if (u.Administrator) admins.push_back(u.Code);
        EXPECT_EQ(admins, c.administrators);
        EXPECT_EQ(TBookSet::load(db, "001")->StartMonth, 1);
    }
}

TEST(DemoStatements, NeverWrittenOverOrThroughALink) {
    QTemporaryDir dir;
    const QDate today(2025, 3, 18);
    const QString folder = dir.filePath("statements");
    const auto first = demo::writeDemoStatements(folder.toStdString(), today);
    ASSERT_EQ(first.size(), 2u);
    // A statement already there (imported, or the user's own) and a link
    // planted under the next name are left alone; the next free name is used.
    const QString icbc = folder + QStringLiteral("/工行对账单-202503.txt");
    {
        QFile f(icbc);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("mine");
    }
    const QString elsewhere = dir.filePath("elsewhere.txt");
    QFile(elsewhere).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(elsewhere, folder + QStringLiteral("/工行对账单-202503 (2).txt")));
    const auto second = demo::writeDemoStatements(folder.toStdString(), today);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(QString::fromStdString(second[0]),
              folder + QStringLiteral("/工行对账单-202503 (3).txt"));
    EXPECT_EQ(QString::fromStdString(second[1]),
              folder + QStringLiteral("/建行对账单-202503 (2).xls"));
    EXPECT_EQ(contents(icbc), "mine");
    EXPECT_EQ(contents(elsewhere), "");
    // A folder that is a link is refused, and nothing is written where it points.
    const QString linked = dir.filePath("linked");
    ASSERT_TRUE(QFile::link(dir.filePath("target"), linked));
    QDir().mkpath(dir.filePath("target"));
    try {
        demo::writeDemoStatements(linked.toStdString(), today);
        ADD_FAILURE() << "a linked folder was written into";
    } catch (const StoreError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "文件夹 " + linked.toStdString() + " 是符号链接，没有在其中写入示例对账单。");
    }
    EXPECT_TRUE(QDir(dir.filePath("target")).isEmpty());
}

testutil::Outcome run(const QString& program, const QStringList& args, const QString& home = {}) {
    QProcess p;
    p.setProgram(testutil::programPath(program));
    p.setArguments(testutil::withPassword(args));
    if (!home.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_DATA_HOME", home + "/.local/share");
        env.insert("XDG_DOCUMENTS_DIR", home + "/Documents");
        p.setProcessEnvironment(env);
    }
    p.start();
    return testutil::finishProgram(p, 120000);
}

// `chuna` on a database that is not there: without a person to ask it makes
// nothing and says how; with --demo it makes the demo.
TEST(OfficePrograms, LedgerAsksBeforeItMakesAStore) {
    QTemporaryDir dir;
    const QString db = dir.filePath("new.db"), shot = dir.filePath("shot.png");
    testutil::Outcome r = run("chuna", {"--db", db, "--screenshot", shot});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("还不存在。加 --demo 建立演示账套")))
        << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(db));
    r = run("chuna", {"--db", db, "--demo", "--screenshot", shot}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("已创建演示账套"))) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(shot));
}

TEST(OfficePrograms, LedgerAdminRefusalsExitWithTheirStatus) {
    QTemporaryDir dir;
    const QString db = dir.filePath("book.db");
    testutil::createTestBook(db.toStdString());
    const QString stored = QString::fromLatin1(contents(db).toHex());
    struct Case {
        const char* what;
        QStringList args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"not an administrator",
         {"account", "add", "--db", db, "--user", "u2", "--book", "001", "--code", "9", "--name",
          "x", "--kind", "cash"},
         1,
         "用户 u2 没有系统管理权限。"},
        {"an unknown operation",
         {"account", "move", "--db", db, "--user", "u1"},
         2,
         "没有 move 这一操作"},
        {"a missing option",
         {"book-set", "add", "--db", db, "--user", "u1", "--book", "009"},
         2,
         "需要 --name"},
        {"a bad amount",
         {"opening", "set", "--db", db, "--user", "u1", "--book", "001", "--code", "1001",
          "--journal", "1.234"},
         1,
         "金额“1.234”不对"},
        {"a missing database",
         {"user", "list", "--db", dir.filePath("none.db"), "--user", "u1"},
         1,
         "文件不存在"},
        {"a store over an existing file",
         {"create", "--db", db},
         1,
         "已经存在，没有建立账套数据库"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testutil::Outcome r = run("chuna-admin", c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    }
    EXPECT_EQ(QString::fromLatin1(contents(db).toHex()), stored);
}

}  // namespace
