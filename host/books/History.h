#pragma once

// The history of the journal rows (table row_history): who changed a row,
// when (the database's clock), with which program, and what it held before
// and after (every column, as compact JSON). It is written in the
// transaction of the change it records, and only ever added to: nothing in
// the programs updates or deletes it, and the store refuses to (a trigger on
// each engine; on a server the roles may only insert into it).
//
// What is written, and where from:
//  - an insert of one row (the entry dialog): its values;
//  - an update or delete (the entry dialog, the journal window, a managed
//    Save): the values before and after;
//  - an import: one entry for all its rows (the ids row_id … last_row_id,
//    which are consecutive since writers are serialised), beside the import
//    log's entry;
//  - a reconciliation undone: one entry per row taken out of its group
//    (ref_id), written by one statement;
//  - a deleted row restored by an administrator (系统管理): its values.
// A row's reconciliation is not written per row (an automatic run pairs
// tens of thousands at once): rowHistory reads it from the run or group the
// row was in.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

// The row's columns as stored: compact JSON of every column, integers as
// integers, NULL as null. Empty when there is no such row.
LH_API std::string rowValues(Database& db, const std::string& table, std::int64_t id);

// One entry of the history, as rowHistory answers it.
struct LH_API HistoryEntry {
    // insert, import, update, delete, restore, reconcile, unreconcile
    std::string Operation;
    std::string At;        // "YYYY-MM-DD HH:MM:SS"
    std::string User;      // user code
    std::string UserName;  // the user's name (empty when unknown)
    std::string Program;
    std::string Before;  // JSON of the row before (update, delete), else empty
    std::string After;   // JSON of the row after (insert, update, restore), else empty
    // What the entry did in words: the fields an update changed ("摘要：甲 →
    // 乙"), the row inserted or deleted, the file imported, the group.
    std::string Description;
};

// The operation's name as the windows show it ("新增", "修改", …).
LH_API std::string operationName(const std::string& operation);

// The history of one row, oldest first: its insert (or the import that
// brought it), each update, delete and restore, each reconciliation and its
// undo. Rows stored before the history was kept start with their first
// recorded change.
LH_API std::vector<HistoryEntry> rowHistory(Database& db, const std::string& table,
                                            std::int64_t id);

// Writes one entry of a change to a single row; `before`/`after` are JSON (or
// empty). Part of the caller's transaction.
LH_API void recordRowChange(Database& db, const std::string& table, std::int64_t id,
                            const std::string& setCode, const std::string& operation,
                            const std::string& user, const std::string& before,
                            const std::string& after);

// One entry for all the rows a batch inserts into one table (an import):
// made before the batch, it notes the table's highest id; record() then
// writes one entry for the ids the batch was given, when it gave any. Both
// inside the batch's transaction.
class LH_API BatchHistory {
  public:
    BatchHistory(Database& db, std::string table);
    // `refId`: the import log's entry, or 0 (the import from vouchers).
    void record(const std::string& setCode, const std::string& user, std::int64_t refId);

  private:
    Database& db_;
    std::string table_;
    std::int64_t before_ = 0;
};

// A row deleted from a book set and not restored since.
struct LH_API DeletedRow {
    std::string Table;
    std::int64_t Id = 0;
    std::string Values;  // JSON of the row as it was deleted
    std::string DeletedBy;
    std::string DeletedByName;
    std::string DeletedAt;
    std::string Program;
};
// The rows deleted from the book set's journal tables, the latest first.
LH_API std::vector<DeletedRow> deletedRows(Database& db, const std::string& setCode);

// Puts a deleted row back exactly as it was (the same id, number and values)
// and records it. Done by an administrator; refused with the reason when the
// row is there again, its year was carried forward, its book set is locked
// or gone, its account is gone or stopped, or its 统一号 has been given to
// another row meanwhile. Throws StoreError; nothing changes then.
LH_API void restoreDeletedRow(Database& db, const std::string& actor, const std::string& table,
                              std::int64_t id);

// Why a save or a deletion based on a row loaded at `version` cannot go on:
// the row was deleted, or changed since, by whom and when ("这条记录已被 张三
// 于 … 修改，请刷新后再操作。"). Empty when the stored row is still at that
// version.
LH_API std::string rowChangedProblem(Database& db, const std::string& table, std::int64_t id,
                                     std::int64_t version);

}  // namespace ledgerhost
