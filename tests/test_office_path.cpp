// A real office from an empty database, as a new user would go, through the
// programs: a book set with a bank and a cash account, two users with
// different book sets, settlement methods; the openings, confirmed; an ICBC
// statement and a wizard file imported; reconciled; carried forward into the
// next year; a January row, and a January statement line paying a December
// cheque matched in January. Every balance is checked against a hand
// computation. On SQLite and, with LEDGER_TEST_PG, on the server.

#include <gtest/gtest.h>

#include <QDate>
#include <QFile>
#include <QProcess>

#include "Codec.h"
#include "Glide.h"
#include "Programs.h"
#include "Session.h"
#include "Store.h"
#include "TestStores.h"

using namespace ledgerhost;

namespace {

class OfficePath : public ::testing::TestWithParam<const char*> {
  protected:
    testutil::Outcome run(const QString& program, const QStringList& args) {
        QProcess p;
        p.setProgram(testutil::programPath(program));
        p.setArguments(testutil::withPassword(args));
        p.start();
        return testutil::finishProgram(p, 120000);
    }
    // chuna-admin as the administrator "boss"; must succeed.
    void admin(QStringList args) {
        const QString what = args.join(' ');
        args << "--db" << db << "--user"
             << "boss";
        const testutil::Outcome r = run("chuna-admin", args);
        EXPECT_EQ(r.exitCode, 0) << what.toStdString() << "\n" << r.err.toStdString();
    }
    QString write(const QString& name, const std::string& bytes) {
        const QString path = store->dir().filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path;
    }
    // An ICBC statement of the bank account: "date^cheque-summary^credit^debit^balance" lines.
    QString icbc(const QString& name, const std::vector<std::string>& lines) {
        std::string text =
            "账号:6222000011112222\r\n户名:华南贸易有限公司\r\n币种:人民币\r\n起止日期:\r\n"
            "凭证号^交易日期^交易时间^对方账号^对方户名^交易类型^币种^摘要^贷方^借方^余额\r\n";
        int n = 0;
        for (const std::string& l : lines) {
            const auto at = l.find('^');
            text += std::to_string(++n) + "^" + l.substr(0, at) + "^t^a^n^k^c^" + l.substr(at + 1) +
                    "\r\n";
        }
        return write(name, utf8ToGbk(text));
    }
    // The journal of an account over a range: each line's summary and balance.
    std::vector<std::pair<std::string, std::int64_t>> journal(const char* table,
                                                              const std::string& as,
                                                              const std::string& from,
                                                              const std::string& to) {
        TCaGlideMng mng(table);
        mng.CaGlideQry()->SetCode = "101";
        mng.CaGlideQry()->AS_Code = as;
        mng.CaGlideQry()->BCreateDate = from;
        mng.CaGlideQry()->ECreateDate = to;
        mng.Load();
        std::vector<std::pair<std::string, std::int64_t>> out;
        for (int i = 0; i < mng.GetCount(); ++i)
            out.emplace_back(mng.GetDetails(i)->Summary, toCents(mng.GetDetails(i)->Balance));
        return out;
    }

