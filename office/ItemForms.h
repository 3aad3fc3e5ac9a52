#pragma once

// The forms that add or change one item of 系统管理's lists: a book set, an
// account, an item of base information, a user. Each saves through the
// host's rules when accepted; a refusal is shown with its reason and the form
// stays open, so the entry can be corrected.

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

#include "Accounts.h"
#include "BaseData.h"
#include "BookSets.h"
#include "Users.h"

namespace Ui {
class FrmBookSetEdit;
class FrmAccountEdit;
class FrmBaseItemEdit;
class FrmUserEdit;
}  // namespace Ui

namespace office {

// Common to the forms: the store, the acting administrator, and the save run
// when the form is accepted.
class ItemForm : public QDialog {
    Q_OBJECT
  public:
    ItemForm(QWidget* owner, ledgerhost::Database& db, std::string actor);
    void accept() override;

  protected:
    virtual void save() = 0;
    ledgerhost::Database& db_;
    std::string actor_;
};

class TFrmBookSetEdit final : public ItemForm {
    Q_OBJECT
  public:
    // A new book set (for `year`), or the one given.
    TFrmBookSetEdit(QWidget* owner, ledgerhost::Database& db, const std::string& actor,
                    const std::optional<ledgerhost::BookSetInfo>& book, int year);
    ~TFrmBookSetEdit() override;
    std::unique_ptr<Ui::FrmBookSetEdit> ui;

  private:
    void save() override;
    bool adding_;
};

class TFrmAccountEdit final : public ItemForm {
    Q_OBJECT
  public:
    TFrmAccountEdit(QWidget* owner, ledgerhost::Database& db, const std::string& actor,
                    const ledgerhost::AccountInfo& account, bool adding);
    ~TFrmAccountEdit() override;
    std::unique_ptr<Ui::FrmAccountEdit> ui;

  private:
    void save() override;
    ledgerhost::AccountInfo account_;
    bool adding_;
};

class TFrmBaseItemEdit final : public ItemForm {
    Q_OBJECT
  public:
    TFrmBaseItemEdit(QWidget* owner, ledgerhost::Database& db, const std::string& actor,
                     std::string kind, std::string setCode,
                     const std::optional<ledgerhost::BaseItem>& item);
    ~TFrmBaseItemEdit() override;
    std::unique_ptr<Ui::FrmBaseItemEdit> ui;

  private:
    void save() override;
    std::string kind_, setCode_, code_;
};

class TFrmUserEdit final : public ItemForm {
    Q_OBJECT
  public:
    TFrmUserEdit(QWidget* owner, ledgerhost::Database& db, const std::string& actor,
                 const std::optional<ledgerhost::UserInfo>& user);
    ~TFrmUserEdit() override;
    std::unique_ptr<Ui::FrmUserEdit> ui;

  private:
    void save() override;
    bool adding_;
};

}  // namespace office
