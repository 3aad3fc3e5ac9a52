// Roles on a database server: an owner, a cashier and a reader given their
// rights with `chuna-admin grant` work every path of theirs through the
// programs, a missing right is named as one, a restore by the owner keeps
// every role working, and a role whose own schema comes first in its search
// path finds the ledger behind it.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>

#include "Programs.h"
#include "TestStores.h"

namespace {

using testutil::Outcome;

// Roles belong to the whole server: made for this test and dropped after it
// (after the test's database, which holds what they own).
struct Roles {
    std::string server;
    std::vector<std::string> names;
    void exec(const std::string& location, const std::string& sql) const {
        PGconn* c = PQconnectdb(location.c_str());
        PQsetNoticeProcessor(
            c, [](void*, const char*) {}, nullptr);
        PGresult* r = PQexec(c, sql.c_str());
        EXPECT_TRUE(PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK)
            << sql << ": " << PQresultErrorMessage(r);
        PQclear(r);
        PQfinish(c);
    }
    ~Roles() {
        for (const std::string& n : names) exec(server, "DROP ROLE IF EXISTS " + n);
    }
};

// The URI as another role (libpq's user parameter).
std::string as(const std::string& uri, const std::string& role) {
    std::string out = uri;
    const auto p = out.find("user=");
    if (p != std::string::npos)
        out.erase(p, out.find('&', p) == std::string::npos ? std::string::npos
                                                           : out.find('&', p) + 1 - p);
    while (!out.empty() && (out.back() == '&' || out.back() == '?')) out.pop_back();
    return out + (out.find('?') == std::string::npos ? "?" : "&") + "user=" + role;
}

Outcome run(const QString& program, const QStringList& args, const QString& home) {
    QProcess p;
    p.setProgram(testutil::programPath(program));
    p.setArguments(testutil::withPassword(args, QStringLiteral("admin")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_DOCUMENTS_DIR", home + "/Documents");
    p.setProcessEnvironment(env);
    p.start();
    return testutil::finishProgram(p, 120000);
}

TEST(ServerRoles, EachRoleWorksItsPathsAndARestoreKeepsThem) {
    const char* server = std::getenv("LEDGER_TEST_PG");
    Roles roles;
    if (server) roles.server = server;
    testutil::TestStore store("postgresql");
    if (!store.skip().empty()) GTEST_SKIP() << store.skip();
    ASSERT_EQ(store.error(), "");
    const std::string tag = std::to_string(::getpid());
    const std::string owner = "led_owner_" + tag, cashier = "led_cashier_" + tag,
                      reader = "led_reader_" + tag, own = "led_own_" + tag;
    roles.names = {own, reader, cashier, owner};
    const std::string database = store.db()
                                     .substr(0, store.db().find('?'))
                                     .substr(store.db().rfind('/', store.db().find('?')) + 1);
    for (const std::string& r : roles.names) roles.exec(server, "CREATE ROLE " + r + " LOGIN");
    // The owner owns the database and the ledger's schema in it; each role
    // finds the ledger along its path.
    roles.exec(server, "ALTER DATABASE " + database + " OWNER TO " + owner);
    roles.exec(store.db(), "CREATE SCHEMA books AUTHORIZATION " + owner);
    for (const std::string& r : {owner, cashier, reader})
        roles.exec(server,
                   "ALTER ROLE " + r + " IN DATABASE " + database + " SET search_path = books");
    const QString home = store.dir().path();
    QDir().mkpath(home + "/Documents");
    auto db = [&](const std::string& role) { return QString::fromStdString(as(store.db(), role)); };

    Outcome r = run("chuna-admin", {"create-demo", "--db", db(owner)}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const auto& [role, kind] : {std::pair{cashier, "cashier"}, {reader, "reader"}}) {
        r = run("chuna-admin",
                {"grant", "--db", db(owner), "--role", QString::fromStdString(role), "--as", kind},
                home);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    const QString statement = QDir(home + "/Documents/出纳示例对账单")
                                  .entryInfoList({"工行对账单-*.txt"})
                                  .front()
                                  .filePath();
    auto import = [&](const std::string& role, const QString& file) {
        return run("chuna-import",
                   {"icbc", file, "--db", db(role), "--book", "001", "--user", "admin", "--again"},
                   home);
    };
    auto reconcile = [&](const std::string& role, bool automatic) {
        QStringList args = {"--db",   db(role), "--book",    "001",
                            "--user", "admin",  "--account", "100201"};
        if (automatic) args << "--auto";
        return run("chuna-reconcile", args, home);
    };
    // The cashier imports, reconciles and backs up.
    r = import(cashier, statement);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QString imported =
        QDir(home + "/Documents/出纳示例对账单").entryInfoList({"*已导入*.txt"}).front().filePath();
    EXPECT_LE(reconcile(cashier, true).exitCode, 1);
    const QString backup = home + "/server.ledger-backup.db";
    r = run("chuna-admin", {"backup", "--db", db(cashier), "--to", backup}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // The reader queries and is refused an import, with the right named.
    EXPECT_LE(reconcile(reader, false).exitCode, 1);
    r = import(reader, imported);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("没有写入数据表") || r.out.contains("没有写入数据表"))
        << r.out.toStdString() << r.err.toStdString();
    // A restore by the owner keeps both roles working.
    r = run("chuna-admin", {"restore", "--from", backup, "--db", db(owner)}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(import(cashier, imported).exitCode, 0);
    EXPECT_LE(reconcile(reader, false).exitCode, 1);

    // An older ledger: only its owner may upgrade it, and what the upgrade
    // adds reaches the other roles through the owner's default privileges.
    roles.exec(store.db(),
               "DROP TABLE books.reconcile_runs; "
               "UPDATE books.ledger_meta SET value = '4' WHERE key = 'schema_version'");
    r = reconcile(cashier, true);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("只有它的所有者 " + QString::fromStdString(owner) + " 能升级"))
        << r.err.toStdString();
    ASSERT_EQ(run("chuna-admin", {"upgrade", "--db", db(owner)}, home).exitCode, 0);
    EXPECT_LE(reconcile(cashier, true).exitCode, 1);

    // A role with a schema of its own first in its path opens the ledger
    // behind it, and is not offered a new one there.
    roles.exec(store.db(), "CREATE SCHEMA " + own + " AUTHORIZATION " + own);
    roles.exec(server, "ALTER ROLE " + own + " IN DATABASE " + database +
                           " SET search_path = \"$user\", books");
    ASSERT_EQ(
        run("chuna-admin",
            {"grant", "--db", db(owner), "--role", QString::fromStdString(own), "--as", "reader"},
            home)
            .exitCode,
        0);
    EXPECT_LE(reconcile(own, false).exitCode, 1);
    r = run("chuna-admin", {"create-demo", "--db", db(own)}, home);
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
}

}  // namespace
