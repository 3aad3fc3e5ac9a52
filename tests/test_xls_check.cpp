// The check of .xls files before the workbook reader opens them: workbooks
// written here (BIFF8 with shared strings, BIFF5 by the demo's writer) in
// compound files of several layouts pass and read; each damaged field is
// refused with the fault it is about, and the reader reports it as a damaged
// file.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ImportFiles.h"
#include "XlsCheck.h"
#include "XlsWriter.h"

namespace {

using ledgerhost::checkXls;
using ledgerhost::XlsFault;

constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;

std::string u16(std::uint16_t v) {
    return {char(v & 0xFF), char(v >> 8)};
}
std::string u32(std::uint32_t v) {
    return u16(v & 0xFFFF) + u16(v >> 16);
}
void set16(std::string& s, std::size_t at, std::uint16_t v) {
    s.replace(at, 2, u16(v));
}
void set32(std::string& s, std::size_t at, std::uint32_t v) {
    s.replace(at, 4, u32(v));
}
std::string rec(std::uint16_t type, const std::string& body) {
    return u16(type) + u16(static_cast<std::uint16_t>(body.size())) + body;
}
// A BIFF8 string: 16-bit count, options byte, then the characters.
std::string str8(const std::string& text, std::uint8_t options = 0) {
    std::string chars;
    for (char c : text)
        chars += options & 1 ? u16(static_cast<unsigned char>(c)) : std::string(1, c);
    return u16(static_cast<std::uint16_t>(text.size())) + char(options) + chars;
}

// A BIFF8 workbook stream: globals (BOF, CODEPAGE, `globals`, the sheet, EOF)
// then one sheet of 3 rows × 2 columns (without the extent when `dimension`
// is false) holding `cells`.
std::string biff8(const std::string& globals, const std::string& cells, bool dimension = true) {
    const std::string bof = u16(0x0600) + u16(5) + std::string(12, '\0');
    std::string head = rec(0x0809, bof) + rec(0x0042, u16(1200)) + globals;
    const std::uint32_t sheetAt = static_cast<std::uint32_t>(head.size() + 4 + 10 + 4);
    head += rec(0x0085, u32(sheetAt) + std::string(2, '\0') + char(2) + char(0) + "S1");
    head += rec(0x000A, "");
    const std::string sheetBof = u16(0x0600) + u16(0x10) + std::string(12, '\0');
    const std::string extent = u32(0) + u32(3) + u16(0) + u16(2) + u16(0);
    return head + rec(0x0809, sheetBof) + (dimension ? rec(0x0200, extent) : "") + cells +
           rec(0x000A, "");
}
// The same in BIFF5: code page bytes, 8-bit name lengths.
std::string biff5(const std::string& globals, const std::string& cells) {
    const std::string bof = u16(0x0500) + u16(5) + u32(0);
    std::string head = rec(0x0809, bof) + rec(0x0042, u16(936)) + globals;
    const std::uint32_t sheetAt = static_cast<std::uint32_t>(head.size() + 4 + 9 + 4);
    head += rec(0x0085, u32(sheetAt) + std::string(2, '\0') + char(2) + "S1") + rec(0x000A, "");
    const std::string extent = u16(0) + u16(3) + u16(0) + u16(2) + u16(0);
    return head + rec(0x0809, u16(0x0500) + u16(0x10) + u32(0)) + rec(0x0200, extent) + cells +
           rec(0x000A, "");
}
std::string sst(std::uint32_t count, const std::string& strings) {
    return rec(0x00FC, u32(count) + u32(count) + strings);
}
std::string labelSst(std::uint16_t row, std::uint16_t col, std::uint32_t index) {
    return rec(0x00FD, u16(row) + u16(col) + u16(0) + u32(index));
}
std::string number(std::uint16_t row, std::uint16_t col, double v, std::uint16_t xf = 0) {
    std::string bits(8, '\0');
    std::memcpy(bits.data(), &v, 8);
    return rec(0x0203, u16(row) + u16(col) + u16(xf) + bits);
}
// An XF record giving cells the number format `format`.
std::string xf(std::uint16_t format) {
    return rec(0x00E0, u16(0) + u16(format) + std::string(16, '\0'));
}

// The shared strings: "alpha" in the SST record, "beta!!" in 16-bit
// characters split over the first CONTINUE record, and "xyz" whose two
// formatting runs spill over into the second.
const std::string kShared = sst(3, str8("alpha") + u16(6) + char(1) + std::string("b\0e\0", 4)) +
                            rec(0x003C, char(1) + std::string("t\0a\0!\0!\0", 8) + u16(3) +
                                            char(8) + u16(2) + "xyz" + std::string(3, '\0')) +
                            rec(0x003C, std::string(5, '\0'));
const std::string kSharedCells = labelSst(0, 0, 0) + labelSst(0, 1, 1) + labelSst(1, 0, 2) +
                                 rec(0x0204, u16(2) + u16(0) + u16(0) + str8("wide", 1)) +
                                 number(2, 1, 0);

// A compound file around one stream named `name`: FAT sectors, then a DIFAT
// sector (when the FAT is named there rather than in the header), the
// directory, a mini FAT (when the stream lives in the mini stream) and the
// stream's sectors. The layout is kept for tests that damage one field.
struct Compound {
    std::string bytes;
    std::uint32_t sectorSize;
    std::size_t dir, fat;  // offsets of the first directory and FAT sector
    std::uint32_t data;    // first sector of the stream (or the mini stream)
};
struct Layout {
    int shift = 9;
    bool mini = false;
    bool difat = false;
};
Compound compound(const std::string& name, std::string stream, Layout l = {}) {
    const std::uint32_t ss = 1u << l.shift, per = ss / 4;
    const auto size = static_cast<std::uint32_t>(stream.size());
    std::string miniFat;
    if (l.mini) {
        const std::uint32_t n = (size + 63) / 64;
        for (std::uint32_t i = 0; i < n; ++i) miniFat += u32(i + 1 < n ? i + 1 : kEnd);
        miniFat.resize(ss, '\xFF');
        stream.resize(n * 64, '\0');
    }
    const auto rootSize = static_cast<std::uint32_t>(l.mini ? stream.size() : 0);
    stream.resize((stream.size() + ss - 1) / ss * ss, '\0');
    const auto dataSectors = static_cast<std::uint32_t>(stream.size() / ss);
    const std::uint32_t other = 1 + l.mini + l.difat;
    std::uint32_t fatSectors = 1;
    while (fatSectors * per < fatSectors + other + dataSectors) ++fatSectors;
    const std::uint32_t difatAt = fatSectors, dirAt = fatSectors + l.difat, miniFatAt = dirAt + 1,
                        dataAt = dirAt + 1 + l.mini;

    std::string out = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(16, '\0');
    out += u16(0x3E) + u16(l.shift == 12 ? 4 : 3) + u16(0xFFFE) + u16(l.shift) + u16(6);
    out += std::string(6, '\0') + u32(l.shift == 12 ? 1 : 0) + u32(fatSectors) + u32(dirAt) +
           u32(0) + u32(4096) + u32(l.mini ? miniFatAt : kEnd) + u32(l.mini) +
           u32(l.difat ? difatAt : kEnd) + u32(l.difat);
    for (std::uint32_t i = 0; i < 109; ++i) out += u32(!l.difat && i < fatSectors ? i : kFree);
    out.resize(ss, '\0');

    std::string fat;
    for (std::uint32_t i = 0; i < fatSectors; ++i) fat += u32(0xFFFFFFFD);
    if (l.difat) fat += u32(0xFFFFFFFC);
    fat += u32(kEnd);              // the directory
    if (l.mini) fat += u32(kEnd);  // the mini FAT
    for (std::uint32_t i = 0; i < dataSectors; ++i)
        fat += u32(i + 1 < dataSectors ? dataAt + i + 1 : kEnd);
    fat.resize(std::size_t{fatSectors} * ss, '\xFF');
    std::string difat;
    if (l.difat) {
        for (std::uint32_t i = 0; i < fatSectors; ++i) difat += u32(i);
        difat.resize(ss - 4, '\xFF');
        difat += u32(kEnd);
    }
    auto entry = [](const std::string& n, char type, std::uint32_t start, std::uint32_t sz) {
        std::string e;
        for (char c : n) e += u16(static_cast<unsigned char>(c));
        e.resize(64, '\0');
        e += u16(static_cast<std::uint16_t>((n.size() + 1) * 2)) + type + char(1);
        e += u32(kFree) + u32(kFree) + u32(type == 5 ? 1 : kFree) + std::string(36, '\0');
        return e + u32(start) + u32(sz) + u32(0);
    };
    std::string dir = entry("Root Entry", 5, l.mini ? dataAt : kEnd, rootSize) +
                      entry(name, 2, l.mini ? 0 : dataAt, size);
    dir.resize(ss, '\0');
    return {out + fat + difat + dir + miniFat + stream, ss, (std::size_t{dirAt} + 1) * ss, ss,
            dataAt};
}

std::size_t sectorAt(const Compound& c, std::uint32_t s) {
    return (std::size_t{s} + 1) * c.sectorSize;
}
// The FAT slot of sector s (the FAT's first sector holds it in these files).
std::size_t fatSlot(const Compound& c, std::uint32_t s) {
    return c.fat + 4 * std::size_t{s};
}

std::string biff5Book(std::size_t rows = 3) {
    std::vector<xlswriter::Cell> cells;
    for (std::size_t r = 0; r < rows; ++r) {
        const auto row = static_cast<std::uint16_t>(r);
        cells.push_back({row, 0, "r" + std::to_string(r)});
        cells.push_back({row, 1, "", 1234.5 + r});
        cells.push_back({row, 2, "\xB9\xA4\xD7\xCA"});  // 工资 in GBK
    }
    return xlswriter::biff5Stream(936, cells, false);
}

class XlsCheckFiles : public ::testing::Test {
  protected:
    std::string write(const std::string& bytes) {
        std::string p = dir.filePath(QString::number(++made_) + ".xls").toStdString();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    // The texts of cells A1, B1, A2 and A3 as the reader gives them, or the
    // message of its error.
    std::string read(const std::string& bytes) {
        try {
            ledgerhost::XlsWorkbook book(write(bytes));
            std::string texts;
            for (auto [row, col] : {std::pair{0, 0}, {0, 1}, {1, 0}, {2, 0}})
                texts += book.cell(row, col).text + "|";
            return texts;
        } catch (const ledgerhost::FileReadError& e) {
            return e.what();
        }
    }
    QTemporaryDir dir;
    int made_ = 0;
};

TEST_F(XlsCheckFiles, GoodWorkbooksPassAndRead) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string cells;
    };
    const std::string book8 = biff8(kShared, kSharedCells), cells8 = "alpha|beta!!|xyz|wide|";
    const std::vector<Case> cases = {
        {"BIFF5 by the demo's writer", xlswriter::workbook({{0, 0, "a"}, {1, 0, "", 2}}), "a||2||"},
        {"BIFF8 with shared strings", compound("Workbook", book8).bytes, cells8},
        {"4096-byte sectors", compound("Workbook", book8, {12}).bytes, cells8},
        {"in the mini stream", compound("Workbook", book8, {9, true}).bytes, cells8},
        {"FAT named by a DIFAT sector", compound("Workbook", book8, {9, false, true}).bytes,
         cells8},
        {"BIFF5 in 4096-byte sectors", compound("Book", biff5Book(), {12}).bytes,
         "r0|1234.5|r1|r2|"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkXls(c.bytes), XlsFault::None) << c.name;
        EXPECT_EQ(read(c.bytes), c.cells) << c.name;
    }
}

