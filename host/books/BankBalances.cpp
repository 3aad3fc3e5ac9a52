#include "BankBalances.h"

#include <algorithm>

#include "Glide.h"
#include "Numbers.h"
#include "Store.h"

namespace ledgerhost {

namespace {

// "(?3, ?4)" for two book sets whose parameters start at 3.
std::string setList(std::size_t n, int first) {
    std::string s = "(";
    for (std::size_t i = 0; i < n; ++i)
        s += (i ? ", ?" : "?") + std::to_string(first + static_cast<int>(i));
    return s + ")";
}

void bindSets(Stmt& s, const std::vector<std::string>& sets, int first) {
    for (std::size_t i = 0; i < sets.size(); ++i) s.bind(first + static_cast<int>(i), sets[i]);
}

}  // namespace

std::optional<std::int64_t> bankOpening(Database& db, const std::string& setCode,
                                        const std::string& asCode) {
    Stmt s = db.prepare(
        "SELECT bank_opening_cents FROM reconcile_openings WHERE set_code = ? AND as_code = ?");
    s.bind(1, setCode).bind(2, asCode);
    if (s.step()) return s.i64(0);
    return std::nullopt;
}

std::vector<std::string> accountBookSets(Database& db, const std::string& setCode,
                                         const std::string& asCode) {
    Stmt s = db.prepare(
        "SELECT code FROM book_sets b WHERE code = ?1 OR (manage_set_code = ?1 AND NOT EXISTS "
        "(SELECT 1 FROM bank_accounts a WHERE a.set_code = b.code AND a.as_code = ?2)) "
        "ORDER BY code");
    s.bind(1, setCode).bind(2, asCode);
    std::vector<std::string> sets;
    while (s.step()) sets.push_back(s.text(0));
    if (sets.empty()) sets.push_back(setCode);
    return sets;
}

std::int64_t StatementWalk::totalUntil(const std::string& date) const {
    auto after =
        std::upper_bound(days.begin(), days.end(), date,
                         [](const std::string& d, const DayTotal& t) { return d < t.date; });
    return after == days.begin() ? 0 : std::prev(after)->total;
}

StatementWalk walkStatement(Database& db, const std::string& setCode, const std::string& asCode,
                            const std::string& until) {
    StatementWalk w;
    w.opening = bankOpening(db, setCode, asCode);
    const std::vector<std::string> sets = accountBookSets(db, setCode, asCode);
    Stmt s = db.prepare(
        "SELECT id, create_date, date_or_no, cre_cents - deb_cents, bank_balance_cents FROM " +
        std::string(kStatementTable) +
        " WHERE as_code = ?1 AND create_date <= ?2 AND set_code IN " + setList(sets.size(), 3) +
        " ORDER BY create_date, date_or_no, id");
    s.bind(1, asCode).bind(2, until.empty() ? std::string("9999-99-99") : until);
    bindSets(s, sets, 3);
    std::int64_t total = 0;
    // The balance the bank's figures carry: from the opening, else from the
    // first reported balance on.
    std::optional<std::int64_t> chain = w.opening;
    std::string since;
    while (s.step()) {
        const std::string date = s.text(1);
        total += s.i64(3);
        if (chain) *chain += s.i64(3);
        if (w.days.empty() || w.days.back().date != date)
            w.days.push_back({date, total});
        else
            w.days.back().total = total;
        if (s.isNull(4)) continue;
        const std::int64_t reported = s.i64(4);
        if (chain && *chain != reported)
            w.breaks.push_back({s.i64(0), date, s.i64(2), *chain, reported, since});
        chain = reported;
        since = date;
        w.lastReported = StatementWalk::Reported{date, reported, 0};
    }
    if (w.lastReported) w.lastReported->rowsBefore = w.totalUntil(w.lastReported->date);
    w.balance = w.opening.value_or(0) + total;
    return w;
}

// ---- the check of a file ----

BankBalanceCheck::Account& BankBalanceCheck::account(const std::string& setCode,
                                                     const std::string& asCode,
                                                     const std::string& date) {
    for (Account& a : accounts_)
        if (a.setCode == setCode && a.asCode == asCode) return a;
    Account a{setCode, asCode, std::nullopt, true, {}, date};
    // What is stored before the file's first date: the last reported balance
    // and the rows after it, else the bank's opening and every row.
    const std::vector<std::string> sets = accountBookSets(db_, setCode, asCode);
    const std::string table = kStatementTable;
    const std::string where =
        " WHERE as_code = ?1 AND create_date < ?2 AND set_code IN " + setList(sets.size(), 3);
    Stmt last =
        db_.prepare("SELECT create_date, date_or_no, id, bank_balance_cents FROM " + table + where +
                    " AND bank_balance_cents IS NOT NULL ORDER BY create_date DESC, "
                    "date_or_no DESC, id DESC LIMIT 1");
    last.bind(1, asCode).bind(2, date);
    bindSets(last, sets, 3);
    if (last.step()) {
        const std::string since = last.text(0);
        const std::int64_t number = last.i64(1), id = last.i64(2), reported = last.i64(3);
        const int n = 3 + static_cast<int>(sets.size());
        Stmt after =
            db_.prepare("SELECT coalesce(sum(cre_cents - deb_cents), 0) FROM " + table + where +
                        " AND (create_date > ?" + std::to_string(n) + " OR (create_date = ?" +
                        std::to_string(n) + " AND (date_or_no > ?" + std::to_string(n + 1) +
                        " OR (date_or_no = ?" + std::to_string(n + 1) + " AND id > ?" +
                        std::to_string(n + 2) + "))))");
        after.bind(1, asCode).bind(2, date);
        bindSets(after, sets, 3);
        after.bind(n, since).bind(n + 1, number).bind(n + 2, id);
        after.step();
        a.balance = reported + after.i64(0);
        a.storedSince = since;
    } else if (std::optional<std::int64_t> opening = bankOpening(db_, setCode, asCode)) {
        Stmt sum =
            db_.prepare("SELECT coalesce(sum(cre_cents - deb_cents), 0) FROM " + table + where);
        sum.bind(1, asCode).bind(2, date);
        bindSets(sum, sets, 3);
        sum.step();
        a.balance = *opening + sum.i64(0);
    }
    accounts_.push_back(std::move(a));
    return accounts_.back();
}

void BankBalanceCheck::line(const std::string& setCode, const std::string& asCode, long long lineNo,
                            const std::string& date, std::int64_t net,
                            std::optional<std::int64_t> reported) {
    Account& a = account(setCode, asCode, date);
    if (a.balance) *a.balance += net;
    if (!reported) return;
    if (a.balance && *a.balance != *reported && ++breaks_ <= kKeptBreaks) {
        const std::string diff = formatCents(*reported - *a.balance);
        if (!a.fromStore)
            warnings_.push_back("注意：第 " + std::to_string(lineNo) +
                                " 行的余额与上一行余额加本行发生额不符，相差 " + diff +
                                "：对账单可能缺行、重行或被改动。");
        else
            warnings_.push_back("注意：第 " + std::to_string(lineNo) +
                                " 行的余额与账上已有对账单推算的余额不符，相差 " + diff + "：" +
                                (a.storedSince.empty() ? "年初" : a.storedSince) + " 与 " +
                                a.firstDate + " 之间的对账单可能缺行、重行或被改动。");
    }
    a.balance = *reported;
    a.fromStore = false;
}

std::string balanceWarningLines(const std::vector<std::string>& warnings, std::size_t breaks) {
    constexpr std::size_t kShown = 5;
    std::string out;
    for (std::size_t i = 0; i < warnings.size() && i < kShown; ++i) out += "\n" + warnings[i];
    if (breaks > kShown) out += "\n……共 " + std::to_string(breaks) + " 处余额不符。";
    return out;
}

std::string unlistedBreaks(std::size_t listed, std::size_t breaks) {
    if (breaks <= listed) return {};
    return "注意：另有 " + std::to_string(breaks - listed) + " 处余额不符，未一一列出。";
}

}  // namespace ledgerhost
