#pragma once

// What the file readers of the host and of the plug-in share: reading a file
// whole with a plain reason when it cannot be read, the first worksheet of an
// Excel 97-2003 workbook (.xls) and the text forms of workbook cells.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "LhApi.h"
#include "UserError.h"
#include "XlsCheck.h"

namespace ledgerhost {

// A file that cannot be read. The message is the one the user sees; it names
// the file and the reason: "无法读取文件 <name>：<reason>".
class LH_API FileReadError : public UserError {
  public:
    explicit FileReadError(const std::string& message, bool readerMissing = false)
        : UserError(message), ReaderMissing(readerMissing) {}
    // The workbook reader could not be started at all: not the file's fault.
    bool ReaderMissing = false;
};

// The whole file as bytes. An empty name, a missing file, a folder or a file
// without read permission throws FileReadError.
// A plain reason for a failed open or read, from errno ("文件不存在", ...).
std::string errnoReason(int err);
LH_API std::string readFileBytes(const std::string& fileName);
// Reads the file as readFileBytes does (the same refusals and messages) but in
// blocks of at most kFileBlock bytes, each given to `block` in order, so that
// the file is never held whole; stops early when `block` answers false.
inline constexpr std::size_t kFileBlock = 1 << 20;
LH_API void readFileBlocks(const std::string& fileName,
                           const std::function<bool(std::string_view)>& block);

// The digest of the file's bytes (contentDigest), read in blocks.
LH_API std::string fileDigest(const std::string& fileName);

// What one import may hold of a file at once. The readers count every cell
// they keep (and an .xlsx workbook its shared strings) against a CellBudget,
// and comma text is refused above kMaxImportTextFile bytes before it is read,
// so that a damaged or hostile file (one long shared string repeated in
// millions of cells, millions of empty fields, a file of a gigabyte) is
// refused with a message naming the limit rather than taking the
// workstation's memory. A year of bank rows stays far below them.
inline constexpr std::size_t kMaxImportCells = 2'000'000;
inline constexpr std::uint64_t kMaxImportCellText = std::uint64_t{64} << 20;
inline constexpr std::uint64_t kMaxImportTextFile = std::uint64_t{64} << 20;

class LH_API CellBudget {
  public:
    // Counts a cell of `textBytes` bytes of text; false once a limit is
    // passed, and reason() says which.
    bool add(std::size_t textBytes) {
        bytes_ += textBytes;
        return ++cells_ <= kMaxImportCells && bytes_ <= kMaxImportCellText;
    }
    // Whether a cell still being read, `textBytes` long so far, can fit.
    bool fits(std::size_t textBytes) const { return bytes_ + textBytes <= kMaxImportCellText; }
    std::string reason() const;

  private:
    std::size_t cells_ = 0;
    std::uint64_t bytes_ = 0;
};

// Refuses (FileReadError) a file larger than kMaxImportTextFile bytes.
LH_API void checkTextFileSize(const std::string& fileName);

// A number as the readers show it: whole numbers without a decimal point
// ("12", "100000000000000000000"), others in the shortest decimal form that
// reads back to the same double, never in exponent form ("0.1",
// "0.0000001"); zero is "0"; non-finite values "nan", "inf", "-inf".
LH_API std::string numberText(double v);

// One worksheet cell: its text, and its value when the workbook stores a
// number (the text is then numberText of it). Dates with a date format come as
// text ("YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS", "HH:MM:SS"); booleans as the
// numbers 1 and 0.
struct LH_API SheetCell {
    std::string text;
    std::optional<double> number;
    bool empty() const { return text.empty() && !number; }
};

// The first worksheet of an .xls workbook (BIFF5 or BIFF8), open for reading.
// Opening checks the file first, so that a missing file, a folder, a file of
// another kind (an .xlsx workbook is named as such), a password-protected or
// a damaged workbook gives a FileReadError with a plain reason rather than
// tripping the workbook reader.
class LH_API XlsWorkbook {
  public:
    explicit XlsWorkbook(const std::string& fileName);
    ~XlsWorkbook();
    XlsWorkbook(const XlsWorkbook&) = delete;
    XlsWorkbook& operator=(const XlsWorkbook&) = delete;

    // The worksheet's extent as the workbook records it.
    std::uint32_t rows() const { return rows_; }
    std::uint16_t cols() const { return cols_; }
    // True when the workbook counts its date numbers from 1904 (Macintosh).
    bool date1904() const { return date1904_; }
    // SHA-256 (hex) of the file's bytes as they were checked and read.
    const std::string& digest() const { return digest_; }

    // The cell at a 0-based row and column; empty outside the sheet. A formula
    // cell gives its cached result (number, text, boolean as 1 or 0, error
    // text such as "#DIV/0!"). A cell the reader cannot decode, or a formula
    // without a cached result, throws FileReadError naming the cell.
    SheetCell cell(std::int64_t row, int col) const;
    // Its text; nothing when the cell is empty or holds empty text.
    std::optional<std::string> cellText(std::int64_t row, int col) const;

  private:
    [[noreturn]] void failWith(const std::string& reason);
    void close();

    std::string fileName_;
    const void* handle_ = nullptr;
    std::uint32_t rows_ = 0;
    std::uint16_t cols_ = 0;
    bool date1904_ = false;
    XlsFormulaCells formulas_;
    std::string digest_;
};

}  // namespace ledgerhost
