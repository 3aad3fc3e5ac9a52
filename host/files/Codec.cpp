#include "Codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
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
    iconv_t handle() const { return cd_; }
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

namespace {

// Decodes with iconv from `in` on, appending to `out`.
void iconvToUtf8(const char* codePage, std::string_view bytes, std::string& out) {
    Iconv cv("UTF-8", codePage);
    // iconv only reads through its input pointer, so the bytes are not copied.
    char* in = const_cast<char*>(bytes.data());
    std::size_t left = bytes.size();
    while (!cv.run(in, left, out)) {
        out += "\xEF\xBF\xBD";  // U+FFFD for the byte that did not decode
        ++in;
        --left;
    }
}

// What iconv makes of every one- and two-byte character of a code page, asked
// once per code page: a long file is then decoded by lookup rather than
// through iconv's per-character machinery (a tenth of a statement import's
// time). Only complete characters are in it; a sequence it lacks (a damaged
// byte, a four-byte GB18030 character) hands the rest of the text to iconv,
// so the result is iconv's own.
class DoubleByteTable {
  public:
    explicit DoubleByteTable(const char* codePage) : codePage_(codePage) {
        Iconv cv("UTF-8", codePage);
        auto decode = [&cv](const char* seq, std::size_t n, Entry& e) {
            char buf[8];
            char* in = const_cast<char*>(seq);
            char* o = buf;
            std::size_t inLeft = n, oLeft = sizeof buf;
            const std::size_t r = iconv(cv.handle(), &in, &inLeft, &o, &oLeft);
            iconv(cv.handle(), nullptr, nullptr, nullptr, nullptr);
            const auto len = static_cast<std::size_t>(o - buf);
            if (r == static_cast<std::size_t>(-1) || inLeft != 0 || len == 0 || len > 4) return;
            e.len = static_cast<unsigned char>(len);
            std::copy(buf, buf + len, e.utf8);
        };
        for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
            const char one[1] = {static_cast<char>(lead)};
            decode(one, 1, single_[lead - 0x80]);
            if (single_[lead - 0x80].len) continue;  // a character by itself
            for (unsigned trail = 0x20; trail <= 0xFF; ++trail) {
                const char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                decode(two, 2, pair_[(lead - 0x80) * 224 + (trail - 0x20)]);
            }
        }
    }

    void decode(std::string_view bytes, std::string& out) const {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t n = bytes.size();
        std::size_t i = 0;
        while (i < n) {
            const std::size_t start = i;
            while (i < n && p[i] < 0x80) ++i;
            out.append(bytes.data() + start, i - start);
            if (i == n) break;
            const Entry* e = &single_[p[i] - 0x80];
            std::size_t width = 1;
            if (!e->len) {
                if (i + 1 == n || p[i + 1] < 0x20) break;
                e = &pair_[(p[i] - 0x80) * 224 + (p[i + 1] - 0x20)];
                width = 2;
            }
            if (!e->len) break;
            out.append(e->utf8, e->len);
            i += width;
        }
        if (i < n) iconvToUtf8(codePage_.c_str(), bytes.substr(i), out);
    }

  private:
    struct Entry {
        char utf8[4] = {};
        unsigned char len = 0;
    };
    std::string codePage_;
    Entry single_[128];
    Entry pair_[128 * 224];
};

// Below this size iconv alone is quicker than asking it for the table.
constexpr std::size_t kTableWorthBytes = 256 * 1024;

const DoubleByteTable& doubleByteTable(const char* codePage) {
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<DoubleByteTable>, std::less<>> tables;
    std::lock_guard<std::mutex> hold(lock);
    auto it = tables.find(std::string_view(codePage));
    if (it == tables.end())
        it = tables.emplace(codePage, std::make_unique<DoubleByteTable>(codePage)).first;
    return *it->second;
}

}  // namespace

