// The store operations of journal rows: insert, number, update, delete and
// the batch save.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "Codec.h"
#include "DayTotals.h"
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

// ---- journal rows: insert, number, update, delete ----

TEST_F(StoreTest, InsertStoresTheRowAndNumbersIt) {
    TCaGlide a = journalRow("1001", "2024-03-01", 1234567.89, 0);
    a.PayCode = "P01";
    a.CR_Code = "CR1";
    ASSERT_TRUE(a.Insert(true)) << a.ErrorText;
    EXPECT_GT(a.Id, 0);
    EXPECT_EQ(a.DateOrNo, "1");
    EXPECT_TRUE(a.ErrorText.empty());

    TCaGlide b = journalRow("1001", "2024-03-02", 0, 0.1 + 0.2);
    ASSERT_TRUE(b.Insert(true)) << b.ErrorText;
    EXPECT_EQ(b.DateOrNo, "2");
    EXPECT_NE(b.Id, a.Id);

    Stmt s = db().prepare(
        "SELECT set_code, as_code, create_date, date_or_no, deb_cents, cre_cents, pay_code, "
        "cr_code, summary FROM CaGlide WHERE id = ?");
    s.bind(1, a.Id);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "001");
    EXPECT_EQ(s.text(1), "1001");
    EXPECT_EQ(s.text(2), "2024-03-01");
    EXPECT_EQ(s.i64(3), 1);
    EXPECT_EQ(s.i64(4), 123456789);
    EXPECT_EQ(s.i64(5), 0);
    EXPECT_EQ(s.text(6), "P01");
    EXPECT_EQ(s.text(7), "CR1");
    EXPECT_EQ(s.text(8), "测试");
    s.reset();
    s.bind(1, b.Id);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.i64(5), 30);
}

TEST_F(StoreTest, InsertRefusesBadRowsAndStoresNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        std::function<void(TCaGlide&)> spoil;
        const char* message;
    } cases[] = {
        {"stopped account", [](TCaGlide& r) { r.AS_Code = "1002"; }, "已停用"},
        {"unknown account", [](TCaGlide& r) { r.AS_Code = "9999"; }, "不存在"},
        {"empty account", [](TCaGlide& r) { r.AS_Code = ""; }, "不存在"},
        {"other book's account", [](TCaGlide& r) { r.AS_Code = "2001"; }, "不存在"},
        {"unknown book set", [](TCaGlide& r) { r.SetCode = "009"; }, "不存在"},
        {"impossible date", [](TCaGlide& r) { r.CreateDate = "2024-02-30"; }, "日期"},
        {"slashed date", [](TCaGlide& r) { r.CreateDate = "2024/03/01"; }, "日期"},
        {"short date", [](TCaGlide& r) { r.CreateDate = "2024-3-1"; }, "日期"},
        {"empty date", [](TCaGlide& r) { r.CreateDate = ""; }, "日期"},
        {"NaN debit", [&](TCaGlide& r) { r.DebMoney = nan; }, "金额"},
        {"infinite credit", [&](TCaGlide& r) { r.CreMoney = -inf; }, "金额"},
        {"huge debit", [](TCaGlide& r) { r.DebMoney = 1e14; }, "金额"},
    };
    for (const auto& c : cases) {
        TCaGlide r = journalRow("1001", "2024-03-01", 10, 0);
        c.spoil(r);
        EXPECT_FALSE(r.Insert(true)) << c.what;
        EXPECT_NE(r.ErrorText.find(c.message), std::string::npos) << c.what << ": " << r.ErrorText;
        EXPECT_EQ(r.Id, 0) << c.what;
    }
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(db().inTransaction());
}

TEST_F(StoreTest, InsertRefusesLockedBookSet) {
    open({.entryLocked = true});
    TCaGlide r = journalRow("1001", "2024-03-01", 10, 0);
    EXPECT_FALSE(r.Insert(true));
    EXPECT_NE(r.ErrorText.find("已锁定"), std::string::npos) << r.ErrorText;
    EXPECT_EQ(count(), 0);
}

