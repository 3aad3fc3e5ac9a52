#include "Reconcile.h"

#include <QDateTime>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <numeric>
#include <unordered_map>
#include <utility>

using ledgerhost::BulkInsert;
using ledgerhost::Database;
using ledgerhost::Stmt;
using ledgerhost::Transaction;

namespace reconcile {

const char* openingKindName(int kind) {
    switch (kind) {
        case kBookedIn:
            return "企业已收银行未收";
        case kBookedOut:
            return "企业已付银行未付";
        case kBankIn:
            return "银行已收企业未收";
        case kBankOut:
            return "银行已付企业未付";
        default:
            return "";
    }
}

int dayNumber(std::string_view date) {
    auto bad = [&]() -> int {
        throw ReconcileError("日期“" + std::string(date) + "”不对，应为 YYYY-MM-DD。");
    };
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return bad();
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (date[i] < '0' || date[i] > '9') return bad();
    auto digits = [&](int at, int n) {
        int v = 0;
        for (int i = at; i < at + n; ++i) v = v * 10 + (date[i] - '0');
        return v;
    };
    int y = digits(0, 4);
    const unsigned m = static_cast<unsigned>(digits(5, 2));
    const unsigned d = static_cast<unsigned>(digits(8, 2));
    static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return bad();
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m == 2 && d == 29 && !leap) return bad();
    // Days from civil (proleptic Gregorian).
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int>(doe) - 719468;
}

std::string formatCents(std::int64_t cents) {
    const bool negative = cents < 0;
    std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(cents) : cents;
    std::string whole = std::to_string(v / 100);
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) whole.insert(i, ",");
    const unsigned frac = v % 100;
    return (negative ? "-" : "") + whole + "." + static_cast<char>('0' + frac / 10) +
           static_cast<char>('0' + frac % 10);
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
        "SELECT set_code, as_code, account_no, name, opening_cents FROM bank_accounts "
        "WHERE set_code = ? AND kind = 1 AND (account_no = ? OR as_code = ?) "
        "ORDER BY account_no = ?2 DESC LIMIT 1");
    s.bind(1, setCode).bind(2, numberOrCode).bind(3, numberOrCode);
    if (!s.step())
        throw ReconcileError("账套 " + setCode + " 没有账号或编码为“" + numberOrCode +
                             "”的银行账户。");
    return Account{s.text(0), s.text(1), s.text(2), s.text(3), s.i64(4)};
}

Reconciler::Reconciler(Database& db, Account account, std::string user)
    : db_(db), account_(std::move(account)), user_(std::move(user)) {}

namespace {

// The bounds of a date range for the queries: an empty end is open.
std::string lowerBound(const std::string& from) {
    return from.empty() ? "0000-00-00" : from;
}
std::string upperBound(const std::string& until) {
    return until.empty() ? "9999-99-99" : until;
}

// One side's opening items. They date from before the year: unreconciled ones
// show in every range; reconciled ones only in a range that begins by the end
// of January of the year they opened.
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

}  // namespace

