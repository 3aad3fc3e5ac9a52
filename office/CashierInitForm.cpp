#include "CashierInitForm.h"

#include <QDate>
#include <QHeaderView>

#include "BookSets.h"
#include "Guard.h"
#include "ListPage.h"
#include "NumEdit.h"
#include "Numbers.h"
#include "Seams.h"
#include "Users.h"
#include "ui_FrmCashierInit.h"
#include "ui_FrmOpeningItem.h"

using namespace ledgerhost;

namespace office {

namespace {

const char* const kCaption = "出纳初始化";

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QString money(std::int64_t cents) {
    return q(formatCents(cents));
}

}  // namespace

TFrmCashierInit::TFrmCashierInit(QWidget* owner, Database& db, std::string actor, std::string book)
    : QDialog(owner),
      ui(std::make_unique<Ui::FrmCashierInit>()),
      db_(db),
      actor_(std::move(actor)) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    requireAdministrator(db_, actor_);
    accounts = new ListPage(ui->tblAccounts, nullptr,
                            {QStringLiteral("编码"), QStringLiteral("名称"), QStringLiteral("类别"),
                             QStringLiteral("日记账期初"), QStringLiteral("银行对账单期初"),
                             QStringLiteral("未达账项"), QStringLiteral("调节后")});
    items = new ListPage(ui->tblItems, nullptr,
                         {QStringLiteral("类别"), QStringLiteral("日期"), QStringLiteral("票据号"),
                          QStringLiteral("摘要"), QStringLiteral("金额"), QStringLiteral("对账")});
    for (TPBNumEdit* amount : {ui->numJournal, ui->numBank})
        amount->setNumberFormat(TPBNumEdit::Thousands);
    for (const BookSetInfo& b : listBookSets(db_))
        if (!b.Closed) ui->cmbBook->addItem(codeAndName(b.Code, b.Name), q(b.Code));
    ui->cmbBook->setCurrentIndex(std::max(0, ui->cmbBook->findData(q(book))));
    connect(ui->cmbBook, &QComboBox::currentIndexChanged, this,
            [this] { guarded(this, "出纳初始化", [&] { reload(); }); });
    connect(ui->tblAccounts, &QTableWidget::currentCellChanged, this,
            [this] { guarded(this, "出纳初始化", [&] { showAccount(); }); });
    // On the accounts, Enter goes to the opening to type; on the items,
    // Insert adds one and Delete removes one.
    connect(accounts, &ListPage::editRequested, this, [this] {
        guarded(this, "期初余额", [&] {
            ui->numJournal->setFocus(Qt::OtherFocusReason);
            ui->numJournal->selectAll();
        });
    });
    connect(accounts, &ListPage::addRequested, this,
            guardedSlot(this, "增加未达账项", &TFrmCashierInit::AddItem));
    connect(items, &ListPage::addRequested, this,
            guardedSlot(this, "增加未达账项", &TFrmCashierInit::AddItem));
    connect(items, &ListPage::deleteRequested, this,
            guardedSlot(this, "删除未达账项", &TFrmCashierInit::RemoveItem));
    connect(ui->btnSaveOpening, &QPushButton::clicked, this,
            guardedSlot(this, "保存期初", &TFrmCashierInit::SaveOpening));
    connect(ui->numJournal, &QLineEdit::returnPressed, this,
            guardedSlot(this, "保存期初", &TFrmCashierInit::SaveOpening));
    connect(ui->numBank, &QLineEdit::returnPressed, this,
            guardedSlot(this, "保存期初", &TFrmCashierInit::SaveOpening));
    connect(ui->btnAddItem, &QPushButton::clicked, this,
            guardedSlot(this, "增加未达账项", &TFrmCashierInit::AddItem));
    connect(ui->btnRemoveItem, &QPushButton::clicked, this,
            guardedSlot(this, "删除未达账项", &TFrmCashierInit::RemoveItem));
    connect(ui->btnConfirm, &QPushButton::clicked, this,
            guardedSlot(this, "完成初始化", &TFrmCashierInit::Confirm));
    connect(ui->btnCancelInit, &QPushButton::clicked, this,
            guardedSlot(this, "取消初始化", &TFrmCashierInit::CancelInit));
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    reload();
    ui->tblAccounts->setFocus(Qt::OtherFocusReason);
}

