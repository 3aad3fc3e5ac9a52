#include "Accounts.h"

#include "OfficeRules.h"
#include "Records.h"
#include "Users.h"

namespace ledgerhost {

using office::checkCode;
using office::checkName;

namespace {

AccountInfo readAccount(Stmt& s) {
    AccountInfo a;
    a.SetCode = s.text(0);
    a.Code = s.text(1);
    a.AccountNo = s.text(2);
    a.Name = s.text(3);
    a.Kind = s.i32(4);
    a.InUse = s.text(5) == kAccountInUse;
    a.OpeningCents = s.i64(6);
    a.SubjectCode = s.text(7);
    a.BankName = s.text(8);
    return a;
}

constexpr const char* kColumns =
    "SELECT set_code, as_code, account_no, name, kind, state, opening_cents, subject_code, "
    "bank_name FROM bank_accounts ";

std::optional<AccountInfo> storedAccount(Database& db, const std::string& set,
                                         const std::string& code) {
    Stmt s = db.prepare(std::string(kColumns) + "WHERE set_code = ? AND as_code = ?");
    s.bind(1, set).bind(2, code);
    if (!s.step()) return std::nullopt;
    return readAccount(s);
}

AccountInfo existingAccount(Database& db, const std::string& set, const std::string& code) {
    office::existingBookSet(db, set);
    auto a = storedAccount(db, set, code);
    if (!a) throw StoreError("账套 " + set + " 没有编码为 " + code + " 的账户。");
    return *a;
}

// Rows of the account: its book set's own and those of the book sets it
// manages, which use its accounts under the same code.
bool accountHasRows(Database& db, const std::string& set, const std::string& code) {
    const std::string sets =
        " WHERE as_code = ?2 AND (set_code = ?1 OR set_code IN (SELECT code FROM book_sets "
        "WHERE manage_set_code = ?1))";
    Stmt s = db.prepare("SELECT 1 FROM CaGlide" + sets + " UNION ALL SELECT 1 FROM CaCollateGlide" +
                        sets + " LIMIT 1");
    s.bind(1, set).bind(2, code);
    return s.step();
}

void checkAccount(Database& db, const AccountInfo& a) {
    checkName("账户", a.Name);
    if (a.Kind != kBankKind && a.Kind != kCashKind) throw StoreError("账户的类别应为银行或现金。");
    if (a.Kind == kBankKind && a.AccountNo.empty())
        throw StoreError("银行账户 " + a.Code + " 必须有账号。");
    if (a.AccountNo.find_first_of(" \t\r\n") != std::string::npos)
        throw StoreError("账号“" + a.AccountNo + "”不能含空格。");
    if (!a.SubjectCode.empty()) checkCode("科目", a.SubjectCode);
    if (a.AccountNo.empty()) return;
    // Statements find their account by number within the book set.
    Stmt s = db.prepare(
        "SELECT as_code FROM bank_accounts WHERE set_code = ? AND account_no = ? AND as_code <> ?");
    s.bind(1, a.SetCode).bind(2, a.AccountNo).bind(3, a.Code);
    if (s.step())
        throw StoreError("账号 " + a.AccountNo + " 已由本账套的账户 " + s.text(0) + " 使用。");
}

}  // namespace

const char* accountKindName(int kind) {
    return kind == kCashKind ? "现金" : "银行";
}

std::vector<AccountInfo> listAccounts(Database& db, const std::string& setCode) {
    std::vector<AccountInfo> out;
    Stmt s = db.prepare(std::string(kColumns) + "WHERE set_code = ? ORDER BY as_code");
    s.bind(1, setCode);
    while (s.step()) out.push_back(readAccount(s));
    return out;
}

void addAccount(Database& db, const std::string& actor, const AccountInfo& account) {
    Transaction t(db);
    requireAdministrator(db, actor);
    office::existingBookSet(db, account.SetCode);
    checkCode("账户", account.Code);
    if (storedAccount(db, account.SetCode, account.Code))
        throw StoreError("账套 " + account.SetCode + " 已有编码为 " + account.Code + " 的账户。");
    checkAccount(db, account);
    Stmt s = db.prepare(
        "INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, "
        "opening_cents, subject_code, bank_name) VALUES (?, ?, ?, ?, ?, ?, 0, ?, ?)");
    s.bind(1, account.SetCode).bind(2, account.Code).bind(3, account.AccountNo);
    s.bind(4, account.Name).bind(5, account.Kind);
    s.bind(6, account.InUse ? kAccountInUse : kAccountStopped);
    s.bind(7, account.SubjectCode.empty() ? account.Code : account.SubjectCode);
    s.bind(8, account.Kind == kBankKind ? account.BankName : std::string());
    s.run();
    t.commit();
}

void editAccount(Database& db, const std::string& actor, const AccountInfo& account) {
    Transaction t(db);
    requireAdministrator(db, actor);
    AccountInfo stored = existingAccount(db, account.SetCode, account.Code);
    if (account.Kind != stored.Kind && accountHasRows(db, account.SetCode, account.Code))
        throw StoreError("账户 " + account.Code + " 已有记录，不能改变类别。");
    checkAccount(db, account);
    Stmt s = db.prepare(
        "UPDATE bank_accounts SET account_no = ?, name = ?, kind = ?, subject_code = ?, "
        "bank_name = ? WHERE set_code = ? AND as_code = ?");
    s.bind(1, account.AccountNo).bind(2, account.Name).bind(3, account.Kind);
    s.bind(4, account.SubjectCode.empty() ? account.Code : account.SubjectCode);
    s.bind(5, account.Kind == kBankKind ? account.BankName : std::string());
    s.bind(6, account.SetCode).bind(7, account.Code);
    s.run();
    t.commit();
}

void setAccountInUse(Database& db, const std::string& actor, const std::string& setCode,
                     const std::string& code, bool inUse) {
    Transaction t(db);
    requireAdministrator(db, actor);
    AccountInfo stored = existingAccount(db, setCode, code);
    if (stored.InUse == inUse)
        throw StoreError("账户 " + code + (inUse ? " 已在使用中。" : " 已经停用。"));
    Stmt s = db.prepare("UPDATE bank_accounts SET state = ? WHERE set_code = ? AND as_code = ?");
    s.bind(1, inUse ? kAccountInUse : kAccountStopped).bind(2, setCode).bind(3, code);
    s.run();
    t.commit();
}

void deleteAccount(Database& db, const std::string& actor, const std::string& setCode,
                   const std::string& code) {
    Transaction t(db);
    requireAdministrator(db, actor);
    existingAccount(db, setCode, code);
    if (accountHasRows(db, setCode, code))
        throw StoreError("账户 " + code + " 已有记录，不能删除，只能停用。");
    for (const char* table : {"reconcile_opening_items", "reconcile_openings", "bank_accounts"}) {
        Stmt s =
            db.prepare(std::string("DELETE FROM ") + table + " WHERE set_code = ? AND as_code = ?");
        s.bind(1, setCode).bind(2, code);
        s.run();
    }
    t.commit();
}

}  // namespace ledgerhost
