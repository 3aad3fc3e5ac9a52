#include "XlsCheck.h"

#include "Codec.h"
#include "Xlsx.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ledgerhost {

namespace {

constexpr std::string_view kSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::uint32_t kFree = 0xFFFFFFFF;  // an unused FAT or DIFAT slot
constexpr std::uint32_t kEnd = 0xFFFFFFFE;   // the end of a sector chain
constexpr std::uint32_t kMiniCutoff = 4096;  // streams below this live in the mini stream
constexpr std::uint32_t kMiniSector = 64;
constexpr std::size_t kEntrySize = 128;        // a directory entry
constexpr std::size_t kMaxRecord = 8224;       // the reader's record buffer
constexpr std::uint32_t kMaxXf = 8192;         // the reader's table of cell formats
constexpr std::size_t kMaxDateFormats = 2048;  // its table of date and time formats
constexpr double kLastDay = 2958465;           // 9999-12-31, the last date Excel shows

// Record types the reader interprets in a BIFF5 or BIFF8 workbook stream.
enum : std::uint16_t {
    kBof = 0x0809,
    kEof = 0x000A,
    kContinue = 0x003C,
    kSst = 0x00FC,
    kCodePage = 0x0042,
    kDateMode = 0x0022,
    kFilePass = 0x002F,
    kBoundSheet = 0x0085,
    kDimension = 0x0200,
    kFormat = 0x041E,
    kXf = 0x00E0,
    kNumber = 0x0203,
    kBoolErr = 0x0205,
    kRk = 0x027E,
    kMulRk = 0x00BD,
    kLabel = 0x0204,
    kLabelSst = 0x00FD,
    kFormula = 0x0006,
    kString = 0x0207,  // the text result of the formula before it
    kShrFmla = 0x04BC,
    kArray = 0x0221,
    kTable = 0x0236,
};

// The first fault found; thrown to checkXls, which returns it.
struct Refused {
    XlsFault fault;
};
[[noreturn]] void refuse(XlsFault fault) {
    throw Refused{fault};
}

// Little-endian fields; callers have checked that they lie inside `s`.
std::uint32_t le16(std::string_view s, std::uint64_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}
std::uint32_t le32(std::string_view s, std::uint64_t at) {
    return le16(s, at) | le16(s, at + 2) << 16;
}
std::uint8_t byteAt(std::string_view s, std::uint64_t at) {
    return static_cast<unsigned char>(s[at]);
}
double doubleAt(std::string_view s, std::uint64_t at) {
    return std::bit_cast<double>(le32(s, at) | std::uint64_t{le32(s, at + 4)} << 32);
}

// The compound file as the workbook reader sees it: sectors of 512 or 4096
// bytes after the header, and the FAT it builds from the sectors the header
// and the DIFAT sectors name.
class CompoundFile {
  public:
    explicit CompoundFile(std::string_view file);

    // The bytes of the workbook stream the reader will parse; nothing when the
    // reader finds no workbook stream (it reports that itself).
    std::optional<std::string> workbookStream() const;

  private:
    std::string_view sector(std::uint32_t s, XlsFault fault) const;
    std::uint32_t next(std::uint32_t s, XlsFault fault) const;
    std::vector<std::uint32_t> chain(std::uint32_t start, std::uint64_t limit,
                                     XlsFault fault) const;
    std::string stream(std::uint32_t start, std::uint32_t size, XlsFault fault) const;
    std::string miniStream(std::string_view entry, std::optional<std::string_view> root) const;
    void checkMiniChain(std::uint32_t start, std::uint32_t size, std::uint32_t miniSize) const;
    void readFat();
    void readMiniFat();

