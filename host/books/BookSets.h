#pragma once

// Book sets (账套) as an administrator keeps them: made with their year and
// the first month in use (启用期间), renamed, closed instead of deleted once
// they hold rows. See Users.h for what every change here shares.

#include <string>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

struct LH_API BookSetInfo {
    std::string Code;
    std::string Name;
    int Year = 0;               // the accounting year now open
    int StartMonth = 1;         // the first month in use of the first year
    std::string ManageSetCode;  // the managing book set, or empty
    // As stored (read only here):
    bool Managing = false;
    bool InitConfirmed = false;
    bool EntryLocked = false;
    bool Closed = false;
};

LH_API std::vector<BookSetInfo> listBookSets(Database& db);

// A new book set, open for `Year` from `StartMonth`, its cashier
// initialisation not confirmed. The acting administrator may use it at once.
LH_API void addBookSet(Database& db, const std::string& actor, const BookSetInfo& book);
// The name and the managing book set; the year and the first month in use
// only while the initialisation is not confirmed and the book set has no rows.
LH_API void editBookSet(Database& db, const std::string& actor, const BookSetInfo& book);
// Closes a book set (no one signs in to it any more; its rows stay), or opens
// it again.
LH_API void setBookSetClosed(Database& db, const std::string& actor, const std::string& code,
                             bool closed);
// Deletes a book set that holds nothing yet: no rows, no vouchers, no years
// carried forward, no book set managed by it. One with rows is closed instead.
LH_API void deleteBookSet(Database& db, const std::string& actor, const std::string& code);

// Fills a new, empty store: its first administrator with the password
// chosen (kept as its hash; Passwords.h), and the book set `book` when one is
// given (Code not empty), which the administrator may use. In one
// transaction; a refusal (a bad code, year, month or password) stores
// nothing.
LH_API void fillNewStore(Database& db, const std::string& adminCode, const std::string& adminName,
                         const std::string& adminPassword, const BookSetInfo& book);

}  // namespace ledgerhost
