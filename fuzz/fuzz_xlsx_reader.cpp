// Feeds arbitrary bytes to the .xlsx reader as a workbook file. A damaged
// file must end in FileReadError; every row it reads comes in row order with
// its cells in column order.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "ImportFiles.h"
#include "Xlsx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = fuzzinput::write("fuzz_xlsx_reader", ".xlsx", data, size);
    try {
        ledgerhost::XlsxSheet sheet = ledgerhost::readXlsxFirstSheet(path);
        std::int64_t lastRow = 0;
        for (const ledgerhost::XlsxRow& row : sheet.rows) {
            if (row.number <= lastRow) __builtin_trap();
            lastRow = row.number;
            int lastCol = -1;
            for (const auto& [col, cell] : row.cells) {
                if (col <= lastCol) __builtin_trap();
                lastCol = col;
            }
        }
    } catch (const ledgerhost::FileReadError&) {
    }
    return 0;
}
