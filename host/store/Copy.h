#pragma once

// Copying a whole store through the store interface: a SQLite book-set
// database into an empty database (a server's, or a new file), and the
// backup and restore of a database on a server, which use the same table
// walk, row copy, id counters and checks.
//
// The target's schema is made by the store itself (createDatabaseFile: a new
// file, or a server database without tables, made and filled in one
// transaction), so it is this program's schema; the source is opened as every
// program opens it, which brings an older file up to the same version first.
// Tables are copied parents first (by their foreign keys), each column by its
// declared type, ids included; the target's id counters are then moved past
// the copied ids (and past the source's own counters, which run ahead when
// rows were deleted), so ids stay never reused. The check compares the row
// count and the sum of every amount column (integer cents, the columns named
// "...cents") of each table on both sides.
//
// Every failure throws StoreError with a Chinese message that never shows a
// password; nothing is then stored.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Backup.h"
#include "LhApi.h"

namespace ledgerhost {

// A table's row count and the sum of each of its amount columns.
struct TableFigures {
    std::int64_t rows = 0;
    std::vector<std::pair<std::string, std::int64_t>> sums;
    bool operator==(const TableFigures&) const = default;
};
// "12 行，debit_cents 100.00"
LH_API std::string describeFigures(const TableFigures& f);

struct CopiedTable {
    std::string name;
    TableFigures source, target;  // the target's read afterwards over a new connection
};

// Copies the SQLite database `from` into the empty database `to` in one
// transaction (a target with tables, or a difference found before the
// commit, stores nothing), then reads both sides again. Answers every table's
// figures on both sides; the caller says whether they agree.
LH_API std::vector<CopiedTable> copyDatabase(const std::string& from, const std::string& to);

// A server database's backup: one read snapshot of every table copied into a
// new SQLite ledger file `toPath`, checked as a file backup is.
LH_API BackupResult backupServerDatabase(const std::string& location, const std::string& toPath);

// Restores the backup file into the server database: refuses while another
// program is connected, fills a new schema from the file, checks it, and
// swaps it in with one transaction; the replaced tables stay in the schema
// the result names (replacedPath).
LH_API RestoreResult restoreServerDatabase(const std::string& fromPath,
                                           const std::string& location);

}  // namespace ledgerhost
