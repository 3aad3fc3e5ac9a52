#include "DayTotals.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "Glide.h"
#include "GlideParts.h"

namespace ledgerhost {

namespace {

constexpr char kSep = '\x1f';

std::pair<std::string, std::string> splitKey(const std::string& key) {
    const auto at = key.find(kSep);
    return {key.substr(0, at), key.substr(at + 1)};
}

}  // namespace

// ---- DayTotalsChange ----

void DayTotalsChange::add(const std::string& setCode, const std::string& asCode,
                          const std::string& date, std::int64_t deb, std::int64_t cre, int sign) {
    RowTotals& t = accounts_[setCode + kSep + asCode][date];
    t.deb += sign * deb;
    t.cre += sign * cre;
    t.rows += sign;
}

void DayTotalsChange::apply(Database& db, const std::string& table) {
    if (accounts_.empty()) return;
    const std::string& journal = glide::checkedTable(table);
    const char* where = "journal = ?1 AND set_code = ?2 AND as_code = ?3 AND day";
    Stmt last = db.prepare(std::string("SELECT deb_cents, cre_cents, row_count FROM journal_days "
                                       "WHERE ") +
                           where + " < ?4 ORDER BY day DESC LIMIT 1");
    Stmt later = db.prepare(std::string("SELECT day, deb_cents, cre_cents, row_count FROM "
                                        "journal_days WHERE ") +
                            where + " >= ?4 ORDER BY day");
    Stmt drop = db.prepare(std::string("DELETE FROM journal_days WHERE ") + where + " >= ?4");
    std::vector<std::pair<std::string, RowTotals>> days;  // reused per account
    for (auto& [key, changes] : accounts_) {
        const auto [set, as] = splitKey(key);
        const std::string& first = changes.begin()->first;
        for (Stmt* s : {&last, &later, &drop}) {
            s->reset();
            s->bind(1, journal).bind(2, set).bind(3, as).bind(4, first);
        }
        RowTotals running;
        if (last.step()) running = {last.i64(0), last.i64(1), last.i64(2)};
        // The kept days from the first changed one on, as each day's own
        // totals, with the changes merged in.
        std::map<std::string, RowTotals> own;
        RowTotals previous = running;
        while (later.step()) {
            const RowTotals through{later.i64(1), later.i64(2), later.i64(3)};
            own[later.text(0)] = through - previous;
            previous = through;
        }
        for (const auto& [day, change] : changes) own[day] += change;
        drop.run();
        days.clear();
        for (const auto& [day, t] : own) {
            if (t.rows == 0 && t.deb == 0 && t.cre == 0) continue;  // no row left that day
            running += t;
            days.emplace_back(day, running);
        }
        if (days.empty()) continue;
        BulkInsert put(
            db, "journal_days",
            {"journal", "set_code", "as_code", "day", "deb_cents", "cre_cents", "row_count"});
        for (const auto& [day, t] : days) {
            put.add(journal).add(set).add(as).add(day).add(t.deb).add(t.cre).add(t.rows);
            put.endRow();
        }
        put.finish();
    }
    accounts_.clear();
}

// ---- JournalBalances ----

namespace {

// The kept totals of a section before a date: ?1 journal, ?2 book set, ?3
// account, ?4 the date.
constexpr const char* kLookupSql =
    "SELECT deb_cents, cre_cents, row_count FROM journal_days WHERE journal = ?1 AND "
    "set_code = ?2 AND as_code = ?3 AND day < ?4 ORDER BY day DESC LIMIT 1";

}  // namespace

JournalBalances::JournalBalances(Database& db, const std::string& table)
    : db_(db),
      table_(glide::checkedTable(table)),
      bankSide_(table_ == kStatementTable),
      lookup_(db.prepare(kLookupSql)) {
    Stmt a = db.prepare(
        "SELECT a.as_code, a.set_code, a.kind, a.opening_cents, o.bank_opening_cents, "
        "a.account_no, a.name, a.state FROM bank_accounts a LEFT JOIN reconcile_openings o ON "
        "o.set_code = a.set_code AND o.as_code = a.as_code");
    while (a.step()) {
        JournalAccount acc;
        acc.code = a.text(0);
        acc.owner = a.text(1);
        acc.kind = a.i32(2);
        acc.opening = a.i64(3);
        if (!a.isNull(4)) acc.bankOpening = a.i64(4);
        acc.number = a.text(5);
        acc.name = a.text(6);
        acc.state = a.text(7);
        accounts_.emplace(acc.owner + kSep + acc.code, std::move(acc));
    }
    Stmt b = db.prepare("SELECT code, manage_set_code, name FROM book_sets");
    while (b.step()) {
        managingSet_.emplace(b.text(0), b.text(1));
        title_.emplace(b.text(0), b.text(2) + "[" + b.text(0) + "]");
    }
}

JournalBalances::JournalBalances(const JournalBalances& same, const std::string& table)
    : db_(same.db_),
      table_(glide::checkedTable(table)),
      bankSide_(table_ == kStatementTable),
      accounts_(same.accounts_),
      managingSet_(same.managingSet_),
      title_(same.title_),
      lookup_(db_.prepare(kLookupSql)) {}

const JournalAccount* JournalBalances::account(const std::string& set,
                                               const std::string& as) const {
    if (auto k = accounts_.find(set + kSep + as); k != accounts_.end()) return &k->second;
    const std::string manager = managingSet(set);
    if (manager.empty()) return nullptr;
    auto k = accounts_.find(manager + kSep + as);
    return k == accounts_.end() ? nullptr : &k->second;
}

std::int64_t JournalBalances::opening(const std::string& set, const std::string& as) const {
    const JournalAccount* a = account(set, as);
    if (!a) return 0;
    return bankSide_ && a->bankOpening ? *a->bankOpening : a->opening;
}

RowTotals JournalBalances::totalsBefore(const std::string& set, const std::string& as,
                                        const std::string& date) {
    lookup_.reset();
    lookup_.bind(1, table_).bind(2, set).bind(3, as).bind(4, date);
    RowTotals t;
    if (lookup_.step()) t = {lookup_.i64(0), lookup_.i64(1), lookup_.i64(2)};
    lookup_.reset();
    return t;
}

JournalBalances::Days JournalBalances::days(const std::string& set, const std::string& as,
                                            const std::string& from, const std::string& to) {
    // Walked from `to` back: the kept totals run through the end of each
    // day, so a day's rows are its totals less the previous kept day's, and
    // the first day before `from` holds the totals before the range.
    if (!range_)
        range_.emplace(db_.prepare(
            "SELECT day, deb_cents, cre_cents, row_count FROM journal_days WHERE journal = ?1 AND "
            "set_code = ?2 AND as_code = ?3 AND day <= ?4 ORDER BY day DESC"));
    Stmt& range = *range_;
    range.reset();
    range.bind(1, table_).bind(2, set).bind(3, as).bind(4, to);
    Days out;
    while (range.step()) {
        RowTotals through{range.i64(1), range.i64(2), range.i64(3)};
        std::string day = range.text(0);
        if (day < from) {
            out.before = through;
            break;
        }
        out.days.emplace_back(std::move(day), through);
    }
    range.reset();
    std::reverse(out.days.begin(), out.days.end());
    RowTotals previous = out.before;
    for (auto& [day, totals] : out.days) {
        const RowTotals through = totals;
        totals = through - previous;
        previous = through;
    }
    return out;
}

std::int64_t JournalBalances::before(const std::string& set, const std::string& as,
                                     const std::string& date, RowTotals* rows) {
    const RowTotals t = date.empty() ? RowTotals{} : totalsBefore(set, as, date);
    if (rows) *rows = t;
    return balanceWith(set, as, t);
}

std::vector<const JournalAccount*> JournalBalances::usableBy(const std::string& set) const {
    std::vector<const JournalAccount*> out;
    const std::string manager = managingSet(set);
    for (const auto& [key, a] : accounts_)
        if (a.owner == set ||
            (!manager.empty() && a.owner == manager && account(set, a.code) == &a))
            out.push_back(&a);
    std::sort(out.begin(), out.end(), [](const JournalAccount* x, const JournalAccount* y) {
        return std::tie(x->code, x->owner) < std::tie(y->code, y->owner);
    });
    return out;
}

std::string JournalBalances::title(const std::string& set) const {
    auto t = title_.find(set);
    return t == title_.end() ? std::string() : t->second;
}

std::string JournalBalances::managingSet(const std::string& set) const {
    auto m = managingSet_.find(set);
    return m == managingSet_.end() ? std::string() : m->second;
}

// ---- rebuild and check ----

void rebuildDayTotals(Database& db) {
    fillJournalDays(db);
}

std::map<std::string, RowTotals> keptDayTotals(Database& db) {
    std::map<std::string, RowTotals> out;
    Stmt s = db.prepare(
        "SELECT journal, set_code, as_code, day, deb_cents, cre_cents, row_count FROM "
        "journal_days");
    while (s.step())
        out[s.text(0) + kSep + s.text(1) + kSep + s.text(2) + kSep + s.text(3)] = {
            s.i64(4), s.i64(5), s.i64(6)};
    return out;
}

std::map<std::string, RowTotals> rowDayTotals(Database& db) {
    std::map<std::string, RowTotals> out;
    for (const char* table : {kCashJournalTable, kStatementTable}) {
        Stmt s = db.prepare(std::string("SELECT set_code, as_code, create_date, SUM(deb_cents), "
                                        "SUM(cre_cents), COUNT(*) FROM ") +
                            table + " GROUP BY set_code, as_code, create_date");
        std::map<std::string, RowTotals> own;
        while (s.step())
            own[std::string(table) + kSep + s.text(0) + kSep + s.text(1) + kSep + s.text(2)] = {
                s.i64(3), s.i64(4), s.i64(5)};
        // Running totals through each day, per account (the keys sort by
        // account, then day).
        std::string account;
        RowTotals running;
        for (const auto& [key, t] : own) {
            const std::string acc = key.substr(0, key.rfind(kSep));
            if (acc != account) {
                account = acc;
                running = {};
            }
            running += t;
            out[key] = running;
        }
    }
    return out;
}

}  // namespace ledgerhost
