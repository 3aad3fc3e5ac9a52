#pragma once

// Bank-statement importers: an ICBC statement text file and a CCB statement
// workbook become bank-statement rows, stored with one Save. They work without
// widgets: importStatement returns what happened, and the command-line tool
// prints it; the journal window shows it in message boxes (runStatementImport,
// RunStatementImport.h).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Glide.h"
#include "ImportLog.h"
#include "untFileToStringArray.h"

// Called before each row with the rows done and the total; answering false
// cancels the import (nothing is stored).
using ImportProgress = std::function<bool(int done, int total)>;

// Asked when the file's content is in the import log already: true imports it
// again, false stores nothing.
using ConfirmReimport = std::function<bool(const ledgerhost::ImportLogEntry& earlier)>;

// The person declined to import a content already imported; nothing stored.
class ImportDeclined : public ImportError {
  public:
    ImportDeclined() : ImportError("没有导入任何记录。") {}
};

// Steps shared by the statement importers.
namespace glideimport {

// True when the file name's extension (from its last ".") is `ext`, letter
// case aside.
bool hasExtension(const std::string& fileName, const std::string& ext);
// "1234-转账-工资" -> pay code "1234", summary "转账-工资"; without "-" the whole
// text is the summary.
void splitPayCode(const std::string& field, std::string& payCode, std::string& summary);
// The name a statement gets once imported: "[已导入]" before the extension.
std::string importedName(const std::string& fileName);
// Drops the account records loaded by an import and unscopes the manager.
void resetAccountManager();

// What an import does about a content already in the import log: nothing when
// `again` is set; else asks `confirm` (answering yes sets `again`) or, without
// it or on no, refuses (AlreadyImportedError, or ImportDeclined after a no).
void checkNotImported(const std::string& digest, bool& again, const ConfirmReimport& confirm);

// Opens the import's one transaction with the file's entry in the import log
// (see LoggedImport); rows saved before its commit belong to it.
std::unique_ptr<ledgerhost::LoggedImport> beginLogged(const std::string& fileName,
                                                      const std::string& digest, bool again);

// Renames an imported file with the marker; on failure answers why (empty
// when it was renamed).
std::string markImported(const std::string& fileName);

// Saves the rows an import added so far into its open import transaction once
// they are many, so that a long statement never holds all its rows at once.
// Only when the manager held nothing else before the import: rows someone else
// added stay pending as they were.
constexpr std::size_t kBatch = 4096;
void saveBatch(ledgerhost::TCaGlideMng& mng, const ledgerhost::PendingRollback& rollback);

}  // namespace glideimport

class TICBCGlideImport {
  public:
    // Checks the extension, creates the text reader and reads the account line.
    explicit TICBCGlideImport(const std::string& fileName);
    ~TICBCGlideImport();

    ledgerhost::TCaGlideMng* GlideMng = nullptr;  // not owned
    std::unique_ptr<TFileToArray> Reader;
    std::string AccountNo;
    bool Imported = false;
    ImportProgress Progress;
    bool Again = false;  // import even when the content is in the import log
    ConfirmReimport ConfirmAgain;
    int StoredRows = 0;  // after Import: the rows stored
    // After Import: the breaks in the bank's balances (BankBalanceCheck), one
    // sentence each; none when the file has no balances or they all agree.
    std::vector<std::string> BalanceWarnings;
    std::size_t BalanceBreaks = 0;  // all of them, listed or not

    // The longest line a statement may have: a file with a longer one (or
    // none at all) is not a statement, and is refused without being held.
    static constexpr std::size_t kMaxLineBytes = 65536;

    void ReadAccountNo(const std::string& fileName);
    // Adds one entry per statement line to GlideMng and saves them all; throws
    // ImportError (or the host's error) with the message. A failed import
    // leaves nothing of its own in GlideMng.
    void Import();
};

class TCCBGlideImport {
  public:
    explicit TCCBGlideImport(const std::string& fileName);
    ~TCCBGlideImport();

    ledgerhost::TCaGlideMng* GlideMng = nullptr;  // not owned
    std::unique_ptr<TFileToArray> Reader;
    bool Imported = false;
    ImportProgress Progress;
    bool Again = false;  // import even when the content is in the import log
    ConfirmReimport ConfirmAgain;
    int StoredRows = 0;                        // after Import: the rows stored
    std::string StoredAccounts;                // and the numbers of their accounts
    std::vector<std::string> BalanceWarnings;  // as for the ICBC import
    std::size_t BalanceBreaks = 0;

    void Import();
};

enum class StatementKind { ICBC, CCB };

// What one statement import did, for the caller to show: nothing of it has
// been shown to anyone.
struct StatementImportResult {
    bool stored = false;    // the rows are stored (and logged)
    bool declined = false;  // the person declined a re-import; nothing stored
    int rows = 0;           // rows stored
    std::string accounts;   // their account numbers, "、" between them
    // The text the user is shown: the completion (with the breaks in the
    // bank's balances and a failed rename's reason) or the error; empty when
    // declined.
    std::string message;
    // The breaks in the bank's balances the import found, one sentence each
    // ("注意：…"); the file was imported all the same.
    std::vector<std::string> balanceWarnings;
    std::size_t balanceBreaks = 0;  // every break, also those not listed
    bool renamed = false;           // the file now carries the "[已导入]" marker
    std::string renameFailure;      // why a stored file could not be renamed
};

// Runs one statement import without widgets: creates the importer, imports
// into `mng`, renames the file with "[已导入]" once imported and always resets
// the bank-account manager. `confirm` is asked when the content is in the
// import log and `again` is false; without it such a file is refused.
StatementImportResult importStatement(StatementKind kind, const std::string& fileName,
                                      ledgerhost::TCaGlideMng* mng, ImportProgress progress = {},
                                      bool again = false, const ConfirmReimport& confirm = {});