std::vector<SideRow> Reconciler::rows(bool journal, const std::string& from,
                                      const std::string& until, bool unreconciledOnly) {
    if (!from.empty()) dayNumber(from);
    if (!until.empty()) dayNumber(until);
    std::vector<SideRow> out;
    openingRows(db_, account_, journal, from, unreconciledOnly, out);
    const std::string table = journal ? "CaGlide" : "CaCollateGlide";
    Stmt s = db_.prepare(
        "SELECT id, create_date, date_or_no, pay_code, summary, deb_cents, cre_cents, "
        "reconcile_group FROM " +
        table +
        " WHERE set_code = ?1 AND as_code = ?2 AND create_date >= ?3 AND create_date <= ?4 "
        "AND (?5 = 0 OR reconcile_group IS NULL) ORDER BY create_date, date_or_no, id");
    s.bind(1, account_.setCode).bind(2, account_.asCode);
    s.bind(3, lowerBound(from)).bind(4, upperBound(until));
    s.bind(5, unreconciledOnly ? 1 : 0);
    while (s.step()) {
        SideRow r;
        r.ref = {journal ? Source::Journal : Source::Statement, s.i64(0)};
        r.date = s.text(1);
        r.number = s.i64(2);
        r.cheque = s.text(3);
        r.summary = s.text(4);
        // The journal keeps the enterprise's side (debit = in), the statement
        // the bank's (credit = in).
        r.inCents = journal ? s.i64(5) : s.i64(6);
        r.outCents = journal ? s.i64(6) : s.i64(5);
        r.group = s.isNull(7) ? 0 : s.i64(7);
        out.push_back(std::move(r));
    }
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

namespace {

std::string nowText() {
    return QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
}

// Marks rows as members of a group with prepared statements; a row that is
// gone or already in a group fails the whole command.
class Marker {
  public:
    explicit Marker(Database& db)
        : journal_(db.prepare("UPDATE CaGlide SET reconciled = 1, reconcile_group = ? "
                              "WHERE id = ? AND reconcile_group IS NULL")),
          statement_(db.prepare("UPDATE CaCollateGlide SET reconciled = 1, reconcile_group = ? "
                                "WHERE id = ? AND reconcile_group IS NULL")),
          opening_(db.prepare("UPDATE reconcile_opening_items SET reconcile_group = ? "
                              "WHERE id = ? AND reconcile_group IS NULL")),
          db_(db) {}
    void mark(const RowRef& ref, std::int64_t group) {
        Stmt& s = ref.source == Source::Journal     ? journal_
                  : ref.source == Source::Statement ? statement_
                                                    : opening_;
        s.reset();
        s.bind(1, group).bind(2, ref.id);
        s.run();
        if (db_.changes() != 1)
            throw ReconcileError("记录已被其他人对账或删除，本次对账没有保存，请重新查询。");
    }

  private:
    Stmt journal_, statement_, opening_;
    Database& db_;
};

// The next free group id: above every manual group and every run's groups.
std::int64_t nextGroupId(Database& db) {
    Stmt s = db.prepare(
        "SELECT (SELECT coalesce(max(id), 0) FROM reconcile_groups), "
        "(SELECT coalesce(max(last_group), 0) FROM reconcile_runs)");
    s.step();
    return std::max(s.i64(0), s.i64(1)) + 1;
}

// A manual group of the account, made now by `user`.
std::int64_t makeManualGroup(Database& db, const Account& a, const std::string& user) {
    const std::int64_t id = nextGroupId(db);
    Stmt s = db.prepare(
        "INSERT INTO reconcile_groups (id, set_code, as_code, made_by, made_at, automatic) "
        "VALUES (?, ?, ?, ?, ?, 0)");
    s.bind(1, id).bind(2, a.setCode).bind(3, a.asCode).bind(4, user).bind(5, nowText());
    s.run();
    return id;
}

struct Edge {
    int j, s, distance;
};

// Sorts matching keys by amount and keeps the order of the keys of one amount
// (they come in the order their ties need): a radix sort on each amount's
// distance from the smallest, 16 bits a pass and only as many passes as the
// spread of amounts needs. A comparison sort was a third of the matching.
template <class Key>
void sortByAmount(std::vector<Key>& keys) {
    if (keys.size() < 2) return;
    const auto [low, high] = std::minmax_element(
        keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.net < b.net; });
    const auto base = static_cast<std::uint64_t>(low->net);
    const std::uint64_t spread = static_cast<std::uint64_t>(high->net) - base;
    std::vector<Key> buffer(keys.size());
    std::vector<std::uint32_t> starts(std::size_t{1} << 16);
    for (int shift = 0; shift < 64 && (spread >> shift) != 0; shift += 16) {
        auto digit = [&](const Key& k) {
            return ((static_cast<std::uint64_t>(k.net) - base) >> shift) & 0xFFFFu;
        };
        std::fill(starts.begin(), starts.end(), 0);
        for (const Key& k : keys) ++starts[digit(k)];
        std::uint32_t at = 0;
        for (std::uint32_t& n : starts) at += std::exchange(n, at);
        for (const Key& k : keys) buffer[starts[digit(k)]++] = k;
        keys.swap(buffer);
    }
}

// Takes the edges level by level (smallest distance first): an edge whose two
// rows have no other edge at its level among the rows still free is a pair;
// rows with more than one equally good candidate, and those candidates, are
// left for the user and take no part in later levels. The edges are those of
// one amount, so there are few: counting by scanning the level is cheapest.
void resolve(std::vector<Edge>& edges, std::vector<char>& jState, std::vector<char>& sState,
             std::vector<std::pair<int, int>>& pairs) {
    enum : char { kFree = 0, kTaken = 1, kLeft = 2 };
    if (edges.size() > 1)
        std::sort(edges.begin(), edges.end(),
                  [](const Edge& a, const Edge& b) { return a.distance < b.distance; });
    std::vector<char> decision;  // per edge of the level: 0 skip, 1 pair, 2 ambiguous
    for (std::size_t begin = 0; begin < edges.size();) {
        std::size_t end = begin;
        while (end < edges.size() && edges[end].distance == edges[begin].distance) ++end;
        auto live = [&](const Edge& e) { return jState[e.j] == kFree && sState[e.s] == kFree; };
        decision.assign(end - begin, 0);
        for (std::size_t i = begin; i < end; ++i) {
            const Edge& e = edges[i];
            if (!live(e)) continue;
            int jn = 0, sn = 0;
            for (std::size_t k = begin; k < end; ++k) {
                if (!live(edges[k])) continue;
                jn += edges[k].j == e.j;
                sn += edges[k].s == e.s;
            }
            decision[i - begin] = jn == 1 && sn == 1 ? 1 : 2;
        }
        for (std::size_t i = begin; i < end; ++i) {
            const Edge& e = edges[i];
            if (decision[i - begin] == 1) {
                pairs.emplace_back(e.j, e.s);
                jState[e.j] = kTaken;
                sState[e.s] = kTaken;
            }
        }
        for (std::size_t i = begin; i < end; ++i) {
            const Edge& e = edges[i];
            if (decision[i - begin] != 2) continue;
            if (jState[e.j] == kFree) jState[e.j] = kLeft;
            if (sState[e.s] == kFree) sState[e.s] = kLeft;
        }
        begin = end;
    }
}

}  // namespace

