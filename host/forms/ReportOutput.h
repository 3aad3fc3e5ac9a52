#pragma once

#include <QString>

#include "LhApi.h"

class QPrinter;

namespace ledgerhost {

class SheetModel;

// Writes the sheet to a file chosen by its extension: ".xlsx" (merges and
// number formats kept), ".csv" (UTF-8 with BOM) or ".pdf". Answers false and
// sets *error (a message for the user) when it cannot.
LH_API bool exportSheet(const SheetModel& sheet, const QString& path, QString* error);

// Paints the sheet onto the printer's pages, the heading rows repeated on each.
LH_API void printSheet(const SheetModel& sheet, QPrinter& printer, const QString& title);

}  // namespace ledgerhost