TEST(XlsCheck, LargeWorkbookPasses) {
    // 20,000 rows of three cells, about 800 KB: a FAT of several sectors and
    // a long chain; the check is linear in the file.
    const std::string bytes = xlswriter::compoundFile("Book", biff5Book(20000));
    ASSERT_GT(bytes.size(), 700000u);
    EXPECT_EQ(checkXls(bytes), XlsFault::None);
}

TEST(XlsCheck, DamagedCompoundFiles) {
    // Streams padded with zeros (the reader's end mark) to span several sectors.
    const std::string book8 = biff8(kShared, kSharedCells);
    const Compound plain = compound("Workbook", book8 + std::string(4096 - book8.size(), '\0'));
    const Compound mini =
        compound("Workbook", book8 + std::string(2000 - book8.size(), '\0'), {9, true});
    const Compound difat = compound("Workbook", book8, {9, false, true});
    const std::uint32_t sectors = static_cast<std::uint32_t>(plain.bytes.size() / 512 - 1);
    struct Case {
        const char* name;
        const Compound& file;
        std::function<void(std::string&)> damage;
        XlsFault want;
    };
    const std::vector<Case> cases = {
        {"shorter than a header", plain, [](std::string& b) { b.resize(500); }, XlsFault::Header},
        {"1024-byte sectors", plain, [](std::string& b) { set16(b, 30, 10); }, XlsFault::Header},
        {"mini stream cutoff not 4096", plain, [](std::string& b) { set32(b, 56, 512); },
         XlsFault::Header},
        {"FAT sector past the end", plain, [&](std::string& b) { set32(b, 76, sectors); },
         XlsFault::Fat},
        {"same FAT sector twice", plain, [](std::string& b) { set32(b, 80, 0); }, XlsFault::Fat},
        {"DIFAT sector naming itself as the next", difat,
         [&](std::string& b) {
             set32(b, 72, 2);
             set32(b, sectorAt(difat, 1) + 508, 1);
         },
         XlsFault::Fat},
        {"DIFAT count beyond its chain", difat, [](std::string& b) { set32(b, 72, 3); },
         XlsFault::Fat},
        // Found by fuzzing: the reader computes the offset in 32 bits, so
        // (0xFFFFFFFF + 1) × 512 wraps to 0 and it took the header for the
        // directory, with a name length of 0xFFFF.
        {"directory sector 0xFFFFFFFF", plain, [](std::string& b) { set32(b, 48, kFree); },
         XlsFault::Directory},
        {"directory sector past the end", plain, [&](std::string& b) { set32(b, 48, sectors); },
         XlsFault::Directory},
        {"directory chain into a loop", plain,
         [&](std::string& b) { set32(b, fatSlot(plain, 1), 1); }, XlsFault::Directory},
        {"entry name of 66 bytes", plain, [&](std::string& b) { set16(b, plain.dir + 64, 66); },
         XlsFault::EntryName},
        {"entry name of 0xFFFF bytes", plain,
         [&](std::string& b) { set16(b, plain.dir + 128 + 64, 0xFFFF); }, XlsFault::EntryName},
        {"unused entry with an odd name length", plain,
         [&](std::string& b) { set16(b, plain.dir + 3 * 128 + 64, 3); }, XlsFault::EntryName},
        {"stream chain looping", plain,
         [&](std::string& b) { set32(b, fatSlot(plain, plain.data + 1), plain.data); },
         XlsFault::Stream},
        {"stream chain ending early", plain,
         [&](std::string& b) { set32(b, fatSlot(plain, plain.data), kEnd); }, XlsFault::Stream},
        {"stream chain longer than its size", plain,
         [&](std::string& b) { set32(b, plain.dir + 128 + 120, 3584); }, XlsFault::Stream},
        {"stream larger than the file", plain,
         [&](std::string& b) { set32(b, plain.dir + 128 + 120, 0x7FFFFFFF); }, XlsFault::Stream},
        {"stream starting past the end", plain,
         [&](std::string& b) { set32(b, plain.dir + 128 + 116, sectors); }, XlsFault::Stream},
        {"mini FAT count beyond its chain", plain, [](std::string& b) { set32(b, 64, 5); },
         XlsFault::MiniStream},
        // Found by fuzzing: followed up to the count, the loop ran for seconds.
        {"mini FAT chain looping under a count of 2^32 - 1", plain,
         [&](std::string& b) {
             set32(b, 64, 0xFFFFFFFF);
             set32(b, 60, 1);
             set32(b, fatSlot(plain, 1), 1);
         },
         XlsFault::MiniStream},
        {"workbook larger than the mini stream", mini,
         [&](std::string& b) { set32(b, mini.dir + 128 + 120, 2048 + 64); }, XlsFault::MiniStream},
        {"no root entry before the workbook", mini,
         [&](std::string& b) { set16(b, mini.dir, 'r'); }, XlsFault::MiniStream},
        {"mini sector chain looping", mini,
         [&](std::string& b) { set32(b, sectorAt(mini, mini.data - 1) + 4, 0); },
         XlsFault::MiniStream},
        {"mini stream chain ending early", mini,
         [&](std::string& b) { set32(b, fatSlot(mini, mini.data), kEnd); }, XlsFault::MiniStream},
    };
    for (const Case& c : cases) {
        std::string bytes = c.file.bytes;
        c.damage(bytes);
        EXPECT_EQ(checkXls(bytes), c.want) << c.name;
    }
}

