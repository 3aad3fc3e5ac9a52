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
    std::string copy(bytes);
    char* in = copy.data();
    std::size_t left = copy.size();
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

std::string decodeFileText(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (isValidUtf8(bytes)) return std::string(bytes);
    return toUtf8(bytes, regional().codePage.c_str());
}

}  // namespace ledgerhost
