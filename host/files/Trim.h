#pragma once

// The trim the readers and the import wizard share.

#include <cstddef>
#include <string>
#include <string_view>

namespace ledgerhost {

// The text without blanks and control characters (every byte up to the
// space) at either end. Bytes of multi-byte UTF-8 characters are kept.
inline std::string trimControls(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace ledgerhost