namespace {

// What automatic matching needs of an unreconciled row: its date as a day
// number, its amount in its side's sense and its cheque number. Reading no
// summary and making no display rows keeps a run's read no dearer than a
// plain select of the rows.
struct Candidate {
    RowRef ref;
    int day = 0;
    std::int64_t net = 0;
    std::string cheque;
};

// One side's unreconciled rows of the range, opening items first, then the
// rows in date and number order.
std::vector<Candidate> candidates(Database& db, const Account& account, bool journal,
                                  const std::string& from, const std::string& until) {
    std::vector<Candidate> out;
    {
        std::vector<SideRow> opening;
        openingRows(db, account, journal, from, true, opening);
        for (SideRow& r : opening)
            out.push_back({r.ref, dayNumber(r.date), r.net(), std::move(r.cheque)});
    }
    Stmt s =
        db.prepare(std::string("SELECT id, create_date, pay_code, deb_cents, cre_cents FROM ") +
                   (journal ? "CaGlide" : "CaCollateGlide") +
                   " WHERE set_code = ?1 AND as_code = ?2 AND create_date >= ?3 AND "
                   "create_date <= ?4 AND reconcile_group IS NULL "
                   "ORDER BY create_date, date_or_no, id");
    s.bind(1, account.setCode).bind(2, account.asCode);
    s.bind(3, lowerBound(from)).bind(4, upperBound(until));
    const Source source = journal ? Source::Journal : Source::Statement;
    while (s.step()) {
        Candidate c;
        c.ref = {source, s.i64(0)};
        c.day = dayNumber(s.textView(1));
        c.cheque = s.textView(2);
        // The journal keeps the enterprise's side (debit = in), the statement
        // the bank's (credit = in).
        c.net = journal ? s.i64(3) - s.i64(4) : s.i64(4) - s.i64(3);
        out.push_back(std::move(c));
    }
    return out;
}

// Writes the pairs of an automatic run (journal row, statement row): one run
// row for their consecutive groups, then each table's rows marked by one
// statement (a run pairs tens of thousands of rows; one UPDATE per row cost
// several times the reading of both sides).
void writePairs(Database& db, const Account& account, const std::string& user,
                const std::vector<std::pair<RowRef, RowRef>>& pairs, int byCheque) {
    if (pairs.empty()) return;
    const std::int64_t first = nextGroupId(db);
    const auto count = static_cast<std::int64_t>(pairs.size());
    {
        Stmt id = db.prepare("SELECT coalesce(max(id), 0) + 1 FROM reconcile_runs");
        id.step();
        Stmt run = db.prepare(
            "INSERT INTO reconcile_runs (id, set_code, as_code, made_by, made_at, first_group, "
            "last_group, by_cheque, by_date) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        run.bind(1, id.i64(0)).bind(2, account.setCode).bind(3, account.asCode).bind(4, user);
        run.bind(5, nowText()).bind(6, first).bind(7, first + count - 1);
        run.bind(8, byCheque).bind(9, count - byCheque);
        run.run();
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> byId[2];  // journal, statement
    Marker marker(db);
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t g = first + k;
        for (const RowRef& ref : {pairs[k].first, pairs[k].second}) {
            if (ref.source == Source::Opening)
                marker.mark(ref, g);
            else
                byId[ref.source == Source::Journal ? 0 : 1].emplace_back(ref.id, g);
        }
    }
    for (int side = 0; side < 2; ++side) {
        auto& list = byId[side];
        if (list.empty()) continue;
        // Usually in order already: ids grow with the dates the pairs follow.
        if (!std::is_sorted(list.begin(), list.end())) std::sort(list.begin(), list.end());
        const std::int64_t marked = db.updateById(
            side == 0 ? "CaGlide" : "CaCollateGlide", "reconcile_group", list, "reconciled = 1",
            "set_code = ?1 AND as_code = ?2 AND reconcile_group IS NULL",
            {account.setCode, account.asCode});
        if (marked != static_cast<std::int64_t>(list.size()))
            throw ReconcileError("记录已被其他人对账或删除，本次对账没有保存，请重新查询。");
    }
}

}  // namespace

AutoResult Reconciler::autoMatch(const std::string& from, const std::string& until,
                                 int windowDays) {
    if (windowDays < 0) throw ReconcileError("日期相差天数不能为负数。");
    if (!from.empty()) dayNumber(from);
    if (!until.empty()) dayNumber(until);
    // Both sides' rows are read and then most of them rewritten: with the
    // store's usual cache the rewrite read every page again.
    const ledgerhost::LargerPageCache cache(db_, 64);
    Transaction t(db_);
    const std::vector<Candidate> js = candidates(db_, account_, true, from, until);
    const std::vector<Candidate> ss = candidates(db_, account_, false, from, until);

    // Candidates share an amount in the same sense: sort both sides' rows by
    // it and take each run of one amount in turn, journal rows first, each
    // side in the order read. A key carries what the date rule needs, so most
    // rows are decided without looking at the rows themselves.
    struct Key {
        std::int64_t net;
        std::uint32_t slot;  // side (top bit, statement = 1), has a cheque number, index
        int day;
        int side() const { return static_cast<int>(slot >> 31); }
        bool hasCheque() const { return (slot >> 30) & 1u; }
        int index() const { return static_cast<int>(slot & 0x3FFFFFFFu); }
    };
    if (js.size() > 0x3FFFFFFFu || ss.size() > 0x3FFFFFFFu)
        throw ReconcileError("记录太多，请缩小日期范围后再自动对账。");
    std::vector<Key> keys;
    keys.reserve(js.size() + ss.size());
    for (int side = 0; side < 2; ++side) {
        const std::vector<Candidate>& rows = side == 0 ? js : ss;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].net == 0) continue;
            const auto slot = static_cast<std::uint32_t>(side) << 31 |
                              static_cast<std::uint32_t>(!rows[i].cheque.empty()) << 30 |
                              static_cast<std::uint32_t>(i);
            keys.push_back({rows[i].net, slot, rows[i].day});
        }
    }
    sortByAmount(keys);

    std::vector<char> jState(js.size(), 0), sState(ss.size(), 0);
    std::vector<std::pair<int, int>> chequePairs, datePairs;
    std::vector<Edge> edges;
    for (std::size_t begin = 0; begin < keys.size();) {
        std::size_t end = begin, split = begin;
        while (end < keys.size() && keys[end].net == keys[begin].net) ++end;
        while (split < end && keys[split].side() == 0) ++split;
        const std::size_t jBegin = begin, jEnd = split, sBegin = split, sEnd = end;
        begin = end;
        if (jBegin == jEnd || sBegin == sEnd) continue;
        // Equal, non-empty cheque numbers, nearest date first.
        edges.clear();
        for (std::size_t a = jBegin; a < jEnd; ++a) {
            if (!keys[a].hasCheque()) continue;
            const int j = keys[a].index();
            for (std::size_t b = sBegin; b < sEnd; ++b) {
                const int s = keys[b].index();
                if (keys[b].hasCheque() && ss[s].cheque == js[j].cheque)
                    edges.push_back({j, s, std::abs(keys[a].day - keys[b].day)});
            }
        }
        resolve(edges, jState, sState, chequePairs);
        // Neither has a cheque number: dates within the window, nearest first.
        edges.clear();
        for (std::size_t a = jBegin; a < jEnd; ++a) {
            const int j = keys[a].index();
            if (keys[a].hasCheque() || jState[j]) continue;
            for (std::size_t b = sBegin; b < sEnd; ++b) {
                const int s = keys[b].index();
                if (keys[b].hasCheque() || sState[s]) continue;
                const int d = std::abs(keys[a].day - keys[b].day);
                if (d <= windowDays) edges.push_back({j, s, d});
            }
        }
        resolve(edges, jState, sState, datePairs);
    }

    // Pairs are written in the journal rows' date order, so group ids follow
    // the rows. The rows come in date order already; the opening items before
    // them are sorted only if they are not.
    std::vector<int> partner(js.size(), -1);
    for (const auto& p : chequePairs) partner[p.first] = p.second;
    for (const auto& p : datePairs) partner[p.first] = p.second;
    std::vector<int> order(js.size());
    std::iota(order.begin(), order.end(), 0);
    const auto byDay = [](const Candidate& a, const Candidate& b) { return a.day < b.day; };
    if (!std::is_sorted(js.begin(), js.end(), byDay))
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return js[a].day < js[b].day; });
    std::vector<std::pair<RowRef, RowRef>> all;
    all.reserve(chequePairs.size() + datePairs.size());
    for (int j : order)
        if (partner[j] >= 0) all.emplace_back(js[j].ref, ss[partner[j]].ref);
    writePairs(db_, account_, user_, all, static_cast<int>(chequePairs.size()));
    t.commit();
    AutoResult r;
    r.byCheque = static_cast<int>(chequePairs.size());
    r.byDate = static_cast<int>(datePairs.size());
    r.leftJournal = static_cast<int>(js.size()) - r.pairs();
    r.leftStatement = static_cast<int>(ss.size()) - r.pairs();
    return r;
}

