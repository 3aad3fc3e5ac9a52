#include "Codec.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

#include "Regional.h"

namespace ledgerhost {

bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t n = s.size(), i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (int k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}

namespace {

class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("不支持的字符集: ") + from + " -> " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts as much as possible; returns false at an invalid or incomplete
    // sequence, leaving in/inLeft at the offending byte.
    bool run(char*& in, std::size_t& inLeft, std::string& out) {
        char buf[4096];
        while (inLeft > 0) {
            char* o = buf;
            std::size_t oLeft = sizeof buf;
            std::size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
            out.append(buf, o - buf);
            if (r == static_cast<std::size_t>(-1)) {
                if (errno == E2BIG) continue;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
                return false;
            }
        }
        return true;
    }

  private:
    iconv_t cd_;
};

}  // namespace

std::string toUtf8(std::string_view bytes, const char* codePage) {
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    Iconv cv("UTF-8", codePage);
    // iconv only reads through its input pointer, so the bytes are not copied.
    char* in = const_cast<char*>(bytes.data());
    std::size_t left = bytes.size();
    while (!cv.run(in, left, out)) {
        out += "\xEF\xBF\xBD";  // U+FFFD for the byte that did not decode
        ++in;
        --left;
    }
    return out;
}

std::string fromUtf8(std::string_view utf8, const char* codePage) {
    std::string out;
    out.reserve(utf8.size());
    Iconv cv(codePage, "UTF-8");
    std::string copy(utf8);
    char* in = copy.data();
    std::size_t left = copy.size();
    while (!cv.run(in, left, out)) {
        out += '?';
        // Skip the whole UTF-8 sequence that could not be represented.
        ++in;
        --left;
        while (left > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
            ++in;
            --left;
        }
    }
    return out;
}

std::string gbkToUtf8(std::string_view gbk) {
    return toUtf8(gbk, "GBK");
}
std::string utf8ToGbk(std::string_view utf8) {
    return fromUtf8(utf8, "GBK");
}

namespace {

// How plausible valid UTF-8 is as text. Chinese in UTF-8 is three-byte
// sequences (and so are the full-width and general punctuation signs);
// accented Latin letters are Latin-1 (up to U+00FF). Short texts of the ANSI
// code page that happen to be valid UTF-8 decode to a mix of two-byte
// characters beyond that: Latin extensions, Greek, Cyrillic, Armenian, Hebrew,
// Arabic letters and combining marks, or C1 control characters.
struct Utf8Reading {
    std::size_t plausible = 0, odd = 0;
};

Utf8Reading readUtf8(std::string_view s) {
    Utf8Reading r;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
        } else if (c < 0xE0) {  // two bytes (the text is valid UTF-8)
            const unsigned cp = (c & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
            if (cp >= 0xA0 && cp <= 0xFF)
                ++r.plausible;
            else
                ++r.odd;
            i += 2;
        } else {
            ++r.plausible;
            i += c < 0xF0 ? 3 : 4;
        }
    }
    return r;
}

}  // namespace

namespace {

// How a line of a file reads. Lines of ASCII and lines that read either way
// follow the file; a line is taken for UTF-8 only when it is valid UTF-8 with
// Chinese (or full-width) characters of three bytes and nothing else of three
// or more, for the code page only when it is not valid UTF-8, or when it is
// but reads only as odd two-byte letters the code page decodes.
enum class LineKind { Either, Utf8, CodePage };

bool cjkThreeBytes(unsigned cp) {
    return (cp >= 0x2000 && cp <= 0x2BFF) || (cp >= 0x2E80 && cp <= 0x9FFF) ||
           (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
           (cp >= 0xFF00 && cp <= 0xFFEF);
}

LineKind lineKind(std::string_view line) {
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    std::size_t i = 0;
    while (i < line.size() && p[i] < 0x80) ++i;
    if (i == line.size()) return LineKind::Either;
    if (!isValidUtf8(line)) return LineKind::CodePage;
    bool chinese = false, other = false;
    std::size_t odd = 0, plausible = 0;
    for (; i < line.size();) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
        } else if (c < 0xE0) {
            const unsigned cp = (c & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
            ++(cp >= 0xA0 && cp <= 0xFF ? plausible : odd);
            i += 2;
        } else if (c < 0xF0) {
            const unsigned cp = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
            (cjkThreeBytes(cp) ? chinese : other) = true;
            i += 3;
        } else {
            other = true;
            i += 4;
        }
    }
    if (chinese && !other) return LineKind::Utf8;
    if (!chinese && !other && plausible == 0 && odd > 0 &&
        toUtf8(line, regional().codePage.c_str()).find("\xEF\xBF\xBD") == std::string::npos)
        return LineKind::CodePage;
    return LineKind::Either;
}

[[noreturn]] void refuseLine(std::size_t line, const char* why) {
    throw TextFileError("第 " + std::to_string(line) + " 行" + why);
}

constexpr const char* kMixed =
    "的编码与文件其余各行不同（UTF-8 与 GBK 混用），请将文件另存为同一种编码后再导入";

}  // namespace

std::string decodeFileText(std::string_view bytes) {
    const bool bom = bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
    if (bom) bytes.remove_prefix(3);
    // Line by line, as the readers count lines (CR LF, CR or LF ends one).
    std::size_t utf8 = 0, codePage = 0, firstUtf8 = 0, firstCodePage = 0, number = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = bytes.find_first_of(std::string_view("\r\n", 2), at);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view line = bytes.substr(at, end - at);
        ++number;
        if (line.find('\0') != std::string_view::npos)
            refuseLine(number, "含有空字符（NUL），不是文本文件的内容");
        switch (lineKind(line)) {
            case LineKind::Utf8:
                if (utf8++ == 0) firstUtf8 = number;
                break;
            case LineKind::CodePage:
                // With a BOM the file is UTF-8: only a line that is not is refused.
                if (bom) {
                    if (!isValidUtf8(line)) refuseLine(number, kMixed);
                } else if (codePage++ == 0) {
                    firstCodePage = number;
                }
                break;
            case LineKind::Either:
                break;
        }
        at = end;
        if (at < bytes.size() && bytes[at] == '\r' && at + 1 < bytes.size() &&
            bytes[at + 1] == '\n')
            ++at;
        if (at < bytes.size()) ++at;
    }
    if (utf8 > 0 && codePage > 0) {
        // The line of the fewer kind is the odd one out; the later one on a tie.
        const bool utf8Odd = utf8 < codePage || (utf8 == codePage && firstUtf8 > firstCodePage);
        refuseLine(utf8Odd ? firstUtf8 : firstCodePage, kMixed);
    }
    if (bom) return std::string(bytes);
    if (!isValidUtf8(bytes)) return toUtf8(bytes, regional().codePage.c_str());
    const Utf8Reading reading = readUtf8(bytes);
    if (reading.plausible > reading.odd) return std::string(bytes);  // also pure ASCII
    // Mostly odd two-byte characters: the code page's reading wins when it
    // decodes every byte.
    const std::string ansi = toUtf8(bytes, regional().codePage.c_str());
    if (ansi.find("\xEF\xBF\xBD") != std::string::npos) return std::string(bytes);
    return ansi;
}

}  // namespace ledgerhost