    std::string_view file_;
    std::uint32_t sectorSize_ = 512;
    std::uint32_t sectors_ = 0;  // whole sectors after the header
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
};

CompoundFile::CompoundFile(std::string_view file) : file_(file) {
    if (file.size() < 512 || file.size() > kMaxXlsFileSize || file.substr(0, 8) != kSignature)
        refuse(XlsFault::Header);
    const std::uint32_t shift = le16(file, 30);
    if ((shift != 9 && shift != 12) || le16(file, 32) != 6 || le32(file, 56) != kMiniCutoff)
        refuse(XlsFault::Header);
    sectorSize_ = 1u << shift;
    // The file is at most 2 GB, so the reader's 32-bit sector offsets do not wrap.
    const std::uint64_t whole = file.size() / sectorSize_;
    sectors_ = whole > 0 ? static_cast<std::uint32_t>(whole - 1) : 0;
    readFat();
    readMiniFat();
}

// A sector the reader reads whole: sector s starts at (s + 1) × sector size.
std::string_view CompoundFile::sector(std::uint32_t s, XlsFault fault) const {
    if (s >= sectors_) refuse(fault);
    return file_.substr((std::uint64_t{s} + 1) * sectorSize_, sectorSize_);
}

std::uint32_t CompoundFile::next(std::uint32_t s, XlsFault fault) const {
    if (s >= fat_.size()) refuse(fault);
    return fat_[s];
}

// The sectors of the chain from `start` to its end mark; a chain longer than
// `limit` (at most the sectors in the file, so also one that loops) or one
// leaving the file is refused.
std::vector<std::uint32_t> CompoundFile::chain(std::uint32_t start, std::uint64_t limit,
                                               XlsFault fault) const {
    // Whatever count the header claims, a longer chain repeats a sector.
    limit = std::min<std::uint64_t>(limit, sectors_);
    std::vector<std::uint32_t> out;
    for (std::uint32_t s = start; s != kEnd; s = next(s, fault)) {
        if (s >= sectors_ || out.size() >= limit) refuse(fault);
        out.push_back(s);
    }
    return out;
}

// The reader takes every FAT sector the header names (any slot not marked
// unused), then follows the DIFAT sectors: the last slot of each names the
// next, and an end mark in any slot ends the list.
void CompoundFile::readFat() {
    const std::uint32_t perSector = sectorSize_ / 4;
    std::vector<std::uint32_t> fatSectors;
    for (std::uint32_t i = 0; i < 109; ++i)
        if (std::uint32_t s = le32(file_, 76 + 4 * i); s != kFree) fatSectors.push_back(s);

    const std::uint32_t difatSectors = le32(file_, 72);
    std::vector<bool> seen(sectors_);
    std::uint32_t at = le32(file_, 68);
    for (std::uint32_t read = 0; read < difatSectors;) {
        std::string_view d = sector(at, XlsFault::Fat);
        if (seen[at]) refuse(XlsFault::Fat);
        seen[at] = true;
        ++read;
        bool end = false;
        for (std::uint32_t i = 0; i < perSector && !end; ++i) {
            const std::uint32_t s = le32(d, 4 * i);
            if (s == kEnd)
                end = true;
            else if (i == perSector - 1)
                at = s;
            else if (s != kFree)
                fatSectors.push_back(s);
        }
        if (end && read != difatSectors) refuse(XlsFault::Fat);
        if (end) break;
    }

    if (fatSectors.size() > sectors_) refuse(XlsFault::Fat);
    std::vector<bool> used(sectors_);
    fat_.reserve(fatSectors.size() * perSector);
    for (std::uint32_t s : fatSectors) {
        std::string_view d = sector(s, XlsFault::Fat);
        if (used[s]) refuse(XlsFault::Fat);
        used[s] = true;
        for (std::uint32_t i = 0; i < perSector; ++i) fat_.push_back(le32(d, 4 * i));
    }
}

// The `size` bytes of the stream starting at sector `start`. The reader only
// stops at the chain's end mark, so the chain has to end right after the
// sectors the size needs.
std::string CompoundFile::stream(std::uint32_t start, std::uint32_t size, XlsFault fault) const {
    const std::uint64_t needed = (std::uint64_t{size} + sectorSize_ - 1) / sectorSize_;
    if (needed > sectors_) refuse(fault);
    const std::vector<std::uint32_t> sectors = chain(start, needed, fault);
    if (sectors.size() != needed) refuse(fault);
    std::string out;
    out.reserve(needed * sectorSize_);
    for (std::uint32_t s : sectors) out += sector(s, fault);
    out.resize(size);
    return out;
}

// True when the entry's name, as far as its first NUL, is `name`.
bool named(std::string_view entry, std::string_view name) {
    const std::size_t units = le16(entry, 64) / 2;
    std::size_t n = 0;
    while (n < units && le16(entry, 2 * n) != 0) ++n;
    if (n != name.size()) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (le16(entry, 2 * i) != static_cast<unsigned char>(name[i])) return false;
    return true;
}

std::optional<std::string> CompoundFile::workbookStream() const {
    const std::vector<std::uint32_t> dir = chain(le32(file_, 48), sectors_, XlsFault::Directory);
    if (dir.empty()) refuse(XlsFault::Directory);
    // The reader converts each name with the length stored in its entry.
    for (std::uint32_t s : dir) {
        std::string_view d = sector(s, XlsFault::Directory);
        for (std::size_t e = 0; e < sectorSize_; e += kEntrySize)
            if (std::uint32_t n = le16(d, e + 64); n > 64 || n % 2 != 0)
                refuse(XlsFault::EntryName);
    }
    // It looks only at the first directory sector and takes the first entry
    // named Workbook (BIFF8) or Book (BIFF5) that has a start sector, with the
    // root entry (the mini stream) seen before it.
    std::string_view first = sector(dir.front(), XlsFault::Directory);
    std::optional<std::string_view> root;
    for (std::size_t e = 0; e < sectorSize_; e += kEntrySize) {
        std::string_view entry = first.substr(e, kEntrySize);
        if (named(entry, "Root Entry")) root = entry;
        if ((named(entry, "Workbook") || named(entry, "Book")) && le32(entry, 116) != kFree) {
            const std::uint32_t size = le32(entry, 120);
            // Up to the cutoff the reader takes the stream from the mini
            // stream, but only when the file has a mini FAT.
            const std::uint32_t cutoff = le32(file_, 64) > 0 ? kMiniCutoff : 0;
            if (size <= cutoff) return miniStream(entry, root);
            return stream(le32(entry, 116), size, XlsFault::Stream);
        }
    }
    return std::nullopt;
}

// The reader loads the whole mini stream (the root entry's chain) and parses
// the workbook from its first byte on, whatever mini sectors the workbook's
// entry names; those are checked as well, but the bytes it parses are these.
std::string CompoundFile::miniStream(std::string_view entry,
                                     std::optional<std::string_view> root) const {
    const std::uint32_t size = le32(entry, 120);
    if (!root) refuse(XlsFault::MiniStream);
    const std::uint32_t rootSize = le32(*root, 120);
    if (rootSize == 0 || rootSize < size) refuse(XlsFault::MiniStream);
    std::string mini = stream(le32(*root, 116), rootSize, XlsFault::MiniStream);
    if (size > 0) checkMiniChain(le32(entry, 116), size, rootSize);
    mini.resize(size);
    return mini;
}

// The mini FAT: the reader reads as many sectors as the header counts (from
// the wrong place, and ignoring failures), so the count has to be a chain's.
void CompoundFile::readMiniFat() {
    const std::uint32_t count = le32(file_, 64);
    if (count == 0) return;
    const std::vector<std::uint32_t> sectors = chain(le32(file_, 60), count, XlsFault::MiniStream);
    if (sectors.size() != count) refuse(XlsFault::MiniStream);
    for (std::uint32_t s : sectors) {
        std::string_view d = sector(s, XlsFault::MiniStream);
        for (std::uint32_t i = 0; i < sectorSize_; i += 4) miniFat_.push_back(le32(d, i));
    }
}

// The workbook's chain of 64-byte mini sectors, through the mini FAT.
void CompoundFile::checkMiniChain(std::uint32_t start, std::uint32_t size,
                                  std::uint32_t miniSize) const {
    const std::uint32_t needed = (size + kMiniSector - 1) / kMiniSector;
    std::uint32_t m = start;
    for (std::uint32_t i = 0; i < needed; ++i) {
        if (m >= miniFat_.size() || (std::uint64_t{m} + 1) * kMiniSector > miniSize)
            refuse(XlsFault::MiniStream);
        m = miniFat_[m];
    }
    if (m != kEnd) refuse(XlsFault::MiniStream);
}

// The records of the workbook stream, followed the way the reader parses
// them: it copies each record into a buffer of 8224 bytes and then takes the
// lengths it finds inside without comparing them with the record's length.
class BiffCheck {
  public:
    BiffCheck(std::string_view stream, XlsFormulaCells* formulas)
        : s_(stream), formulas_(formulas) {}
    void run();