TEST_F(StoreTest, NextNumberIsPerBookSetTableAndAccount) {
    for (int n : {1, 2, 3})
        testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-01-05", 1, 0, "", n);
    testutil::addRow(db(), kCashJournalTable, "001", "1003", "2024-01-05", 1, 0, "", 7);
    testutil::addRow(db(), kStatementTable, "001", "1001", "2024-01-05", 1, 0, "", 10);
    testutil::addRow(db(), kCashJournalTable, "002", "2001", "2024-01-05", 1, 0, "", 40);
    struct Case {
        const char* table;
        const char* set;
        const char* account;
        const char* next;
    } cases[] = {
        {kCashJournalTable, "001", "1001", "4"}, {kCashJournalTable, "001", "1003", "8"},
        {kCashJournalTable, "001", "1010", "1"}, {kStatementTable, "001", "1001", "11"},
        {kStatementTable, "001", "1003", "1"},   {kCashJournalTable, "002", "2001", "41"},
        {kCashJournalTable, "002", "1001", "1"},
    };
    for (const auto& c : cases) {
        TCaGlide r(c.table);
        r.SetCode = c.set;
        r.AS_Code = c.account;
        EXPECT_EQ(r.GetDateOrNo(), c.next) << c.table << " " << c.set << " " << c.account;
    }
    // Inserting takes the number it was offered.
    TCaGlide r = journalRow("1001", "2024-03-01", 1, 0);
    ASSERT_TRUE(r.Insert(true)) << r.ErrorText;
    EXPECT_EQ(r.DateOrNo, "4");
    EXPECT_EQ(r.GetDateOrNo(), "5");
}

TEST_F(StoreTest, InsertKeepsAFreeNumberAndRenumbersATakenOne) {
    testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-01-05", 1, 0, "", 1);
    testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-01-05", 1, 0, "", 3);
    TCaGlide free = journalRow("1001", "2024-03-01", 1, 0);
    free.DateOrNo = "2";
    ASSERT_TRUE(free.Insert(true)) << free.ErrorText;
    EXPECT_EQ(free.DateOrNo, "2");
    TCaGlide taken = journalRow("1001", "2024-03-01", 1, 0);
    taken.DateOrNo = "3";
    ASSERT_TRUE(taken.Insert(true)) << taken.ErrorText;
    EXPECT_EQ(taken.DateOrNo, "4");
}

TEST_F(StoreTest, ManagedBookSetUsesItsManagersAccounts) {
    TCaGlide r = journalRow("1001", "2024-03-01", 25, 0);
    r.SetCode = "002";
    auto acc = r.GetAccount();
    ASSERT_TRUE(acc);
    EXPECT_EQ(acc->SetCode, "001");
    ASSERT_TRUE(r.Insert(true)) << r.ErrorText;
    EXPECT_EQ(r.DateOrNo, "1");

    TCaGlide own = journalRow("2001", "2024-03-01", 5, 0);
    own.SetCode = "002";
    ASSERT_TRUE(own.Insert(true)) << own.ErrorText;

    // The managing book set may not use the accounts of the one it manages.
    TCaGlide back = journalRow("2001", "2024-03-01", 5, 0);
    EXPECT_FALSE(back.GetAccount());
    EXPECT_FALSE(back.Insert(true));
    EXPECT_EQ(count(), 2);

    // The row loads with its managing book set's account and opening balance.
    TCaGlideMng mng(kCashJournalTable);
    mng.CaGlideQry()->SetCode = "002";
    mng.CaGlideQry()->AS_Code = "1001";
    mng.Load();
    ASSERT_EQ(mng.GetCount(), 4);
    EXPECT_EQ(mng.GetDetails(1)->Id, r.Id);
    EXPECT_EQ(mng.GetDetails(1)->Balance, 1025.0);
}

TEST_F(StoreTest, UpdateChangesAStoredRow) {
    TCaGlide r = journalRow("1001", "2024-03-01", 10, 0);
    ASSERT_TRUE(r.Insert(true)) << r.ErrorText;
    r.DebMoney = 0;
    r.CreMoney = 99.99;
    r.Summary = "改过";
    r.CreateDate = "2024-03-09";
    ASSERT_TRUE(r.Update(true)) << r.ErrorText;
    EXPECT_EQ(r.DateOrNo, "1");
    Stmt s =
        db().prepare("SELECT deb_cents, cre_cents, summary, create_date, date_or_no FROM CaGlide");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.i64(0), 0);
    EXPECT_EQ(s.i64(1), 9999);
    EXPECT_EQ(s.text(2), "改过");
    EXPECT_EQ(s.text(3), "2024-03-09");
    EXPECT_EQ(s.i64(4), 1);
    EXPECT_FALSE(s.step());
}

