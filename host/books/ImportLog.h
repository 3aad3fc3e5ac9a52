#pragma once

// The log of imported files. Every statement or wizard import that stores rows
// writes one entry in the same transaction as the rows: the SHA-256 digest of
// the file's bytes, its name, the book set, the account(s), the number of rows,
// the user and the time. The store keeps one entry per book set and digest, so
// the same content cannot be stored twice by accident, not even by two imports
// started at once: the second finds the first one's entry and stores nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Digest.h"
#include "History.h"
#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

class TCaGlideMng;

struct LH_API ImportLogEntry {
    std::string SetCode;
    std::string Digest;    // SHA-256 of the file's bytes, lower-case hex
    std::string FileName;  // the file's absolute path when it was imported
    std::string Accounts;  // the accounts' numbers, "、" between them
    std::int64_t RowCount = 0;
    std::string UserCode;
    std::string ImportedAt;  // "YYYY-MM-DD HH:MM:SS", local time
};

// The content of the file was imported into the book set before.
class LH_API AlreadyImportedError : public StoreError {
  public:
    explicit AlreadyImportedError(const ImportLogEntry& earlier);
    ImportLogEntry Earlier;
};

// The earlier import of this content into the book set, if any.
LH_API std::optional<ImportLogEntry> findImport(Database& db, const std::string& setCode,
                                                const std::string& digest);

// "文件 D:/a.txt 已于 2024-05-01 10:00:00 由用户 admin 导入账号 6222…（12 行）".
LH_API std::string describeImport(const ImportLogEntry& e);

// One import's transaction. Opening it writes the log entry first, under the
// store's write lock, so the unique key on (book set, digest) decides at once
// which of two imports of one content goes on: a content already logged throws
// AlreadyImportedError unless `again` (then the entry is replaced). Rows are
// then saved through a journal manager as they are built (each Save becomes a
// savepoint of this transaction, so pending rows stay few), and commit
// completes the entry with the accounts and the row count and writes the
// rows' one history entry (History.h: the ids the import gave in `table`, who,
// when and which program). Destroyed without commit, it rolls everything
// back. The entry's time and user are filled in when empty.
class LH_API LoggedImport {
  public:
    LoggedImport(ImportLogEntry entry, bool again, const std::string& table = "CaCollateGlide");
    void commit(const std::string& accounts, std::int64_t rows);

  private:
    Database& db_;
    Transaction transaction_;
    ImportLogEntry entry_;
    std::optional<BatchHistory> history_;
};

// Stores the manager's pending rows and the log entry in one transaction (the
// entry's time and user filled in when empty). An entry for the same content
// refuses the whole import with AlreadyImportedError, storing nothing, unless
// `again` is set: then the entry is replaced by this import's.
LH_API void saveWithImportLog(TCaGlideMng& mng, ImportLogEntry entry, bool again);

}  // namespace ledgerhost
