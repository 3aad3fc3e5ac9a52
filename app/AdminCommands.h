#pragma once

// The subcommands of `ledger-admin`. Each is one function over the arguments
// after its name, printing what it did on standard output and a Chinese
// message on standard error; it answers the exit status (0 done, 1 failed,
// 2 wrong arguments). ledger_admin.cpp lists them in one table.

#include <string>
#include <vector>

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
}  // namespace admin
