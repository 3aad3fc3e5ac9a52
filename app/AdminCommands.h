#pragma once

#include <string>

// The subcommands of ledger-admin that move a store to a database server and
// fill one. Each takes the arguments after its name (argv[0] is the
// subcommand's name) and answers the program's exit status: 0 done, 1 failed
// or refused (nothing stored), 2 wrong arguments.

// ledger-admin copy --from FILE.db --to URI
int adminCopy(int argc, char** argv);
// ledger-admin create-demo --db URI
int adminCreateDemo(int argc, char** argv);

namespace admin {
// `target` as it may be shown: a connection URI without its password (user
// information "user:secret@" and a "password=" parameter); anything else as
// it is.
std::string shownTarget(const std::string& target);
// `message` with the password of `target` (a connection URI) taken out
// wherever it appears, and `target` itself shown as shownTarget shows it.
std::string withoutPassword(std::string message, const std::string& target);
// True when `target` names a database server (a libpq URI or service name)
// rather than a SQLite file.
bool isServerTarget(const std::string& target);
}  // namespace admin
