#include "SystemAdmin.h"

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "Accounts.h"
#include "BaseData.h"
#include "BookSets.h"
#include "Glide.h"
#include "Guard.h"
#include "History.h"
#include "ItemForms.h"
#include "ListImport.h"
#include "ListImportForm.h"
#include "ListPage.h"
#include "Numbers.h"
#include "Seams.h"
#include "SignInForm.h"
#include "Users.h"
#include "ui_FrmAccountEdit.h"
#include "ui_FrmBaseItemEdit.h"
#include "ui_FrmBookSetEdit.h"
#include "ui_FrmSystemAdmin.h"
#include "ui_FrmUserEdit.h"

using namespace ledgerhost;

namespace office {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

const char* const kCaption = "系统管理";

}  // namespace

TFrmSystemAdmin::TFrmSystemAdmin(QWidget* owner, Database& db, std::string actor, std::string book)
    : QDialog(owner),
      ui(std::make_unique<Ui::FrmSystemAdmin>()),
      db_(db),
      actor_(std::move(actor)),
      book_(std::move(book)) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    requireAdministrator(db_, actor_);
    books =
        new ListPage(ui->tblBooks, ui->edtSearchBooks,
                     {QStringLiteral("编码"), QStringLiteral("名称"), QStringLiteral("会计年度"),
                      QStringLiteral("启用期间"), QStringLiteral("管理账套"),
                      QStringLiteral("出纳初始化"), QStringLiteral("状态")});
    accounts = new ListPage(ui->tblAccounts, ui->edtSearchAccounts,
                            {QStringLiteral("编码"), QStringLiteral("名称"), QStringLiteral("类别"),
                             QStringLiteral("账号"), QStringLiteral("开户银行"),
                             QStringLiteral("科目编码"), QStringLiteral("状态")});
    base = new ListPage(ui->tblBase, ui->edtSearchBase,
                        {QStringLiteral("编码"), QStringLiteral("名称")});
    users = new ListPage(ui->tblUsers, ui->edtSearchUsers,
                         {QStringLiteral("编码"), QStringLiteral("名称"),
                          QStringLiteral("系统管理员"), QStringLiteral("可用的账套")});
    for (const std::string& kind : baseKinds())
        ui->cmbKind->addItem(q(baseKindName(kind)), q(kind));
    fillBookChoices();

    struct Wiring {
        ListPage* page;
        void (TFrmSystemAdmin::*add)();
        void (TFrmSystemAdmin::*edit)();
        void (TFrmSystemAdmin::*remove)();
        QPushButton *addButton, *editButton, *deleteButton;
    };
    for (const Wiring& w :
         {Wiring{books, &TFrmSystemAdmin::AddBook, &TFrmSystemAdmin::EditBook,
                 &TFrmSystemAdmin::DeleteBook, ui->btnAddBooks, ui->btnEditBooks,
                 ui->btnDeleteBooks},
          Wiring{accounts, &TFrmSystemAdmin::AddAccount, &TFrmSystemAdmin::EditAccount,
                 &TFrmSystemAdmin::DeleteAccount, ui->btnAddAccounts, ui->btnEditAccounts,
                 ui->btnDeleteAccounts},
          Wiring{base, &TFrmSystemAdmin::AddBase, &TFrmSystemAdmin::EditBase,
                 &TFrmSystemAdmin::DeleteBase, ui->btnAddBase, ui->btnEditBase, ui->btnDeleteBase},
          Wiring{users, &TFrmSystemAdmin::AddUser, &TFrmSystemAdmin::EditUser,
                 &TFrmSystemAdmin::DeleteUser, ui->btnAddUsers, ui->btnEditUsers,
                 ui->btnDeleteUsers}}) {
        connect(w.page, &ListPage::addRequested, this, guardedSlot(this, "新增", w.add));
        connect(w.page, &ListPage::editRequested, this, guardedSlot(this, "修改", w.edit));
        connect(w.page, &ListPage::deleteRequested, this, guardedSlot(this, "删除", w.remove));
        connect(w.addButton, &QPushButton::clicked, this, guardedSlot(this, "新增", w.add));
        connect(w.editButton, &QPushButton::clicked, this, guardedSlot(this, "修改", w.edit));
        connect(w.deleteButton, &QPushButton::clicked, this, guardedSlot(this, "删除", w.remove));
    }
    connect(ui->btnImportAccounts, &QPushButton::clicked, this,
            guardedSlot(this, "从文件导入", &TFrmSystemAdmin::ImportAccounts));
    connect(ui->btnImportBase, &QPushButton::clicked, this,
            guardedSlot(this, "从文件导入", &TFrmSystemAdmin::ImportBase));
    connect(ui->cmbAccountBook, &QComboBox::currentIndexChanged, this,
            [this] { guarded(this, "账户", [&] { reloadAccounts(); }); });
    connect(ui->cmbKind, &QComboBox::currentIndexChanged, this,
            [this] { guarded(this, "基础资料", [&] { reloadBase(); }); });
    connect(ui->cmbBaseBook, &QComboBox::currentIndexChanged, this,
            [this] { guarded(this, "基础资料", [&] { reloadBase(); }); });
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    // Each page opens in its search box, ready to type.
    connect(ui->tabs, &QTabWidget::currentChanged, this, [this](int page) {
        guarded(this, "换页", [&] {
            QLineEdit* search[] = {ui->edtSearchBooks, ui->edtSearchAccounts, ui->edtSearchBase,
                                   ui->edtSearchUsers};
            if (page >= 0 && page < 4) search[page]->setFocus(Qt::OtherFocusReason);
        });
    });
    // 重设密码 beside the users' buttons.
    btnResetPassword =
        new QPushButton(QStringLiteral("重设密码(&P)…"), ui->btnDeleteUsers->parentWidget());
    btnResetPassword->setObjectName(QStringLiteral("btnResetPassword"));
    if (QLayout* row = ui->btnDeleteUsers->parentWidget()->layout())
        row->addWidget(btnResetPassword);
    connect(btnResetPassword, &QPushButton::clicked, this,
            guardedSlot(this, "重设密码", &TFrmSystemAdmin::ResetPassword));
    // 已删除记录: a book set's deleted journal rows, one restored at a time.
    auto* page = new QWidget(ui->tabs);
    auto* layout = new QVBoxLayout(page);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("账套"), page));
    cmbDeletedBook = new QComboBox(page);
    cmbDeletedBook->setObjectName(QStringLiteral("cmbDeletedBook"));
    for (int i = 0; i < ui->cmbAccountBook->count(); ++i)
        cmbDeletedBook->addItem(ui->cmbAccountBook->itemText(i), ui->cmbAccountBook->itemData(i));
    cmbDeletedBook->setCurrentIndex(std::max(0, cmbDeletedBook->findData(q(book_))));
    top->addWidget(cmbDeletedBook, 1);
    btnRestore = new QPushButton(QStringLiteral("恢复(&R)"), page);
    btnRestore->setObjectName(QStringLiteral("btnRestore"));
    top->addWidget(btnRestore);
    layout->addLayout(top);
    auto* table = new QTableWidget(page);
    table->setObjectName(QStringLiteral("tblDeleted"));
    layout->addWidget(table);
    deleted =
        new ListPage(table, nullptr,
                     {QStringLiteral("日记账"), QStringLiteral("日期"), QStringLiteral("统一号"),
                      QStringLiteral("账户"), QStringLiteral("摘要"), QStringLiteral("借方金额"),
                      QStringLiteral("贷方金额"), QStringLiteral("删除人"),
                      QStringLiteral("删除时间"), QStringLiteral("程序")});
    ui->tabs->addTab(page, QStringLiteral("已删除记录"));
    connect(cmbDeletedBook, &QComboBox::currentIndexChanged, this,
            [this] { guarded(this, "已删除记录", [&] { reloadDeleted(); }); });
    connect(btnRestore, &QPushButton::clicked, this,
            guardedSlot(this, "恢复", &TFrmSystemAdmin::RestoreRow));
    connect(deleted, &ListPage::editRequested, this,
            guardedSlot(this, "恢复", &TFrmSystemAdmin::RestoreRow));
    reloadDeleted();
    reloadBooks(q(book_));
    reloadAccounts();
    reloadBase();
    reloadUsers();
    ui->edtSearchBooks->setFocus(Qt::OtherFocusReason);
}

