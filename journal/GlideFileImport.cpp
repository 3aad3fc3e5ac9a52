// The journal window's import from a file, through the import wizard.
#include "BankBalances.h"
#include "CommonObj.h"
#include "Convert.h"
#include "Seams.h"
#include "Unt_CashGlideForm.h"
#include "untImportWizardForm.h"

using namespace ledgerhost;

// Opens the wizard on a converter that writes into the window's journal
// manager; rows of a file without an 账号 column go to the account the
// window's account list shows (the one whose state was checked). After an
// import the window says how many rows went into which account and runs the
// query again, so they show at once.
void TFrmCashGlide::Mitm_FileinputClick() {
    BankAccountPtr account = selectedAccount();
    if (!account) return;
    if (account->State != kAccountInUse) {
        CmmObj->MsgBox("当前账号已停用！");
        return;
    }
    // A bank statement may bring the bank's balance after each row.
    auto convert =
        std::make_unique<TCaGlideConvert>(std::string(), ctCaGlide, true, Capation_Flag == 3);
    convert->GlideMng = CaGlideMng();
    convert->TargetASCode = account->AsCode;
    int result = mrCancel;
    {
        auto wizard = std::make_unique<TfrmImportWizard>(this);
        wizard->Convert = convert.get();
        TfrmImportWizard* owner = wizard.get();
        // A file whose content was imported before: asked, "否" the default.
        convert->ConfirmAgain = [owner](const ImportLogEntry& earlier) {
            return MessageBoxA(owner,
                               "这个文件的内容已经导入过：" + describeImport(earlier) +
                                   "。\n再次导入会重复记账。是否仍要再次导入？",
                               "提示", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        };
        result = ShowModal(*wizard);
    }  // the wizard goes first, then the converter
    if (result != mrOk) {
        activateWindow();
        focusGrid("从文件中导入");
        return;
    }
    MessageBoxA(this,
                "导入完成，共导入 " + std::to_string(convert->ImportedRows) + " 行" +
                    (convert->ImportedAccounts.empty() ? std::string()
                                                       : "到账号 " + convert->ImportedAccounts) +
                    "。" + balanceWarningLines(convert->BalanceWarnings, convert->BalanceBreaks),
                "提示", MB_ICONINFORMATION);
    tbtnSetClick();
    activateWindow();
    focusGrid("从文件中导入");
}
