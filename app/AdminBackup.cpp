// chuna-admin backup / restore: a consistent, checked copy of a live
// book-set database, and its way back (host/store/Backup.h; a database on a
// server through host/store/Copy.h).
#include <iostream>

#include "AdminCommands.h"
#include "Backup.h"
#include "Copy.h"
#include "Store.h"

using namespace ledgerhost;

namespace admin {

namespace {

std::int64_t totalRows(const TableCounts& tables) {
    std::int64_t n = 0;
    for (const auto& t : tables) n += t.second;
    return n;
}

}  // namespace

int backup(const Args& args) {
    std::vector<std::string> v;
    if (!parseOptions("backup", args, {"--db", "--to"}, v)) return 2;
    if (v[0].empty() || v[1].empty()) {
        std::cerr << "chuna-admin backup: 需要 --db 账套数据库 和 --to 备份文件。\n";
        return 2;
    }
    try {
        const BackupResult r = backupDatabase(v[0], v[1]);
        std::cout << (Database::isServerLocation(v[0]) ? "已备份数据库服务器上的账套 "
                                                       : "已备份账套数据库 ")
                  << Database::displayLocation(v[0]) << " 到 " << r.path << "（" << r.tables.size()
                  << " 张表，" << totalRows(r.tables) << " 行，" << r.bytes
                  << " 字节），完整性检查通过。\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin backup: " << e.what() << "\n";
        return 1;
    }
}

int restore(const Args& args) {
    std::vector<std::string> v;
    if (!parseOptions("restore", args, {"--from", "--db"}, v)) return 2;
    if (v[0].empty() || v[1].empty()) {
        std::cerr << "chuna-admin restore: 需要 --from 备份文件 和 --db 账套数据库。\n";
        return 2;
    }
    try {
        const RestoreResult r = restoreDatabase(v[0], v[1]);
        std::cout << "已从备份 " << v[0] << " 恢复账套数据库 " << r.path << "（" << r.tables.size()
                  << " 张表，" << totalRows(r.tables) << " 行）。\n";
        if (!r.replacedPath.empty()) std::cout << "原数据库保留为 " << r.replacedPath << "。\n";
        if (!r.replacedSchema.empty())
            std::cout << "原数据保留在模式 " << r.replacedSchema << " 中。\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin restore: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace admin
