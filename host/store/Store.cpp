#include "Store.h"

#include "PgStore.h"
#include "Temporaries.h"
#include "Waits.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace ledgerhost {

seams::WaitHook& seams::waitHook() {
    static WaitHook h;
    return h;
}

// What a store operation that waits for another program's lock keeps.
struct Database::BusyState {
    int deadlineMs = Database::kDefaultBusyTimeoutMs;
    std::chrono::steady_clock::time_point start;
    bool waiting = false;
    sqlite3* db = nullptr;
    std::string path;  // the database file, for the check for a running restore
};

namespace {

// The wait of this thread that has not been reported as ended yet. A
// connection belongs to one thread at a time, so one slot per thread does.
thread_local Database::BusyState* tWaiting = nullptr;
// The lock this thread met is a restore's: the failure says so.
thread_local bool tRestoring = false;

// Reports the end of the wait of connection `db` (any, when null).
void endWait(sqlite3* db = nullptr) {
    Database::BusyState* b = tWaiting;
    if (!b || (db && b->db != db)) return;
    tWaiting = nullptr;
    b->waiting = false;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - b->start);
    if (const seams::WaitHook& hook = seams::waitHook())
        hook({false, static_cast<int>(waited.count()), b->deadlineMs});
}

// SQLite calls this while another connection holds the lock it needs: waits
// a little and answers 1 to try again, or 0 once the deadline has passed.
int onBusy(void* arg, int count) {
    auto* b = static_cast<Database::BusyState*>(arg);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0 || !b->waiting) {
        // A restore holds the file until it has put the backup in its place:
        // nothing to wait for.
        if (!b->path.empty() && restoreRunning(b->path)) {
            tRestoring = true;
            return 0;
        }
        b->start = now;
        b->waiting = true;
        tWaiting = b;
    }
    const int waited = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - b->start).count());
    if (waited >= b->deadlineMs) {
        endWait();
        return 0;
    }
    if (const seams::WaitHook& hook = seams::waitHook()) hook({true, waited, b->deadlineMs});
    // Short sleeps at first, so a brief lock costs little; at most 100 ms, so
    // the wait is reported often enough to keep a window painted.
    const int step = std::min({count < 5 ? 5 * (count + 1) : 100, 100, b->deadlineMs - waited});
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(step, 1)));
    return 1;
}

// The message for a failed SQLite call: what happened and what to do, in
// words a user understands, with SQLite's own text kept after it.
std::string describe(int code, const std::string& detail) {
    std::string text;
    if ((code & 0xFF) == SQLITE_BUSY && std::exchange(tRestoring, false))
        return "账套数据库正在从备份恢复，本次操作没有进行。请等恢复完成后再试。（详细信息：" +
               detail + "）";
    switch (code & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            text =
                "账套数据库正被其他程序使用，等待超时，本次操作没有保存。"
                "请等其他程序（例如正在进行的导入）完成后再试。";
            break;
        case SQLITE_FULL:
            text = "磁盘已满，账套数据库无法写入，本次操作没有保存。请腾出磁盘空间后再试。";
            break;
        case SQLITE_READONLY:
            text =
                "账套数据库是只读的，无法写入。"
                "请检查数据库文件及其所在文件夹的写入权限。";
            break;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            text = "账套数据库文件已损坏或不是账套数据库。请从备份恢复该文件。";
            break;
        case SQLITE_CANTOPEN:
            text = "无法打开账套数据库文件。请检查文件及其所在文件夹是否存在、能否读写。";
            break;
        case SQLITE_IOERR:
            text = "读写账套数据库时磁盘出错，本次操作没有保存。请检查磁盘后再试。";
            break;
        case SQLITE_PERM:
        case SQLITE_AUTH:
            text = "没有访问账套数据库的权限。";
            break;
        case SQLITE_NOMEM:
            text = "内存不足，本次操作没有完成。";
            break;
        default:
            return "数据库错误：" + detail;
    }
    return text + "（详细信息：" + detail + "）";
}

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    const int code = sqlite3_extended_errcode(db);
    const std::string detail = sqlite3_errmsg(db);
    switch (code & 0xFF) {
        case SQLITE_ERROR:
        case SQLITE_CONSTRAINT:
        case SQLITE_MISUSE:
        case SQLITE_RANGE:
            throw StoreError("数据库错误（" + what + "）：" + detail);
        default:
            throw StoreError(describe(code, detail));
    }
}

// ---- the files of the databases open in this process ----

std::mutex& openFilesMutex() {
    static std::mutex m;
    return m;
}
std::vector<std::string>& openFiles() {
    static std::vector<std::string> files;
    return files;
}

std::string canonicalName(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p =
        std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    return ec ? path : p.string();
}

}  // namespace

std::string systemReason(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
            return "没有权限。请检查文件及其所在文件夹的权限。";
        case EROFS:
            return "文件所在的磁盘是只读的。";
        case ENOSPC:
        case EDQUOT:
            return "磁盘已满。";
        case ENOENT:
            return "文件不存在。";
        default:
            return std::string("系统错误（") + std::strerror(err) + "）。";
    }
}

namespace {

// The journal tables share one layout. Amounts are integer cents; DateOrNo is
// the row's number within its book set, account and year. A row's account is
// its book set's own or its managing book set's, which a foreign key cannot
// express, so the account is checked where rows are written.
// Ids are never reused: a window may still hold a deleted row's id, and an
// update through it must find nothing rather than a newer row.
std::string journalTable(const std::string& name) {
    return "CREATE TABLE " + name + R"( (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    set_code TEXT NOT NULL,
    as_code TEXT NOT NULL,
    create_date TEXT NOT NULL,
    date_or_no INTEGER NOT NULL,
    summary TEXT NOT NULL DEFAULT '',
    deb_cents INTEGER NOT NULL DEFAULT 0,
    cre_cents INTEGER NOT NULL DEFAULT 0,
    pay_code TEXT NOT NULL DEFAULT '',
    pm_code TEXT NOT NULL DEFAULT '',
    cr_code TEXT NOT NULL DEFAULT '',
    dp_code TEXT NOT NULL DEFAULT '',
    remark TEXT NOT NULL DEFAULT '',
    apply_user TEXT NOT NULL DEFAULT '',
    voucher_id TEXT NOT NULL DEFAULT '0',
    voucher_class INTEGER NOT NULL DEFAULT 0,
    voucher_no REAL NOT NULL DEFAULT 0,
    glide_flag TEXT NOT NULL DEFAULT '',
    voucher_line_id INTEGER,
    reconciled INTEGER NOT NULL DEFAULT 0,
    FOREIGN KEY (set_code) REFERENCES book_sets(code)
);
CREATE INDEX )" +
           name + "_account_date ON " + name + R"((set_code, as_code, create_date, date_or_no);
CREATE INDEX )" +
           name + "_date ON " + name + R"((create_date, date_or_no);
CREATE UNIQUE INDEX )" +
           name + "_voucher_line ON " + name + R"((voucher_line_id)
    WHERE voucher_line_id IS NOT NULL;
)";
}

