#pragma once

// Carrying a book set forward into the next year (结转下年). Every account's
// closing balance on the journal's side and, for a bank account, on the
// statement's side, as the journal load computes it at the year's end, is
// recorded with the closed year; the book set's year moves on. The load opens
// every range with the account's opening plus every row before it, so the
// closing balance is the next year's opening without being copied anywhere,
// a query across both years shows one running balance, and last year's
// range shows its balances as before. Rows dated in a closed year can no
// longer be added, changed or deleted (closedYearProblem, Glide.h); they stay
// reconcilable, and unreconciled ones take part in the reconciliation of
// later ranges. See Users.h for what every change here shares.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

struct LH_API ClosingBalance {
    std::string AsCode;
    std::string AccountSetCode;  // the book set that owns the account
    std::string AccountNo;
    std::string Name;
    int Kind = 0;
    std::int64_t JournalCents = 0;
    std::optional<std::int64_t> BankCents;  // bank accounts only
};

struct LH_API ClosedYear {
    int Year = 0;
    std::string ClosedBy;
    std::string ClosedAt;
    std::vector<ClosingBalance> Balances;  // as recorded at the close
};

// The balances at the end of `year` of every account the book set's rows use
// (its own accounts, and its managing book set's that it has rows on), from
// the journal load.
LH_API std::vector<ClosingBalance> closingBalances(Database& db, const std::string& setCode,
                                                   int year);

// Why the book set's open year cannot be carried forward as at `today`
// ("YYYY-MM-DD"); empty when it can.
LH_API std::string carryForwardProblem(Database& db, const std::string& setCode,
                                       const std::string& today);

// Closes the book set's open year as at `today` (the database's date), in one
// transaction: refused with the reason of carryForwardProblem. Answers what
// was recorded.
LH_API ClosedYear carryForward(Database& db, const std::string& actor, const std::string& setCode,
                               const std::string& today);

// The years of the book set carried forward, oldest first, with what was
// recorded.
LH_API std::vector<ClosedYear> closedYears(Database& db, const std::string& setCode);

}  // namespace ledgerhost
