#include "untGlideImport.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "BankBalances.h"
#include "ImportLog.h"
#include "Numbers.h"
#include "Records.h"
#include "Regional.h"
#include "Trim.h"

using namespace ledgerhost;

namespace glideimport {

bool hasExtension(const std::string& fileName, const std::string& ext) {
    auto dot = fileName.rfind('.');
    if (dot == std::string::npos) return false;
    std::string tail = fileName.substr(dot);
    return tail.size() == ext.size() &&
           std::equal(tail.begin(), tail.end(), ext.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

void splitPayCode(const std::string& field, std::string& payCode, std::string& summary) {
    auto dash = field.find('-');
    if (dash == std::string::npos) {
        payCode.clear();
        summary = field;
    } else {
        payCode = field.substr(0, dash);
        summary = field.substr(dash + 1);
    }
}

std::string importedName(const std::string& fileName) {
    auto dot = fileName.rfind('.');
    if (dot == std::string::npos) return fileName + "[已导入]";
    return fileName.substr(0, dot) + "[已导入]" + fileName.substr(dot);
}

void resetAccountManager() {
    if (!UserManage) return;
    TBankAccountManage* m = UserManage->BankAccountManage();
    m->SetCode.clear();
    m->ClearObjects();
}

void checkNotImported(const std::string& digest, bool& again, const ConfirmReimport& confirm) {
    if (again) return;
    std::optional<ImportLogEntry> earlier = findImport(currentDb(), currentBookSet().Code, digest);
    if (!earlier) return;
    if (!confirm) throw AlreadyImportedError(*earlier);
    if (!confirm(*earlier)) throw ImportDeclined();
    again = true;
}

std::unique_ptr<LoggedImport> beginLogged(const std::string& fileName, const std::string& digest,
                                          bool again) {
    ImportLogEntry entry;
    entry.SetCode = currentBookSet().Code;
    entry.Digest = digest;
    entry.FileName = fileName;
    return std::make_unique<LoggedImport>(std::move(entry), again);
}

std::string markImported(const std::string& fileName) {
    const std::string target = importedName(fileName);
    // Never over an existing file: the marked name may be another statement's.
    int rc = renameat2(AT_FDCWD, fileName.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) {  // a file system without the no-replace rename
        struct stat st;
        if (lstat(target.c_str(), &st) == 0) {
            errno = EEXIST;
        } else {
            rc = std::rename(fileName.c_str(), target.c_str());
        }
    }
    if (rc == 0) return {};
    switch (errno) {
        case EEXIST:
        case ENOTEMPTY:
            return "已有同名文件 " + target;
        case EACCES:
        case EPERM:
            return "没有在文件所在文件夹中改名的权限";
        case EROFS:
            return "文件所在的磁盘是只读的";
        case ENOENT:
            return "文件已不存在";
        default:
            return std::string("改名出错（") + std::strerror(errno) + "）";
    }
}

void saveBatch(TCaGlideMng& mng, const PendingRollback& rollback) {
    if (rollback.from() == 0 && mng.PendingCount() >= kBatch) mng.Save();
}

}  // namespace glideimport

namespace {

using namespace glideimport;

// The file was read through before its lines were stored; a file that changed
// in between (in its lines or its bytes) is not stored at all.
constexpr const char* kChangedWhileRead = "导入过程中文件被修改，没有保存任何记录。";

std::string lineError(long long n) {
    return "第 " + std::to_string(n) + " 行数据错误，时间输入错误";
}

// Scopes the bank-account manager to the current book set for the lookups.
TBankAccountManage& scopedAccounts() {
    TBankAccountManage* m = UserManage->BankAccountManage();
    m->ClearObjects();
    m->SetCode = currentBookSet().Code;
    return *m;
}

// Before each row: the progress, which may cancel.
void step(const ImportProgress& progress, int done, int total) {
    if (progress && !progress(done, total)) throw ImportError("导入已取消，没有保存任何记录。");
}

// A line whose date or summary the journal cannot keep fails the whole import.
void checkEntry(const TCaGlide& e, long long line) {
    if (std::string why = journalRowProblem(currentBookSet(), e.CreateDate, e.Summary);
        !why.empty())
        throw ImportError("第 " + std::to_string(line) + " 行：" + why);
}

std::unique_ptr<TCaGlide> newEntry(TCaGlideMng& mng, const TBankAccount& account) {
    auto e = std::make_unique<TCaGlide>(mng.TableName());
    e->SetASCode(account.AsCode);
    return e;
}

// How a message names a field of a statement line: "第 7 行的贷方发生额" for a
// text line, "单元格 E12 的贷方发生额" for a workbook cell. Made only for a
// message, so that a long statement pays nothing for it.
struct FieldNames {
    long long row;
    bool cells;
    std::string operator()(const char* field, char column) const {
        return cells ? "单元格 " + std::string(1, column) + std::to_string(row) + " 的" + field
                     : "第 " + std::to_string(row) + " 行的" + field;
    }
};

// An amount field: blank is 0; a balance that is blank or only a dash is none.
std::optional<std::int64_t> amountField(const std::string& text, bool balance,
                                        const FieldNames& names, const char* field, char column) {
    if (balance && isDashOnly(text)) return std::nullopt;
    if (isBlankText(text)) return balance ? std::nullopt : std::optional<std::int64_t>(0);
    std::string why;
    if (std::optional<std::int64_t> cents = parseAmountCents(text, &why)) return cents;
    throw ImportError(names(field, column) + "“" + text + "”" + why);
}

// The fields of a statement line: debit, credit, the bank's balance after it
// (empty when the file has none) and the cheque number with the summary.
void finishEntry(TCaGlide& e, const std::string& debit, const std::string& credit,
                 const std::string& balance, const std::string& payField, const FieldNames& names) {
    e.DebMoney = fromCents(*amountField(debit, false, names, "借方发生额", 'F'));
    e.CreMoney = fromCents(*amountField(credit, false, names, "贷方发生额", 'E'));
    e.BankBalanceCents = amountField(balance, true, names, "余额", 'G');
    splitPayCode(payField, e.PayCode, e.Summary);
    e.GlideFlag = "1";
    e.ApplyUser = User ? User->Code : std::string();
    e.OperFlag = "0";
}

}  // namespace

// ---- ICBC ----

TICBCGlideImport::TICBCGlideImport(const std::string& fileName) {
    if (!hasExtension(fileName, ".txt")) throw ImportError("不支持的文件类型");
    Reader = TFileToArrayFactory::CreateFileToArray(fkText, fileName);
    static_cast<TTextToArray&>(*Reader).Delimiter = "^";
    Reader->StartRow = 6;
    ReadAccountNo(fileName);
}

TICBCGlideImport::~TICBCGlideImport() = default;

// The account number is on the first line that is not blank, after its first
// ":"; the transaction lines start on the fifth line after it. The file is
// never held whole: it is read through once for its digest and encoding, its
// first lines again for the account, and all of it again by Import.
void TICBCGlideImport::ReadAccountNo(const std::string& fileName) {
    AccountNo.clear();
    auto& reader = static_cast<TTextToArray&>(*Reader);
    if (reader.FileName != fileName) reader.FileName = fileName;
    reader.ScanFile(kMaxLineBytes);
    reader.ForEachLine([&](std::size_t i, std::string& text) {
        std::string line = trimControls(text);
        if (line.empty()) return true;
        auto colon = line.find(':');
        AccountNo = trimControls(colon == std::string::npos ? line : line.substr(colon + 1));
        Reader->StartRow = static_cast<std::int32_t>(i) + 6;
        return false;
    });
}

void TICBCGlideImport::Import() {
    Imported = false;
    StoredRows = 0;
    BalanceWarnings.clear();
    BalanceBreaks = 0;
    if (!GlideMng) throw ImportError("没有赋值给管理类");
    if (AccountNo.empty()) throw ImportError("文件中未发现账号信息");
    BankAccountPtr account = scopedAccounts().DetailByName(AccountNo);
    if (!account || account->State == kAccountStopped)
        throw ImportError("账号不存在或者已经被停用");
    auto& reader = static_cast<TTextToArray&>(*Reader);
    checkNotImported(reader.Digest, Again, ConfirmAgain);
    const std::size_t first =
        Reader->StartRow > 0 ? static_cast<std::size_t>(Reader->StartRow - 1) : 0;
    auto logged = beginLogged(Reader->FileName, reader.Digest, Again);
    PendingRollback guard(*GlideMng);
    BankBalanceCheck balances(currentDb());
    const int total = reader.LineCount > first ? static_cast<int>(reader.LineCount - first) : 0;
    // The lines are read, checked and stored a block at a time inside the one
    // transaction, so that memory does not grow with the file.
    std::vector<std::string> f;
    int q = 0;
    reader.ForEachLine([&](std::size_t index, std::string& line) {
        if (index < first) return true;
        if (q == total) throw ImportError(kChangedWhileRead);
        saveBatch(*GlideMng, guard);
        step(Progress, q, total);
        f = splitKeepingEmpty(line, reader.Delimiter);
        if (f.size() < 10) throw ImportError("导入文件格式错误");
        auto e = newEntry(*GlideMng, *account);
        const long long lineNo = static_cast<long long>(Reader->StartRow) + q;
        auto date = parseShortDate(f[1]);
        if (!date) throw ImportError(lineError(lineNo));
        e->CreateDate = isoDate(*date);
        // Field 10, when the line has it, is the bank's balance after the line.
        static const std::string kNone;
        finishEntry(*e, f[9], f[8], f.size() > 10 ? f[10] : kNone, f[7], {lineNo, false});
        checkEntry(*e, lineNo);
        balances.line(account->SetCode, account->AsCode, lineNo, e->CreateDate,
                      toCents(e->CreMoney) - toCents(e->DebMoney), e->BankBalanceCents);
        GlideMng->Add(std::move(e));
        ++q;
        return true;
    });
    // The rows must be the content the import log names: the same lines, and
    // the same bytes as the first reading (a file replaced by another of as
    // many lines between the readings would otherwise be logged under the
    // first one's digest, and the other's content taken for new next time).
    if (q != total || reader.ReadDigest != reader.Digest) throw ImportError(kChangedWhileRead);
    GlideMng->Save();
    logged->commit(AccountNo, total);
    guard.done();
    StoredRows = total;
    BalanceWarnings = balances.warnings();
    BalanceBreaks = balances.breaks();
    Imported = true;
}

// ---- CCB ----

TCCBGlideImport::TCCBGlideImport(const std::string& fileName) {
    if (!hasExtension(fileName, ".xls")) throw ImportError("不支持的文件类型");
    Reader = TFileToArrayFactory::CreateFileToArray(fkExcel, fileName);
    Reader->StartRow = 10;
}

TCCBGlideImport::~TCCBGlideImport() = default;

void TCCBGlideImport::Import() {
    Imported = false;
    StoredRows = 0;
    BalanceWarnings.clear();
    BalanceBreaks = 0;
    StoredAccounts.clear();
    if (!GlideMng) throw ImportError("没有赋值给管理类");
    TBankAccountManage& accounts = scopedAccounts();
    // The row's account by number (column L), else by display name (column M).
    auto usable = [&](const std::vector<std::string>& row) -> BankAccountPtr {
        BankAccountPtr a = accounts.DetailByName(row[11]);
        if (!a) a = accounts.DetailByDispName(row[12]);
        return a && a->State != kAccountStopped ? a : nullptr;
    };
    Reader->LoadArray();
    const auto& rows = Reader->Data;
    if (rows.empty() || rows[0].size() < 13) throw ImportError("导入文件格式错误");
    if (!usable(rows[0])) throw ImportError("没有找到对应银行账号或者银行账号已停用!");
    checkNotImported(Reader->Digest, Again, ConfirmAgain);
    auto logged = beginLogged(Reader->FileName, Reader->Digest, Again);
    PendingRollback guard(*GlideMng);
    BankBalanceCheck balances(currentDb());
    const int total = static_cast<int>(rows.size());
    std::vector<std::string> accountNos;  // in the order they first appear
    int added = 0;
    for (int q = 0; q < total; ++q) {
        step(Progress, q, total);
        saveBatch(*GlideMng, guard);
        const auto& c = rows[q];
        if (c.size() < 13) throw ImportError("导入文件格式错误");
        BankAccountPtr account = usable(c);
        if (!account) continue;
        auto e = newEntry(*GlideMng, *account);
        // Statement dates read as year/month/day with "/", whatever the
        // workstation's own date settings.
        auto date = parseDate(c[0], "yyyy/MM/dd", '/');
        if (!date) throw ImportError(lineError(10LL + q));
        e->CreateDate = isoDate(*date);
        // Column G is the bank's balance after the row.
        const long long rowNo = 10LL + q;
        finishEntry(*e, c[5], c[4], c[6], c[9], {rowNo, true});
        checkEntry(*e, rowNo);
        balances.line(account->SetCode, account->AsCode, rowNo, e->CreateDate,
                      toCents(e->CreMoney) - toCents(e->DebMoney), e->BankBalanceCents);
        GlideMng->Add(std::move(e));
        ++added;
        if (std::find(accountNos.begin(), accountNos.end(), account->AccountNo) == accountNos.end())
            accountNos.push_back(account->AccountNo);
    }
    std::string accountsText;
    for (const std::string& no : accountNos)
        accountsText += (accountsText.empty() ? "" : "、") + no;
    GlideMng->Save();
    logged->commit(accountsText, added);
    guard.done();
    StoredRows = added;
    StoredAccounts = accountsText;
    BalanceWarnings = balances.warnings();
    BalanceBreaks = balances.breaks();
    Imported = true;
}

// ---- the menu's run ----

StatementImportResult importStatement(StatementKind kind, const std::string& fileName,
                                      TCaGlideMng* mng, ImportProgress progress, bool again,
                                      const ConfirmReimport& confirm) {
    const bool icbc = kind == StatementKind::ICBC;
    const std::string done = icbc ? "工行对账单导入完成。" : "建行对账单导入完成。";
    const std::string failed =
        icbc ? "工行对账单导入出错。错误信息：" : "建行对账单导入出错。错误信息：";
    StatementImportResult result;
    bool imported = false;
    std::string error;
    try {
        auto run = [&](auto& importer) {
            importer.GlideMng = mng;
            importer.Progress = progress;
            importer.Again = again;
            importer.ConfirmAgain = confirm;
            try {
                importer.Import();
            } catch (...) {
                imported = importer.Imported;
                throw;
            }
            imported = importer.Imported;
            result.rows = importer.StoredRows;
            result.balanceWarnings = importer.BalanceWarnings;
            result.balanceBreaks = importer.BalanceBreaks;
        };
        if (icbc) {
            TICBCGlideImport importer(fileName);
            run(importer);
            result.accounts = importer.AccountNo;
        } else {
            TCCBGlideImport importer(fileName);
            run(importer);
            result.accounts = importer.StoredAccounts;
        }
    } catch (const ImportDeclined&) {
        result.declined = true;
    } catch (const std::exception& e) {
        error = e.what();
    }
    // The importer is gone (and with it the file's reader) before the rename.
    if (imported) {
        result.renameFailure = markImported(fileName);
        result.renamed = result.renameFailure.empty();
    }
    resetAccountManager();
    if (result.declined) return result;
    if (!imported) {
        result.rows = 0;
        result.accounts.clear();
        // Every failure stores nothing; the message says so unless it already does.
        const bool says = error.find("没有保存任何记录") != std::string::npos;
        result.message = failed + error + (says ? "" : "\n没有导入任何记录。");
        return result;
    }
    result.stored = true;
    result.message = done + "共导入 " + std::to_string(result.rows) + " 行" +
                     (result.accounts.empty() ? std::string() : "，账号 " + result.accounts) +
                     "。" + balanceWarningLines(result.balanceWarnings, result.balanceBreaks);
    if (!result.renameFailure.empty())
        result.message += "\n文件未能改名为“" + importedName(fileName) + "”：" +
                          result.renameFailure + "。文件的内容已记入导入记录，再次导入时会提示。";
    return result;
}
