// The journal window's import from vouchers.
#include "Seams.h"
#include "Unt_CashGlideForm.h"
#include "Unt_CashGlideInput.h"
#include "VoucherImport.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

// At most one conditions dialog exists at a time.
TFrmCashGlideInput* FrmCashGlideInput = nullptr;

struct InputDialogRelease {
    ~InputDialogRelease() {
        delete FrmCashGlideInput;
        FrmCashGlideInput = nullptr;
    }
};

}  // namespace

void TFrmCashGlide::Mitm_VouinputClick() {
    if (!FrmCashGlideInput) FrmCashGlideInput = new TFrmCashGlideInput(nullptr, tableName());
    InputDialogRelease release;
    QStringList texts;
    std::vector<BankAccountPtr> accounts;
    for (int i = 0; i < CmbAs_Code->count(); ++i) {
        texts << CmbAs_Code->itemText(i);
        accounts.push_back(accountOfItem(i));
    }
    FrmCashGlideInput->setAccounts(texts, accounts, CmbAs_Code->currentIndex());
    FrmCashGlideInput->Conditions()->CopyFrom(*CaGlideMng()->CaGlideQry());
    if (ShowModal(*FrmCashGlideInput) != mrOk) return;
    CaGlideMng()->CaGlideQry()->CopyFrom(*FrmCashGlideInput->Conditions());
    {
        PendingRollback rollback(*CaGlideMng());
        TCaInputVoucherMng::Loaddata(*CaGlideMng());
        TCaInputVoucherMng::SaveData(*CaGlideMng());
        rollback.done();
    }
    CaGlideMng()->CaGlideQry()->BVoucher_ID = "0";
    CaGlideMng()->CaGlideQry()->EVoucher_ID = "0";
    RebuildGrid();
    focusGrid("从凭证中导入");
}
