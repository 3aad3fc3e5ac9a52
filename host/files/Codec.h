#pragma once

#include <stdexcept>
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

// Decodes the contents of a text file. With a UTF-8 BOM the rest is UTF-8 (the
// BOM is dropped). Without one, text that is not valid UTF-8 is read in the
// workstation's ANSI code page; valid UTF-8 is taken as UTF-8 unless it reads
// as implausible text (mostly two-byte Greek, Hebrew, Cyrillic, ... letters
// rather than Chinese or Latin-1) and the code page decodes every byte, as
// happens with short GBK texts such as 支取 or 摘要.
//
// The whole file is read in one encoding. A NUL byte, or a line that can only
// be UTF-8 in a file with lines that can only be the code page (or the other
// way round; in a file with a BOM, a line that is not UTF-8), throws
// TextFileError naming the line (counted from 1, lines ending at CR LF, CR or
// LF): such a file would otherwise be stored cut short or garbled.
LH_API std::string decodeFileText(std::string_view bytes);

// A text file that is not text in one encoding; the message names the line
// ("第 3 行含有空字符（NUL）…") and is meant to follow the file's name.
class LH_API TextFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace ledgerhost
