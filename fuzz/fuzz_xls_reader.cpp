// Feeds arbitrary bytes to the workbook reader as an .xls file. The start row
// (1 to 3) comes from the last byte, so that the file's header stays whatever
// the fuzzer made it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "untFileToStringArray.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TExcelToArray reader(fuzzinput::write("fuzz_xls_reader", ".xls", data, size));
    reader.StartRow = size > 0 ? 1 + data[size - 1] % 3 : 1;
    try {
        reader.LoadArray();
    } catch (const ImportError&) {
        return 0;
    }
    // The table is always RowCount rows of ColCount cells.
    if (reader.RowCount < 1 || reader.ColCount < 0 || reader.ColCount > 200 ||
        reader.Data.size() != static_cast<std::size_t>(reader.RowCount))
        __builtin_trap();
    for (const auto& row : reader.Data)
        if (row.size() != static_cast<std::size_t>(reader.ColCount)) __builtin_trap();
    return 0;
}
