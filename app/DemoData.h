#pragma once

#include <QDate>
#include <string>

namespace demo {

// Creates a book-set database filled with a demo company that a newcomer can
// try every command on. The rows fall in the year of `today`, up to its month.
// The README lists what is in it.
void createDemoDatabase(const std::string& path, const QDate& today);

}  // namespace demo
