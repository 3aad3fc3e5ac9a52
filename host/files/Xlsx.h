#pragma once

// A small reader for the first worksheet of an Excel 2007 or later workbook
// (.xlsx): the zip container is opened with minizip and its XML parts are read
// with expat. It knows shared strings, inline strings, formula results,
// numbers, booleans, error values and the date formats of the workbook's cell
// styles; it knows nothing of formulas, merged cells or other worksheets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ImportFiles.h"
#include "LhApi.h"

namespace ledgerhost {

// A cell reference such as "AB12": column from 0, row from 1. Nothing when the
// text is not letters followed by digits, or lies outside the largest sheet
// Excel writes (column XFD, row 1048576).
struct CellRef {
    int col = 0;
    std::int64_t row = 0;
};
LH_API std::optional<CellRef> parseCellRef(std::string_view ref);

// One worksheet row that holds at least one value: its row number (from 1) and
// its cells by column (from 0), in column order; empty cells are left out.
struct XlsxRow {
    std::int64_t number = 0;
    std::vector<std::pair<int, SheetCell>> cells;
};

struct XlsxSheet {
    std::vector<XlsxRow> rows;  // in row order
    bool date1904 = false;      // date numbers count from 1904 (Macintosh)
};

// Reads the workbook's first worksheet. Cells take the text forms of the .xls
// reader (see SheetCell): numbers keep their value, date-formatted numbers
// become "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS", booleans 1 and 0,
// error values their text ("#N/A"). A file that is missing, not a workbook or
// damaged throws FileReadError naming the file and the reason.
LH_API XlsxSheet readXlsxFirstSheet(const std::string& fileName);

// The text of an Excel date number (days since 1899-12-30, or since 1904-01-01
// when date1904) as the readers show dates: "YYYY-MM-DD" for a whole day,
// "HH:MM:SS" below one day, else "YYYY-MM-DD HH:MM:SS". Nothing for a number
// outside the years 1900 to 9999.
LH_API std::optional<std::string> excelDateText(double serial, bool date1904);

}  // namespace ledgerhost
