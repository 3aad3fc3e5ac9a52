#pragma once

// Readers that turn an import file into a table of text: a delimited text file
// (one row per line) or the first worksheet of an Excel 97-2003 workbook (.xls,
// BIFF5 or BIFF8). Every cell is UTF-8 text; the importers interpret it.
//
// Errors are thrown as ImportError with a Chinese message naming the file.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Codec.h"
#include "Digest.h"
#include "ImportError.h"

using TTwoStringDynArray = std::vector<std::vector<std::string>>;

// Kinds of import file, as stored in an import scheme.
enum TFileKind : std::uint8_t { fkExcel = 2, fkText = 3 };

// Shown when no workbook reader can be started on this workstation.
inline constexpr const char* kNoWorkbookReader = "系统没有安装Microsoft Excel";

class TFileToArray {
  public:
    // Stores the name; nothing is read until LoadArray.
    explicit TFileToArray(std::string fileName);
    virtual ~TFileToArray();
    TFileToArray(const TFileToArray&) = delete;
    TFileToArray& operator=(const TFileToArray&) = delete;

    // Reads the file into Data.
    virtual void LoadArray() = 0;

    std::string FileName;
    // First row to read, counted from 1 (see each reader for 0).
    std::int32_t StartRow = 0;
    TTwoStringDynArray Data;
    // SHA-256 (hex) of the file's bytes as LoadArray read them.
    std::string Digest;
};

// A text file with one record a line and fields split at Delimiter.
//
// The file is decoded as UTF-8 when it is valid UTF-8 (a BOM is dropped) and
// otherwise from the workstation's ANSI code page (GBK by default); a byte that
// code page cannot decode becomes U+FFFD, so a damaged file still reads.
// Lines end at CR LF, CR or LF; a line break at the very end adds no empty
// line. StartRow 0 or 1 reads every line; a larger StartRow skips the lines
// before it, and when the file has fewer lines than StartRow, LoadArray
// returns without error and leaves Data as it was. Each remaining line gives
// one row: its pieces between delimiters, unchanged and untrimmed, empty pieces
// and a final empty piece after a trailing delimiter included. Rows may differ
// in length.
class TTextToArray : public TFileToArray {
  public:
    using TFileToArray::TFileToArray;
    void LoadArray() override;
    // Reads and decodes the file once and keeps all its lines in Lines (and
    // its digest); a LoadArray after it splits those lines without reading the
    // file again.
    void LoadLines();

    // The lines the rows were made from (those before StartRow dropped); all
    // the file's lines when it had fewer than StartRow.
    std::vector<std::string> Lines;
    std::string Delimiter = "^";

    // Reads the file through once in blocks, never whole: its digest (Digest),
    // its encoding and its number of lines (LineCount), refusing what
    // LoadLines refuses and, with `maxLine` (bytes, 0 for none), a longer line.
    void ScanFile(std::size_t maxLine);
    // After ScanFile: the file's lines in order, decoded as LoadLines decodes
    // them, one at a time with its index from 0, until `each` answers false.
    // The file is read again in blocks.
    // The file is read again in blocks; once it has been read to its end,
    // ReadDigest is the digest of what this pass read (empty until then), so
    // a caller can tell a file that changed after ScanFile from Digest.
    void ForEachLine(const std::function<bool(std::size_t index, std::string& line)>& each);
    std::size_t LineCount = 0;
    std::string ReadDigest;

  private:
    // Whole lines of the file in blocks (each ends just after a line break,
    // or at the file's end), until `block` answers false; `digest`, when
    // given, is fed every byte read.
    void forEachBlock(const std::function<bool(std::string_view lines)>& block,
                      ledgerhost::ContentDigest* digest = nullptr);

    bool loaded_ = false;  // Lines holds the whole file (LoadLines)
    std::unique_ptr<ledgerhost::TextDecoding> decoding_;
};

class XlsBook;

// The first worksheet of an .xls workbook, read from StartRow (at least 1).
//
// The range: rows are read from StartRow down to and including the first row
// whose first 200 cells are all empty; ColCount is the number of filled cells
// of row StartRow counted from column A up to the first empty one (at most
// 200). Data has RowCount rows of exactly ColCount cells; nothing right of
// ColCount is read. A cell is empty when it holds no value or empty text.
//
// Cell text:
//  - integers and whole-number doubles without a decimal point ("12", "-7",
//    "100000000000000000000"); zero is "0";
//  - other numbers in the shortest decimal form that reads back to the same
//    double, never in exponent form ("0.1", "1234.56", "0.0000001");
//    non-finite values as "nan", "inf", "-inf";
//  - text as UTF-8 (the workbook's code page is converted);
//  - dates "YYYY-MM-DD", date-times "YYYY-MM-DD HH:MM:SS" and times
//    "HH:MM:SS" as the number format of the cell marks them;
//  - booleans as "1" and "0" (the workbook reader reports them as integers);
//  - empty cells and cells outside the sheet as "".
class TExcelToArray : public TFileToArray {
  public:
    using TFileToArray::TFileToArray;
    void LoadArray() override;
    // Opens the workbook and works out RowCount and ColCount only.
    void CalcRange();

    std::int32_t RowCount = 0;
    std::int32_t ColCount = 0;

  private:
    void calcRange(const XlsBook& book);
};

struct TFileToArrayFactory {
    // The reader for a kind of file (fkExcel or fkText), or nullptr for any
    // other code. The file name's extension plays no part.
    static std::unique_ptr<TFileToArray> CreateFileToArray(std::uint8_t kind,
                                                           const std::string& fileName);
};
