#pragma once

// The programs' name on the user's machine: the organisation and application
// names under which their settings and data folder are kept. Earlier versions
// kept both under "ledger"; what is found there is carried over.

#include <QString>

namespace cli {

// Sets the organisation and application names ("chuna"), and the first time
// the settings under the new name are empty, copies every setting kept under
// the old name into them (the old ones are left as they were).
void setProgramName();

// The database a program opens when none is named: `file` ("chuna.db",
// "demo.db") in the user's data folder, or, when it is not there yet but the
// earlier version's database `oldFile` is in the old data folder, that one,
// so an upgrade does not start from an empty set of books.
QString defaultDatabase(const QString& file, const QString& oldFile);

// The two data folders (the new and the old one), for messages and tests.
QString dataFolder();
QString oldDataFolder();

}  // namespace cli