TFrmCashierInit::~TFrmCashierInit() = default;

template <class Fn>
bool TFrmCashierInit::change(Fn&& fn) {
    try {
        fn();
    } catch (const UserError& e) {
        MessageBoxA(this, e.what(), kCaption, MB_OK | MB_ICONWARNING);
        return false;
    }
    reload();
    return true;
}

std::string TFrmCashierInit::book() const {
    return ui->cmbBook->currentData().toString().toStdString();
}

const AccountOpening* TFrmCashierInit::current() const {
    const std::string code = accounts->currentKey().toStdString();
    for (const AccountOpening& o : openings_)
        if (o.Account.Code == code) return &o;
    return nullptr;
}

void TFrmCashierInit::reload() {
    openings_.clear();
    confirmed_ = false;
    if (!book().empty()) {
        openings_ = cashierOpenings(db_, book());
        for (const BookSetInfo& b : listBookSets(db_))
            if (b.Code == book()) confirmed_ = b.InitConfirmed;
    }
    ui->lblState->setText(
        book().empty() ? QString()
        : confirmed_ ? QStringLiteral("已完成初始化：期初数据已固定（启用日期 %1）。")
                           .arg(q(booksStartDate(db_, book())))
                     : QStringLiteral("未完成初始化：录入期初数据后按“完成初始化”（启用日期 %1）。")
                           .arg(q(booksStartDate(db_, book()))));
    std::vector<QStringList> rows;
    QStringList keys;
    for (const AccountOpening& o : openings_) {
        const bool bank = o.Account.Kind == kBankKind;
        rows.push_back({q(o.Account.Code), q(o.Account.Name),
                        QString::fromUtf8(accountKindName(o.Account.Kind)), money(o.JournalCents),
                        bank ? money(o.BankCents) : QString(),
                        bank ? QString::number(o.Items.size()) : QString(),
                        !bank                                     ? QString()
                        : o.adjustedJournal() == o.adjustedBank() ? QStringLiteral("相符")
                                                                  : QStringLiteral("不符")});
        keys << q(o.Account.Code);
    }
    accounts->setRows(rows, keys, accounts->currentKey());
    ui->btnConfirm->setEnabled(!confirmed_ && !book().empty());
    ui->btnCancelInit->setEnabled(confirmed_);
    showAccount();
}

void TFrmCashierInit::showAccount() {
    const AccountOpening* o = current();
    const bool bank = o && o->Account.Kind == kBankKind;
    ui->grpOpening->setEnabled(o && !confirmed_);
    ui->numBank->setEnabled(bank);
    ui->grpItems->setEnabled(bank);
    ui->btnAddItem->setEnabled(bank && !confirmed_);
    ui->btnRemoveItem->setEnabled(bank && !confirmed_);
    ui->numJournal->setValue(o ? fromCents(o->JournalCents) : 0);
    ui->numBank->setValue(o ? fromCents(o->BankCents) : 0);
    std::vector<QStringList> rows;
    QStringList keys;
    for (const OpeningItem& i : bank ? o->Items : std::vector<OpeningItem>()) {
        rows.push_back({QString::fromUtf8(openingItemKindName(i.Kind)), q(i.Date), q(i.Number),
                        q(i.Summary), money(i.Cents),
                        i.Reconciled ? QStringLiteral("√") : QString()});
        keys << QString::number(i.Id);
    }
    items->setRows(rows, keys);
    ui->lblAdjusted->setText(bank ? QStringLiteral("调节后：日记账 %1，银行对账单 %2%3")
                                        .arg(money(o->adjustedJournal()), money(o->adjustedBank()),
                                             o->adjustedJournal() == o->adjustedBank()
                                                 ? QStringLiteral("，相符")
                                                 : QStringLiteral("，不符"))
                                  : QString());
}

