#include "CarryForward.h"

#include <algorithm>

#include "Glide.h"
#include "JournalLoad.h"
#include "OfficeRules.h"
#include "Records.h"
#include "Users.h"

namespace ledgerhost {

namespace {

// The balance at the end of `year` of one account's section: the opening
// line of an empty range just after the year, which the load opens with the
// account's opening plus every row of the pair before the range.
std::int64_t balanceAtYearEnd(Database& db, const std::string& table, const std::string& setCode,
                              const ClosingBalance& account, int year) {
    TCaGlideQry q(table);
    q.SetCode = setCode;
    q.AS_Code = account.AsCode;
    q.AccountSetCode = account.AccountSetCode;
    q.BCreateDate = std::to_string(year + 1) + "-01-01";
    q.ECreateDate = std::to_string(year) + "-12-31";
    TCurrentManage counterparts;  // no row is shown, so no name is looked up
    std::vector<std::unique_ptr<TCaGlide>> rows;
    loadJournal({db, table, q, 0, nullptr, counterparts}, rows);
    if (rows.empty()) throw StoreError("无法计算账户 " + account.AsCode + " 的年末余额。");
    return toCents(rows.front()->Balance);
}

std::string yearOf(int year) {
    return std::to_string(year) + " 年度";
}

}  // namespace

std::vector<ClosingBalance> closingBalances(Database& db, const std::string& setCode, int year) {
    const TBookSet book = office::existingBookSet(db, setCode, true);
    std::vector<ClosingBalance> out;
    auto add = [&](const std::string& owner, Stmt& s) {
        while (s.step())
            out.push_back({s.text(0), owner, s.text(1), s.text(2), s.i32(3), 0, std::nullopt});
    };
    {
        Stmt s = db.prepare(
            "SELECT as_code, account_no, name, kind FROM bank_accounts WHERE set_code = ? "
            "ORDER BY as_code");
        s.bind(1, setCode);
        add(setCode, s);
    }
    if (!book.ManageSetCode.empty()) {
        // The managing book set's accounts this one has rows on and no own
        // account of that code.
        Stmt s = db.prepare(
            "SELECT a.as_code, a.account_no, a.name, a.kind FROM bank_accounts a WHERE "
            "a.set_code = ?1 AND NOT EXISTS (SELECT 1 FROM bank_accounts o WHERE o.set_code = ?2 "
            "AND o.as_code = a.as_code) AND (EXISTS (SELECT 1 FROM CaGlide g WHERE g.set_code = "
            "?2 AND g.as_code = a.as_code) OR EXISTS (SELECT 1 FROM CaCollateGlide g WHERE "
            "g.set_code = ?2 AND g.as_code = a.as_code)) ORDER BY a.as_code");
        s.bind(1, book.ManageSetCode).bind(2, setCode);
        add(book.ManageSetCode, s);
    }
    for (ClosingBalance& b : out) {
        b.JournalCents = balanceAtYearEnd(db, kCashJournalTable, setCode, b, year);
        if (b.Kind == 1) b.BankCents = balanceAtYearEnd(db, kStatementTable, setCode, b, year);
    }
    return out;
}

std::string carryForwardProblem(Database& db, const std::string& setCode,
                                const std::string& today) {
    const TBookSet book = office::existingBookSet(db, setCode);
    const std::string name = "账套 " + setCode + " ";
    if (!book.InitConfirmed) return name + "的出纳初始化尚未完成，不能结转下年。";
    if (book.EntryLocked) return name + "已锁定，不能结转下年。";
    {
        Stmt s = db.prepare("SELECT 1 FROM closed_years WHERE set_code = ? AND year = ?");
        s.bind(1, setCode).bind(2, book.Year);
        if (s.step()) return name + "的 " + yearOf(book.Year) + "已经结转，不能重复结转。";
    }
    if (today.size() < 10 || today.substr(0, 4) <= std::to_string(book.Year)) {
        if (book.StartYear != book.Year)
            return name + "已结转到 " + yearOf(book.Year) + "，" + yearOf(book.Year) +
                   "尚未结束（今天是 " + today.substr(0, 10) + "），不能再结转。";
        return name + "的 " + yearOf(book.Year) + "尚未结束（今天是 " + today.substr(0, 10) +
               "），不能结转下年。";
    }
    return {};
}

ClosedYear carryForward(Database& db, const std::string& actor, const std::string& setCode,
                        const std::string& today) {
    Transaction t(db);
    requireAdministrator(db, actor);
    if (std::string why = carryForwardProblem(db, setCode, today); !why.empty())
        throw StoreError(why);
    const TBookSet book = office::existingBookSet(db, setCode);
    ClosedYear closed;
    closed.Year = book.Year;
    closed.ClosedBy = actor;
    closed.ClosedAt = office::nowText(db);
    closed.Balances = closingBalances(db, setCode, book.Year);
    Stmt year = db.prepare(
        "INSERT INTO closed_years (set_code, year, closed_by, closed_at) VALUES (?, ?, ?, ?)");
    year.bind(1, setCode).bind(2, book.Year).bind(3, actor).bind(4, closed.ClosedAt);
    year.run();
    Stmt balance = db.prepare(
        "INSERT INTO closing_balances (set_code, year, as_code, journal_cents, bank_cents) "
        "VALUES (?, ?, ?, ?, ?)");
    for (const ClosingBalance& b : closed.Balances) {
        balance.reset();
        balance.bind(1, setCode).bind(2, book.Year).bind(3, b.AsCode).bind(4, b.JournalCents);
        if (b.BankCents)
            balance.bind(5, *b.BankCents);
        else
            balance.bindNull(5);
        balance.run();
    }
    Stmt next = db.prepare("UPDATE book_sets SET year = year + 1 WHERE code = ?");
    next.bind(1, setCode);
    next.run();
    t.commit();
    return closed;
}

std::vector<ClosedYear> closedYears(Database& db, const std::string& setCode) {
    std::vector<ClosedYear> out;
    Stmt s = db.prepare(
        "SELECT year, closed_by, closed_at FROM closed_years WHERE set_code = ? ORDER BY year");
    s.bind(1, setCode);
    while (s.step()) out.push_back({s.i32(0), s.text(1), s.text(2), {}});
    Stmt b = db.prepare(
        "SELECT c.as_code, COALESCE(a.account_no, ''), COALESCE(a.name, ''), "
        "COALESCE(a.kind, 0), c.journal_cents, c.bank_cents FROM closing_balances c LEFT JOIN "
        "bank_accounts a ON a.set_code = c.set_code AND a.as_code = c.as_code "
        "WHERE c.set_code = ? AND c.year = ? ORDER BY c.as_code");
    for (ClosedYear& y : out) {
        b.reset();
        b.bind(1, setCode).bind(2, y.Year);
        while (b.step()) {
            ClosingBalance c{b.text(0), setCode,  b.text(1),   b.text(2),
                             b.i32(3),  b.i64(4), std::nullopt};
            if (!b.isNull(5)) c.BankCents = b.i64(5);
            y.Balances.push_back(std::move(c));
        }
    }
    return out;
}

}  // namespace ledgerhost
