#include "Numbers.h"

#include "Regional.h"

namespace ledgerhost {

std::optional<int> dayNumber(std::string_view date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (date[i] < '0' || date[i] > '9') return std::nullopt;
    auto digits = [&](int at, int n) {
        int v = 0;
        for (int i = at; i < at + n; ++i) v = v * 10 + (date[i] - '0');
        return v;
    };
    int y = digits(0, 4);
    const unsigned m = static_cast<unsigned>(digits(5, 2));
    const unsigned d = static_cast<unsigned>(digits(8, 2));
    static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return std::nullopt;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m == 2 && d == 29 && !leap) return std::nullopt;
    // Days from civil (proleptic Gregorian).
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int>(doe) - 719468;
}

std::string formatCents(std::int64_t cents) {
    const bool negative = cents < 0;
    std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(cents) : cents;
    std::string whole = std::to_string(v / 100);
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) whole.insert(i, ",");
    const unsigned frac = v % 100;
    return (negative ? "-" : "") + whole + "." + static_cast<char>('0' + frac / 10) +
           static_cast<char>('0' + frac % 10);
}

bool isBlankText(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
}

bool isDashOnly(std::string_view t) {
    bool dash = false;
    while (!t.empty()) {
        if (static_cast<unsigned char>(t.front()) <= ' ') {
            t.remove_prefix(1);
            continue;
        }
        bool found = false;
        for (std::string_view d : {"-", "\xE2\x80\x94", "\xEF\xBC\x8D", "\xE2\x80\x93"})
            if (t.substr(0, d.size()) == d) {
                t.remove_prefix(d.size());
                found = dash = true;
                break;
            }
        if (!found) return false;
    }
    return dash;
}

std::optional<std::int64_t> parseAmountCents(std::string_view t, std::string* why) {
    auto refuse = [&](const char* reason) -> std::optional<std::int64_t> {
        if (why) *why = reason;
        return std::nullopt;
    };
    static const char* const kNotAmount =
        "不是金额：只能有数字、一个小数点，千位分隔符“,”只能三位一组。";
    while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
    while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
    const char dec = regional().decimalSeparator;
    const bool grouping = dec != ',';
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    // The whole part, at most 13 digits (below 10,000,000,000,000).
    std::int64_t whole = 0;
    std::size_t run = 0, digits = 0;
    bool grouped = false, tooLarge = false;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (; i < t.size() && t[i] != dec; ++i) {
        if (digit(t[i])) {
            // Leading zeros are digits of the text, not of the value.
            if (digits > 0 || t[i] != '0') {
                if (++digits > 13) tooLarge = true;
                if (!tooLarge) whole = whole * 10 + (t[i] - '0');
            }
            ++run;
        } else if (t[i] == ',' && grouping) {
            if (run == 0 || (grouped ? run != 3 : run > 3)) return refuse(kNotAmount);
            grouped = true;
            run = 0;
        } else {
            return refuse(kNotAmount);
        }
    }
    const bool anyWhole = run > 0 || grouped;
    if (grouped && run != 3) return refuse(kNotAmount);
    std::int64_t fraction = 0;
    std::size_t decimals = 0;
    if (i < t.size()) {
        for (++i; i < t.size(); ++i) {
            if (!digit(t[i])) return refuse(kNotAmount);
            if (decimals < 2) fraction = fraction * 10 + (t[i] - '0');
            ++decimals;
        }
        if (decimals == 0) return refuse(kNotAmount);
    }
    if (!anyWhole) return refuse(kNotAmount);
    if (decimals > 2) return refuse("超过两位小数。");
    if (tooLarge) return refuse("超出范围。");
    if (decimals == 1) fraction *= 10;
    const std::int64_t cents = whole * 100 + fraction;
    return negative ? -cents : cents;
}

}  // namespace ledgerhost