const char* kSchemaV1 = R"(
CREATE TABLE book_sets (
    code TEXT PRIMARY KEY,
    disp_code TEXT NOT NULL,
    year INTEGER NOT NULL,
    name TEXT NOT NULL,
    entry_locked INTEGER NOT NULL DEFAULT 0,
    init_confirmed INTEGER NOT NULL DEFAULT 0,
    manage_flag INTEGER NOT NULL DEFAULT 0,
    manage_set_code TEXT NOT NULL DEFAULT ''
);
CREATE TABLE book_set_options (
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    name TEXT NOT NULL,
    value TEXT NOT NULL,
    PRIMARY KEY (set_code, name)
);
CREATE TABLE users (
    code TEXT PRIMARY KEY,
    name TEXT NOT NULL
);
CREATE TABLE user_book_sets (
    user_code TEXT NOT NULL REFERENCES users(code),
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    position INTEGER NOT NULL,
    PRIMARY KEY (user_code, set_code)
);
CREATE TABLE bank_accounts (
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    as_code TEXT NOT NULL,
    account_no TEXT NOT NULL,
    name TEXT NOT NULL,
    kind INTEGER NOT NULL,
    state TEXT NOT NULL DEFAULT '1',
    opening_cents INTEGER NOT NULL DEFAULT 0,
    subject_code TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (set_code, as_code)
);
CREATE TABLE base_info (
    kind TEXT NOT NULL,
    in_code TEXT NOT NULL,
    code TEXT NOT NULL,
    name TEXT NOT NULL,
    position INTEGER NOT NULL,
    PRIMARY KEY (kind, in_code)
);
CREATE TABLE voucher_types (
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    id INTEGER NOT NULL,
    name TEXT NOT NULL,
    PRIMARY KEY (set_code, id)
);
CREATE TABLE vouchers (
    id INTEGER PRIMARY KEY,
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    vdate TEXT NOT NULL,
    voucher_class INTEGER NOT NULL,
    voucher_no INTEGER NOT NULL,
    maker TEXT NOT NULL DEFAULT ''
);
CREATE INDEX vouchers_number ON vouchers(set_code, voucher_class, voucher_no, vdate);
CREATE TABLE voucher_lines (
    id INTEGER PRIMARY KEY,
    voucher_id INTEGER NOT NULL REFERENCES vouchers(id) ON DELETE CASCADE,
    line_no INTEGER NOT NULL,
    subject_code TEXT NOT NULL,
    summary TEXT NOT NULL DEFAULT '',
    deb_cents INTEGER NOT NULL DEFAULT 0,
    cre_cents INTEGER NOT NULL DEFAULT 0,
    pm_code TEXT NOT NULL DEFAULT '',
    pay_code TEXT NOT NULL DEFAULT '',
    cr_code TEXT NOT NULL DEFAULT '',
    dp_code TEXT NOT NULL DEFAULT ''
);
CREATE INDEX voucher_lines_subject ON voucher_lines(subject_code);
CREATE TABLE summaries (
    code TEXT PRIMARY KEY,
    text TEXT NOT NULL
);
CREATE TABLE order_items (
    table_name TEXT NOT NULL,
    position INTEGER NOT NULL,
    field TEXT NOT NULL,
    caption TEXT NOT NULL,
    PRIMARY KEY (table_name, field)
);
)";

// Version 2: the log of imported files. One row per statement or wizard file
// imported into a book set, written in the transaction that stores its rows;
// the same content (SHA-256 of the file's bytes, hex) is in it at most once per
// book set, so an accidental second import is caught even when two start at once.
// And the column mapping last imported with, per layout of file captions.
const char* kImportLog = R"(
CREATE TABLE import_log (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    set_code TEXT NOT NULL,
    digest TEXT NOT NULL,
    file_name TEXT NOT NULL,
    accounts TEXT NOT NULL,
    row_count INTEGER NOT NULL,
    user_code TEXT NOT NULL,
    imported_at TEXT NOT NULL,
    UNIQUE (set_code, digest)
);
CREATE TABLE import_mappings (
    layout TEXT PRIMARY KEY,
    columns TEXT NOT NULL
);
)";

// Version 3: bank reconciliation. A match group ties journal rows to the
// statement rows (and opening items) they were ticked off against; a row's
// reconcile_group names its group and `reconciled` is set exactly for rows in
// one. An undone group keeps its row (with who undid it and when), so group
// ids are never reused without the cost of AUTOINCREMENT on every pair of an
// automatic run. Each bank account keeps the bank's own opening balance and the
// items unreconciled at the start of the year (kind 1 booked received / 2
// booked paid, not yet at the bank; 3 bank received / 4 bank paid, not yet
// booked).
const char* kReconcile = R"(
CREATE TABLE reconcile_groups (
    id INTEGER PRIMARY KEY,
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    as_code TEXT NOT NULL,
    made_by TEXT NOT NULL,
    made_at TEXT NOT NULL,
    automatic INTEGER NOT NULL,
    undone_by TEXT,
    undone_at TEXT
);
ALTER TABLE CaGlide ADD COLUMN reconcile_group INTEGER;
ALTER TABLE CaCollateGlide ADD COLUMN reconcile_group INTEGER;
CREATE TABLE reconcile_openings (
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    as_code TEXT NOT NULL,
    bank_opening_cents INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (set_code, as_code)
);
CREATE TABLE reconcile_opening_items (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    as_code TEXT NOT NULL,
    kind INTEGER NOT NULL CHECK (kind BETWEEN 1 AND 4),
    item_date TEXT NOT NULL,
    number TEXT NOT NULL DEFAULT '',
    summary TEXT NOT NULL DEFAULT '',
    cents INTEGER NOT NULL CHECK (cents > 0),
    reconcile_group INTEGER
);
CREATE INDEX reconcile_opening_items_account ON reconcile_opening_items(set_code, as_code);
)";

// Version 5: an automatic run keeps one row for all the pairs it made. Their
// groups are the ids first_group ... last_group, made by the run's user at its
// time; a row per pair cost a run of 90,000 pairs a fifth of its time. A
// run's group that is undone gets a reconcile_groups row of its own
// (automatic, with who undid it and when), which from then on speaks for it.
// Group ids are drawn above the highest of both tables, so a manual group and
// a run never share one.
const char* kReconcileRuns = R"(
CREATE TABLE reconcile_runs (
    id INTEGER PRIMARY KEY,
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    as_code TEXT NOT NULL,
    made_by TEXT NOT NULL,
    made_at TEXT NOT NULL,
    first_group INTEGER NOT NULL,
    last_group INTEGER NOT NULL,
    by_cheque INTEGER NOT NULL,
    by_date INTEGER NOT NULL,
    CHECK (first_group <= last_group AND by_cheque + by_date = last_group - first_group + 1)
);
CREATE INDEX reconcile_runs_groups ON reconcile_runs(last_group);
)";

// Version 6: a real office's books. A book set has the first month it is
// used in (start_month) and can be closed instead of deleted; a bank account
// names its bank; a user may be an administrator (系统管理). A year carried
// forward into the next is kept in closed_years (who, when) with every
// account's closing balances on the journal's side and, for a bank account,
// the statement's side (bank_cents; NULL for cash), as they were at the close.
const char* kOfficeTables = R"(
CREATE TABLE IF NOT EXISTS closed_years (
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    year INTEGER NOT NULL,
    closed_by TEXT NOT NULL,
    closed_at TEXT NOT NULL,
    PRIMARY KEY (set_code, year)
);
CREATE TABLE IF NOT EXISTS closing_balances (
    set_code TEXT NOT NULL,
    year INTEGER NOT NULL,
    as_code TEXT NOT NULL,
    journal_cents INTEGER NOT NULL,
    bank_cents INTEGER,
    PRIMARY KEY (set_code, year, as_code),
    FOREIGN KEY (set_code, year) REFERENCES closed_years(set_code, year)
);
)";

// The columns version 6 adds to existing tables: table, column, definition.
const char* const kOfficeColumns[][3] = {
    {"book_sets", "start_month", "INTEGER NOT NULL DEFAULT 1 CHECK (start_month BETWEEN 1 AND 12)"},
    {"book_sets", "closed", "INTEGER NOT NULL DEFAULT 0"},
    {"bank_accounts", "bank_name", "TEXT NOT NULL DEFAULT ''"},
    {"users", "is_admin", "INTEGER NOT NULL DEFAULT 0"},
};

// Version 7: the bank's own balances. A statement row keeps the balance the
// bank reported after it (cents; NULL for rows entered by hand and for rows of
// older files); the journal tables share one layout, so the bank journal has
// the column too. A user may enter the statement's closing balance as at a
// date, kept per book set, account and date with who entered it and when.
const char* kBankBalances = R"(
CREATE TABLE IF NOT EXISTS reconcile_closings (
    set_code TEXT NOT NULL REFERENCES book_sets(code),
    as_code TEXT NOT NULL,
    closing_date TEXT NOT NULL,
    cents INTEGER NOT NULL,
    made_by TEXT NOT NULL,
    made_at TEXT NOT NULL,
    PRIMARY KEY (set_code, as_code, closing_date)
);
)";

