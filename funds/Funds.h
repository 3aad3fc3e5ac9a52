#pragma once

// The daily funds report (资金日报表): for one book set and a date or a range,
// one line per cash and bank account with the balance before the range, the
// range's receipts and payments, the balance at its end and the number of
// rows; subtotals for cash and for bank accounts and a grand total; beside a
// bank account the statement's balance at the range's end, where the account
// has a statement, and the difference. Every figure comes from the totals the
// store keeps by day (JournalBalances, host/books/DayTotals.h), which the
// journal windows open their sections with, and all of them from one state
// of the store: a day costs an indexed walk per account, whatever the year
// holds. Headless: the window (ui/) and chuna-funds print what dailyFunds
// computes.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ledgerhost {
class Database;
}

namespace funds {

// A request that cannot be answered (a broken date, an unknown book set), in
// words for the user.
struct FundsError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The figures of one line, a subtotal or the total, in cents.
struct Figures {
    std::int64_t opening = 0;  // 上日余额: the balance before the range
    std::int64_t in = 0;       // 本日收入: the debits of the range's rows
    std::int64_t out = 0;      // 本日支出: their credits
    std::int64_t closing = 0;  // 本日余额: the balance at the range's end
    std::int64_t rows = 0;     // the range's rows
    Figures& operator+=(const Figures& o);
    bool operator==(const Figures&) const = default;
};

// One day of the range: its receipts and payments and the balance at its end.
struct Day {
    std::string date;
    std::int64_t in = 0, out = 0, closing = 0;
};

struct Line {
    std::string code, number, name;
    std::int32_t kind = 0;  // 1 bank, 2 cash
    bool stopped = false;
    Figures journal;
    // The statement's balance at the range's end (the bank's side, as the
    // 银行对账单 window shows it): bank accounts with statement rows up to then.
    std::optional<std::int64_t> statement;
    std::vector<Day> days;  // every day of the range
    // The journal's balance less the statement's; nothing without a statement.
    std::optional<std::int64_t> difference() const;
};

struct Report {
    std::string bookCode, bookName, from, to;
    std::vector<Line> cash, bank;
    Figures cashTotal, bankTotal, total;
    // The statement balances of the bank lines that have one, added up, with
    // the journal balances of the same lines; nothing when no line has one.
    std::optional<std::int64_t> statementTotal, statementJournal;
    bool oneDay() const { return from == to; }
    // The days of the range, each with the total over every line.
    std::vector<Day> totalDays() const;
};

// The report for book set `book` from `from` to `to` ("YYYY-MM-DD", both
// included). Accounts of the book set and those of its managing book set it
// has rows on; a stopped account only when it has rows in the range. Throws
// FundsError for dates that are not dates, a range that ends before it
// starts or spans more than ten years, or a book set that is not there.
Report dailyFunds(ledgerhost::Database& db, const std::string& book, const std::string& from,
                  const std::string& to);

// The report as text, aligned for a terminal, and as CSV (UTF-8, plain
// decimals), the lines' figures in the order the window shows them.
std::string reportText(const Report& r);
std::string reportCsv(const Report& r);

// "2025-03-01 至 2025-03-31", or the one date.
std::string periodText(const Report& r);

// The date after a "YYYY-MM-DD" date.
std::string dayAfter(const std::string& date);

}  // namespace funds
