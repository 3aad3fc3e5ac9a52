#pragma once

// A look through an .xls file before the workbook reader (libfreexl) opens it.
// The reader trusts the lengths and sector numbers it finds in the file: a
// damaged or crafted file makes it read past its buffers. This check follows
// the file the way the reader will (the compound file's sectors, then the
// records of the workbook stream) and names the first thing that would lead
// the reader astray; such a file is refused before the reader sees it.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "LhApi.h"

namespace ledgerhost {

enum class XlsFault : std::uint8_t {
    None,           // nothing the reader would trip over
    Header,         // not a compound file header the reader can follow
    Fat,            // FAT or DIFAT sectors outside the file, repeated or looping
    Directory,      // the directory's sectors outside the file or its chain broken
    EntryName,      // a directory entry whose name is longer than its 64-byte field
    Stream,         // the workbook stream's chain broken, looping or not its size
    MiniStream,     // the small-stream store (root entry, mini FAT) inconsistent
    Record,         // a record past the end of the stream, too long, or out of order
    String,         // a string longer than the record holding it
    SharedStrings,  // the shared string table inconsistent with its records
    Sheet,          // a sheet the reader cannot lay out: its start outside the stream,
                    // two extents, or more cells in all than a full sheet has
    Formats,        // more cell formats than the reader has room for
    Date,           // a date cell past 9999-12-31 (the reader counts up to it day by day)
    Encrypted,      // the workbook is encrypted (its record contents are not plain)
};

// The cached result of a formula cell of the first worksheet, as the record
// stream holds it (the workbook reader itself leaves formula cells empty).
struct LH_API XlsFormulaResult {
    enum class Kind : std::uint8_t { Number, Text, Boolean, Error, None };
    Kind kind = Kind::None;  // None: the formula has no cached result
    double number = 0;       // Number, and Boolean as 1 or 0
    std::string text;        // Text (UTF-8), Error ("#DIV/0!", ...), a Number's date text
};

// Formula cells of the first worksheet by 0-based (row, column).
using XlsFormulaCells = std::map<std::pair<std::uint32_t, std::uint32_t>, XlsFormulaResult>;

// Files larger than this are refused (XlsFault::Header): Excel 97-2003 files
// stay far below it, and the reader addresses the file with 32-bit offsets.
inline constexpr std::uint64_t kMaxXlsFileSize = std::uint64_t{1} << 31;

// Checks the whole file's bytes. A file without a workbook stream where the
// reader looks for one passes: the reader reports that itself. When the file
// passes and `formulas` is given, it receives the cached results of the first
// worksheet's formula cells (a number in a cell formatted as a date comes
// with its date text, "YYYY-MM-DD").
LH_API XlsFault checkXls(std::string_view file, XlsFormulaCells* formulas = nullptr);

}  // namespace ledgerhost