std::string toUtf8(std::string_view bytes, const char* codePage) {
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    if (bytes.size() >= kTableWorthBytes)
        doubleByteTable(codePage).decode(bytes, out);
    else
        iconvToUtf8(codePage, bytes, out);
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

void TextDecoding::line(std::string_view text) {
    ++number_;
    if (maxLine_ && text.size() > maxLine_) tooLong(number_);
    if (text.find('\0') != std::string_view::npos)
        refuseLine(number_, "含有空字符（NUL），不是文本文件的内容");
    const LineKind kind = lineKind(text);
    switch (kind) {
        case LineKind::Utf8:
            if (utf8_++ == 0) firstUtf8_ = number_;
            break;
        case LineKind::CodePage:
            // With a BOM the file is UTF-8: only a line that is not is refused.
            if (bom_) {
                if (!isValidUtf8(text)) refuseLine(number_, kMixed);
            } else if (codePage_++ == 0) {
                firstCodePage_ = number_;
            }
            break;
        case LineKind::Either:
            break;
    }
    if (!valid_) return;
    if (kind == LineKind::CodePage && !isValidUtf8(text)) {
        valid_ = false;
        return;
    }
    const Utf8Reading r = readUtf8(text);
    plausible_ += r.plausible;
    odd_ += r.odd;
}

void TextDecoding::tooLong(std::size_t line) const {
    throw TextFileError("第 " + std::to_string(line) + " 行超过每行 " + std::to_string(maxLine_) +
                        " 字节的上限，不是可以导入的文本");
}

// Takes the ended lines out of pending_; with `last`, also the unended rest.
// A CR at the very end waits for the next piece, which may begin with its LF.
void TextDecoding::takeLines(bool last) {
    std::size_t at = 0;
    const std::size_t n = pending_.size();
    while (at < n) {
        std::size_t end = pending_.find_first_of(std::string_view("\r\n", 2), at);
        if (end == std::string::npos || (!last && pending_[end] == '\r' && end + 1 == n)) break;
        line(std::string_view(pending_).substr(at, end - at));
        at = end + (pending_[end] == '\r' && end + 1 < n && pending_[end + 1] == '\n' ? 2 : 1);
    }
    if (last && at < n) {
        line(std::string_view(pending_).substr(at));
        at = n;
    }
    pending_.erase(0, at);
    if (maxLine_ && pending_.size() > maxLine_) tooLong(number_ + 1);
}

void TextDecoding::scan(std::string_view bytes) {
    pending_.append(bytes);
    if (!started_) {
        if (pending_.size() < 3) return;
        started_ = true;
        bom_ = pending_.compare(0, 3, "\xEF\xBB\xBF") == 0;
        if (bom_) pending_.erase(0, 3);
    }
    takeLines(false);
}

bool TextDecoding::finishScan() {
    started_ = true;  // fewer than three bytes hold no BOM
    takeLines(true);
    if (utf8_ > 0 && codePage_ > 0) {
        // The line of the fewer kind is the odd one out; the later one on a tie.
        const bool utf8Odd =
            utf8_ < codePage_ || (utf8_ == codePage_ && firstUtf8_ > firstCodePage_);
        refuseLine(utf8Odd ? firstUtf8_ : firstCodePage_, kMixed);
    }
    if (bom_)
        choice_ = Choice::Raw;
    else if (!valid_)
        choice_ = Choice::CodePage;
    else if (plausible_ > odd_)
        choice_ = Choice::Raw;  // also pure ASCII
    else
        choice_ = Choice::Check;  // the code page's reading wins if it decodes every byte
    return choice_ == Choice::Check;
}

void TextDecoding::checkCodePage(std::string_view lines) {
    if (choice_ != Choice::Check || replaced_) return;
    replaced_ =
        toUtf8(lines, regional().codePage.c_str()).find("\xEF\xBF\xBD") != std::string::npos;
}

std::string TextDecoding::decode(std::string_view lines, bool first) const {
    if (first && bom_) lines.remove_prefix(std::min<std::size_t>(3, lines.size()));
    const bool codePage = choice_ == Choice::CodePage || (choice_ == Choice::Check && !replaced_);
    return codePage ? toUtf8(lines, regional().codePage.c_str()) : std::string(lines);
}

std::string decodeFileText(std::string_view bytes) {
    TextDecoding d;
    d.scan(bytes);
    if (d.finishScan()) d.checkCodePage(bytes);
    return d.decode(bytes, true);
}

}  // namespace ledgerhost
