#pragma once

// The bank's own balances of a bank account: the bank's opening balance of the
// year, the balances the bank reported after each statement line (kept with
// the statement rows), and how they are checked. The journal load, the
// statement importers, the wizard's converter and the reconciliation core all
// read them here, so the statement has one running balance everywhere.
//
// A statement keeps the bank's side: money in (a credit) raises the balance.
// An account's statement rows are those of its book set and of the book sets
// it manages that use its account under that code; they run in the order
// (date, 统一号, id).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LhApi.h"

namespace ledgerhost {

class Database;

// The bank's own opening balance of the year for the account `asCode` of book
// set `setCode`, as entered; nothing when none has been entered.
LH_API std::optional<std::int64_t> bankOpening(Database& db, const std::string& setCode,
                                               const std::string& asCode);

// The book sets whose rows under `asCode` belong to the account of book set
// `setCode`: that book set and the book sets it manages that have no account
// of their own under that code, in code order.
LH_API std::vector<std::string> accountBookSets(Database& db, const std::string& setCode,
                                                const std::string& asCode);

// Where a stored statement and the bank's balances part: the row whose
// reported balance is not what the rows before it give.
struct LH_API BalanceBreak {
    std::int64_t id = 0;
    std::string date;
    std::int64_t number = 0;    // 统一号
    std::int64_t expected = 0;  // the balance the stored rows give after the row
    std::int64_t reported = 0;  // the bank's
    // The date of the last row before it whose balance the bank reported, or
    // empty when the rows are counted from the opening balance.
    std::string since;
    std::int64_t difference() const { return reported - expected; }
};

// One walk over an account's stored statement rows dated up to `until`
// (inclusive; empty for all). The running balance starts from the bank's
// opening (0 when it is not set). Each reported balance is compared with the
// running balance the rows give since the previous reported one (or since the
// opening; with no opening set, the first reported balance is taken as it
// stands), so one missing, doubled or changed line makes one break.
struct LH_API StatementWalk {
    std::optional<std::int64_t> opening;
    std::int64_t balance = 0;  // opening + every row up to `until`
    std::vector<BalanceBreak> breaks;
    // The last row (in order) whose balance the bank reported.
    struct Reported {
        std::string date;
        std::int64_t cents = 0;
        std::int64_t rowsBefore = 0;  // the rows' total up to that date (opening not included)
    };
    std::optional<Reported> lastReported;
    // The rows' total up to `date` (inclusive), opening not included.
    std::int64_t totalUntil(const std::string& date) const;

    struct DayTotal {
        std::string date;
        std::int64_t total;  // the rows' total up to the end of that date
    };
    std::vector<DayTotal> days;  // in date order
};
LH_API StatementWalk walkStatement(Database& db, const std::string& setCode,
                                   const std::string& asCode, const std::string& until);

// Checks the bank's balances in a statement file as it is read. Within the file
// each reported balance must be the previous one of its account plus the lines
// since; the first line of an account in the file must carry on from what is
// stored of that account before its date (the last reported balance plus the
// rows since, or the bank's opening plus every row). A break stops nothing: the
// file is imported as it stands, and the warnings name each break. Lines of a
// file without any balance are not checked. Ask for the stored figures before
// any line of the account is stored (the importers call line() as they read).
class LH_API BankBalanceCheck {
  public:
    explicit BankBalanceCheck(Database& db) : db_(db) {}

    // One line of the file: the account (its book set and code), the line's
    // number in the file, its date ("YYYY-MM-DD"), its amount on the bank's
    // side (credit minus debit) and the balance the bank reported after it.
    void line(const std::string& setCode, const std::string& asCode, long long lineNo,
              const std::string& date, std::int64_t net, std::optional<std::int64_t> reported);

    // One sentence per break, in file order, for the first kKeptBreaks
    // breaks: a file with a break on every line must not grow them without
    // bound. breaks() counts them all.
    const std::vector<std::string>& warnings() const { return warnings_; }
    std::size_t breaks() const { return breaks_; }
    static constexpr std::size_t kKeptBreaks = 100;

  private:
    struct Account {
        std::string setCode, asCode;
        std::optional<std::int64_t> balance;  // the running balance the file's balances carry
        bool fromStore = false;               // `balance` still comes from the stored rows
        std::string storedSince;              // the date the stored figure dates from
        std::string firstDate;
    };
    Account& account(const std::string& setCode, const std::string& asCode,
                     const std::string& date);

    Database& db_;
    std::vector<Account> accounts_;
    std::vector<std::string> warnings_;
    std::size_t breaks_ = 0;
};

// Warnings as lines to put after a completion message: at most a few, then
// how many breaks there are in all (BankBalanceCheck::breaks); empty when
// there are none.
LH_API std::string balanceWarningLines(const std::vector<std::string>& warnings,
                                       std::size_t breaks);
// The line that says how many breaks the warnings leave out; empty when none.
LH_API std::string unlistedBreaks(std::size_t listed, std::size_t breaks);

}  // namespace ledgerhost
