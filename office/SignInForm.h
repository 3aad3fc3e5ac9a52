#pragma once

// `chuna`'s sign-in (操作员, 密码, 账套) and the change of a password (系统 →
// 修改密码, and at the sign-in when an initial password must be replaced or
// an older database's administrator has none yet). The operator and book set
// last signed in with are remembered (QSettings), never the password.

#include <QDialog>
#include <string>

#include "SignIn.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace ledgerhost {
class Database;
}

namespace office {

class TFrmChangePassword final : public QDialog {
    Q_OBJECT
  public:
    // `firstPassword`: an administrator of an older database choosing the
    // first one; the present password is not asked then. `resetBy`: the
    // administrator giving `user` an initial password (系统管理 → 重设密码),
    // which the user must change at the next sign-in.
    TFrmChangePassword(QWidget* owner, ledgerhost::Database& db, std::string user,
                       bool firstPassword, const QString& reason = {}, std::string resetBy = {});
    void accept() override;

    QLineEdit* edtOld = nullptr;
    QLineEdit* edtNew = nullptr;
    QLineEdit* edtNew2 = nullptr;

  private:
    ledgerhost::Database& db_;
    std::string user_;
    bool first_;
    std::string resetBy_;
};

class TFrmSignIn final : public QDialog {
    Q_OBJECT
  public:
    // `user`, `book`: offered first (from --user and --book, else the last
    // sign-in's, else the default ones).
    TFrmSignIn(QWidget* owner, ledgerhost::Database& db, const std::string& user,
               const std::string& book);
    void accept() override;

    QLineEdit* edtUser = nullptr;
    QLineEdit* edtPassword = nullptr;
    QComboBox* cmbBook = nullptr;
    // After acceptance: who signed in, and into which book set.
    ledgerhost::SignedIn signedIn;
    std::string book;

    // The operator and book set of the last sign-in on this workstation.
    static std::string lastUser();
    static std::string lastBook();

  private:
    void fillBooks();
    ledgerhost::Database& db_;
};

}  // namespace office
