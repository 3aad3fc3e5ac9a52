#pragma once

#include <QDate>
#include <string>
#include <vector>

namespace ledgerhost {
class Database;
}

namespace demo {

// The password of every demo user (admin, zhang, li); the README states it.
inline constexpr const char* kDemoPassword = "demo123";

// Creates a book-set database at `path`, filled with a demo company that a
// newcomer can try every command on, if no file is there: the file appears
// whole or not at all. Answers false when another program created it first
// (that file is left as it is). The README lists what is in it.
bool createDemoDatabase(const std::string& path, const QDate& today);

// Fills a new, empty database with the demo company. The rows fall in the
// year of `today`, up to its month.
void fillDemoDatabase(ledgerhost::Database& db, const QDate& today);

// Writes sample bank statements for the demo company into `folder`: an ICBC
// statement text file (GBK) of account 6222020200112345678 and a CCB statement
// workbook (.xls) for the month of `today`. Answers the files written. The
// folder is made when missing; a folder that is a symbolic link is refused.
// A file is never written over or through a link: where the name is taken,
// the next free one ("… (2).txt") is used. Throws StoreError with the reason
// when the statements cannot be written.
std::vector<std::string> writeDemoStatements(const std::string& folder, const QDate& today);

}  // namespace demo
