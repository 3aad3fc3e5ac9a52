// The host's small building blocks: reference-counted strings, handles, the
// text codec and the regional parsers.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "Codec.h"
#include "Digest.h"
#include "Fixture.h"
#include "Glide.h"
#include "Handles.h"
#include "HostString.h"
#include "Numbers.h"
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

// A long text is decoded through a table of the code page's characters;
// it must read exactly as iconv reads it, damaged bytes and characters the
// table lacks (GB18030's four-byte ones) included. Each line alone is short
// enough to go through iconv, so the lines decoded one by one are iconv's
// reading of the whole.
TEST(StoreCodec, LongTextDecodesAsIconvDoes) {
    std::vector<std::string> lines;
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
        std::string line = "x";
        for (unsigned trail = 0x20; trail <= 0xFF; ++trail) {
            line += static_cast<char>(lead);
            line += static_cast<char>(trail);
        }
        lines.push_back(line);
        lines.push_back(std::string(1, static_cast<char>(lead)) + "y");
    }
    lines.push_back("\x81\x30\x81\x30\x95\x32\x82\x36 end");  // GB18030 four bytes
    lines.push_back("\xD6\xD0\xFF\xCE");
    for (const char* codePage : {"GBK", "GB18030", "BIG5"}) {
        std::string whole, expected;
        while (whole.size() < 600 * 1024)
            for (const std::string& line : lines) {
                whole += line + "\n";
                expected += toUtf8(line, codePage) + "\n";
            }
        EXPECT_TRUE(toUtf8(whole, codePage) == expected) << codePage;
    }
}

TEST(StoreCodec, DecodesFileTextAsUtf8OrGbk) {
    const std::string gbk = utf8ToGbk("工商银行^收到货款");
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;     // when read
        const char* refused;  // else the start of the reason
    };
    const Case cases[] = {
        {"UTF-8 with BOM", "\xEF\xBB\xBF中文", "中文", nullptr},
        {"UTF-8", "中文", "中文", nullptr},
        {"GBK", "\xD6\xD0\xCE\xC4", "中文", nullptr},
        {"GBK lines around ASCII ones", "a\r\n" + gbk + "\n" + gbk + "\rb",
         "a\r\n工商银行^收到货款\n工商银行^收到货款\rb", nullptr},
        {"a short GBK word that is valid UTF-8, among GBK lines",
         gbk + "\n" + utf8ToGbk("支取") + "\n", "工商银行^收到货款\n支取\n", nullptr},
        {"a NUL byte cuts nothing short", "abc\r\nde" + std::string(1, '\0') + "f\r\n", "",
         "第 2 行含有空字符"},
        {"one UTF-8 line in a GBK file", gbk + "\r\n" + gbk + "\r\n工商银行\r\n" + gbk, "",
         "第 3 行的编码与文件其余各行不同"},
        {"one GBK line in a UTF-8 file", "工商银行\n收到货款\n" + gbk + "\n", "",
         "第 3 行的编码与文件其余各行不同"},
        {"a GBK word in a UTF-8 file", "工商银行\n收到货款\n" + utf8ToGbk("支取") + "\n", "",
         "第 3 行的编码与文件其余各行不同"},
        {"a GBK line after a BOM", "\xEF\xBB\xBF中文\n" + gbk, "", "第 2 行的编码"},
    };
    // A file read in pieces (split anywhere for the scan, after line breaks
    // for the decoding) reads as the whole does.
    auto inPieces = [](const std::string& bytes, std::size_t size) {
        TextDecoding d;
        for (std::size_t at = 0; at < bytes.size(); at += size) d.scan(bytes.substr(at, size));
        const bool check = d.finishScan();
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < bytes.size();) {
            std::size_t end = bytes.find_first_of("\r\n", at + size);
            if (end != std::string::npos && bytes[end] == '\r' && end + 1 < bytes.size() &&
                bytes[end + 1] == '\n')
                ++end;
            end = end == std::string::npos ? bytes.size() : end + 1;
            lines.push_back(bytes.substr(at, end - at));
            at = end;
        }
        if (check)
            for (const std::string& l : lines) d.checkCodePage(l);
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i) text += d.decode(lines[i], i == 0);
        return text;
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{5}}) {
            SCOPED_TRACE(std::string(c.what) + " in pieces of " + std::to_string(piece));
            try {
                const std::string text = piece ? inPieces(c.bytes, piece) : decodeFileText(c.bytes);
                EXPECT_EQ(c.refused, nullptr) << "read as " << text;
                if (!c.refused) EXPECT_EQ(text, c.text);
            } catch (const TextFileError& e) {
                ASSERT_NE(c.refused, nullptr) << e.what();
                EXPECT_EQ(std::string(e.what()).rfind(c.refused, 0), 0u) << e.what();
            }
        }
    }
}

// The import log's digest: SHA-256 as it always was, whole or in pieces.
TEST(StoreDigest, Sha256WholeOrInPieces) {
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {big, QCryptographicHash::hash(QByteArray::fromStdString(big), QCryptographicHash::Sha256)
                  .toHex()
                  .toStdString()},
    };
    for (const auto& [bytes, hex] : cases) {
        EXPECT_EQ(contentDigest(bytes), hex);
        ContentDigest pieces;
        for (std::size_t at = 0; at < bytes.size(); at += 65521)
            pieces.add(bytes.substr(at, 65521));
        EXPECT_EQ(pieces.hex(), hex);
    }
}

// Every amount read from a file goes through one parser: exact cents or a
// refusal, never a silent 0 or a rounding.
TEST(StoreAmounts, PlainDecimalsOrARefusal) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> cents;
        const char* why;  // the start of the reason when refused
    };
    const Case cases[] = {
        {"5,000.50", 500050, ""},
        {" 1,234,567.89 ", 123456789, ""},
        {"-0.05", -5, ""},
        {"+12", 1200, ""},
        {"007.1", 710, ""},
        {"9999999999999.99", 999999999999999, ""},
        {"12,3x4.00", std::nullopt, "不是金额"},
        {"#DIV/0!", std::nullopt, "不是金额"},
        {"12,34", std::nullopt, "不是金额"},
        {".5", std::nullopt, "不是金额"},
        {"5.", std::nullopt, "不是金额"},
        {"1e3", std::nullopt, "不是金额"},
        {"", std::nullopt, "不是金额"},
        {"1.005", std::nullopt, "超过两位小数"},
        {"10000000000000", std::nullopt, "超出范围"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        EXPECT_EQ(parseAmountCents(c.text, &why), c.cents);
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    }
    for (const char* dash : {"-", " — ", "－", "--"}) EXPECT_TRUE(isDashOnly(dash)) << dash;
    for (const char* other : {"", " ", "-1", "—0"}) EXPECT_FALSE(isDashOnly(other)) << other;
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
        // The store's quick check of its own dates agrees with the reader.
        if (std::string(c.format) == "yyyy-MM-dd")
            EXPECT_EQ(isIsoDate(c.text), c.date.has_value()) << c.text;
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
