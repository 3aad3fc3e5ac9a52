#pragma once

#include <QString>
#include <functional>

#include "LhApi.h"

class QPainter;
class QPaintDevice;
class QPrinter;

namespace ledgerhost {

class SheetModel;

// Writes the sheet to a file chosen by its extension: ".xlsx" (merges and
// number formats kept), ".csv" (UTF-8 with BOM) or ".pdf". Answers false and
// sets *error (a message for the user) when it cannot.
LH_API bool exportSheet(const SheetModel& sheet, const QString& path, QString* error);

// Paints the sheet onto the printer's pages, the heading rows repeated on each.
LH_API void printSheet(const SheetModel& sheet, QPrinter& printer, const QString& title);

// The same onto any device whose painter is active; newPage starts the next
// page (the printer's or the PDF writer's newPage).
LH_API void paintSheet(const SheetModel& sheet, QPainter& painter, QPaintDevice& device,
                       const std::function<bool()>& newPage, const QString& title);

}  // namespace ledgerhost
