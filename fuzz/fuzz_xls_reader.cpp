// Feeds arbitrary bytes to the workbook reader as an .xls file. The start row
// (1 to 3) comes from the last byte, so that the file's header stays whatever
// the fuzzer made it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "untFileToStringArray.h"

namespace {

// One file per process, removed at exit.
struct TempFile {
    std::string path = "/tmp/fuzz_xls_reader." + std::to_string(getpid()) + ".xls";
    ~TempFile() { std::remove(path.c_str()); }
};

const std::string& tempPath() {
    static const TempFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (std::FILE* f = std::fopen(tempPath().c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    TExcelToArray reader(tempPath());
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
