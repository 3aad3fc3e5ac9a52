#include "Backup.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>

#include "Copy.h"
#include "Store.h"
#include "Temporaries.h"

namespace ledgerhost {

namespace {

// What a SQLite failure means for the person who asked, with SQLite's text.
std::string sqliteText(int code, const std::string& detail) {
    std::string text;
    switch (code & 0xFF) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            text = "文件已损坏或不是 SQLite 数据库";
            break;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            text = "文件正被其他程序使用";
            break;
        case SQLITE_FULL:
            text = "磁盘已满";
            break;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            text = "没有写入权限";
            break;
        case SQLITE_CANTOPEN:
            text = "无法打开文件";
            break;
        case SQLITE_IOERR:
            text = "读写文件出错";
            break;
        default:
            text = "数据库错误";
    }
    return text + "（" + detail + "）";
}

std::string canonical(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p =
        std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    return ec ? path : p.string();
}

// True when `other` names the database file `db` or one of its side files.
bool isFileOf(const std::string& db, const std::string& other) {
    const std::string a = canonical(db);
    const std::string b = canonical(other);
    struct stat sa {};
    struct stat sb {};
    const bool both = ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0;
    for (const char* side : kStoreSideFiles) {
        if (b == a + side) return true;
        struct stat ss {};
        if (both && ::stat((a + side).c_str(), &ss) == 0 && ss.st_dev == sb.st_dev &&
            ss.st_ino == sb.st_ino)
            return true;
    }
    return false;
}

std::string folderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

// One connection of SQLite's own, outside the store: the copy works on files
// the store would refuse or change (a backup is never upgraded in place).
// Failures throw StoreError with `what` in front of the reason.
class Raw {
  public:
    Raw(const std::string& path, int flags, std::string what) : what_(std::move(what)) {
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
            const std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError(what_ + sqliteText(code, msg) + "。");
        }
        sqlite3_extended_result_codes(db_, 1);
    }
    ~Raw() { close(); }
    Raw(const Raw&) = delete;
    Raw& operator=(const Raw&) = delete;

    void close() {
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    sqlite3* get() const { return db_; }
    [[noreturn]] void fail() const {
        throw StoreError(what_ + sqliteText(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_)) +
                         "。");
    }
    void exec(const std::string& sql) {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) fail();
    }
    // Every row's first column as text.
    std::vector<std::string> column(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) fail();
        std::vector<std::string> out;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            out.emplace_back(p ? p : "");
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) fail();
        return out;
    }
    std::int64_t integer(const std::string& sql) {
        const auto values = column(sql);
        return values.empty() ? 0 : std::stoll(values.front());
    }

  private:
    sqlite3* db_ = nullptr;
    std::string what_;
};

// A read-only connection to a file in WAL mode leaves an empty -wal and a
// -shm beside it, which it may not remove; this removes those it made, once
// the connection is closed (declare it before the connection).
class ReaderSideFiles {
  public:
    explicit ReaderSideFiles(std::string path)
        : path_(std::move(path)),
          hadWal_(exists(path_ + "-wal")),
          hadShm_(exists(path_ + "-shm")) {}
    ~ReaderSideFiles() {
        struct stat st {};
        const std::string wal = path_ + "-wal";
        if (!hadWal_ && ::stat(wal.c_str(), &st) == 0 && st.st_size == 0) ::unlink(wal.c_str());
        if (!hadShm_ && !exists(wal)) ::unlink((path_ + "-shm").c_str());
    }
    ReaderSideFiles(const ReaderSideFiles&) = delete;
    ReaderSideFiles& operator=(const ReaderSideFiles&) = delete;

  private:
    static bool exists(const std::string& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0;
    }
    std::string path_;
    bool hadWal_, hadShm_;
};

