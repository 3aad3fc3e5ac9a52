#pragma once

// The cashier's initialisation (出纳初始化) of a book set: for each cash and
// bank account the journal's opening balance at the first month in use, and
// for a bank account the bank's own opening balance and the items one side
// had booked and the other not yet at that date (期初未达账项). "完成初始化"
// confirms it (the flag the cashier modules check): the openings are fixed
// from then on. "取消初始化" takes it back while the book set has no rows.
// See Users.h for what every change here shares.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Accounts.h"
#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

// The kinds of opening items.
enum OpeningItemKind : int {
    kItemBookedIn = 1,   // 企业已收银行未收
    kItemBookedOut = 2,  // 企业已付银行未付
    kItemBankIn = 3,     // 银行已收企业未收
    kItemBankOut = 4,    // 银行已付企业未付
};
// The kind's name; empty for a kind that is not one.
LH_API const char* openingItemKindName(int kind);

struct LH_API OpeningItem {
    std::int64_t Id = 0;
    int Kind = kItemBookedIn;
    std::string Date;  // YYYY-MM-DD, before the books begin
    std::string Number;
    std::string Summary;
    std::int64_t Cents = 0;  // positive
    bool Reconciled = false;
};

struct LH_API AccountOpening {
    AccountInfo Account;
    std::int64_t JournalCents = 0;
    // A bank account's: the bank's own opening balance (the journal's
    // opening until one is entered) and the opening items.
    std::int64_t BankCents = 0;
    bool BankEntered = false;
    std::vector<OpeningItem> Items;
    // The two sides adjusted by the items; equal when the openings agree.
    std::int64_t adjustedJournal() const;
    std::int64_t adjustedBank() const;
};

// The first day of the books ("YYYY-MM-01" of the first year's first month
// in use).
LH_API std::string booksStartDate(Database& db, const std::string& setCode);

// The openings of the book set's own accounts, in code order.
LH_API std::vector<AccountOpening> cashierOpenings(Database& db, const std::string& setCode);

LH_API void setJournalOpening(Database& db, const std::string& actor, const std::string& setCode,
                              const std::string& asCode, std::int64_t cents);
LH_API void setBankOpening(Database& db, const std::string& actor, const std::string& setCode,
                           const std::string& asCode, std::int64_t cents);
// Answers the new item's id.
LH_API std::int64_t addOpeningItem(Database& db, const std::string& actor,
                                   const std::string& setCode, const std::string& asCode,
                                   const OpeningItem& item);
LH_API void removeOpeningItem(Database& db, const std::string& actor, const std::string& setCode,
                              const std::string& asCode, std::int64_t id);

// "完成初始化": each bank account without a bank opening entered gets the
// journal's. Refused when already confirmed.
LH_API void confirmInitialisation(Database& db, const std::string& actor,
                                  const std::string& setCode);
// "取消初始化": only while the book set has no rows in either journal.
LH_API void cancelInitialisation(Database& db, const std::string& actor,
                                 const std::string& setCode);

// An amount typed as "1234.56", "1,234.56" or "-5": at most two decimals;
// nothing for anything else.
LH_API std::optional<std::int64_t> parseCents(const std::string& text);

}  // namespace ledgerhost
