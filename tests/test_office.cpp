// The lists of a real office and the year: every refusal has its message and
// changes nothing; the balances recorded when a year is carried forward are
// the journal load's, and a query across the two years runs on.
#include <gtest/gtest.h>

#include <QFile>
#include <functional>
#include <tuple>

#include "Accounts.h"
#include "BaseData.h"
#include "BookSets.h"
#include "CarryForward.h"
#include "CashierInit.h"
#include "Fixture.h"
#include "Glide.h"
#include "ListImport.h"
#include "Reconcile.h"
#include "Users.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

class OfficeTest : public BookTest {
  protected:
    // Everything the lists and the year keep, as text: a refusal must leave
    // it as it was.
    std::string snapshot() {
        static const char* const queries[] = {
            "SELECT code || '|' || name || '|' || year || '|' || start_month || '|' || closed || "
            "'|' || init_confirmed || '|' || entry_locked || '|' || manage_set_code || '|' || "
            "manage_flag FROM book_sets ORDER BY code",
            "SELECT code || '|' || name || '|' || is_admin FROM users ORDER BY code",
            "SELECT user_code || '|' || set_code || '|' || position FROM user_book_sets "
            "ORDER BY user_code, set_code",
            "SELECT set_code || '|' || as_code || '|' || account_no || '|' || name || '|' || kind "
            "|| '|' || state || '|' || opening_cents || '|' || bank_name FROM bank_accounts "
            "ORDER BY set_code, as_code",
            "SELECT kind || '|' || in_code || '|' || code || '|' || name FROM base_info "
            "ORDER BY kind, in_code",
            "SELECT code || '|' || text FROM summaries ORDER BY code",
            "SELECT set_code || '|' || id || '|' || name FROM voucher_types ORDER BY set_code, id",
            "SELECT set_code || '|' || as_code || '|' || bank_opening_cents FROM "
            "reconcile_openings ORDER BY set_code, as_code",
            "SELECT id || '|' || kind || '|' || item_date || '|' || cents FROM "
            "reconcile_opening_items ORDER BY id",
            "SELECT set_code || '|' || year FROM closed_years ORDER BY set_code, year",
            "SELECT set_code || '|' || as_code || '|' || journal_cents FROM closing_balances "
            "ORDER BY set_code, as_code",
            "SELECT id || '|' || create_date || '|' || deb_cents || '|' || cre_cents FROM CaGlide "
            "ORDER BY id",
            "SELECT id || '|' || create_date || '|' || deb_cents || '|' || cre_cents FROM "
            "CaCollateGlide ORDER BY id",
        };
        std::string out;
        for (const char* q : queries) {
            Stmt s = db().prepare(q);
            while (s.step()) out += s.text(0) + "\n";
            out += "--\n";
        }
        return out;
    }
    TCaGlide row(const std::string& table, const std::string& date, double debit) {
        TCaGlide r(table);
        r.SetCode = "001";
        r.AS_Code = "1001";
        r.CreateDate = date;
        r.DebMoney = debit;
        r.Summary = "测试";
        return r;
    }
    void store(TCaGlide& r) {
        if (!r.Insert(true)) throw StoreError(r.ErrorText);
    }
};

