#include "CashierInit.h"

#include <cstdio>

#include "Numbers.h"
#include "OfficeRules.h"
#include "Records.h"
#include "Users.h"

namespace ledgerhost {

namespace {

// The book set whose openings may still change.
TBookSet openForOpenings(Database& db, const std::string& setCode) {
    TBookSet book = office::existingBookSet(db, setCode);
    if (book.InitConfirmed)
        throw StoreError("账套 " + setCode +
                         " 已完成出纳初始化，期初数据不能修改；要修改请先取消初始化。");
    return book;
}

AccountInfo ownAccount(Database& db, const std::string& setCode, const std::string& asCode,
                       bool bankOnly) {
    for (AccountInfo& a : listAccounts(db, setCode))
        if (a.Code == asCode) {
            if (bankOnly && a.Kind != kBankKind)
                throw StoreError("账户 " + asCode + " 是现金账户，没有银行方的期初数据。");
            return a;
        }
    throw StoreError("账套 " + setCode + " 没有编码为 " + asCode + " 的账户。");
}

std::string startOf(const TBookSet& book) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-01", book.StartYear > 0 ? book.StartYear : book.Year,
                  book.StartMonth);
    return buf;
}

}  // namespace

const char* openingItemKindName(int kind) {
    switch (kind) {
        case kItemBookedIn:
            return "企业已收银行未收";
        case kItemBookedOut:
            return "企业已付银行未付";
        case kItemBankIn:
            return "银行已收企业未收";
        case kItemBankOut:
            return "银行已付企业未付";
        default:
            return "";
    }
}

std::int64_t AccountOpening::adjustedJournal() const {
    std::int64_t v = JournalCents;
    for (const OpeningItem& i : Items)
        v += i.Kind == kItemBankIn ? i.Cents : i.Kind == kItemBankOut ? -i.Cents : 0;
    return v;
}

std::int64_t AccountOpening::adjustedBank() const {
    std::int64_t v = BankCents;
    for (const OpeningItem& i : Items)
        v += i.Kind == kItemBookedIn ? i.Cents : i.Kind == kItemBookedOut ? -i.Cents : 0;
    return v;
}

std::string booksStartDate(Database& db, const std::string& setCode) {
    return startOf(office::existingBookSet(db, setCode, true));
}

std::vector<AccountOpening> cashierOpenings(Database& db, const std::string& setCode) {
    std::vector<AccountOpening> out;
    Stmt bank = db.prepare(
        "SELECT bank_opening_cents FROM reconcile_openings WHERE set_code = ? AND as_code = ?");
    Stmt items = db.prepare(
        "SELECT id, kind, item_date, number, summary, cents, reconcile_group FROM "
        "reconcile_opening_items WHERE set_code = ? AND as_code = ? ORDER BY item_date, id");
    for (AccountInfo& a : listAccounts(db, setCode)) {
        AccountOpening o;
        o.JournalCents = a.OpeningCents;
        o.BankCents = a.OpeningCents;
        if (a.Kind == kBankKind) {
            bank.reset();
            bank.bind(1, setCode).bind(2, a.Code);
            if (bank.step()) {
                o.BankCents = bank.i64(0);
                o.BankEntered = true;
            }
            items.reset();
            items.bind(1, setCode).bind(2, a.Code);
            while (items.step())
                o.Items.push_back({items.i64(0), items.i32(1), items.text(2), items.text(3),
                                   items.text(4), items.i64(5), !items.isNull(6)});
        }
        o.Account = std::move(a);
        out.push_back(std::move(o));
    }
    return out;
}

void setJournalOpening(Database& db, const std::string& actor, const std::string& setCode,
                       const std::string& asCode, std::int64_t cents) {
    Transaction t(db);
    requireAdministrator(db, actor);
    openForOpenings(db, setCode);
    ownAccount(db, setCode, asCode, false);
    Stmt s =
        db.prepare("UPDATE bank_accounts SET opening_cents = ? WHERE set_code = ? AND as_code = ?");
    s.bind(1, cents).bind(2, setCode).bind(3, asCode);
    s.run();
    t.commit();
}

void setBankOpening(Database& db, const std::string& actor, const std::string& setCode,
                    const std::string& asCode, std::int64_t cents) {
    Transaction t(db);
    requireAdministrator(db, actor);
    openForOpenings(db, setCode);
    ownAccount(db, setCode, asCode, true);
    Stmt s = db.prepare(
        "INSERT INTO reconcile_openings (set_code, as_code, bank_opening_cents) VALUES (?,?,?) "
        "ON CONFLICT (set_code, as_code) DO UPDATE SET bank_opening_cents = "
        "excluded.bank_opening_cents");
    s.bind(1, setCode).bind(2, asCode).bind(3, cents);
    s.run();
    t.commit();
}

