#pragma once

// A database of one engine for tests that run on both: a SQLite file in a
// temporary folder, or a new database on the PostgreSQL server that
// LEDGER_TEST_PG names (a libpq connection URI), dropped afterwards. Without
// LEDGER_TEST_PG the server's half is skipped, with the reason in skip().

#include <libpq-fe.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace testutil {

// `uri` (a libpq connection URI) naming database `name` instead of its own.
inline std::string withDatabase(const std::string& uri, const std::string& name) {
    const auto scheme = uri.find("://");
    if (scheme == std::string::npos) return {};
    const auto query = uri.find('?', scheme + 3);
    const auto slash = uri.find('/', scheme + 3);
    const std::string params = query == std::string::npos ? "" : uri.substr(query);
    const std::size_t end = std::min(slash, query == std::string::npos ? uri.size() : query);
    return uri.substr(0, end) + "/" + name + params;
}

// A database of the test book for one engine: a file in a temporary folder,
// or a new database on the server LEDGER_TEST_PG names (dropped afterwards).
class TestStore {
  public:
    explicit TestStore(const std::string& engine) {
        if (engine == "sqlite") {
            db_ = dir_.filePath("book.db").toStdString();
            return;
        }
        const char* server = std::getenv("LEDGER_TEST_PG");
        if (!server || !*server) {
            skip_ = "LEDGER_TEST_PG is not set: no PostgreSQL server to run on";
            return;
        }
        server_ = server;
        static int serial = 0;
        name_ = "ledger_ws_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
        db_ = withDatabase(server_, name_);
        if (db_.empty()) {
            error_ = "LEDGER_TEST_PG is not a connection URI";
            return;
        }
        admin("DROP DATABASE IF EXISTS " + name_);
        if (error_.empty()) admin("CREATE DATABASE " + name_);
    }
    ~TestStore() {
        // LEDGER_TEST_KEEP keeps the server's databases for a look afterwards.
        if (std::getenv("LEDGER_TEST_KEEP")) return;
        for (const std::string& other : others_)
            admin("DROP DATABASE IF EXISTS " + other + " WITH (FORCE)");
        if (!name_.empty()) admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    }
    const std::string& db() const { return db_; }
    const std::string& skip() const { return skip_; }
    const std::string& error() const { return error_; }
    const QTemporaryDir& dir() const { return dir_; }
    // A further database of the same engine (a new file, or a new database
    // on the server), created empty; its name or URI.
    std::string another(const std::string& suffix) {
        if (server_.empty())
            return dir_.filePath(QString::fromStdString(suffix) + ".db").toStdString();
        const std::string name = name_ + "_" + suffix;
        admin("DROP DATABASE IF EXISTS " + name);
        admin("CREATE DATABASE " + name);
        others_.push_back(name);
        return withDatabase(server_, name);
    }

  private:
    void admin(const std::string& sql) {
        PGconn* c = PQconnectdb(server_.c_str());
        PQsetNoticeProcessor(
            c, [](void*, const char*) {}, nullptr);
        if (PQstatus(c) != CONNECTION_OK) {
            error_ = PQerrorMessage(c);
        } else {
            PGresult* r = PQexec(c, sql.c_str());
            if (PQresultStatus(r) != PGRES_COMMAND_OK) error_ = PQresultErrorMessage(r);
            PQclear(r);
        }
        PQfinish(c);
    }

    QTemporaryDir dir_;
    std::string db_, server_, name_, skip_, error_;
    std::vector<std::string> others_;
};

}  // namespace testutil
