#pragma once

// The journals' balances before a date, from the totals the store keeps by day
// (journal_days: per journal table, book set, account and day, the debits,
// credits and rows of every row dated up to the end of that day). The journal
// load's opening line and the daily funds report both take a balance from
// JournalBalances::before, so a window and a report cannot disagree.
//
// Every writer of the journal tables keeps the totals: the row operations and
// the batch save (Glide.cpp) collect what they change in a DayTotalsChange
// and apply it once per saved block; a program that writes rows with its own
// SQL (the demo) calls fillJournalDays afterwards.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

// Debits, credits and the number of rows.
struct LH_API RowTotals {
    std::int64_t deb = 0, cre = 0, rows = 0;
    RowTotals& operator+=(const RowTotals& o) {
        deb += o.deb;
        cre += o.cre;
        rows += o.rows;
        return *this;
    }
    RowTotals operator-(const RowTotals& o) const {
        return {deb - o.deb, cre - o.cre, rows - o.rows};
    }
    bool operator==(const RowTotals&) const = default;
};

// What rows move a balance by. The cash and bank journals keep the
// enterprise's side (a debit raises the balance), the bank statement the
// bank's (a credit, money in, raises it). The journal load's running balance
// and the funds report both move by it.
inline std::int64_t movement(bool bankSide, std::int64_t deb, std::int64_t cre) {
    return bankSide ? cre - deb : deb - cre;
}

// Changes to the kept totals of one journal table, collected row by row and
// written with apply(): once per saved block, not once per row.
class LH_API DayTotalsChange {
  public:
    // A row stored (sign 1) or taken away (sign -1).
    void add(const std::string& setCode, const std::string& asCode, const std::string& date,
             std::int64_t deb, std::int64_t cre, int sign = 1);
    bool empty() const { return accounts_.empty(); }
    // Writes the changes into journal_days (inside the caller's transaction)
    // and forgets them. Per account changed: the kept days from the first
    // changed day on are read, merged with the changes and written back.
    void apply(Database& db, const std::string& table);

  private:
    // account ("set\x1fas") -> day -> what that day's rows change by
    std::map<std::string, std::map<std::string, RowTotals>> accounts_;
};

// A cash or bank account as the journals use it.
struct LH_API JournalAccount {
    std::string owner;  // the book set it belongs to
    std::string code, number, name;
    std::int32_t kind = 0;  // 1 bank, 2 cash
    std::string state;
    std::int64_t opening = 0;                 // the journal's (the enterprise's side)
    std::optional<std::int64_t> bankOpening;  // the bank's own, where entered
};

// The balances of one journal table's sections: a book set's rows on one
// account. The accounts and book sets are read once; each balance is one
// indexed lookup of the kept totals.
class LH_API JournalBalances {
  public:
    JournalBalances(Database& db, const std::string& table);
    // Those of another journal table over the same accounts and book sets,
    // without reading them again.
    JournalBalances(const JournalBalances& same, const std::string& table);

    bool bankSide() const { return bankSide_; }

    // The account the rows of book set `set` under `as` belong to: the book
    // set's own, else its managing book set's; nothing when neither has one.
    const JournalAccount* account(const std::string& set, const std::string& as) const;

    // The section's opening: the account's (the statement's: the bank's own
    // opening where one is entered, else the account's); 0 for no account.
    std::int64_t opening(const std::string& set, const std::string& as) const;

    // The rows of book set `set` on account `as` dated before `date`.
    RowTotals totalsBefore(const std::string& set, const std::string& as, const std::string& date);

    // The balance of book set `set`'s rows on account `as` before `date`:
    // the section's opening moved by every such row dated before it (empty
    // date: the opening). `rows`, when given, receives those rows' totals.
    std::int64_t before(const std::string& set, const std::string& as, const std::string& date,
                        RowTotals* rows = nullptr);
    // The section's opening moved by rows that add up to `rows`.
    std::int64_t balanceWith(const std::string& set, const std::string& as,
                             const RowTotals& rows) const {
        return opening(set, as) + movement(bankSide_, rows.deb, rows.cre);
    }

    // The kept totals of book set `set`'s rows on account `as` over the days
    // `from` to `to` (both included): what the rows before `from` add up to,
    // then each day that has rows with what its rows add up to, in date order.
    // One indexed walk back from `to`.
    struct Days {
        RowTotals before;
        std::vector<std::pair<std::string, RowTotals>> days;
    };
    Days days(const std::string& set, const std::string& as, const std::string& from,
              const std::string& to);

    // The accounts book set `set`'s rows may use: its own, then those of its
    // managing book set that it has no account of its own under, by code.
    std::vector<const JournalAccount*> usableBy(const std::string& set) const;

    // "name[code]" of a book set; empty for one not stored.
    std::string title(const std::string& set) const;
    // The book set that manages `set`; empty when none does.
    std::string managingSet(const std::string& set) const;

  private:
    Database& db_;
    std::string table_;
    bool bankSide_;
    std::unordered_map<std::string, JournalAccount> accounts_;
    std::unordered_map<std::string, std::string> managingSet_, title_;
    Stmt lookup_;
    std::optional<Stmt> range_;  // prepared by the first days()
};

// Makes the kept totals of both journal tables again from their rows.
LH_API void rebuildDayTotals(Database& db);

// The kept totals through the end of each day, read back as stored, and as
// the rows give them: equal unless something wrote rows past the keeping.
// Keyed "table\x1fset\x1fas\x1fday".
LH_API std::map<std::string, RowTotals> keptDayTotals(Database& db);
LH_API std::map<std::string, RowTotals> rowDayTotals(Database& db);

}  // namespace ledgerhost
