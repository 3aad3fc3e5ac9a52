#include "Copy.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <optional>

#include "Store.h"

namespace ledgerhost {

namespace {

struct Column {
    std::string name;
    enum Kind { Integer, Real, Text } kind = Text;
};

struct Table {
    std::string name;
    std::vector<Column> columns;
    std::vector<std::string> parents;  // tables its foreign keys name
    bool hasId = false;                // an integer column "id" (a row counter)
    std::int64_t sourceCounter = 0;    // the source's AUTOINCREMENT counter
};

using Figures = TableFigures;

Column::Kind kindOf(std::string type) {
    std::transform(type.begin(), type.end(), type.begin(), ::toupper);
    if (type.find("INT") != std::string::npos) return Column::Integer;
    if (type.find("REAL") != std::string::npos || type.find("FLOA") != std::string::npos ||
        type.find("DOUB") != std::string::npos)
        return Column::Real;
    return Column::Text;
}

bool isAmountColumn(const std::string& name) {
    return name.size() >= 5 && name.compare(name.size() - 5, 5, "cents") == 0;
}

// The ledger's tables of a SQLite file, parents before the tables that name
// them.
std::vector<Table> sourceTables(Database& src) {
    std::map<std::string, Table> byName;
    Stmt list = src.prepare(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
        "ORDER BY name");
    while (list.step()) byName[list.text(0)].name = list.text(0);
    std::map<std::string, std::int64_t> counters;
    {
        Stmt has = src.prepare("SELECT 1 FROM sqlite_master WHERE name = 'sqlite_sequence'");
        if (has.step()) {
            Stmt seq = src.prepare("SELECT name, seq FROM sqlite_sequence");
            while (seq.step()) counters[seq.text(0)] = seq.i64(1);
        }
    }
    for (auto& [name, t] : byName) {
        Stmt cols = src.prepare("PRAGMA table_info(\"" + name + "\")");
        while (cols.step()) {
            Column c{cols.text(1), kindOf(cols.text(2))};
            if (c.name == "id" && c.kind == Column::Integer) t.hasId = true;
            t.columns.push_back(c);
        }
        Stmt keys = src.prepare("PRAGMA foreign_key_list(\"" + name + "\")");
        while (keys.step())
            if (keys.text(2) != name) t.parents.push_back(keys.text(2));
        if (auto it = counters.find(name); it != counters.end()) t.sourceCounter = it->second;
    }
    std::vector<Table> ordered;
    std::set<std::string> placed;
    while (ordered.size() < byName.size()) {
        bool progress = false;
        for (auto& [name, t] : byName) {
            if (placed.count(name)) continue;
            const bool ready = std::all_of(t.parents.begin(), t.parents.end(), [&](auto& p) {
                return placed.count(p) || !byName.count(p);
            });
            if (!ready) continue;
            ordered.push_back(t);
            placed.insert(name);
            progress = true;
        }
        if (!progress) throw StoreError("数据表的外键互相引用，无法确定复制顺序。");
    }
    return ordered;
}

Figures figures(Database& db, const Table& t) {
    std::string sql = "SELECT COUNT(*)";
    for (const Column& c : t.columns)
        if (isAmountColumn(c.name)) sql += ", CAST(COALESCE(SUM(" + c.name + "), 0) AS BIGINT)";
    Stmt s = db.prepare(sql + " FROM " + t.name);
    Figures f;
    if (!s.step()) throw StoreError("无法读取数据表 " + t.name + " 的行数。");
    f.rows = s.i64(0);
    int i = 1;
    for (const Column& c : t.columns)
        if (isAmountColumn(c.name)) f.sums.emplace_back(c.name, s.i64(i++));
    return f;
}

std::int64_t copyRows(Database& src, Database& dst, const Table& t) {
    std::string names;
    std::vector<std::string> columns;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        names += (i ? ", " : "") + t.columns[i].name;
        columns.push_back(t.columns[i].name);
    }
    Stmt read = src.prepare("SELECT " + names + " FROM " + t.name);
    BulkInsert write(dst, t.name, columns);
    while (read.step()) {
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            const int col = static_cast<int>(i);
            if (read.isNull(col))
                write.addNull();
            else if (t.columns[i].kind == Column::Integer)
                write.add(read.i64(col));
            else if (t.columns[i].kind == Column::Real)
                write.add(read.dbl(col));
            else
                write.add(read.textView(col));
        }
        write.endRow();
    }
    return write.finish();
}

