#include "ItemForms.h"

#include <QListWidget>

#include "Guard.h"
#include "ListPage.h"
#include "Seams.h"
#include "ui_FrmAccountEdit.h"
#include "ui_FrmBaseItemEdit.h"
#include "ui_FrmBookSetEdit.h"
#include "ui_FrmUserEdit.h"

using namespace ledgerhost;

namespace office {

namespace {

std::string text(const QLineEdit* e) {
    return e->text().trimmed().toStdString();
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

ItemForm::ItemForm(QWidget* owner, Database& db, std::string actor)
    : QDialog(owner), db_(db), actor_(std::move(actor)) {
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

void ItemForm::accept() {
    guarded(this, "保存", [&] {
        try {
            save();
        } catch (const UserError& e) {
            MessageBoxA(this, e.what(), windowTitle().toStdString(), MB_OK | MB_ICONWARNING);
            return;
        }
        QDialog::accept();
    });
}

// ---- book sets ----

TFrmBookSetEdit::TFrmBookSetEdit(QWidget* owner, Database& db, const std::string& actor,
                                 const std::optional<BookSetInfo>& book, int year)
    : ItemForm(owner, db, actor), ui(std::make_unique<Ui::FrmBookSetEdit>()), adding_(!book) {
    ui->setupUi(this);
    setWindowTitle(adding_ ? QStringLiteral("新增账套") : QStringLiteral("修改账套"));
    ui->cmbManager->addItem(QStringLiteral("（无）"), QString());
    for (const BookSetInfo& b : listBookSets(db))
        if (!book || b.Code != book->Code)
            ui->cmbManager->addItem(codeAndName(b.Code, b.Name), q(b.Code));
    ui->spnYear->setValue(book ? book->Year : year);
    ui->spnStartMonth->setValue(book ? book->StartMonth : 1);
    if (book) {
        ui->edtCode->setText(q(book->Code));
        ui->edtCode->setReadOnly(true);
        ui->edtName->setText(q(book->Name));
        ui->cmbManager->setCurrentIndex(
            std::max(0, ui->cmbManager->findData(q(book->ManageSetCode))));
        // The year and the first month are the openings' date: fixed once the
        // initialisation is confirmed (the rules say so when they are changed).
        ui->edtName->setFocus();
    }
}

TFrmBookSetEdit::~TFrmBookSetEdit() = default;

void TFrmBookSetEdit::save() {
    BookSetInfo b;
    b.Code = text(ui->edtCode);
    b.Name = text(ui->edtName);
    b.Year = ui->spnYear->value();
    b.StartMonth = ui->spnStartMonth->value();
    b.ManageSetCode = ui->cmbManager->currentData().toString().toStdString();
    if (adding_)
        addBookSet(db_, actor_, b);
    else
        editBookSet(db_, actor_, b);
}

// ---- accounts ----

TFrmAccountEdit::TFrmAccountEdit(QWidget* owner, Database& db, const std::string& actor,
                                 const AccountInfo& account, bool adding)
    : ItemForm(owner, db, actor),
      ui(std::make_unique<Ui::FrmAccountEdit>()),
      account_(account),
      adding_(adding) {
    ui->setupUi(this);
    setWindowTitle(
        (adding ? QStringLiteral("新增账户 - 账套 ") : QStringLiteral("修改账户 - 账套 ")) +
        q(account.SetCode));
    ui->cmbKind->addItem(QStringLiteral("银行"), kBankKind);
    ui->cmbKind->addItem(QStringLiteral("现金"), kCashKind);
    ui->cmbKind->setCurrentIndex(account.Kind == kCashKind ? 1 : 0);
    ui->edtCode->setText(q(account.Code));
    ui->edtCode->setReadOnly(!adding);
    ui->edtName->setText(q(account.Name));
    ui->edtNumber->setText(q(account.AccountNo));
    ui->edtBank->setText(q(account.BankName));
    ui->edtSubject->setText(q(account.SubjectCode));
    // A cash account has no bank.
    auto kindChanged = [this] {
        guarded(this, "类别",
                [&] { ui->edtBank->setEnabled(ui->cmbKind->currentData().toInt() == kBankKind); });
    };
    connect(ui->cmbKind, &QComboBox::currentIndexChanged, this, kindChanged);
    kindChanged();
    if (!adding) ui->edtName->setFocus();
}

TFrmAccountEdit::~TFrmAccountEdit() = default;

void TFrmAccountEdit::save() {
    AccountInfo a = account_;
    a.Code = text(ui->edtCode);
    a.Name = text(ui->edtName);
    a.Kind = ui->cmbKind->currentData().toInt();
    a.AccountNo = text(ui->edtNumber);
    a.BankName = text(ui->edtBank);
    a.SubjectCode = text(ui->edtSubject);
    if (adding_)
        addAccount(db_, actor_, a);
    else
        editAccount(db_, actor_, a);
}

// ---- base information ----

TFrmBaseItemEdit::TFrmBaseItemEdit(QWidget* owner, Database& db, const std::string& actor,
                                   std::string kind, std::string setCode,
                                   const std::optional<BaseItem>& item)
    : ItemForm(owner, db, actor),
      ui(std::make_unique<Ui::FrmBaseItemEdit>()),
      kind_(std::move(kind)),
      setCode_(std::move(setCode)),
      code_(item ? item->Code : std::string()) {
    ui->setupUi(this);
    setWindowTitle((item ? QStringLiteral("修改") : QStringLiteral("新增")) +
                   q(baseKindName(kind_)));
    if (item) {
        ui->edtCode->setText(q(item->Code));
        ui->edtName->setText(q(item->Name));
        // A voucher type's code is its number, which rows keep.
        ui->edtCode->setReadOnly(kind_ == kVoucherTypeKind);
        ui->edtName->setFocus();
    }
}

TFrmBaseItemEdit::~TFrmBaseItemEdit() = default;

void TFrmBaseItemEdit::save() {
    const BaseItem item{{}, text(ui->edtCode), text(ui->edtName)};
    if (code_.empty())
        addBaseItem(db_, actor_, kind_, item, setCode_);
    else
        editBaseItem(db_, actor_, kind_, code_, item, setCode_);
}

// ---- users ----

TFrmUserEdit::TFrmUserEdit(QWidget* owner, Database& db, const std::string& actor,
                           const std::optional<UserInfo>& user)
    : ItemForm(owner, db, actor), ui(std::make_unique<Ui::FrmUserEdit>()), adding_(!user) {
    ui->setupUi(this);
    setWindowTitle(adding_ ? QStringLiteral("新增用户") : QStringLiteral("修改用户"));
    for (const BookSetInfo& b : listBookSets(db)) {
        auto* item = new QListWidgetItem(codeAndName(b.Code, b.Name), ui->lstBooks);
        item->setData(Qt::UserRole, q(b.Code));
        const bool may = user && std::find(user->BookSets.begin(), user->BookSets.end(), b.Code) !=
                                     user->BookSets.end();
        item->setCheckState(may ? Qt::Checked : Qt::Unchecked);
    }
    if (user) {
        ui->edtCode->setText(q(user->Code));
        ui->edtCode->setReadOnly(true);
        ui->edtName->setText(q(user->Name));
        ui->chkAdmin->setChecked(user->Administrator);
        ui->edtName->setFocus();
    }
}

TFrmUserEdit::~TFrmUserEdit() = default;

void TFrmUserEdit::save() {
    UserInfo u{text(ui->edtCode), text(ui->edtName), ui->chkAdmin->isChecked(), {}};
    for (int i = 0; i < ui->lstBooks->count(); ++i)
        if (ui->lstBooks->item(i)->checkState() == Qt::Checked)
            u.BookSets.push_back(
                ui->lstBooks->item(i)->data(Qt::UserRole).toString().toStdString());
    // The user and the book sets, both or neither.
    Transaction t(db_);
    if (adding_) {
        addUser(db_, actor_, u);
    } else {
        editUser(db_, actor_, u);
        grantBookSets(db_, actor_, u.Code, u.BookSets);
    }
    t.commit();
}

}  // namespace office
