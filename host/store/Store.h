#pragma once

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

namespace pg {
class Connection;
class Statement;
}  // namespace pg

// A prepared statement. Columns and parameters are numbered as SQLite numbers
// them (parameters from 1, columns from 0); parameters are written ?N, ? or
// :name on either engine (the server's engine rewrites them to $N).
//
// A statement belongs to the engine of its database: a SQLite statement reads
// its columns straight from SQLite (one branch, no virtual call, no copy), a
// server statement from the result libpq holds.
class LH_API Stmt {
  public:
    ~Stmt();
    Stmt(Stmt&& o) noexcept : db_(o.db_), st_(o.st_), pg_(o.pg_) {
        o.st_ = nullptr;
        o.pg_ = nullptr;
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, std::int64_t v);
    Stmt& bind(int i, int v) { return bind(i, static_cast<std::int64_t>(v)); }
    Stmt& bind(int i, double v);
    Stmt& bind(int i, std::string_view v);
    Stmt& bind(int i, const char* v) { return bind(i, std::string_view(v)); }
    Stmt& bind(int i, const std::string& v) { return bind(i, std::string_view(v)); }
    // Binds text without copying it: it must stay as it is until the
    // statement is bound again, reset or destroyed.
    Stmt& bindStatic(int i, std::string_view v);
    Stmt& bindNull(int i);

    // Steps once; true while a row is available.
    bool step();
    // Steps to the end (for statements that return no rows); keeps the
    // bindings, so the statement can be run again with some of them changed.
    void run();
    // Ends the statement and clears its bindings.
    void reset();
    // Ends the statement and keeps its bindings, for a caller that binds
    // every parameter again before the next step.
    void resetKeepingBindings();
    // Runs a statement ending in "RETURNING <one column>" (an INSERT's new
    // id): answers the first row's value, 0 without a row, and ends the
    // statement keeping its bindings.
    std::int64_t returning();
    // Runs a statement made by Database::prepareInsert and answers the id of
    // the row it inserted; keeps the bindings.
    std::int64_t insert();
    // For a query with many rows: on a server its rows are read as the
    // statement steps rather than all at once (SQLite always steps so).
    // Another statement run meanwhile first reads the rest into memory.
    Stmt& streamRows();

    std::int64_t i64(int col) const { return st_ ? sqlite3_column_int64(st_, col) : pgI64(col); }
    int i32(int col) const {
        return st_ ? sqlite3_column_int(st_, col) : static_cast<int>(pgI64(col));
    }
    double dbl(int col) const { return st_ ? sqlite3_column_double(st_, col) : pgDbl(col); }
    std::string text(int col) const;
    // The text of a column, valid until the statement steps or resets.
    std::string_view textView(int col) const;
    bool isNull(int col) const {
        return st_ ? sqlite3_column_type(st_, col) == SQLITE_NULL : pgIsNull(col);
    }
    // What a row read holds, column by column, for code that copies whole
    // rows (the history of a journal row): the number of columns, each
    // one's name, and the kind of the value in the current row.
    enum class Kind { Null, Integer, Real, Text };
    int columnCount() const;
    std::string columnName(int col) const;
    Kind columnKind(int col) const;
    // The number of the parameter written ":name" in the text; 0 when the text
    // has none of that name.
    int paramIndex(const char* name) const;

  private:
    friend class Database;
    Stmt(sqlite3* db, std::string_view sql);
    explicit Stmt(pg::Statement* pg) : pg_(pg) {}
    std::int64_t pgI64(int col) const;
    double pgDbl(int col) const;
    bool pgIsNull(int col) const;