std::int64_t addOpeningItem(Database& db, const std::string& actor, const std::string& setCode,
                            const std::string& asCode, const OpeningItem& item) {
    Transaction t(db);
    requireAdministrator(db, actor);
    const TBookSet book = openForOpenings(db, setCode);
    ownAccount(db, setCode, asCode, true);
    if (*openingItemKindName(item.Kind) == '\0') throw StoreError("期初未达账项的类别不对。");
    if (item.Date.size() != 10 || !dayNumber(item.Date))
        throw StoreError("日期“" + item.Date + "”不对，应为 YYYY-MM-DD。");
    if (item.Date >= startOf(book))
        throw StoreError("期初未达账项的日期 " + item.Date + " 应早于账套的启用日期 " +
                         startOf(book) + "。");
    if (item.Cents <= 0) throw StoreError("期初未达账项的金额必须大于零。");
    Stmt s = db.prepare(
        "INSERT INTO reconcile_opening_items (set_code, as_code, kind, item_date, number, "
        "summary, cents) VALUES (?,?,?,?,?,?,?) RETURNING id");
    s.bind(1, setCode).bind(2, asCode).bind(3, item.Kind).bind(4, item.Date);
    s.bind(5, item.Number).bind(6, item.Summary).bind(7, item.Cents);
    const std::int64_t id = s.returning();
    t.commit();
    return id;
}

void removeOpeningItem(Database& db, const std::string& actor, const std::string& setCode,
                       const std::string& asCode, std::int64_t id) {
    Transaction t(db);
    requireAdministrator(db, actor);
    openForOpenings(db, setCode);
    Stmt s = db.prepare(
        "DELETE FROM reconcile_opening_items WHERE id = ? AND set_code = ? AND as_code = ? "
        "AND reconcile_group IS NULL");
    s.bind(1, id).bind(2, setCode).bind(3, asCode);
    s.run();
    if (db.changes() != 1) throw StoreError("该期初未达账项已对账或已删除，不能删除。");
    t.commit();
}

void confirmInitialisation(Database& db, const std::string& actor, const std::string& setCode) {
    Transaction t(db);
    requireAdministrator(db, actor);
    TBookSet book = office::existingBookSet(db, setCode);
    if (book.InitConfirmed)
        throw StoreError("账套 " + setCode + " 的出纳初始化已经完成，不能重复完成。");
    // The bank's side opens where the journal does unless told otherwise, so
    // the statement and the reconciliation start from the same balance.
    Stmt s = db.prepare(
        "INSERT INTO reconcile_openings (set_code, as_code, bank_opening_cents) "
        "SELECT a.set_code, a.as_code, a.opening_cents FROM bank_accounts a WHERE a.set_code = ? "
        "AND a.kind = 1 AND NOT EXISTS (SELECT 1 FROM reconcile_openings o WHERE o.set_code = "
        "a.set_code AND o.as_code = a.as_code)");
    s.bind(1, setCode);
    s.run();
    Stmt c = db.prepare("UPDATE book_sets SET init_confirmed = 1 WHERE code = ?");
    c.bind(1, setCode);
    c.run();
    t.commit();
}

void cancelInitialisation(Database& db, const std::string& actor, const std::string& setCode) {
    Transaction t(db);
    requireAdministrator(db, actor);
    TBookSet book = office::existingBookSet(db, setCode);
    if (!book.InitConfirmed) throw StoreError("账套 " + setCode + " 的出纳初始化尚未完成。");
    if (office::bookSetHasRows(db, setCode) || book.StartYear != book.Year)
        throw StoreError("账套 " + setCode + " 已有日记账或对账单记录，不能取消初始化。");
    Stmt c = db.prepare("UPDATE book_sets SET init_confirmed = 0 WHERE code = ?");
    c.bind(1, setCode);
    c.run();
    t.commit();
}

std::optional<std::int64_t> parseCents(const std::string& text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++i;
    std::int64_t whole = 0;
    int digits = 0, group = -1;  // digits since the last comma (-1: no comma yet)
    for (; i < text.size() && text[i] != '.'; ++i) {
        const char c = text[i];
        if (c == ',') {
            if (digits == 0 || (group >= 0 && group != 3) || (group < 0 && digits > 3))
                return std::nullopt;
            group = 0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 13) return std::nullopt;
        whole = whole * 10 + (c - '0');
        if (group >= 0) ++group;
    }
    if (digits == 0 || (group >= 0 && group != 3)) return std::nullopt;
    std::int64_t cents = whole * 100;
    if (i < text.size()) {  // the decimal point
        const std::string fraction = text.substr(i + 1);
        if (fraction.empty() || fraction.size() > 2 ||
            fraction.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        cents += std::stoi(fraction) * (fraction.size() == 1 ? 10 : 1);
    }
    return negative ? -cents : cents;
}

}  // namespace ledgerhost