std::int64_t Reconciler::match(const std::vector<RowRef>& journal,
                               const std::vector<RowRef>& statement) {
    if (journal.size() + statement.size() < 2) throw ReconcileError("请在两边选择要对账的记录。");
    {
        // A row chosen twice would count twice in its side's total.
        std::vector<RowRef> all = journal;
        all.insert(all.end(), statement.begin(), statement.end());
        auto key = [](const RowRef& r) { return std::make_pair(static_cast<int>(r.source), r.id); };
        std::sort(all.begin(), all.end(),
                  [&](const RowRef& a, const RowRef& b) { return key(a) < key(b); });
        if (std::adjacent_find(all.begin(), all.end()) != all.end())
            throw ReconcileError("同一条记录被选择了两次，请重新选择。");
    }
    Transaction t(db_);
    std::int64_t totals[2] = {0, 0};
    for (int side = 0; side < 2; ++side) {
        const bool isJournal = side == 0;
        for (const RowRef& ref : isJournal ? journal : statement) {
            SideRow row;
            bool found = false;
            if (ref.source == Source::Opening) {
                Stmt s = db_.prepare(
                    "SELECT kind, cents, reconcile_group FROM reconcile_opening_items "
                    "WHERE id = ? AND set_code = ? AND as_code = ?");
                s.bind(1, ref.id).bind(2, account_.setCode).bind(3, account_.asCode);
                if (s.step()) {
                    const int kind = s.i32(0);
                    found = isJournal ? kind <= kBookedOut : kind >= kBankIn;
                    const bool in = kind == kBookedIn || kind == kBankIn;
                    (in ? row.inCents : row.outCents) = s.i64(1);
                    row.group = s.isNull(2) ? 0 : 1;
                }
            } else if ((ref.source == Source::Journal) == isJournal) {
                Stmt s = db_.prepare(std::string("SELECT deb_cents, cre_cents, reconcile_group, "
                                                 "reconciled FROM ") +
                                     (isJournal ? "CaGlide" : "CaCollateGlide") +
                                     " WHERE id = ? AND set_code = ? AND as_code = ?");
                s.bind(1, ref.id).bind(2, account_.setCode).bind(3, account_.asCode);
                if (s.step()) {
                    found = true;
                    row.inCents = isJournal ? s.i64(0) : s.i64(1);
                    row.outCents = isJournal ? s.i64(1) : s.i64(0);
                    row.group = !s.isNull(2) || s.i32(3) != 0 ? 1 : 0;
                }
            }
            if (!found) throw ReconcileError("所选记录不是本账户的记录或已被删除，请重新查询。");
            if (row.group) throw ReconcileError("所选记录中有已对账的记录，不能再次对账。");
            totals[side] += row.net();
        }
    }
    if (totals[0] != totals[1]) {
        throw ReconcileError("两边金额不符，不能对账：银行日记账合计 " + formatCents(totals[0]) +
                             "，银行对账单合计 " + formatCents(totals[1]) + "，相差 " +
                             formatCents(totals[0] - totals[1]) + "。");
    }
    Marker marker(db_);
    const std::int64_t g = makeManualGroup(db_, account_, user_);
    for (const RowRef& r : journal) marker.mark(r, g);
    for (const RowRef& r : statement) marker.mark(r, g);
    t.commit();
    return g;
}

