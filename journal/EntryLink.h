#pragma once

// How the journal window learns that the entry dialog stored a row.

#include <functional>

class TFrmCashGlide;

// The callback the window hands the entry dialog (its RowSaved): after
// "保存并关闭" the window redraws its grid; while the dialog stays open for a
// further row the window queries again, so the new row shows behind it.
std::function<void(bool closing)> redrawAfterSave(TFrmCashGlide& window);
