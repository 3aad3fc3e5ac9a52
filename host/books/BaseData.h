#pragma once

// Base information as an administrator keeps it: settlement methods
// (PAY_MODE), departments (DEPARTMENT) and counterpart units (CURRENTS), which
// every book set shares; common summaries (SUMMARY, 常用摘要), also shared; and
// the voucher types (VOUCHER_TYPE) of one book set, whose code is the type's
// number. Codes are unique within their kind; an item a row uses may be
// renamed, never deleted. See Users.h for what every change here shares.

#include <string>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

inline constexpr const char* kSummaryKind = "SUMMARY";
inline constexpr const char* kVoucherTypeKind = "VOUCHER_TYPE";

struct LH_API BaseItem {
    std::string InCode;  // what rows store (the code for summaries and voucher types)
    std::string Code;
    std::string Name;
};

// The kinds in the order the windows offer them, and their names
// ("结算方式", "部门", "对方单位", "常用摘要", "凭证类别"); an unknown kind has
// an empty name.
LH_API const std::vector<std::string>& baseKinds();
LH_API std::string baseKindName(const std::string& kind);

// The items of a kind in their order; `setCode` names the book set of
// voucher types and is ignored otherwise.
LH_API std::vector<BaseItem> listBaseItems(Database& db, const std::string& kind,
                                           const std::string& setCode = {});
// Adds an item; answers its inner code.
LH_API std::string addBaseItem(Database& db, const std::string& actor, const std::string& kind,
                               const BaseItem& item, const std::string& setCode = {});
// Gives the item of code `code` the code and name of `item` (a voucher
// type keeps its number).
LH_API void editBaseItem(Database& db, const std::string& actor, const std::string& kind,
                         const std::string& code, const BaseItem& item,
                         const std::string& setCode = {});
LH_API void deleteBaseItem(Database& db, const std::string& actor, const std::string& kind,
                           const std::string& code, const std::string& setCode = {});

}  // namespace ledgerhost
