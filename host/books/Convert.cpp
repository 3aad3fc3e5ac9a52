#include "Convert.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "BankBalances.h"
#include "Codec.h"
#include "ImportFiles.h"
#include "ImportLog.h"
#include "Numbers.h"
#include "Records.h"
#include "Regional.h"
#include "Store.h"
#include "Trim.h"
#include "Xlsx.h"

namespace ledgerhost {

namespace {

bool blank(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// "A", "B", ..., "Z", "AA", ... for a column from 0.
std::string columnLetters(int col) {
    std::string s;
    for (int n = col + 1; n > 0; n = (n - 1) / 26) s.insert(s.begin(), char('A' + (n - 1) % 26));
    return s;
}

std::string lowerExtension(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

enum class FileKind { Xls, Xlsx, Text };

// Workbooks are known by their first bytes, whatever their extension; other
// files by the extension.
FileKind kindOf(const std::string& path) {
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char head[8] = {};
        std::size_t n = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        if (n == 8 && std::memcmp(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0)
            return FileKind::Xls;
        if (n >= 4 && std::memcmp(head, "PK\x03\x04", 4) == 0) return FileKind::Xlsx;
    }
    std::string ext = lowerExtension(path);
    if (ext == ".xls") return FileKind::Xls;
    if (ext == ".xlsx") return FileKind::Xlsx;
    return FileKind::Text;
}

struct FileContent {
    std::vector<TFileRow> rows;  // every row that holds a value, captions included
    bool date1904 = false;
    std::string digest;  // SHA-256 of the file's bytes
};

TFileCell fromSheet(SheetCell&& c) {
    return TFileCell{std::move(c.text), c.number};
}

FileContent readXls(const std::string& path) {
    XlsWorkbook book(path);
    FileContent out;
    out.date1904 = book.date1904();
    out.digest = book.digest();
    CellBudget budget;
    for (std::uint32_t r = 0; r < book.rows(); ++r) {
        TFileRow row{static_cast<std::int64_t>(r) + 1, {}};
        for (int c = 0; c < book.cols(); ++c) {
            SheetCell cell = book.cell(r, c);
            if (!cell.number && blank(cell.text)) continue;
            if (!budget.add(cell.text.size()))
                throw FileReadError("无法读取文件 " + path + "：" + budget.reason());
            row.Cells.emplace_back(c, fromSheet(std::move(cell)));
        }
        if (!row.Cells.empty()) out.rows.push_back(std::move(row));
    }
    return out;
}

FileContent readXlsx(const std::string& path) {
    XlsxSheet sheet = readXlsxFirstSheet(path);
    FileContent out;
    out.date1904 = sheet.date1904;
    out.digest = fileDigest(path);
    for (XlsxRow& r : sheet.rows) {
        TFileRow row{r.number, {}};
        for (auto& [col, cell] : r.cells) {
            if (!cell.number && blank(cell.text)) continue;
            row.Cells.emplace_back(col, fromSheet(std::move(cell)));
        }
        if (!row.Cells.empty()) out.rows.push_back(std::move(row));
    }
    return out;
}

// Comma-separated text, as described on TManageConvert. A line break inside
// quotes is kept as "\n". With `sameWidth` every record that holds a value
// must have as many fields as the first one.
FileContent readText(const std::string& path, bool sameWidth) {
    FileContent out;
    std::string text;
    {
        checkTextFileSize(path);
        const std::string bytes = readFileBytes(path);
        out.digest = contentDigest(bytes);
        text = decodeFileText(bytes);
    }
    int width = -1;
    TFileRow row;
    std::string field;
    int col = 0;
    std::int64_t line = 1, recordLine = 1;
    bool inQuotes = false, atFieldStart = true, recordHasText = false;
    CellBudget budget;
    auto endField = [&] {
        if (!blank(field)) {
            if (!budget.add(field.size()))
                throw FileReadError("无法读取文件 " + path + "：" + budget.reason());
            row.Cells.emplace_back(col, TFileCell{std::move(field), std::nullopt});
        }
        field.clear();
        ++col;
        atFieldStart = true;
    };
    auto endRecord = [&] {
        endField();
        if (!row.Cells.empty()) {
            if (sameWidth && width < 0) width = col;
            if (sameWidth && col != width)
                throw FileReadError("无法读取文件 " + path + "：第 " + std::to_string(recordLine) +
                                    " 行有 " + std::to_string(col) + " 个字段，而列说明有 " +
                                    std::to_string(width) +
                                    " 个（含半角逗号的金额或文字要用双引号括起来）");
            row.Number = recordLine;
            out.rows.push_back(std::move(row));
        }
        row = TFileRow{};
        col = 0;
        recordHasText = false;
    };
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[i];
        bool lineBreak = c == '\r' || c == '\n';
        if (lineBreak && c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < n && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else if (lineBreak) {
                field += '\n';
                ++line;
            } else {
                field += c;
            }
            continue;
        }
        if (lineBreak) {
            endRecord();
            recordLine = ++line;
        } else if (c == ',') {
            endField();
            recordHasText = true;
        } else if (c == '"' && atFieldStart) {
            inQuotes = true;
            atFieldStart = false;
            recordHasText = true;
        } else {
            // Text after a closing quote is kept, as spreadsheet programs do.
            field += c;
            atFieldStart = false;
            recordHasText = true;
        }
    }
    if (inQuotes)
        throw FileReadError("无法读取文件 " + path + "：第 " + std::to_string(recordLine) +
                            " 行的引号没有结束");
    if (recordHasText || !field.empty()) endRecord();
    return out;
}

std::string rowPrefix(std::int64_t row) {
    return "第 " + std::to_string(row) + " 行";
}

}  // namespace

const TFileCell* TFileRow::cell(int col) const {
    auto it = std::lower_bound(Cells.begin(), Cells.end(), col,
                               [](const auto& c, int k) { return c.first < k; });
    return it != Cells.end() && it->first == col ? &it->second : nullptr;
}

// ---- TManageConvert ----

TManageConvert::TManageConvert(std::vector<std::string> fieldCaptions, const std::string& fileName,
                               TConvertType type, bool firstRowCaptions)
    : ConvertType(type), FirstRowCaptions(firstRowCaptions), fields_(std::move(fieldCaptions)) {
    resetMaps();
    if (!fileName.empty()) SetFileName(fileName);
}

TManageConvert::~TManageConvert() = default;

void TManageConvert::SetFileName(const std::string& path) {
    if (path.empty()) throw ConvertError("没有指定要导入的文件。");
    if (isStoreFile(path)) throw ConvertError(kStoreFileRefused);
    FileContent content;
    try {
        switch (kindOf(path)) {
            case FileKind::Xls:
                content = readXls(path);
                break;
            case FileKind::Xlsx:
                content = readXlsx(path);
                break;
            case FileKind::Text:
                content = readText(path, FirstRowCaptions);
                break;
        }
    } catch (const FileReadError& e) {
        throw ConvertError(e.what());
    } catch (const std::bad_alloc&) {
        throw ConvertError("无法读取文件 " + path + "：文件过大");
    } catch (const std::exception& e) {
        // The workstation's code page is not one this system can convert.
        throw ConvertError("无法读取文件 " + path + "：" + e.what());
    }

    int width = 0;
    for (const TFileRow& r : content.rows)
        if (!r.Cells.empty()) width = std::max(width, r.Cells.back().first + 1);
    std::vector<std::string> captions(static_cast<std::size_t>(width));
    std::size_t firstData = 0;
    if (FirstRowCaptions) {
        if (content.rows.empty())
            throw ConvertError("无法读取文件 " + path + "：文件是空的，第一行应为列说明");
        const TFileRow& head = content.rows.front();
        for (int c = 0; c < width; ++c) {
            const TFileCell* cell = head.cell(c);
            std::string caption = cell ? trimControls(cell->Text) : std::string();
            captions[c] = caption.empty() ? "列" + columnLetters(c) : caption;
        }
        firstData = 1;
    } else {
        for (int c = 0; c < width; ++c) captions[c] = columnLetters(c);
    }
    content.rows.erase(content.rows.begin(),
                       content.rows.begin() + static_cast<std::ptrdiff_t>(firstData));

    fileName_ = path;
    captions_ = std::move(captions);
    rows_ = std::move(content.rows);
    date1904_ = content.date1904;
    digest_ = std::move(content.digest);
    resetMaps();
    applyRememberedMapping();
}

void TManageConvert::resetMaps() {
    ColumnMaps.clear();
    for (const std::string& f : fields_) {
        TColumnMap m{f, {}};
        for (std::size_t c = 0; c < captions_.size(); ++c)
            if (captions_[c] == f) {
                m.FileColumn = captions_[c];
                m.FileColumnIndex = static_cast<int>(c);
                break;
            }
        ColumnMaps.push_back(std::move(m));
    }
}

// The layout of the file's captions: their digest, with the fields the mapping
// is for, so that another converter's mapping of the same file is its own.
std::string TManageConvert::layoutKey() const {
    std::string all;
    for (const std::string& f : fields_) all += f + '\x1f';
    all += '\x1e';
    for (const std::string& c : captions_) all += c + '\x1f';
    return contentDigest(all);
}

// A remembered mapping is a list of column positions, one per field ("-1" for
// a field left unmapped), kept in the book-set database.
void TManageConvert::applyRememberedMapping() {
    if (!FirstRowCaptions || captions_.empty()) return;
    std::string columns;
    try {
        Stmt s = currentDb().prepare("SELECT columns FROM import_mappings WHERE layout = ?");
        s.bind(1, layoutKey());
        if (!s.step()) return;
        columns = s.text(0);
    } catch (const std::exception&) {
        return;  // no store at hand: the mapping by captions stands
    }
    std::vector<int> positions;
    for (std::size_t at = 0; at <= columns.size();) {
        std::size_t comma = columns.find(',', at);
        if (comma == std::string::npos) comma = columns.size();
        auto v = parseDecimal(columns.substr(at, comma - at));
        if (!v || *v < -1 || *v >= static_cast<double>(captions_.size())) return;
        positions.push_back(static_cast<int>(*v));
        at = comma + 1;
    }
    if (positions.size() != ColumnMaps.size()) return;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        ColumnMaps[i].FileColumnIndex = positions[i];
        ColumnMaps[i].FileColumn = positions[i] >= 0 ? captions_[positions[i]] : std::string();
    }
}

void TManageConvert::rememberMapping() const {
    if (!FirstRowCaptions || captions_.empty()) return;
    std::string columns;
    for (const TColumnMap& m : ColumnMaps) {
        if (!columns.empty()) columns += ',';
        int at = -1;
        if (!m.FileColumn.empty()) {
            try {
                at = mappedColumn(m.FieldCaption);
            } catch (const ConvertError&) {
                at = -1;
            }
        }
        columns += std::to_string(at);
    }
    Stmt s = currentDb().prepare(
        "INSERT INTO import_mappings (layout, columns) VALUES (?, ?) "
        "ON CONFLICT (layout) DO UPDATE SET columns = excluded.columns");
    s.bind(1, layoutKey()).bind(2, columns);
    s.run();
}

int TManageConvert::mappedColumn(const std::string& fieldCaption) const {
    for (const TColumnMap& m : ColumnMaps) {
        if (m.FieldCaption != fieldCaption) continue;
        if (m.FileColumn.empty()) return -1;
        // By position when it is known, so that same-named columns differ.
        if (m.FileColumnIndex >= 0 && m.FileColumnIndex < static_cast<int>(captions_.size()) &&
            captions_[m.FileColumnIndex] == m.FileColumn)
            return m.FileColumnIndex;
        for (std::size_t c = 0; c < captions_.size(); ++c)
            if (captions_[c] == m.FileColumn) return static_cast<int>(c);
        throw ConvertError("“" + fieldCaption + "”对应的文件列“" + m.FileColumn +
                           "”在文件中不存在，请重新设置映射。");
    }
    return -1;
}

std::string TManageConvert::columnCaption(int col) const {
    return col >= 0 && col < static_cast<int>(captions_.size()) ? captions_[col] : std::string();
}

// ---- TCaGlideConvert ----

namespace {

const char* const kFDate = "日期";
const char* const kFNumber = "统一号";
const char* const kFSummary = "摘要";
const char* const kFDebit = "借方金额";
const char* const kFCredit = "贷方金额";
const char* const kFPayCode = "支票号";
const char* const kFPayMode = "结算方式";
const char* const kFCounterpart = "对方单位";
const char* const kFDepartment = "部门";
const char* const kFRemark = "备注";
const char* const kFAccount = "账号";
const char* const kFBalance = "余额";

std::optional<QDate> dateOfText(std::string t) {
    // A time after the date is not part of it.
    if (auto cut = t.find_first_of(" T"); cut != std::string::npos && cut >= 6) t.resize(cut);
    if (auto d = parseShortDate(t)) return d;
    if (auto d = parseDate(t, "yyyy/M/d", '/')) return d;
    if (auto d = parseDate(t, "yyyy.M.d", '.')) return d;
    if (auto y = t.find("年"); y != std::string::npos) {
        std::string s = t;
        auto replace = [&s](const std::string& from, const std::string& to) {
            if (auto p = s.find(from); p != std::string::npos) s.replace(p, from.size(), to);
        };
        replace("年", "-");
        replace("月", "-");
        if (s.size() >= 3 && s.compare(s.size() - 3, 3, "日") == 0) s.resize(s.size() - 3);
        if (auto d = parseDate(s, "yyyy-M-d", '-')) return d;
    }
    if (t.size() == 8 && std::all_of(t.begin(), t.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        QDate d(std::stoi(t.substr(0, 4)), std::stoi(t.substr(4, 2)), std::stoi(t.substr(6, 2)));
        if (d.isValid()) return d;
    }
    return std::nullopt;
}

std::optional<QDate> dateOfCell(const TFileCell& cell, bool date1904) {
    // Excel keeps dates as day numbers; 2958465 is 9999-12-31.
    if (cell.Number && *cell.Number >= 1 && *cell.Number <= 2958465) {
        if (auto text = excelDateText(std::floor(*cell.Number), date1904))
            if (auto d = parseDate(*text, "yyyy-MM-dd", '-')) return d;
    }
    return dateOfText(trimControls(cell.Text));
}

// Reads the fields of one file row, naming the row and the column in every
// complaint.
class RowReader {
  public:
    RowReader(const TManageConvert& conv, const TFileRow& row) : conv_(conv), row_(row) {}

    std::string text(int col) const {
        const TFileCell* c = col >= 0 ? row_.cell(col) : nullptr;
        return c ? trimControls(c->Text) : std::string();
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw ConvertError(rowPrefix(row_.Number) + what);
    }
    [[noreturn]] void failAt(int col, const std::string& what) const {
        fail("（列“" + conv_.columnCaption(col) + "”）" + what);
    }

    QDate date(int col) const {
        const TFileCell* c = row_.cell(col);
        if (!c || (!c->Number && blank(c->Text))) failAt(col, "没有日期。");
        auto d = dateOfCell(*c, conv_.Date1904());
        if (!d) failAt(col, "的日期“" + trimControls(c->Text) + "”无法识别。");
        return *d;
    }

    double amount(int col, const char* label = "金额") const {
        if (col < 0) return 0;
        const TFileCell* c = row_.cell(col);
        if (!c) return 0;
        std::optional<double> v = c->Number;
        const std::string t = trimControls(c->Text);
        const std::string what = std::string("的") + label + "“" + t + "”";
        if (!v) {
            if (t.empty()) return 0;
            std::string why;
            const std::optional<std::int64_t> cents = parseAmountCents(t, &why);
            if (!cents) failAt(col, what + why);
            return fromCents(*cents);
        }
        if (!std::isfinite(*v) || std::fabs(*v) >= 1e13) failAt(col, what + "超出范围。");
        // A workbook number with more than two decimals is not rounded silently.
        if (std::fabs(*v * 100 - std::round(*v * 100)) > 1e-6) failAt(col, what + "超过两位小数。");
        return *v;
    }

    // The bank's balance after the row: nothing when the cell is empty or
    // only a dash.
    std::optional<std::int64_t> balance(int col) const {
        const TFileCell* c = col >= 0 ? row_.cell(col) : nullptr;
        if (!c || (!c->Number && (blank(c->Text) || isDashOnly(c->Text)))) return std::nullopt;
        return toCents(amount(col, "余额"));
    }

    // A unified number: a whole number from 1 on written in digits, or nothing.
    std::string number(int col) const {
        std::string t = text(col);
        if (t.empty()) return {};
        const TFileCell* c = row_.cell(col);
        std::optional<double> v;
        if (c && c->Number)
            v = c->Number;
        else if (std::all_of(t.begin(), t.end(),
                             [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); }))
            v = parseDecimal(t);
        if (!v || *v < 1 || *v >= 1e15 || *v != std::floor(*v))
            failAt(col, "的统一号“" + t + "”不是正整数。");
        return std::to_string(static_cast<std::int64_t>(*v));
    }

    // The inner code of a base-information item given by code, by name, or
    // as the program shows items ("code name").
    std::string baseInfo(int col, const char* kind, const char* label) const {
        std::string t = text(col);
        if (t.empty()) return {};
        TBaseInfoManage* m =
            BasisManageFactory ? BasisManageFactory->GetBaseInfoManage(kind) : nullptr;
        if (!m) throw ConvertError(std::string("无法读取") + label + "资料。");
        if (TBaseInfoItem* it = m->GetOfCode(t)) return it->InCode;
        for (int i = 0; i < m->GetBaseInfoCount(); ++i)
            if (TBaseInfoItem* it = m->GetBaseInfo(i); it && it->Name == t) return it->InCode;
        if (auto sp = t.find(' '); sp != std::string::npos)
            if (TBaseInfoItem* it = m->GetOfCode(t.substr(0, sp))) return it->InCode;
        failAt(col, std::string("的") + label + "“" + t + "”不存在。");
    }

  private:
    const TManageConvert& conv_;
    const TFileRow& row_;
};

}  // namespace

namespace {

std::vector<std::string> glideFields(bool bankBalance) {
    std::vector<std::string> f{kFDate,       kFNumber,  kFSummary, kFDebit,
                               kFCredit,     kFPayCode, kFPayMode, kFCounterpart,
                               kFDepartment, kFRemark,  kFAccount};
    if (bankBalance) f.push_back(kFBalance);
    return f;
}

}  // namespace

TCaGlideConvert::TCaGlideConvert(const std::string& fileName, TConvertType type,
                                 bool firstRowCaptions, bool bankBalance)
    : TManageConvert(glideFields(bankBalance), fileName, type, firstRowCaptions),
      bankBalance_(bankBalance) {}

void TCaGlideConvert::ImportData() {
    if (ConvertType != ctCaGlide) throw ConvertError("这个转换器不能导入日记账记录。");
    if (!GlideMng) throw ConvertError("没有指定要导入的日记账。");
    if (FileName().empty()) throw ConvertError("没有选择要导入的文件。");

    struct {
        int date, number, summary, debit, credit, payCode, payMode, counterpart, department, remark,
            account, balance;
    } col{mappedColumn(kFDate),       mappedColumn(kFNumber),
          mappedColumn(kFSummary),    mappedColumn(kFDebit),
          mappedColumn(kFCredit),     mappedColumn(kFPayCode),
          mappedColumn(kFPayMode),    mappedColumn(kFCounterpart),
          mappedColumn(kFDepartment), mappedColumn(kFRemark),
          mappedColumn(kFAccount),    bankBalance_ ? mappedColumn(kFBalance) : -1};
    if (col.date < 0) throw ConvertError("没有为“日期”指定文件列，无法导入。");
    if (FileRows().empty()) throw ConvertError("文件中没有要导入的数据。");

    const TBookSet& book = currentBookSet();
    if (book.EntryLocked) throw ConvertError("账套 " + book.DispCode + " 已锁定，不能导入。");
    TBankAccountManage accounts;
    accounts.SetCode = book.Code;

    // Without an account column every row goes to the target account (the one
    // the journal window shows), else to the account of the journal's conditions.
    BankAccountPtr fixed;
    if (col.account < 0) {
        const std::string& asCode =
            TargetASCode.empty() ? GlideMng->CaGlideQry()->AS_Code : TargetASCode;
        if (asCode.empty())
            throw ConvertError(
                "没有指定账号：请为“账号”指定文件列，或先在日记账中选择账号并查询。");
        fixed = accounts.DetailByCode(book.Code, asCode);
        if (!fixed && !book.ManageSetCode.empty())
            fixed = accounts.DetailByCode(book.ManageSetCode, asCode);
        if (!fixed) throw ConvertError("账号 " + asCode + " 不存在。");
        if (fixed->State != kAccountInUse) throw ConvertError("当前账号已停用！");
    }

    ImportedRows = 0;
    ImportedAccounts.clear();
    bool again = Again;
    if (!again) {
        if (auto earlier = findImport(currentDb(), book.Code, digest())) {
            if (!ConfirmAgain) throw AlreadyImportedError(*earlier);
            if (!ConfirmAgain(*earlier)) throw ImportDeclinedError();
            again = true;
        }
    }

    PendingRollback guard(*GlideMng);
    // The bank's balances of a statement are checked as the rows are read.
    std::optional<BankBalanceCheck> balances;
    if (col.balance >= 0 && GlideMng->TableName() == kStatementTable) balances.emplace(currentDb());
    BalanceWarnings.clear();
    BalanceBreaks = 0;
    std::vector<std::int64_t> fileRowOf;  // pending row -> file row, for store errors
    fileRowOf.reserve(FileRows().size());
    std::vector<std::string> accountNos;  // in the order they first appear
    // A unified number given in the file must be free: not used by the
    // account yet, nor by an earlier row of the file.
    std::set<std::pair<std::string, std::string>> numbers;
    Stmt numberTaken = currentDb().prepare("SELECT 1 FROM " + GlideMng->TableName() +
                                           " WHERE set_code = ? AND as_code = ? AND "
                                           "date_or_no = ? LIMIT 1");
    for (const TFileRow& fileRow : FileRows()) {
        RowReader r(*this, fileRow);
        BankAccountPtr account = fixed;
        if (!account) {
            std::string no = r.text(col.account);
            if (no.empty()) r.failAt(col.account, "没有账号。");
            account = accounts.DetailByName(no);
            if (!account) r.failAt(col.account, "的账号“" + no + "”在当前账套中不存在。");
            if (account->State != kAccountInUse)
                r.failAt(col.account, "的账号“" + no + "”已停用，不能导入。");
            if (GlideMng->SubjectKind != 0 && account->Kind != GlideMng->SubjectKind)
                r.failAt(col.account, "的账号“" + no + "”不是本日记账的账号。");
        }
        auto e = std::make_unique<TCaGlide>(GlideMng->TableName());
        e->SetCode = book.Code;
        e->SetASCode(account->AsCode);
        e->CreateDate = isoDate(r.date(col.date));
        e->DateOrNo = r.number(col.number);
        if (!e->DateOrNo.empty()) {
            numberTaken.reset();
            numberTaken.bind(1, book.Code)
                .bind(2, account->AsCode)
                .bind(3, static_cast<std::int64_t>(std::stoll(e->DateOrNo)));
            if (numberTaken.step() || !numbers.insert({account->AsCode, e->DateOrNo}).second)
                r.failAt(col.number, "的统一号“" + e->DateOrNo + "”在账号 " + account->AccountNo +
                                         " 中已经使用。");
            numberTaken.reset();
        }
        e->Summary = r.text(col.summary);
        if (std::string why = journalRowProblem(book, e->CreateDate, e->Summary); !why.empty())
            r.fail("：" + why);
        e->DebMoney = r.amount(col.debit);
        e->CreMoney = r.amount(col.credit);
        if (balances) {
            e->BankBalanceCents = r.balance(col.balance);
            balances->line(account->SetCode, account->AsCode, fileRow.Number, e->CreateDate,
                           toCents(e->CreMoney) - toCents(e->DebMoney), e->BankBalanceCents);
        }
        e->PayCode = r.text(col.payCode);
        e->PM_Code = r.baseInfo(col.payMode, ledgerhost::kPayMode, "结算方式");
        e->SetCRCode(r.baseInfo(col.counterpart, kCurrents, "对方单位"));
        e->SetDPCode(r.baseInfo(col.department, kDepartment, "部门"));
        e->Remark = r.text(col.remark);
        e->GlideFlag = "1";
        e->ApplyUser = User ? User->Code : std::string();
        e->OperFlag = "0";
        GlideMng->Add(std::move(e));
        fileRowOf.push_back(fileRow.Number);
        if (std::find(accountNos.begin(), accountNos.end(), account->AccountNo) == accountNos.end())
            accountNos.push_back(account->AccountNo);
    }
    std::string accountsText;
    for (const std::string& no : accountNos)
        accountsText += (accountsText.empty() ? "" : "、") + no;
    try {
        ImportLogEntry entry;
        entry.SetCode = book.Code;
        entry.Digest = digest();
        entry.FileName = FileName();
        entry.Accounts = accountsText;
        entry.RowCount = static_cast<std::int64_t>(fileRowOf.size());
        saveWithImportLog(*GlideMng, std::move(entry), again);
    } catch (const AlreadyImportedError&) {
        throw;
    } catch (const StoreError& e) {
        // The store leaves the reason in the row it could not store.
        for (std::size_t i = guard.from(); i < GlideMng->PendingCount(); ++i) {
            const std::string& why = GlideMng->PendingAt(i)->ErrorText;
            if (!why.empty() && i - guard.from() < fileRowOf.size())
                throw ConvertError(rowPrefix(fileRowOf[i - guard.from()]) + "不能保存：" + why);
        }
        throw ConvertError(std::string("导入的记录不能保存：") + e.what());
    }
    guard.done();
    ImportedRows = static_cast<std::int64_t>(fileRowOf.size());
    ImportedAccounts = accountsText;
    if (balances) {
        BalanceWarnings = balances->warnings();
        BalanceBreaks = balances->breaks();
    }
    try {
        rememberMapping();
    } catch (const std::exception&) {
        // The rows are stored; a mapping not remembered only costs a choice.
    }
}

}  // namespace ledgerhost
