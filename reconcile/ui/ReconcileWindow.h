#pragma once

// The window "银行对账": one bank account of the current book set and a date
// range; the bank journal's rows on the left, the statement's on the right;
// automatic and manual matching, undoing groups, the bank's opening balance
// and opening items, and the balance reconciliation statement (preview, print,
// export through the host's report output).

#include <QDialog>
#include <QWidget>
#include <memory>

#include "Reconcile.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
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

    // The statement of the shown account as at the range's end, as a sheet.
    std::unique_ptr<ledgerhost::SheetModel> reportSheet();

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
    void SelectionChanged();

  private:
    reconcile::Reconciler reconciler();
    void fill(QStandardItemModel* model, const std::vector<reconcile::SideRow>& rows);
    std::vector<reconcile::RowRef> selected(QTableView* view) const;
    std::int64_t selectedTotal(QTableView* view) const;
    QString title() const;

    ledgerhost::Database& db_;
    std::string book_, user_;
    QStandardItemModel* journal_;
    QStandardItemModel* statement_;
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