// Every refusal, in an order in which the earlier ones' set-up does not
// disturb the later ones: the Chinese message, and nothing changed.
TEST_F(OfficeTest, EveryRefusalSaysWhyAndChangesNothing) {
    Database& d = db();
    std::int64_t stored = 0;  // a row of 2024 in book set 001
    const std::string csv = dir.filePath("units.csv").toStdString();
    struct Case {
        const char* what;
        std::function<void()> setUp;
        std::function<void()> act;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"a user without the administrator right",
         {},
         [&] {
             addAccount(d, "u2", {"001", "1004", "新户", kBankKind, "6222004"});
         },
         "用户 u2 没有系统管理权限。"},
        {"a book set's code twice",
         {},
         [&] {
             addBookSet(d, "u1", {"002", "又一个", 2024});
         },
         "账套编码 002 已经存在。"},
        {"an account's code twice",
         {},
         [&] {
             addAccount(d, "u1", {"001", "1003", "重复", kBankKind, "6222999"});
         },
         "账套 001 已有编码为 1003 的账户。"},
        {"an account number twice in one book set",
         {},
         [&] {
             addAccount(d, "u1", {"001", "1004", "新户", kBankKind, "6222001"});
         },
         "账号 6222001 已由本账套的账户 1001 使用。"},
        {"a bank account without its number",
         {},
         [&] {
             addAccount(d, "u1", {"001", "1004", "新户", kBankKind, ""});
         },
         "银行账户 1004 必须有账号。"},
        {"a settlement method's code twice",
         {},
         [&] {
             addBaseItem(d, "u1", kPayMode, {{}, "02", "转账"});
         },
         "结算方式编码 02 已经存在（支票）。"},
        {"a user's code twice",
         {},
         [&] {
             addUser(d, "u1", {"u2", "王五", false, {"001"}});
         },
         "用户编码 u2 已经存在。"},
        {"the last administrator's right taken away",
         {},
         [&] {
             editUser(d, "u1", {"u1", "张三", false, {}});
         },
         "用户 u1 是唯一的系统管理员，不能取消其系统管理权限。"},
        {"a used settlement method deleted",
         [&] {
             stored = addRow(d, kCashJournalTable, "001", "1001", "2024-03-01", 10, 0);
             d.exec("UPDATE CaGlide SET pm_code = 'PM1'");
         },
         [&] { deleteBaseItem(d, "u1", kPayMode, "01"); },
         "结算方式 01 现金 已被记录使用，不能删除（可以改名）。"},
        {"an account with rows deleted",
         {},
         [&] { deleteAccount(d, "u1", "001", "1001"); },
         "账户 1001 已有记录，不能删除，只能停用。"},
        {"a book set with rows deleted",
         {},
         [&] { deleteBookSet(d, "u1", "001"); },
         "账套 001 已有记录，不能删除，只能关闭。"},
        {"the year changed once confirmed",
         {},
         [&] {
             editBookSet(d, "u1", {"001", "总公司", 2023, 1});
         },
         "账套 001 已完成出纳初始化，不能修改会计年度和启用期间。"},
        {"confirming twice",
         {},
         [&] { confirmInitialisation(d, "u1", "001"); },
         "账套 001 的出纳初始化已经完成，不能重复完成。"},
        {"an opening changed once confirmed",
         {},
         [&] { setJournalOpening(d, "u1", "001", "1001", 5); },
         "账套 001 已完成出纳初始化，期初数据不能修改；要修改请先取消初始化。"},
        {"cancelling the initialisation with rows",
         {},
         [&] { cancelInitialisation(d, "u1", "001"); },
         "账套 001 已有日记账或对账单记录，不能取消初始化。"},
        {"an opening item of a kind that is none",
         [&] { d.exec("UPDATE book_sets SET init_confirmed = 0 WHERE code = '002'"); },
         [&] {
             addOpeningItem(d, "u1", "002", "2001", {0, 5, "2023-12-31", "", "", 100});
         },
         "期初未达账项的类别不对。"},
        {"an opening item without an amount",
         {},
         [&] {
             addOpeningItem(d, "u1", "002", "2001", {0, 1, "2023-12-31", "", "", 0});
         },
         "期初未达账项的金额必须大于零。"},
        {"an opening item dated after the books began",
         {},
         [&] {
             addOpeningItem(d, "u1", "002", "2001", {0, 1, "2024-01-01", "", "", 100});
         },
         "期初未达账项的日期 2024-01-01 应早于账套的启用日期 2024-01-01。"},
        {"a list file with a bad row",
         [&] {
             QFile f(QString::fromStdString(csv));
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write("编码,名称\nC07,丙公司\nC01,又一个甲公司\n");
         },
         [&] {
             TListConvert c(d, "u1", kCurrents, "");
             c.SetFileName(csv);
             c.ImportData();
         },
         "第 3 行：对方单位编码 C01 已经存在（甲公司）。没有导入任何记录。"},
        {"a locked book set carried forward",
         [&] {
             d.exec("UPDATE book_sets SET entry_locked = 1, init_confirmed = 1 WHERE code = '002'");
         },
         [&] { carryForward(d, "u1", "002", "2025-01-05"); }, "账套 002 已锁定，不能结转下年。"},
        {"a year carried forward before it ended",
         {},
         [&] { carryForward(d, "u1", "001", "2024-12-31"); },
         "账套 001 的 2024 年度尚未结束（今天是 2024-12-31），不能结转下年。"},
        {"carrying forward by a user without the right",
         {},
         [&] { carryForward(d, "u2", "001", "2025-01-05"); },
         "用户 u2 没有系统管理权限。"},
        {"carrying forward twice", [&] { carryForward(d, "u1", "001", "2025-01-05"); },
         [&] { carryForward(d, "u1", "001", "2025-01-06"); },
         "账套 001 已结转到 2025 年度，2025 年度尚未结束（今天是 2025-01-06），不能再结转。"},
        {"a row added in a closed year",
         {},
         [&] {
             TCaGlide r = row(kStatementTable, "2024-12-31", 5);
             store(r);
         },
         "日期 2024-12-31 所在的 2024 年度已经结转，不能录入、修改或删除该年度的记录。"},
        {"a row of a closed year moved into the open year",
         {},
         [&] {
             TCaGlide r = row(kCashJournalTable, "2025-01-03", 10);
             r.Id = stored;
             if (!r.Update(true)) throw StoreError(r.ErrorText);
         },
         "日期 2024-03-01 所在的 2024 年度已经结转，不能录入、修改或删除该年度的记录。"},
        {"a row of a closed year deleted",
         {},
         [&] {
             TCaGlide r = row(kCashJournalTable, "2024-03-01", 10);
             r.Id = stored;
             if (!r.Delete(true)) throw StoreError(r.ErrorText);
         },
         "日期 2024-03-01 所在的 2024 年度已经结转，不能录入、修改或删除该年度的记录。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.setUp) c.setUp();
        const std::string before = snapshot();
        try {
            c.act();
            ADD_FAILURE() << "not refused";
        } catch (const UserError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(snapshot(), before);
    }
    // The year carried forward: its dates are refused, the new year's taken.
    TCaGlide next = row(kCashJournalTable, "2025-01-03", 10);
    EXPECT_TRUE(next.Insert(true)) << next.ErrorText;
}

// What a carry forward records is what the journal load shows at the year's
// end, on both sides of a bank account and for the cash account; the next
// year opens with it, and a range over both years runs on from one balance.
TEST_F(OfficeTest, ClosingBalancesAreTheLoadsAndTheNextYearOpensWithThem) {
    Database& d = db();
    // 1001 opens at 1,000.00 on the journal's side; the bank's own opening
    // is 1,100.00 (a receipt of 100.00 the bank had and the journal not yet).
    d.exec(
        "UPDATE book_sets SET init_confirmed = 0 WHERE code = '001';"
        "DELETE FROM reconcile_openings");
    setBankOpening(d, "u1", "001", "1001", 110000);
    addOpeningItem(d, "u1", "001", "1001", {0, kItemBankIn, "2023-12-30", "", "利息", 10000});
    confirmInitialisation(d, "u1", "001");
    const struct {
        const char* table;
        const char* as;
        const char* date;
        double debit, credit;
    } rows[] = {
        {kCashJournalTable, "1001", "2024-02-10", 500, 0},
        {kCashJournalTable, "1001", "2024-12-30", 0, 120.5},
        {kStatementTable, "1001", "2024-02-11", 0, 500},
        {kStatementTable, "1001", "2024-11-20", 33.33, 0},
        {kCashJournalTable, "1010", "2024-06-01", 0, 75},
        {kCashJournalTable, "1010", "2025-01-02", 40, 0},  // an older program's row
    };
    for (const auto& r : rows) addRow(d, r.table, "001", r.as, r.date, r.debit, r.credit, "测试");
    // By hand: 1001 journal 1,000.00 + 500.00 - 120.50; statement (the bank's
    // side, credits in) 1,100.00 + 500.00 - 33.33; cash 500.00 - 75.00.
    const ClosedYear closed = carryForward(d, "u1", "001", "2025-01-01");
    auto recorded = [&](const std::string& as) {
        for (const ClosingBalance& b : closed.Balances)
            if (b.AsCode == as) return b;
        ADD_FAILURE() << "no balance of " << as;
        return ClosingBalance{};
    };
    EXPECT_EQ(recorded("1001").JournalCents, 137950);
    EXPECT_EQ(recorded("1001").BankCents, std::optional<std::int64_t>(156667));
    EXPECT_EQ(recorded("1010").JournalCents, 42500);
    EXPECT_EQ(recorded("1010").BankCents, std::nullopt);
    ASSERT_EQ(closedYears(d, "001").size(), 1u);
    EXPECT_EQ(closedYears(d, "001")[0].Balances.size(), closed.Balances.size());
    session.reset();
    session = std::make_unique<HostSession>(path(), "001", "u1");

    // The load over the closed year ends where the record does; the new
    // year's opening line starts there; over both years one balance runs on.
    auto load = [&](const char* table, const char* as, const char* from, const char* to) {
        auto mng = std::make_unique<TCaGlideMng>(table);
        mng->CaGlideQry()->SetCode = "001";
        mng->CaGlideQry()->AS_Code = as;
        mng->CaGlideQry()->BCreateDate = from;
        mng->CaGlideQry()->ECreateDate = to;
        mng->Load();
        return mng;
    };
    for (const auto& [table, as, cents] : {std::tuple{kCashJournalTable, "1001", 137950},
                                           std::tuple{kStatementTable, "1001", 156667},
                                           std::tuple{kCashJournalTable, "1010", 42500}}) {
        SCOPED_TRACE(std::string(table) + " " + as);
        auto year = load(table, as, "2024-01-01", "2024-12-31");
        EXPECT_EQ(toCents(year->GetDetails(year->GetCount() - 1)->Balance), cents);
        auto next = load(table, as, "2025-01-01", "2025-12-31");
        EXPECT_EQ(next->GetDetails(0)->Summary, kYearOpening);
        EXPECT_EQ(toCents(next->GetDetails(0)->Balance), cents);
    }
    auto both = load(kCashJournalTable, "1010", "2024-01-01", "2025-12-31");
    std::vector<std::pair<std::string, std::int64_t>> lines;
    for (int i = 0; i < both->GetCount(); ++i)
        lines.emplace_back(both->GetDetails(i)->Summary, toCents(both->GetDetails(i)->Balance));
    const std::vector<std::pair<std::string, std::int64_t>> expected = {
        {kYearOpening, 50000}, {"测试", 42500},      {kMonthTotal, 42500}, {kYearTotal, 42500},
        {"测试", 46500},       {kMonthTotal, 46500}, {kYearTotal, 46500}};
    EXPECT_EQ(lines, expected);
    // 本年累计 starts again with the new year.
    EXPECT_EQ(both->GetDetails(6)->DebMoney, 40);
    EXPECT_EQ(both->GetDetails(6)->CreMoney, 0);
}

// Rows of a year carried forward that are still unreconciled take part in
// every later range; a reconciled one shows only beside a row of the range
// it was matched with.
TEST_F(OfficeTest, RowsOfAClosedYearStayReconcilableInLaterRanges) {
    Database& d = db();
    d.exec("INSERT INTO reconcile_openings VALUES ('001', '1001', 100000)");
    const auto cheque = addRow(d, kCashJournalTable, "001", "1001", "2024-12-28", 0, 300, "支票");
    const auto matched = addRow(d, kCashJournalTable, "001", "1001", "2024-12-10", 0, 40, "手续费");
    addRow(d, kStatementTable, "001", "1001", "2024-12-11", 40, 0, "手续费");
    reconcile::Reconciler rec(d, reconcile::Reconciler::findAccount(d, "001", "1001"), "u1");
    ASSERT_EQ(rec.autoMatch("2024-12-01", "2024-12-31").pairs(), 1);
    carryForward(d, "u1", "001", "2025-01-02");
    const auto paid = addRow(d, kStatementTable, "001", "1001", "2025-01-04", 300, 0, "支票");
    auto ids = [](const std::vector<reconcile::SideRow>& rows) {
        std::vector<std::int64_t> out;
        for (const auto& r : rows) out.push_back(r.ref.id);
        return out;
    };
    using Ids = std::vector<std::int64_t>;
    EXPECT_EQ(ids(rec.journalRows("2025-01-01", "2025-01-31")), Ids{cheque});
    EXPECT_EQ(rec.autoMatch("2025-01-01", "2025-01-31").pairs(), 1);
    EXPECT_EQ(ids(rec.journalRows("2025-01-01", "2025-01-31")), Ids{cheque});
    EXPECT_EQ(ids(rec.statementRows("2025-01-01", "2025-01-31")), Ids{paid});
    EXPECT_TRUE(rec.journalRows("2025-02-01", "2025-02-28").empty());
    // The closed year's own range shows its rows as before.
    EXPECT_EQ(ids(rec.journalRows("2024-12-01", "2024-12-31")), (Ids{matched, cheque}));
    EXPECT_TRUE(rec.report("2025-01-31").balanced());
}

// Whether a row's date and summary may be kept, for a book set in its first
// year (begun in April) and for one in a later year.
TEST(OfficeRows, JournalRowProblemNamesTheRule) {
    TBookSet first;
    first.Year = 2024;
    first.StartMonth = 4;
    TBookSet later = first;
    later.Year = 2025;
    later.StartYear = 2024;
    const std::string before = "日期 2024-03-31 在账套的启用期间 2024 年 4 月之前。";
    const struct {
        const TBookSet& book;
        const char* date;
        const char* summary;
        std::string why;
    } cases[] = {
        {first, "2024-04-01", "收款", ""},
        {first, "2024-12-31", "收款", ""},
        {first, "2024-03-31", "收款", before},
        {first, "2024-0x-01", "收款", "日期 2024-0x-01 在账套的启用期间 2024 年 4 月之前。"},
        {first, "2023-12-31", "收款", "日期 2023-12-31 不在账套的会计年度 2024 年内。"},
        {first, "2024", "收款", ""},
        {first, "2024-05-01", "本月合计", "摘要不能是“本月合计”：这是系统的合计行所用的文字。"},
        {later, "2025-01-01", "收款", ""},  // the start month binds only the first year
        {later, "2024-06-30", "收款",
         "日期 2024-06-30 所在的 2024 年度已经结转，不能录入、修改或删除该年度的记录。"},
        {later, "2026-01-01", "收款", "日期 2026-01-01 不在账套的会计年度 2025 年内。"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(journalRowProblem(c.book, c.date, c.summary), c.why) << c.date;
}

// An amount typed on the command line or read from a list.
TEST(OfficeAmounts, ParseCentsTakesPlainDecimalsOnly) {
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"1234.56", 123456},
        {"1,234.56", 123456},
        {"-5", -500},
        {"0.5", 50},
        {"12,345,678", 1234567800},
        {"1,23", std::nullopt},
        {"1.234", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"1.", std::nullopt},
        {",100", std::nullopt},
        {"1234,567", std::nullopt}};
    for (const auto& [text, cents] : cases) EXPECT_EQ(parseCents(text), cents) << text;
}

}  // namespace
