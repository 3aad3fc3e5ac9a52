// Loading a journal: which rows the query conditions show, their order under
// the stored sort keys, and the running balances and summary rows.

#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>
#include <functional>
#include <map>

#include "DayTotals.h"
#include "Fixture.h"
#include "Glide.h"
#include "Sections.h"

using namespace ledgerhost;

namespace {

// A journal row with every column the conditions look at.
struct RowPlan {
    char key;
    const char* set;
    const char* account;
    const char* date;
    int number;
    double deb, cre;
    const char* summary;
    const char* pay;
    const char* pm;
    const char* cr;
    const char* dp;
    const char* user;
    const char* voucherId;
    int voucherClass;
};

std::int64_t put(Database& db, const std::string& table, const RowPlan& r) {
    Stmt s = db.prepare(
        "INSERT INTO " + table +
        " (set_code, as_code, create_date, date_or_no, deb_cents, cre_cents, summary,"
        " pay_code, pm_code, cr_code, dp_code, apply_user, voucher_id, voucher_class,"
        " remark, glide_flag, voucher_no) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) RETURNING id");
    s.bind(1, r.set).bind(2, r.account).bind(3, r.date).bind(4, r.number);
    s.bind(5, toCents(r.deb)).bind(6, toCents(r.cre)).bind(7, r.summary).bind(8, r.pay);
    s.bind(9, r.pm).bind(10, r.cr).bind(11, r.dp).bind(12, r.user).bind(13, r.voucherId);
    s.bind(14, r.voucherClass).bind(15, std::string("备注") + r.key).bind(16, "G");
    s.bind(17, 8.0);
    const std::int64_t id = s.returning();
    DayTotalsChange kept;
    kept.add(r.set, r.account, r.date, toCents(r.deb), toCents(r.cre));
    kept.apply(db, table);
    return id;
}

// The stored rows among the loaded ones (summary rows have no id).
std::vector<TCaGlide*> detailRows(const TCaGlideMng& mng) {
    std::vector<TCaGlide*> out;
    for (int i = 0; i < mng.GetCount(); ++i)
        if (mng.GetDetails(i)->Id != 0) out.push_back(mng.GetDetails(i));
    return out;
}

// ---- conditions ----

// Amounts are debits unless the debit is zero; H is a red-ink (negative) debit.
const RowPlan kRows[] = {
    {'A', "001", "1001", "2024-01-05", 1, 100, 0, "提现", "P1", "PM1", "CR1", "DP1", "u1", "3", 1},
    {'B', "001", "1001", "2024-02-10", 2, 0, 250.5, "收货款", "P2", "PM2", "CR2", "DP2", "u2", "7",
     2},
    {'C', "001", "1003", "2024-02-15", 1, 999.99, 0, "提现", "", "PM1", "CR2", "DP1", "u1", "0", 0},
    {'D', "001", "1010", "2024-03-01", 1, 0, 50, "收货款", "", "", "", "", "u2", "12", 3},
    {'E', "001", "1001", "2024-03-20", 3, 250.5, 0, "其他", "P3", "PM2", "CR1", "DP2", "u1", "9",
     1},
    {'F', "002", "2001", "2024-02-01", 1, 10, 0, "提现", "P1", "PM1", "CR1", "DP1", "u1", "3", 1},
    {'G', "001", "1001", "2024-03-31", 4, 0, 100, "其他", "", "", "", "", "u1", "0", 0},
    {'H', "001", "1003", "2024-03-05", 2, -20, 0, "冲销", "", "", "", "", "u1", "0", 0},
};

class GlideConditionTest : public testutil::BookTest,
                           public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        testutil::BookTest::SetUp();
        table = GetParam();
        other = table == kCashJournalTable ? kStatementTable : kCashJournalTable;
        for (const RowPlan& r : kRows) keys[put(db(), table, r)] = r.key;
        // A row of the other table that every condition below would show.
        put(db(), other, kRows[1]);
    }
    // The keys of the rows shown, in key order; '?' for a row not of this table.
    std::string shown(TCaGlideMng& mng) {
        std::string out;
        for (TCaGlide* r : detailRows(mng)) out += keys.count(r->Id) ? keys[r->Id] : '?';
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string table, other;
    std::map<std::int64_t, char> keys;
};

