#include "untGlideImport.h"

#include <QFile>
#include <algorithm>
#include <cctype>

#include "Records.h"
#include "Regional.h"
#include "Seams.h"

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

double readAmount(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ','), text.end());
    return parseDecimal(text).value_or(0.0);
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

}  // namespace glideimport

namespace {

using namespace glideimport;

// Trims blanks and control characters (everything up to the space) at both ends.
std::string trimControls(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

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

void step(const ImportProgress& progress, int done, int total) {
    if (progress && !progress(done, total)) throw ImportError("导入已取消，没有保存任何记录。");
    ProcessMessages();
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

void finishEntry(TCaGlide& e, const std::string& debit, const std::string& credit,
                 const std::string& payField) {
    e.DebMoney = readAmount(debit);
    e.CreMoney = readAmount(credit);
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
// ":"; the transaction lines start on the fifth line after it.
void TICBCGlideImport::ReadAccountNo(const std::string& fileName) {
    AccountNo.clear();
    TTextToArray probe(fileName);
    probe.StartRow = 0;
    probe.LoadArray();
    for (std::size_t i = 0; i < probe.Lines.size(); ++i) {
        std::string line = trimControls(probe.Lines[i]);
        if (line.empty()) continue;
        auto colon = line.find(':');
        AccountNo = trimControls(colon == std::string::npos ? line : line.substr(colon + 1));
        Reader->StartRow = static_cast<std::int32_t>(i) + 6;
        return;
    }
}

void TICBCGlideImport::Import() {
    Imported = false;
    if (!GlideMng) throw ImportError("没有赋值给管理类");
    if (AccountNo.empty()) throw ImportError("文件中未发现账号信息");
    BankAccountPtr account = scopedAccounts().DetailByName(AccountNo);
    if (!account || account->State == kAccountStopped)
        throw ImportError("账号不存在或者已经被停用");
    Reader->LoadArray();
    PendingGuard guard(*GlideMng);
    const auto& rows = Reader->Data;
    const int total = static_cast<int>(rows.size());
    for (int q = 0; q < total; ++q) {
        step(Progress, q, total);
        const auto& f = rows[q];
        if (f.size() < 10) throw ImportError("导入文件格式错误");
        auto e = newEntry(*GlideMng, *account);
        auto date = parseShortDate(f[1]);
        if (!date) throw ImportError(lineError(static_cast<long long>(Reader->StartRow) + q));
        e->CreateDate = isoDate(*date);
        finishEntry(*e, f[9], f[8], f[7]);
        checkEntry(*e, static_cast<long long>(Reader->StartRow) + q);
        GlideMng->Add(std::move(e));
    }
    GlideMng->Save();
    guard.done();
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
    PendingGuard guard(*GlideMng);
    const int total = static_cast<int>(rows.size());
    for (int q = 0; q < total; ++q) {
        step(Progress, q, total);
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
        finishEntry(*e, c[5], c[4], c[9]);
        checkEntry(*e, 10LL + q);
        GlideMng->Add(std::move(e));
    }
    GlideMng->Save();
    guard.done();
    Imported = true;
}

// ---- the menu's run ----

bool runStatementImport(StatementKind kind, const std::string& fileName, TCaGlideMng* mng,
                        QWidget* owner, ImportProgress progress) {
    const bool icbc = kind == StatementKind::ICBC;
    const std::string done = icbc ? "工行对账单导入完成。" : "建行对账单导入完成。";
    const std::string failed =
        icbc ? "工行对账单导入出错。错误信息：" : "建行对账单导入出错。错误信息：";
    bool imported = false;
    try {
        auto run = [&](auto& importer) {
            importer.GlideMng = mng;
            importer.Progress = progress;
            try {
                importer.Import();
                MessageBoxA(owner, done, "提示", MB_ICONINFORMATION);
            } catch (...) {
                imported = importer.Imported;
                throw;
            }
            imported = importer.Imported;
        };
        if (icbc) {
            TICBCGlideImport importer(fileName);
            run(importer);
        } else {
            TCCBGlideImport importer(fileName);
            run(importer);
        }
    } catch (const std::exception& e) {
        MessageBoxA(owner, failed + e.what(), "提示", MB_ICONINFORMATION);
    }
    // The importer is gone (and with it the file's reader) before the rename.
    if (imported)
        QFile::rename(QString::fromStdString(fileName),
                      QString::fromStdString(importedName(fileName)));
    resetAccountManager();
    return imported;
}
