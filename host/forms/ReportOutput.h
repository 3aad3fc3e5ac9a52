#pragma once

#include <QPageLayout>
#include <QString>

#include "LhApi.h"

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

}  // namespace ledgerhost
