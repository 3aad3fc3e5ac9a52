#pragma once

// The first start on a database that is not there yet: 新建账套 makes an
// empty store with the office's first book set and its administrator (who may
// use it, signing in with the password chosen here), 打开演示账套 the demo,
// as before.

#include <QDialog>
#include <memory>
#include <string>

#include "BookSets.h"

namespace Ui {
class FrmFirstStart;
}

namespace office {

class TFrmFirstStart final : public QDialog {
    Q_OBJECT
  public:
    // `location`: the database to make; `year`: offered as the accounting year.
    TFrmFirstStart(QWidget* owner, std::string location, int year);
    ~TFrmFirstStart() override;
    void accept() override;

    std::unique_ptr<Ui::FrmFirstStart> ui;
    // After acceptance: the demo was chosen, else the new store was made
    // with this book set and administrator.
    bool demo = false;
    ledgerhost::BookSetInfo book;
    std::string adminCode, adminName;

  private:
    std::string location_;
};

}  // namespace office