TFrmSystemAdmin::~TFrmSystemAdmin() = default;

template <class Fn>
bool TFrmSystemAdmin::change(Fn&& fn) {
    try {
        fn();
        return true;
    } catch (const UserError& e) {
        MessageBoxA(this, e.what(), kCaption, MB_OK | MB_ICONWARNING);
        return false;
    }
}

bool TFrmSystemAdmin::ask(const std::string& text) {
    return MessageBoxA(this, text, kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void TFrmSystemAdmin::fillBookChoices() {
    const QString accountBook = ui->cmbAccountBook->currentData().toString();
    const QString baseBook = ui->cmbBaseBook->currentData().toString();
    for (QComboBox* box : {ui->cmbAccountBook, ui->cmbBaseBook}) {
        const QSignalBlocker quiet(box);
        box->clear();
        for (const BookSetInfo& b : listBookSets(db_))
            box->addItem(codeAndName(b.Code, b.Name), q(b.Code));
    }
    auto pick = [](QComboBox* box, const QString& wanted) {
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(std::max(0, box->findData(wanted)));
    };
    pick(ui->cmbAccountBook, accountBook.isEmpty() ? q(book_) : accountBook);
    pick(ui->cmbBaseBook, baseBook.isEmpty() ? q(book_) : baseBook);
}

std::string TFrmSystemAdmin::accountBook() const {
    return ui->cmbAccountBook->currentData().toString().toStdString();
}
std::string TFrmSystemAdmin::baseKind() const {
    return ui->cmbKind->currentData().toString().toStdString();
}
std::string TFrmSystemAdmin::baseBook() const {
    return baseKind() == kVoucherTypeKind ? ui->cmbBaseBook->currentData().toString().toStdString()
                                          : std::string();
}

// ---- book sets ----

void TFrmSystemAdmin::reloadBooks(const QString& current) {
    std::vector<QStringList> rows;
    QStringList keys;
    for (const BookSetInfo& b : listBookSets(db_)) {
        rows.push_back({q(b.Code), q(b.Name), QString::number(b.Year),
                        QStringLiteral("%1 月").arg(b.StartMonth), q(b.ManageSetCode),
                        b.InitConfirmed ? QStringLiteral("已完成") : QStringLiteral("未完成"),
                        b.Closed        ? QStringLiteral("已关闭")
                        : b.EntryLocked ? QStringLiteral("已锁定")
                                        : QStringLiteral("使用中")});
        keys << q(b.Code);
    }
    books->setRows(rows, keys, current.isEmpty() ? books->currentKey() : current);
}

void TFrmSystemAdmin::AddBook() {
    int year = 0;
    for (const BookSetInfo& b : listBookSets(db_))
        if (b.Code == book_) year = b.Year;
    TFrmBookSetEdit form(this, db_, actor_, std::nullopt,
                         year > 0 ? year : QDate::currentDate().year());
    if (ShowModal(form) != mrOk) return;
    reloadBooks(form.ui->edtCode->text().trimmed());
    fillBookChoices();
    reloadUsers();
}

void TFrmSystemAdmin::EditBook() {
    const std::string code = books->currentKey().toStdString();
    for (const BookSetInfo& b : listBookSets(db_))
        if (b.Code == code) {
            TFrmBookSetEdit form(this, db_, actor_, b, b.Year);
            if (ShowModal(form) != mrOk) return;
            reloadBooks();
            fillBookChoices();
            return;
        }
}

void TFrmSystemAdmin::DeleteBook() {
    const std::string code = books->currentKey().toStdString();
    if (code.empty()) return;
    bool closed = false;
    std::string name;
    for (const BookSetInfo& b : listBookSets(db_))
        if (b.Code == code) closed = b.Closed, name = b.Name;
    if (closed) {
        if (ask("账套 " + code + " " + name + " 已关闭。要重新启用吗？"))
            change([&] { setBookSetClosed(db_, actor_, code, false); });
    } else if (ask("删除账套 " + code + " " + name + "？")) {
        try {
            deleteBookSet(db_, actor_, code);
        } catch (const UserError& e) {
            // A book set with rows is closed instead.
            if (ask(std::string(e.what()) + "\n要关闭账套 " + code +
                    " 吗？关闭后不能再登录使用，记录仍然保留。"))
                change([&] { setBookSetClosed(db_, actor_, code, true); });
        }
    }
    reloadBooks();
    fillBookChoices();
    reloadAccounts();
}

// ---- accounts ----

void TFrmSystemAdmin::reloadAccounts(const QString& current) {
    std::vector<QStringList> rows;
    QStringList keys;
    for (const AccountInfo& a : listAccounts(db_, accountBook())) {
        rows.push_back({q(a.Code), q(a.Name), QString::fromUtf8(accountKindName(a.Kind)),
                        q(a.AccountNo), q(a.BankName), q(a.SubjectCode),
                        a.InUse ? QStringLiteral("使用中") : QStringLiteral("已停用")});
        keys << q(a.Code);
    }
    accounts->setRows(rows, keys, current.isEmpty() ? accounts->currentKey() : current);
}

void TFrmSystemAdmin::AddAccount() {
    AccountInfo a;
    a.SetCode = accountBook();
    if (a.SetCode.empty()) return;
    TFrmAccountEdit form(this, db_, actor_, a, true);
    if (ShowModal(form) == mrOk) reloadAccounts(form.ui->edtCode->text().trimmed());
}

void TFrmSystemAdmin::EditAccount() {
    const std::string code = accounts->currentKey().toStdString();
    for (const AccountInfo& a : listAccounts(db_, accountBook()))
        if (a.Code == code) {
            TFrmAccountEdit form(this, db_, actor_, a, false);
            if (ShowModal(form) == mrOk) reloadAccounts();
            return;
        }
}

void TFrmSystemAdmin::DeleteAccount() {
    const std::string set = accountBook(), code = accounts->currentKey().toStdString();
    for (const AccountInfo& a : listAccounts(db_, set)) {
        if (a.Code != code) continue;
        const std::string what = "账户 " + a.Code + " " + a.Name;
        if (!a.InUse) {
            if (ask(what + " 已停用。要重新启用吗？"))
                change([&] { setAccountInUse(db_, actor_, set, code, true); });
        } else if (ask("删除" + what + "？")) {
            try {
                deleteAccount(db_, actor_, set, code);
            } catch (const UserError& e) {
                // An account with rows is stopped instead.
                if (ask(std::string(e.what()) + "\n要停用" + what + " 吗？"))
                    change([&] { setAccountInUse(db_, actor_, set, code, false); });
            }
        }
        reloadAccounts();
        return;
    }
}

void TFrmSystemAdmin::ImportAccounts() {
    if (accountBook().empty()) return;
    TFrmListImport form(this, db_, actor_, kAccountList, accountBook());
    if (ShowModal(form) == mrOk) reloadAccounts();
}

// ---- base information ----

void TFrmSystemAdmin::reloadBase(const QString& current) {
    const bool perBook = baseKind() == kVoucherTypeKind;
    ui->cmbBaseBook->setEnabled(perBook);
    std::vector<QStringList> rows;
    QStringList keys;
    for (const BaseItem& i : listBaseItems(db_, baseKind(), baseBook())) {
        rows.push_back({q(i.Code), q(i.Name)});
        keys << q(i.Code);
    }
    base->setRows(rows, keys, current.isEmpty() ? base->currentKey() : current);
}

void TFrmSystemAdmin::AddBase() {
    TFrmBaseItemEdit form(this, db_, actor_, baseKind(), baseBook(), std::nullopt);
    if (ShowModal(form) == mrOk) reloadBase(form.ui->edtCode->text().trimmed());
}

void TFrmSystemAdmin::EditBase() {
    const std::string code = base->currentKey().toStdString();
    for (const BaseItem& i : listBaseItems(db_, baseKind(), baseBook()))
        if (i.Code == code) {
            TFrmBaseItemEdit form(this, db_, actor_, baseKind(), baseBook(), i);
            if (ShowModal(form) == mrOk) reloadBase(form.ui->edtCode->text().trimmed());
            return;
        }
}

void TFrmSystemAdmin::DeleteBase() {
    const std::string code = base->currentKey().toStdString();
    for (const BaseItem& i : listBaseItems(db_, baseKind(), baseBook()))
        if (i.Code == code &&
            ask("删除" + baseKindName(baseKind()) + " " + i.Code + " " + i.Name + "？")) {
            if (change([&] { deleteBaseItem(db_, actor_, baseKind(), code, baseBook()); }))
                reloadBase();
            return;
        }
}

void TFrmSystemAdmin::ImportBase() {
    if (baseKind() == kVoucherTypeKind && baseBook().empty()) return;
    TFrmListImport form(this, db_, actor_, baseKind(), baseBook());
    if (ShowModal(form) == mrOk) reloadBase();
}

// ---- users ----

void TFrmSystemAdmin::reloadUsers(const QString& current) {
    std::vector<QStringList> rows;
    QStringList keys;
    for (const UserInfo& u : listUsers(db_)) {
        QStringList sets;
        for (const std::string& s : u.BookSets) sets << q(s);
        rows.push_back({q(u.Code), q(u.Name), u.Administrator ? QStringLiteral("是") : QString(),
                        sets.join(QStringLiteral("、"))});
        keys << q(u.Code);
    }
    users->setRows(rows, keys, current.isEmpty() ? users->currentKey() : current);
}

void TFrmSystemAdmin::AddUser() {
    TFrmUserEdit form(this, db_, actor_, std::nullopt);
    if (ShowModal(form) == mrOk) reloadUsers(form.ui->edtCode->text().trimmed());
}

void TFrmSystemAdmin::EditUser() {
    if (auto u = findUser(db_, users->currentKey().toStdString())) {
        TFrmUserEdit form(this, db_, actor_, u);
        if (ShowModal(form) == mrOk) reloadUsers();
    }
}

void TFrmSystemAdmin::DeleteUser() {
    MessageBoxA(this, "用户不能删除：其录入的记录仍要显示录入人。不再使用的用户可以去掉全部账套。",
                kCaption, MB_OK | MB_ICONINFORMATION);
}

void TFrmSystemAdmin::ResetPassword() {
    const std::string code = users->currentKey().toStdString();
    if (code.empty()) return;
    TFrmChangePassword form(
        this, db_, code, true,
        QStringLiteral("为操作员 %1 设置初始密码：该操作员下次登录时必须修改。").arg(q(code)),
        actor_);
    ShowModal(form);
}

// The deleted rows' keys: "table:id".
void TFrmSystemAdmin::reloadDeleted() {
    std::vector<QStringList> rows;
    QStringList keys;
    for (const DeletedRow& r :
         deletedRows(db_, cmbDeletedBook->currentData().toString().toStdString())) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.Values)).object();
        auto text = [&](const char* key) {
            const QJsonValue v = o.value(QLatin1String(key));
            return v.isString() ? v.toString() : QString::number(v.toInteger());
        };
        auto cents = [&](const char* key) {
            return q(formatCents(o.value(QLatin1String(key)).toInteger()));
        };
        rows.push_back(
            {r.Table == kStatementTable ? QStringLiteral("银行对账单") : QStringLiteral("日记账"),
             text("create_date"), text("date_or_no"), text("as_code"), text("summary"),
             cents("deb_cents"), cents("cre_cents"), q(r.DeletedByName), q(r.DeletedAt),
             q(r.Program)});
        keys << q(r.Table + ":" + std::to_string(r.Id));
    }
    deleted->setRows(rows, keys);
    btnRestore->setEnabled(!keys.isEmpty());
}

void TFrmSystemAdmin::RestoreRow() {
    const QString key = deleted->currentKey();
    const auto colon = key.indexOf(QLatin1Char(':'));
    if (colon < 0) return;
    if (!ask("恢复这条已删除的记录吗？")) return;
    if (change([&] {
            restoreDeletedRow(db_, actor_, key.left(colon).toStdString(),
                              key.mid(colon + 1).toLongLong());
        }))
        MessageBoxA(this, "记录已恢复。", kCaption, MB_OK | MB_ICONINFORMATION);
    reloadDeleted();
}

}  // namespace office
