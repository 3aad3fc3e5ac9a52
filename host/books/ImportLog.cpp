#include "ImportLog.h"

#include <QDateTime>
#include <QFileInfo>

#include "Glide.h"
#include "Records.h"

namespace ledgerhost {

AlreadyImportedError::AlreadyImportedError(const ImportLogEntry& earlier)
    : StoreError("这个文件的内容已经导入过：" + describeImport(earlier) + "。"), Earlier(earlier) {}

std::optional<ImportLogEntry> findImport(Database& db, const std::string& setCode,
                                         const std::string& digest) {
    Stmt s = db.prepare(
        "SELECT file_name, accounts, row_count, user_code, imported_at FROM import_log "
        "WHERE set_code = ? AND digest = ?");
    s.bind(1, setCode).bind(2, digest);
    if (!s.step()) return std::nullopt;
    return ImportLogEntry{setCode, digest, s.text(0), s.text(1), s.i64(2), s.text(3), s.text(4)};
}

std::string describeImport(const ImportLogEntry& e) {
    return "文件 " + e.FileName + " 已于 " + e.ImportedAt + " 由用户 " + e.UserCode + " 导入账号 " +
           e.Accounts + "（" + std::to_string(e.RowCount) + " 行）";
}

LoggedImport::LoggedImport(ImportLogEntry entry, bool again, const std::string& table)
    : db_(currentDb()), transaction_(db_), entry_(std::move(entry)) {
    // The file's absolute path: a relative one would name another file, or
    // none, when a later import from another folder reports this one.
    if (!entry_.FileName.empty())
        entry_.FileName =
            QFileInfo(QString::fromStdString(entry_.FileName)).absoluteFilePath().toStdString();
    if (entry_.ImportedAt.empty())
        entry_.ImportedAt =
            QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
    if (entry_.UserCode.empty() && User) entry_.UserCode = User->Code;
    Stmt insert =
        db_.prepare(std::string("INSERT INTO import_log (set_code, digest, file_name, accounts, "
                                "row_count, user_code, imported_at) VALUES (?, ?, ?, ?, ?, ?, "
                                "?) ") +
                    (again ? "ON CONFLICT (set_code, digest) DO UPDATE SET "
                             "file_name = excluded.file_name, accounts = "
                             "excluded.accounts, row_count = excluded.row_count, "
                             "user_code = excluded.user_code, imported_at = "
                             "excluded.imported_at"
                           : "ON CONFLICT (set_code, digest) DO NOTHING"));
    insert.bind(1, entry_.SetCode)
        .bind(2, entry_.Digest)
        .bind(3, entry_.FileName)
        .bind(4, entry_.Accounts)
        .bind(5, entry_.RowCount)
        .bind(6, entry_.UserCode)
        .bind(7, entry_.ImportedAt);
    insert.run();
    if (db_.changes() == 0) {
        std::optional<ImportLogEntry> earlier = findImport(db_, entry_.SetCode, entry_.Digest);
        throw AlreadyImportedError(earlier ? *earlier : entry_);
    }
    history_.emplace(db_, table);
}

void LoggedImport::commit(const std::string& accounts, std::int64_t rows) {
    Stmt update = db_.prepare(
        "UPDATE import_log SET accounts = ?, row_count = ? WHERE set_code = ? AND digest = ?");
    update.bind(1, accounts).bind(2, rows).bind(3, entry_.SetCode).bind(4, entry_.Digest);
    update.run();
    Stmt id = db_.prepare("SELECT id FROM import_log WHERE set_code = ? AND digest = ?");
    id.bind(1, entry_.SetCode).bind(2, entry_.Digest);
    history_->record(entry_.SetCode, entry_.UserCode, id.step() ? id.i64(0) : 0);
    transaction_.commit();
}

void saveWithImportLog(TCaGlideMng& mng, ImportLogEntry entry, bool again) {
    const std::string accounts = entry.Accounts;
    const std::int64_t rows = entry.RowCount;
    LoggedImport import(std::move(entry), again, mng.TableName());
    mng.Save();
    import.commit(accounts, rows);
}

}  // namespace ledgerhost
