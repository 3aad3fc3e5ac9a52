#pragma once

// 系统管理: the lists of a real office, one page each — 账套, 账户 (of one book
// set), 基础资料 (of one kind) and 用户 — kept by an administrator through the
// host's rules. Each page is a ListPage (search box, Enter, Insert/Ctrl+N,
// Delete); 账户 and 基础资料 can be filled from a file. A user can be given an
// initial password (重设密码). 已删除记录 lists the journal rows deleted from a
// book set; one can be restored as it was.

#include <QDialog>
#include <memory>
#include <string>

#include "Store.h"

class QComboBox;
class QPushButton;

namespace Ui {
class FrmSystemAdmin;
}

namespace office {

class ListPage;

class TFrmSystemAdmin final : public QDialog {
    Q_OBJECT
  public:
    // `book`: the book set whose accounts show first.
    TFrmSystemAdmin(QWidget* owner, ledgerhost::Database& db, std::string actor, std::string book);
    ~TFrmSystemAdmin() override;

    std::unique_ptr<Ui::FrmSystemAdmin> ui;
    ListPage* books;
    ListPage* accounts;
    ListPage* base;
    ListPage* users;
    ListPage* deleted;
    QComboBox* cmbDeletedBook = nullptr;
    QPushButton* btnResetPassword = nullptr;
    QPushButton* btnRestore = nullptr;

  public slots:
    void AddBook();
    void EditBook();
    void DeleteBook();
    void AddAccount();
    void EditAccount();
    void DeleteAccount();
    void ImportAccounts();
    void AddBase();
    void EditBase();
    void DeleteBase();
    void ImportBase();
    void AddUser();
    void EditUser();
    void DeleteUser();
    void ResetPassword();
    void RestoreRow();

  private:
    void reloadBooks(const QString& current = {});
    void reloadAccounts(const QString& current = {});
    void reloadBase(const QString& current = {});
    void reloadUsers(const QString& current = {});
    void reloadDeleted();
    void fillBookChoices();
    std::string accountBook() const;
    std::string baseKind() const;
    std::string baseBook() const;
    // Asks a question with "否" as the default; true on "是".
    bool ask(const std::string& text);
    // Runs a change of the host's rules; a refusal is shown. True when done.
    template <class Fn>
    bool change(Fn&& fn);

    ledgerhost::Database& db_;
    std::string actor_;
    std::string book_;
};

}  // namespace office