void TFrmCashierInit::SaveOpening() {
    const AccountOpening* o = current();
    if (!o || confirmed_) return;
    const std::string code = o->Account.Code;
    const bool bank = o->Account.Kind == kBankKind;
    const bool saved = change([&] {
        // Both openings, or neither.
        Transaction t(db_);
        setJournalOpening(db_, actor_, book(), code, toCents(ui->numJournal->Value()));
        if (bank) setBankOpening(db_, actor_, book(), code, toCents(ui->numBank->Value()));
        t.commit();
    });
    // Back to the accounts, for the next one.
    if (saved) ui->tblAccounts->setFocus(Qt::OtherFocusReason);
}

void TFrmCashierInit::AddItem() {
    const AccountOpening* o = current();
    if (!o || o->Account.Kind != kBankKind || confirmed_) return;
    const std::string code = o->Account.Code;
    TFrmOpeningItem form(this, booksStartDate(db_, book()));
    while (ShowModal(form) == mrOk)
        if (change([&] { addOpeningItem(db_, actor_, book(), code, form.item()); })) break;
}

void TFrmCashierInit::RemoveItem() {
    const AccountOpening* o = current();
    if (!o || items->currentKey().isEmpty() || confirmed_) return;
    const std::string code = o->Account.Code;
    const std::int64_t id = items->currentKey().toLongLong();
    if (MessageBoxA(this, "删除这一期初未达账项？", kCaption,
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        change([&] { removeOpeningItem(db_, actor_, book(), code, id); });
}

void TFrmCashierInit::Confirm() {
    std::string differ;
    for (const AccountOpening& o : openings_)
        if (o.Account.Kind == kBankKind && o.adjustedJournal() != o.adjustedBank())
            differ += "\n账户 " + o.Account.Code + " " + o.Account.Name + "：日记账调节后 " +
                      formatCents(o.adjustedJournal()) + "，银行对账单调节后 " +
                      formatCents(o.adjustedBank());
    const std::string question =
        differ.empty() ? "完成账套 " + book() + " 的出纳初始化？完成后期初数据不能再修改。"
                       : "以下账户的期初余额调节后不符：" + differ +
                             "\n仍要完成初始化吗？完成后期初数据不能再修改。";
    if (MessageBoxA(this, question, kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    if (change([&] { confirmInitialisation(db_, actor_, book()); }))
        MessageBoxA(this, "账套 " + book() + " 已完成出纳初始化。", kCaption,
                    MB_OK | MB_ICONINFORMATION);
}

void TFrmCashierInit::CancelInit() {
    if (MessageBoxA(
            this,
            "取消账套 " + book() + " 的出纳初始化？取消后出纳功能暂停使用，期初数据可以修改。",
            kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        change([&] { cancelInitialisation(db_, actor_, book()); });
}

// ---- one opening item ----

TFrmOpeningItem::TFrmOpeningItem(QWidget* owner, const std::string& startDate)
    : QDialog(owner), ui(std::make_unique<Ui::FrmOpeningItem>()) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    for (int k = kItemBookedIn; k <= kItemBankOut; ++k)
        ui->cmbKind->addItem(QString::fromUtf8(openingItemKindName(k)), k);
    // The day before the books begin.
    const QDate start = QDate::fromString(q(startDate), QStringLiteral("yyyy-MM-dd"));
    ui->dtpDate->setDate(start.isValid() ? start.addDays(-1) : QDate::currentDate());
    ui->numAmount->setNumberFormat(TPBNumEdit::Thousands);
    ui->cmbKind->setFocus();
}

TFrmOpeningItem::~TFrmOpeningItem() = default;

OpeningItem TFrmOpeningItem::item() const {
    OpeningItem i;
    i.Kind = ui->cmbKind->currentData().toInt();
    i.Date = ui->dtpDate->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    i.Number = ui->edtNumber->text().trimmed().toStdString();
    i.Summary = ui->edtSummary->text().trimmed().toStdString();
    i.Cents = toCents(ui->numAmount->Value());
    return i;
}

}  // namespace office
