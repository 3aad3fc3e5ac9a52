#pragma once

#include <QDate>
#include <optional>
#include <string>
#include <string_view>

#include "LhApi.h"

namespace ledgerhost {

// The workstation's regional settings as one object. Defaults are the Chinese
// ones; the environment variables LEDGER_SHORT_DATE (for example "dd/MM/yyyy"),
// LEDGER_DECIMAL_SEP and LEDGER_CODEPAGE override them, and tests may assign
// the fields directly.
struct LH_API RegionalSettings {
    std::string shortDateFormat = "yyyy-MM-dd";  // order of y, M, d and the separator
    char dateSeparator = '-';
    char decimalSeparator = '.';
    std::string codePage = "GBK";

    static RegionalSettings fromEnvironment();
};

LH_API RegionalSettings& regional();

// Reads a date written in a short date form: three numbers in the order the
// format gives (a two-digit year counts from 2000 below 50, else 1900),
// separated by `separator`.
LH_API std::optional<QDate> parseDate(std::string_view text, std::string_view format,
                                      char separator);
// The same with the workstation's short date form. Dates the host wrote itself
// ("YYYY-MM-DD") always read back, whatever the regional settings.
LH_API std::optional<QDate> parseShortDate(std::string_view text);
// "YYYY-MM-DD".
LH_API std::string isoDate(const QDate& d);
// True when the text reads as a date "yyyy-MM-dd" (parseDate with that
// format); the canonical form isoDate writes is checked without a QDate.
LH_API bool isIsoDate(std::string_view text);

// Reads a decimal number written with the workstation's decimal separator:
// optional blanks and sign, digits, one separator, digits, an optional
// exponent. Anything else gives nothing.
LH_API std::optional<double> parseDecimal(std::string_view text);

}  // namespace ledgerhost
