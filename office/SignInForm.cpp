#include "SignInForm.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "BookSets.h"
#include "Guard.h"
#include "Passwords.h"
#include "Records.h"
#include "Seams.h"
#include "Users.h"

using namespace ledgerhost;

namespace office {

namespace {

QLineEdit* passwordEdit(QWidget* owner, const char* name) {
    auto* e = new QLineEdit(owner);
    e->setObjectName(QString::fromUtf8(name));
    e->setEchoMode(QLineEdit::Password);
    e->setMaxLength(100);
    return e;
}

QDialogButtonBox* okCancel(QDialog* d) {
    auto* b = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
    b->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    b->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(b, &QDialogButtonBox::accepted, d, &QDialog::accept);
    QObject::connect(b, &QDialogButtonBox::rejected, d, &QDialog::reject);
    return b;
}

const char* const kLastUser = "signIn/user";
const char* const kLastBook = "signIn/book";

}  // namespace

TFrmChangePassword::TFrmChangePassword(QWidget* owner, Database& db, std::string user,
                                       bool firstPassword, const QString& reason,
                                       std::string resetBy)
    : QDialog(owner),
      db_(db),
      user_(std::move(user)),
      first_(firstPassword || !resetBy.empty()),
      resetBy_(std::move(resetBy)) {
    setWindowTitle(resetBy_.empty() ? QStringLiteral("修改密码") : QStringLiteral("重设密码"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* layout = new QVBoxLayout(this);
    if (!reason.isEmpty()) {
        auto* why = new QLabel(reason, this);
        why->setWordWrap(true);
        layout->addWidget(why);
    }
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("操作员"), new QLabel(QString::fromStdString(user_), this));
    edtOld = passwordEdit(this, "edtOld");
    if (!first_) form->addRow(QStringLiteral("原密码"), edtOld);
    edtOld->setVisible(!first_);
    edtNew = passwordEdit(this, "edtNew");
    edtNew2 = passwordEdit(this, "edtNew2");
    form->addRow(resetBy_.empty() ? QStringLiteral("新密码") : QStringLiteral("初始密码"), edtNew);
    form->addRow(QStringLiteral("确认密码"), edtNew2);
    layout->addLayout(form);
    layout->addWidget(okCancel(this));
    (first_ ? edtNew : edtOld)->setFocus();
}

void TFrmChangePassword::accept() {
    guarded(this, "修改密码", [&] {
        if (edtNew->text() != edtNew2->text()) {
            MessageBoxA(this, "两次输入的新密码不一致，请重新输入。", "修改密码",
                        MB_OK | MB_ICONWARNING);
            edtNew2->setFocus();
            return;
        }
        try {
            if (resetBy_.empty())
                changePassword(db_, user_, edtOld->text().toStdString(),
                               edtNew->text().toStdString());
            else
                resetPassword(db_, resetBy_, user_, edtNew->text().toStdString());
        } catch (const UserError& e) {
            MessageBoxA(this, e.what(), "修改密码", MB_OK | MB_ICONWARNING);
            return;
        }
        MessageBoxA(this,
                    resetBy_.empty()
                        ? "密码已修改。"
                        : "已设置初始密码：操作员 " + user_ + " 下次登录时必须修改密码。",
                    "修改密码", MB_OK | MB_ICONINFORMATION);
        QDialog::accept();
    });
}

TFrmSignIn::TFrmSignIn(QWidget* owner, Database& db, const std::string& user,
                       const std::string& bookCode)
    : QDialog(owner), db_(db) {
    setWindowTitle(QStringLiteral("登录"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    edtUser = new QLineEdit(this);
    edtUser->setObjectName(QStringLiteral("edtUser"));
    edtUser->setMaxLength(40);
    edtPassword = passwordEdit(this, "edtPassword");
    cmbBook = new QComboBox(this);
    cmbBook->setObjectName(QStringLiteral("cmbBook"));
    cmbBook->setMinimumWidth(220);
    form->addRow(QStringLiteral("操作员(&U)"), edtUser);
    form->addRow(QStringLiteral("密码(&P)"), edtPassword);
    form->addRow(QStringLiteral("账套(&B)"), cmbBook);
    layout->addLayout(form);
    layout->addWidget(okCancel(this));
    edtUser->setText(QString::fromStdString(user));
    fillBooks();
    const int at = cmbBook->findData(QString::fromStdString(bookCode));
    if (at >= 0) cmbBook->setCurrentIndex(at);
    // The book sets offered are the operator's own.
    connect(edtUser, &QLineEdit::editingFinished, this,
            [this] { guarded(this, "登录", [&] { fillBooks(); }); });
    (user.empty() ? edtUser : edtPassword)->setFocus();
}

void TFrmSignIn::fillBooks() {
    const QVariant chosen = cmbBook->currentData();
    cmbBook->clear();
    const auto u = findUser(db_, edtUser->text().trimmed().toStdString());
    if (!u) return;
    for (const std::string& code : u->BookSets)
        if (auto b = TBookSet::load(db_, code); b && !b->Closed)
            cmbBook->addItem(QString::fromStdString(b->DispCode + " " + b->Name),
                             QString::fromStdString(code));
    const int at = cmbBook->findData(chosen);
    if (at >= 0) cmbBook->setCurrentIndex(at);
}

void TFrmSignIn::accept() {
    guarded(this, "登录", [&] {
        const std::string user = edtUser->text().trimmed().toStdString();
        try {
            signedIn = signIn(db_, user, edtPassword->text().toStdString());
        } catch (const UserError& e) {
            edtPassword->clear();
            MessageBoxA(this, e.what(), "登录", MB_OK | MB_ICONWARNING);
            edtPassword->setFocus();
            return;
        }
        edtPassword->clear();
        if (signedIn.Needs != SignInNeeds::Nothing) {
            const bool first = signedIn.Needs == SignInNeeds::FirstPassword;
            TFrmChangePassword change(
                this, db_, user, first,
                first ? QStringLiteral("这个账套数据库还没有为系统管理员设置密码：请先设置一个。")
                      : QStringLiteral("初始密码只能用一次：请设置自己的新密码。"));
            if (ShowModal(change) != mrOk) return;
            signedIn.Needs = SignInNeeds::Nothing;
        }
        fillBooks();
        if (cmbBook->count() == 0) {
            MessageBoxA(this, "操作员 " + user + " 还没有可以使用的账套：请系统管理员分配账套。",
                        "登录", MB_OK | MB_ICONWARNING);
            return;
        }
        book = cmbBook->currentData().toString().toStdString();
        QSettings settings;
        settings.setValue(kLastUser, QString::fromStdString(user));
        settings.setValue(kLastBook, QString::fromStdString(book));
        QDialog::accept();
    });
}

std::string TFrmSignIn::lastUser() {
    return QSettings().value(kLastUser).toString().toStdString();
}

std::string TFrmSignIn::lastBook() {
    return QSettings().value(kLastBook).toString().toStdString();
}

}  // namespace office