std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// Every table of the ledger's in the file with its row count, by name
// (SQLite's own, such as sqlite_sequence, are not the ledger's: the integrity
// check covers them). Backup and restore report the same tables.
TableCounts countTables(Raw& db) {
    TableCounts out;
    for (const std::string& name :
         db.column("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                   "'sqlite\\_%' ESCAPE '\\' ORDER BY name"))
        out.emplace_back(name, db.integer("SELECT COUNT(*) FROM " + quoted(name)));
    return out;
}

// Empty when the file passes integrity_check; else the first problems found.
std::string integrityProblems(Raw& db) {
    const auto rows = db.column("PRAGMA integrity_check(20)");
    if (rows.size() == 1 && rows.front() == "ok") return {};
    std::string out;
    for (std::size_t i = 0; i < rows.size() && i < 3; ++i) out += (i ? "；" : "") + rows[i];
    return out.empty() ? std::string("没有结果") : out;
}

std::string countsDiffer(const TableCounts& expected, const TableCounts& actual) {
    for (const auto& [name, rows] : expected) {
        bool found = false;
        for (const auto& [n, r] : actual) {
            if (n != name) continue;
            found = true;
            if (r != rows)
                return "表 " + name + " 应有 " + std::to_string(rows) + " 行，实有 " +
                       std::to_string(r) + " 行";
        }
        if (!found) return "缺少表 " + name;
    }
    return {};
}

// Writes the file's data to the disk before it takes its name.
void syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void syncFolder(const std::string& path) {
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Gives `temp` the name `path` only if nothing has that name; answers the
// errno of the failure, 0 on success.
int linkNoReplace(const std::string& temp, const std::string& path) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // A file system without the no-replace rename: a hard link does the
        // same, failing when the name exists.
        if (::link(temp.c_str(), path.c_str()) == 0) {
            ::unlink(temp.c_str());
            return 0;
        }
        err = errno;
    }
    return err;
}

// Copies every page of `src` (inside the read transaction it may hold) into
// the empty database `dst`, in steps that report progress.
void copyPages(Raw& src, Raw& dst, const BackupProgress& progress) {
    sqlite3_backup* b = sqlite3_backup_init(dst.get(), "main", src.get(), "main");
    if (!b) dst.fail();
    int rc;
    do {
        rc = sqlite3_backup_step(b, 1024);
        if (progress) {
            const int total = sqlite3_backup_pagecount(b);
            progress(total - sqlite3_backup_remaining(b), total);
        }
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(20);
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE) {
        if (sqlite3_errcode(dst.get()) != SQLITE_OK) dst.fail();
        src.fail();
    }
    // A backup is one file: no WAL beside it, whatever mode the database had.
    dst.exec("PRAGMA synchronous = FULL");
    if (dst.column("PRAGMA journal_mode = DELETE") != std::vector<std::string>{"delete"})
        dst.fail();
}

std::string localStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H%M", &tm);
    return buf;
}

// Takes the database file away from every other program: leaving WAL mode
// needs the only connection to the file (every connection in WAL mode holds a
// shared lock for as long as it is open), and in exclusive locking mode the
// lock taken for the change is kept until the connection closes. The WAL is
// checkpointed into the file on the way, so the file holds every commit.
std::unique_ptr<Raw> lockForReplace(const std::string& dbPath) {
    const std::string what = "无法恢复账套数据库 " + dbPath + "：";
    const std::string notLedger = "文件 " + dbPath +
                                  " 不是账套数据库，没有用备份替换它，文件未作任何改动。"
                                  "请另选要恢复到的账套数据库文件。";
    // Another program's file is refused before SQLite opens it to write (a
    // connection's close would merge its write-ahead log and remove it).
    const FileMark mark = readFileMark(dbPath);
    if (mark.readable && (mark.pages == 0 || mark.applicationId != Database::kApplicationId))
        throw StoreError(notLedger);
    auto db = std::make_unique<Raw>(dbPath, SQLITE_OPEN_READWRITE, what);
    sqlite3_busy_timeout(db->get(), 1000);
    std::int64_t appId = 0;
    std::int64_t pages = 0;
    try {
        appId = db->integer("PRAGMA application_id");
        pages = db->integer("PRAGMA page_count");
    } catch (const StoreError& e) {
        throw StoreError(std::string(e.what()) + "该文件不是可替换的账套数据库，没有恢复。" +
                         "如要在此处恢复，请先把它移到别处。");
    }
    if (pages == 0 || static_cast<std::int32_t>(appId) != Database::kApplicationId)
        throw StoreError(notLedger);
    const std::string openElsewhere =
        "账套数据库 " + dbPath +
        " 正被其他程序打开（出纳窗口、导入或其他程序），没有恢复，文件未作任何改动。"
        "请先关闭使用它的所有程序，再恢复。";
    db->exec("PRAGMA locking_mode = EXCLUSIVE");
    std::vector<std::string> mode;
    try {
        mode = db->column("PRAGMA journal_mode = DELETE");
        // A file already out of WAL mode takes its exclusive lock here.
        db->exec("BEGIN EXCLUSIVE");
        db->exec("COMMIT");
    } catch (const StoreError&) {
        const int code = sqlite3_errcode(db->get()) & 0xFF;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) throw StoreError(openElsewhere);
        throw;
    }
    if (mode != std::vector<std::string>{"delete"}) throw StoreError(openElsewhere);
    return db;
}

