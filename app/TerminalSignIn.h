#pragma once

// How the programs sign a user in before they do anything for them: the
// user's code with --user, the password typed on the terminal (without
// echo) or read from the file --password-file names. Never from an
// argument, which the process list would show. A password file that the
// group or others may read is refused. `chuna-import`, `chuna-reconcile`,
// `chuna-funds` and `chuna-admin` sign in here; `chuna` reads --password-file here too
// and otherwise asks in its sign-in dialog.

#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "SignIn.h"

namespace ledgerhost {
class Database;
class HostSession;
}  // namespace ledgerhost

namespace cli {

// The option every program that signs in takes besides --user.
inline constexpr Option kPasswordFileOption{"--password-file", true};

// A password that could not be read; the message is in Chinese.
class PasswordUnreadable : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The first line of the file (without its line end). Refused when it is not
// a regular file, when its mode lets the group or others read it, or when it
// is empty.
std::string readPasswordFile(const std::string& path);
// A line typed on the terminal with its echo off, after `prompt`. Refused
// when the program has no terminal.
std::string readTerminalPassword(const std::string& prompt);
// --password-file's password, else the terminal's.
std::string passwordOf(const CommandLine& line, const std::string& prompt = "密码：");
// A new password: --new-password-file's (when the program takes it), else
// typed twice on the terminal, which must agree.
std::string newPasswordOf(const CommandLine& line);

// Signs in --user with the password from passwordOf. On refusal (no --user,
// a wrong password, a password that cannot be read, an initial password to
// change or a first password to choose, unless `needsAllowed`) prints the
// reason after `program` on standard error and answers nothing.
std::optional<ledgerhost::SignedIn> signIn(ledgerhost::Database& db, const CommandLine& line,
                                           const std::string& program, bool needsAllowed = false);

// The options of a program that works in one book set for a signed-in user
// (--db, --book, --user, --password-file, --help and -h), then `more`.
std::vector<Option> bookSetOptions(std::initializer_list<Option> more);

// Signs --user in on --db (signIn), then opens the session in --book.
// Nothing when the sign-in is refused (signIn has said why); throws what
// opening the store or the session throws.
std::unique_ptr<ledgerhost::HostSession> signedInSession(const CommandLine& line,
                                                         const std::string& program);

}  // namespace cli
