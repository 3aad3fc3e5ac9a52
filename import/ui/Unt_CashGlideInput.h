#pragma once

// The conditions dialog of the import from vouchers: the user confirms the
// account and the date range (further conditions are carried along unseen),
// and the journal window has the host turn the matching vouchers into rows.

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "BaseForms.h"
#include "Glide.h"
#include "NumEdit.h"

namespace Ui {
class FrmCashGlideInput;
}

class TFrmCashGlideInput : public ledgerhost::TfrmAccBase {
    Q_OBJECT
  public:
    TFrmCashGlideInput(QWidget* owner, const std::string& tableName);
    ~TFrmCashGlideInput() override;

    // The conditions the dialog edits; owned.
    ledgerhost::TCaGlideQry* Conditions() const { return conditions_.get(); }
    const std::string& TableName() const { return tableName_; }

    // Copies the journal window's account list: texts and account records.
    void setAccounts(const QStringList& texts,
                     const std::vector<ledgerhost::BankAccountPtr>& accounts, int selected);
    ledgerhost::BankAccountPtr selectedAccount() const;

    QComboBox* CmbAs_Code;
    QDateEdit* DTPBCreateDate;
    QDateEdit* DTPECreateDate;
    QComboBox* CB_VoucherClass;
    ledgerhost::TPBNumEdit* EdtBVOUCHER_ID;
    ledgerhost::TPBNumEdit* EdtEVOUCHER_ID;
    QComboBox* CmbPM_Code;
    QLineEdit* EdtPayCode;
    QLineEdit* EdtCR_Code;
    QLineEdit* EdtDP_Code;
    QLineEdit* EdtSUMMARY;
    QComboBox* CmbApplyUser;
    QPushButton* BtOk;
    QPushButton* BtCancel;

  public slots:
    void FormShow();
    void InitConditions();
    void BtOkClick();
    void BtCancelClick();
    void SaveConditions();
    void EdtCR_CodeDblClick();
    void EdtDP_CodeDblClick();
    void EdtSUMMARYDblClick();
    void EdtCR_CodeKeyPress(int key);
    void EdtDP_CodeKeyPress(int key);

  protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    std::unique_ptr<Ui::FrmCashGlideInput> ui_;
    std::string tableName_;
    std::unique_ptr<ledgerhost::TCaGlideQry> conditions_;
    std::vector<ledgerhost::BankAccountPtr> accounts_;
};
