#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "LhApi.h"

namespace xlswriter {

// One cell of a small BIFF5 (Excel 95) workbook: text in the workbook's code
// page, or a number when the text is empty.
struct Cell {
    std::uint16_t row, col;  // 0-based
    std::string text;
    double number = 0;
    // A formula cell (its formula the constant 1) and the result the workbook
    // keeps cached for it: `number` (Number; Boolean 1 or 0; Error its code,
    // 7 for #DIV/0!), `text` (Text, in a STRING record after it), or none
    // (NoResult: a text result whose STRING record is missing).
    enum class Formula : std::uint8_t { None, Number, Text, Boolean, Error, NoResult };
    Formula formula = Formula::None;
};

// The bytes of a one-sheet .xls workbook (BIFF5 in a compound file) holding
// the cells; `codePage` names the encoding of the texts (936 for GBK).
// `passwordProtected` marks the workbook as encrypted (for tests of refusals).
// Enough for demo statements and test workbooks of a few thousand cells.
LH_API std::string workbook(const std::vector<Cell>& cells, std::uint16_t codePage = 936,
                            bool passwordProtected = false);

// The same compound file around any stream (for tests of damaged files).
LH_API std::string compoundFile(const std::string& streamName, std::string stream);
LH_API std::string biff5Stream(std::uint16_t codePage, const std::vector<Cell>& cells,
                               bool passwordProtected);

}  // namespace xlswriter
