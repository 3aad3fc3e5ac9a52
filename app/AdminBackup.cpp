// chuna-admin backup / restore: a consistent, checked copy of a live
// book-set database, and its way back (host/store/Backup.h; a database on a
// server through host/store/Copy.h).
#include <QFile>
#include <QTemporaryDir>
#include <iostream>

#include "AdminCommands.h"
#include "Backup.h"
#include "Copy.h"
#include "Store.h"

using namespace ledgerhost;

namespace admin {

namespace {

// A restore replaces the database: an administrator of it signs in. Where
// there is none yet, an administrator of the backup signs in, on a copy of
// it (opening a file may bring it up to this version, and the backup itself
// stays as it was); an administrator of an older backup without a password
// chooses one at the first sign-in on the restored database.
bool signedInForRestore(const std::string& from, const std::string& target,
                        const cli::CommandLine& line) {
    try {
        if (!Database::isMissing(target)) return signedInAdministrator("restore", target, line);
        // A backup the restore would refuse is refused as the restore says.
        checkBackupFile(from);
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("backup.db"));
        if (!dir.isValid() || !QFile::copy(QString::fromStdString(from), copy))
            throw StoreError("无法读取备份文件 " + from + "。");
        Database db(copy.toStdString());
        return signedInAdministrator("restore", db, line, true);
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin restore: " << withoutPassword(e.what(), target) << "\n";
        return false;
    }
}

std::int64_t totalRows(const TableCounts& tables) {
    std::int64_t n = 0;
    for (const auto& t : tables) n += t.second;
    return n;
}

}  // namespace

int backup(const Args& args) {
    const auto line = signingOptions("backup", args, {"--db", "--to"});
    if (!line) return 2;
    const std::vector<std::string> v{line->value("--db"), line->value("--to")};
    if (v[0].empty() || v[1].empty()) {
        std::cerr << "chuna-admin backup: 需要 --db 账套数据库 和 --to 备份文件。\n";
        return 2;
    }
    if (!signedInAdministrator("backup", v[0], *line)) return 1;
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
    const auto line = signingOptions("restore", args, {"--from", "--db"});
    if (!line) return 2;
    const std::vector<std::string> v{line->value("--from"), line->value("--db")};
    if (v[0].empty() || v[1].empty()) {
        std::cerr << "chuna-admin restore: 需要 --from 备份文件 和 --db 账套数据库。\n";
        return 2;
    }
    if (!signedInForRestore(v[0], v[1], *line)) return 1;
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
