#pragma once

#include <QDate>
#include <string>
#include <vector>

namespace demo {

// Creates a book-set database filled with a demo company that a newcomer can
// try every command on. The rows fall in the year of `today`, up to its month.
// The README lists what is in it.
void createDemoDatabase(const std::string& path, const QDate& today);

// Writes sample bank statements for the demo company into `folder`: an ICBC
// statement text file (GBK) of account 6222020200112345678 and a CCB statement
// workbook (.xls) for the month of `today`. Answers the files written.
std::vector<std::string> writeDemoStatements(const std::string& folder, const QDate& today);

}  // namespace demo
