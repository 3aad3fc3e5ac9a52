// The journals' kept day totals: every writer keeps them equal to the rows'
// own sums, an older file gets them on opening, and the journal load opens its
// sections with them (on both engines).
#include <gtest/gtest.h>

#include <functional>

#include "DayTotals.h"
#include "Fixture.h"
#include "Glide.h"

using namespace ledgerhost;

namespace {

class DayTotalsTest : public testutil::BookTest {
  protected:
    TCaGlide row(const std::string& table, const std::string& as, const std::string& date,
                 double deb, double cre) {
        TCaGlide r(table);
        r.SetCode = "001";
        r.AS_Code = as;
        r.CreateDate = date;
        r.DebMoney = deb;
        r.CreMoney = cre;
        r.Summary = "行";
        r.OperFlag = "0";
        return r;
    }
    std::int64_t stored(const std::string& table, const std::string& as, const std::string& date,
                        double deb, double cre) {
        TCaGlide r = row(table, as, date, deb, cre);
        EXPECT_TRUE(r.Insert(true)) << r.ErrorText;
        return r.Id;
    }
    // The opening line of a load of the account from `from`, beside what the
    // account's opening and a plain sum of its earlier rows give.
    void expectOpening(const std::string& table, const std::string& as, const std::string& from,
                       const std::string& summary = "") {
        TCaGlideMng mng(table);
        mng.CaGlideQry()->SetCode = "001";
        mng.CaGlideQry()->SetASCode(as);
        mng.CaGlideQry()->BCreateDate = from;
        mng.CaGlideQry()->ECreateDate = "2024-12-31";
        mng.CaGlideQry()->Summary = summary;
        mng.Load();
        ASSERT_GT(mng.GetCount(), 0);
        const bool bank = table == kStatementTable;
        Stmt s = db().prepare(
            "SELECT COALESCE(SUM(" +
            std::string(bank ? "cre_cents - deb_cents" : "deb_cents - cre_cents") + "), 0) FROM " +
            table + " WHERE set_code = '001' AND as_code = ? AND create_date < ?");
        s.bind(1, as).bind(2, from);
        ASSERT_TRUE(s.step());
        Stmt o = db().prepare(
            "SELECT opening_cents FROM bank_accounts WHERE set_code = '001' AND as_code = ?");
        o.bind(1, as);
        ASSERT_TRUE(o.step());
        EXPECT_EQ(toCents(mng.GetDetails(0)->Balance), o.i64(0) + s.i64(0))
            << table << " " << as << " " << from << " " << summary;
    }
};

// After each kind of write the kept totals equal the rows' own sums through
// every day, and the journal load opens with the rows' balance.
TEST_F(DayTotalsTest, EveryWriterKeepsTheDayTotals) {
    std::int64_t a = 0, b = 0, c = 0;
    struct Step {
        const char* what;
        std::function<void()> write;
    };
    const Step steps[] = {
        {"inserts",
         [&] {
             a = stored(kCashJournalTable, "1001", "2024-01-05", 100, 0);
             b = stored(kCashJournalTable, "1001", "2024-02-10", 0, 30);
             c = stored(kCashJournalTable, "1010", "2024-02-10", 7.5, 0);
             stored(kStatementTable, "1001", "2024-01-05", 0, 100);
             stored(kCashJournalTable, "1001", "2024-03-01", 12, 0);
         }},
        {"an update of the amount",
         [&] {
             TCaGlide r = row(kCashJournalTable, "1001", "2024-02-10", 0, 45);
             r.Id = b;
             r.OperFlag = "1";
             EXPECT_TRUE(r.Update(true)) << r.ErrorText;
         }},
        {"an update moving a row to an earlier day and another account",
         [&] {
             TCaGlide r = row(kCashJournalTable, "1003", "2024-01-02", 9, 1);
             r.Id = a;
             r.OperFlag = "1";
             EXPECT_TRUE(r.Update(true)) << r.ErrorText;
         }},
        {"a deletion of a day's only row",
         [&] {
             TCaGlide r = row(kCashJournalTable, "1010", "2024-02-10", 7.5, 0);
             r.Id = c;
             EXPECT_TRUE(r.Delete(true)) << r.ErrorText;
         }},
        {"a batch save, as the imports store their blocks",
         [&] {
             TCaGlideMng mng(kCashJournalTable);
             for (int i = 0; i < 40; ++i) {
                 char date[16];
                 std::snprintf(date, sizeof date, "2024-%02d-%02d", 1 + i % 12, 1 + i % 27);
                 auto* r = new TCaGlide(
                     row(kCashJournalTable, i % 3 ? "1001" : "1010", date, i * 1.25, i % 5));
                 mng.Add(r);
             }
             auto* gone = new TCaGlide(row(kCashJournalTable, "1001", "2024-02-10", 0, 45));
             gone->Id = b;
             gone->RowVersion = 1;  // as loaded after the update above
             gone->OperFlag = "2";
             mng.Add(gone);
             mng.Save();
         }},
        {"a refused batch changes nothing",
         [&] {
             TCaGlideMng mng(kCashJournalTable);
             mng.Add(new TCaGlide(row(kCashJournalTable, "1001", "2024-04-01", 5, 0)));
             mng.Add(new TCaGlide(row(kCashJournalTable, "9999", "2024-04-01", 5, 0)));
             EXPECT_THROW(mng.Save(), StoreError);
         }},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.write();
        EXPECT_EQ(keptDayTotals(db()), rowDayTotals(db()));
        for (const char* from : {"2024-01-01", "2024-01-05", "2024-02-11", "2024-07-01"})
            for (const char* as : {"1001", "1003", "1010"})
                expectOpening(kCashJournalTable, as, from);
    }
    EXPECT_FALSE(keptDayTotals(db()).empty());
    // Under a condition the year's totals come from the rows; the opening
    // line is the balance all the same.
    expectOpening(kCashJournalTable, "1001", "2024-06-01", "行");
    expectOpening(kStatementTable, "1001", "2024-01-06");
}

// An older file gets the kept totals from its rows when it is opened.
TEST_F(DayTotalsTest, UpgradeMakesTheTotalsFromTheRows) {
    for (int i = 0; i < 12; ++i)
        testutil::addRow(db(), i % 2 ? kStatementTable : kCashJournalTable, "001",
                         i % 3 ? "1001" : "1010", "2024-0" + std::to_string(1 + i % 9) + "-03",
                         i * 2.5, i % 4);
    const auto rows = rowDayTotals(db());
    session.reset();
    {
        Database old(path());
        old.exec("DROP TABLE journal_days");
        if (testutil::onServer())
            old.exec("UPDATE ledger_meta SET value = '7' WHERE key = 'schema_version'");
        else
            old.exec("PRAGMA user_version = 7");
    }
    Database upgraded(path());
    EXPECT_EQ(upgraded.schemaVersion(), Database::kSchemaVersion);
    EXPECT_EQ(keptDayTotals(upgraded), rows);
    EXPECT_EQ(rows.size(), 12u);
}

}  // namespace