// Moves the target's id counter of `t` past the copied ids and the source's
// own counter.
void moveCounter(Database& dst, const Table& t, bool server) {
    if (!t.hasId) return;
    std::int64_t top = t.sourceCounter;
    {
        Stmt s = dst.prepare("SELECT COALESCE(MAX(id), 0) FROM " + t.name);
        if (s.step()) top = std::max(top, s.i64(0));
    }
    if (server) {
        // An identity or serial column has a sequence; a plain integer key
        // has none and needs nothing.
        Stmt seq = dst.prepare("SELECT pg_get_serial_sequence(?1, 'id')");
        seq.bind(1, t.name);
        if (!seq.step() || seq.isNull(0)) return;
        std::string name;
        for (char ch : seq.text(0)) name += ch == '\'' ? std::string("''") : std::string(1, ch);
        Stmt set = dst.prepare("SELECT setval('" + name + "', " +
                               std::to_string(std::max<std::int64_t>(top, 1)) + ", " +
                               (top > 0 ? "true" : "false") + ")");
        set.step();
    } else if (t.sourceCounter > 0) {
        Stmt set = dst.prepare("UPDATE sqlite_sequence SET seq = ?1 WHERE name = ?2");
        set.bind(1, top).bind(2, t.name).run();
        if (dst.changes() == 0) {
            Stmt add = dst.prepare("INSERT INTO sqlite_sequence (name, seq) VALUES (?1, ?2)");
            add.bind(1, t.name).bind(2, top).run();
        }
    }
}

// Copies every table in one transaction of `dst`; refuses a target with rows,
// and stores nothing when the copy differs from the source.
void copyInto(Database& src, const std::vector<Table>& tables, Database& dst,
              const std::string& shown, bool server) {
    if (dst.schemaVersion() != src.schemaVersion())
        throw StoreError("目标数据库 " + shown + " 的版本（" + std::to_string(dst.schemaVersion()) +
                         "）与来源（" + std::to_string(src.schemaVersion()) + "）不同，没有复制。");
    Transaction tx(dst);
    for (const Table& t : tables) {
        if (figures(dst, t).rows != 0)
            throw StoreError("目标数据库 " + shown + " 不是空的（数据表 " + t.name +
                             " 已有数据），没有复制任何数据。");
    }
    for (const Table& t : tables) {
        copyRows(src, dst, t);
        moveCounter(dst, t, server);
    }
    // Checked before the commit too: a difference stores nothing.
    for (const Table& t : tables)
        if (!(figures(src, t) == figures(dst, t)))
            throw StoreError("复制后数据表 " + t.name + " 的行数或金额合计与来源不符，" +
                             "没有复制任何数据。");
    tx.commit();
}

}  // namespace

std::string describeFigures(const TableFigures& f) {
    std::string out = std::to_string(f.rows) + " 行";
    for (const auto& [name, cents] : f.sums) {
        const std::int64_t a = cents < 0 ? -cents : cents;
        std::string cs = std::to_string(a % 100);
        if (cs.size() < 2) cs = "0" + cs;
        out += "，" + name + " " + (cents < 0 ? "-" : "") + std::to_string(a / 100) + "." + cs;
    }
    return out;
}

