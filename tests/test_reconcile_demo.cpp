// Bank reconciliation on the demo book set's ICBC account, and the
// command-line tool's output and exit status.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "DemoData.h"
#include "Glide.h"
#include "Programs.h"
#include "Reconcile.h"
#include "Session.h"
#include "Store.h"
#include "untGlideImport.h"

using namespace ledgerhost;
using reconcile::Reconciler;

namespace {

class DemoReconcileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(demo::createDemoDatabase(path(), QDate(2025, 11, 20)));
    }
    std::string path() const { return dir.filePath("demo.db").toStdString(); }
    struct Run {
        int status;
        std::string out, err;
    };
    Run tool(const QStringList& extra) {
        QProcess p;
        p.start(LEDGER_RECONCILE_TOOL, QStringList{"--db", QString::fromStdString(path()), "--book",
                                                   "001", "--user", "admin"} +
                                           testutil::signedIn() + extra);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
    }
    QTemporaryDir dir;
};

TEST_F(DemoReconcileTest, IcbcAccountBalancesBeforeAndAfterMatching) {
    Database db(path());
    Reconciler rec(db, Reconciler::findAccount(db, "001", "6222020200112345678"), "admin");
    const auto before = rec.report("2025-10-31");
    EXPECT_TRUE(before.balanced()) << reconcile::reportText(before);

    const auto result = rec.autoMatch("2025-01-01", "2025-10-31");
    EXPECT_GT(result.byCheque, 5);
    EXPECT_GT(result.byDate, 20);
    // Left: the deposit booked as two receipts, the two rows the bank has not
    // seen, the two the journal has not booked.
    EXPECT_EQ(result.leftJournal, 2 + 2) << result.message();
    EXPECT_EQ(result.leftStatement, 1 + 2) << result.message();

    const auto after = rec.report("2025-10-31");
    EXPECT_TRUE(after.balanced()) << reconcile::reportText(after);
    for (const auto* items : {&after.bankInNotBooked, &after.bankOutNotBooked,
                              &after.bookedInNotBank, &after.bookedOutNotBank})
        EXPECT_FALSE(items->empty()) << reconcile::reportText(after);
    // The opening items were cleared in January.
    const auto january = rec.report("2025-01-31");
    EXPECT_TRUE(january.balanced());
    for (const auto* items : {&january.bankInNotBooked, &january.bankOutNotBooked,
                              &january.bookedInNotBank, &january.bookedOutNotBank})
        for (const auto& i : *items)
            EXPECT_NE(i.ref.source, reconcile::Source::Opening) << i.summary;

    // Reconciled opening items show with January, not with later months.
    auto openings = [&](const std::string& from) {
        int n = 0;
        for (const auto& r : rec.statementRows(from, "2025-10-31"))
            n += r.ref.source == reconcile::Source::Opening;
        for (const auto& r : rec.journalRows(from, "2025-10-31"))
            n += r.ref.source == reconcile::Source::Opening;
        return n;
    };
    Stmt items = db.prepare("SELECT COUNT(*) FROM reconcile_opening_items");
    items.step();
    EXPECT_GE(items.i32(0), 3);
    EXPECT_EQ(openings("2025-01-01"), items.i32(0));
    EXPECT_EQ(openings("2025-10-01"), 0);

    // The deposit and its two receipts, matched by hand.
    std::vector<reconcile::RowRef> receipts, deposit;
    for (const auto& r : rec.journalRows("2025-01-01", "2025-10-31", true))
        if (r.summary == "收到货款（同一张进账单）") receipts.push_back(r.ref);
    ASSERT_EQ(receipts.size(), 2u);
    std::int64_t total = 0;
    for (const auto& r : rec.journalRows("2025-01-01", "2025-10-31", true))
        if (r.summary == "收到货款（同一张进账单）") total += r.net();
    for (const auto& r : rec.statementRows("2025-01-01", "2025-10-31", true))
        if (r.net() == total) deposit.push_back(r.ref);
    ASSERT_EQ(deposit.size(), 1u);
    rec.match(receipts, deposit);
    EXPECT_TRUE(rec.report("2025-10-31").balanced());
}

