// Feeds arbitrary bytes to the text-file reader: the first byte picks the
// delimiter (a printable byte is used as it is, anything else means "^"), and
// the whole input is the file. Field splitting is also run on the input
// directly, with a delimiter of one or two bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "Trim.h"
#include "untFileToStringArray.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string delim = "^";
    if (size > 0 && data[0] >= 0x20 && data[0] < 0x7F) delim.assign(1, static_cast<char>(data[0]));

    TTextToArray reader(fuzzinput::write("fuzz_text_reader", ".txt", data, size));
    reader.Delimiter = delim;
    reader.StartRow = size > 1 ? data[1] % 4 : 0;
    try {
        reader.LoadArray();
    } catch (const ImportError&) {
    }
    // Every row is the split of its line, so gluing the pieces back gives the line.
    for (std::size_t i = 0; i < reader.Data.size(); ++i) {
        std::string joined;
        for (std::size_t k = 0; k < reader.Data[i].size(); ++k)
            joined += (k ? delim : "") + reader.Data[i][k];
        if (joined != reader.Lines[i]) __builtin_trap();
    }

    const std::string twoByte = size > 2 ? bytes.substr(1, 2) : delim;
    for (const std::string& d : {delim, twoByte, std::string()}) {
        auto pieces = ledgerhost::splitKeepingEmpty(bytes, d);
        std::string joined;
        for (std::size_t k = 0; k < pieces.size(); ++k) joined += (k ? d : "") + pieces[k];
        if (pieces.empty() || joined != bytes) __builtin_trap();
    }
    return 0;
}