std::vector<CopiedTable> copyDatabase(const std::string& from, const std::string& to) {
    const std::string shown = Database::displayLocation(to);
    try {
        if (Database::isServerLocation(from))
            throw StoreError("复制的来源必须是 SQLite 账套数据库文件：" +
                             Database::displayLocation(from));
        Database src(from);
        // One read snapshot of the source for the copy and both checks: a
        // program writing to the file meanwhile changes neither.
        src.beginRead();
        const std::vector<Table> tables = sourceTables(src);
        const bool server = Database::isServerLocation(to);
        // The schema and the rows in one transaction, into a database
        // without tables (a new file, or a server database with none).
        if (!createDatabaseFile(
                to, [&](Database& dst) { copyInto(src, tables, dst, shown, server); })) {
            throw StoreError(server ? "目标数据库 " + shown + " 不是空的（已有数据表），没有复制。"
                                    : "目标文件 " + to + " 已经存在，没有复制。请指定一个新文件。");
        }
        // And afterwards over a new connection: what is stored is what the
        // source holds.
        Database stored(to);
        std::vector<CopiedTable> out;
        for (const Table& t : tables) out.push_back({t.name, figures(src, t), figures(stored, t)});
        return out;
    } catch (const std::exception& e) {
        throw StoreError(withoutPassword(withoutPassword(e.what(), to), from));
    }
}

// ---- backup and restore of a server database ----
//
// A server's backup is a SQLite ledger file holding every table of the
// ledger (the format a file backup has, so the same checks and the same
// restore read it): one read snapshot of the server copied into a new file
// that appears whole or not at all and never replaces a file. A restore
// copies the backup into a new schema of the server database, checks it, and
// then swaps the schemas in one transaction: the replaced tables stay, whole,
// in a schema with a dated name.

