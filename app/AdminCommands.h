#pragma once

// The subcommands of `chuna-admin`. Each is one function over the arguments
// after its name, printing what it did on standard output and a Chinese
// message on standard error; it answers the exit status (0 done, 1 failed,
// 2 wrong arguments). ledger_admin.cpp lists them in one table.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace ledgerhost {
class Database;
}

namespace admin {

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;    // the arguments, after the name
    const char* summary;  // one line of what it does
    int (*run)(const Args& args);
};

// Reads "--name value" (or "--name=value") options through cli::CommandLine;
// a missing value, an unknown option or a stray argument is reported and
// answers false.
bool parseOptions(const char* command, const Args& args, const std::vector<const char*>& names,
                  std::vector<std::string>& values);

// Every subcommand signs its user in (TerminalSignIn.h): the options named
// plus --user and --password-file, parsed; nothing after a wrong argument
// (reported).
std::optional<cli::CommandLine> signingOptions(const char* command, const Args& args,
                                               const std::vector<const char*>& names);
// Signs --user in on the database and requires the administrator right;
// prints the refusal and answers false. `needsAllowed`: an initial password
// still to change, or a first one to choose, does not refuse.
bool signedInAdministrator(const char* command, ledgerhost::Database& db,
                           const cli::CommandLine& line, bool needsAllowed = false);
// The same on the database at `location`, opened for the sign-in only.
bool signedInAdministrator(const char* command, const std::string& location,
                           const cli::CommandLine& line);

int backup(const Args& args);   // AdminBackup.cpp
int restore(const Args& args);  // AdminBackup.cpp

// The subcommands that move a store to a database server and fill one:
// copy --from FILE.db --to URI (AdminCopy.cpp), create-demo --db URI
// (AdminDemo.cpp). A refusal or failure stores nothing.
int copy(const Args& args);
int createDemo(const Args& args);
// The rights of a role on a ledger on a server, and the upgrade of an older
// ledger by its owner (AdminServer.cpp).
int grant(const Args& args);
int upgrade(const Args& args);
// create --db LOCATION [--book … --admin …]: an empty store (AdminCreate.cpp).
int create(const Args& args);
// password: a user changes their own password (AdminHistory.cpp).
int password(const Args& args);
// history show|deleted|restore: a row's history, the rows deleted from a
// book set, and one of them restored (AdminHistory.cpp).
int history(const Args& args);

// A subcommand of verbs over an existing database, done by a signed-in user
// (the host's rules check the administrator right where they need it):
// "chuna-admin NAME VERB --db LOCATION --user CODE [--password-file F]
// [options]". Each verb
// names the options it needs and takes; a refusal of the host's rules is
// printed on standard error (exit status 1), a wrong argument with the
// verbs' usage (2).
struct Verb {
    const char* name;
    const char* usage;                  // its options, after --db and --user
    std::vector<const char*> required;  // options that must be given
    std::vector<const char*> optional;  // options that may be given
    std::function<void(ledgerhost::Database& db, const std::string& actor,
                       const cli::CommandLine& line)>
        run;
};
int runVerbs(const char* command, const Args& args, const std::vector<Verb>& verbs);

// The lists of a real office (AdminOffice.cpp): book-set, account, base,
// user, import-list.
int bookSet(const Args& args);
int account(const Args& args);
int base(const Args& args);
int user(const Args& args);
int importList(const Args& args);
// The cashier's openings and the year (AdminCashier.cpp): opening, init,
// carry-forward.
int opening(const Args& args);
int init(const Args& args);
int carryForward(const Args& args);
}  // namespace admin
