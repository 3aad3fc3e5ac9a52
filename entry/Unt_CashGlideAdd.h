#pragma once

// The entry dialog: one journal row typed in or changed (date, voucher type and
// number, cheque number, settlement mode, debit or credit, summary, counterpart
// unit, department, remark) and stored through the row's own Insert or Update.
// The journal window that opens it is redrawn after every successful save.

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringListModel>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "BaseForms.h"
#include "Glide.h"
#include "NumEdit.h"
#include "Records.h"

namespace Ui {
class FrmCashGlideAdd;
}

class TFrmCashGlideAdd : public ledgerhost::TfrmAccBase {
    Q_OBJECT
  public:
    // tableName: the journal table the entry belongs to ("CaGlide" or
    // "CaCollateGlide"); the dialog creates its own entry for it.
    TFrmCashGlideAdd(QWidget* owner, const std::string& tableName);
    ~TFrmCashGlideAdd() override;

    // The entry being edited, owned by the dialog; the setter takes over the
    // row it is given and frees the one it held.
    ledgerhost::TCaGlide* CaGlide() const { return caGlide_.get(); }
    void setCaGlide(std::unique_ptr<ledgerhost::TCaGlide> row) { caGlide_ = std::move(row); }

    std::string TableName;
    // Told after a row is stored: closing is true when the dialog closes with
    // the save ("保存退出"), false when it stays open for a further row; saved
    // is the row as stored (with its id). The window that opens the dialog
    // sets it to redraw itself; empty, nobody is told.
    std::function<void(bool closing, const ledgerhost::TCaGlide& saved)> RowSaved;
    // "0" adding a new entry, anything else modifying the entry.
    std::string EditMode;

    // The base-information item last chosen in a picker edit; nothing when
    // none was chosen. The item is owned by the host's BasisManageFactory.
    ledgerhost::TBaseInfoItem* tagOf(QLineEdit* edit) const;

    // Controls.
    QGroupBox* GroupBox1;
    QLineEdit* EdtAsCode;
    QLineEdit* EdtDataOrNo;
    QDateEdit* DTPCreateDate;
    QComboBox* CB_VoucherClass;
    ledgerhost::TPBNumEdit* EdtVoucher_ID;
    QLineEdit* EdtPaycode;
    QLineEdit* edtPayMode;
    ledgerhost::TPBNumEdit* EdtDebMoney;
    ledgerhost::TPBNumEdit* EdtCreMoney;
    QLineEdit* EdtSummary;
    QLineEdit* edtCurrent;
    QLineEdit* edtDepartment;
    QPlainTextEdit* EdtRemark;
    QLineEdit* EdtApplyUser;
    QPushButton* BtSave;
    QPushButton* BtSaveClose;
    QPushButton* Btcancel;

  public slots:
    void FormShow();
    // Fills the controls from the entry.
    void ShowCaGlide();
    // Validates the controls and writes them into the entry; false after a
    // message has told the user what is wrong.
    bool CheckCaGlide();
    void BtSaveCloseClick();
    void BtSaveClick();
    void BtcancelClick();
    void EdtDebMoneyExit();
    void EdtCreMoneyExit();
    // Shared by the three picker edits; `edit` is the one the event came from.
    void edtPayModeDblClick(QLineEdit* edit);
    void edtPayModeKeyPress(QLineEdit* edit, int key);

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Moves the focus to the button about to act, so that an accelerator
    // finishes the edit being typed just as a mouse click does.
    void finishTyping(QPushButton* button);
    bool filterEvent(QObject* watched, QEvent* event);
    bool isPickerEdit(QObject* o) const;
    void setTag(QLineEdit* edit, ledgerhost::TBaseInfoItem* item);
    // The inner code of the edit's item, or empty when the edit has no item or
    // its text has been cleared.
    std::string pickedInCode(QLineEdit* edit) const;

    // Fills the summary's completions afresh (after a save, with its summary).
    void offerSummaries();

    std::unique_ptr<Ui::FrmCashGlideAdd> ui_;
    QStringListModel* summaryTexts_ = nullptr;
    std::unique_ptr<ledgerhost::TCaGlide> caGlide_;
    std::map<const QLineEdit*, ledgerhost::TBaseInfoItem*> tags_;
    // Set when the entry could not be shown: the dialog saves nothing and
    // closes.
    bool unusable_ = false;
};
