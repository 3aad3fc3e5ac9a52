#pragma once

// 结转下年: shows a book set's open year, the balances its accounts will
// carry into the next year, why it cannot be carried forward yet if it
// cannot, and the years carried forward before; "结转下年" closes the year
// (CarryForward.h) after asking.

#include <QDialog>
#include <memory>
#include <string>

#include "Store.h"

namespace Ui {
class FrmCarryForward;
}

namespace office {

class TFrmCarryForward final : public QDialog {
    Q_OBJECT
  public:
    TFrmCarryForward(QWidget* owner, ledgerhost::Database& db, std::string actor, std::string book);
    ~TFrmCarryForward() override;
    std::unique_ptr<Ui::FrmCarryForward> ui;

  public slots:
    void Carry();

  private:
    void reload();
    std::string book() const;

    ledgerhost::Database& db_;
    std::string actor_;
};

}  // namespace office
