#pragma once

#include <string>
#include <vector>

namespace testutil {

// Workbooks are written by the project's own BIFF writer: always possible.
bool canWriteWorkbooks();
// Whether python3 with xlwt is there, for the few tests that need BIFF8 cell
// formats the project's writer does not make; they skip without it.
bool hasXlwt();

// Writes a one-sheet .xls workbook (BIFF5, GBK); rows[i][j] goes to sheet row
// firstRow + i (1-based) and column j + 1, as text. Empty strings leave the
// cell empty.
void writeWorkbook(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                   int firstRow = 1);

}  // namespace testutil

#define NEED_XLWT() \
    if (!testutil::hasXlwt()) GTEST_SKIP() << "python3-xlwt is not installed"

#define NEED_WORKBOOKS() \
    if (!testutil::canWriteWorkbooks()) GTEST_SKIP() << "no workbook writer"