// Gives the file `path` a second name beside it, "<name>.<date>T<time>.replaced"
// (with a number when that exists already); answers it.
std::string keepUnderDatedName(const std::string& path, const std::string& what) {
    const std::string stem = path + "." + localStamp();
    for (int n = 1; n < 100; ++n) {
        const std::string name =
            stem + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".replaced";
        if (::link(path.c_str(), name.c_str()) == 0) return name;
        if (errno != EEXIST) throw StoreError(what + "无法保留原数据库：" + systemReason(errno));
    }
    throw StoreError(what + "无法保留原数据库：同名的文件太多。");
}

}  // namespace

TableCounts checkBackupFile(const std::string& fromPath, int* schemaVersion) {
    const std::string what = "备份文件 " + fromPath + " ";
    const std::string tail = "，没有恢复，账套数据库未作任何改动。";
    struct stat st {};
    if (::stat(fromPath.c_str(), &st) != 0)
        throw StoreError("无法读取备份文件 " + fromPath + "：" + systemReason(errno));
    if (S_ISDIR(st.st_mode)) throw StoreError(what + "是一个文件夹" + tail);
    if (const FileMark mark = readFileMark(fromPath);
        mark.readable && mark.pages > 0 && mark.applicationId != Database::kApplicationId)
        throw StoreError(
            what + "不是账套数据库的备份（" +
            (mark.applicationId ? "这是其他程序的数据库文件" : "没有账套数据库的标记") + "）" +
            tail);
    ReaderSideFiles sideFiles(fromPath);
    Raw db(fromPath, SQLITE_OPEN_READONLY, "无法读取备份文件 " + fromPath + "：");
    std::int64_t appId = 0;
    std::int64_t pages = 0;
    int version = 0;
    try {
        appId = db.integer("PRAGMA application_id");
        pages = db.integer("PRAGMA page_count");
        version = static_cast<int>(db.integer("PRAGMA user_version"));
    } catch (const StoreError& e) {
        throw StoreError(what + "已损坏或不是账套数据库的备份（" + e.what() + "）" + tail);
    }
    if (pages == 0) throw StoreError(what + "不是账套数据库的备份（文件是空的）" + tail);
    if (static_cast<std::int32_t>(appId) != Database::kApplicationId)
        throw StoreError(what + "不是账套数据库的备份（" +
                         (appId ? "这是其他程序的数据库文件" : "没有账套数据库的标记") + "）" +
                         tail);
    if (version > Database::kSchemaVersion)
        throw StoreError(what + "的版本（" + std::to_string(version) +
                         "）比本程序新，请升级程序后再恢复" + tail);
    if (version <= 0) throw StoreError(what + "不是账套数据库的备份（没有账套数据表）" + tail);
    TableCounts counts;
    try {
        const std::string problems = integrityProblems(db);
        if (!problems.empty())
            throw StoreError(what + "已损坏（完整性检查：" + problems + "）" + tail);
        counts = countTables(db);
    } catch (const StoreError& e) {
        const std::string text = e.what();
        if (text.rfind(what, 0) == 0) throw;
        throw StoreError(what + "已损坏（" + text + "）" + tail);
    }
    if (schemaVersion) *schemaVersion = version;
    return counts;
}

