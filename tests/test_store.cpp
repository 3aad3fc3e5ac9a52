// The book-set database file, its transactions and amounts in cents.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "Codec.h"
#include "Fixture.h"
#include "Glide.h"
#include "Handles.h"
#include "HostString.h"
#include "Regional.h"
#include "StoreTest.h"

using namespace ledgerhost;
using testutil::countRows;
using testutil::StoreTest;

namespace {

// ---- database file, transactions, cents ----

TEST_F(StoreTest, NewFileHasTheCurrentSchemaVersionAndKeepsDataWhenReopened) {
    EXPECT_EQ(db().schemaVersion(), Database::kSchemaVersion);
    testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-01-02", 1, 0);
    session.reset();
    Database again(path());
    EXPECT_EQ(again.schemaVersion(), Database::kSchemaVersion);
    EXPECT_EQ(countRows(again, kCashJournalTable), 1);
}

TEST(StoreDatabase, RefusesFileOfNewerVersionAndLeavesItAlone) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("newer.db").toStdString();
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(
            raw, ("PRAGMA user_version = " + std::to_string(Database::kSchemaVersion + 1)).c_str(),
            nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(raw);

    try {
        Database db(file);
        FAIL() << "a newer file was opened";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("比本程序新"), std::string::npos) << e.what();
    }
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw, "SELECT COUNT(*) FROM sqlite_master", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0) << "tables were created in a refused file";
    sqlite3_finalize(st);
    sqlite3_prepare_v2(raw, "PRAGMA journal_mode", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "delete");
    sqlite3_finalize(st);
    sqlite3_close(raw);
}

// Files of earlier versions of this program carry no application id: a
// complete one opens and is marked, an incomplete one is refused unmarked.
TEST(StoreDatabase, MarksAnEarlierLedgerFileAndRefusesAnIncompleteOne) {
    QTemporaryDir dir;
    auto earlierFile = [&](const char* name, const char* change) {
        const std::string file = dir.filePath(name).toStdString();
        testutil::createTestBook(file);
        sqlite3* raw = nullptr;
        sqlite3_open(file.c_str(), &raw);
        sqlite3_exec(raw, change, nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        return file;
    };
    auto appId = [](const std::string& file) {
        sqlite3* raw = nullptr;
        sqlite3_open(file.c_str(), &raw);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw, "PRAGMA application_id", -1, &st, nullptr);
        sqlite3_step(st);
        const int id = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        sqlite3_close(raw);
        return id;
    };
    const std::string whole = earlierFile("whole.db", "PRAGMA application_id = 0");
    ASSERT_EQ(appId(whole), 0);
    {
        Database db(whole);
        EXPECT_EQ(countRows(db, "book_sets"), 2);
    }
    EXPECT_EQ(appId(whole), Database::kApplicationId);

    const std::string partial =
        earlierFile("partial.db", "PRAGMA application_id = 0; DROP INDEX CaGlide_account_date");
    EXPECT_THROW(
        {
            try {
                Database db(partial);
            } catch (const StoreError& e) {
                EXPECT_NE(std::string(e.what()).find("缺少 CaGlide_account_date"),
                          std::string::npos)
                    << e.what();
                throw;
            }
        },
        StoreError);
    EXPECT_EQ(appId(partial), 0);
}

// A full disk reaches the user in Chinese, with SQLite's own text after it,
// and the failed operation stores nothing.
TEST_F(StoreTest, FullDiskIsReportedInChineseAndStoresNothing) {
    Stmt pages = db().prepare("PRAGMA page_count");
    pages.step();
    db().exec("PRAGMA max_page_count = " + std::to_string(pages.i64(0)));
    TCaGlide row = journalRow("1001", "2024-03-01", 1, 0);
    row.Summary = std::string(20000, 'x');
    EXPECT_FALSE(row.Insert(true));
    EXPECT_NE(row.ErrorText.find("磁盘已满"), std::string::npos) << row.ErrorText;
    EXPECT_NE(row.ErrorText.find("database or disk is full"), std::string::npos);
    EXPECT_EQ(count(), 0);
}

TEST_F(StoreTest, TransactionRollsBackUnlessCommitted) {
    {
        Transaction t(db());
        testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-01-02", 1, 0);
        EXPECT_TRUE(db().inTransaction());
    }
    EXPECT_FALSE(db().inTransaction());
    EXPECT_EQ(count(), 0);
    {
        Transaction t(db());
        testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-01-02", 1, 0);
        t.commit();
    }
    EXPECT_EQ(count(), 1);
}

// Rows named by id each take their own value in one statement: rows between
// them that are not listed, rows of another account and rows that fail the
// condition keep theirs, and the answer counts only the rows changed.
TEST_F(StoreTest, UpdateByIdGivesEachListedRowItsValue) {
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 6; ++i)
        ids.push_back(testutil::addRow(db(), kStatementTable, "001", i == 2 ? "1003" : "1001",
                                       "2024-01-02", 1, 0, "", i + 1));
    db().exec("UPDATE CaCollateGlide SET reconcile_group = 99 WHERE id = " +
              std::to_string(ids[4]));
    struct Case {
        std::vector<std::pair<std::int64_t, std::int64_t>> values;
        std::int64_t changed;
    };
    const Case cases[] = {
        {{}, 0},
        // ids[1] and ids[3]; ids[2] between them is another account's and not listed
        {{{ids[1], 7}, {ids[3], 8}}, 2},
        // ids[2]: another account; ids[4]: already in a group; ids[5] + 1000: no such row
        {{{ids[2], 5}, {ids[4], 5}, {ids[5] + 1000, 5}}, 0},
    };
    for (const Case& c : cases) {
        Transaction t(db());
        EXPECT_EQ(db().updateById("CaCollateGlide", "reconcile_group", c.values, "reconciled = 1",
                                  "set_code = ?1 AND as_code = ?2 AND reconcile_group IS NULL",
                                  {"001", "1001"}),
                  c.changed);
        t.commit();
    }
    Stmt s = db().prepare(
        "SELECT coalesce(reconcile_group, 0), reconciled FROM CaCollateGlide ORDER BY id");
    std::vector<std::pair<std::int64_t, std::int64_t>> got;
    while (s.step()) got.emplace_back(s.i64(0), s.i64(1));
    const std::vector<std::pair<std::int64_t, std::int64_t>> want = {{0, 0}, {7, 1},  {0, 0},
                                                                     {8, 1}, {99, 0}, {0, 0}};
    EXPECT_EQ(got, want);
}

TEST(StoreCents, ConvertsTypicalAmountsExactly) {
    struct Case {
        double amount;
        std::int64_t cents;
        double back;
    } cases[] = {
        {0.01, 1, 0.01},
        {0.1 + 0.2, 30, 0.3},
        {0.07, 7, 0.07},
        {19.99, 1999, 19.99},
        {1234567.89, 123456789, 1234567.89},
        {-0.01, -1, -0.01},
        {-1234567.89, -123456789, -1234567.89},
        {99999999999.99, 9999999999999, 99999999999.99},
        {0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toCents(c.amount), c.cents) << c.amount;
        EXPECT_EQ(fromCents(toCents(c.amount)), c.back) << c.amount;
    }
    std::int64_t sum = 0;
    for (int i = 0; i < 1000; ++i) sum += toCents(0.1);
    EXPECT_EQ(fromCents(sum), 100.0);
}

}  // namespace
