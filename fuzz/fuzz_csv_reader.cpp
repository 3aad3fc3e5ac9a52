// Feeds arbitrary bytes to the import wizard's comma-separated text reader
// (the host's converter): the first byte decides whether the first record
// holds the captions. A file that cannot be read must end in ConvertError;
// one that reads gives rows in file order, cells in column order and inside
// the captions.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Convert.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool captions = size > 0 && (data[0] & 1);
    const std::string& path = fuzzinput::write("fuzz_csv_reader", ".csv", data, size);
    try {
        ledgerhost::TCaGlideConvert conv(path, ledgerhost::ctCaGlide, captions);
        const auto width = static_cast<int>(conv.GetFileColumnCaptions().size());
        std::int64_t lastRow = 0;
        for (const ledgerhost::TFileRow& row : conv.FileRows()) {
            if (row.Number <= lastRow || row.Cells.empty()) __builtin_trap();
            lastRow = row.Number;
            int lastCol = -1;
            for (const auto& [col, cell] : row.Cells) {
                if (col <= lastCol || col >= width) __builtin_trap();
                lastCol = col;
            }
        }
        if (conv.ColumnMaps.size() != 11) __builtin_trap();
    } catch (const ledgerhost::ConvertError&) {
    }
    return 0;
}
