#pragma once

// The headless core of bank reconciliation: the rows of one bank account on
// both sides (the bank journal, enterprise's side, and the bank statement,
// bank's side), automatic and manual matching into groups, undoing groups, the
// bank's opening balance and opening items, and the balance reconciliation
// statement. Everything goes through the store's Database; each command that
// writes is one transaction.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "BankBalances.h"
#include "CashierInit.h"
#include "Numbers.h"
#include "Store.h"

namespace reconcile {

// A refusal the user can act on; the message is shown as it stands.
class ReconcileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Where a row lives: a bank-journal row (CaGlide), a statement row
// (CaCollateGlide) or an opening item of the account.
enum class Source { Journal, Statement, Opening };

struct RowRef {
    Source source = Source::Journal;
    std::int64_t id = 0;
    bool operator==(const RowRef&) const = default;
};

// Opening items: what one side had booked when the books began and the other
// had not yet (the cashier's initialisation enters them, with the same kinds).
enum OpeningKind : int {
    kBookedIn = ledgerhost::kItemBookedIn,    // 企业已收银行未收
    kBookedOut = ledgerhost::kItemBookedOut,  // 企业已付银行未付
    kBankIn = ledgerhost::kItemBankIn,        // 银行已收企业未收
    kBankOut = ledgerhost::kItemBankOut,      // 银行已付企业未付
};
const char* openingKindName(int kind);

// One row of either side, in that side's own sense: money in and money out.
struct SideRow {
    RowRef ref;
    std::string date;         // YYYY-MM-DD
    std::int64_t number = 0;  // 统一号 (0 for opening items)
    std::string cheque;
    std::string summary;
    std::int64_t inCents = 0;
    std::int64_t outCents = 0;
    std::int64_t group = 0;  // the match group, 0 when not reconciled
    int openingKind = 0;     // for opening items
    std::int64_t net() const { return inCents - outCents; }
};

struct Account {
    std::string setCode;
    std::string asCode;
    std::string number;
    std::string name;
    std::int64_t openingCents = 0;  // the journal's opening balance
    // The book sets whose rows under asCode are the account's: its own and the
    // book sets it manages that use it (empty: its own alone).
    std::vector<std::string> bookSets;
    int year = 0;  // the book set's year (0: not known)
};

struct AutoResult {
    int byCheque = 0;
    int byDate = 0;
    int leftJournal = 0;    // unreconciled journal rows of the range afterwards
    int leftStatement = 0;  // unreconciled statement rows of the range afterwards
    int pairs() const { return byCheque + byDate; }
    std::string message() const;
};

struct ReportItem {
    RowRef ref;
    std::string date;
    std::int64_t number = 0;
    std::string cheque;
    std::string summary;
    std::int64_t cents = 0;
};

// A figure of the bank's own: the balance the statement file reported after
// its last line on or before a date, or a closing balance a person entered for
// the statement as at a date.
struct BankFigure {
    std::string date;
    std::int64_t cents = 0;
    bool entered = false;
    std::string by, at;  // who entered it and when
};

// The balance reconciliation statement as at `until`.
struct Report {
    std::string bookCode, bookName;
    Account account;
    std::string until;
    std::int64_t journalBalance = 0;
    // The stored statement's balance: the bank's opening (0 when it has not
    // been entered) plus every statement row up to `until`.
    std::int64_t bankBalance = 0;
    // The bank's own opening balance of the year; nothing when not entered.
    std::optional<std::int64_t> bankOpening;
    // The bank's own figure the statement is checked against, and the stored
    // statement's balance as at its date; nothing when there is none.
    std::optional<BankFigure> bankFigure;
    std::int64_t statementAtFigure = 0;
    // With no opening entered: the opening the bank's figure implies.
    std::optional<std::int64_t> impliedOpening;
    // Rows whose reported balance the stored rows before them do not give.
    std::vector<ledgerhost::BalanceBreak> breaks;
    std::vector<ReportItem> bankInNotBooked;   // 银行已收、企业未收
    std::vector<ReportItem> bankOutNotBooked;  // 银行已付、企业未付
    std::vector<ReportItem> bookedInNotBank;   // 企业已收、银行未收
    std::vector<ReportItem> bookedOutNotBank;  // 企业已付、银行未付
    std::int64_t adjustedJournal = 0;
    std::int64_t adjustedBank = 0;
    // Unreconciled items whose amount could explain a difference.
    std::vector<ReportItem> suspects;
    bool balanced() const { return adjustedJournal == adjustedBank; }
    std::int64_t difference() const { return adjustedJournal - adjustedBank; }
    // The stored statement against the bank's figure (nothing to compare: true).
    std::int64_t bankDifference() const {
        return bankFigure ? statementAtFigure - bankFigure->cents : 0;
    }
    bool bankAgrees() const { return breaks.empty() && bankDifference() == 0; }
    // The first date from which the stored statement and the bank's balances
    // part; empty when they do not.
    std::string partsFrom() const;
    // The statement proves agreement: the bank's opening is entered, the two
    // adjusted balances agree, and so do the statement and the bank's figures
    // (an account without any bank figure is judged by the first two alone,
    // and says so).
    bool agrees() const { return bankOpening && balanced() && bankAgrees(); }
};

// Days since 1970-01-01 of a "YYYY-MM-DD" date; throws ReconcileError for a
// date that is not one.
int dayNumber(std::string_view date);
using ledgerhost::formatCents;

class Reconciler {
  public:
    // The bank account (kind 1) of `setCode` whose number or code is
    // `numberOrCode`; throws ReconcileError when there is none.
    static Account findAccount(ledgerhost::Database& db, const std::string& setCode,
                               const std::string& numberOrCode);