namespace {

// Undoes the groups listed in reconcile_undo, set by set: the rows of the
// account leave them, and the groups are marked undone.
void undoListed(Database& db, const Account& account, const std::string& user) {
    for (const char* table : {"CaGlide", "CaCollateGlide"}) {
        Stmt s = db.prepare(std::string("UPDATE ") + table +
                            " SET reconciled = 0, reconcile_group = NULL WHERE set_code = ? AND "
                            "as_code = ? AND reconcile_group IN (SELECT id FROM reconcile_undo)");
        s.bind(1, account.setCode).bind(2, account.asCode);
        s.run();
    }
    Stmt o = db.prepare(
        "UPDATE reconcile_opening_items SET reconcile_group = NULL WHERE set_code = ? AND "
        "as_code = ? AND reconcile_group IN (SELECT id FROM reconcile_undo)");
    o.bind(1, account.setCode).bind(2, account.asCode);
    o.run();
    // A group of its own is marked undone; a run's group gets a row of its own
    // that says who made it (the run) and who undid it.
    const std::string now = nowText();
    Stmt g = db.prepare(
        "UPDATE reconcile_groups SET undone_by = ?, undone_at = ? "
        "WHERE id IN (SELECT id FROM reconcile_undo)");
    g.bind(1, user).bind(2, now);
    g.run();
    Stmt r = db.prepare(
        "INSERT INTO reconcile_groups (id, set_code, as_code, made_by, made_at, automatic, "
        "undone_by, undone_at) SELECT u.id, r.set_code, r.as_code, r.made_by, r.made_at, 1, ?, ? "
        "FROM reconcile_undo u JOIN reconcile_runs r ON u.id >= r.first_group AND "
        "u.id <= r.last_group WHERE NOT EXISTS (SELECT 1 FROM reconcile_groups k WHERE k.id = "
        "u.id)");
    r.bind(1, user).bind(2, now);
    r.run();
}

void startUndoList(Database& db) {
    db.exec(
        "CREATE TEMP TABLE IF NOT EXISTS reconcile_undo (id INTEGER PRIMARY KEY); "
        "DELETE FROM reconcile_undo;");
}

}  // namespace