    sqlite3* db_ = nullptr;
    sqlite3_stmt* st_ = nullptr;
    pg::Statement* pg_ = nullptr;
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

// The files of a database beside its own name: itself, its WAL, its shared
// memory and its rollback journal.
inline constexpr const char* kStoreSideFiles[] = {"", "-wal", "-shm", "-journal"};

// A plain reason for a failed file operation (an errno value), with the
// system's text kept for the ones that have no plainer words.
LH_API std::string systemReason(int err);

// What a SQLite file's header says of it, read without changing anything:
// SQLite's immutable mode neither replays nor removes another program's
// write-ahead log, and takes no lock. `readable` is false for a file that is
// not a SQLite database at all.
struct FileMark {
    bool readable = false;
    std::int32_t applicationId = 0;
    int userVersion = 0;
    std::int64_t pages = 0;
    // Another program's database: its own application id, or none and no
    // version (a ledger file always has a version).
    bool foreign(std::int32_t ours) const {
        return readable && pages > 0 &&
               (applicationId != 0 ? applicationId != ours : userVersion == 0);
    }
};
LH_API FileMark readFileMark(const std::string& path);

// Writes "***" over the password of every server location among the
// program's arguments ("postgresql://user:secret@…" in any letter case,
// "password=secret"), whatever its length, so that the process list shows
// none once the arguments have been read. A program calls it after it has
// copied what it needs from argv; the password itself belongs in ~/.pgpass or
// PGPASSWORD.
LH_API void hidePasswordsInArguments(int argc, char** argv);
// The same on one text: every password replaced by "***".
LH_API std::string maskedPasswords(std::string_view text);
// Where the passwords of the server locations in a text stand: [from, to)
// spans, in order (the user information of a URI up to its last '@', and the
// value of every password= parameter or pair).
LH_API std::vector<std::pair<std::size_t, std::size_t>> passwordSpans(std::string_view text);
// `message` with the password of `target` (a server location) taken out
// wherever it appears, whole or in the pieces a libpq message may quote of a
// password holding '/', '@' or ':', and `target` itself shown as
// Database::displayLocation shows it.
LH_API std::string withoutPassword(std::string message, const std::string& target);

class Database;
LH_API bool createDatabaseFile(const std::string& path, const std::function<void(Database&)>& fill);

// One book-set database: a SQLite file, or a database on a PostgreSQL server
// named by a libpq URI ("postgresql://user@host:port/dbname", "postgres://…")
// or a service ("service=NAME"). Callers see the same interface either way.
//
// SQLite: WAL, foreign keys on, a busy handler that waits up to
// busyTimeoutMs() for another program's lock. A connection belongs to one
// thread at a time.
//
// Opening checks the database before anything in it changes: it must be a
// ledger database (its application id, or an older ledger file without one
// that has the ledger's tables; on the server the id and version kept in the
// table ledger_meta), of this program's version or older, with every table
// and index of the schema. A refused database is left as it was. Only
// OpenMode::Create makes a new database, and only in a file that does not
// exist yet or is empty (on the server: a database or schema without tables).
class LH_API Database {
  public:
    static constexpr int kSchemaVersion = 10;
    // "LDGR": marks a file as a ledger database.
    static constexpr std::int32_t kApplicationId = 0x4C444752;
    static constexpr int kDefaultBusyTimeoutMs = 60000;

    enum class OpenMode { Existing, Create };
    enum class Engine { SQLite, PostgreSQL };

    // `location` is a file path or a server's connection string (see
    // isServerLocation); a password in it is used to connect but never shown.
    explicit Database(const std::string& location, OpenMode mode = OpenMode::Existing);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // True when `location` names a server database rather than a file.
    static bool isServerLocation(std::string_view location);
    // True when there is no database at `location` yet: no file there, or a
    // server database without tables. Nothing is created or changed.
    static bool isMissing(const std::string& location);
    // The location as messages may show it: a server's password removed.
    static std::string displayLocation(std::string_view location);

    Stmt prepare(std::string_view sql);
    // An INSERT into a table with an "id" key whose new id Stmt::insert()
    // answers: SQLite reads its last rowid (cheaper than RETURNING there), the
    // server appends "RETURNING id".
    Stmt prepareInsert(std::string_view sql);
    // Runs statements without parameters (several, separated by ";").
    void exec(const std::string& sql);
    // Gives each row of `table` named in `values` (id, value; sorted by id,
    // ids unique) its own value of `column`, with the fixed assignments
    // `alsoSet` (e.g. "reconciled = 1", or empty), where `condition` also holds
    // for the row (its parameters ?1, ?2, … bound from `binds`). One statement:
    // on SQLite a walk over the ids' range that looks the values up in memory,
    // on a server a join with the lists sent as two arrays. Answers the number
    // of rows changed. `table`, `column`, `alsoSet` and `condition` are the
    // caller's own SQL text, never user input.
    std::int64_t updateById(const std::string& table, const std::string& column,
                            const std::vector<std::pair<std::int64_t, std::int64_t>>& values,
                            const std::string& alsoSet, const std::string& condition,
                            const std::vector<std::string>& binds);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;
    int schemaVersion();
    // The file's canonical path, or the server location without a password.
    const std::string& path() const { return path_; }
    // On a server: the schema that holds the ledger, the first along the
    // connection's search path that has its tables (where a new one is made:
    // the first schema of the path). Empty for a file.
    const std::string& serverSchema() const { return serverSchema_; }
    // On a server: the role that owns the ledger's tables.
    std::string serverOwner();
    Engine engine() const { return pg_ ? Engine::PostgreSQL : Engine::SQLite; }
    bool inTransaction() const;
    // Begins a transaction that only reads and sees one state of the
    // database throughout; end it with exec("ROLLBACK") or "COMMIT".
    void beginRead();
    // The database's date and time, "YYYY-MM-DD HH:MM:SS": the server's
    // clock on a server, the machine's for a file.
    std::string serverTime();

    // How long an operation waits for another program's lock before it fails.
    void setBusyTimeoutMs(int ms);
    int busyTimeoutMs() const;

    struct BusyState;