namespace {

// The server's id counter of `table` (the last id its sequence gave), 0 when
// it has none.
std::int64_t serverCounter(Database& src, const std::string& table) {
    Stmt seq = src.prepare("SELECT pg_get_serial_sequence(?1, 'id')");
    seq.bind(1, table);
    if (!seq.step() || seq.isNull(0)) return 0;
    Stmt last = src.prepare("SELECT last_value, is_called FROM " + seq.text(0));
    if (!last.step()) return 0;
    const std::int64_t v = last.i64(0);
    return last.text(1) == "t" || last.text(1) == "true" || last.text(1) == "1" ? v : v - 1;
}

std::string quotedName(const std::string& name) {
    std::string out = "\"";
    for (char ch : name) out += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return out + "\"";
}

// The name the restore's own connections give the server, so that the check
// for other programs passes over them (one that has just closed may still be
// listed for a moment).
const char* const kRestoreApp = "chuna-admin-restore";

// `location` with its search path set to `schema` (libpq's options), acting
// as `role` when one is named (so what it makes belongs to that role), named
// as the restore's own.
std::string inSchema(const std::string& location, const std::string& schema,
                     const std::string& role) {
    if (location.find("options") != std::string::npos)
        throw StoreError(
            "连接串中已有 options 参数，无法在新的模式中恢复；请去掉 options 后再试。");
    const bool uri =
        location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
    std::string options = uri ? "-csearch_path%3D" + schema : "-csearch_path=" + schema;
    if (!role.empty()) options += uri ? "%20-crole%3D" + role : " -crole=" + role;
    if (uri)
        return location + (location.find('?') == std::string::npos ? "?" : "&") +
               "application_name=" + kRestoreApp + "&options=" + options;
    return location + " application_name=" + kRestoreApp + " options='" + options + "'";
}

// Gives the tables, sequences and schema of `fresh` the grants those of the
// same names in `current` have (the default privileges too), so that every
// role keeps its rights over the restored ledger.
void copyGrants(Database& db, const std::string& current, const std::string& fresh) {
    auto grantee = [](const std::string& name) {
        return name == "-" ? std::string("PUBLIC") : quotedName(name);
    };
    Stmt objects = db.prepare(
        "SELECT c.relname, CASE WHEN c.relkind = 'S' THEN 'SEQUENCE' ELSE 'TABLE' END, "
        "a.privilege_type, CASE WHEN a.grantee = 0 THEN '-' ELSE pg_get_userbyid(a.grantee) END "
        "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace, aclexplode(c.relacl) a "
        "WHERE n.nspname = ?1 AND c.relkind IN ('r', 'p', 'S', 'v') AND a.grantee <> c.relowner "
        "AND EXISTS (SELECT 1 FROM pg_class f JOIN pg_namespace fn ON fn.oid = f.relnamespace "
        "WHERE fn.nspname = ?2 AND f.relname = c.relname)");
    objects.bind(1, current).bind(2, fresh);
    std::vector<std::string> grants;
    while (objects.step())
        grants.push_back("GRANT " + objects.text(2) + " ON " + objects.text(1) + " " +
                         quotedName(fresh) + "." + quotedName(objects.text(0)) + " TO " +
                         grantee(objects.text(3)));
    Stmt schema = db.prepare(
        "SELECT a.privilege_type, CASE WHEN a.grantee = 0 THEN '-' ELSE "
        "pg_get_userbyid(a.grantee) END FROM pg_namespace n, aclexplode(n.nspacl) a "
        "WHERE n.nspname = ?1 AND a.grantee <> n.nspowner");
    schema.bind(1, current);
    while (schema.step())
        grants.push_back("GRANT " + schema.text(0) + " ON SCHEMA " + quotedName(fresh) + " TO " +
                         grantee(schema.text(1)));
    Stmt defaults = db.prepare(
        "SELECT pg_get_userbyid(d.defaclrole), CASE WHEN d.defaclobjtype = 'S' THEN 'SEQUENCES' "
        "ELSE 'TABLES' END, a.privilege_type, CASE WHEN a.grantee = 0 THEN '-' ELSE "
        "pg_get_userbyid(a.grantee) END FROM pg_default_acl d JOIN pg_namespace n "
        "ON n.oid = d.defaclnamespace, aclexplode(d.defaclacl) a "
        "WHERE n.nspname = ?1 AND d.defaclobjtype IN ('r', 'S')");
    defaults.bind(1, current);
    while (defaults.step())
        grants.push_back("ALTER DEFAULT PRIVILEGES FOR ROLE " + quotedName(defaults.text(0)) +
                         " IN SCHEMA " + quotedName(fresh) + " GRANT " + defaults.text(2) + " ON " +
                         defaults.text(1) + " TO " + grantee(defaults.text(3)));
    for (const std::string& g : grants) db.exec(g);
}

std::string stamp() {
    return QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss").toStdString();
}

}  // namespace

BackupResult backupServerDatabase(const std::string& location, const std::string& to) {
    try {
        Database src(location);
        src.beginRead();  // one snapshot for the copy and its checks
        std::vector<Table> tables;
        const bool made = createDatabaseFile(to, [&](Database& dst) {
            // The file's own tables (this program's schema, as the server's).
            tables = sourceTables(dst);
            for (Table& t : tables)
                if (t.hasId) t.sourceCounter = serverCounter(src, t.name);
            copyInto(src, tables, dst, to, false);
        });
        if (!made) throw StoreError("备份文件 " + to + " 已存在，没有覆盖。请另选一个文件名。");
        BackupResult result;
        result.path = to;
        result.tables = checkBackupFile(to, &result.schemaVersion);
        std::error_code ec;
        result.bytes = static_cast<std::int64_t>(std::filesystem::file_size(to, ec));
        return result;
    } catch (const std::exception& e) {
        throw StoreError(withoutPassword(e.what(), location));
    }
}