    std::optional<testutil::TestStore> store;
    QString db;
};

TEST_P(OfficePath, ANewOfficeKeepsItsBooksIntoTheNextYear) {
    store.emplace(GetParam());
    if (!store->skip().empty()) GTEST_SKIP() << store->skip();
    ASSERT_EQ(store->error(), "");
    db = QString::fromStdString(store->db());
    // Last year is the one the office starts in, so that it can be carried
    // forward today.
    const int thisYear = QDate::currentDate().year(), lastYear = thisYear - 1;
    const QString y = QString::number(lastYear), n = QString::number(thisYear);
    const std::string ys = y.toStdString(), ns = n.toStdString();

    // The store, the company and its administrator, whole.
    testutil::Outcome made =
        run("chuna-admin", {"create", "--db", db, "--book", "101", "--name", "华南贸易有限公司",
                            "--year", y, "--admin", "boss", "--admin-name", "王经理"});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    admin({"book-set", "add", "--book", "102", "--name", "华南贸易分公司", "--year", y});
    admin({"account", "add", "--book", "101", "--code", "100201", "--name", "工行基本户", "--kind",
           "bank", "--number", "6222000011112222", "--bank", "中国工商银行"});
    admin({"account", "add", "--book", "101", "--code", "1001", "--name", "库存现金", "--kind",
           "cash"});
    admin({"user", "add", "--code", "li", "--name", "李出纳", "--books", "101"});
    admin({"user", "add", "--code", "zhao", "--name", "赵会计", "--books", "102"});
    // li's initial password only serves to choose li's own.
    const QString initial = testutil::passwordFile("chuna-first");
    admin({"user", "reset-password", "--code", "li", "--new-password-file", initial});
    EXPECT_EQ(run("chuna-import", {"icbc", "none.txt", "--db", db, "--book", "101", "--user", "li",
                                   "--password-file", initial})
                  .exitCode,
              1);
    testutil::Outcome changed =
        run("chuna-admin", {"password", "--db", db, "--user", "li", "--password-file", initial,
                            "--new-password-file", testutil::passwordFile()});
    ASSERT_EQ(changed.exitCode, 0) << changed.err.toStdString();
    admin({"base", "add", "--kind", "PAY_MODE", "--code", "01", "--name", "现金"});
    admin({"base", "add", "--kind", "PAY_MODE", "--code", "02", "--name", "转账支票"});
    // Openings: the journal 50,000.00; the bank 51,000.00, having credited
    // 1,000.00 interest the journal books in January.
    admin({"opening", "set", "--book", "101", "--code", "100201", "--journal", "50,000.00",
           "--bank", "51,000.00"});
    admin({"opening", "item-add", "--book", "101", "--code", "100201", "--kind", "3", "--date",
           QString::number(lastYear - 1) + "-12-30", "--amount", "1,000.00", "--summary",
           "利息收入"});
    admin({"opening", "set", "--book", "101", "--code", "1001", "--journal", "2,000.00"});
    admin({"init", "confirm", "--book", "101"});

    // The bank's December: 51,000.00 + 20,000.00 - 8,000.00 - 50.00.
    const QString december = icbc("dec.txt", {ys + "-12-03^收到货款^20,000.00^^71,000.00",
                                              ys + "-12-10^Z001-支付货款^^8,000.00^63,000.00",
                                              ys + "-12-20^-银行手续费^^50.00^62,950.00"});
    testutil::Outcome imported =
        run("chuna-import", {"icbc", december, "--db", db, "--book", "101", "--user", "li"});
    ASSERT_EQ(imported.exitCode, 0) << imported.out.toStdString() << imported.err.toStdString();
    // zhao works in 102 only.
    EXPECT_EQ(run("chuna-import", {"icbc", december, "--db", db, "--book", "101", "--user", "zhao"})
                  .exitCode,
              1);
    // The bank journal from a wizard file: 50,000.00 + 1,000.00 (the interest
    // the bank had credited before the books began) + 20,000.00 - 8,000.00 -
    // 3,000.00 (cheque Z002, not yet at the bank).
    const QString book = write(
        "bank.csv", "日期,摘要,收入,支出,支票号\n" + ys + "-01-05,利息收入,1000.00,,\n" + ys +
                        "-12-02,收到货款,20000.00,,\n" + ys + "-12-08,支付货款,,8000.00,Z001\n" +
                        ys + "-12-28,支付材料款,,3000.00,Z002\n");
    imported = run("chuna-import", {"table", book, "--db", db, "--book", "101", "--user", "li",
                                    "--journal", "bank", "--account", "6222000011112222", "--map",
                                    "借方金额=收入", "--map", "贷方金额=支出"});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains("共导入 4 行")) << imported.out.toStdString();

    // The year reconciled: the interest with its opening item and the
    // receipt by date, Z001 by number; outstanding the fee (bank only) and
    // Z002 (journal only).
    testutil::Outcome rec =
        run("chuna-reconcile", {"--db", db, "--book", "101", "--user", "li", "--account",
                                "6222000011112222", "--until", y + "-12-31", "--auto"});
    EXPECT_EQ(rec.exitCode, 0) << rec.out.toStdString() << rec.err.toStdString();
    EXPECT_TRUE(rec.err.contains("配对 3 对（按票据号 1 对，按日期 2 对）"))
        << rec.err.toStdString();
    for (const char* line : {"银行日记账余额  60,000.00", "银行对账单余额  62,950.00",
                             "调节后余额  59,950.00", "两边调节后余额相符"})
        EXPECT_TRUE(rec.out.contains(QString::fromUtf8(line))) << line << rec.out.toStdString();