// Version 8: who did what. A user signs in with a password kept only as an
// Argon2id hash (NULL until one is set: a file of an older version asks its
// administrator for one at the first sign-in); an initial password an
// administrator gives must be changed at the first sign-in; wrong passwords
// in a row are counted and make the user wait until locked_until. Each
// journal row carries a version that every update raises, so a save based on
// an older load is refused instead of overwriting another's change. The runs
// and groups of the reconciliation name the program that made them.
const char* const kWhoColumns[][3] = {
    {"users", "password_hash", "TEXT"},
    {"users", "password_must_change", "INTEGER NOT NULL DEFAULT 0"},
    {"users", "failed_sign_ins", "INTEGER NOT NULL DEFAULT 0"},
    {"users", "locked_until", "TEXT"},
    {"CaGlide", "row_version", "INTEGER NOT NULL DEFAULT 0"},
    {"CaCollateGlide", "row_version", "INTEGER NOT NULL DEFAULT 0"},
    {"reconcile_groups", "program", "TEXT"},
    {"reconcile_runs", "program", "TEXT"},
};

// The history of the journal rows: one entry per insert, update, delete and
// restore of a row (who, when by the database's clock, which program, the
// row's columns before and after as compact JSON), one per import for all
// its rows (row_id … last_row_id) and one per row a reconciliation undo
// takes out of its group (ref_id). The sign-ins: each attempt, right or
// wrong, and each change of a password, never the password itself. Both are
// only ever added to.
const char* kHistory = R"(
CREATE TABLE IF NOT EXISTS row_history (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    table_name TEXT NOT NULL,
    row_id INTEGER NOT NULL,
    last_row_id INTEGER,
    set_code TEXT NOT NULL,
    operation TEXT NOT NULL,
    user_code TEXT NOT NULL,
    changed_at TEXT NOT NULL,
    program TEXT NOT NULL,
    ref_id INTEGER,
    before_values TEXT,
    after_values TEXT
);
CREATE INDEX IF NOT EXISTS row_history_row ON row_history(table_name, row_id);
CREATE INDEX IF NOT EXISTS row_history_book ON row_history(set_code, operation);
CREATE TABLE IF NOT EXISTS sign_in_log (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    user_code TEXT NOT NULL,
    signed_at TEXT NOT NULL,
    program TEXT NOT NULL,
    event TEXT NOT NULL,
    by_user TEXT NOT NULL DEFAULT ''
);
)";

const char* const kHistoryTables[] = {"row_history", "sign_in_log"};
const char* const kHistoryKept = "修改记录和登录记录只能增加，不能修改或删除。";

// Version 10: the journals' totals kept by day. For each journal table, book
// set, account and day that has rows, the debits, credits and row count of
// every row of that book set and account dated up to the end of the day, so
// that the balance before any date is one indexed lookup (the latest day
// before it) instead of a walk over every earlier row. The writers of the
// journal tables keep it (host/books/DayTotals.h); it is made again from the
// rows by fillJournalDays, which the upgrade runs on an existing file.
const char* kJournalDays = R"(
CREATE TABLE IF NOT EXISTS journal_days (
    journal TEXT NOT NULL,
    set_code TEXT NOT NULL,
    as_code TEXT NOT NULL,
    day TEXT NOT NULL,
    deb_cents INTEGER NOT NULL,
    cre_cents INTEGER NOT NULL,
    row_count INTEGER NOT NULL,
    PRIMARY KEY (journal, set_code, as_code, day)
);
)";

// The file's schema version; a file newer than this program is refused.
int checkedVersion(Database& db) {
    int v = db.schemaVersion();
    if (v > Database::kSchemaVersion)
        throw StoreError("数据库 " + db.path() + " 的版本（" + std::to_string(v) +
                         "）比本程序新，请升级程序。");
    return v;
}

using SchemaObjects = std::set<std::pair<std::string, std::string>>;

// The tables and indexes of the ledger's schema (the server folds unquoted
// names to lower case, so names are compared in lower case).
SchemaObjects objectsOf(Database& db) {
    SchemaObjects out;
    Stmt s = db.prepare(
        db.engine() == Database::Engine::SQLite
            ? "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'index') "
              "AND name NOT LIKE 'sqlite_%'"
            : "SELECT CASE WHEN c.relkind = 'i' THEN 'index' ELSE 'table' END, c.relname "
              "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = ?1 "
              "AND c.relkind IN ('r', 'p', 'i', 'v', 'm', 'f') AND c.relname <> 'ledger_meta'");
    if (db.engine() == Database::Engine::PostgreSQL) s.bind(1, db.serverSchema());
    while (s.step()) out.emplace(s.text(0), s.text(1));
    return out;
}

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::int64_t pragmaValue(Database& db, const char* pragma) {
    Stmt s = db.prepare(std::string("PRAGMA ") + pragma);
    return s.step() ? s.i64(0) : 0;
}

std::string notLedger(const std::string& path, const std::string& why) {
    return "文件 " + path + " 不是账套数据库（" + why + "），没有打开，文件未作任何改动。";
}

// A path as the path of a SQLite URI ("file:…"): '%', '?' and '#' escaped.
std::string uriPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static const char* hex = "0123456789ABCDEF";
            out += '%';
            out += hex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            out += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

FileMark readFileMark(const std::string& path) {
    FileMark mark;
    sqlite3* db = nullptr;
    const std::string uri = "file:" + uriPath(path) + "?immutable=1";
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
        SQLITE_OK) {
        auto value = [&](const char* pragma, std::int64_t& out) {
            sqlite3_stmt* st = nullptr;
            bool ok = sqlite3_prepare_v2(db, pragma, -1, &st, nullptr) == SQLITE_OK &&
                      sqlite3_step(st) == SQLITE_ROW;
            if (ok) out = sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
            return ok;
        };
        std::int64_t id = 0, version = 0;
        mark.readable = value("PRAGMA application_id", id) &&
                        value("PRAGMA user_version", version) &&
                        value("PRAGMA page_count", mark.pages);
        mark.applicationId = static_cast<std::int32_t>(id);
        mark.userVersion = static_cast<int>(version);
    }
    sqlite3_close_v2(db);
    return mark;
}

bool isStoreFile(const std::string& path) {
    if (path.empty()) return false;
    struct stat chosen {};
    const bool exists = ::stat(path.c_str(), &chosen) == 0;
    const std::string name = canonicalName(path);
    std::lock_guard<std::mutex> lock(openFilesMutex());
    for (const std::string& db : openFiles()) {
        for (const char* side : kStoreSideFiles) {
            const std::string file = db + side;
            if (name == file) return true;
            struct stat st {};
            if (exists && ::stat(file.c_str(), &st) == 0 && st.st_dev == chosen.st_dev &&
                st.st_ino == chosen.st_ino)
                return true;
        }
    }
    return false;
}

Stmt::Stmt(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &st_, nullptr) !=
        SQLITE_OK)
        fail(db, std::string(sql.substr(0, 60)));
}

Stmt::~Stmt() {
    if (st_) sqlite3_finalize(st_);
    delete pg_;
}

