#include "ListImport.h"

#include "Accounts.h"
#include "BaseData.h"
#include "Trim.h"

namespace ledgerhost {

namespace {

const char* const kCode = "编码";
const char* const kName = "名称";
const char* const kKind = "类别";
const char* const kNumber = "账号";
const char* const kBank = "开户银行";
const char* const kSubject = "科目编码";

}  // namespace

std::vector<std::string> TListConvert::fieldsOf(const std::string& kind) {
    if (kind == kAccountList) return {kCode, kName, kKind, kNumber, kBank, kSubject};
    return {kCode, kName};
}

TListConvert::TListConvert(Database& db, std::string actor, std::string kind, std::string setCode)
    : TManageConvert(fieldsOf(kind), std::string(), ctNone, true),
      db_(db),
      actor_(std::move(actor)),
      kind_(std::move(kind)),
      setCode_(std::move(setCode)) {
    if (kind_ != kAccountList && baseKindName(kind_).empty())
        throw ConvertError("没有“" + kind_ + "”这种列表。");
}

void TListConvert::ImportData() {
    std::vector<int> col;
    for (const std::string& f : fieldsOf(kind_)) col.push_back(mappedColumn(f));
    for (int i : {0, 1})
        if (col[i] < 0)
            throw ConvertError("没有为“" + fieldsOf(kind_)[i] + "”指定文件列，无法导入。");
    if (FileRows().empty()) throw ConvertError("文件中没有要导入的数据。");
    ImportedRows = 0;
    std::int64_t added = 0;
    Transaction t(db_);
    for (const TFileRow& row : FileRows()) {
        auto text = [&](int field) {
            const TFileCell* c = col[field] < 0 ? nullptr : row.cell(col[field]);
            return c ? trimControls(c->Text) : std::string();
        };
        try {
            if (kind_ == kAccountList) {
                AccountInfo a;
                a.SetCode = setCode_;
                a.Code = text(0);
                a.Name = text(1);
                const std::string k = text(2);
                if (k.empty() || k == "银行" || k == "1")
                    a.Kind = kBankKind;
                else if (k == "现金" || k == "2")
                    a.Kind = kCashKind;
                else
                    throw StoreError("类别“" + k + "”不对，应为“银行”或“现金”。");
                a.AccountNo = text(3);
                a.BankName = text(4);
                a.SubjectCode = text(5);
                addAccount(db_, actor_, a);
            } else {
                addBaseItem(db_, actor_, kind_, {{}, text(0), text(1)}, setCode_);
            }
        } catch (const UserError& e) {
            throw ConvertError("第 " + std::to_string(row.Number) + " 行：" + e.what() +
                               "没有导入任何记录。");
        }
        ++added;
    }
    t.commit();
    ImportedRows = added;
    try {
        rememberMapping();
    } catch (const std::exception&) {
        // The rows are stored; a mapping not remembered only costs a choice.
    }
}

}  // namespace ledgerhost
