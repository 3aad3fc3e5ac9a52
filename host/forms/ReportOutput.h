#pragma once

#include <QPageLayout>
#include <QString>
#include <functional>

#include "LhApi.h"

class QPainter;
class QPaintDevice;
class QPrinter;

namespace ledgerhost {

class SheetModel;

// The page a report starts with: A4 landscape, 10 mm margins. A window keeps
// its printer on it until the user sets up another page.
LH_API QPageLayout reportPageLayout();

// Writes the sheet to a file chosen by its extension: ".xlsx" (merges and
// number formats kept), ".csv" (UTF-8 with BOM) or ".pdf", the last on the
// pages `page` gives and broken into pages exactly as printSheet breaks them on
// a printer with that page (a window passes its printer's page, so that the
// PDF shows the pages its preview showed). Answers false and sets *error (a
// message for the user) when it cannot.
LH_API bool exportSheet(const SheetModel& sheet, const QString& path, QString* error,
                        const QPageLayout& page = reportPageLayout());

// Paints the sheet onto the printer's pages, the heading rows repeated on each.
LH_API void printSheet(const SheetModel& sheet, QPrinter& printer, const QString& title);

// The same onto any device whose painter is active; newPage starts the next
// page (the printer's or the PDF writer's newPage).
LH_API void paintSheet(const SheetModel& sheet, QPainter& painter, QPaintDevice& device,
                       const std::function<bool()>& newPage, const QString& title);

}  // namespace ledgerhost
