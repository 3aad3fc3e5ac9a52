#include "Regional.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace ledgerhost {

RegionalSettings RegionalSettings::fromEnvironment() {
    RegionalSettings r;
    if (const char* f = std::getenv("LEDGER_SHORT_DATE"); f && *f) {
        r.shortDateFormat = f;
        for (char c : r.shortDateFormat)
            if (!std::isalpha(static_cast<unsigned char>(c))) {
                r.dateSeparator = c;
                break;
            }
    }
    if (const char* d = std::getenv("LEDGER_DECIMAL_SEP"); d && *d) r.decimalSeparator = *d;
    if (const char* c = std::getenv("LEDGER_CODEPAGE"); c && *c) r.codePage = c;
    return r;
}

RegionalSettings& regional() {
    static RegionalSettings r = RegionalSettings::fromEnvironment();
    return r;
}

namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool readNumber(std::string_view s, int& out) {
    if (s.empty() || s.size() > 4) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    std::from_chars(s.data(), s.data() + s.size(), out);
    return true;
}

std::optional<QDate> readParts(std::string_view text, std::string_view order, char sep) {
    int parts[3];
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t end = i < 2 ? text.find(sep, pos) : text.size();
        if (end == std::string_view::npos) return std::nullopt;
        if (!readNumber(text.substr(pos, end - pos), parts[i])) return std::nullopt;
        int width = static_cast<int>(end - pos);
        if (order[i] == 'y' && width != 2 && width != 4) return std::nullopt;
        if (order[i] != 'y' && width > 2) return std::nullopt;
        if (order[i] == 'y' && width == 2) parts[i] += parts[i] < 50 ? 2000 : 1900;
        pos = end + 1;
    }
    int y = 0, m = 0, d = 0;
    for (int i = 0; i < 3; ++i) {
        if (order[i] == 'y') y = parts[i];
        if (order[i] == 'm') m = parts[i];
        if (order[i] == 'd') d = parts[i];
    }
    QDate date(y, m, d);
    if (!date.isValid()) return std::nullopt;
    return date;
}

std::string orderOf(std::string_view format) {
    std::string order;
    for (char c : format) {
        char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((l == 'y' || l == 'm' || l == 'd') && order.find(l) == std::string::npos) order += l;
    }
    return order.size() == 3 ? order : "ymd";
}

}  // namespace

std::optional<QDate> parseDate(std::string_view text, std::string_view format, char separator) {
    text = trimBlanks(text);
    return readParts(text, orderOf(format), separator);
}

std::optional<QDate> parseShortDate(std::string_view text) {
    const RegionalSettings& r = regional();
    if (auto d = parseDate(text, r.shortDateFormat, r.dateSeparator)) return d;
    text = trimBlanks(text);
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') return readParts(text, "ymd", '-');
    return std::nullopt;
}

std::string isoDate(const QDate& d) {
    // Written directly for the years a journal holds: formatting through
    // QString (or snprintf) cost more than the rest of a statement line's
    // parsing.
    if (d.isValid() && d.year() >= 1 && d.year() <= 9999) {
        int year = 0, month = 0, day = 0;
        d.getDate(&year, &month, &day);
        std::string out = "0000-00-00";
        for (int i = 3; i >= 0; --i, year /= 10) out[i] = static_cast<char>('0' + year % 10);
        out[5] = static_cast<char>('0' + month / 10);
        out[6] = static_cast<char>('0' + month % 10);
        out[8] = static_cast<char>('0' + day / 10);
        out[9] = static_cast<char>('0' + day % 10);
        return out;
    }
    return d.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

bool isIsoDate(std::string_view text) {
    auto digits = [&](std::size_t from, std::size_t n) {
        int v = 0;
        for (std::size_t i = from; i < from + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            v = v * 10 + (text[i] - '0');
        }
        return v;
    };
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
        if (y >= 1 && m >= 1 && m <= 12 && d >= 1) {
            static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
            const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
            if (d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return true;
        }
    }
    // Anything else as the general reader takes it.
    return parseDate(text, "yyyy-MM-dd", '-').has_value();
}

std::optional<double> parseDecimal(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty()) return std::nullopt;
    std::string norm;
    norm.reserve(text.size());
    std::size_t i = 0;
    // from_chars takes a minus but not a plus.
    if (text[i] == '-')
        norm += text[i++];
    else if (text[i] == '+')
        ++i;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits = true;
            norm += c;
        } else if (c == regional().decimalSeparator && !point) {
            point = true;
            norm += '.';
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exp = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exp += text[j++];
        std::size_t start = j;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            exp += text[j++];
        if (j == start) return std::nullopt;
        norm += exp;
        i = j;
    }
    if (i != text.size()) return std::nullopt;
    double v = 0;
    auto [p, ec] = std::from_chars(norm.data(), norm.data() + norm.size(), v);
    if (ec != std::errc() || p != norm.data() + norm.size()) return std::nullopt;
    return v;
}

}  // namespace ledgerhost
