#pragma once

// Amounts and dates as the programs write them: integer cents as "1,234.56",
// "YYYY-MM-DD" dates as day numbers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "LhApi.h"

namespace ledgerhost {

// Days since 1970-01-01 of a "YYYY-MM-DD" date (proleptic Gregorian); nothing
// for text that is not such a date.
LH_API std::optional<int> dayNumber(std::string_view date);

// "1,234.56" / "-0.05".
LH_API std::string formatCents(std::int64_t cents);

// True when the text holds nothing but blanks and control characters.
LH_API bool isBlankText(std::string_view text);
// True when the text, blanks aside, is only dashes ("-", "—", "－", "–"):
// what a statement prints in a balance column where it reports no figure.
LH_API bool isDashOnly(std::string_view text);

// An amount exactly as a bank or a spreadsheet writes it: an optional sign,
// digits (grouped by "," in threes, or not grouped at all; no grouping when
// the workstation's decimal separator is ","), then optionally the decimal
// separator and one or two decimals; blanks around it are ignored. Answers the
// amount in cents, computed from the digits (no rounding ever happens). For
// anything else, blank text included, it answers nothing and `why` (when
// given) says why, as a message shows it after the quoted text:
// "不是金额：…", "超过两位小数。" or "超出范围。" (10,000,000,000,000 and more).
// Every reader of amounts from a file uses it, so "12,3x4.00", "1.005" and
// "#DIV/0!" are refused alike; what a blank amount means is the caller's (0
// for a debit or credit, none for a balance).
LH_API std::optional<std::int64_t> parseAmountCents(std::string_view text,
                                                    std::string* why = nullptr);

}  // namespace ledgerhost