void Reconciler::undoGroup(std::int64_t group) {
    Transaction t(db_);
    // A group of its own, or a run's group that has none (an undone one has).
    Stmt s = db_.prepare(
        "SELECT 1 FROM reconcile_groups WHERE id = ?1 AND set_code = ?2 AND as_code = ?3 "
        "AND undone_at IS NULL UNION ALL SELECT 1 FROM reconcile_runs WHERE first_group <= ?1 "
        "AND last_group >= ?1 AND set_code = ?2 AND as_code = ?3 "
        "AND NOT EXISTS (SELECT 1 FROM reconcile_groups WHERE id = ?1)");
    s.bind(1, group).bind(2, account_.setCode).bind(3, account_.asCode);
    if (!s.step()) throw ReconcileError("该对账记录已取消或不属于本账户，请重新查询。");
    startUndoList(db_);
    Stmt add = db_.prepare("INSERT INTO reconcile_undo (id) VALUES (?)");
    add.bind(1, group);
    add.run();
    undoListed(db_, account_, user_);
    t.commit();
}

int Reconciler::undoRange(const std::string& from, const std::string& until) {
    if (!from.empty()) dayNumber(from);
    if (!until.empty()) dayNumber(until);
    Transaction t(db_);
    startUndoList(db_);
    Stmt s = db_.prepare(
        "INSERT INTO reconcile_undo (id) "
        "SELECT reconcile_group FROM CaGlide WHERE set_code = ?1 AND as_code = ?2 "
        "AND create_date >= ?3 AND create_date <= ?4 AND reconcile_group IS NOT NULL "
        "UNION SELECT reconcile_group FROM CaCollateGlide WHERE set_code = ?1 AND as_code = ?2 "
        "AND create_date >= ?3 AND create_date <= ?4 AND reconcile_group IS NOT NULL");
    s.bind(1, account_.setCode).bind(2, account_.asCode);
    s.bind(3, lowerBound(from)).bind(4, upperBound(until));
    s.run();
    const int groups = db_.changes();
    undoListed(db_, account_, user_);
    t.commit();
    return groups;
}

std::int64_t Reconciler::bankOpening() {
    Stmt s = db_.prepare(
        "SELECT bank_opening_cents FROM reconcile_openings WHERE set_code = ? AND as_code = ?");
    s.bind(1, account_.setCode).bind(2, account_.asCode);
    return s.step() ? s.i64(0) : 0;
}