RestoreResult restoreServerDatabase(const std::string& from, const std::string& location) {
    const std::string shown = Database::displayLocation(location);
    std::optional<Database> db;
    std::string fresh;
    auto dropFresh = [&] {
        // Only the schema this restore made is ever dropped.
        if (!db || fresh.empty()) return;
        try {
            if (db->inTransaction()) db->exec("ROLLBACK");
            db->exec("DROP SCHEMA IF EXISTS " + quotedName(fresh) + " CASCADE");
        } catch (const std::exception&) {
        }
    };
    try {
        RestoreResult result;
        result.path = shown;
        result.tables = checkBackupFile(from, &result.schemaVersion);
        // The backup is read from a copy: opening a file brings an older one
        // up to this program's version, which must not touch the backup.
        QTemporaryDir work;
        const std::string copyPath = work.filePath("backup.db").toStdString();
        if (!work.isValid() ||
            !QFile::copy(QString::fromStdString(from), QString::fromStdString(copyPath)))
            throw StoreError("无法读取备份文件 " + from + "。");
        Database src(copyPath);
        src.beginRead();
        const std::vector<Table> tables = sourceTables(src);

        db.emplace(location);
        const std::string current = db->serverSchema();
        // The restored ledger belongs to whoever owns the one it replaces:
        // the schema to the schema's owner, the tables to the tables' owner.
        std::string schemaOwner, tableOwner = db->serverOwner(), me;
        {
            Stmt s = db->prepare(
                "SELECT pg_get_userbyid(nspowner), current_user FROM pg_namespace WHERE nspname = "
                "?1");
            s.bind(1, current);
            if (!s.step()) throw StoreError("无法确定账套所在的模式。");
            schemaOwner = s.text(0);
            me = s.text(1);
        }
        // Another client is connected. A connection just closed (this
        // restore's own, which filled the new schema) may still be listed
        // for a moment, so a client must stay listed for a second to count.
        auto othersConnected = [&] {
            for (int wait = 0;; ++wait) {
                Stmt s = db->prepare(
                    "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                    "AND pid <> pg_backend_pid() AND backend_type = 'client backend' "
                    "AND application_name <> '" +
                    std::string(kRestoreApp) + "'");
                if (!s.step() || s.i64(0) == 0) return false;
                if (wait == 20) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        };
        if (othersConnected())
            throw StoreError("数据库 " + shown +
                             " 正被其他程序连接（出纳窗口、导入或其他程序），没有恢复，"
                             "数据未作任何改动。请先关闭使用它的所有程序，再恢复。");
        const std::string when = stamp();
        fresh = "ledger_restore_" + when;
        const std::string kept = current + "_replaced_" + when;
        db->exec("CREATE SCHEMA " + quotedName(fresh) + " AUTHORIZATION " +
                 quotedName(schemaOwner));
        // The backup's rows into the new schema, made and checked in one
        // transaction of its own, as the tables' owner.
        const std::string there =
            inSchema(location, fresh, tableOwner.empty() || tableOwner == me ? "" : tableOwner);
        if (!createDatabaseFile(there,
                                [&](Database& dst) { copyInto(src, tables, dst, shown, true); }))
            throw StoreError("无法在数据库 " + shown + " 中建立恢复用的模式。");
        // The swap: one transaction, under the store's write lock, refused if
        // a program connected meanwhile.
        Transaction swap(*db);
        if (othersConnected())
            throw StoreError("数据库 " + shown + " 正被其他程序连接，没有恢复，数据未作任何改动。");
        copyGrants(*db, current, fresh);
        db->exec("ALTER SCHEMA " + quotedName(current) + " RENAME TO " + quotedName(kept) +
                 "; ALTER SCHEMA " + quotedName(fresh) + " RENAME TO " + quotedName(current));
        swap.commit();
        fresh.clear();
        result.replacedSchema = kept;
        return result;
    } catch (const std::exception& e) {
        dropFresh();
        throw StoreError(withoutPassword(e.what(), location));
    }
}

}  // namespace ledgerhost
