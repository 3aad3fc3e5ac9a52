#pragma once

// Signing in: who a user is, proved by a password. Every program asks here
// before it does anything for a user (`chuna`'s sign-in dialog, the
// command-line programs' --user with the password from the terminal or a
// file).
//
// A user's password is kept only as its Argon2id hash (Passwords.h). An
// administrator gives a user an initial password, which only serves to choose
// a new one at the first sign-in. Wrong passwords are counted: from the
// fifth in a row the user must wait before trying again, 30 seconds and twice
// as long after each further wrong one (at most an hour); attempts while
// waiting are not even checked. A right password resets the count. Every
// refused attempt, the right password that ends a run of wrong ones, and
// every change of a password are recorded in sign_in_log (who, when by the
// database's clock, which program, what happened), never the password, nor
// a code typed for a user that does not exist (it could be a password typed
// into the wrong field). A plain right sign-in writes nothing, so that
// signing in for a backup or a report leaves the database as it was.
//
// A file of an older version has users without passwords: its administrators
// choose theirs at their first sign-in, and nobody else gets in until an
// administrator has given them one.

#include <string>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

// The program that runs ("chuna", "chuna-import", …), as the records of
// sign-ins and changes name it.
LH_API std::string programName();

// A refused sign-in or password change; the reason is the message.
class LH_API SignInError : public StoreError {
  public:
    using StoreError::StoreError;
};

// What a right password still asks before the user may work.
enum class SignInNeeds {
    Nothing,
    // The password is an initial one an administrator gave: choose a new one.
    NewPassword,
    // An administrator of an older file without a password yet: choose one
    // (any password given is not checked).
    FirstPassword,
};

struct LH_API SignedIn {
    std::string UserCode;
    std::string UserName;
    bool Administrator = false;
    SignInNeeds Needs = SignInNeeds::Nothing;
};

// Consecutive wrong passwords after which the user must wait.
inline constexpr int kWrongPasswordsBeforeWait = 5;
// Seconds to wait after `wrong` wrong passwords in a row (0 below the limit).
LH_API int signInWaitSeconds(int wrong);

// Checks `password` for `user`; throws SignInError with the reason (and
// records the attempt) when it is refused.
LH_API SignedIn signIn(Database& db, const std::string& user, const std::string& password);

// The user's own new password; `oldPassword` must be the present one (or,
// for an administrator without one yet, is not asked). Clears the need to
// change an initial password.
LH_API void changePassword(Database& db, const std::string& user, const std::string& oldPassword,
                           const std::string& newPassword);
// An administrator gives `user` an initial password, which the user must
// change at the next sign-in; a wait for wrong passwords ends with it.
LH_API void resetPassword(Database& db, const std::string& actor, const std::string& user,
                          const std::string& initialPassword);

// The refusals of a program that cannot ask for a new password (the
// command-line programs, `ledger --password-file`) for each need.
LH_API std::string needsMessage(const SignedIn& who);

}  // namespace ledgerhost
