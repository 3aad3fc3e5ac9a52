#pragma once

#include <string>
#include <vector>

namespace testutil {

// Writes a one-sheet .xls workbook with the project's own writer (BIFF5, GBK
// texts); rows[i][j] goes to sheet row firstRow + i (1-based) and column
// j + 1, as text. Empty strings leave the cell empty.
void writeWorkbook(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                   int firstRow = 1);

// Whether python3 with xlwt (Debian's python3-xlwt) is there. Only the tests
// that need cells the project's writer does not make (date-formatted cells,
// BIFF8 workbooks) write with it; they skip without it.
bool canWriteWorkbooks();

}  // namespace testutil

#define NEED_WORKBOOKS() \
    if (!testutil::canWriteWorkbooks()) GTEST_SKIP() << "python3-xlwt is not installed"
