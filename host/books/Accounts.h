#pragma once

// The cash and bank accounts of a book set as an administrator keeps them:
// added, edited, stopped (停用) once they hold rows rather than deleted. An
// account number is unique within its book set. The openings are kept by the
// cashier's initialisation (CashierInit.h). See Users.h for what every change
// here shares.

#include <cstdint>
#include <string>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

inline constexpr int kBankKind = 1;
inline constexpr int kCashKind = 2;

struct LH_API AccountInfo {
    std::string SetCode;
    std::string Code;  // what rows store (as_code)
    std::string Name;
    int Kind = kBankKind;     // kBankKind or kCashKind
    std::string AccountNo;    // a bank's account number (required for a bank)
    std::string BankName;     // the bank's name
    std::string SubjectCode;  // the ledger subject vouchers post to (the code when empty)
    bool InUse = true;
    std::int64_t OpeningCents = 0;  // read only here
};

// "银行" or "现金".
LH_API const char* accountKindName(int kind);

// The book set's own accounts in code order.
LH_API std::vector<AccountInfo> listAccounts(Database& db, const std::string& setCode);

LH_API void addAccount(Database& db, const std::string& actor, const AccountInfo& account);
// Everything but the code and the opening; the kind only while the account
// has no rows.
LH_API void editAccount(Database& db, const std::string& actor, const AccountInfo& account);
// Stops an account (rows can no longer be entered on it) or takes it into
// use again.
LH_API void setAccountInUse(Database& db, const std::string& actor, const std::string& setCode,
                            const std::string& code, bool inUse);
// Deletes an account that holds no rows; one with rows is stopped instead.
LH_API void deleteAccount(Database& db, const std::string& actor, const std::string& setCode,
                          const std::string& code);

}  // namespace ledgerhost
