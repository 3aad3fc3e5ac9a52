#pragma once

// The text helpers the readers, the importers and the host's routines share.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ledgerhost {

// The text without blanks and control characters (every byte up to the
// space) at either end. Bytes of multi-byte UTF-8 characters are kept.
inline std::string trimControls(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

// Splits a line at a delimiter, keeping every piece: empty ones too, and a
// final empty piece after a trailing delimiter. An empty line gives one empty
// piece; an empty delimiter gives the whole line.
inline std::vector<std::string> splitKeepingEmpty(const std::string& line,
                                                  const std::string& delim) {
    std::vector<std::string> pieces;
    if (delim.empty()) {
        pieces.push_back(line);
        return pieces;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t at = line.find(delim, start);
        if (at == std::string::npos) {
            pieces.emplace_back(line, start);
            return pieces;
        }
        pieces.emplace_back(line, start, at - start);
        start = at + delim.size();
    }
}

}  // namespace ledgerhost
