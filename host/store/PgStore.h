#pragma once

// The PostgreSQL engine of the store (libpq). Only host/Store.cpp and the
// tests of the engine include this; everything else uses Database and Stmt.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "LhApi.h"

struct pg_conn;
struct pg_result;

namespace ledgerhost::pg {

class Statement;

// A statement's text with its parameters rewritten to $N: "?N" keeps its
// number, "?" takes the next one, ":name", "@name" and "$name" take a number at
// their first appearance (as SQLite numbers them). LIKE becomes ILIKE, which
// matches letters regardless of case as SQLite's LIKE does. Nothing inside a
// string literal, a quoted name or a comment changes, and "::" casts stay.
struct Rewritten {
    std::string sql;
    // names[i] is the name (with its sign) of parameter i + 1, empty for a
    // numbered one; used[i] says whether the text refers to it at all.
    std::vector<std::string> names;
    std::vector<char> used;
};
LH_API Rewritten rewriteParameters(std::string_view sql);

// The schema steps are written for SQLite; this turns one into the server's
// types: integer columns 64-bit, REAL double precision, an INTEGER PRIMARY KEY
// an identity column, text compared byte by byte as SQLite compares it.
LH_API std::string schemaDdl(std::string_view sqliteDdl);

// True when `location` is a libpq URI or a key=value connection string.
LH_API bool isServerLocation(std::string_view location);
// `location` with any password removed (URI user info or "password=" key).
LH_API std::string redact(std::string_view location);

// One connection to the server. A lost connection fails the current
// operation; the next operation outside a transaction connects again.
class Connection {
  public:
    Connection(const std::string& location, int busyTimeoutMs);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The live connection: reconnects first when it was lost outside a
    // transaction; throws when it was lost inside one (the server has rolled
    // it back) or when connecting fails. A statement still streaming its rows
    // (other than `user`) first reads the rest of them into memory, so that
    // the connection is free for the next statement.
    pg_conn* live(Statement* user = nullptr);
    void setStreaming(Statement* s) { streaming_ = s; }
    Statement* streaming() const { return streaming_; }
    // Runs statements without parameters.
    void exec(const std::string& sql);
    // Runs `run` once, and once more on a new connection when it found the
    // connection lost and `sql` only reads outside a transaction.
    template <class Run>
    void once(std::string_view sql, Run run);
    // Checks a result: answers it when it succeeded, otherwise clears it and
    // throws the message for the failure (`sql` names the statement).
    pg_result* check(pg_result* res, std::string_view sql);
    // Notes the end of a statement (its changed-rows count and whether a
    // transaction is open).
    void noteResult(pg_result* res);

    bool inTransaction() const { return inTransaction_; }
    // The connection is up as far as libpq knows (false once a call found it
    // lost; the next call reconnects outside a transaction).
    bool connected() const;
    int changes() const { return changes_; }
    void setLockTimeout(int ms);
    const std::string& display() const { return display_; }
    pg_conn* raw() const { return conn_; }

  private:
    void connect();
    void execOnce(const std::string& sql);
    void setUp();
    std::string location_;
    std::string display_;
    pg_conn* conn_ = nullptr;
    int lockTimeoutMs_;
    int changes_ = 0;
    bool inTransaction_ = false;
    bool everConnected_ = false;
    Statement* streaming_ = nullptr;
};

// A statement on one connection. It runs at its first step() after being
// bound; its rows stay in libpq's result until the next run or reset.
class Statement {
  public:
    Statement(Connection& c, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int i, std::string value, unsigned type);
    void bindNull(int i);
    bool step();
    void run();
    void reset();
    int paramIndex(const char* name) const;
    // Rows come from the server as they are read (libpq's single-row mode)
    // instead of all at once: a large result is not held twice.
    void setStreaming(bool on) { stream_ = on; }
    // Reads the rest of a streaming result into memory.
    void drain();

    const char* value(int col) const;
    int length(int col) const;
    bool isNull(int col) const;
    // The result's columns: how many, their names and their types (pg_type
    // oids); nothing before the statement has run.
    int columnCount() const;
    const char* columnName(int col) const;
    unsigned columnType(int col) const;

  private:
    void execute();
    void executeOnce();
    void clearResult();
    bool nextStreamed();
    void endStream();
    Connection& c_;
    Rewritten rw_;
    std::vector<std::string> values_;
    std::vector<char> isSet_;
    std::vector<unsigned> types_;
    pg_result* res_ = nullptr;
    int row_ = -1;
    int rows_ = 0;
    bool active_ = false;
    bool stream_ = false;
    bool streaming_ = false;           // results still to be read from libpq
    std::deque<pg_result*> buffered_;  // rows read ahead by drain()
};

// Type numbers of the server (pg_type oids) used when binding.
inline constexpr unsigned kInt8Oid = 20;
inline constexpr unsigned kTextOid = 25;
inline constexpr unsigned kFloat8Oid = 701;

}  // namespace ledgerhost::pg
