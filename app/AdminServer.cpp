// chuna-admin grant / upgrade: the rights of a role on a ledger kept on a
// database server (host/store/ServerRoles.h), and bringing an older ledger up
// to this program's version (which its owner does).
#include <iostream>

#include "AdminCommands.h"
#include "ServerRoles.h"
#include "Store.h"

using namespace ledgerhost;

int admin::grant(const Args& args) {
    const auto line = signingOptions("grant", args, {"--db", "--role", "--as"});
    if (!line) return 2;
    const std::vector<std::string> v{line->value("--db"), line->value("--role"),
                                     line->value("--as")};
    ServerRole kind{};
    if (v[0].empty() || v[1].empty() || !serverRoleFromName(v[2], kind)) {
        std::cerr << "chuna-admin grant: 需要 --db 数据库服务器上的账套、--role 角色名 和 "
                     "--as cashier|reader|admin。\n";
        return 2;
    }
    if (Database::isServerLocation(v[0]) && !signedInAdministrator("grant", v[0], *line)) return 1;
    try {
        const std::vector<std::string> done = grantServerRole(v[0], v[1], kind);
        std::cout << "已授予角色 " << v[1] << "（" << v[2] << "）在 "
                  << Database::displayLocation(v[0]) << " 上的权限：\n";
        for (const std::string& line : done) std::cout << "  " << line << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin grant: " << withoutPassword(e.what(), v[0]) << "\n";
        return 1;
    }
}

int admin::upgrade(const Args& args) {
    const auto line = signingOptions("upgrade", args, {"--db"});
    if (!line) return 2;
    const std::vector<std::string> v{line->value("--db")};
    if (v[0].empty()) {
        std::cerr << "chuna-admin upgrade: 需要 --db 账套数据库。\n";
        return 2;
    }
    try {
        // Opening brings an older ledger up to this program's version, in one
        // transaction; an administrator of an older file without a password
        // yet may do it before choosing one.
        Database db(v[0]);
        if (!signedInAdministrator("upgrade", db, *line, true)) return 1;
        std::cout << "账套数据库 " << db.path() << " 的版本为 " << db.schemaVersion()
                  << "（本程序的版本）。\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin upgrade: " << withoutPassword(e.what(), v[0]) << "\n";
        return 1;
    }
}
