// chuna-admin copy and create-demo, run as the built program: a whole store
// copied into an empty database of either engine (a new SQLite file, and a
// PostgreSQL database when LEDGER_TEST_PG names a server) with its rows,
// amounts and id counters; targets and sources that must be refused; and no
// password in anything the program prints.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "Fixture.h"
#include "Glide.h"
#include "Programs.h"
#include "Store.h"
#include "TestStores.h"

using namespace ledgerhost;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

Outcome admin(const QStringList& args, const QString& home = {}) {
    QProcess p;
    p.setProgram(QStringLiteral(LEDGER_BIN_DIR) + "/chuna-admin");
    p.setArguments(testutil::withPassword(args));
    if (!home.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_DOCUMENTS_DIR", home + "/Documents");
        p.setProcessEnvironment(env);
    }
    p.start();
    p.waitForFinished(120000);
    Outcome r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

std::int64_t number(Database& db, const std::string& sql) {
    Stmt s = db.prepare(sql);
    return s.step() ? s.i64(0) : -1;
}

class AdminCopy : public ::testing::TestWithParam<const char*> {};

// A store with rows in the journal tables, some of them deleted (so the id
// counters run ahead of the ids), an import log entry and reconciliation
// data, copied whole; rows added afterwards get ids past the source's.
TEST_P(AdminCopy, CopiesEveryTableWithItsCountersAndRefusesAFilledTarget) {
    testutil::TestStore store(GetParam());
    if (!store.skip().empty()) GTEST_SKIP() << store.skip();
    ASSERT_EQ(store.error(), "");
    const std::string source = store.dir().filePath("source.db").toStdString();
    testutil::createTestBook(source);
    std::int64_t lastId = 0;
    {
        Database db(source);
        for (int i = 0; i < 40; ++i)
            lastId = testutil::addRow(db, i % 2 ? kStatementTable : kCashJournalTable, "001",
                                      i % 3 ? "1001" : "1003", "2024-02-03", i * 1.25, i % 7 * 3.5,
                                      "行" + std::to_string(i));
        db.exec("DELETE FROM CaCollateGlide WHERE id > " + std::to_string(lastId - 6));
        db.exec(
            "INSERT INTO import_log (set_code, digest, file_name, accounts, row_count, "
            "user_code, imported_at) VALUES ('001', 'abc', 'a.txt', '6222001', 3, 'u1', "
            "'2024-03-01 10:00:00');"
            "INSERT INTO reconcile_openings VALUES ('001', '1001', 123456);"
            "INSERT INTO reconcile_opening_items (set_code, as_code, kind, item_date, cents) "
            "VALUES ('001', '1001', 1, '2023-12-30', 777)");
    }
    // An empty database: the copy makes the schema.
    const std::string target = store.db();
    Outcome r = admin(
        {"copy", "--from", QString::fromStdString(source), "--to", QString::fromStdString(target)});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("CaCollateGlide：14 行"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("行数和金额合计与来源一致"), std::string::npos) << r.out;

    Database src(source), dst(target);
    EXPECT_EQ(dst.schemaVersion(), Database::kSchemaVersion);
    for (const std::string& sql :
         {"SELECT COUNT(*) FROM CaGlide", "SELECT SUM(deb_cents) + 3 * SUM(cre_cents) FROM CaGlide",
          "SELECT SUM(date_or_no * id) FROM CaCollateGlide", "SELECT COUNT(*) FROM bank_accounts",
          "SELECT SUM(opening_cents) FROM bank_accounts", "SELECT COUNT(*) FROM user_book_sets",
          "SELECT row_count FROM import_log", "SELECT bank_opening_cents FROM reconcile_openings",
          "SELECT cents FROM reconcile_opening_items", "SELECT COUNT(*) FROM summaries"})
        EXPECT_EQ(number(dst, sql), number(src, sql)) << sql;
    {
        Stmt text = dst.prepare("SELECT summary, create_date FROM CaGlide ORDER BY id");
        ASSERT_TRUE(text.step());
        EXPECT_EQ(text.text(0), "行0");
        EXPECT_EQ(text.text(1), "2024-02-03");
    }

    // New rows follow the source's counter, not the highest copied id.
    {
        HostSession session(target, "001", "u1");
        TCaGlide row(kStatementTable);
        row.SetCode = "001";
        row.AS_Code = "1001";
        row.CreateDate = "2024-03-01";
        row.DebMoney = 1;
        row.OperFlag = "0";
        ASSERT_TRUE(row.Insert(true)) << row.ErrorText;
        EXPECT_GT(row.Id, lastId);
    }

    // The target now has rows: a second copy is refused and changes nothing.
    Outcome again = admin(
        {"copy", "--from", QString::fromStdString(source), "--to", QString::fromStdString(target)});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(number(dst, "SELECT COUNT(*) FROM CaCollateGlide"), 15);
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminCopy, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

// Sources and targets that are refused with a message and exit status 1 (2 for
// wrong arguments), leaving nothing behind; a password given in a URI never
// shows in what the program prints.
TEST(AdminCopyRefusals, RefusedWithAMessageAndNoPasswordShown) {
    QTemporaryDir dir;
    const QString good = dir.filePath("good.db");
    testutil::createTestBook(good.toStdString());
    const QString foreign = dir.filePath("foreign.db");
    {
        QProcess sqlite;
        sqlite.start("sqlite3", {foreign, "CREATE TABLE notes (t TEXT)"});
        sqlite.waitForFinished();
    }
    const QString filled = dir.filePath("filled.db");
    testutil::createTestBook(filled.toStdString());
    struct Case {
        const char* what;
        QStringList args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"missing source",
         {"copy", "--from", dir.filePath("none.db"), "--to", dir.filePath("a.db")},
         1,
         "文件不存在"},
        {"foreign source",
         {"copy", "--from", foreign, "--to", dir.filePath("b.db")},
         1,
         "不是账套数据库"},
        {"server as source",
         {"copy", "--from", "postgresql://u:hunter2@/x?host=/nonexistent", "--to",
          dir.filePath("c.db")},
         1,
         "必须是 SQLite"},
        {"existing target file", {"copy", "--from", good, "--to", filled}, 1, "已经存在"},
        {"unreachable server with a password",
         {"copy", "--from", good, "--to",
          "postgresql://ledger:hunter2@/nodb?host=/nonexistent-folder&password=hunter2"},
         1,
         "chuna-admin"},
        {"password in the user information",
         {"copy", "--from", good, "--to",
          "postgres://ledger:hunter2@/nodb?host=/nonexistent-folder"},
         1,
         "chuna-admin"},
        {"password as a parameter",
         {"create-demo", "--db", "postgresql:///nodb?password=hunter2&host=/nonexistent-folder"},
         1,
         "chuna-admin"},
        {"no target", {"copy", "--from", good}, 2, "用法"},
        {"unknown option",
         {"copy", "--from", good, "--to", dir.filePath("d.db"), "--fast"},
         2,
         "用法"},
        {"unknown command", {"move"}, 2, "用法"},
        {"demo without --db", {"create-demo"}, 2, "用法"},
        {"demo on an existing file", {"create-demo", "--db", filled}, 1, "已经存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome r = admin(c.args, dir.path());
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ((r.out + r.err).find("hunter2"), std::string::npos) << r.out << r.err;
    }
    for (const char* name : {"a.db", "b.db", "c.db", "d.db"})
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(name))) << name;
    Database stillEmpty(filled.toStdString());
    EXPECT_EQ(number(stillEmpty, "SELECT COUNT(*) FROM CaGlide"), 0);
}

