#include "Numbers.h"

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

}  // namespace ledgerhost
