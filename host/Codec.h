#pragma once

#include <string>
#include <string_view>

#include "LhApi.h"

namespace ledgerhost {

// Text in memory is UTF-8. GBK (or another ANSI code page) appears only at the
// string exports and in files.
LH_API bool isValidUtf8(std::string_view bytes);

// Converts from the named code page to UTF-8. A byte sequence the code page
// cannot decode becomes U+FFFD (the replacement character) and decoding goes on
// with the next byte, so nothing crashes and a damaged byte stays visible.
LH_API std::string toUtf8(std::string_view bytes, const char* codePage);
// Converts UTF-8 to the named code page; a character it cannot hold becomes '?'.
LH_API std::string fromUtf8(std::string_view utf8, const char* codePage);

LH_API std::string gbkToUtf8(std::string_view gbk);
LH_API std::string utf8ToGbk(std::string_view utf8);

// Decodes the contents of a text file: valid UTF-8 (a BOM is dropped) is taken
// as it is; anything else is read in the workstation's ANSI code page.
LH_API std::string decodeFileText(std::string_view bytes);

}  // namespace ledgerhost