TEST_F(DemoReconcileTest, CommandLineStatusFollowsTheBalances) {
    Run r = tool({"--account", "6222020200112345678", "--until", "2025-10-31", "--auto"});
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("两边调节后余额相符"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("自动对账完成"), std::string::npos) << r.err;

    r = tool({"--account", "100201", "--until", "2025-10-31", "--csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("项目,日期,统一号,票据号,摘要,金额\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("差额,2025-10-31,,,,0.00"), std::string::npos) << r.out;

    {
        // A statement row changed behind the reconciliation's back.
        Database db(path());
        db.exec(
            "UPDATE CaCollateGlide SET cre_cents = cre_cents + 1 WHERE id = (SELECT min(id) "
            "FROM CaCollateGlide WHERE set_code = '001' AND as_code = '100201' AND "
            "reconciled = 1 AND cre_cents > 0)");
    }
    r = tool({"--account", "6222020200112345678", "--until", "2025-10-31"});
    EXPECT_EQ(r.status, 1) << r.err << r.out;
    EXPECT_NE(r.out.find("相差 -0.01"), std::string::npos) << r.out;

    struct Bad {
        QStringList args;
        const char* message;
    };
    const std::vector<Bad> bad = {
        {{"--account", "999"}, "没有账号或编码为“999”的银行账户"},
        {{"--account", "100201", "--until", "2025-02-30"}, "日期“2025-02-30”不对"},
        {{"--account", "100201", "--days", "x"}, "天数“x”不对"},
        {{"--account", "100201", "--until", "2024-12-31"}, "早于账套的会计年度"},
        {{"--until", "2025-10-31"}, "用法"},
    };
    for (const Bad& b : bad) {
        r = tool(b.args);
        EXPECT_EQ(r.status, 2) << b.message;
        EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
    }
    QProcess p;
    p.start(LEDGER_RECONCILE_TOOL,
            {"--db", dir.filePath("missing.db"), "--book", "001", "--user", "admin", "--account",
             "100201", "--password-file", testutil::passwordFile()});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_FALSE(QFile::exists(dir.filePath("missing.db"))) << "never creates a database";
}

// The sample statements bring the bank's balances: after their import the
// statement's running balance is the bank's on every row, and the statement
// agrees with the bank.
TEST_F(DemoReconcileTest, SampleStatementsKeepTheBanksBalances) {
    const std::vector<std::string> files =
        demo::writeDemoStatements(dir.filePath("statements").toStdString(), QDate(2025, 11, 20));
    ASSERT_EQ(files.size(), 2u);
    {
        HostSession session(path(), "001", "admin");
        TCaGlideMng mng(kStatementTable);
        for (const std::string& file : files) {
            SCOPED_TRACE(file);
            const StatementImportResult r = importStatement(
                file.find(".xls") != std::string::npos ? StatementKind::CCB : StatementKind::ICBC,
                file, &mng);
            EXPECT_TRUE(r.stored) << r.message;
            EXPECT_TRUE(r.balanceWarnings.empty()) << r.message;
        }
        for (const char* account : {"100201", "100202"}) {
            SCOPED_TRACE(account);
            TCaGlideMng load(kStatementTable);
            load.CaGlideQry()->SetCode = "001";
            load.CaGlideQry()->SetASCode(account);
            load.CaGlideQry()->BCreateDate = "2025-01-01";
            load.CaGlideQry()->ECreateDate = "2025-11-30";
            load.SubjectKind = 1;
            load.Load();
            int reported = 0;
            for (int i = 0; i < load.GetCount(); ++i) {
                const TCaGlide* row = load.GetDetails(i);
                if (!row->BankBalanceCents) continue;
                ++reported;
                EXPECT_EQ(toCents(row->Balance), *row->BankBalanceCents)
                    << row->CreateDate << " " << row->Summary;
            }
            EXPECT_GE(reported, 4);
        }
    }
    for (const char* account : {"6222020200112345678", "4367420010203040506"}) {
        const Run r = tool({"--account", account, "--until", "2025-11-30"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("对账单余额与银行所报余额相符"), std::string::npos) << r.out;
    }
}

}  // namespace
