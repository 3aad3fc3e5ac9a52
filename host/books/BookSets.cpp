#include "BookSets.h"

#include "OfficeRules.h"
#include "Passwords.h"
#include "Users.h"

namespace ledgerhost {

using office::checkCode;
using office::checkName;
using office::existingBookSet;

namespace {

void checkYearAndMonth(int year, int month) {
    if (year < 1900 || year > 9999) throw StoreError("会计年度应在 1900 到 9999 之间。");
    if (month < 1 || month > 12) throw StoreError("启用期间的月份应在 1 到 12 之间。");
}

// The managing book set named must exist and manage no further up, so a
// book set's rows find their accounts in at most two places.
void checkManagingSet(Database& db, const std::string& code, const std::string& manager) {
    if (manager.empty()) return;
    if (manager == code) throw StoreError("账套不能管理自己。");
    TBookSet m = existingBookSet(db, manager);
    if (!m.ManageSetCode.empty())
        throw StoreError("账套 " + manager + " 本身由账套 " + m.ManageSetCode +
                         " 管理，不能再管理其他账套。");
    Stmt s = db.prepare("SELECT 1 FROM book_sets WHERE manage_set_code = ?");
    s.bind(1, code);
    if (s.step()) throw StoreError("账套 " + code + " 管理着其他账套，不能再由其他账套管理。");
}

// A book set's managing indicator follows whether another names it.
void refreshManaging(Database& db, const std::string& code) {
    if (code.empty()) return;
    Stmt s = db.prepare(
        "UPDATE book_sets SET manage_flag = CASE WHEN EXISTS (SELECT 1 FROM book_sets m WHERE "
        "m.manage_set_code = ?1) THEN 1 ELSE 0 END WHERE code = ?1");
    s.bind(1, code);
    s.run();
}

bool exists(Database& db, const char* sql, const std::string& code) {
    Stmt s = db.prepare(sql);
    s.bind(1, code);
    return s.step();
}

}  // namespace

std::vector<BookSetInfo> listBookSets(Database& db) {
    std::vector<BookSetInfo> out;
    Stmt s = db.prepare(
        "SELECT code, name, year, start_month, manage_set_code, manage_flag, init_confirmed, "
        "entry_locked, closed FROM book_sets ORDER BY code");
    while (s.step())
        out.push_back({s.text(0), s.text(1), s.i32(2), s.i32(3), s.text(4), s.i32(5) != 0,
                       s.i32(6) != 0, s.i32(7) != 0, s.i32(8) != 0});
    return out;
}

void addBookSet(Database& db, const std::string& actor, const BookSetInfo& book) {
    Transaction t(db);
    requireAdministrator(db, actor);
    checkCode("账套", book.Code);
    checkName("账套", book.Name);
    checkYearAndMonth(book.Year, book.StartMonth);
    if (TBookSet::load(db, book.Code)) throw StoreError("账套编码 " + book.Code + " 已经存在。");
    checkManagingSet(db, book.Code, book.ManageSetCode);
    Stmt s = db.prepare(
        "INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, "
        "manage_flag, manage_set_code, start_month, closed) VALUES (?, ?, ?, ?, 0, 0, 0, ?, ?, 0)");
    s.bind(1, book.Code).bind(2, book.Code).bind(3, book.Year).bind(4, book.Name);
    s.bind(5, book.ManageSetCode).bind(6, book.StartMonth);
    s.run();
    Stmt option = db.prepare(
        "INSERT INTO book_set_options (set_code, name, value) VALUES (?, 'GLIDE_INPUT_MODE', "
        "'0')");
    option.bind(1, book.Code);
    option.run();
    refreshManaging(db, book.ManageSetCode);
    Stmt grant = db.prepare(
        "INSERT INTO user_book_sets (user_code, set_code, position) SELECT ?1, ?2, "
        "COALESCE(MAX(position), 0) + 1 FROM user_book_sets WHERE user_code = ?1");
    grant.bind(1, actor).bind(2, book.Code);
    grant.run();
    t.commit();
}

void editBookSet(Database& db, const std::string& actor, const BookSetInfo& book) {
    Transaction t(db);
    requireAdministrator(db, actor);
    checkName("账套", book.Name);
    TBookSet stored = existingBookSet(db, book.Code, true);
    if (book.Year != stored.Year || book.StartMonth != stored.StartMonth) {
        checkYearAndMonth(book.Year, book.StartMonth);
        if (stored.InitConfirmed)
            throw StoreError("账套 " + book.Code +
                             " 已完成出纳初始化，不能修改会计年度和启用期间。");
        if (office::bookSetHasRows(db, book.Code) || stored.StartYear != stored.Year)
            throw StoreError("账套 " + book.Code + " 已有记录，不能修改会计年度和启用期间。");
    }
    if (book.ManageSetCode != stored.ManageSetCode)
        checkManagingSet(db, book.Code, book.ManageSetCode);
    Stmt s = db.prepare(
        "UPDATE book_sets SET name = ?, year = ?, start_month = ?, manage_set_code = ? "
        "WHERE code = ?");
    s.bind(1, book.Name).bind(2, book.Year).bind(3, book.StartMonth).bind(4, book.ManageSetCode);
    s.bind(5, book.Code);
    s.run();
    refreshManaging(db, stored.ManageSetCode);
    refreshManaging(db, book.ManageSetCode);
    t.commit();
}

void setBookSetClosed(Database& db, const std::string& actor, const std::string& code,
                      bool closed) {
    Transaction t(db);
    requireAdministrator(db, actor);
    TBookSet stored = existingBookSet(db, code, true);
    if (stored.Closed == closed)
        throw StoreError("账套 " + code + (closed ? " 已经关闭。" : " 没有关闭。"));
    Stmt s = db.prepare("UPDATE book_sets SET closed = ? WHERE code = ?");
    s.bind(1, closed ? 1 : 0).bind(2, code);
    s.run();
    t.commit();
}

void deleteBookSet(Database& db, const std::string& actor, const std::string& code) {
    Transaction t(db);
    requireAdministrator(db, actor);
    TBookSet stored = existingBookSet(db, code, true);
    if (office::bookSetHasRows(db, code) ||
        exists(db, "SELECT 1 FROM vouchers WHERE set_code = ?", code) ||
        exists(db, "SELECT 1 FROM closed_years WHERE set_code = ?", code))
        throw StoreError("账套 " + code + " 已有记录，不能删除，只能关闭。");
    if (exists(db, "SELECT 1 FROM book_sets WHERE manage_set_code = ?", code))
        throw StoreError("账套 " + code + " 管理着其他账套，不能删除。");
    for (const char* table :
         {"reconcile_opening_items", "reconcile_openings", "reconcile_runs", "reconcile_groups",
          "import_log", "voucher_types", "bank_accounts", "user_book_sets", "book_set_options"}) {
        Stmt s = db.prepare(std::string("DELETE FROM ") + table + " WHERE set_code = ?");
        s.bind(1, code);
        s.run();
    }
    Stmt s = db.prepare("DELETE FROM book_sets WHERE code = ?");
    s.bind(1, code);
    s.run();
    refreshManaging(db, stored.ManageSetCode);
    t.commit();
}

void fillNewStore(Database& db, const std::string& adminCode, const std::string& adminName,
                  const std::string& adminPassword, const BookSetInfo& book) {
    checkCode("用户", adminCode);
    checkName("用户", adminName);
    if (std::string why = newPasswordProblem(adminPassword); !why.empty()) throw StoreError(why);
    const std::string hash = hashPassword(adminPassword);
    Transaction t(db);
    Stmt s =
        db.prepare("INSERT INTO users (code, name, is_admin, password_hash) VALUES (?, ?, 1, ?)");
    s.bind(1, adminCode).bind(2, adminName).bind(3, hash);
    s.run();
    if (!book.Code.empty()) addBookSet(db, adminCode, book);
    t.commit();
}

}  // namespace ledgerhost
