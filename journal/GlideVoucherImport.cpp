// The journal window's import from vouchers (being built).
#include "Unt_CashGlideForm.h"

void TFrmCashGlide::Mitm_VouinputClick() {}