BackupResult backupDatabase(const std::string& dbPath, const std::string& toPath,
                            const BackupProgress& progress) {
    if (Database::isServerLocation(dbPath)) return backupServerDatabase(dbPath, toPath);
    const std::string what = "无法备份账套数据库 " + dbPath + "：";
    if (toPath.empty()) throw StoreError(what + "没有指定备份文件。");
    struct stat st {};
    if (::stat(dbPath.c_str(), &st) != 0) throw StoreError(what + systemReason(errno));
    if (S_ISDIR(st.st_mode)) throw StoreError(what + "这是一个文件夹。");
    if (isFileOf(dbPath, toPath) || isStoreFile(toPath))
        throw StoreError(what + "备份文件不能是账套数据库自己的文件（" + toPath + "）。");
    struct stat existing {};
    if (::lstat(toPath.c_str(), &existing) == 0)
        throw StoreError(what + "备份文件 " + toPath + " 已存在，没有覆盖。请另选一个文件名。");
    struct stat folder {};
    if (::stat(folderOf(toPath).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        throw StoreError(what + "文件夹 " + folderOf(toPath) + " 不存在。");

    const std::string notLedger = "文件 " + dbPath + " 不是账套数据库（";
    // Another program's file is refused before SQLite opens it to write (a
    // connection's close would merge its write-ahead log and remove it). The
    // database open in this process is the ledger's own.
    if (!isStoreFile(dbPath)) {
        const FileMark mark = readFileMark(dbPath);
        if (mark.readable && mark.pages > 0 && mark.applicationId != Database::kApplicationId)
            throw StoreError(
                notLedger +
                (mark.applicationId ? "这是其他程序的数据库文件" : "没有账套数据库的标记") +
                "），没有备份。");
    }
    Raw src(dbPath, SQLITE_OPEN_READWRITE, what);
    sqlite3_busy_timeout(src.get(), Database::kDefaultBusyTimeoutMs);
    // One read transaction: the checks, the counts and every copied page
    // come from one snapshot. In WAL mode writers go on meanwhile.
    src.exec("BEGIN");
    std::int64_t appId = 0;
    std::int64_t pages = 0;
    int version = 0;
    try {
        appId = src.integer("PRAGMA application_id");
        pages = src.integer("PRAGMA page_count");
        version = static_cast<int>(src.integer("PRAGMA user_version"));
    } catch (const StoreError& e) {
        throw StoreError(std::string(e.what()) + "该文件不是账套数据库，没有备份。");
    }
    if (pages == 0) throw StoreError(notLedger + "文件是空的），没有备份。");
    if (static_cast<std::int32_t>(appId) != Database::kApplicationId || version <= 0)
        throw StoreError(notLedger +
                         (appId && static_cast<std::int32_t>(appId) != Database::kApplicationId
                              ? "这是其他程序的数据库文件"
                              : "没有账套数据库的标记") +
                         "），没有备份。");
    BackupResult result;
    result.schemaVersion = version;
    result.tables = countTables(src);

    HeldTemporary held(toPath, "backup", st.st_mode & 0666, what);
    const std::string& temp = held.name();
    {
        {
            Raw dst(temp, SQLITE_OPEN_READWRITE, what);
            copyPages(src, dst, progress);
            src.exec("COMMIT");
            src.close();
            const std::string problems = integrityProblems(dst);
            std::string wrong;
            if (!problems.empty())
                wrong = "完整性检查：" + problems;
            else if (static_cast<std::int32_t>(dst.integer("PRAGMA application_id")) !=
                     Database::kApplicationId)
                wrong = "没有账套数据库的标记";
            else if (dst.integer("PRAGMA user_version") != version)
                wrong = "版本不符";
            else
                wrong = countsDiffer(result.tables, countTables(dst));
            if (!wrong.empty())
                throw StoreError(what + "备份的副本校验失败（" + wrong + "），没有留下备份文件。");
        }
        syncFile(temp);
        const int err = linkNoReplace(temp, toPath);
        if (err == EEXIST)
            throw StoreError(what + "备份文件 " + toPath + " 已存在，没有覆盖。请另选一个文件名。");
        if (err != 0) throw StoreError(what + systemReason(err));
        held.kept();
        syncFolder(toPath);
    }
    result.path = toPath;
    struct stat made {};
    if (::stat(toPath.c_str(), &made) == 0) result.bytes = made.st_size;
    return result;
}

RestoreResult restoreDatabase(const std::string& fromPath, const std::string& named) {
    if (Database::isServerLocation(named)) return restoreServerDatabase(fromPath, named);
    // A database reached through a symbolic link is restored where the link
    // points; the link stays as it is.
    std::string dbPath = named;
    struct stat link {};
    if (::lstat(named.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code ec;
        const auto target = std::filesystem::canonical(named, ec);
        if (ec)
            throw StoreError("无法恢复账套数据库 " + named +
                             "：这是一个符号链接，它指向的文件不存在（" + systemReason(ec.value()) +
                             "），没有恢复。请指定账套数据库文件本身。");
        dbPath = target.string();
    }
    const std::string what = "无法恢复账套数据库 " + dbPath + "：";
    if (isFileOf(dbPath, fromPath))
        throw StoreError(what + "备份文件不能是账套数据库自己的文件（" + fromPath + "）。");
    RestoreResult result;
    result.tables = checkBackupFile(fromPath, &result.schemaVersion);

    struct stat folder {};
    if (::stat(folderOf(dbPath).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        throw StoreError(what + "文件夹 " + folderOf(dbPath) + " 不存在。");
    struct stat old {};
    const bool replacing = ::lstat(dbPath.c_str(), &old) == 0;
    if (replacing && S_ISDIR(old.st_mode)) throw StoreError(what + "这是一个文件夹。");
    // Held from here until the restored copy has the name: other programs
    // learn that a restore runs (and stale temporaries of a killed restore
    // go first).
    HeldTemporary held(dbPath, "restore", replacing ? (old.st_mode & 0666) : 0644, what, true);
    const std::string& temp = held.name();
    // Held until the new file has the name: no program opens the old one
    // meanwhile, and its WAL is in the file.
    std::unique_ptr<Raw> lock = replacing ? lockForReplace(dbPath) : nullptr;
    try {
        {
            ReaderSideFiles sideFiles(fromPath);
            Raw src(fromPath, SQLITE_OPEN_READONLY, "无法读取备份文件 " + fromPath + "：");
            Raw dst(temp, SQLITE_OPEN_READWRITE, what);
            copyPages(src, dst, {});
        }
        {
            // The copy opens as the programs will open it: complete, brought
            // up to this program's schema, whole, every row there. What it
            // lacks, the backup lacks.
            std::optional<Database> check;
            try {
                check.emplace(temp);
            } catch (const StoreError& e) {
                std::string reason = e.what();
                static const std::string incomplete = " 不完整，";
                if (const auto p = reason.find(incomplete); p != std::string::npos) {
                    const auto from = p + incomplete.size();
                    const auto end = reason.find("，没有打开", from);
                    reason = reason.substr(from, end == std::string::npos ? end : end - from);
                }
                throw StoreError(what + "备份文件 " + fromPath + " 不完整（" + reason +
                                 "），没有恢复，账套数据库未作任何改动。");
            }
            check.reset();
            Raw copy(temp, SQLITE_OPEN_READWRITE, what);
            const std::string problems = integrityProblems(copy);
            std::string wrong = problems.empty() ? countsDiffer(result.tables, countTables(copy))
                                                 : "完整性检查：" + problems;
            if (!wrong.empty())
                throw StoreError(what + "恢复的副本校验失败（" + wrong +
                                 "），账套数据库未作任何改动。");
        }
        // The restored file belongs to whoever owned the one it replaces (an
        // administrator restoring a user's book).
        if (replacing && ::chown(temp.c_str(), old.st_uid, old.st_gid) != 0) {
            // Without the right to change the owner it stays the restorer's.
        }
        syncFile(temp);
        if (replacing) {
            result.replacedPath = keepUnderDatedName(dbPath, what);
            if (::rename(temp.c_str(), dbPath.c_str()) != 0) {
                const int err = errno;
                ::unlink(result.replacedPath.c_str());
                throw StoreError(what + systemReason(err));
            }
        } else {
            const int err = linkNoReplace(temp, dbPath);
            if (err == EEXIST)
                throw StoreError(what + "恢复期间另一个程序在该位置创建了文件，没有恢复。");
            if (err != 0) throw StoreError(what + systemReason(err));
        }
        held.kept();
        syncFolder(dbPath);
    } catch (...) {
        // A refused restore leaves the database as it was: back in WAL mode.
        if (lock) {
            try {
                lock->exec("PRAGMA journal_mode = WAL");
            } catch (...) {
            }
        }
        throw;
    }
    lock.reset();
    result.path = dbPath;
    return result;
}

}  // namespace ledgerhost
