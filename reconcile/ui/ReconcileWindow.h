#pragma once

// The window "银行对账": one bank account of the current book set and a date
// range; the bank journal's rows on the left, the statement's on the right;
// automatic and manual matching, undoing groups, the bank's opening balance
// and opening items, and the balance reconciliation statement (preview, print,
// export through the host's report output).

#include <QDialog>
#include <QWidget>
#include <memory>
#include <optional>

#include "Reconcile.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QSpinBox;
class QStandardItemModel;
class QTableView;

namespace ledgerhost {
class Database;
class SheetModel;
}  // namespace ledgerhost

class TFrmBankReconcile final : public QWidget {
    Q_OBJECT
  public:
    TFrmBankReconcile(QWidget* owner, ledgerhost::Database& db, std::string bookCode,
                      std::string user);
    ~TFrmBankReconcile() override;

    QComboBox* CmbAccount = nullptr;
    QDateEdit* DtpBegin = nullptr;
    QDateEdit* DtpEnd = nullptr;
    QCheckBox* ChkUnreconciled = nullptr;
    QSpinBox* SpnDays = nullptr;
    QTableView* GrdJournal = nullptr;
    QTableView* GrdStatement = nullptr;
    QLabel* LblStatus = nullptr;
    // The live box: the bank's balance as at the range's end, the journal's
    // balance adjusted by what one side has and the other not (the ticked rows
    // counted as matched) and their difference, updated as rows are ticked.
    QLabel* LblBank = nullptr;
    QLabel* LblAdjusted = nullptr;
    QLabel* LblDifference = nullptr;

    // The statement of the shown account as at the range's end, as a sheet.
    std::unique_ptr<ledgerhost::SheetModel> reportSheet();
    // The page preview, print and the PDF export share.
    QPrinter& printer();
    // What the live box shows, in cents: the bank's balance (nothing when it
    // cannot be known), the adjusted journal balance.
    std::optional<std::int64_t> liveBank() const { return liveBank_; }
    std::int64_t liveAdjusted() const;

  public slots:
    void Query();
    void AutoMatch();
    void ManualMatch();
    void Undo();
    void UndoRange();
    void Openings();
    void Preview();
    void Print();
    void Export();
    void ClosingBalance();
    void SelectionChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    reconcile::Reconciler reconciler();
    void fill(QStandardItemModel* model, const std::vector<reconcile::SideRow>& rows);
    std::vector<reconcile::RowRef> selected(QTableView* view) const;
    std::int64_t selectedTotal(QTableView* view) const;
    QString title() const;
    std::string until() const;
    void refreshLiveBox();

    ledgerhost::Database& db_;
    std::string book_, user_;
    QStandardItemModel* journal_;
    QStandardItemModel* statement_;
    std::unique_ptr<QPrinter> printer_;
    // From the last query: the bank's balance as at the range's end and the
    // journal's balance adjusted by every unmatched row up to then.
    std::optional<std::int64_t> liveBank_;
    std::int64_t liveBase_ = 0;
    QString liveBankSource_, liveProblem_;
};

// The statement's closing balance as the bank printed it, for one date.
class TFrmClosingBalance final : public QDialog {
    Q_OBJECT
  public:
    TFrmClosingBalance(QWidget* owner, const QString& date, const QString& current);
    QLineEdit* EdtAmount = nullptr;
    // After OK: the amount in cents, or nothing when the entry was cleared.
    std::optional<std::int64_t> amount() const { return amount_; }
    bool cleared() const { return cleared_; }

  public slots:
    void Ok();
    void Clear();

  private:
    std::optional<std::int64_t> amount_;
    bool cleared_ = false;
};

// The bank's opening balance and the opening items of one account, as the
// cashier's initialisation (系统 → 出纳初始化) entered them; shown, not edited.
class TFrmReconcileOpenings final : public QDialog {
    Q_OBJECT
  public:
    TFrmReconcileOpenings(QWidget* owner, reconcile::Reconciler& rec);

  private:
    void reload();
    reconcile::Reconciler& rec_;
    class QLabel* opening_;
    class QTableWidget* items_;
};
