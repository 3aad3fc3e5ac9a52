#include "Store.h"

namespace ledgerhost {

namespace {

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw StoreError("数据库错误（" + what + "）：" + sqlite3_errmsg(db));
}

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

// The file's schema version; a file newer than this program is refused.
int checkedVersion(Database& db) {
    int v = db.schemaVersion();
    if (v > Database::kSchemaVersion)
        throw StoreError("数据库 " + db.path() + " 的版本（" + std::to_string(v) +
                         "）比本程序新，请升级程序。");
    return v;
}

}  // namespace

Stmt::Stmt(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &st_, nullptr) !=
        SQLITE_OK)
        fail(db, std::string(sql.substr(0, 60)));
}

Stmt::~Stmt() {
    sqlite3_finalize(st_);
}

Stmt& Stmt::bind(int i, std::int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
}
Stmt& Stmt::bind(int i, double v) {
    sqlite3_bind_double(st_, i, v);
    return *this;
}
Stmt& Stmt::bind(int i, std::string_view v) {
    sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}
Stmt& Stmt::bindNull(int i) {
    sqlite3_bind_null(st_, i);
    return *this;
}

bool Stmt::step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    std::string msg = sqlite3_errmsg(db_);
    sqlite3_reset(st_);
    throw StoreError("数据库错误：" + msg);
}

void Stmt::run() {
    while (step()) {
    }
    sqlite3_reset(st_);
}

void Stmt::reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
}

std::string Stmt::text(int col) const {
    return std::string(textView(col));
}

std::string_view Stmt::textView(int col) const {
    const auto* p = sqlite3_column_text(st_, col);
    return p ? std::string_view(reinterpret_cast<const char*>(p),
                                static_cast<std::size_t>(sqlite3_column_bytes(st_, col)))
             : std::string_view();
}

Database::Database(const std::string& path) : path_(path) {
    // A connection is used by one thread at a time, so SQLite's own locking
    // around every call is not needed.
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("无法打开数据库 " + path + "：" + msg);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        exec("PRAGMA foreign_keys = ON");
        // A file of a newer program is refused before anything in it changes,
        // its journal mode included.
        checkedVersion(*this);
        exec("PRAGMA journal_mode = WAL");
        exec("PRAGMA synchronous = NORMAL");
        exec("PRAGMA cache_size = -8192");
        migrate();
    } catch (...) {
        // A refused or failed file must not keep its connection open.
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

Database::~Database() {
    sqlite3_close_v2(db_);
}

void Database::exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "";
        sqlite3_free(err);
        throw StoreError("数据库错误：" + msg);
    }
}

int Database::schemaVersion() {
    Stmt s(db_, "PRAGMA user_version");
    s.step();
    return s.i32(0);
}

// Brings an older file up to the current schema, one version at a time, each
// step in its own transaction. A file newer than this program is refused.
void Database::migrate() {
    int v = checkedVersion(*this);
    if (v < 1) {
        Transaction t(*this);
        exec(kSchemaV1);
        exec(journalTable("CaGlide"));
        exec(journalTable("CaCollateGlide"));
        exec("PRAGMA user_version = 1");
        t.commit();
    }
    if (v < 2) {
        Transaction t(*this);
        exec(kImportLog);
        // Every query of the journal tables names the book set, so the index
        // by date alone served none of them, while each stored row paid for it
        // (a statement import wrote a third more).
        exec("DROP INDEX IF EXISTS CaGlide_date; DROP INDEX IF EXISTS CaCollateGlide_date;");
        exec("PRAGMA user_version = 2");
        t.commit();
    }
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.exec("ROLLBACK");
        } catch (...) {
        }
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}

}  // namespace ledgerhost
