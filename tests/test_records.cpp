// The records read from the store: the voucher lookup and the bank-account
// manager.

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

// ---- voucher lookup ----

TEST_F(StoreTest, GetVoucherIdFindsTheVoucherOfThatPeriod) {
    db().exec(
        "INSERT INTO vouchers (id, set_code, vdate, voucher_class, voucher_no) VALUES "
        "(11, '001', '2024-03-10', 1, 5), (12, '001', '2024-04-02', 1, 5),"
        "(13, '001', '2024-03-20', 2, 5), (14, '002', '2024-03-10', 1, 6),"
        "(15, '001', '2023-03-10', 1, 7), (16, '001', '2024-03-31', 1, 8),"
        "(17, '001', '2024-02-29', 1, 9), (18, '001', '2024-12-31', 1, 10)");
    struct Case {
        const char* set;
        int year, month, day, voucherClass;
        std::int64_t number;
        const char* id;
    } cases[] = {
        {"001", 2024, 3, 1, 1, 5, "11"},  {"001", 2024, 4, 30, 1, 5, "12"},
        {"001", 2024, 3, 1, 2, 5, "13"},  {"001", 2024, 3, 1, 3, 5, ""},
        {"001", 2024, 5, 1, 1, 5, ""},    {"001", 2024, 0, 0, 1, 5, "11"},
        {"002", 2024, 3, 1, 1, 6, "14"},  {"001", 2024, 3, 1, 1, 6, ""},
        {"001", 2024, 3, 1, 1, 7, ""},    {"001", 2023, 0, 0, 1, 7, "15"},
        {"001", 2024, 0, 0, 1, 7, ""},    {"001", 2024, 3, 1, 1, 8, "16"},
        {"001", 2024, 2, 1, 1, 9, "17"},  {"001", 2024, 12, 1, 1, 10, "18"},
        {"001", 2024, 0, 0, 1, 10, "18"}, {"001", 2024, 3, 1, 1, 0, ""},
        {"", 2024, 3, 1, 1, 5, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetVoucher_id(c.set, c.year, c.month, c.day, c.voucherClass, c.number), c.id)
            << c.set << " " << c.year << "-" << c.month << " " << c.voucherClass << "/" << c.number;
}

// ---- bank accounts ----

TEST_F(StoreTest, BankAccountsAreScopedByBookSet) {
    TBankAccountManage m;
    struct Case {
        const char* set;
        int count;
        const char* first;
    } cases[] = {{"001", 4, "1001"}, {"002", 1, "2001"}, {"", 5, "1001"}, {"009", 0, ""}};
    for (const auto& c : cases) {
        m.SetCode = c.set;
        ASSERT_EQ(m.GetCount(), c.count) << c.set;
        if (c.count) {
            EXPECT_EQ(m.GetDetail(0)->AsCode, c.first);
        }
        EXPECT_FALSE(m.GetDetail(c.count));
        EXPECT_FALSE(m.GetDetail(-1));
    }
    m.SetCode = "001";
    EXPECT_EQ(m.DetailByName("6222001")->AsCode, "1001");
    EXPECT_FALSE(m.DetailByName("6222201")) << "found another book set's account";
    EXPECT_EQ(m.DetailByDispName("库存现金")->AsCode, "1010");
    EXPECT_FALSE(m.DetailByDispName("分公司户"));
    m.SetCode = "002";
    EXPECT_EQ(m.DetailByName("6222201")->SetCode, "002");
    EXPECT_EQ(m.DetailByCode("001", "1003")->AccountName, "农行专户");
    EXPECT_FALSE(m.DetailByCode("002", "1003"));
}

TEST_F(StoreTest, BankAccountLookupsByEmptyTextFindNothing) {
    db().exec(
        "INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, "
        "opening_cents, subject_code) VALUES ('001', '1099', '', '', 1, '1', 0, '')");
    TBankAccountManage m;
    m.SetCode = "001";
    ASSERT_EQ(m.GetCount(), 5);
    EXPECT_FALSE(m.DetailByName(""));
    EXPECT_FALSE(m.DetailByDispName(""));
    EXPECT_FALSE(m.DetailByName("nobody"));
    EXPECT_FALSE(m.DetailByDispName("nobody"));
}

TEST_F(StoreTest, ClearObjectsLeavesHeldAccountsIntactAndReloads) {
    TBankAccountManage m;
    m.SetCode = "001";
    BankAccountPtr held = m.DetailByName("6222001");
    ASSERT_TRUE(held);
    db().exec("UPDATE bank_accounts SET name = '改名' WHERE as_code = '1001'");
    m.ClearObjects();
    EXPECT_EQ(held->AccountName, "工行基本户");
    EXPECT_EQ(held->OpeningBalance, 1000.0);
    EXPECT_EQ(held->State, kAccountInUse);
    BankAccountPtr fresh = m.DetailByName("6222001");
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->AccountName, "改名");
    EXPECT_NE(fresh.get(), held.get());
    EXPECT_EQ(m.DetailByName("6222002")->State, kAccountStopped);
}

}  // namespace