    // Carried forward: the closing balances on both sides.
    testutil::Outcome carried =
        run("chuna-admin", {"carry-forward", "--book", "101", "--db", db, "--user", "boss"});
    ASSERT_EQ(carried.exitCode, 0) << carried.err.toStdString();
    EXPECT_TRUE(carried.out.contains(QStringLiteral("1001\t库存现金\t日记账 2,000.00\n")))
        << carried.out.toStdString();
    EXPECT_TRUE(carried.out.contains(
        QStringLiteral("100201\t工行基本户\t日记账 60,000.00\t银行对账单 62,950.00\n")));

    // January: a receipt booked in the new year.
    {
        HostSession session(store->db(), "101", "li");
        TCaGlide row(kCashJournalTable);
        row.AS_Code = "100201";
        row.CreateDate = ns + "-01-07";
        row.DebMoney = 5000;
        row.Summary = "收到货款";
        row.OperFlag = "0";
        ASSERT_TRUE(row.Insert(true)) << row.ErrorText;
    }
    // The bank pays the December cheque and credits the receipt in January.
    const QString january = icbc("jan.txt", {ns + "-01-04^Z002-支付材料款^^3,000.00^59,950.00",
                                             ns + "-01-08^收到货款^5,000.00^^64,950.00"});
    imported = run("chuna-import", {"icbc", january, "--db", db, "--book", "101", "--user", "li"});
    ASSERT_EQ(imported.exitCode, 0) << imported.out.toStdString() << imported.err.toStdString();
    rec = run("chuna-reconcile", {"--db", db, "--book", "101", "--user", "li", "--account",
                                  "6222000011112222", "--until", n + "-01-31", "--auto"});
    EXPECT_EQ(rec.exitCode, 0) << rec.out.toStdString() << rec.err.toStdString();
    EXPECT_TRUE(rec.err.contains("配对 2 对（按票据号 1 对，按日期 1 对）"))
        << rec.err.toStdString();
    // 60,000.00 + 5,000.00 and 62,950.00 - 3,000.00 + 5,000.00; the December
    // fee is still outstanding.
    for (const char* line : {"银行日记账余额  65,000.00", "银行对账单余额  64,950.00",
                             "调节后余额  64,950.00", "两边调节后余额相符"})
        EXPECT_TRUE(rec.out.contains(QString::fromUtf8(line))) << line << rec.out.toStdString();

    HostSession session(store->db(), "101", "li");
    {
        // The December cheque is in the group of the January statement line.
        Stmt s = session.dbManage().Db().prepare(
            "SELECT j.create_date, s.create_date FROM CaGlide j JOIN CaCollateGlide s ON "
            "s.reconcile_group = j.reconcile_group WHERE j.pay_code = 'Z002'");
        ASSERT_TRUE(s.step());
        EXPECT_EQ(s.text(0), ys + "-12-28");
        EXPECT_EQ(s.text(1), ns + "-01-04");
    }
    // The journals: last year's range as before, the new year opening where
    // the old one closed, and one balance running across both.
    using Lines = std::vector<std::pair<std::string, std::int64_t>>;
    EXPECT_EQ(journal(kCashJournalTable, "100201", ns + "-01-01", ns + "-12-31"),
              (Lines{{kYearOpening, 6000000},
                     {"收到货款", 6500000},
                     {kMonthTotal, 6500000},
                     {kYearTotal, 6500000}}));
    EXPECT_EQ(journal(kCashJournalTable, "100201", ys + "-12-01", ys + "-12-31").back(),
              (std::pair<std::string, std::int64_t>{kYearTotal, 6000000}));
    const Lines both = journal(kCashJournalTable, "100201", ys + "-01-01", ns + "-12-31");
    ASSERT_EQ(both.size(), 12u);
    EXPECT_EQ(both.front(), (std::pair<std::string, std::int64_t>{kYearOpening, 5000000}));
    EXPECT_EQ(both[6].second, 6000000);  // after the last row of December
    EXPECT_EQ(both.back(), (std::pair<std::string, std::int64_t>{kYearTotal, 6500000}));
    EXPECT_EQ(journal(kStatementTable, "100201", ns + "-01-01", ns + "-12-31").front(),
              (std::pair<std::string, std::int64_t>{kYearOpening, 6295000}));
    EXPECT_EQ(journal(kStatementTable, "100201", ns + "-01-01", ns + "-12-31").back().second,
              6495000);
    EXPECT_EQ(journal(kCashJournalTable, "1001", ns + "-01-01", ns + "-12-31").front().second,
              200000);
}

INSTANTIATE_TEST_SUITE_P(Engines, OfficePath, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
