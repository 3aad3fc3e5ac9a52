#include "Users.h"

#include <set>

#include "OfficeRules.h"

namespace ledgerhost {

using office::checkCode;
using office::checkName;

namespace {

std::vector<std::string> bookSetsOf(Database& db, const std::string& user) {
    std::vector<std::string> out;
    Stmt s = db.prepare(
        "SELECT set_code FROM user_book_sets WHERE user_code = ? ORDER BY position, set_code");
    s.bind(1, user);
    while (s.step()) out.push_back(s.text(0));
    return out;
}

void writeBookSets(Database& db, const std::string& user, const std::vector<std::string>& sets) {
    std::set<std::string> seen;
    for (const std::string& set : sets) {
        office::existingBookSet(db, set, true);
        if (!seen.insert(set).second) throw StoreError("账套 " + set + " 列出了两次。");
    }
    Stmt drop = db.prepare("DELETE FROM user_book_sets WHERE user_code = ?");
    drop.bind(1, user);
    drop.run();
    Stmt add =
        db.prepare("INSERT INTO user_book_sets (user_code, set_code, position) VALUES (?, ?, ?)");
    int position = 0;
    for (const std::string& set : sets) {
        add.reset();
        add.bind(1, user).bind(2, set).bind(3, ++position);
        add.run();
    }
}

std::int64_t administrators(Database& db) {
    Stmt s = db.prepare("SELECT COUNT(*) FROM users WHERE is_admin = 1");
    s.step();
    return s.i64(0);
}

}  // namespace

std::vector<UserInfo> listUsers(Database& db) {
    std::vector<UserInfo> out;
    Stmt s = db.prepare("SELECT code, name, is_admin FROM users ORDER BY code");
    while (s.step()) out.push_back({s.text(0), s.text(1), s.i32(2) != 0, {}});
    for (UserInfo& u : out) u.BookSets = bookSetsOf(db, u.Code);
    return out;
}

std::optional<UserInfo> findUser(Database& db, const std::string& code) {
    Stmt s = db.prepare("SELECT code, name, is_admin FROM users WHERE code = ?");
    s.bind(1, code);
    if (!s.step()) return std::nullopt;
    UserInfo u{s.text(0), s.text(1), s.i32(2) != 0, {}};
    u.BookSets = bookSetsOf(db, u.Code);
    return u;
}

bool isAdministrator(Database& db, const std::string& code) {
    Stmt s = db.prepare("SELECT is_admin FROM users WHERE code = ?");
    s.bind(1, code);
    return s.step() && s.i32(0) != 0;
}

void requireAdministrator(Database& db, const std::string& actor) {
    if (!isAdministrator(db, actor)) throw StoreError("用户 " + actor + " 没有系统管理权限。");
}

void addUser(Database& db, const std::string& actor, const UserInfo& user) {
    Transaction t(db);
    requireAdministrator(db, actor);
    checkCode("用户", user.Code);
    checkName("用户", user.Name);
    if (findUser(db, user.Code)) throw StoreError("用户编码 " + user.Code + " 已经存在。");
    Stmt s = db.prepare("INSERT INTO users (code, name, is_admin) VALUES (?, ?, ?)");
    s.bind(1, user.Code).bind(2, user.Name).bind(3, user.Administrator ? 1 : 0);
    s.run();
    writeBookSets(db, user.Code, user.BookSets);
    t.commit();
}

void editUser(Database& db, const std::string& actor, const UserInfo& user) {
    Transaction t(db);
    requireAdministrator(db, actor);
    checkName("用户", user.Name);
    auto stored = findUser(db, user.Code);
    if (!stored) throw StoreError("用户 " + user.Code + " 不存在。");
    if (stored->Administrator && !user.Administrator && administrators(db) == 1)
        throw StoreError("用户 " + user.Code + " 是唯一的系统管理员，不能取消其系统管理权限。");
    Stmt s = db.prepare("UPDATE users SET name = ?, is_admin = ? WHERE code = ?");
    s.bind(1, user.Name).bind(2, user.Administrator ? 1 : 0).bind(3, user.Code);
    s.run();
    t.commit();
}

void grantBookSets(Database& db, const std::string& actor, const std::string& code,
                   const std::vector<std::string>& bookSets) {
    Transaction t(db);
    requireAdministrator(db, actor);
    if (!findUser(db, code)) throw StoreError("用户 " + code + " 不存在。");
    writeBookSets(db, code, bookSets);
    t.commit();
}

}  // namespace ledgerhost