// create-demo fills an empty database with the demo book sets and writes the
// sample statements into the documents folder; a second run is refused.
class AdminCreateDemo : public ::testing::TestWithParam<const char*> {};

TEST_P(AdminCreateDemo, FillsAnEmptyDatabaseOnceAndWritesTheSampleStatements) {
    testutil::TestStore store(GetParam());
    if (!store.skip().empty()) GTEST_SKIP() << store.skip();
    ASSERT_EQ(store.error(), "");
    const QString home = store.dir().path();
    const QString db = QString::fromStdString(store.db());
    Outcome r = admin({"create-demo", "--db", db}, home);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    {
        Database demo(store.db());
        EXPECT_EQ(number(demo, "SELECT COUNT(*) FROM book_sets"), 4);
        EXPECT_GT(number(demo, "SELECT COUNT(*) FROM CaCollateGlide"), 0);
        // A settlement mode is stored under its code: the grid shows the stored
        // code, the entry dialog the code, and they agree.
        EXPECT_EQ(number(demo,
                         "SELECT COUNT(*) FROM base_info WHERE kind = 'PAY_MODE' "
                         "AND in_code <> code"),
                  0);
    }
    EXPECT_NE(r.out.find("出纳示例对账单"), std::string::npos) << r.out;
    EXPECT_EQ(QDir(home + "/Documents/出纳示例对账单").entryList(QDir::Files).size(), 2);
    Outcome again = admin({"create-demo", "--db", db}, home);
    EXPECT_EQ(again.exitCode, 1) << again.out;
    Database demo(store.db());
    EXPECT_EQ(number(demo, "SELECT COUNT(*) FROM book_sets"), 4);
}

