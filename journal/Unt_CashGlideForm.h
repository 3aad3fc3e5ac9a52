#pragma once

// The journal window: a cash journal, a bank journal or a bank statement of the
// current book set, with its filter panel, tool bar commands, import menu and
// the report grid.

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMenu>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BaseForms.h"
#include "Cell.h"
#include "Glide.h"
#include "NumEdit.h"
#include "Records.h"

namespace Ui {
class FrmCashGlide;
}

// Journal kinds (the window's Capation_Flag).
enum JournalKind : std::int32_t { jkCash = 1, jkBank = 2, jkStatement = 3 };

// The window's file-open dialog settings for the statement imports.
struct TOpenDialog {
    QString Filter;
    int FilterIndex = 0;
    QString DefaultExt;
    QString FileName;
    // Shows the dialog (through the host's seam); false when cancelled.
    bool Execute(QWidget* owner);
};

class TFrmCashGlide : public ledgerhost::TfrmBaseAssRpt {
    Q_OBJECT
  public:
    TFrmCashGlide(QWidget* owner, std::int32_t subjectKind, std::int32_t journalKind);
    ~TFrmCashGlide() override;

    // Published properties.
    ledgerhost::TCaGlide* CaGlide() { return GetCaGlide(); }
    ledgerhost::TCaGlideMng* CaGlideMng() const { return mng_.get(); }
    // The code of the selected account; empty when none is selected.
    std::string As_Code() const;
    std::int32_t subject_Kind = 0;
    std::int32_t Capation_Flag = 0;
    std::string tableName() const;

    QString GetFormKey() override { return QStringLiteral("CashGlideform"); }
    void ReportHook() override {}
    // The base widths, then the amount columns fitted to their widest value
    // and the window's spare width given to 摘要 and 单位名称.
    void BuildFormat() override;
    QString ExportFileName() override;
    // The row object under the grid's current row; nothing on a heading row.
    virtual ledgerhost::TCaGlide* GetCaGlide();
    virtual void RebuildGrid();
    virtual void WriteGridRow(ledgerhost::TCaGlide* row, int gridRow);
    // Where the cursor goes after the next rebuild: the stored row with the id
    // `id`, else the one with `otherwise`. Without a call a rebuild leaves the
    // cursor on the row it was on (the same stored row, or the same balance or
    // total line), or on the first journal row.
    void keepCursorOn(std::int64_t id, std::int64_t otherwise = 0);
    // Puts the focus in the grid, on the first journal row when the cursor is
    // on no row below the headings, and tells the cursor trace (logging
    // category "chuna.journal.cursor") where it is after the command.
    void focusGrid(const char* after);

    // The account, book set and user records behind the list items.
    ledgerhost::BankAccountPtr selectedAccount() const;
    ledgerhost::BankAccountPtr accountOfItem(int index) const;
    const ledgerhost::TBookSet* selectedBookSet() const;
    const ledgerhost::TUser* selectedUser() const;
    ledgerhost::TOrder_itemMng* orderItemMng() const { return orderMng_.get(); }

    // Controls.
    QFrame* Panel1;
    QComboBox* CMB_SetCode;
    QComboBox* CmbAs_Code;
    QComboBox* Cmb_ApplyUser;
    QDateEdit* DTPBCreateDate;
    QDateEdit* DTPECreateDate;
    ledgerhost::TPBNumEdit* Edt_FirstNo;
    ledgerhost::TPBNumEdit* Edt_EndNo;
    ledgerhost::TPBNumEdit* EDT_FirstMonery;
    QComboBox* Cmb_operSymble;
    ledgerhost::TPBNumEdit* EDT_ENdMonery;
    QLineEdit* Edt_summary;
    QLineEdit* Edt_PayCode;
    QToolButton* tbtnOptionSet;
    QWidget* ToolButton6;
    QToolButton* TBtnNew;
    QToolButton* TBtnEdit;
    QToolButton* TBtnDelete;
    QWidget* ToolButton1;
    QToolButton* tbtn_viewVoucher;
    QToolButton* Tlbn_Oderset;
    QAction* actHistory;
    QMenu* PMenu_input;
    QAction* Mitm_Fileinput;
    QAction* Mitm_Vouinput;
    QAction* mniICBC;
    QAction* mniCCB;
    TOpenDialog odlgImport;

  public slots:
    void FormShow();
    void tbtnSetClick();
    void Cmb_operSymbleChange();
    void CBAsCodeCloseUp();
    void TBtnNewClick();
    void TBtnEditClick();
    void TBtnDeleteClick();
    // 查看修改记录: the history of the row under the cursor.
    void tbtnHistoryClick();
    void tbtn_viewVoucherClick();
    void Tlbn_OdersetClick();
    void Mitm_FileinputClick();
    void Mitm_VouinputClick();
    void mniICBCClick();
    void mniCCBClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Size, keys, tab order and the filter panel's scrolling (GlideWindow.cpp).
    void setUpWindow();
    void openRowUnderCursor();
    void spreadColumns();
    void restoreWindowState();
    void saveWindowState();
    // The account the conditions name (not necessarily the list's current item).
    ledgerhost::BankAccountPtr queriedAccount() const;
    // Row 2, columns 9 to 12: the account's number and name and the date range,
    // so that printed and exported reports say what they cover.
    void writeReportHeading();
    void fillAccounts();
    void fillBookSets();
    void fillUsers();
    bool selectedAccountInUse();
    bool applyFilterPanel();

    // Which row the cursor goes to after a rebuild.
    struct CursorTarget {
        std::int64_t id = 0;
        std::int64_t otherwise = 0;
        // A balance or total line: the line of the same text, date, book set
        // and account.
        std::string line, date, account;
    };
    CursorTarget cursorNow() const;
    void placeCursor(const CursorTarget& target);
    // Says which row the cursor is on (chuna.journal.cursor, debug level).
    void traceCursor(const char* after) const;
    // False, after a message naming the field, when a number in the filter
    // panel lies beyond what a row can hold.
    bool filterNumbersInRange();

    std::unique_ptr<Ui::FrmCashGlide> ui_;
    std::optional<CursorTarget> cursorTarget_;
    std::unique_ptr<ledgerhost::TOrder_itemMng> orderMng_;
    std::unique_ptr<ledgerhost::TCaGlideMng> mng_;
    std::unique_ptr<ledgerhost::TCaGlide> spare_;
    // Grid texts shared down the sheet: plain conversions, and the unit and
    // settlement-mode texts by code (made afresh on every rebuild, so that
    // renamed units show their new names).
    ledgerhost::SharedTexts gridTexts_, unitTexts_, modeTexts_;
    std::vector<ledgerhost::BankAccountPtr> accountItems_;
    std::vector<std::optional<ledgerhost::TBookSet>> bookItems_;
    std::vector<std::optional<ledgerhost::TUser>> userItems_;
    // Column widths before the spare width is spread.
    std::vector<int> fittedWidths_;
};