namespace {

std::string doubleText(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

}  // namespace

Stmt& Stmt::bind(int i, std::int64_t v) {
    if (st_)
        sqlite3_bind_int64(st_, i, v);
    else if (pg_)
        pg_->bind(i, std::to_string(v), pg::kInt8Oid);
    return *this;
}
Stmt& Stmt::bind(int i, double v) {
    if (st_)
        sqlite3_bind_double(st_, i, v);
    else if (pg_)
        pg_->bind(i, doubleText(v), pg::kFloat8Oid);
    return *this;
}
Stmt& Stmt::bind(int i, std::string_view v) {
    if (st_)
        sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    else if (pg_)
        pg_->bind(i, std::string(v), 0);
    return *this;
}
Stmt& Stmt::bindStatic(int i, std::string_view v) {
    if (st_)
        sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
    else if (pg_)
        pg_->bind(i, std::string(v), 0);
    return *this;
}
Stmt& Stmt::bindNull(int i) {
    if (st_)
        sqlite3_bind_null(st_, i);
    else if (pg_)
        pg_->bindNull(i);
    return *this;
}

bool Stmt::step() {
    if (pg_) return pg_->step();
    int rc = sqlite3_step(st_);
    if (tWaiting) endWait(db_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const int code = sqlite3_extended_errcode(db_);
    std::string msg = sqlite3_errmsg(db_);
    sqlite3_reset(st_);
    throw StoreError((code & 0xFF) == SQLITE_ERROR || (code & 0xFF) == SQLITE_CONSTRAINT
                         ? "数据库错误：" + msg
                         : describe(code, msg));
}

void Stmt::run() {
    if (pg_) return pg_->run();
    while (step()) {
    }
    sqlite3_reset(st_);
}

void Stmt::reset() {
    if (pg_) return pg_->reset();
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
}

void Stmt::resetKeepingBindings() {
    if (pg_) return pg_->reset();
    sqlite3_reset(st_);
}

std::int64_t Stmt::returning() {
    const std::int64_t v = step() ? i64(0) : 0;
    run();
    return v;
}

Stmt& Stmt::streamRows() {
    if (pg_) pg_->setStreaming(true);
    return *this;
}

std::int64_t Stmt::insert() {
    if (pg_) return returning();
    run();
    return sqlite3_last_insert_rowid(db_);
}

int Stmt::paramIndex(const char* name) const {
    return st_ ? sqlite3_bind_parameter_index(st_, name) : pg_ ? pg_->paramIndex(name) : 0;
}

std::string Stmt::text(int col) const {
    return std::string(textView(col));
}

std::string_view Stmt::textView(int col) const {
    if (pg_) return std::string_view(pg_->value(col), static_cast<std::size_t>(pg_->length(col)));
    const auto* p = sqlite3_column_text(st_, col);
    return p ? std::string_view(reinterpret_cast<const char*>(p),
                                static_cast<std::size_t>(sqlite3_column_bytes(st_, col)))
             : std::string_view();
}

// The server answers in text: integers, numerics (sums), booleans ("t"/"f").
std::int64_t Stmt::pgI64(int col) const {
    const char* p = pg_->value(col);
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    std::int64_t v = 0;
    while (*p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
    if (*p == 't') return 1;
    if (*p == '.' || *p == 'e' || *p == 'E') return static_cast<std::int64_t>(pgDbl(col));
    return negative ? -v : v;
}

double Stmt::pgDbl(int col) const {
    const char* p = pg_->value(col);
    if (*p == 't') return 1;
    return std::strtod(p, nullptr);
}

bool Stmt::pgIsNull(int col) const {
    return pg_->isNull(col);
}

int Stmt::columnCount() const {
    return st_ ? sqlite3_column_count(st_) : pg_ ? pg_->columnCount() : 0;
}

std::string Stmt::columnName(int col) const {
    if (st_) {
        const char* name = sqlite3_column_name(st_, col);
        return name ? name : "";
    }
    return pg_ ? pg_->columnName(col) : "";
}

Stmt::Kind Stmt::columnKind(int col) const {
    if (isNull(col)) return Kind::Null;
    if (st_) {
        switch (sqlite3_column_type(st_, col)) {
            case SQLITE_INTEGER:
                return Kind::Integer;
            case SQLITE_FLOAT:
                return Kind::Real;
            default:
                return Kind::Text;
        }
    }
    // The server's types by their pg_type oids: int2, int4, int8; float4,
    // float8, numeric; anything else is read as text.
    switch (pg_->columnType(col)) {
        case 20:
        case 21:
        case 23:
            return Kind::Integer;
        case 700:
        case 701:
        case 1700:
            return Kind::Real;
        default:
            return Kind::Text;
    }
}

Database::Database(const std::string& path, OpenMode mode)
    : path_(path), busy_(std::make_unique<BusyState>()) {
    const bool creating = mode == OpenMode::Create;
    if (pg::isServerLocation(path)) {
        openServer(path, creating);
        return;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        const std::string folder = std::filesystem::path(path).parent_path().string();
        struct stat dirSt {};
        if (!folder.empty() && ::stat(folder.c_str(), &dirSt) != 0)
            throw StoreError("无法打开账套数据库 " + path + "：文件夹 " + folder + " 不存在。");
        if (err != ENOENT || !creating)
            throw StoreError("无法打开账套数据库 " + path + "：" +
                             (err == ENOENT ? std::string("文件不存在。请检查数据库文件的路径。")
                                            : systemReason(err)));
    } else {
        if (S_ISDIR(st.st_mode))
            throw StoreError("无法打开账套数据库 " + path + "：这是一个文件夹。");
        if (creating && st.st_size > 0)
            throw StoreError("无法创建账套数据库 " + path + "：文件已存在。");
        // A file marked read-only is not written to, whoever runs the program.
        if ((st.st_mode & 0222) == 0)
            throw StoreError("账套数据库 " + path +
                             " 是只读文件，无法写入，没有打开。请检查文件的写入权限。");
    }
    if (!creating && st.st_size > 0) {
        // Another program's database is refused before SQLite opens it to
        // write: closing such a connection would merge that program's
        // write-ahead log into its file and remove it.
        const FileMark mark = readFileMark(path);
        if (mark.foreign(kApplicationId))
            throw StoreError(notLedger(
                path, mark.applicationId != 0 ? "这是其他程序的数据库文件" : "没有账套数据表"));
    }
    openFile(SQLITE_OPEN_READWRITE | (creating ? SQLITE_OPEN_CREATE : 0));
    try {
        validate(creating);
    } catch (...) {
        // A refused or failed file must not keep its connection open.
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
    path_ = canonicalName(path);
    std::lock_guard<std::mutex> lock(openFilesMutex());
    openFiles().push_back(path_);
    registered_ = true;
}

Database::Database(const std::string& location, const std::function<void(Database&)>& fillOnCreate)
    : path_(location), busy_(std::make_unique<BusyState>()), fillOnCreate_(&fillOnCreate) {
    openServer(location, true);
}

Database::Database(const std::string& location, ProbeTag)
    : path_(pg::redact(location)), busy_(std::make_unique<BusyState>()) {
    pg_ = std::make_unique<pg::Connection>(location, busy_->deadlineMs);
}

void Database::openServer(const std::string& location, bool creating) {
    path_ = pg::redact(location);
    pg_ = std::make_unique<pg::Connection>(location, busy_->deadlineMs);
    findServerSchema();
    validateServer(creating);
}

// The ledger's schema is found the way its tables are found by every query:
// along the connection's search path. A role whose own schema comes first in
// the path ("$user") finds the ledger behind it; a new ledger is made in the
// first schema of the path.
void Database::findServerSchema() {
    Stmt found = prepare(
        "SELECT n.nspname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.oid = to_regclass('ledger_meta')");
    if (found.step()) {
        serverSchema_ = found.text(0);
        return;
    }
    // A ledger in a schema of the path that this role may not use is not an
    // empty database: the role lacks a right.
    Stmt hidden = prepare(
        "SELECT n.nspname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relname = 'ledger_meta' AND NOT has_schema_privilege(n.oid, 'USAGE') "
        "AND n.nspname = ANY (string_to_array(replace(replace(replace(current_setting("
        "'search_path'), '\"$user\"', current_user), '\"', ''), ' ', ''), ',')) LIMIT 1");
    if (hidden.step())
        throw StoreError("无法打开数据库 " + path_ + "：当前数据库角色没有使用模式 " +
                         hidden.text(0) +
                         " 的权限（USAGE），没有打开，未作任何改动。请让数据库的所有者用 "
                         "chuna-admin grant 授予本角色权限。");
    Stmt current = prepare("SELECT current_schema()");
    if (!current.step() || current.isNull(0))
        throw StoreError("无法打开数据库 " + path_ +
                         "：连接的搜索路径（search_path）中没有可用的模式，没有打开。");
    serverSchema_ = current.text(0);
}

std::string Database::serverOwner() {
    if (!pg_) return {};
    Stmt s = prepare(
        "SELECT pg_get_userbyid(c.relowner) FROM pg_class c JOIN pg_namespace n "
        "ON n.oid = c.relnamespace WHERE n.nspname = ?1 AND c.relname = 'ledger_meta'");
    s.bind(1, serverSchema_);
    return s.step() ? s.text(0) : std::string();
}

Database::Database(ReferenceTag) : path_(":memory:"), busy_(std::make_unique<BusyState>()) {
    openFile(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY);
    exec("BEGIN");
    upgradeFrom(0);
    exec("COMMIT");
}

void Database::openFile(int flags) {
    // A connection is used by one thread at a time, so SQLite's own locking
    // around every call is not needed.
    if (sqlite3_open_v2(path_.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("无法打开账套数据库 " + path_ + "：" + describe(code, msg));
    }
    sqlite3_extended_result_codes(db_, 1);
    busy_->db = db_;
    if (!(flags & SQLITE_OPEN_MEMORY)) busy_->path = path_;
    sqlite3_busy_handler(db_, onBusy, busy_.get());
}

// Checks the file before anything in it changes (its journal mode included),
// then brings an older ledger file up to the current schema.
void Database::validate(bool creating) {
    exec("PRAGMA foreign_keys = ON");
    const auto appId = static_cast<std::int32_t>(pragmaValue(*this, "application_id"));
    if (appId != 0 && appId != kApplicationId)
        throw StoreError(notLedger(path_, "这是其他程序的数据库文件"));
    const int v = checkedVersion(*this);
    const bool empty = pragmaValue(*this, "page_count") == 0;
    if (creating && !empty) throw StoreError("无法创建账套数据库 " + path_ + "：文件已存在。");
    if (!creating) {
        if (empty) throw StoreError(notLedger(path_, "文件是空的"));
        if (v == 0) throw StoreError(notLedger(path_, "没有账套数据表"));
        // An older ledger file is upgraded below and checked after it, in the
        // same transaction; a current one must be complete as it stands.
        if (v == kSchemaVersion) checkComplete();
    }
    if (v < kSchemaVersion || appId == 0) migrate(creating);
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = NORMAL");
    exec("PRAGMA cache_size = -8192");
}

namespace {

// Refused with Create: the server database has tables already (another
// program may have created the ledger first).
class DatabaseExists : public StoreError {
  public:
    using StoreError::StoreError;
};

std::string serverNotLedger(const std::string& location, const std::string& why) {
    return "数据库 " + location + " 不是账套数据库（" + why + "），没有打开，未作任何改动。";
}

bool hasMetaTable(Database& db) {
    Stmt s = db.prepare("SELECT to_regclass('ledger_meta') IS NOT NULL");
    return s.step() && s.i64(0) != 0;
}

std::int64_t metaValue(Database& db, const char* key) {
    Stmt s = db.prepare("SELECT value FROM ledger_meta WHERE key = ?");
    s.bind(1, key);
    return s.step() ? std::strtoll(s.text(0).c_str(), nullptr, 10) : 0;
}

}  // namespace

bool Database::isMissing(const std::string& location) {
    if (!isServerLocation(location)) {
        struct stat st {};
        return ::lstat(location.c_str(), &st) != 0 && errno == ENOENT;
    }
    Database probe(location, ProbeTag{});
    return !hasMetaTable(probe) && objectsOf(probe).empty();
}

// The server's counterpart of validate(): the application id and version are
// rows of ledger_meta; a schema without tables is empty.
void Database::validateServer(bool creating) {
    const bool meta = hasMetaTable(*this);
    const bool empty = objectsOf(*this).empty();
    if (meta) {
        if (metaValue(*this, "application_id") != kApplicationId)
            throw StoreError(serverNotLedger(path_, "这是其他程序的数据库"));
    } else if (!empty) {
        throw StoreError(serverNotLedger(path_, "没有账套数据表"));
    }
    const int v = checkedVersion(*this);
    if (creating && !empty)
        throw DatabaseExists("无法创建账套数据库 " + path_ + "：数据库中已有数据表。");
    if (!creating) {
        if (empty) throw StoreError(serverNotLedger(path_, "数据库是空的"));
        if (v == kSchemaVersion) checkComplete();
    }
    if (v > 0 && v < kSchemaVersion) {
        // An upgrade changes the tables, which only their owner (or a member
        // of the owning role, acting as it) may do.
        Stmt owner = prepare(
            "SELECT pg_get_userbyid(c.relowner), pg_has_role(c.relowner, 'MEMBER') "
            "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
            "WHERE n.nspname = ?1 AND c.relname = 'ledger_meta'");
        owner.bind(1, serverSchema_);
        if (owner.step() && owner.text(1) != "t" && owner.text(1) != "true")
            throw StoreError("账套数据库 " + path_ + " 是旧版本（" + std::to_string(v) +
                             "），需要升级到版本 " + std::to_string(kSchemaVersion) +
                             " 才能使用；只有它的所有者 " + owner.text(0) +
                             " 能升级。请让所有者运行一次 chuna-admin upgrade --db 本数据库。"
                             "没有打开，未作任何改动。");
        upgradeAsOwner_ = true;
    }
    if (v < kSchemaVersion) migrate(creating);
    upgradeAsOwner_ = false;
}

// Throws when the file lacks a table or index of the current schema. The
// schema is read from an in-memory database built by the same steps as the
// files, so a table added by a later step is required without more code.
void Database::checkComplete() {
    static const SchemaObjects required = [] {
        Database reference{ReferenceTag{}};
        return objectsOf(reference);
    }();
    SchemaObjects present;
    for (const auto& o : objectsOf(*this)) present.emplace(o.first, lowered(o.second));
    std::string missing;
    for (const auto& o : required) {
        if (present.count({o.first, lowered(o.second)})) continue;
        if (!missing.empty()) missing += "、";
        missing += o.second;
    }
    if (!missing.empty())
        throw StoreError("账套数据库 " + path_ + " 不完整，缺少 " + missing +
                         (pg_ ? "，没有打开，未作任何改动。请从备份恢复该数据库。"
                              : "，没有打开，文件未作任何改动。请从备份恢复该文件。"));
}

// Brings the file to the current schema in one transaction, the version read
// again under the write lock: another program may have upgraded or filled
// the file meanwhile. Any failure rolls everything back.
void Database::migrate(bool creating) {
    Transaction t(*this);
    // Tables an upgrade adds belong to the ledger's owner, like the rest, so
    // the grants the owner's default privileges give reach them too.
    if (upgradeAsOwner_)
        if (const std::string owner = serverOwner(); !owner.empty()) {
            std::string quoted = "\"";
            for (char c : owner) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
            exec("SET LOCAL ROLE " + quoted + "\"");
        }
    const int v = checkedVersion(*this);
    if (v == 0 && !(creating && objectsOf(*this).empty())) {
        if (pg_ && creating)
            throw DatabaseExists("无法创建账套数据库 " + path_ + "：数据库中已有数据表。");
        throw StoreError(pg_ ? serverNotLedger(path_, "没有账套数据表")
                             : notLedger(path_, "没有账套数据表"));
    }
    upgradeFrom(v);
    if (!pg_) exec("PRAGMA application_id = " + std::to_string(kApplicationId));
    checkComplete();
    // A new server database is filled in the transaction that made it, so
    // another program never sees it half made.
    if (creating && v == 0 && fillOnCreate_) (*fillOnCreate_)(*this);
    t.commit();
}

void Database::execSchema(const std::string& sqliteDdl) {
    exec(pg_ ? pg::schemaDdl(sqliteDdl) : sqliteDdl);
}

void Database::setSchemaVersion(int version) {
    if (!pg_) {
        exec("PRAGMA user_version = " + std::to_string(version));
        return;
    }
    exec(
        "CREATE TABLE IF NOT EXISTS ledger_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
        "INSERT INTO ledger_meta VALUES ('application_id', '" +
        std::to_string(kApplicationId) +
        "') ON CONFLICT (key) DO UPDATE SET value = excluded.value;"
        "INSERT INTO ledger_meta VALUES ('schema_version', '" +
        std::to_string(version) + "') ON CONFLICT (key) DO UPDATE SET value = excluded.value;");
}

// The steps from `version` to the current schema, inside the caller's
// transaction; each step ends by setting the version it reaches.
void Database::upgradeFrom(int version) {
    if (version < 1) {
        execSchema(kSchemaV1);
        execSchema(journalTable("CaGlide"));
        execSchema(journalTable("CaCollateGlide"));
        setSchemaVersion(1);
    }
    if (version < 2) {
        execSchema(kImportLog);
        // Every query of the journal tables names the book set, so the index
        // by date alone served none of them, while each stored row paid for it
        // (a statement import wrote a third more).
        exec("DROP INDEX IF EXISTS CaGlide_date; DROP INDEX IF EXISTS CaCollateGlide_date;");
        setSchemaVersion(2);
    }
    if (version < 3) {
        execSchema(kReconcile);
        setSchemaVersion(3);
    }
    if (version < 4) {
        // Each store operation that numbers a row reads the account's highest
        // number; without this index that read walked every row of the
        // account (an import of 100,000 lines, saved in blocks, did it 25
        // times). Not unique: a row's number may be edited, and older files
        // may hold the same number twice.
        execSchema(
            "CREATE INDEX CaGlide_number ON CaGlide(set_code, as_code, date_or_no);"
            "CREATE INDEX CaCollateGlide_number ON CaCollateGlide(set_code, as_code, date_or_no);");
        setSchemaVersion(4);
    }
    if (version < 5) {
        execSchema(kReconcileRuns);
        setSchemaVersion(5);
    }
    if (version < 6) {
        // A column is added only where it is missing, so a file that was
        // taken back to an older version by hand is brought forward again.
        bool usersGainedFlag = false;
        for (const auto& [table, column, definition] : kOfficeColumns) {
            if (hasColumn(table, column)) continue;
            execSchema(std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " +
                       definition);
            usersGainedFlag = usersGainedFlag || std::strcmp(column, "is_admin") == 0;
        }
        // An older file keeps someone who can manage it: the user "admin"
        // where there is one, else every user.
        if (usersGainedFlag)
            exec(
                "UPDATE users SET is_admin = 1 WHERE code = 'admin' OR NOT EXISTS "
                "(SELECT 1 FROM users WHERE code = 'admin')");
        execSchema(kOfficeTables);
        setSchemaVersion(6);
    }
    if (version < 7) {
        // As in version 6, only where missing.
        for (const char* table : {"CaGlide", "CaCollateGlide"})
            if (!hasColumn(table, "bank_balance_cents"))
                execSchema(std::string("ALTER TABLE ") + table +
                           " ADD COLUMN bank_balance_cents INTEGER");
        execSchema(kBankBalances);
        setSchemaVersion(7);
    }
    if (version < 8) {
        // As in version 6, only where missing.
        for (const auto& [table, column, definition] : kWhoColumns)
            if (!hasColumn(table, column))
                execSchema(std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " +
                           definition);
        execSchema(kHistory);
        keepHistoryTables();
        setSchemaVersion(8);
    }
    if (version < 10) {
        // Added only where missing, as in versions 6 and 7; its figures are
        // made from the rows the file holds.
        execSchema(kJournalDays);
        fillJournalDays(*this);
        setSchemaVersion(10);
    }
}

// The history tables refuse UPDATE and DELETE whatever runs them: a trigger
// on each (on the server one function for both, also refusing TRUNCATE).
void Database::keepHistoryTables() {
    if (!pg_) {
        for (const char* table : kHistoryTables)
            for (const char* what : {"UPDATE", "DELETE"})
                exec(std::string("CREATE TRIGGER IF NOT EXISTS ") + table + "_kept_" + what +
                     " BEFORE " + what + " ON " + table + " BEGIN SELECT RAISE(ABORT, '" +
                     kHistoryKept + "'); END");
        return;
    }
    exec(std::string("CREATE OR REPLACE FUNCTION ledger_history_kept() RETURNS trigger "
                     "LANGUAGE plpgsql AS $kept$ BEGIN RAISE EXCEPTION '") +
         kHistoryKept + "'; END $kept$");
    for (const char* table : kHistoryTables)
        exec(std::string("DROP TRIGGER IF EXISTS ") + table + "_kept ON " + table +
             "; CREATE TRIGGER " + table + "_kept BEFORE UPDATE OR DELETE OR TRUNCATE ON " + table +
             " FOR EACH STATEMENT EXECUTE FUNCTION ledger_history_kept()");
}

void fillJournalDays(Database& db) {
    Transaction t(db);
    db.exec("DELETE FROM journal_days");
    // Each day's sums, then running totals over the account's days in date
    // order (window functions: SQLite 3.25 and every supported server).
    for (const char* table : {"CaGlide", "CaCollateGlide"})
        db.exec(std::string("INSERT INTO journal_days (journal, set_code, as_code, day, "
                            "deb_cents, cre_cents, row_count) SELECT '") +
                table +
                "', set_code, as_code, create_date, SUM(SUM(deb_cents)) OVER w, "
                "SUM(SUM(cre_cents)) OVER w, SUM(COUNT(*)) OVER w FROM " +
                table +
                " GROUP BY set_code, as_code, create_date WINDOW w AS (PARTITION BY set_code, "
                "as_code ORDER BY create_date ROWS UNBOUNDED PRECEDING)");
    t.commit();
}

bool Database::hasColumn(const std::string& table, const std::string& column) {
    Stmt s = prepare(pg_ ? "SELECT 1 FROM information_schema.columns WHERE table_schema = ?3 "
                           "AND table_name = lower(?1) AND column_name = ?2"
                         : "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
    s.bind(1, table).bind(2, column);
    if (pg_) s.bind(3, serverSchema_);
    return s.step();
}

Database::~Database() {
    if (tWaiting == busy_.get()) tWaiting = nullptr;
    if (registered_) {
        std::lock_guard<std::mutex> lock(openFilesMutex());
        auto& files = openFiles();
        auto it = std::find(files.begin(), files.end(), path_);
        if (it != files.end()) files.erase(it);
    }
    sqlite3_close_v2(db_);
}

void Database::setBusyTimeoutMs(int ms) {
    busy_->deadlineMs = std::max(ms, 0);
    if (pg_) pg_->setLockTimeout(busy_->deadlineMs);
}

bool Database::isServerLocation(std::string_view location) {
    return pg::isServerLocation(location);
}

std::vector<std::pair<std::size_t, std::size_t>> passwordSpans(std::string_view s) {
    std::string low(s);
    std::transform(low.begin(), low.end(), low.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    // The user information of a URI, in any case of its scheme and wherever
    // the URI starts (also "--db=postgresql://…"): from the first ':' after
    // the scheme to the last '@' before the query or a blank, so that a
    // password holding an unencoded '/' or '@' is covered whole.
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        for (std::size_t p = low.find(scheme); p != std::string::npos;
             p = low.find(scheme, p + 1)) {
            const std::size_t start = p + std::strlen(scheme);
            const std::size_t end = std::min(low.find_first_of("? \t", start), low.size());
            const std::size_t at = low.rfind('@', end == 0 ? 0 : end - 1);
            if (at == std::string::npos || at < start) continue;
            const std::size_t colon = low.find(':', start);
            if (colon != std::string::npos && colon < at) spans.emplace_back(colon + 1, at);
        }
    }
    // password=value: a URI parameter or a key=value pair, quoted or not.
    for (std::size_t p = low.find("password"); p != std::string::npos;
         p = low.find("password", p + 1)) {
        std::size_t v = p + 8;
        while (v < s.size() && s[v] == ' ') ++v;
        if (v >= s.size() || s[v] != '=') continue;
        ++v;
        while (v < s.size() && s[v] == ' ') ++v;
        std::size_t end = v;
        if (v < s.size() && s[v] == '\'') {
            for (end = v + 1; end < s.size() && s[end] != '\''; ++end)
                if (s[end] == '\\') ++end;
            spans.emplace_back(v + 1, std::min(end, s.size()));
        } else {
            while (end < s.size() && s[end] != '&' && s[end] != ' ') ++end;
            spans.emplace_back(v, end);
        }
    }
    std::sort(spans.begin(), spans.end());
    return spans;
}

namespace {

// `s` with every password span replaced by `mask`, or by as many stars as the
// password has characters when `mask` is empty.
std::string withMasks(std::string_view s, std::string_view mask) {
    std::string out;
    std::size_t at = 0;
    for (const auto& [from, to] : passwordSpans(s)) {
        if (from < at || to <= from) continue;
        out.append(s.substr(at, from - at));
        out.append(mask.empty() ? std::string(to - from, '*') : std::string(mask));
        at = to;
    }
    out.append(s.substr(at));
    return out;
}

}  // namespace

std::string withoutPassword(std::string message, const std::string& target) {
    if (!pg::isServerLocation(target)) return message;
    const std::string shown = pg::redact(target);
    for (auto p = message.find(target); p != std::string::npos; p = message.find(target, p)) {
        message.replace(p, target.size(), shown);
        p += shown.size();
    }
    auto hide = [&](const std::string& secret) {
        if (secret.empty()) return;
        for (auto p = message.find(secret); p != std::string::npos; p = message.find(secret, p))
            message.replace(p, secret.size(), "***");
    };
    for (const auto& [from, to] : passwordSpans(target)) {
        const std::string secret = target.substr(from, to - from);
        hide(secret);
        std::size_t start = 0;
        for (std::size_t i = 0; i <= secret.size(); ++i)
            if (i == secret.size() || secret[i] == '/' || secret[i] == '@' || secret[i] == ':') {
                if (i - start >= 2) hide(secret.substr(start, i - start));
                start = i + 1;
            }
    }
    return message;
}

std::string maskedPasswords(std::string_view text) {
    return withMasks(text, "***");
}

void hidePasswordsInArguments(int argc, char** argv) {
    if (argc < 2) return;
    // Each argument masked with a fixed "***"; one whose password is shorter
    // than that keeps its length, in stars, since an argument cannot grow.
    std::vector<std::string> masked;
    bool changed = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        std::string m = withMasks(arg, "***");
        if (m.size() > arg.size()) m = withMasks(arg, "");
        changed |= m != arg;
        masked.push_back(std::move(m));
    }
    if (!changed) return;
    // The kernel lays the arguments out one after the other; written back
    // from argv[1] on, with the pointers moved along, the bytes freed at the
    // end are zeroed, so the process list shows no trace of the length.
    bool contiguous = true;
    for (int i = 2; i < argc && contiguous; ++i)
        contiguous = argv[i] == argv[i - 1] + std::strlen(argv[i - 1]) + 1;
    if (!contiguous) {
        for (int i = 1; i < argc; ++i) {
            const std::size_t size = std::strlen(argv[i]);
            std::memcpy(argv[i], masked[i - 1].data(), masked[i - 1].size());
            std::memset(argv[i] + masked[i - 1].size(), 0, size - masked[i - 1].size());
        }
        return;
    }
    char* const end = argv[argc - 1] + std::strlen(argv[argc - 1]) + 1;
    char* at = argv[1];
    for (int i = 1; i < argc; ++i) {
        std::memmove(at, masked[i - 1].c_str(), masked[i - 1].size() + 1);
        argv[i] = at;
        at += masked[i - 1].size() + 1;
    }
    std::memset(at, 0, static_cast<std::size_t>(end - at));
}

std::string Database::displayLocation(std::string_view location) {
    return pg::isServerLocation(location) ? pg::redact(location) : std::string(location);
}

Stmt Database::prepareInsert(std::string_view sql) {
    if (pg_) return prepare(std::string(sql) + " RETURNING id");
    return Stmt(db_, sql);
}

Stmt Database::prepare(std::string_view sql) {
    if (pg_) return Stmt(new pg::Statement(*pg_, sql));
    return Stmt(db_, sql);
}

int Database::changes() const {
    return pg_ ? pg_->changes() : sqlite3_changes(db_);
}

bool Database::inTransaction() const {
    return pg_ ? pg_->inTransaction() : !sqlite3_get_autocommit(db_);
}

void Database::beginRead() {
    exec(pg_ ? "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY" : "BEGIN");
}

std::string Database::serverTime() {
    Stmt s = prepare(pg_ ? "SELECT to_char(LOCALTIMESTAMP, 'YYYY-MM-DD HH24:MI:SS')"
                         : "SELECT datetime('now', 'localtime')");
    return s.step() ? s.text(0) : std::string();
}

int Database::busyTimeoutMs() const {
    return busy_->deadlineMs;
}

namespace {

using IdValues = std::vector<std::pair<std::int64_t, std::int64_t>>;

// The SQL function of Database::updateById on SQLite: the value listed for a
// row id, NULL for an id not listed. The statement walks the ids upwards and
// asks twice per row (to test and to set), so the lookup moves a cursor along
// the sorted list and searches only when an id goes backwards.
struct IdValueLookup {
    const IdValues* values;
    std::size_t at = 0;  // the first entry whose id is not below the last id asked
};

void idValueFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    auto* l = static_cast<IdValueLookup*>(sqlite3_user_data(ctx));
    const IdValues& v = *l->values;
    const std::int64_t id = sqlite3_value_int64(argv[0]);
    if (l->at > 0 && v[l->at - 1].first >= id) {
        l->at = static_cast<std::size_t>(
            std::lower_bound(v.begin(), v.end(), id,
                             [](const auto& p, std::int64_t x) { return p.first < x; }) -
            v.begin());
    }
    while (l->at < v.size() && v[l->at].first < id) ++l->at;
    if (l->at < v.size() && v[l->at].first == id)
        sqlite3_result_int64(ctx, v[l->at].second);
    else
        sqlite3_result_null(ctx);
}

}  // namespace

std::int64_t Database::updateById(const std::string& table, const std::string& column,
                                  const IdValues& values, const std::string& alsoSet,
                                  const std::string& condition,
                                  const std::vector<std::string>& binds) {
    if (values.empty()) return 0;
    const std::string also = alsoSet.empty() ? std::string() : ", " + alsoSet;
    const std::string where = condition.empty() ? std::string("1") : condition;
    if (pg_) {
        // Both lists as array literals: one round trip whatever their length.
        std::string ids = "{", vals = "{";
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i) {
                ids += ',';
                vals += ',';
            }
            ids += std::to_string(values[i].first);
            vals += std::to_string(values[i].second);
        }
        ids += '}';
        vals += '}';
        const std::size_t n = binds.size();
        Stmt s = prepare("UPDATE " + table + " SET " + column + " = p.value_" + also +
                         " FROM unnest(CAST(?" + std::to_string(n + 1) + " AS BIGINT[]), CAST(?" +
                         std::to_string(n + 2) + " AS BIGINT[])) AS p(row_id, value_) WHERE " +
                         table + ".id = p.row_id AND (" + where + ")");
        for (std::size_t i = 0; i < n; ++i) s.bind(static_cast<int>(i + 1), binds[i]);
        s.bind(static_cast<int>(n + 1), ids).bind(static_cast<int>(n + 2), vals);
        s.run();
        return changes();
    }
    // One walk over the rows between the first and the last id; each row's
    // value is looked up in the sorted list, so rows not listed cost a lookup.
    IdValueLookup lookup{&values};
    const char* name = "ledger_listed_value";
    if (sqlite3_create_function_v2(db_, name, 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, &lookup,
                                   idValueFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw StoreError(std::string("数据库错误：") + sqlite3_errmsg(db_));
    struct Unregister {
        sqlite3* db;
        const char* name;
        ~Unregister() {
            sqlite3_create_function_v2(db, name, 1, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr,
                                       nullptr);
        }
    } unregister{db_, name};
    // NOT INDEXED keeps SQLite on the id range rather than an index the
    // condition could use (the id key itself stays usable).
    Stmt s = prepare("UPDATE " + table + " NOT INDEXED SET " + column + " = " + name + "(id)" +
                     also + " WHERE id >= " + std::to_string(values.front().first) +
                     " AND id <= " + std::to_string(values.back().first) + " AND " + name +
                     "(id) IS NOT NULL AND (" + where + ")");
    for (std::size_t i = 0; i < binds.size(); ++i) s.bind(static_cast<int>(i + 1), binds[i]);
    s.run();
    return changes();
}

void Database::exec(const std::string& sql) {
    if (pg_) return pg_->exec(sql);
    char* err = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    if (tWaiting) endWait(db_);
    if (rc != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        const int code = sqlite3_extended_errcode(db_);
        throw StoreError((code & 0xFF) == SQLITE_ERROR || (code & 0xFF) == SQLITE_CONSTRAINT
                             ? "数据库错误：" + msg
                             : describe(code, msg));
    }
}

int Database::schemaVersion() {
    if (pg_) {
        if (!hasMetaTable(*this)) return 0;
        return static_cast<int>(metaValue(*this, "schema_version"));
    }
    Stmt s(db_, "PRAGMA user_version");
    s.step();
    return s.i32(0);
}

// SQLite takes the write lock at BEGIN IMMEDIATE, waiting in its busy
// handler. The server has no such lock for a whole database, so writers take
// an advisory lock of the ledger (its schema's) before they read anything;
// the wait is reported and bounded like SQLite's.
void Database::beginWrite() {
    if (!pg_) {
        exec("BEGIN IMMEDIATE");
        return;
    }
    exec("BEGIN");
    try {
        // Keyed by the ledger's schema, as every role finds it.
        Stmt lock = prepare("SELECT pg_try_advisory_xact_lock(" + std::to_string(kApplicationId) +
                            ", hashtext(?1))");
        lock.bind(1, serverSchema_);
        for (int count = 0;; ++count) {
            const bool got = lock.step() && lock.i64(0) != 0;
            lock.run();
            if (got) break;
            if (onBusy(busy_.get(), count) == 0)
                throw StoreError(describe(SQLITE_BUSY, "waiting for the ledger's write lock"));
        }
        if (tWaiting == busy_.get()) endWait();
    } catch (...) {
        if (tWaiting == busy_.get()) endWait();
        try {
            exec("ROLLBACK");
        } catch (...) {
        }
        throw;
    }
}

Transaction::Transaction(Database& db) : db_(db) {
    // Inside an open transaction this one is a savepoint of it.
    if (db_.inTransaction()) {
        savepoint_ = true;
        db_.exec("SAVEPOINT ledger_nested");
    } else {
        db_.beginWrite();
    }
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.exec(savepoint_ ? "ROLLBACK TO ledger_nested; RELEASE ledger_nested" : "ROLLBACK");
        } catch (...) {
        }
    }
}

void Transaction::commit() {
    db_.exec(savepoint_ ? "RELEASE ledger_nested" : "COMMIT");
    done_ = true;
}

ReadSnapshot::ReadSnapshot(Database& db) : db_(db), own_(!db.inTransaction()) {
    if (own_) db_.beginRead();
}

ReadSnapshot::~ReadSnapshot() {
    if (!own_) return;
    try {
        db_.exec("ROLLBACK");
    } catch (...) {
    }
}

LargerPageCache::LargerPageCache(Database& db, int megabytes) : db_(db) {
    if (db_.engine() != Database::Engine::SQLite) return;
    const std::int64_t previous = pragmaValue(db_, "cache_size");
    const std::int64_t kib = std::int64_t{megabytes} * 1024;
    // A negative size is in KiB; keep the larger of the two.
    if (previous < 0 && -previous >= kib) return;
    db_.exec("PRAGMA cache_size = -" + std::to_string(kib));
    previous_ = previous;
    changed_ = true;
}

LargerPageCache::~LargerPageCache() {
    if (!changed_) return;
    try {
        db_.exec("PRAGMA cache_size = " + std::to_string(previous_));
    } catch (...) {
        // The size only tunes memory; the connection works either way.
    }
}

// ---- bulk inserts ----

BulkInsert::BulkInsert(Database& db, const std::string& table,
                       const std::vector<std::string>& columns)
    : db_(db), columns_(static_cast<int>(columns.size())) {
    std::string list;
    for (const auto& c : columns) list += (list.empty() ? "" : ", ") + c;
    if (!db_.pg_) {
        std::string marks;
        for (std::size_t i = 0; i < columns.size(); ++i) marks += i ? ",?" : "?";
        insert_.emplace(
            db_.prepare("INSERT INTO " + table + " (" + list + ") VALUES (" + marks + ")"));
        return;
    }
    const std::string sql = "COPY " + table + " (" + list + ") FROM STDIN";
    pg_conn* conn = db_.pg_->live();
    PQclear(db_.pg_->check(PQexec(conn, sql.c_str()), sql));
    copying_ = true;
    buffer_.reserve(1 << 16);
}

BulkInsert::~BulkInsert() {
    if (!copying_) return;
    pg_conn* conn = db_.pg_->raw();
    PQputCopyEnd(conn, "abandoned");
    while (PGresult* r = PQgetResult(conn)) PQclear(r);
}

namespace {

// COPY's text format: a backslash, tab, line feed or carriage return inside
// a value is written as its escape.
void appendCopyText(std::string& out, std::string_view v) {
    for (char c : v) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

}  // namespace

BulkInsert& BulkInsert::add(std::int64_t v) {
    if (insert_) {
        insert_->bind(++column_, v);
    } else {
        if (column_++) buffer_ += '\t';
        buffer_ += std::to_string(v);
    }
    return *this;
}

BulkInsert& BulkInsert::add(double v) {
    if (insert_) {
        insert_->bind(++column_, v);
    } else {
        if (column_++) buffer_ += '\t';
        buffer_ += doubleText(v);
    }
    return *this;
}

BulkInsert& BulkInsert::add(std::string_view v) {
    if (insert_) {
        insert_->bind(++column_, v);
    } else {
        if (column_++) buffer_ += '\t';
        appendCopyText(buffer_, v);
    }
    return *this;
}

BulkInsert& BulkInsert::addNull() {
    if (insert_) {
        insert_->bindNull(++column_);
    } else {
        if (column_++) buffer_ += '\t';
        buffer_ += "\\N";
    }
    return *this;
}

void BulkInsert::endRow() {
    if (column_ != columns_)
        throw StoreError("数据库错误：批量写入的一行有 " + std::to_string(column_) +
                         " 个值，应为 " + std::to_string(columns_) + " 个。");
    column_ = 0;
    ++rows_;
    if (insert_) {
        insert_->run();
        return;
    }
    buffer_ += '\n';
    if (buffer_.size() >= (1 << 16)) flush();
}

void BulkInsert::flush() {
    if (buffer_.empty()) return;
    pg_conn* conn = db_.pg_->raw();
    if (PQputCopyData(conn, buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
        copying_ = false;
        PQclear(db_.pg_->check(PQgetResult(conn), "COPY"));
    }
    buffer_.clear();
}

std::int64_t BulkInsert::finish() {
    if (!copying_) return rows_;
    flush();
    pg_conn* conn = db_.pg_->raw();
    copying_ = false;
    PQputCopyEnd(conn, nullptr);
    PGresult* res = PQgetResult(conn);
    while (PGresult* more = PQgetResult(conn)) PQclear(more);
    PQclear(db_.pg_->check(res, "COPY"));
    return rows_;
}

bool createDatabaseFile(const std::string& path, const std::function<void(Database&)>& fill) {
    if (pg::isServerLocation(path)) {
        try {
            Database db(path, fill);
            return true;
        } catch (const DatabaseExists&) {
            return false;
        }
    }
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw StoreError("无法创建账套数据库 " + path + "：文件夹 " + folder.string() +
                         " 不存在。");
    if (::lstat(path.c_str(), &st) == 0) return false;

    // The permissions SQLite gives a file it creates, not the temporary
    // file's owner-only ones: other users of the machine may share the book.
    HeldTemporary held(path, "new", 0644, "无法创建账套数据库 " + path + "：");
    const std::string& temp = held.name();
    {
        Database db(temp, Database::OpenMode::Create);
        fill(db);
    }
    // The closed file is whole (its WAL checkpointed and removed); it takes
    // the name only if nothing has the name yet.
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        held.kept();
        return true;
    }
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // A file system without the no-replace rename: a hard link does the
        // same, failing when the name exists.
        if (::link(temp.c_str(), path.c_str()) == 0) return true;
        err = errno;
    }
    if (err == EEXIST) return false;
    throw StoreError("无法创建账套数据库 " + path + "：" + systemReason(err));
}

}  // namespace ledgerhost
