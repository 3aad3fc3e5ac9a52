#pragma once

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "LhApi.h"
#include "UserError.h"

namespace ledgerhost {

// A failure of the store; the message is shown to the user as it stands.
class LH_API StoreError : public UserError {
  public:
    using UserError::UserError;
};

// Amounts cross the records as doubles but are kept as integer cents, so that
// balances and totals never drift.
inline std::int64_t toCents(double amount) {
    return std::llround(amount * 100.0);
}
inline double fromCents(std::int64_t cents) {
    return static_cast<double>(cents) / 100.0;
}

// A prepared statement. Columns and parameters are numbered as SQLite numbers
// them (parameters from 1, columns from 0).
class LH_API Stmt {
  public:
    Stmt(sqlite3* db, std::string_view sql);
    ~Stmt();
    Stmt(Stmt&& o) noexcept : db_(o.db_), st_(o.st_) { o.st_ = nullptr; }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, std::int64_t v);
    Stmt& bind(int i, int v) { return bind(i, static_cast<std::int64_t>(v)); }
    Stmt& bind(int i, double v);
    Stmt& bind(int i, std::string_view v);
    Stmt& bind(int i, const char* v) { return bind(i, std::string_view(v)); }
    Stmt& bind(int i, const std::string& v) { return bind(i, std::string_view(v)); }
    Stmt& bindNull(int i);

    // Steps once; true while a row is available.
    bool step();
    // Steps to the end (for statements that return no rows).
    void run();
    void reset();

    std::int64_t i64(int col) const { return sqlite3_column_int64(st_, col); }
    int i32(int col) const { return sqlite3_column_int(st_, col); }
    double dbl(int col) const { return sqlite3_column_double(st_, col); }
    std::string text(int col) const;
    // The text of a column, valid until the statement steps or resets.
    std::string_view textView(int col) const;
    bool isNull(int col) const { return sqlite3_column_type(st_, col) == SQLITE_NULL; }
    // The number of the parameter written ":name" in the text; 0 when the text
    // has none of that name.
    int paramIndex(const char* name) const { return sqlite3_bind_parameter_index(st_, name); }

  private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

// The message a reader or an export gives when the chosen file is one of the
// files of an open book-set database.
inline constexpr const char* kStoreFileRefused = "不能选择账套数据库文件";

// True when `path` names a file of a database open in this process: the
// database itself or its -wal, -shm or -journal file, compared by device and
// inode after resolving links, and by name for a file not yet there. Readers
// and exports refuse such a file: opening and closing another descriptor of
// the database would drop the process's SQLite locks (POSIX locks belong to
// the process and go with the first close of any descriptor of the file).
LH_API bool isStoreFile(const std::string& path);

// One book-set database file: WAL, foreign keys on, a busy handler that waits
// up to busyTimeoutMs() for another program's lock. A connection belongs to
// one thread at a time.
//
// Opening checks the file before anything in it changes: it must be a ledger
// database (its application id, or an older ledger file without one that has
// the ledger's tables), of this program's version or older, with every table
// and index of the schema. A refused file is left byte for byte as it was.
// Only OpenMode::Create makes a new database, and only in a file that does
// not exist yet or is empty.
class LH_API Database {
  public:
    static constexpr int kSchemaVersion = 3;
    // "LDGR": marks a file as a ledger database.
    static constexpr std::int32_t kApplicationId = 0x4C444752;
    static constexpr int kDefaultBusyTimeoutMs = 60000;

    enum class OpenMode { Existing, Create };

    explicit Database(const std::string& path, OpenMode mode = OpenMode::Existing);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    Stmt prepare(std::string_view sql) { return Stmt(db_, sql); }
    void exec(const std::string& sql);
    std::int64_t lastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    int changes() const { return sqlite3_changes(db_); }
    int schemaVersion();
    const std::string& path() const { return path_; }
    sqlite3* raw() const { return db_; }
    bool inTransaction() const { return !sqlite3_get_autocommit(db_); }

    // How long an operation waits for another program's lock before it fails.
    void setBusyTimeoutMs(int ms);
    int busyTimeoutMs() const;

    struct BusyState;

  private:
    struct ReferenceTag {};
    // An in-memory database with the current schema and nothing checked: the
    // reference the files are compared with.
    explicit Database(ReferenceTag);
    void openFile(int flags);
    void validate(bool creating);
    void migrate(bool creating);
    void upgradeFrom(int version);
    void checkComplete();

    sqlite3* db_ = nullptr;
    std::string path_;
    std::unique_ptr<BusyState> busy_;
    bool registered_ = false;
};

// Makes a new database at `path` only if no file is there: fills a new file
// under a temporary name in the same folder (with `fill`) and links it into place without replacing
// anything. Answers false, and leaves the other file alone, when a file appeared at `path`
// meanwhile (another program created it first); the caller then opens that
// file. Only the temporary file is ever removed.
LH_API bool createDatabaseFile(const std::string& path, const std::function<void(Database&)>& fill);

// Begins an immediate transaction; commits on commit(), rolls back otherwise.
class LH_API Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Database& db_;
    bool done_ = false;
};

}  // namespace ledgerhost
