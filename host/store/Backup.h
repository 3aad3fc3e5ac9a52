#pragma once

// Backing up and restoring a book-set database file.
//
// A backup is a consistent copy of a live database: SQLite's online backup
// copies the pages of one read transaction (in WAL mode a reader holds up no
// writer, so windows and imports keep storing meanwhile) into a new file
// beside the target, which is checked (integrity, the ledger's application id
// and schema version, the row count of every table against the snapshot it
// copied) and then linked into place without replacing anything.
//
// A restore checks the backup first, takes the database away from nobody (it
// refuses while any other program has the file open), copies the backup to a
// new file beside the database, checks that copy, and renames it into place;
// the replaced database stays, whole, under a dated name.
//
// Every failure throws StoreError with a Chinese message; nothing the caller
// named is then changed.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "LhApi.h"

namespace ledgerhost {

// A table's name and its row count.
using TableCounts = std::vector<std::pair<std::string, std::int64_t>>;

struct BackupResult {
    std::string path;  // the backup file made
    int schemaVersion = 0;
    TableCounts tables;
    std::int64_t bytes = 0;
};

struct RestoreResult {
    std::string path;          // the database restored
    std::string replacedPath;  // where the database it replaced is kept; empty when none was there
    std::string replacedSchema;  // on a server: the schema that keeps the replaced tables
    int schemaVersion = 0;       // of the backup
    TableCounts tables;
};

// Pages copied so far and the database's page count, reported while the copy
// runs.
using BackupProgress = std::function<void(int done, int total)>;

// Copies the database `dbPath` into the new file `toPath` (which must not
// exist) and checks the copy. A database on a server is backed up by
// backupServerDatabase (Copy.h).
LH_API BackupResult backupDatabase(const std::string& dbPath, const std::string& toPath,
                                   const BackupProgress& progress = {});

// Checks the backup `fromPath` and restores it as the database `dbPath`
// (which may not exist yet). Refuses while another program has `dbPath` open.
// A database on a server is restored by restoreServerDatabase (Copy.h).
LH_API RestoreResult restoreDatabase(const std::string& fromPath, const std::string& dbPath);
// (A `dbPath` that is a symbolic link is restored where it points.)

// The checks a backup file passes before it is restored: it opens read-only,
// passes integrity_check, carries the ledger's application id and a schema
// version not newer than this program's. Answers its tables' row counts.
LH_API TableCounts checkBackupFile(const std::string& fromPath, int* schemaVersion = nullptr);

}  // namespace ledgerhost
