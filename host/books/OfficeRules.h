#pragma once

// What the lists of a real office share (book sets, accounts, base
// information, users, the cashier's openings, the carry forward): the checks
// of codes and names, whether a book set has rows, and the time a change is
// recorded with. Internal to the host library.

#include <string>

#include "Records.h"
#include "Store.h"

namespace ledgerhost::office {

// A code is typed and shown as "code name", and read back as the text before
// the first space: it must be there, hold no space and stay short.
void checkCode(const std::string& what, const std::string& code);
// A name must be there and fit on one line.
void checkName(const std::string& what, const std::string& name);

// The book set of that code; throws "账套 X 不存在。" when there is none, and
// "账套 X 已关闭。" for a closed one unless `closedToo`.
TBookSet existingBookSet(Database& db, const std::string& code, bool closedToo = false);

// True when the book set has a row in either journal table.
bool bookSetHasRows(Database& db, const std::string& setCode);

// The database's date and time, "YYYY-MM-DD HH:MM:SS", as changes record it.
std::string nowText(Database& db);

}  // namespace ledgerhost::office
