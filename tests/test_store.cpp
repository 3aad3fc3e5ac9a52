// The host's store and its small building blocks: the database file and its
// transactions, cents, reference-counted strings, handles, the text codec and
// the regional parsers; then the store operations of journal rows, the voucher
// lookup and the bank-account manager.

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

using namespace ledgerhost;

namespace {

std::int64_t countRows(Database& db, const std::string& table) {
    Stmt s = db.prepare("SELECT COUNT(*) FROM " + table);
    s.step();
    return s.i64(0);
}

// ---- database file, transactions, cents ----

class StoreTest : public testutil::BookTest {
  protected:
    TCaGlide journalRow(const std::string& asCode, const std::string& date, double deb, double cre,
                        const std::string& table = kCashJournalTable) {
        TCaGlide r(table);
        r.SetCode = "001";
        r.AS_Code = asCode;
        r.CreateDate = date;
        r.DebMoney = deb;
        r.CreMoney = cre;
        r.Summary = "测试";
        return r;
    }
    std::int64_t count(const std::string& table = kCashJournalTable) {
        return countRows(db(), table);
    }
};

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
                EXPECT_NE(std::string(e.what()).find("缺少 CaGlide_account_date"), std::string::npos)
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

// ---- reference-counted strings ----

TEST(StoreHostString, CountsReferencesAndFreesWithTheLast) {
    HostStr a = hostStrNew(std::string_view("a\0b", 3));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(hostStrLength(a), 3u);
    EXPECT_EQ(hostStrValue(a), std::string("a\0b", 3));
    EXPECT_EQ(a[3], '\0');
    EXPECT_EQ(hostStrRefCount(a), 1);

    HostStr b = hostStrAddRef(a);
    EXPECT_EQ(b, a);
    EXPECT_EQ(hostStrRefCount(a), 2);
    hostStrRelease(&a);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(hostStrRefCount(b), 1);
    EXPECT_EQ(hostStrValue(b), std::string("a\0b", 3));
    hostStrRelease(&b);
    EXPECT_EQ(b, nullptr);
    hostStrRelease(&b);  // releasing an empty variable is harmless
    hostStrRelease(nullptr);
}

TEST(StoreHostString, EmptyIsNullptr) {
    HostStr e = hostStrNew("");
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(hostStrLength(e), 0u);
    EXPECT_EQ(hostStrRefCount(e), 0);
    EXPECT_EQ(hostStrValue(e), "");
    EXPECT_EQ(hostStrAddRef(e), nullptr);
}

TEST(StoreHostString, AssignReleasesTheOldValue) {
    HostStr a = hostStrNew("旧值");
    HostStr kept = hostStrAddRef(a);
    hostStrAssign(&a, "新值");
    EXPECT_EQ(hostStrValue(a), "新值");
    EXPECT_EQ(hostStrRefCount(a), 1);
    EXPECT_EQ(hostStrRefCount(kept), 1) << "the old value kept its reference";
    EXPECT_EQ(hostStrValue(kept), "旧值");

    // Assigning a variable its own characters must copy before releasing.
    hostStrRelease(&kept);
    hostStrAssign(&a, std::string_view(a, hostStrLength(a)));
    EXPECT_EQ(hostStrValue(a), "新值");

    hostStrAssign(&a, "");
    EXPECT_EQ(a, nullptr);
}

// ---- handles ----

struct Widget1 {
    int v = 1;
};
struct Widget2 {
    int v = 2;
};

TEST(StoreHandles, ResolveChecksTheTypeAndRemoveForgets) {
    Widget1 w1, other;
    Widget2 w2;
    std::uint32_t h = registerHandle(&w1);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(registerHandle(&w1), h) << "an object keeps its handle";
    EXPECT_NE(registerHandle(&other), h);
    EXPECT_EQ(resolveHandle<Widget1>(h), &w1);
    EXPECT_EQ(resolveHandle<Widget2>(h), nullptr) << "a handle resolved as another type";
    std::uint32_t h2 = registerHandle(&w2);
    EXPECT_EQ(resolveHandle<Widget2>(h2), &w2);
    EXPECT_EQ(resolveHandle<Widget1>(h2), nullptr);

    EXPECT_EQ(registerHandle<Widget1>(nullptr), 0u);
    EXPECT_EQ(resolveHandle<Widget1>(0), nullptr);

    handleRemove(h);
    EXPECT_EQ(resolveHandle<Widget1>(h), nullptr);
    EXPECT_EQ(handleFind(&w1, typeid(Widget1)), 0u);
    EXPECT_EQ(resolveHandle<Widget2>(h2), &w2) << "removing one handle dropped another";
    handleRemove(h2);
    handleRemove(registerHandle(&other));
    handleRemove(0);
}

// ---- text codec ----

TEST(StoreCodec, ValidUtf8) {
    struct Case {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"abc", true},
        {"中文", true},
        {"\xC3\xA9", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xC0\xAF", false},          // overlong '/'
        {"\xE0\x80\xAF", false},      // overlong, three bytes
        {"\xF0\x80\x80\xAF", false},  // overlong, four bytes
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xE4\xB8", false},  // cut short
        {"\x80", false},      // lone continuation
        {"\xFF", false},
        {"a\xE4\xB8\xAD"
         "b",
         true},
        {"\xE4"
         "a"
         "\xAD",
         false},
        {std::string("a\0b", 3), true},
    };
    for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(StoreCodec, GbkRoundTripAndDamagedInput) {
    const std::string text = "中文摘要：收货款（甲公司）ABC 123";
    const std::string gbk = utf8ToGbk(text);
    EXPECT_EQ(gbk.substr(0, 4), "\xD6\xD0\xCE\xC4");  // 中文
    EXPECT_FALSE(isValidUtf8(gbk));
    EXPECT_EQ(gbkToUtf8(gbk), text);

    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string gbk, utf8;
    } damaged[] = {
        {"a\xFF"
         "b",
         "a" + fffd + "b"},
        {"\xD6\xD0\xFF\xCE\xC4", "中" + fffd + "文"},
        {"\xD6", fffd},  // lead byte at the end
        {"\xD6\xD0\xD6", "中" + fffd},
        {"\xFF\xFF", fffd + fffd},
    };
    for (const auto& c : damaged) EXPECT_EQ(gbkToUtf8(c.gbk), c.utf8) << c.gbk;

    EXPECT_EQ(utf8ToGbk("a\xF0\x9F\x98\x80"
                        "b"),
              "a?b");
    EXPECT_EQ(utf8ToGbk("\xF0\x9F\x98\x80\xF0\x9F\x98\x80中"), "??\xD6\xD0");
    EXPECT_EQ(utf8ToGbk(""), "");
}

TEST(StoreCodec, DecodesFileTextAsUtf8OrGbk) {
    EXPECT_EQ(decodeFileText("\xEF\xBB\xBF中文"), "中文");
    EXPECT_EQ(decodeFileText("中文"), "中文");
    EXPECT_EQ(decodeFileText("\xD6\xD0\xCE\xC4"), "中文");
}

// ---- regional parsing ----

// Sets the regional date and decimal settings for one test and puts them back.
class RegionalScope {
  public:
    RegionalScope() : saved_(regional()) {}
    ~RegionalScope() { regional() = saved_; }

