#include "Reconcile.h"

#include <algorithm>
#include <cstdio>

#include "CashierInit.h"
#include "ReconcileRows.h"

namespace reconcile {

const char* openingKindName(int kind) {
    return ledgerhost::openingItemKindName(kind);
}

int dayNumber(std::string_view date) {
    if (const std::optional<int> day = ledgerhost::dayNumber(date)) return *day;
    throw ReconcileError("日期“" + std::string(date) + "”不对，应为 YYYY-MM-DD。");
}

std::string AutoResult::message() const {
    return "自动对账完成：配对 " + std::to_string(pairs()) + " 对（按票据号 " +
           std::to_string(byCheque) + " 对，按日期 " + std::to_string(byDate) +
           " 对）；尚未对账：银行日记账 " + std::to_string(leftJournal) + " 笔，银行对账单 " +
           std::to_string(leftStatement) + " 笔。";
}

Account Reconciler::findAccount(Database& db, const std::string& setCode,
                                const std::string& numberOrCode) {
    Stmt s = db.prepare(
        "SELECT set_code, as_code, account_no, name, opening_cents, "
        "(SELECT year FROM book_sets b WHERE b.code = a.set_code) FROM bank_accounts a "
        "WHERE set_code = ? AND kind = 1 AND (account_no = ? OR as_code = ?) "
        "ORDER BY account_no = ?2 DESC LIMIT 1");
    s.bind(1, setCode).bind(2, numberOrCode).bind(3, numberOrCode);
    if (!s.step())
        throw ReconcileError("账套 " + setCode + " 没有账号或编码为“" + numberOrCode +
                             "”的银行账户。");
    Account a{s.text(0), s.text(1), s.text(2), s.text(3), s.i64(4), {}, s.i32(5)};
    // Every row stored on the account belongs to its reconciliation, the rows
    // of a managed book set that uses it too.
    a.bookSets = ledgerhost::accountBookSets(db, a.setCode, a.asCode);
    return a;
}

void Reconciler::checkUnlocked() {
    Stmt s = db_.prepare("SELECT entry_locked FROM book_sets WHERE code = ?");
    s.bind(1, account_.setCode);
    if (s.step() && s.i32(0) != 0) throw ReconcileError("账套已锁定，不能对账。");
}

void Reconciler::checkInYear(const std::string& date) const {
    if (account_.year <= 0 || date.empty()) return;
    char start[16];
    std::snprintf(start, sizeof start, "%04d-01-01", account_.year);
    if (date < start)
        throw ReconcileError("日期 " + date + " 早于账套的会计年度（" +
                             std::to_string(account_.year) + " 年），请选择本年度的日期。");
}

Reconciler::Reconciler(Database& db, Account account, std::string user)
    : db_(db), account_(std::move(account)), user_(std::move(user)) {}

namespace detail {

const std::vector<std::string>& bookSetsOf(const Account& a) {
    static thread_local std::vector<std::string> own;
    if (!a.bookSets.empty()) return a.bookSets;
    own.assign(1, a.setCode);
    return own;
}

std::string inBookSets(const Account& a, int first, const char* column) {
    std::string s = std::string(column) + " IN (";
    const std::size_t n = bookSetsOf(a).size();
    for (std::size_t i = 0; i < n; ++i)
        s += (i ? ", ?" : "?") + std::to_string(first + static_cast<int>(i));
    return s + ")";
}

void bindBookSets(Stmt& s, const Account& a, int first) {
    const std::vector<std::string>& sets = bookSetsOf(a);
    for (std::size_t i = 0; i < sets.size(); ++i) s.bind(first + static_cast<int>(i), sets[i]);
}

std::string lowerBound(const std::string& from) {
    return from.empty() ? "0000-00-00" : from;
}
std::string upperBound(const std::string& until) {
    return until.empty() ? "9999-99-99" : until;
}

void openingRows(Database& db, const Account& account, bool journal, const std::string& from,
                 bool unreconciledOnly, std::vector<SideRow>& out) {
    Stmt s = db.prepare(
        "SELECT id, kind, item_date, number, summary, cents, reconcile_group "
        "FROM reconcile_opening_items WHERE set_code = ? AND as_code = ? AND kind IN (?, ?) "
        "AND (? = 0 OR reconcile_group IS NULL) AND (reconcile_group IS NULL OR ? <= "
        "CAST(CAST(substr(item_date, 1, 4) AS INTEGER) + 1 AS TEXT) || '-01-31') "
        "ORDER BY item_date, id");
    s.bind(1, account.setCode).bind(2, account.asCode);
    s.bind(3, journal ? kBookedIn : kBankIn).bind(4, journal ? kBookedOut : kBankOut);
    s.bind(5, unreconciledOnly ? 1 : 0);
    s.bind(6, lowerBound(from));
    while (s.step()) {
        SideRow r;
        r.ref = {Source::Opening, s.i64(0)};
        r.openingKind = s.i32(1);
        r.date = s.text(2);
        r.cheque = s.text(3);
        r.summary = std::string("期初未达：") + openingKindName(r.openingKind) +
                    (s.text(4).empty() ? "" : " " + s.text(4));
        const bool in = r.openingKind == kBookedIn || r.openingKind == kBankIn;
        (in ? r.inCents : r.outCents) = s.i64(5);
        r.group = s.isNull(6) ? 0 : s.i64(6);
        out.push_back(std::move(r));
    }
}

std::string carriedBefore(Database& db, const Account& account, const std::string& from) {
    if (from.empty()) return lowerBound(from);
    Stmt s = db.prepare("SELECT year FROM book_sets WHERE code = ?");
    s.bind(1, account.setCode);
    if (!s.step()) return lowerBound("");
    char open[16];
    std::snprintf(open, sizeof open, "%04d-01-01", s.i32(0));
    return std::min(from, std::string(open));
}

std::string nowText(Database& db) {
    return db.serverTime();
}

std::int64_t nextGroupId(Database& db) {
    Stmt s = db.prepare(
        "SELECT (SELECT coalesce(max(id), 0) FROM reconcile_groups), "
        "(SELECT coalesce(max(last_group), 0) FROM reconcile_runs)");
    s.step();
    return std::max(s.i64(0), s.i64(1)) + 1;
}

std::int64_t makeManualGroup(Database& db, const Account& a, const std::string& user) {
    const std::int64_t id = nextGroupId(db);
    Stmt s = db.prepare(
        "INSERT INTO reconcile_groups (id, set_code, as_code, made_by, made_at, automatic, "
        "program) VALUES (?, ?, ?, ?, ?, 0, ?)");
    s.bind(1, id).bind(2, a.setCode).bind(3, a.asCode).bind(4, user).bind(5, nowText(db));
    s.bind(6, ledgerhost::programName());
    s.run();
    return id;
}

}  // namespace detail

using namespace detail;

namespace {

// Reads rows of one side: the journal keeps the enterprise's side (debit =
// in), the statement the bank's (credit = in).
void readRows(Stmt& s, bool journal, std::vector<SideRow>& out) {
    while (s.step()) {
        SideRow r;
        r.ref = {journal ? Source::Journal : Source::Statement, s.i64(0)};
        r.date = s.text(1);
        r.number = s.i64(2);
        r.cheque = s.text(3);
        r.summary = s.text(4);
        r.inCents = journal ? s.i64(5) : s.i64(6);
        r.outCents = journal ? s.i64(6) : s.i64(5);
        r.group = s.isNull(7) ? 0 : s.i64(7);
        out.push_back(std::move(r));
    }
}

}  // namespace

std::vector<SideRow> Reconciler::rows(bool journal, const std::string& from,
                                      const std::string& until, bool unreconciledOnly) {
    if (!from.empty()) dayNumber(from);
    if (!until.empty()) dayNumber(until);
    std::vector<SideRow> out;
    openingRows(db_, account_, journal, from, unreconciledOnly, out);
    const std::string table = journal ? "CaGlide" : "CaCollateGlide";
    // The account's rows are those of its book set and of the book sets it
    // manages that use it (?10 on).
    const std::string sets = inBookSets(account_, 10) + " AND as_code = ?1";
    const std::string select =
        "SELECT id, create_date, date_or_no, pay_code, summary, deb_cents, cre_cents, "
        "reconcile_group FROM " +
        table + " WHERE " + sets + " AND ";
    const std::string order = " ORDER BY create_date, date_or_no, id";
    // Rows of years carried forward before the range: the unreconciled ones,
    // and those matched with a row of the range.
    Stmt carried = db_.prepare(select +
                               "create_date < ?2 AND (reconcile_group IS NULL OR (?3 = 0 AND "
                               "reconcile_group IN (SELECT reconcile_group FROM CaGlide WHERE " +
                               sets +
                               " AND create_date >= ?4 AND create_date <= ?5 UNION SELECT "
                               "reconcile_group FROM CaCollateGlide WHERE " +
                               sets + " AND create_date >= ?4 AND create_date <= ?5)))" + order);
    carried.bind(1, account_.asCode);
    carried.bind(2, carriedBefore(db_, account_, from)).bind(3, unreconciledOnly ? 1 : 0);
    carried.bind(4, lowerBound(from)).bind(5, upperBound(until));
    bindBookSets(carried, account_, 10);
    readRows(carried, journal, out);
    Stmt s = db_.prepare(select +
                         "create_date >= ?2 AND create_date <= ?3 AND (?4 = 0 OR reconcile_group "
                         "IS NULL)" +
                         order);
    s.bind(1, account_.asCode);
    s.bind(2, lowerBound(from)).bind(3, upperBound(until));
    s.bind(4, unreconciledOnly ? 1 : 0);
    bindBookSets(s, account_, 10);
    readRows(s, journal, out);
    return out;
}

std::vector<SideRow> Reconciler::journalRows(const std::string& from, const std::string& until,
                                             bool unreconciledOnly) {
    return rows(true, from, until, unreconciledOnly);
}

std::vector<SideRow> Reconciler::statementRows(const std::string& from, const std::string& until,
                                               bool unreconciledOnly) {
    return rows(false, from, until, unreconciledOnly);
}

}  // namespace reconcile
