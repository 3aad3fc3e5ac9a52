// The journal window's import from a file through the wizard (being built).
#include "Unt_CashGlideForm.h"

void TFrmCashGlide::Mitm_FileinputClick() {}