  private:
    void record(std::uint16_t type, std::string_view body, std::size_t at, std::size_t next);
    void cell(std::string_view body);
    void checkExtents() const;
    void dateFormat(std::uint32_t index, const std::uint32_t (&letters)[128]);
    void dateCell(std::uint32_t xf, double value) const;
    void rkCell(std::uint32_t xf, std::string_view rk) const;
    void boundSheet(std::string_view body);
    void format(std::string_view body);
    void label(std::string_view body) const;
    void sst(std::string_view body, std::size_t next);
    void sstContinue(std::string_view body);
    void sstStrings(std::string_view body, std::uint64_t pos);
    std::uint64_t continuedBytes(std::size_t at) const;
    bool isDateXf(std::uint32_t xf) const;
    void formula(std::string_view body);
    void formulaString(std::string_view body);

    std::string_view s_;
    XlsFormulaCells* formulas_;
    // The formula whose text result the next STRING record holds.
    XlsFormulaResult* pendingText_ = nullptr;
    std::uint32_t codePage_ = 1252;
    bool date1904_ = false;
    int version_ = 0;  // 5 or 8, from the first BOF
    bool expectBof_ = false;
    std::uint16_t prev_ = 0;  // the last record other than CONTINUE
    // What the reader's record buffer holds: each record is copied over the
    // start of it, so past a short record it still holds older bytes.
    std::array<char, kMaxRecord> buffer_{};

