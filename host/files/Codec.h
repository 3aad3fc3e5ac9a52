#pragma once

#include <cstddef>
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

// A text file's decoding, as decodeFileText does it, for a file read in
// pieces so that it is never held whole. scan() is given every byte of the
// file in order and finishScan() refuses what decodeFileText refuses; when
// finishScan() answers true the choice needs the file once more through
// checkCodePage(). decode() then converts the file in pieces that each end
// just after a line break (or at the file's end), the first from its start.
class LH_API TextDecoding {
  public:
    // `maxLine` (bytes, 0 for none): a longer line throws TextFileError
    // naming the line and the limit, so that a file without line breaks is
    // not held whole.
    explicit TextDecoding(std::size_t maxLine = 0) : maxLine_(maxLine) {}

    void scan(std::string_view bytes);
    bool finishScan();
    void checkCodePage(std::string_view lines);
    std::string decode(std::string_view lines, bool first) const;
    // The file's lines (as the readers count them), once scanned.
    std::size_t lines() const { return number_; }

  private:
    void line(std::string_view text);
    void takeLines(bool last);
    [[noreturn]] void tooLong(std::size_t line) const;

    enum class Choice { Undecided, Raw, CodePage, Check };
    std::size_t maxLine_;
    std::string pending_;  // bytes of the line not yet ended
    bool started_ = false, bom_ = false, valid_ = true, replaced_ = false;
    Choice choice_ = Choice::Undecided;
    std::size_t number_ = 0, utf8_ = 0, codePage_ = 0, firstUtf8_ = 0, firstCodePage_ = 0;
    std::size_t plausible_ = 0, odd_ = 0;
};

// A text file that is not text in one encoding; the message names the line
// ("第 3 行含有空字符（NUL）…") and is meant to follow the file's name.
class LH_API TextFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace ledgerhost
