#pragma once

// Password hashes: Argon2id through libsodium's crypto_pwhash_str, a
// memory-hard hash with its salt and costs written into the text it answers
// ("$argon2id$v=19$m=65536,t=2,p=1$…"), so a hash is checked with the costs it
// was made with. Nothing else of a password is ever kept.
//
// Real use hashes with libsodium's INTERACTIVE limits (64 MiB, two passes).
// The test suite sets LEDGER_TEST_PASSWORD_COST=minimum, read once, which
// makes new hashes with libsodium's smallest limits so that its many sign-ins
// stay quick; any other value is ignored, so the switch can only ever choose
// that one setting and never a cost between.

#include <string>

#include "LhApi.h"

namespace ledgerhost {

// The hash of `password`, ready to store. Throws StoreError when libsodium
// cannot work (no memory).
LH_API std::string hashPassword(const std::string& password);
// True when `password` is the one `hash` was made from; false for any other
// password and for a text that is not such a hash.
LH_API bool passwordMatches(const std::string& hash, const std::string& password);
// True while the test switch above lowers the cost of new hashes.
LH_API bool passwordTestCost();

// Why a new password may not be used (empty when it may): too short, or
// holding a line break or a control character that no terminal or form could
// type again.
LH_API std::string newPasswordProblem(const std::string& password);
inline constexpr std::size_t kShortestPassword = 6;

}  // namespace ledgerhost