TEST_F(StoreTest, UpdateRefusesAndLeavesTheStoredRow) {
    TCaGlide r = journalRow("1001", "2024-03-01", 10, 0);
    ASSERT_TRUE(r.Insert(true)) << r.ErrorText;
    struct Case {
        const char* what;
        std::function<void(TCaGlide&)> spoil;
        const char* message;
    } cases[] = {
        {"stopped account", [](TCaGlide& x) { x.AS_Code = "1002"; }, "已停用"},
        {"bad date", [](TCaGlide& x) { x.CreateDate = "2024-02-30"; }, "日期"},
        {"missing row", [](TCaGlide& x) { x.Id += 100; }, "不存在"},
        {"never stored", [](TCaGlide& x) { x.Id = 0; }, "不存在"},
        {"reconciled", [this](TCaGlide&) { db().exec("UPDATE CaGlide SET reconciled = 1"); },
         "已对账"},
    };
    for (const auto& c : cases) {
        TCaGlide x = r;
        x.DebMoney = 77;
        c.spoil(x);
        EXPECT_FALSE(x.Update(true)) << c.what;
        EXPECT_NE(x.ErrorText.find(c.message), std::string::npos) << c.what << ": " << x.ErrorText;
        Stmt s = db().prepare("SELECT deb_cents FROM CaGlide");
        ASSERT_TRUE(s.step());
        EXPECT_EQ(s.i64(0), 1000) << c.what;
    }
    db().exec("DELETE FROM CaGlide");
    rebuildDayTotals(db());
    EXPECT_FALSE(r.Update(true));
    EXPECT_NE(r.ErrorText.find("不存在"), std::string::npos) << r.ErrorText;
    EXPECT_EQ(count(), 0);
}

TEST_F(StoreTest, DeleteAndCanDelete) {
    TCaGlide r = journalRow("1001", "2024-03-01", 10, 0);
    ASSERT_TRUE(r.Insert(true)) << r.ErrorText;
    EXPECT_TRUE(r.CanDelete()) << r.ErrorText;
    EXPECT_TRUE(r.ErrorText.empty());

    struct Case {
        const char* what;
        const char* sql;  // puts the refusal in place
        const char* undo;
        const char* message;
    } cases[] = {
        {"reconciled", "UPDATE CaGlide SET reconciled = 1", "UPDATE CaGlide SET reconciled = 0",
         "已对账"},
        {"locked", "UPDATE book_sets SET entry_locked = 1 WHERE code = '001'",
         "UPDATE book_sets SET entry_locked = 0", "已锁定"},
    };
    for (const auto& c : cases) {
        db().exec(c.sql);
        EXPECT_FALSE(r.CanDelete()) << c.what;
        EXPECT_NE(r.ErrorText.find(c.message), std::string::npos) << c.what << ": " << r.ErrorText;
        EXPECT_FALSE(r.Delete(true)) << c.what;
        EXPECT_NE(r.ErrorText.find(c.message), std::string::npos) << c.what << ": " << r.ErrorText;
        // The stored row's book set decides, not what the object says.
        TCaGlide bare(kCashJournalTable);
        bare.Id = r.Id;
        EXPECT_FALSE(bare.CanDelete()) << c.what;
        EXPECT_FALSE(bare.Delete(true)) << c.what;
        EXPECT_EQ(count(), 1) << c.what;
        db().exec(c.undo);
    }

    ASSERT_TRUE(r.Delete(true)) << r.ErrorText;
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(r.CanDelete());
    EXPECT_NE(r.ErrorText.find("不存在"), std::string::npos) << r.ErrorText;
    EXPECT_FALSE(r.Delete(true));
    TCaGlide never(kCashJournalTable);
    EXPECT_FALSE(never.CanDelete());
}

TEST_F(StoreTest, StoreOperationJoinsAnOpenTransaction) {
    {
        Transaction outer(db());
        TCaGlide r = journalRow("1001", "2024-03-01", 10, 0);
        ASSERT_TRUE(r.Insert(true)) << r.ErrorText;
        TCaGlide bad = journalRow("1002", "2024-03-01", 10, 0);
        EXPECT_FALSE(bad.Insert(true));
        EXPECT_TRUE(db().inTransaction()) << "a failed row ended the caller's transaction";
        EXPECT_EQ(count(), 1);
    }
    EXPECT_EQ(count(), 0) << "the caller's rollback kept the row";
}

// ---- batch save ----