  private:
    friend class Transaction;
    friend class BulkInsert;
    struct ReferenceTag {};
    struct ProbeTag {};
    // A connection to a server database, nothing checked (isMissing).
    Database(const std::string& location, ProbeTag);
    // An in-memory database with the current schema and nothing checked: the
    // reference the files are compared with.
    explicit Database(ReferenceTag);
    // A new server database made and filled with `fillOnCreate` in one
    // transaction (createDatabaseFile).
    Database(const std::string& location, const std::function<void(Database&)>& fillOnCreate);
    friend bool createDatabaseFile(const std::string& path,
                                   const std::function<void(Database&)>& fill);
    void openServer(const std::string& location, bool creating);
    void findServerSchema();
    void openFile(int flags);
    void validate(bool creating);
    void validateServer(bool creating);
    void migrate(bool creating);
    void upgradeFrom(int version);
    bool hasColumn(const std::string& table, const std::string& column);
    void keepHistoryTables();
    void execSchema(const std::string& sqliteDdl);
    void setSchemaVersion(int version);
    void checkComplete();
    void beginWrite();

    sqlite3* db_ = nullptr;
    std::unique_ptr<pg::Connection> pg_;
    std::string path_;
    std::string serverSchema_;
    // Set while an upgrade acts as the tables' owner (SET LOCAL ROLE).
    bool upgradeAsOwner_ = false;
    std::unique_ptr<BusyState> busy_;
    const std::function<void(Database&)>* fillOnCreate_ = nullptr;
    bool registered_ = false;
};

// Makes a new database at `path` only if no file is there: fills a new file
// under a temporary name in the same folder (with `fill`) and links it into place without replacing
// anything. Answers false, and leaves the other file alone, when a file appeared at `path`
// meanwhile (another program created it first); the caller then opens that
// file. Only the temporary file is ever removed. On a server, the schema and
// `fill` are one transaction in a database that has no tables yet; answers
// false when it has (another program created it first, or it was in use).
LH_API bool createDatabaseFile(const std::string& path, const std::function<void(Database&)>& fill);

// Begins a write transaction; commits on commit(), rolls back otherwise.
// Writers are serialised: SQLite's BEGIN IMMEDIATE, on the server a
// transaction-scoped advisory lock of the ledger taken before anything is
// read, so a number read and then written cannot be taken by another writer
// in between. Waiting for the lock reports through the wait hook and gives up
// after the busy timeout.
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
    bool savepoint_ = false;
};

// A transaction that only reads, for the length of a scope: every statement
// in it sees the same state of the database, and the file is locked once
// rather than once per statement. Inside an open transaction it does
// nothing; it ends without writing anything.
class LH_API ReadSnapshot {
  public:
    explicit ReadSnapshot(Database& db);
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

  private:
    Database& db_;
    bool own_;
};

// Makes the journals' kept day totals (journal_days) again from the journal
// tables' rows, in one transaction (a savepoint inside the caller's).
LH_API void fillJournalDays(Database& db);

// For the length of one bulk operation that reads much of a table and then
// rewrites it: SQLite keeps up to `megabytes` of the file's pages in memory,
// so the rewrite finds the pages the read brought in (with the store's usual
// size it read them all again, and wrote changed ones out before the commit).
// Back to the store's own size afterwards. A server manages its own memory.
class LH_API LargerPageCache {
  public:
    LargerPageCache(Database& db, int megabytes);
    ~LargerPageCache();
    LargerPageCache(const LargerPageCache&) = delete;
    LargerPageCache& operator=(const LargerPageCache&) = delete;

  private:
    Database& db_;
    std::int64_t previous_ = 0;
    bool changed_ = false;
};

// Inserts many rows into one table inside the caller's transaction: SQLite
// runs one prepared INSERT per row, the server takes them through COPY.
// Values are given column by column, in the order of `columns`; a row ends
// with endRow(). finish() ends the insert (the destructor abandons an
// unfinished one, and the caller's transaction must then be rolled back).
class LH_API BulkInsert {
  public:
    BulkInsert(Database& db, const std::string& table, const std::vector<std::string>& columns);
    ~BulkInsert();
    BulkInsert(const BulkInsert&) = delete;
    BulkInsert& operator=(const BulkInsert&) = delete;

    BulkInsert& add(std::int64_t v);
    BulkInsert& add(int v) { return add(static_cast<std::int64_t>(v)); }
    BulkInsert& add(double v);
    BulkInsert& add(std::string_view v);
    BulkInsert& add(const char* v) { return add(std::string_view(v)); }
    BulkInsert& add(const std::string& v) { return add(std::string_view(v)); }
    BulkInsert& addNull();
    void endRow();
    // Ends the insert; answers the number of rows inserted.
    std::int64_t finish();

  private:
    void flush();
    Database& db_;
    std::optional<Stmt> insert_;
    int column_ = 0;
    int columns_ = 0;
    std::int64_t rows_ = 0;
    bool copying_ = false;
    std::string buffer_;
};

}  // namespace ledgerhost