// A server database backed up into a file while it is in use, changed, then
// restored from the file: every table as it was at the backup, the changed
// tables kept in a schema with a dated name, new rows numbered past the old
// ids; a restore while another program is connected is refused and changes
// nothing.
TEST(AdminServerBackup, BacksUpAndRestoresKeepingTheReplacedTables) {
    testutil::TestStore store("postgresql");
    if (!store.skip().empty()) GTEST_SKIP() << store.skip();
    ASSERT_EQ(store.error(), "");
    const QString db = QString::fromStdString(store.db());
    ASSERT_TRUE(admin({"create-demo", "--db", db}, store.dir().path()).exitCode == 0);
    const QString file = store.dir().filePath("server.ledger-backup.db");
    const char* checks[] = {"SELECT COUNT(*) FROM CaCollateGlide",
                            "SELECT SUM(deb_cents) - 2 * SUM(cre_cents) FROM CaGlide",
                            "SELECT COUNT(*) FROM reconcile_opening_items",
                            "SELECT COUNT(*) FROM vouchers", "SELECT MAX(id) FROM CaCollateGlide"};
    std::vector<std::int64_t> before;
    {
        Database server(store.db());
        for (const char* sql : checks) before.push_back(number(server, sql));
        // Another program's connection does not hold up a backup.
        Outcome r = admin({"backup", "--db", db, "--to", file, "--user", "admin"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("完整性检查通过"), std::string::npos) << r.out;
        // ... but a restore is refused while it is connected.
        Outcome refused = admin({"restore", "--from", file, "--db", db, "--user", "admin"});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_NE(refused.err.find("正被其他程序连接"), std::string::npos) << refused.err;
        EXPECT_EQ(number(server,
                         "SELECT COUNT(*) FROM pg_namespace WHERE nspname LIKE 'ledger_restore_%'"),
                  0);
        server.exec("DELETE FROM CaCollateGlide WHERE id > 3; UPDATE CaGlide SET deb_cents = 1");
    }
    // The backup is a ledger file of its own, checked as a file backup is.
    {
        Database copy(file.toStdString());
        for (std::size_t i = 0; i < std::size(checks); ++i)
            EXPECT_EQ(number(copy, checks[i]), before[i]) << checks[i];
    }
    // Over an existing file: refused.
    EXPECT_EQ(admin({"backup", "--db", db, "--to", file, "--user", "admin"}).exitCode, 1);
    // A damaged backup: its pages fail the integrity check, the only guard a
    // server restore has before it fills a new schema; nothing changes.
    {
        const QString damaged = store.dir().filePath("damaged.ledger-backup.db");
        ASSERT_TRUE(QFile::copy(file, damaged));
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        for (qint64 at = 8192; at + 4096 < f.size(); at += 12288) {
            f.seek(at);
            f.write(QByteArray(4096, '\x5a'));
        }
        f.close();
        Outcome refused = admin({"restore", "--from", damaged, "--db", db, "--user", "admin"});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_NE(refused.err.find("已损坏"), std::string::npos) << refused.err;
        Database server(store.db());
        EXPECT_EQ(number(server,
                         "SELECT COUNT(*) FROM pg_namespace WHERE nspname LIKE 'ledger_restore_%' "
                         "OR nspname LIKE 'public_replaced_%'"),
                  0);
        EXPECT_EQ(number(server, "SELECT COUNT(*) FROM CaCollateGlide WHERE id > 3"), 0);
    }

    Outcome r = admin({"restore", "--from", file, "--db", db, "--user", "admin"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    Database server(store.db());
    for (std::size_t i = 0; i < std::size(checks); ++i)
        EXPECT_EQ(number(server, checks[i]), before[i]) << checks[i];
    Stmt kept =
        server.prepare("SELECT nspname FROM pg_namespace WHERE nspname LIKE 'public_replaced_%'");
    ASSERT_TRUE(kept.step()) << r.out;
    EXPECT_EQ(number(server, "SELECT COUNT(*) FROM " + kept.text(0) + ".CaCollateGlide"), 3);
    EXPECT_NE(r.out.find(kept.text(0)), std::string::npos) << r.out;
    // New rows are numbered past every id the backup held.
    HostSession session(store.db(), "001", "admin");
    TCaGlide row(kStatementTable);
    row.SetCode = "001";
    row.AS_Code = "100201";
    row.CreateDate = session.dbManage().GetDBTime().date().toString("yyyy-MM-dd").toStdString();
    row.DebMoney = 1;
    row.OperFlag = "0";
    ASSERT_TRUE(row.Insert(true)) << row.ErrorText;
    EXPECT_GT(row.Id, before[4]);
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminCreateDemo, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
