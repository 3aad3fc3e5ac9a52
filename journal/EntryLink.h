#pragma once

// How the journal window learns that the entry dialog stored a row.

#include <functional>

class TFrmCashGlide;

namespace ledgerhost {
class TCaGlide;
}

// The callback the window hands the entry dialog (its RowSaved): after
// "保存退出" the window redraws its grid; while the dialog stays open for a
// further row the window queries again, so the new row shows behind it.
// Either way the grid's cursor is on the row just saved, and the grid has the
// focus when the dialog closes.
std::function<void(bool closing, const ledgerhost::TCaGlide& saved)> redrawAfterSave(
    TFrmCashGlide& window);