    Reconciler(ledgerhost::Database& db, Account account, std::string user);

    const Account& account() const { return account_; }

    // The rows of each side dated within [from, until] (either may be empty
    // for open), plus the side's opening items, in date and number order.
    std::vector<SideRow> journalRows(const std::string& from, const std::string& until,
                                     bool unreconciledOnly = false);
    std::vector<SideRow> statementRows(const std::string& from, const std::string& until,
                                       bool unreconciledOnly = false);

    // Pairs unreconciled rows of the range: equal amounts in the same sense and
    // equal non-empty cheque numbers first, then rows without cheque numbers
    // dated at most `windowDays` apart, nearest first. A row with two equally
    // good candidates is left alone. One transaction.
    AutoResult autoMatch(const std::string& from, const std::string& until, int windowDays = 7);

    // Matches the given rows as one group; the totals of both sides must
    // agree in sense and amount. Answers the group's id.
    std::int64_t match(const std::vector<RowRef>& journal, const std::vector<RowRef>& statement);

    // Undoes one group, or every group with a row in the range; one
    // transaction. Answers the number of groups undone.
    void undoGroup(std::int64_t group);
    int undoRange(const std::string& from, const std::string& until);

    // The bank's opening balance (bank's side; nothing when it has not been
    // entered). It and the opening items are entered by the cashier's
    // initialisation (host CashierInit.h), which keeps them fixed once
    // confirmed.
    std::optional<std::int64_t> bankOpening();

    // The statement's closing balance as the bank printed it, entered by the
    // user for a date (one per account and date; entering it again replaces
    // it), and taking it away again.
    void setClosingBalance(const std::string& date, std::int64_t cents);
    void removeClosingBalance(const std::string& date);
    // The one entered for exactly this date.
    std::optional<BankFigure> closingBalance(const std::string& date);

    // The statement as at `until`, a date of the book set's year or later.
    Report report(const std::string& until);

  private:
    std::vector<SideRow> rows(bool journal, const std::string& from, const std::string& until,
                              bool unreconciledOnly);
    // Throws ReconcileError when the account's book set is locked: nothing of
    // the reconciliation may change then.
    void checkUnlocked();
    // Throws ReconcileError for a date before the book set's year.
    void checkInYear(const std::string& date) const;

    ledgerhost::Database& db_;
    Account account_;
    std::string user_;
};

// The statement as text for a terminal, and as CSV.
std::string reportText(const Report& r);
// What the statement says about the bank's own figures, one sentence a line:
// an unset opening, no figure to check against, a difference from the bank's
// figure and the rows where the balances part.
std::vector<std::string> bankCheckLines(const Report& r);
// The verdict when the two adjusted balances agree: that alone proves only
// that the rows agree with each other, so it says whether the bank's own
// figures agree too, or that there were none to compare with.
std::string balancedVerdict(const Report& r);
std::string reportCsv(const Report& r);

}  // namespace reconcile
