#pragma once

// Helpers for tests that drive the journal window.

#include <QDate>
#include <string>

#include "Cell.h"
#include "Fixture.h"
#include "GridLayout.h"
#include "Unt_CashGlideForm.h"

namespace testutil {

// Queries the window for the first account and the given dates.
inline void queryRange(TFrmCashGlide& w, QDate from, QDate to, int accountIndex = 0) {
    w.CmbAs_Code->setCurrentIndex(accountIndex);
    w.DTPBCreateDate->setDate(from);
    w.DTPECreateDate->setDate(to);
    w.tbtnSetClick();
}

// The grid row that shows the manager's first row with that summary; 0 when none.
inline int gridRowOf(TFrmCashGlide& w, const std::string& summary) {
    for (int i = 0; i < w.CaGlideMng()->GetCount(); ++i)
        if (w.CaGlideMng()->GetDetails(i)->Summary == summary) return kFirstDataRow + i;
    return 0;
}

// The summaries of the journal rows the grid shows, in order (summary rows left out).
inline std::vector<std::string> shownSummaries(TFrmCashGlide& w) {
    std::vector<std::string> out;
    for (int r = kFirstDataRow; r < w.Cell->GetRows(); ++r) {
        std::string s = w.Cell->GetCellString(8, r).toStdString();
        if (!ledgerhost::isSummaryText(s)) out.push_back(s);
    }
    return out;
}

}  // namespace testutil