  private:
    RegionalSettings saved_;
};

TEST(StoreRegional, ParsesShortDatesInEachForm) {
    RegionalScope keep;
    struct Case {
        const char* format;
        char sep;
        const char* text;
        std::optional<QDate> date;
    } cases[] = {
        {"yyyy-MM-dd", '-', "2024-03-05", QDate(2024, 3, 5)},
        {"yyyy-MM-dd", '-', " 2024-3-5 ", QDate(2024, 3, 5)},
        {"yyyy-MM-dd", '-', "2024-02-29", QDate(2024, 2, 29)},
        {"yyyy-MM-dd", '-', "2024-02-30", std::nullopt},
        {"yyyy-MM-dd", '-', "2023-02-29", std::nullopt},
        {"yyyy-MM-dd", '-', "2024-13-01", std::nullopt},
        {"yyyy-MM-dd", '-', "2024-00-10", std::nullopt},
        {"yyyy-MM-dd", '-', "2024/03/05", std::nullopt},
        {"yyyy/MM/dd", '/', "2024/03/05", QDate(2024, 3, 5)},
        {"yyyy/MM/dd", '/', "2024/04/31", std::nullopt},
        {"dd/MM/yyyy", '/', "05/03/2024", QDate(2024, 3, 5)},
        {"dd/MM/yyyy", '/', "31/12/2024", QDate(2024, 12, 31)},
        {"dd/MM/yyyy", '/', "30/02/2024", std::nullopt},
        {"dd/MM/yyyy", '/', "2024/03/05", std::nullopt},
        {"MM-dd-yy", '-', "03-05-24", QDate(2024, 3, 5)},
        {"MM-dd-yy", '-', "12-31-99", QDate(1999, 12, 31)},
        {"MM-dd-yy", '-', "02-29-23", std::nullopt},
        {"MM-dd-yy", '-', "03-05-2024", QDate(2024, 3, 5)},
        {"MM-dd-yy", '-', "03-05-202", std::nullopt},
    };
    for (const auto& c : cases) {
        regional().shortDateFormat = c.format;
        regional().dateSeparator = c.sep;
        EXPECT_EQ(parseShortDate(c.text), c.date) << c.format << " " << c.text;
    }
}

TEST(StoreRegional, RefusesGarbageAndAlwaysReadsIsoDates) {
    RegionalScope keep;
    const char* garbage[] = {
        "",         "   ",        "abc",       "2024-03",     "2024-03-05x", "2024-03-05-01",
        "2024--05", "x024-03-05", "2024-3-0x", "-2024-03-05", "20240305"};
    for (const char* format : {"yyyy-MM-dd", "yyyy/MM/dd", "dd/MM/yyyy", "MM-dd-yy"}) {
        regional().shortDateFormat = format;
        regional().dateSeparator = format[4] == '/' || format[2] == '/' ? '/' : '-';
        EXPECT_EQ(parseShortDate("2024-03-05"), QDate(2024, 3, 5)) << format;
        EXPECT_EQ(parseShortDate("2024-02-30"), std::nullopt) << format;
        for (const char* g : garbage)
            EXPECT_EQ(parseShortDate(g), std::nullopt) << format << " " << g;
    }
    // parseDate itself reads only the form and separator it is given.
    EXPECT_EQ(parseDate("2024-03-05", "yyyy/MM/dd", '/'), std::nullopt);
    EXPECT_EQ(parseDate("2024-03-05", "dd/MM/yyyy", '/'), std::nullopt);
    EXPECT_EQ(parseDate("2024/03/05", "yyyy-MM-dd", '-'), std::nullopt);
    EXPECT_EQ(parseDate("2024/03/05", "yyyy/MM/dd", '/'), QDate(2024, 3, 5));
    EXPECT_EQ(isoDate(QDate(2024, 3, 5)), "2024-03-05");
}

TEST(StoreRegional, ParsesDecimals) {
    RegionalScope keep;
    regional().decimalSeparator = '.';
    struct Case {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"5000.50", 5000.5},
        {"-1", -1.0},
        {" 12 ", 12.0},
        {"1e3", 1000.0},
        {"1E-2", 0.01},
        {"+5", 5.0},
        {"0.1", 0.1},
        {".5", 0.5},
        {"-0.01", -0.01},
        {"2.5e+2", 250.0},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"abc", std::nullopt},
        {"1,000", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1e", std::nullopt},
        {"e3", std::nullopt},
        {"-", std::nullopt},
        {"12a", std::nullopt},
        {"1 2", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {"nan", std::nullopt},
        {"inf", std::nullopt},
        {".", std::nullopt},
        {"1e999", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseDecimal(c.text), c.value) << "[" << c.text << "]";

    regional().decimalSeparator = ',';
    EXPECT_EQ(parseDecimal("5000,50"), 5000.5);
    EXPECT_EQ(parseDecimal("5000.50"), std::nullopt);
}

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
    db().exec("INSERT INTO bank_accounts VALUES ('001', '1099', '', '', 1, '1', 0, '')");
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
