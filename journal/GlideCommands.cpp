// Row commands and imports of the journal window (being built).
#include "Unt_CashGlideForm.h"

void TFrmCashGlide::TBtnNewClick() {}
void TFrmCashGlide::TBtnEditClick() {}
void TFrmCashGlide::TBtnDeleteClick() {}
void TFrmCashGlide::tbtn_viewVoucherClick() {}
void TFrmCashGlide::Tlbn_OdersetClick() {}
void TFrmCashGlide::Mitm_FileinputClick() {}
void TFrmCashGlide::Mitm_VouinputClick() {}
void TFrmCashGlide::mniICBCClick() {}
void TFrmCashGlide::mniCCBClick() {}
