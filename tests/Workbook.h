#pragma once

#include <string>
#include <vector>

namespace testutil {

// Whether python3 with xlwt (Debian's python3-xlwt) is there to write workbooks.
bool canWriteWorkbooks();

// Writes a one-sheet .xls workbook; rows[i][j] goes to sheet row firstRow + i
// (1-based) and column j + 1, as text. Empty strings leave the cell empty.
void writeWorkbook(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                   int firstRow = 1);

}  // namespace testutil

#define NEED_WORKBOOKS() \
    if (!testutil::canWriteWorkbooks()) GTEST_SKIP() << "python3-xlwt is not installed"