TEST_P(GlideConditionTest, EveryConditionIsHonoured) {
    using Q = TCaGlideQry;
    struct Case {
        const char* what;
        std::function<void(Q&, TCaGlideMng&)> set;
        const char* rows;
    } cases[] = {
        {"no condition", [](Q&, TCaGlideMng&) {}, "ABCDEGH"},
        {"empty texts and zeros",
         [](Q& q, TCaGlideMng&) {
             q.ApplyUser = q.CR_Code = q.DP_Code = q.PayCode = q.PM_Code = q.Summary = "";
             q.BVoucher_ID = q.EVoucher_ID = "0";
             q.BDateOrNo = q.EDateOrNo = q.BMoney = q.EMoney = 0;
             q.OperSymble = "大于";
         },
         "ABCDEG"},
        {"empty voucher range", [](Q& q, TCaGlideMng&) { q.BVoucher_ID = q.EVoucher_ID = ""; },
         "ABCDEGH"},
        {"book set 002", [](Q& q, TCaGlideMng&) { q.SetCode = "002"; }, "F"},
        {"every book set", [](Q& q, TCaGlideMng&) { q.SetCode = ""; }, "ABCDEFGH"},
        {"account", [](Q& q, TCaGlideMng&) { q.AS_Code = "1001"; }, "ABEG"},
        {"user", [](Q& q, TCaGlideMng&) { q.ApplyUser = "u2"; }, "BD"},
        {"counterpart", [](Q& q, TCaGlideMng&) { q.CR_Code = "CR1"; }, "AE"},
        {"department", [](Q& q, TCaGlideMng&) { q.DP_Code = "DP2"; }, "BE"},
        {"cheque", [](Q& q, TCaGlideMng&) { q.PayCode = "P1"; }, "A"},
        {"pay mode", [](Q& q, TCaGlideMng&) { q.PM_Code = "PM1"; }, "AC"},
        {"summary", [](Q& q, TCaGlideMng&) { q.Summary = "提现"; }, "AC"},
        {"part of a summary", [](Q& q, TCaGlideMng&) { q.Summary = "货款"; }, "BD"},
        {"part of a cheque number", [](Q& q, TCaGlideMng&) { q.PayCode = "P"; }, "ABE"},
        {"voucher class", [](Q& q, TCaGlideMng&) { q.VoucherClass = 1; }, "AE"},
        {"date range",
         [](Q& q, TCaGlideMng&) {
             q.BCreateDate = "2024-02-10";
             q.ECreateDate = "2024-03-01";
         },
         "BCD"},
        {"from a date", [](Q& q, TCaGlideMng&) { q.BCreateDate = "2024-03-01"; }, "DEGH"},
        {"up to a date", [](Q& q, TCaGlideMng&) { q.ECreateDate = "2024-02-10"; }, "AB"},
        {"number range",
         [](Q& q, TCaGlideMng&) {
             q.BDateOrNo = 2;
             q.EDateOrNo = 3;
         },
         "BEH"},
        {"from a number", [](Q& q, TCaGlideMng&) { q.BDateOrNo = 3; }, "EG"},
        {"up to a number", [](Q& q, TCaGlideMng&) { q.EDateOrNo = 1; }, "ACD"},
        {"voucher range",
         [](Q& q, TCaGlideMng&) {
             q.BVoucher_ID = "7";
             q.EVoucher_ID = "10";
         },
         "BE"},
        {"from a voucher", [](Q& q, TCaGlideMng&) { q.BVoucher_ID = "9"; }, "DE"},
        {"all amounts",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "全部";
             q.EMoney = 100;
         },
         "ABCDEGH"},
        {">=",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "大于等于";
             q.EMoney = 250.5;
         },
         "BCE"},
        {">",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "大于";
             q.EMoney = 250.5;
         },
         "C"},
        {"<=",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "小于等于";
             q.EMoney = 100;
         },
         "ADGH"},
        {"<",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "小于";
             q.EMoney = 100;
         },
         "DH"},
        {"=",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "等于";
             q.EMoney = 250.5;
         },
         "BE"},
        {"= ignores BMoney",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "等于";
             q.BMoney = 100;
             q.EMoney = 250.5;
         },
         "BE"},
        {">= 0 is a bound, BMoney is not",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "大于等于";
             q.BMoney = 500;
         },
         "ABCDEG"},
        {"< 0", [](Q& q, TCaGlideMng&) { q.OperSymble = "小于"; }, "H"},
        {"= 0", [](Q& q, TCaGlideMng&) { q.OperSymble = "等于"; }, ""},
        {"= a negative amount",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "等于";
             q.EMoney = -20;
         },
         "H"},
        {"between -50 and 0",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "至";
             q.BMoney = -50;
         },
         "H"},
        {"between 0 and 0", [](Q& q, TCaGlideMng&) { q.OperSymble = "至"; }, ""},
        {"< 1e30",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "小于";
             q.EMoney = 1e30;
         },
         "ABCDEGH"},
        {"> 1e30",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "大于";
             q.EMoney = 1e30;
         },
         ""},
        {"between -1e30 and 1e30",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "至";
             q.BMoney = -1e30;
             q.EMoney = 1e30;
         },
         "ABCDEGH"},
        {"> -1e30",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "大于";
             q.EMoney = -1e30;
         },
         "ABCDEGH"},
        {"numbers from 1e30", [](Q& q, TCaGlideMng&) { q.BDateOrNo = 1e30; }, ""},
        {"numbers up to 1e30", [](Q& q, TCaGlideMng&) { q.EDateOrNo = 1e30; }, "ABCDEGH"},
        {"numbers from -1e30 to 1",
         [](Q& q, TCaGlideMng&) {
             q.BDateOrNo = -1e30;
             q.EDateOrNo = 1;
         },
         "ACD"},
        {"vouchers from 1e30", [](Q& q, TCaGlideMng&) { q.BVoucher_ID = "1e30"; }, ""},
        {"between",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "至";
             q.BMoney = 100;
             q.EMoney = 250.5;
         },
         "ABEG"},
        {"between, bounds reversed",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "至";
             q.BMoney = 250.5;
             q.EMoney = 100;
         },
         "ABEG"},
        {"between 200 and 0",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "至";
             q.BMoney = 200;
         },
         "ADG"},
        {"between 0 and 100",
         [](Q& q, TCaGlideMng&) {
             q.OperSymble = "至";
             q.EMoney = 100;
         },
         "ADG"},
        {"bank accounts", [](Q&, TCaGlideMng& m) { m.SubjectKind = 1; }, "ABCEGH"},
        {"cash accounts", [](Q&, TCaGlideMng& m) { m.SubjectKind = 2; }, "D"},
        {"several at once",
         [](Q& q, TCaGlideMng&) {
             q.AS_Code = "1001";
             q.ApplyUser = "u1";
             q.OperSymble = "大于等于";
             q.EMoney = 200;
         },
         "E"},
    };
    for (const auto& c : cases) {
        TCaGlideMng mng(table);
        EXPECT_EQ(mng.CaGlideQry()->SetCode, "001") << "the query starts in the current book set";
        c.set(*mng.CaGlideQry(), mng);
        mng.Load();
        EXPECT_EQ(shown(mng), c.rows) << c.what;
        testutil::expectCoherent(mng, c.what, false);
        for (int i = 0; i < mng.GetCount(); ++i) {
            const TCaGlide* r = mng.GetDetails(i);
            EXPECT_EQ(r->Id == 0, isSummaryText(r->Summary)) << c.what << " row " << i;
            EXPECT_EQ(r->TableName(), table);
        }
    }
}

