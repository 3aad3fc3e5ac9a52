#pragma once

// 出纳初始化: for each cash and bank account of a book set, the journal's
// opening balance at the first month in use, and for a bank account the
// bank's own opening balance and the opening items; "完成初始化" confirms them
// (then they are fixed), "取消初始化" takes that back while the book set has
// no rows (CashierInit.h).

#include <QDialog>
#include <memory>
#include <string>

#include "CashierInit.h"

namespace Ui {
class FrmCashierInit;
class FrmOpeningItem;
}  // namespace Ui

namespace office {

class ListPage;

class TFrmCashierInit final : public QDialog {
    Q_OBJECT
  public:
    TFrmCashierInit(QWidget* owner, ledgerhost::Database& db, std::string actor, std::string book);
    ~TFrmCashierInit() override;

    std::unique_ptr<Ui::FrmCashierInit> ui;
    ListPage* accounts;
    ListPage* items;

  public slots:
    void SaveOpening();
    void AddItem();
    void RemoveItem();
    void Confirm();
    void CancelInit();

  private:
    void reload();
    void showAccount();
    std::string book() const;
    const ledgerhost::AccountOpening* current() const;
    template <class Fn>
    bool change(Fn&& fn);

    ledgerhost::Database& db_;
    std::string actor_;
    std::vector<ledgerhost::AccountOpening> openings_;
    bool confirmed_ = false;
};

// One opening item: its kind, date (before the books begin), number,
// summary and amount.
class TFrmOpeningItem final : public QDialog {
    Q_OBJECT
  public:
    TFrmOpeningItem(QWidget* owner, const std::string& startDate);
    ~TFrmOpeningItem() override;
    ledgerhost::OpeningItem item() const;
    std::unique_ptr<Ui::FrmOpeningItem> ui;
};

}  // namespace office
