#pragma once

// Long lists of a real office filled from a file: the accounts of a book set,
// or the base information of one kind (counterpart units above all). The file
// is read by the import wizard's readers (.xlsx, .xls, comma-separated text
// with captions in the first row) and its columns mapped onto the list's
// fields as the wizard maps them; every row is added through the same
// functions as one added by hand (Accounts.h, BaseData.h), all in one
// transaction: the whole file or nothing, and an error names the file row.

#include <cstdint>
#include <string>
#include <vector>

#include "Convert.h"
#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

// The list of accounts; the other lists are named by their base kind.
inline constexpr const char* kAccountList = "ACCOUNT";

class LH_API TListConvert : public TManageConvert {
  public:
    // `kind`: kAccountList or a base kind; `setCode`: the book set of
    // accounts and voucher types.
    TListConvert(Database& db, std::string actor, std::string kind, std::string setCode);

    // The fields of a list, in order: 编码, 名称, and for accounts 类别
    // ("银行" or "现金"; a bank when empty), 账号, 开户银行, 科目编码.
    static std::vector<std::string> fieldsOf(const std::string& kind);

    void ImportData() override;
    std::int64_t ImportedRows = 0;

  private:
    Database& db_;
    std::string actor_, kind_, setCode_;
};

}  // namespace ledgerhost