    // Dates: the reader turns a day number into a date one day at a time, so
    // a date cell with a huge number keeps it busy for seconds. It takes the
    // format of a cell from its XF record, and knows a format as a date (or
    // date and time) by its letters.
    std::vector<std::uint32_t> xfFormats_;  // the format of each XF record
    struct DateFormat {
        std::uint32_t index;
        bool days;  // a date or date and time rather than a time of day
    };
    std::vector<DateFormat> dateFormats_;

    // The sheets the BOUNDSHEET records name, and the one whose substream is
    // being read: the reader picks it by the offset of the substream's BOF.
    struct Sheet {
        std::uint32_t offset;
        bool dimension = false;
        std::uint64_t extentCells = 0;  // rows times columns of its extent
        std::uint32_t maxRow = 0, maxCol = 0;
    };
    static constexpr std::size_t kNone = ~std::size_t{0};
    std::vector<Sheet> sheets_;
    std::size_t active_ = kNone;  // index into sheets_

    // The shared string table (SST and its CONTINUE records).
    struct {
        bool started = false;
        std::uint32_t count = 0, index = 0;
        // Formatting bytes of the last string that the reader skips at the
        // start of the next record.
        std::uint32_t carry = 0;
        // A string whose characters go on in the next record.
        bool split = false;
        std::uint32_t charsLeft = 0, extra = 0;
    } sst_;
};

// Fields the reader reads at fixed offsets have to lie inside the record.
void need(std::string_view body, std::size_t n) {
    if (body.size() < n) refuse(XlsFault::Record);
}

// A BIFF8 string at `at`: an options byte (bit 0: two bytes per character;
// 0x08: a 16-bit run count follows; 0x04: a 32-bit extension size follows),
// then `chars` characters.
void needUnicode(std::string_view body, std::size_t at, std::uint32_t chars) {
    if (body.size() <= at) refuse(XlsFault::String);
    const std::uint8_t options = byteAt(body, at);
    const std::uint64_t end = at + 1 + (options & 0x08 ? 2 : 0) + (options & 0x04 ? 4 : 0) +
                              std::uint64_t{chars} * (options & 0x01 ? 2 : 1);
    if (end > body.size()) refuse(XlsFault::String);
}

void BiffCheck::run() {
    std::size_t pos = 0;
    while (s_.size() - pos >= 4) {
        const std::uint16_t type = le16(s_, pos), length = le16(s_, pos + 2);
        if (type == 0 && length == 0) break;  // the reader takes this as the end
        if (length > kMaxRecord || s_.size() - pos - 4 < length) refuse(XlsFault::Record);
        const std::size_t next = pos + 4 + length;
        record(type, s_.substr(pos + 4, length), pos, next);
        pos = next;
    }
    checkExtents();
}

void BiffCheck::record(std::uint16_t type, std::string_view body, std::size_t at,
                       std::size_t next) {
    std::memcpy(buffer_.data(), body.data(), body.size());
    if (type == kContinue) {
        if (prev_ == kSst) sstContinue(body);
        return;
    }
    prev_ = type;
    // A text result follows its formula, after any shared or array formula
    // records; anything else ends the wait and the formula keeps no result.
    if (type != kString && type != kShrFmla && type != kArray && type != kTable)
        pendingText_ = nullptr;
    // The stream opens with a BOF naming BIFF5 or BIFF8, and after each EOF
    // the next substream opens with a BOF.
    if (version_ == 0 || expectBof_) {
        if (type != kBof || body.size() < 4) refuse(XlsFault::Record);
        if (version_ == 0) {
            const std::uint32_t v = le16(body, 0);
            if (v != 0x0500 && v != 0x0600) refuse(XlsFault::Record);
            version_ = v == 0x0500 ? 5 : 8;
        } else {
            active_ = kNone;
            for (std::size_t i = 0; i < sheets_.size() && active_ == kNone; ++i)
                if (sheets_[i].offset == at) active_ = i;
        }
        expectBof_ = false;
        return;
    }
    switch (type) {
        case kEof:
            expectBof_ = true;
            break;
        case kSst:
            sst(body, next);
            break;
        case kFilePass:
            // What follows is encrypted; the reader would parse it as it is.
            refuse(XlsFault::Encrypted);
        case kCodePage:
            need(body, 2);
            codePage_ = le16(body, 0);
            break;
        case kDateMode:
            need(body, 2);
            date1904_ = le16(body, 0) == 1;
            break;
        case kFormula:
            formula(body);
            break;
        case kString:
            formulaString(body);
            break;
        case kBoundSheet:
            boundSheet(body);
            break;
        case kDimension:
            need(body, version_ == 8 ? 12 : 8);
            // A second extent for the same sheet would make the reader
            // allocate its cells anew, and keep the old, smaller block when
            // that fails.
            if (active_ != kNone && sheets_[active_].dimension) refuse(XlsFault::Sheet);
            if (active_ != kNone) {
                // The reader allocates the extent's cells up to its last
                // row and column (both given as one past the last).
                Sheet& sheet = sheets_[active_];
                sheet.dimension = true;
                sheet.extentCells = version_ == 8 ? std::uint64_t{le32(body, 4)} * le16(body, 10)
                                                  : std::uint64_t{le16(body, 2)} * le16(body, 6);
            }
            break;
        case kFormat:
            format(body);
            break;
        case kXf:
            need(body, 4);
            if (xfFormats_.size() == kMaxXf) refuse(XlsFault::Formats);
            xfFormats_.push_back(le16(body, 2));
            break;
        case kNumber:
            need(body, 14);
            cell(body);
            dateCell(le16(body, 4), doubleAt(body, 6));
            break;
        case kBoolErr:
            need(body, 7);
            cell(body);
            break;
        case kRk:
            need(body, 10);
            cell(body);
            rkCell(le16(body, 4), body.substr(6, 4));
            break;
        case kMulRk:
            need(body, 4);
            cell(body);
            for (std::size_t off = 4; off + 6 < body.size(); off += 6)
                rkCell(le16(body, off), body.substr(off + 2, 4));
            break;
        case kLabel:
            label(body);
            cell(body);
            break;
        case kLabelSst:
            if (version_ != 8) break;
            need(body, 10);
            if (!sst_.started || le32(body, 6) >= sst_.count) refuse(XlsFault::SharedStrings);
            cell(body);
            break;
        default:
            break;
    }
}

// A cell (row and column first) of a sheet without an extent yet: the reader
// sizes such a sheet by its cells.
void BiffCheck::cell(std::string_view body) {
    if (active_ == kNone || sheets_[active_].dimension) return;
    Sheet& sheet = sheets_[active_];
    sheet.maxRow = std::max(sheet.maxRow, le16(body, 0));
    sheet.maxCol = std::max(sheet.maxCol, le16(body, 2));
}

// The reader allocates 16 bytes a cell: for a sheet with an extent, its
// rows times its columns; for one without, its cells' last row times their
// last column (its column count is 16 bits), giving up beyond 256 MB;
// giving up there after an allocation at the smaller size would leave it
// with a block too small. All sheets together may not need more than one
// full Excel 97-2003 sheet (65,536 rows of 256 columns, 256 MB): a crafted
// extent would keep the reader filling gigabytes for many seconds.
void BiffCheck::checkExtents() const {
    constexpr std::uint64_t kMaxCellBytes = std::uint64_t{256} << 20;
    std::uint64_t total = 0;
    for (const Sheet& sheet : sheets_) {
        const std::uint64_t cells =
            sheet.dimension
                ? sheet.extentCells
                : std::uint64_t{sheet.maxRow + 1} * static_cast<std::uint16_t>(sheet.maxCol + 1);
        total += cells;
        if (cells * 16 > kMaxCellBytes || total * 16 > kMaxCellBytes) refuse(XlsFault::Sheet);
    }
}

// Stream offset (4), visibility and type, name length (1), then the name:
// code page bytes in BIFF5, a BIFF8 string without run or extension fields.
void BiffCheck::boundSheet(std::string_view body) {
    need(body, version_ == 8 ? 8 : 7);
    const std::uint32_t chars = byteAt(body, 6);
    const std::size_t end =
        version_ == 8 ? 8 + chars * (byteAt(body, 7) != 0 ? 2 : 1) : 7 + std::size_t{chars};
    if (chars == 0 || end > body.size()) refuse(XlsFault::String);
    if (le32(body, 0) >= s_.size()) refuse(XlsFault::Sheet);
    sheets_.push_back({le32(body, 0)});
}

// Format index (2), then the format string: BIFF5 an 8-bit length and code
// page bytes, BIFF8 a 16-bit length and a BIFF8 string.
void BiffCheck::format(std::string_view body) {
    need(body, 3);
    std::uint32_t letters[128] = {};
    if (version_ == 5) {
        if (3 + std::size_t{byteAt(body, 2)} > body.size()) refuse(XlsFault::String);
        // The reader takes the length from the string's first byte instead,
        // and so reads on into what its buffer held before.
        const std::uint8_t length = buffer_[3];
        for (std::size_t i = 0; i < length; ++i)
            if (const auto c = static_cast<unsigned char>(buffer_[3 + i]); c < 128) ++letters[c];
    } else {
        const std::uint32_t chars = le16(body, 2);
        needUnicode(body, 4, chars);
        const std::uint8_t options = byteAt(body, 4);
        const std::size_t first = 5 + (options & 0x08 ? 2 : 0) + (options & 0x04 ? 4 : 0);
        for (std::uint32_t i = 0; i < chars; ++i) {
            const std::uint32_t c =
                options & 0x01 ? le16(body, first + 2 * i) : byteAt(body, first + i);
            if (c < 128) ++letters[c];
        }
    }
    dateFormat(le16(body, 0), letters);
}

// The reader keeps up to 2048 formats it takes for dates or times: those with
// an M and a Y or D are dates (with an H as well, dates and times); those
// with an M and an H or S are times of day.
void BiffCheck::dateFormat(std::uint32_t index, const std::uint32_t (&letters)[128]) {
    auto has = [&](char c) { return letters[c | 0x20] + letters[c & ~0x20] > 0; };
    const bool days = has('m') && (has('y') || has('d'));
    if ((days || (has('m') && (has('h') || has('s')))) && dateFormats_.size() < kMaxDateFormats)
        dateFormats_.push_back({index, days});
}

// A number in a cell the reader shows as a date has to be a day Excel shows.
void BiffCheck::dateCell(std::uint32_t xf, double value) const {
    if (xf >= xfFormats_.size() || !(value >= kLastDay + 1)) return;
    const std::uint32_t format = xfFormats_[xf];
    bool days = (format >= 14 && format <= 17) || format == 22;  // built-in dates
    const bool builtInTime = (format >= 18 && format <= 21) || (format >= 45 && format <= 47);
    if (!days && !builtInTime)
        for (const DateFormat& f : dateFormats_)
            if (f.index == format) {
                days = f.days;
                break;
            }
    if (days) refuse(XlsFault::Date);
}

// An RK number: 30 bits of an integer or of the top of a double, and a flag
// for a hundredth of it.
void BiffCheck::rkCell(std::uint32_t xf, std::string_view rk) const {
    const std::uint32_t bits = le32(rk, 0);
    double value = bits & 0x02 ? static_cast<std::int32_t>(bits) >> 2
                               : std::bit_cast<double>(std::uint64_t{bits & ~3u} << 32);
    if (bits & 0x01) value /= 100;
    dateCell(xf, value);
}

// Row, column, format (2 each), a 16-bit length, then code page bytes (BIFF5)
// or a BIFF8 string.
void BiffCheck::label(std::string_view body) const {
    need(body, 8);
    const std::uint32_t chars = le16(body, 6);
    if (version_ == 5) {
        if (8 + std::size_t{chars} > body.size()) refuse(XlsFault::String);
    } else {
        needUnicode(body, 8, chars);
    }
}

// Whether a cell format shows numbers as dates (or dates and times).
bool BiffCheck::isDateXf(std::uint32_t xf) const {
    if (xf >= xfFormats_.size()) return false;
    const std::uint32_t format = xfFormats_[xf];
    if ((format >= 14 && format <= 17) || format == 22) return true;
    for (const DateFormat& f : dateFormats_)
        if (f.index == format) return f.days;
    return false;
}

// Row, column, format (2 each), the cached result (8), options (2), a chain
// field (4) and the formula's tokens. The result is a double, unless its last
// two bytes are 0xFFFF: then its first byte says text (in the STRING record
// that follows), boolean, error or empty text, and its third the value.
void BiffCheck::formula(std::string_view body) {
    need(body, 20);
    cell(body);
    if (!formulas_ || active_ != 0) return;
    XlsFormulaResult& r = (*formulas_)[{le16(body, 0), le16(body, 2)}];
    r = {};
    if (le16(body, 12) != 0xFFFF) {
        r.kind = XlsFormulaResult::Kind::Number;
        r.number = doubleAt(body, 6);
        if (!std::isfinite(r.number)) {
            r.kind = XlsFormulaResult::Kind::None;
        } else if (isDateXf(le16(body, 4))) {
            if (auto d = excelDateText(r.number, date1904_)) r.text = *d;
        }
        return;
    }
    const std::uint8_t value = byteAt(body, 8);
    switch (byteAt(body, 6)) {
        case 0:
            pendingText_ = &r;  // stays without result unless a STRING follows
            break;
        case 1:
            r.kind = XlsFormulaResult::Kind::Boolean;
            r.number = value != 0 ? 1 : 0;
            break;
        case 2: {
            static const std::map<std::uint8_t, const char*> errors = {
                {0x00, "#NULL!"}, {0x07, "#DIV/0!"}, {0x0F, "#VALUE!"}, {0x17, "#REF!"},
                {0x1D, "#NAME?"}, {0x24, "#NUM!"},   {0x2A, "#N/A"}};
            auto it = errors.find(value);
            r.kind = XlsFormulaResult::Kind::Error;
            r.text = it != errors.end() ? it->second : "#N/A";
            break;
        }
        case 3:
            r.kind = XlsFormulaResult::Kind::Text;
            break;
        default:
            break;
    }
}

// The text result of the formula before: a 16-bit length, then code page bytes
// (BIFF5) or a BIFF8 string without run or extension fields. Characters that
// go on in a CONTINUE record are not read.
void BiffCheck::formulaString(std::string_view body) {
    XlsFormulaResult* r = pendingText_;
    pendingText_ = nullptr;
    if (!r) return;
    need(body, version_ == 8 ? 3 : 2);
    const std::uint32_t chars = le16(body, 0);
    std::string text;
    if (version_ == 5) {
        const std::string_view bytes = body.substr(2, chars);
        const std::string cp = codePage_ == 936    ? "GBK"
                               : codePage_ == 1200 ? "UTF-16LE"
                               : codePage_ == 367  ? "ASCII"
                                                   : "CP" + std::to_string(codePage_);
        try {
            text = toUtf8(bytes, cp.c_str());
        } catch (const std::exception&) {
            text = toUtf8(bytes, "CP1252");
        }
    } else {
        const std::uint8_t options = byteAt(body, 2);
        const std::size_t first = 3 + (options & 0x08 ? 2 : 0) + (options & 0x04 ? 4 : 0);
        const bool wide = options & 0x01;
        std::u16string units;
        for (std::uint32_t i = 0; i < chars; ++i) {
            const std::size_t at = first + (wide ? 2 * i : i);
            if (at + (wide ? 2 : 1) > body.size()) break;
            units.push_back(static_cast<char16_t>(wide ? le16(body, at) : byteAt(body, at)));
        }
        text =
            toUtf8(std::string_view(reinterpret_cast<const char*>(units.data()), units.size() * 2),
                   "UTF-16LE");
    }
    r->kind = XlsFormulaResult::Kind::Text;
    r->text = std::move(text);
}

// Bytes in the CONTINUE records from `at` on.
std::uint64_t BiffCheck::continuedBytes(std::size_t at) const {
    std::uint64_t bytes = 0;
    while (s_.size() - at >= 4 && le16(s_, at) == kContinue) {
        const std::uint32_t length = le16(s_, at + 2);
        bytes += length;
        at += 4 + std::min<std::size_t>(length, s_.size() - at - 4);
    }
    return bytes;
}

// Total and unique string counts (4 each), then the strings. The reader takes
// any later SST record as a continuation of the first.
void BiffCheck::sst(std::string_view body, std::size_t next) {
    if (sst_.started) return sstContinue(body);
    if (body.size() < 8) refuse(XlsFault::SharedStrings);
    sst_.started = true;
    sst_.count = le32(body, 4);
    // Each string takes at least three bytes (length and options).
    if (sst_.count > (body.size() - 8 + continuedBytes(next)) / 3) refuse(XlsFault::SharedStrings);
    sstStrings(body, 8);
}

// A record continuing the table. A string split at the end of the last record
// goes on here after a new options byte; the reader takes the rest of it from
// this record only, and drops any formatting bytes of it that spill over.
void BiffCheck::sstContinue(std::string_view body) {
    std::uint64_t pos = 0;
    if (sst_.split) {
        if (body.empty()) refuse(XlsFault::SharedStrings);
        const std::uint64_t bytes =
            std::uint64_t{sst_.charsLeft} * (byteAt(body, 0) & 0x01 ? 2 : 1);
        if (1 + bytes > body.size()) refuse(XlsFault::SharedStrings);
        pos = 1 + bytes + sst_.extra;
        sst_.split = false;
        sst_.carry = 0;
        ++sst_.index;
    }
    sstStrings(body, pos);
}

// Strings from `pos` to the end of the record: a 16-bit character count, an
// options byte with its run count and extension size, the characters, then
// 4 bytes per run and the extension, which may spill into the next record.
// The characters may break off at the end of the record (to go on in the
// next), the other fields not.
void BiffCheck::sstStrings(std::string_view body, std::uint64_t pos) {
    while (sst_.index < sst_.count) {
        if (pos >= body.size()) return;
        pos += sst_.carry;
        sst_.carry = 0;
        if (pos + 3 > body.size()) refuse(XlsFault::SharedStrings);
        const std::uint32_t chars = le16(body, pos);
        const std::uint8_t options = byteAt(body, pos + 2);
        const std::uint64_t fields = (options & 0x08 ? 2 : 0) + (options & 0x04 ? 4 : 0);
        if (pos + 3 + fields > body.size()) refuse(XlsFault::SharedStrings);
        const std::uint32_t runs = options & 0x08 ? le16(body, pos + 3) : 0;
        const std::uint32_t ext =
            options & 0x04 ? le32(body, pos + 3 + (options & 0x08 ? 2 : 0)) : 0;
        // The reader adds these in 32 bits.
        const std::uint32_t extra = ext + runs * 4;
        pos += 3 + fields;
        const std::uint32_t width = options & 0x01 ? 2 : 1;
        const std::uint64_t available = body.size() - pos;
        if (std::uint64_t{chars} * width > available) {
            sst_.split = true;
            sst_.charsLeft = chars - static_cast<std::uint32_t>(available / width);
            sst_.extra = extra;
            return;
        }
        if (chars == 0) refuse(XlsFault::SharedStrings);
        pos += std::uint64_t{chars} * width + extra;
        sst_.carry = pos > body.size() ? static_cast<std::uint32_t>(pos - body.size()) : 0;
        ++sst_.index;
    }
}

}  // namespace

XlsFault checkXls(std::string_view file, XlsFormulaCells* formulas) {
    XlsFormulaCells found;
    try {
        const std::optional<std::string> stream = CompoundFile(file).workbookStream();
        if (stream) BiffCheck(*stream, formulas ? &found : nullptr).run();
    } catch (const Refused& r) {
        return r.fault;
    }
    if (formulas) *formulas = std::move(found);
    return XlsFault::None;
}

}  // namespace ledgerhost