TEST_P(GlideConditionTest, LoadedRowsCarryEveryColumn) {
    db().exec("INSERT INTO vouchers VALUES (3, '001', '2024-01-05', 1, 8, 'u1')");
    TCaGlideMng mng(table);
    mng.CaGlideQry()->PayCode = "P1";
    mng.Load();
    auto rows = detailRows(mng);
    ASSERT_EQ(rows.size(), 1u);
    const TCaGlide& r = *rows[0];
    EXPECT_EQ(r.SetCode, "001");
    EXPECT_EQ(r.AS_Code, "1001");
    EXPECT_EQ(r.CreateDate, "2024-01-05");
    EXPECT_EQ(r.DateOrNo, "1");
    EXPECT_EQ(r.DebMoney, 100.0);
    EXPECT_EQ(r.CreMoney, 0.0);
    EXPECT_EQ(r.Summary, "提现");
    EXPECT_EQ(r.PM_Code, "PM1");
    EXPECT_EQ(r.CR_Code, "CR1");
    EXPECT_EQ(r.CR_Name, "甲公司");
    EXPECT_EQ(r.DP_Code, "DP1");
    EXPECT_EQ(r.ApplyUser, "u1");
    EXPECT_EQ(r.Voucher_ID, "3");
    EXPECT_EQ(r.VoucherClass, 1);
    EXPECT_EQ(r.VoucherNo, 8.0);
    EXPECT_EQ(r.Remark, "备注A");
    EXPECT_EQ(r.GlideFlag, "G");
    EXPECT_EQ(mng.GetDetails(-1), nullptr);
    EXPECT_EQ(mng.GetDetails(mng.GetCount()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Glide, GlideConditionTest,
                         ::testing::Values(kStatementTable, kCashJournalTable));

// ---- order ----

class GlideOrderTest : public testutil::BookTest {
  protected:
    void SetUp() override {
        testutil::BookTest::SetUp();
        // The keys name the rows by date, then number; the debits order them otherwise.
        feb = testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-02-20", 1, 0, "", 4);
        mar10 = testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-03-10", 5, 0, "", 2);
        mar5no3 =
            testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-03-05", 30, 0, "", 3);
        mar5no1 =
            testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-03-05", 20, 0, "", 1);
    }
    std::vector<std::int64_t> loadedIds(TOrder_itemMng* order) {
        TCaGlideMng mng(kCashJournalTable);
        mng.OrderItemMng = order;
        mng.Load();
        std::vector<std::int64_t> ids;
        for (TCaGlide* r : detailRows(mng)) ids.push_back(r->Id);
        return ids;
    }
    static QStringList captions(TOrder_itemMng& order) {
        QStringList lines{"stale"};
        order.Assignto(lines);
        return lines;
    }
    std::int64_t feb = 0, mar10 = 0, mar5no3 = 0, mar5no1 = 0;
};

TEST_F(GlideOrderTest, DefaultOrderIsDateThenNumber) {
    const std::vector<std::int64_t> byDate{feb, mar5no1, mar5no3, mar10};
    EXPECT_EQ(loadedIds(nullptr), byDate);
    TOrder_itemMng order(kCashJournalTable);
    EXPECT_EQ(order.Getcount(), 6);
    EXPECT_EQ(captions(order),
              QStringList({"日期", "统一号", "借方金额", "贷方金额", "摘要", "支票号"}));
    EXPECT_EQ(loadedIds(&order), byDate);
}

TEST_F(GlideOrderTest, ExchangedKeysReorderWithinEachMonth) {
    TOrder_itemMng order(kCashJournalTable);
    order.Exchange(0, 2);  // debit first
    EXPECT_EQ(captions(order).first(), "借方金额");
    EXPECT_EQ(loadedIds(&order), (std::vector<std::int64_t>{feb, mar10, mar5no1, mar5no3}));
    order.Exchange(0, 1);  // number first
    EXPECT_EQ(loadedIds(&order), (std::vector<std::int64_t>{feb, mar5no1, mar10, mar5no3}));
    order.Exchange(-1, 2);
    order.Exchange(0, 6);
    EXPECT_EQ(captions(order).first(), "统一号") << "an exchange out of range changed the order";
}

TEST_F(GlideOrderTest, SavedOrderOutlivesTheSession) {
    {
        TOrder_itemMng order(kCashJournalTable);
        order.Exchange(0, 2);
        order.save();
    }
    session.reset();
    session = std::make_unique<HostSession>(path(), "001", "u1");
    TOrder_itemMng fresh(kCashJournalTable);
    EXPECT_EQ(captions(fresh),
              QStringList({"借方金额", "统一号", "日期", "贷方金额", "摘要", "支票号"}));
    EXPECT_EQ(loadedIds(&fresh), (std::vector<std::int64_t>{feb, mar10, mar5no1, mar5no3}));
    TOrder_itemMng statement(kStatementTable);
    EXPECT_EQ(captions(statement).first(), "日期") << "the other journal's order changed";
}

TEST_F(GlideOrderTest, UnknownStoredKeysAreIgnored) {
    db().exec(
        "INSERT INTO order_items VALUES ('CaGlide', 0, 'id DESC; DROP TABLE CaGlide', 'x'),"
        "('CaGlide', 1, 'summary', '摘要')");
    TOrder_itemMng order(kCashJournalTable);
    EXPECT_EQ(order.Getcount(), 6);
    EXPECT_EQ(captions(order).first(), "摘要");
    EXPECT_EQ(loadedIds(&order).size(), 4u);
}

// Rows that share their leading keys are put in order in memory, the rest by
// SQLite; whichever does it, the order must be the one SQLite gives for the
// same keys, and each balance must follow from the one before.
using GlideTieTest = testutil::BookTest;

TEST_F(GlideTieTest, TiedRowsFollowEveryKeyAsSqliteOrdersThem) {
    std::uint32_t seed = 7;
    auto next = [&](std::uint32_t n) {
        return ((seed = seed * 1664525u + 1013904223u) >> 8 & 0xffff) % n;
    };
    static const char* const summaries[] = {"提现", "收货款", "B", "A", ""};
    static const char* const payCodes[] = {"", "P1", "P10", "P2"};
    Stmt ins = db().prepare(
        "INSERT INTO CaGlide (set_code, as_code, create_date, date_or_no, deb_cents, cre_cents, "
        "summary, pay_code) VALUES ('001', '1001', ?, ?, ?, ?, ?, ?)");
    for (int i = 0; i < 120; ++i) {
        // Few distinct values, so that every key has ties to break.
        const char* date = next(2) ? "2024-01-31" : (next(2) ? "2024-02-01" : "2024-01-02");
        ins.reset();
        ins.bind(1, date).bind(2, static_cast<int>(next(3)));
        ins.bind(3, static_cast<std::int64_t>(next(3)) * 100)
            .bind(4, static_cast<std::int64_t>(next(2)) * 50);
        ins.bind(5, summaries[next(5)]).bind(6, payCodes[next(4)]);
        ins.run();
    }
    rebuildDayTotals(db());
    // Each line swaps two keys of the order before it; the default comes first.
    const std::pair<int, int> swaps[] = {{0, 0}, {2, 4}, {1, 2}, {0, 4}, {0, 1}, {3, 5}};
    TOrder_itemMng order(kCashJournalTable);
    for (const auto& [a, b] : swaps) {
        order.Exchange(a, b);
        std::string terms;
        for (const auto& item : order.items()) terms += item.Field + ", ";
        std::vector<std::int64_t> expected;
        Stmt sql = db().prepare("SELECT id FROM CaGlide ORDER BY substr(create_date, 1, 7), " +
                                terms + "id");
        while (sql.step()) expected.push_back(sql.i64(0));

        TCaGlideMng mng(kCashJournalTable);
        mng.OrderItemMng = &order;
        mng.CaGlideQry()->SetCode = "001";
        mng.CaGlideQry()->SetASCode("1001");
        mng.Load();
        std::vector<std::int64_t> ids;
        const TCaGlide* previous = nullptr;
        for (TCaGlide* r : detailRows(mng)) {
            ids.push_back(r->Id);
            if (previous) {
                EXPECT_NEAR(r->Balance - previous->Balance, r->DebMoney - r->CreMoney, 0.001)
                    << "order " << terms << " row " << r->Id;
            }
            previous = r;
        }
        EXPECT_EQ(ids, expected) << "order " << terms;
    }
}

// ---- balances and summary rows ----

struct Line {
    const char* summary;
    const char* date;
    double deb, cre, balance;
    const char* direction;
};

void expectLines(const TCaGlideMng& mng, const std::vector<Line>& want, const char* what) {
    ASSERT_EQ(mng.GetCount(), static_cast<int>(want.size())) << what;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const TCaGlide& r = *mng.GetDetails(static_cast<int>(i));
        const Line& w = want[i];
        EXPECT_EQ(r.Summary, w.summary) << what << " line " << i;
        EXPECT_EQ(r.CreateDate, w.date) << what << " line " << i;
        EXPECT_EQ(r.DebMoney, w.deb) << what << " line " << i;
        EXPECT_EQ(r.CreMoney, w.cre) << what << " line " << i;
        EXPECT_EQ(r.Balance, w.balance) << what << " line " << i;
        EXPECT_EQ(r.Direction, w.direction) << what << " line " << i;
    }
}

class GlideBalanceTest : public testutil::BookTest {
  protected:
    // 1001 opens the year at 1000.00, 1003 at nothing; 1010 is a cash account.
    void addStandardRows() {
        auto add = [&](const char* acc, const char* date, double d, double c, const char* s) {
            testutil::addRow(db(), kCashJournalTable, "001", acc, date, d, c, s);
        };
        add("1001", "2024-01-03", 200, 0, "");
        add("1003", "2024-01-05", 0, 50, "");
        add("1001", "2024-01-12", 100, 0, "X");
        add("1010", "2024-01-15", 77, 0, "X");
        add("1003", "2024-01-20", 0, 30, "Y");
        add("1001", "2024-02-02", 0, 400, "X");
        add("1003", "2024-02-28", 10, 0, "Y");
        add("1001", "2024-03-01", 999, 0, "X");
    }
    std::unique_ptr<TCaGlideMng> bankJournal(const char* from, const char* to) {
        auto mng = std::make_unique<TCaGlideMng>(kCashJournalTable);
        mng->SubjectKind = 1;
        mng->CaGlideQry()->BCreateDate = from;
        mng->CaGlideQry()->ECreateDate = to;
        return mng;
    }
};

TEST_F(GlideBalanceTest, RunningBalancesAndMonthRowsAcrossAMonth) {
    addStandardRows();
    auto mng = bankJournal("2024-01-10", "2024-02-28");
    mng->Load();
    expectLines(*mng,
                {
                    {"期初余额", "2024-01-10", 0, 0, 1200, "借"},
                    {"X", "2024-01-12", 100, 0, 1300, "借"},
                    {"本月合计", "2024-01-31", 100, 0, 1300, "借"},
                    {"本年累计", "2024-01-31", 300, 0, 1300, "借"},
                    {"X", "2024-02-02", 0, 400, 900, "借"},
                    {"本月合计", "2024-02-29", 0, 400, 900, "借"},
                    {"本年累计", "2024-02-29", 300, 400, 900, "借"},
                    {"期初余额", "2024-01-10", 0, 0, -50, "贷"},
                    {"Y", "2024-01-20", 0, 30, -80, "贷"},
                    {"本月合计", "2024-01-31", 0, 30, -80, "贷"},
                    {"本年累计", "2024-01-31", 0, 80, -80, "贷"},
                    {"Y", "2024-02-28", 10, 0, -70, "贷"},
                    {"本月合计", "2024-02-29", 10, 0, -70, "贷"},
                    {"本年累计", "2024-02-29", 10, 80, -70, "贷"},
                },
                "two accounts, one section each");
    EXPECT_EQ(testutil::expectCoherent(*mng, "two accounts"), 2);
}

TEST_F(GlideBalanceTest, HiddenRowsStillCountInBalances) {
    addStandardRows();
    auto mng = bankJournal("2024-01-10", "2024-02-28");
    mng->CaGlideQry()->Summary = "X";
    mng->Load();
    expectLines(*mng,
                {
                    {"期初余额", "2024-01-10", 0, 0, 1200, "借"},
                    {"X", "2024-01-12", 100, 0, 1300, "借"},
                    {"本月合计", "2024-01-31", 100, 0, 1300, "借"},
                    {"本年累计", "2024-01-31", 100, 0, 1300, "借"},
                    {"X", "2024-02-02", 0, 400, 900, "借"},
                    {"本月合计", "2024-02-29", 0, 400, 900, "借"},
                    {"本年累计", "2024-02-29", 100, 400, 900, "借"},
                },
                "summary X: the account that shows nothing has no section");
    testutil::expectCoherent(*mng, "summary X", false);
}

TEST_F(GlideBalanceTest, OneAccountWithANegativeBalance) {
    addStandardRows();
    auto mng = bankJournal("2024-01-10", "2024-02-28");
    mng->CaGlideQry()->AS_Code = "1003";
    mng->Load();
    expectLines(*mng,
                {
                    {"期初余额", "2024-01-10", 0, 0, -50, "贷"},
                    {"Y", "2024-01-20", 0, 30, -80, "贷"},
                    {"本月合计", "2024-01-31", 0, 30, -80, "贷"},
                    {"本年累计", "2024-01-31", 0, 80, -80, "贷"},
                    {"Y", "2024-02-28", 10, 0, -70, "贷"},
                    {"本月合计", "2024-02-29", 10, 0, -70, "贷"},
                    {"本年累计", "2024-02-29", 10, 80, -70, "贷"},
                },
                "account 1003");
}

TEST_F(GlideBalanceTest, RangeFromFirstOfJanuaryOpensWithTheYear) {
    addStandardRows();
    auto mng = bankJournal("2024-01-01", "2024-01-31");
    mng->Load();
    expectLines(*mng,
                {
                    {"年初余额", "2024-01-01", 0, 0, 1000, "借"},
                    {"", "2024-01-03", 200, 0, 1200, "借"},
                    {"X", "2024-01-12", 100, 0, 1300, "借"},
                    {"本月合计", "2024-01-31", 300, 0, 1300, "借"},
                    {"本年累计", "2024-01-31", 300, 0, 1300, "借"},
                    {"年初余额", "2024-01-01", 0, 0, 0, "平"},
                    {"", "2024-01-05", 0, 50, -50, "贷"},
                    {"Y", "2024-01-20", 0, 30, -80, "贷"},
                    {"本月合计", "2024-01-31", 0, 80, -80, "贷"},
                    {"本年累计", "2024-01-31", 0, 80, -80, "贷"},
                },
                "January");
    EXPECT_EQ(testutil::expectCoherent(*mng, "January"), 2);

    // Without a range the journal opens with the book set's year.
    auto all = std::make_unique<TCaGlideMng>(kCashJournalTable);
    all->CaGlideQry()->AS_Code = "1010";
    all->Load();
    expectLines(*all,
                {
                    {"年初余额", "2024-01-01", 0, 0, 577 - 77, "借"},
                    {"X", "2024-01-15", 77, 0, 577, "借"},
                    {"本月合计", "2024-01-31", 77, 0, 577, "借"},
                    {"本年累计", "2024-01-31", 77, 0, 577, "借"},
                },
                "cash");
}

TEST_F(GlideBalanceTest, EvenBalanceAndANewYear) {
    auto add = [&](const char* date, double d, double c) {
        testutil::addRow(db(), kCashJournalTable, "001", "1003", date, d, c, "");
    };
    add("2024-12-20", 30, 0);
    add("2024-12-21", 0, 30);
    add("2025-01-03", 7, 0);
    TCaGlideMng mng(kCashJournalTable);
    mng.CaGlideQry()->AS_Code = "1003";
    mng.CaGlideQry()->BCreateDate = "2024-12-01";
    mng.CaGlideQry()->ECreateDate = "2025-01-31";
    mng.Load();
    expectLines(mng,
                {
                    {"期初余额", "2024-12-01", 0, 0, 0, "平"},
                    {"", "2024-12-20", 30, 0, 30, "借"},
                    {"", "2024-12-21", 0, 30, 0, "平"},
                    {"本月合计", "2024-12-31", 30, 30, 0, "平"},
                    {"本年累计", "2024-12-31", 30, 30, 0, "平"},
                    {"", "2025-01-03", 7, 0, 7, "借"},
                    {"本月合计", "2025-01-31", 7, 0, 7, "借"},
                    {"本年累计", "2025-01-31", 7, 0, 7, "借"},
                },
                "year end");
}

TEST_F(GlideBalanceTest, NoDriftOverAThousandRows) {
    {
        Transaction t(db());
        for (int i = 0; i < 1000; ++i)
            testutil::addRow(db(), kCashJournalTable, "001", "1003", "2024-05-01", 0.1, 0, "");
        t.commit();
    }
    TCaGlideMng mng(kCashJournalTable);
    mng.CaGlideQry()->AS_Code = "1003";
    mng.CaGlideQry()->BCreateDate = "2024-05-01";
    mng.CaGlideQry()->ECreateDate = "2024-05-31";
    mng.Load();
    ASSERT_EQ(mng.GetCount(), 1003);
    for (int i = 1; i <= 1000; ++i) {
        ASSERT_EQ(mng.GetDetails(i)->Balance, fromCents(10 * i)) << "row " << i;
    }
    EXPECT_EQ(mng.GetDetails(1000)->Balance, 100.0);
    EXPECT_EQ(mng.GetDetails(1001)->DebMoney, 100.0);
    EXPECT_EQ(mng.GetDetails(1001)->Balance, 100.0);
    EXPECT_EQ(mng.GetDetails(1002)->DebMoney, 100.0);
}

TEST_F(GlideBalanceTest, NothingShownWithoutRowsOrAccount) {
    addStandardRows();
    auto mng = bankJournal("2024-06-01", "2024-06-30");
    mng->Load();
    EXPECT_EQ(mng->GetCount(), 0);
    mng->CaGlideQry()->AS_Code = "1001";
    mng->Load();
    expectLines(*mng, {{"期初余额", "2024-06-01", 0, 0, 1899, "借"}}, "empty month");
}

}  // namespace
