// Automatic matching (pairs by cheque number, then by date, level by level of
// date distance) and the manual match of chosen rows as one group.

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <utility>

#include "Reconcile.h"
#include "ReconcileRows.h"

namespace reconcile {

using namespace detail;

namespace {

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

void readCandidates(Stmt& s, bool journal, std::vector<Candidate>& out);

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
    // The unreconciled rows of years carried forward before the range, then
    // those of the range.
    const std::string select = std::string(
                                   "SELECT id, create_date, pay_code, deb_cents, "
                                   "cre_cents FROM ") +
                               (journal ? "CaGlide" : "CaCollateGlide") + " WHERE " +
                               inBookSets(account, 10) + " AND as_code = ?1 AND ";
    const std::string order = " AND reconcile_group IS NULL ORDER BY create_date, date_or_no, id";
    Stmt carried = db.prepare(select + "create_date < ?2" + order);
    carried.bind(1, account.asCode).bind(2, carriedBefore(db, account, from));
    bindBookSets(carried, account, 10);
    readCandidates(carried, journal, out);
    Stmt s = db.prepare(select + "create_date >= ?2 AND create_date <= ?3" + order);
    s.bind(1, account.asCode);
    s.bind(2, lowerBound(from)).bind(3, upperBound(until));
    bindBookSets(s, account, 10);
    readCandidates(s, journal, out);
    return out;
}

void readCandidates(Stmt& s, bool journal, std::vector<Candidate>& out) {
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
            "last_group, by_cheque, by_date, program) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        run.bind(1, id.i64(0)).bind(2, account.setCode).bind(3, account.asCode).bind(4, user);
        run.bind(5, nowText(db)).bind(6, first).bind(7, first + count - 1);
        run.bind(8, byCheque).bind(9, count - byCheque).bind(10, ledgerhost::programName());
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
        std::vector<std::string> binds{account.asCode};
        for (const std::string& set : bookSetsOf(account)) binds.push_back(set);
        const std::int64_t marked = db.updateById(
            side == 0 ? "CaGlide" : "CaCollateGlide", "reconcile_group", list, "reconciled = 1",
            "as_code = ?1 AND reconcile_group IS NULL AND " + inBookSets(account, 2), binds);
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
    checkInYear(until);
    // Both sides' rows are read and then most of them rewritten: with the
    // store's usual cache the rewrite read every page again.
    const ledgerhost::LargerPageCache cache(db_, 64);
    Transaction t(db_);
    checkUnlocked();
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
    checkUnlocked();
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
                Stmt s =
                    db_.prepare(std::string("SELECT deb_cents, cre_cents, reconcile_group, "
                                            "reconciled FROM ") +
                                (isJournal ? "CaGlide" : "CaCollateGlide") +
                                " WHERE id = ?1 AND as_code = ?2 AND " + inBookSets(account_, 3));
                s.bind(1, ref.id).bind(2, account_.asCode);
                bindBookSets(s, account_, 3);
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

}  // namespace reconcile
