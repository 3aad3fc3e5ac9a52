// The host's small building blocks: reference-counted strings, handles, the
// text codec and the regional parsers.

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

}  // namespace
