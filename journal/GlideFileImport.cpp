// The journal window's import from a file, through the import wizard.
#include "Convert.h"
#include "Seams.h"
#include "Unt_CashGlideForm.h"
#include "untImportWizardForm.h"

using namespace ledgerhost;

// Opens the wizard on a converter that writes into the window's journal
// manager. The imported rows show at the next query: the window is not
// redrawn here.
void TFrmCashGlide::Mitm_FileinputClick() {
    BankAccountPtr account = selectedAccount();
    if (!account) return;
    if (account->State != kAccountInUse) {
        CmmObj->MsgBox("当前账号已停用！");
        return;
    }
    auto convert = std::make_unique<TCaGlideConvert>(std::string(), ctCaGlide, true);
    convert->GlideMng = CaGlideMng();
    {
        auto wizard = std::make_unique<TfrmImportWizard>(this);
        wizard->Convert = convert.get();
        ShowModal(*wizard);
    }  // the wizard goes first, then the converter
}
