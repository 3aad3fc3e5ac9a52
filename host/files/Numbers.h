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

}  // namespace ledgerhost
