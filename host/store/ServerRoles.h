#pragma once

// The rights a role needs on a ledger kept on a database server, given as
// one of three kinds:
//   reader  — reads every table and sequence: queries, statements, backups;
//   cashier — also writes the rows (every cashier path: entry, imports,
//             reconciliation, which numbers rows and moves sequences);
//   admin   — also acts as the ledger's owner (a member of the owning role,
//             and may create schemas in the database): restores, upgrades and
//             manages.
// Every kind may connect and make temporary tables, and signs in: it may add
// to the record of sign-ins and keep its users' passwords and their count of
// wrong ones. The history of rows and sign-ins is insert-only for every kind
// (the owner's trigger refuses changes too). The grants reach the
// tables a later upgrade adds through the owner's default privileges, and a
// restore carries them over to the restored tables.

#include <string>
#include <vector>

#include "LhApi.h"

namespace ledgerhost {

enum class ServerRole { Reader, Cashier, Admin };

// "reader", "cashier", "admin"; nothing for another word.
LH_API bool serverRoleFromName(const std::string& name, ServerRole& out);

// Gives `role` exactly the rights of `kind` on the ledger at `location`
// (taking away any it had beyond them), in one transaction; run by the
// ledger's owner. Answers what was granted, a line each. Throws StoreError.
LH_API std::vector<std::string> grantServerRole(const std::string& location,
                                                const std::string& role, ServerRole kind);

}  // namespace ledgerhost