void Reconciler::setBankOpening(std::int64_t cents) {
    Stmt s = db_.prepare(
        "INSERT INTO reconcile_openings (set_code, as_code, bank_opening_cents) VALUES (?,?,?) "
        "ON CONFLICT (set_code, as_code) DO UPDATE SET bank_opening_cents = "
        "excluded.bank_opening_cents");
    s.bind(1, account_.setCode).bind(2, account_.asCode).bind(3, cents);
    s.run();
}

std::int64_t Reconciler::addOpeningItem(int kind, const std::string& date,
                                        const std::string& number, const std::string& summary,
                                        std::int64_t cents) {
    if (kind < kBookedIn || kind > kBankOut) throw ReconcileError("期初未达账项的类别不对。");
    dayNumber(date);
    if (cents <= 0) throw ReconcileError("期初未达账项的金额必须大于零。");
    Stmt s = db_.prepare(
        "INSERT INTO reconcile_opening_items (set_code, as_code, kind, item_date, number, "
        "summary, cents) VALUES (?,?,?,?,?,?,?) RETURNING id");
    s.bind(1, account_.setCode).bind(2, account_.asCode).bind(3, kind).bind(4, date);
    s.bind(5, number).bind(6, summary).bind(7, cents);
    return s.returning();
}

void Reconciler::removeOpeningItem(std::int64_t id) {
    Stmt s = db_.prepare(
        "DELETE FROM reconcile_opening_items WHERE id = ? AND set_code = ? AND as_code = ? "
        "AND reconcile_group IS NULL");
    s.bind(1, id).bind(2, account_.setCode).bind(3, account_.asCode);
    s.run();
    if (db_.changes() != 1) throw ReconcileError("该期初未达账项已对账或已删除，不能删除。");
}

namespace {

// A deferred transaction that only reads; ended without writing anything.
class ReadSnapshot {
  public:
    explicit ReadSnapshot(Database& db) : db_(db), own_(!db.inTransaction()) {
        if (own_) db_.beginRead();
    }
    ~ReadSnapshot() {
        if (!own_) return;
        try {
            db_.exec("ROLLBACK");
        } catch (...) {
        }
    }
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

  private:
    Database& db_;
    bool own_;
};

}  // namespace

Report Reconciler::report(const std::string& until) {
    dayNumber(until);
    Report r;
    r.bookCode = account_.setCode;
    {
        Stmt s = db_.prepare("SELECT name FROM book_sets WHERE code = ?");
        s.bind(1, account_.setCode);
        if (s.step()) r.bookName = s.text(0);
    }
    r.account = account_;
    r.until = until;
    // One read: both sides' rows up to the date, so the balances and the
    // outstanding items come from the same snapshot. A read takes no write
    // lock, so the statement can be printed while another program imports.
    ReadSnapshot snapshot(db_);
    std::vector<SideRow> js = rows(true, "", until, false);
    std::vector<SideRow> ss = rows(false, "", until, false);
    // A group settles its rows at its latest member's date; before then its
    // rows were still outstanding.
    std::unordered_map<std::int64_t, std::string> settled;
    for (const auto* side : {&js, &ss})
        for (const SideRow& row : *side)
            if (row.group) {
                std::string& last = settled[row.group];
                last = std::max(last, row.date);
            }
    // Members dated after `until` were not read: a group with such a member
    // was not settled yet.
    {
        Stmt s = db_.prepare(
            "SELECT reconcile_group FROM CaGlide WHERE set_code = ?1 AND as_code = ?2 "
            "AND create_date > ?3 AND reconcile_group IS NOT NULL UNION "
            "SELECT reconcile_group FROM CaCollateGlide WHERE set_code = ?1 AND as_code = ?2 "
            "AND create_date > ?3 AND reconcile_group IS NOT NULL");
        s.bind(1, account_.setCode).bind(2, account_.asCode).bind(3, until);
        while (s.step()) settled.erase(s.i64(0));
    }
    r.journalBalance = account_.openingCents;
    r.bankBalance = bankOpening();
    auto item = [](const SideRow& row, std::int64_t cents) {
        return ReportItem{row.ref, row.date, row.number, row.cheque, row.summary, cents};
    };
    for (const SideRow& row : js) {
        if (row.ref.source != Source::Opening) r.journalBalance += row.net();
        if (row.group && settled.count(row.group)) continue;
        if (row.net() > 0) r.bookedInNotBank.push_back(item(row, row.net()));
        if (row.net() < 0) r.bookedOutNotBank.push_back(item(row, -row.net()));
    }
    for (const SideRow& row : ss) {
        if (row.ref.source != Source::Opening) r.bankBalance += row.net();
        if (row.group && settled.count(row.group)) continue;
        if (row.net() > 0) r.bankInNotBooked.push_back(item(row, row.net()));
        if (row.net() < 0) r.bankOutNotBooked.push_back(item(row, -row.net()));
    }
    auto sum = [](const std::vector<ReportItem>& items) {
        std::int64_t total = 0;
        for (const ReportItem& i : items) total += i.cents;
        return total;
    };
    r.adjustedJournal = r.journalBalance + sum(r.bankInNotBooked) - sum(r.bankOutNotBooked);
    r.adjustedBank = r.bankBalance + sum(r.bookedInNotBank) - sum(r.bookedOutNotBank);
    if (!r.balanced()) {
        // An item of the difference's amount, or of half of it (booked in the
        // wrong sense), may explain it.
        const std::int64_t diff = std::abs(r.difference());
        for (const auto* items :
             {&r.bankInNotBooked, &r.bankOutNotBooked, &r.bookedInNotBank, &r.bookedOutNotBank})
            for (const ReportItem& i : *items)
                if (i.cents == diff || i.cents * 2 == diff) r.suspects.push_back(i);
    }
    return r;
}

