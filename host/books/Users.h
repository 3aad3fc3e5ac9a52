#pragma once

// Users and their rights: the book sets each may use, and who is an
// administrator (系统管理). Every change to the lists of a real office — here
// and in BookSets.h, Accounts.h, BaseData.h, CashierInit.h and
// CarryForward.h — is made by an administrator (`actor`), checked first, and
// runs in one write transaction; a refusal throws StoreError with the reason
// in Chinese and changes nothing. The windows and `chuna-admin` call the
// same functions.

#include <optional>
#include <string>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

struct LH_API UserInfo {
    std::string Code;
    std::string Name;
    bool Administrator = false;
    std::vector<std::string> BookSets;  // the book sets the user may use, in order
};

LH_API std::vector<UserInfo> listUsers(Database& db);
LH_API std::optional<UserInfo> findUser(Database& db, const std::string& code);
LH_API bool isAdministrator(Database& db, const std::string& code);
// Throws "用户 X 没有系统管理权限。" unless `actor` is an administrator.
LH_API void requireAdministrator(Database& db, const std::string& actor);

// A new user with the book sets listed (each must exist).
LH_API void addUser(Database& db, const std::string& actor, const UserInfo& user);
// The user's name and administrator flag (the code stays). The last
// administrator stays one.
LH_API void editUser(Database& db, const std::string& actor, const UserInfo& user);
// The book sets a user may use, in this order, replacing the list.
LH_API void grantBookSets(Database& db, const std::string& actor, const std::string& code,
                          const std::vector<std::string>& bookSets);

}  // namespace ledgerhost