class StoreBatchTest : public StoreTest {
  protected:
    void addPending(TCaGlideMng& mng, int n) {
        for (int i = 0; i < n; ++i) {
            auto r = std::make_unique<TCaGlide>(journalRow("1001", "2024-03-01", i + 1, 0));
            r->Summary = "第" + std::to_string(i + 1) + "行";
            mng.Add(std::move(r));
        }
    }
};

TEST_F(StoreBatchTest, BadRowStoresNothingAndKeepsThePendingRows) {
    TCaGlideMng mng(kCashJournalTable);
    addPending(mng, 100);
    mng.PendingAt(49)->AS_Code = "1002";
    try {
        mng.Save();
        FAIL() << "a batch with a stopped account was saved";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("第 50 条"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("已停用"), std::string::npos) << e.what();
    }
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(db().inTransaction());
    ASSERT_EQ(mng.PendingCount(), 100u);
    EXPECT_NE(mng.PendingAt(49)->ErrorText.find("已停用"), std::string::npos);
    for (std::size_t i = 0; i < 49; ++i) {
        EXPECT_EQ(mng.PendingAt(i)->Id, 0) << i;
        EXPECT_EQ(mng.PendingAt(i)->DateOrNo, "") << i;
    }

    mng.PendingAt(49)->AS_Code = "1001";
    mng.Save();
    EXPECT_EQ(mng.PendingCount(), 0u);
    EXPECT_EQ(count(), 100);
    Stmt s = db().prepare(
        "SELECT COUNT(DISTINCT date_or_no), MIN(date_or_no), MAX(date_or_no), SUM(deb_cents) "
        "FROM CaGlide");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.i64(0), 100);
    EXPECT_EQ(s.i64(1), 1);
    EXPECT_EQ(s.i64(2), 100);
    EXPECT_EQ(s.i64(3), 5050 * 100);
}

TEST_F(StoreBatchTest, SaveUpdatesAndDeletesAsFlagged) {
    TCaGlide keep = journalRow("1001", "2024-03-01", 10, 0);
    TCaGlide drop = journalRow("1001", "2024-03-02", 20, 0);
    ASSERT_TRUE(keep.Insert(true) && drop.Insert(true));

    TCaGlide copy(kStatementTable);
    copy.CopyFrom(keep);
    EXPECT_EQ(copy.TableName(), kStatementTable) << "CopyFrom changed the table";
    EXPECT_EQ(copy.Id, keep.Id);

    TCaGlideMng cash(kCashJournalTable);
    auto upd = std::make_unique<TCaGlide>(keep);
    upd->OperFlag = "1";
    upd->DebMoney = 11;
    auto del = std::make_unique<TCaGlide>(drop);
    del->OperFlag = "2";
    cash.Add(std::move(upd));
    cash.Add(std::move(del));
    addPending(cash, 1);
    cash.Save();
    Stmt s = db().prepare("SELECT id, deb_cents, summary FROM CaGlide ORDER BY id");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.i64(0), keep.Id);
    EXPECT_EQ(s.i64(1), 1100);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(2), "第1行");
    const std::int64_t newId = s.i64(0);
    EXPECT_FALSE(s.step());

    // A deleted row's id is never given again, so an object still holding it
    // cannot overwrite a newer row.
    EXPECT_GT(newId, drop.Id);
    drop.DebMoney = 1;
    EXPECT_FALSE(drop.Update(true));
    EXPECT_NE(drop.ErrorText.find("不存在"), std::string::npos) << drop.ErrorText;
}

TEST_F(StoreBatchTest, DiscardPendingDropsOnlyTheLaterRows) {
    TCaGlideMng mng(kCashJournalTable);
    addPending(mng, 5);
    TCaGlide* first = mng.PendingAt(0);
    TCaGlide* third = mng.PendingAt(2);
    mng.DiscardPending(3);
    ASSERT_EQ(mng.PendingCount(), 3u);
    EXPECT_EQ(mng.PendingAt(0), first);
    EXPECT_EQ(mng.PendingAt(2), third);
    mng.DiscardPending(10);
    EXPECT_EQ(mng.PendingCount(), 3u);
    mng.Save();
    EXPECT_EQ(count(), 3);
    addPending(mng, 2);
    mng.DiscardPending();
    EXPECT_EQ(mng.PendingCount(), 0u);
    mng.Save();
    EXPECT_EQ(count(), 3);
}

}  // namespace