TEST(XlsCheck, DamagedRecords) {
    std::string sixteenBit = rec(0x0204, u16(0) + u16(0) + u16(0) + str8("wide", 1));
    sixteenBit[4 + 7] = 3;  // claims 0x0304 characters
    std::string xfs;
    for (int i = 0; i < 8193; ++i) xfs += rec(0x00E0, std::string(20, '\0'));
    std::string longLabel = biff5Book();
    const std::size_t label = longLabel.find(std::string("\x04\x02", 2) + u16(10));
    set16(longLabel, label + 4 + 6, 7);  // "r0" is two bytes; the record holds 10 in all
    std::string past = biff8(kShared, kSharedCells);
    const std::string dayMonth = rec(0x041E, u16(164) + str8("d-mmm"));
    auto rkCell = [](std::uint32_t rk) { return rec(0x027E, u16(0) + u16(0) + u16(0) + u32(rk)); };
    set16(past, past.size() - 2, 8);  // the final EOF claims 8 bytes
    struct Case {
        const char* name;
        std::string stream;
        XlsFault want;
    };
    const std::vector<Case> cases = {
        {"BIFF5 LABEL longer than its record", longLabel, XlsFault::String},
        {"BIFF8 LABEL of 16-bit characters beyond its record", biff8("", sixteenBit),
         XlsFault::String},
        {"record past the end of the stream", past, XlsFault::Record},
        {"record longer than 8224 bytes",
         biff8("", rec(0x0203, std::string(9000, '\0')) + number(0, 1, 0)), XlsFault::Record},
        {"first record not a BOF", rec(0x0042, u16(1200)) + biff8("", ""), XlsFault::Record},
        {"NUMBER without its value", biff8("", rec(0x0203, std::string(10, '\0'))),
         XlsFault::Record},
        {"FORMAT string beyond its record",
         biff8(rec(0x041E, u16(164) + str8("yyyy-mm-dd").substr(0, 8)), ""), XlsFault::String},
        {"sheet name beyond its record",
         biff8("", "").replace(4 + 16 + 4 + 2 + 4 + 6, 1, 1, char(40)), XlsFault::String},
        {"sheet starting past the stream",
         biff8("", "").replace(4 + 16 + 4 + 2 + 4, 4, u32(100000)), XlsFault::Sheet},
        {"SST count larger than its records could hold",
         biff8(sst(100, str8("alpha") + str8("beta")), labelSst(0, 0, 0)), XlsFault::SharedStrings},
        {"SST string going on beyond the next record",
         biff8(sst(1, u16(60) + char(0) + std::string(10, 'a')) +
                   rec(0x003C, char(0) + std::string(20, 'b')) +
                   rec(0x003C, char(0) + std::string(30, 'c')),
               ""),
         XlsFault::SharedStrings},
        {"SST formatting runs beyond the next record",
         biff8(sst(2, str8("ab", 8).insert(3, u16(100))) + rec(0x003C, std::string(8, '\0')), ""),
         XlsFault::SharedStrings},
        {"SST string header cut at the end of the record",
         biff8(sst(2, str8("ab") + u16(2)) + rec(0x003C, char(0) + std::string("cd")), ""),
         XlsFault::SharedStrings},
        {"LABELSST index past the table", biff8(kShared, labelSst(0, 0, 3)),
         XlsFault::SharedStrings},
        {"LABELSST without a table", biff8("", labelSst(0, 0, 0)), XlsFault::SharedStrings},
        {"more cell formats than the reader holds", biff8(xfs, ""), XlsFault::Formats},
        {"encrypted", biff8(rec(0x002F, std::string(54, '\0')), ""), XlsFault::Encrypted},
        // Found by fuzzing: a second extent too large to allocate left the
        // reader with the first, smaller block of cells and the new size.
        {"a second extent for the sheet",
         biff8("", rec(0x0200, u32(0) + u32(0x7D000000) + u16(0) + u16(2) + u16(0))),
         XlsFault::Sheet},
        {"an extent of more cells than a full sheet",
         biff8("", rec(0x0200, u32(0) + u32(65537) + u16(0) + u16(256) + u16(0)), false),
         XlsFault::Sheet},
        {"an extent of a full sheet",
         biff8("", rec(0x0200, u32(0) + u32(65536) + u16(0) + u16(256) + u16(0)), false),
         XlsFault::None},
        {"without an extent, a cell beyond 256 MB of cells",
         biff8("", number(0, 0, 1) + number(65535, 256, 2), false), XlsFault::Sheet},
        {"without an extent, cells within reach",
         biff8("", number(0, 0, 1) + number(9, 9, 2), false), XlsFault::None},
        {"built-in date format, day past 9999-12-31", biff8(xf(14), number(0, 0, 2958466)),
         XlsFault::Date},
        {"RK integer in a date and time format", biff8(xf(22), rkCell(3000000 << 2 | 2)),
         XlsFault::Date},
        {"custom date format", biff8(dayMonth + xf(164), number(0, 0, 1e9)), XlsFault::Date},
        // BIFF5: the reader takes the format's length from its first
        // character ('d' here, so it reads on past the record).
        {"BIFF5 custom date format",
         biff5(rec(0x041E, u16(164) + char(5) + "d-mmm") + xf(164), number(0, 0, 1e9)),
         XlsFault::Date},
        {"BIFF5 amount format",
         biff5(rec(0x041E, u16(164) + char(8) + "#,##0.00") + xf(164), number(0, 0, 1e9)),
         XlsFault::None},
        {"the last day Excel shows", biff8(xf(14), number(0, 0, 2958465.5)), XlsFault::None},
        {"large amount in a number format", biff8(xf(4), number(0, 0, 1e12)), XlsFault::None},
        {"large amount in a time format", biff8(xf(20), number(0, 0, 1e12)), XlsFault::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkXls(compound("Workbook", c.stream).bytes), c.want) << c.name;
}

// The reader gives the damaged-file message for a refused file (the check
// runs before it opens the file) and its own for an encrypted one.
TEST_F(XlsCheckFiles, RefusedFilesGiveTheDamagedFileMessage) {
    std::string damaged = xlswriter::workbook({{0, 0, "a"}});
    set32(damaged, 48, kFree);
    const std::string path = write(damaged);
    try {
        ledgerhost::XlsWorkbook book(path);
        ADD_FAILURE() << "opened";
    } catch (const ledgerhost::FileReadError& e) {
        EXPECT_EQ(std::string(e.what()), "无法读取文件 " + path + "：文件已损坏");
    }
    EXPECT_NE(read(xlswriter::workbook({{0, 0, "a"}}, 936, true)).find("文件设有密码保护"),
              std::string::npos);
}

}  // namespace