namespace {

struct Section {
    const char* title;
    const std::vector<ReportItem>* items;
    char sign;
};

}  // namespace

std::string reportText(const Report& r) {
    std::string out = "银行存款余额调节表\n";
    out += "账套：" + r.bookCode + " " + r.bookName + "  账户：" + r.account.number + " " +
           r.account.name + "  截至：" + r.until + "\n\n";
    auto sectionText = [&](const Section& s) {
        std::int64_t total = 0;
        for (const ReportItem& i : *s.items) total += i.cents;
        out += std::string(1, s.sign) + " " + s.title + "  " + formatCents(total) + "\n";
        for (const ReportItem& i : *s.items)
            out += "    " + i.date + "  " + std::to_string(i.number) + "  " +
                   (i.cheque.empty() ? "" : i.cheque + "  ") + i.summary + "  " +
                   formatCents(i.cents) + "\n";
    };
    out += "银行日记账余额  " + formatCents(r.journalBalance) + "\n";
    sectionText({"银行已收、企业未收", &r.bankInNotBooked, '+'});
    sectionText({"银行已付、企业未付", &r.bankOutNotBooked, '-'});
    out += "调节后余额  " + formatCents(r.adjustedJournal) + "\n\n";
    out += "银行对账单余额  " + formatCents(r.bankBalance) + "\n";
    sectionText({"企业已收、银行未收", &r.bookedInNotBank, '+'});
    sectionText({"企业已付、银行未付", &r.bookedOutNotBank, '-'});
    out += "调节后余额  " + formatCents(r.adjustedBank) + "\n\n";
    if (r.balanced()) {
        out += "两边调节后余额相符。\n";
    } else {
        out += "两边调节后余额不符，相差 " + formatCents(r.difference()) + "。\n";
        for (const ReportItem& i : r.suspects)
            out += "  可能有关：" + i.date + "  " + std::to_string(i.number) + "  " + i.summary +
                   "  " + formatCents(i.cents) + "\n";
    }
    return out;
}

namespace {

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string plain(std::int64_t cents) {
    std::string s = formatCents(cents);
    s.erase(std::remove(s.begin(), s.end(), ','), s.end());
    return s;
}

}  // namespace

std::string reportCsv(const Report& r) {
    std::string out = "项目,日期,统一号,票据号,摘要,金额\n";
    auto line = [&](const std::string& what, const std::string& date, const std::string& no,
                    const std::string& cheque, const std::string& summary, std::int64_t cents) {
        out += csvField(what) + "," + date + "," + no + "," + csvField(cheque) + "," +
               csvField(summary) + "," + plain(cents) + "\n";
    };
    auto items = [&](const char* title, const std::vector<ReportItem>& list) {
        for (const ReportItem& i : list)
            line(title, i.date, std::to_string(i.number), i.cheque, i.summary, i.cents);
    };
    line("银行日记账余额", r.until, "", "", "", r.journalBalance);
    items("银行已收企业未收", r.bankInNotBooked);
    items("银行已付企业未付", r.bankOutNotBooked);
    line("银行日记账调节后余额", r.until, "", "", "", r.adjustedJournal);
    line("银行对账单余额", r.until, "", "", "", r.bankBalance);
    items("企业已收银行未收", r.bookedInNotBank);
    items("企业已付银行未付", r.bookedOutNotBank);
    line("银行对账单调节后余额", r.until, "", "", "", r.adjustedBank);
    line("差额", r.until, "", "", "", r.difference());
    return out;
}

}  // namespace reconcile
