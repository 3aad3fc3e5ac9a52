#include "Unt_CashGlideForm.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QShowEvent>
#include <algorithm>
#include <cmath>

#include "Cell.h"
#include "GridLayout.h"
#include "Guard.h"
#include "Pickers.h"
#include "Regional.h"
#include "Seams.h"
#include "ui_FrmCashGlide.h"

using namespace ledgerhost;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Where the cursor is after each command, for scripts that drive the window
// (QT_LOGGING_RULES="chuna.journal.cursor.debug=true").
Q_LOGGING_CATEGORY(lcCursor, "chuna.journal.cursor", QtInfoMsg)

// Texts of the twelve columns, in order.
const char* const kColumnTitles[12] = {"月",       "日",       "统一号",   "单位名称",
                                       "凭证号",   "支票号",   "结算方式", "摘要",
                                       "借方金额", "贷方金额", "方向",     "金额"};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "00" to "99", made once: the month and day columns use nothing else.
const QString& twoDigits(std::string_view p) {
    static const std::vector<QString> texts = [] {
        std::vector<QString> v;
        for (int i = 0; i < 100; ++i) v.push_back(QStringLiteral("%1").arg(i, 2, 10, QChar('0')));
        return v;
    }();
    return texts[static_cast<std::size_t>(p[0] - '0') * 10 + static_cast<std::size_t>(p[1] - '0')];
}

}  // namespace

bool TOpenDialog::Execute(QWidget* owner) {
    seams::FileRequest r;
    r.filter = Filter;
    r.filterIndex = FilterIndex;
    r.defaultExt = DefaultExt;
    auto chosen = OpenFileDialog(owner, r);
    if (!chosen) return false;
    FileName = *chosen;
    return true;
}

TFrmCashGlide::TFrmCashGlide(QWidget* owner, std::int32_t subjectKind, std::int32_t journalKind)
    : TfrmBaseAssRpt(owner), ui_(std::make_unique<Ui::FrmCashGlide>()) {
    // The layout: the filter panel from the form file, under the tool bar.
    ui_->setupUi(this);
    Panel1 = ui_->Panel1;
    insertPanel(Panel1);
    CMB_SetCode = ui_->CMB_SetCode;
    CmbAs_Code = ui_->CmbAs_Code;
    Cmb_ApplyUser = ui_->Cmb_ApplyUser;
    DTPBCreateDate = ui_->DTPBCreateDate;
    DTPECreateDate = ui_->DTPECreateDate;
    Edt_FirstNo = ui_->Edt_FirstNo;
    Edt_EndNo = ui_->Edt_EndNo;
    EDT_FirstMonery = ui_->EDT_FirstMonery;
    Cmb_operSymble = ui_->Cmb_operSymble;
    EDT_ENdMonery = ui_->EDT_ENdMonery;
    Edt_summary = ui_->Edt_summary;
    Edt_PayCode = ui_->Edt_PayCode;
    // Bounds beyond what a row can hold are refused by the query, never cut.
    for (TPBNumEdit* e : {Edt_FirstNo, Edt_EndNo}) {
        e->setDecimals(0);
        e->setNumberFormat(TPBNumEdit::Thousands);
        e->setAllowNegative(false);
        e->setMaxValue(kLargestNumber);
    }
    for (TPBNumEdit* e : {EDT_FirstMonery, EDT_ENdMonery}) {
        e->setDecimals(2);
        e->setNumberFormat(TPBNumEdit::Thousands);
        e->setMaxValue(kLargestAmount);
    }
    Edt_FirstNo->setFieldName(QStringLiteral("统一号（起）"));
    Edt_EndNo->setFieldName(QStringLiteral("统一号（止）"));
    EDT_FirstMonery->setFieldName(QStringLiteral("金额（起）"));
    EDT_ENdMonery->setFieldName(QStringLiteral("金额"));
    Cmb_operSymble->setCurrentIndex(0);
    setWindowTitle(QStringLiteral("日记帐录入"));

    // The window's own tool buttons, after the base form's.
    tbtnOptionSet =
        tlbAssSumRpt->addButton(QStringLiteral("tbtnOptionSet"), QStringLiteral("导入&I"), 6);
    ToolButton6 = tlbAssSumRpt->addSeparator(QStringLiteral("ToolButton6"));
    TBtnNew = tlbAssSumRpt->addButton(QStringLiteral("TBtnNew"), QStringLiteral("新增&N"), 0);
    TBtnEdit = tlbAssSumRpt->addButton(QStringLiteral("TBtnEdit"), QStringLiteral("修改&E"), 17);
    TBtnDelete = tlbAssSumRpt->addButton(QStringLiteral("TBtnDelete"), QStringLiteral("删除&D"), 1);
    ToolButton1 = tlbAssSumRpt->addSeparator(QStringLiteral("ToolButton1"));
    tbtn_viewVoucher =
        tlbAssSumRpt->addButton(QStringLiteral("tbtn_viewVoucher"), QStringLiteral("查凭证"), 5);
    Tlbn_Oderset =
        tlbAssSumRpt->addButton(QStringLiteral("Tlbn_Oderset"), QStringLiteral("排序设置"), 20);

    PMenu_input = new QMenu(this);
    PMenu_input->setObjectName(QStringLiteral("PMenu_input"));
    auto item = [this](const char* name, const char* caption) {
        QAction* a = PMenu_input->addAction(QString::fromUtf8(caption));
        a->setObjectName(QString::fromUtf8(name));
        return a;
    };
    Mitm_Fileinput = item("Mitm_Fileinput", "从文件中导入");
    Mitm_Vouinput = item("Mitm_Vouinput", "从凭证中导入");
    mniICBC = item("mniICBC", "工行对账单导入");
    mniCCB = item("mniCCB", "建行对账单导入");
    tbtnOptionSet->setMenu(PMenu_input);
    tbtnOptionSet->setPopupMode(QToolButton::InstantPopup);

    connect(tbtnSet, &QToolButton::clicked, this,
            guardedSlot(this, "查询", &TFrmCashGlide::tbtnSetClick));
    connect(Cmb_operSymble, &QComboBox::currentIndexChanged, this,
            guardedSlot(this, "选择金额条件", &TFrmCashGlide::Cmb_operSymbleChange));
    connect(TBtnNew, &QToolButton::clicked, this,
            guardedSlot(this, "新增", &TFrmCashGlide::TBtnNewClick));
    connect(TBtnEdit, &QToolButton::clicked, this,
            guardedSlot(this, "修改", &TFrmCashGlide::TBtnEditClick));
    connect(TBtnDelete, &QToolButton::clicked, this,
            guardedSlot(this, "删除", &TFrmCashGlide::TBtnDeleteClick));
    connect(tbtn_viewVoucher, &QToolButton::clicked, this,
            guardedSlot(this, "查凭证", &TFrmCashGlide::tbtn_viewVoucherClick));
    connect(Tlbn_Oderset, &QToolButton::clicked, this,
            guardedSlot(this, "排序设置", &TFrmCashGlide::Tlbn_OdersetClick));
    // 查看修改记录 on the grid's context menu (Ctrl+H): the tool bar is full.
    actHistory = new QAction(QStringLiteral("查看修改记录(&H)"), Cell);
    actHistory->setObjectName(QStringLiteral("actHistory"));
    actHistory->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    actHistory->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    Cell->addAction(actHistory);
    Cell->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(actHistory, &QAction::triggered, this,
            guardedSlot(this, "查看修改记录", &TFrmCashGlide::tbtnHistoryClick));
    connect(Mitm_Fileinput, &QAction::triggered, this,
            guardedSlot(this, "从文件中导入", &TFrmCashGlide::Mitm_FileinputClick));
    connect(Mitm_Vouinput, &QAction::triggered, this,
            guardedSlot(this, "从凭证中导入", &TFrmCashGlide::Mitm_VouinputClick));
    connect(mniICBC, &QAction::triggered, this,
            guardedSlot(this, "工行对账单导入", &TFrmCashGlide::mniICBCClick));
    connect(mniCCB, &QAction::triggered, this,
            guardedSlot(this, "建行对账单导入", &TFrmCashGlide::mniCCBClick));

    // Kinds first: the table name depends on the journal kind.
    subject_Kind = subjectKind;
    Capation_Flag = journalKind;
    orderMng_ = std::make_unique<TOrder_itemMng>(tableName());
    mng_ = std::make_unique<TCaGlideMng>(tableName());
    mng_->OrderItemMng = orderMng_.get();
    spare_ = std::make_unique<TCaGlide>(tableName());

    fillAccounts();
    fillBookSets();
    QDate today = DBManage->GetDBTime().date();
    DTPBCreateDate->setDate(today);
    DTPECreateDate->setDate(today);
    fillUsers();

    setUpWindow();
    restoreWindowState();
}

// The spare row, then the manager, then the sort keys it reads: the members go
// in the reverse of their order.
TFrmCashGlide::~TFrmCashGlide() = default;

std::string TFrmCashGlide::tableName() const {
    return Capation_Flag == jkStatement ? kStatementTable : kCashJournalTable;
}

// Lists the accounts of the window's subject kind that belong to the current
// book set (letter case aside) or, failing that, to its managing book set.
void TFrmCashGlide::fillAccounts() {
    CmbAs_Code->clear();
    accountItems_.clear();
    const TBookSet& book = currentBookSet();
    TBankAccountManage* accounts = mng_->BankAccountManage();
    for (int i = 0; i < accounts->GetCount(); ++i) {
        BankAccountPtr a = accounts->GetDetail(i);
        if (a->Kind != subject_Kind) continue;
        bool listed = QString::compare(q(a->SetCode), q(book.Code), Qt::CaseInsensitive) == 0 ||
                      a->SetCode == book.GetManageSetCode();
        if (!listed) continue;
        QString text = q(a->AccountNo + " " + a->AccountName);
        if (a->State != kAccountInUse) text += QStringLiteral(" [已停用]");
        CmbAs_Code->addItem(text, static_cast<int>(accountItems_.size()));
        accountItems_.push_back(a);
    }
    if (CmbAs_Code->count() > 0) CmbAs_Code->setCurrentIndex(0);
}

void TFrmCashGlide::fillBookSets() {
    CMB_SetCode->clear();
    bookItems_.clear();
    const TBookSet& book = currentBookSet();
    auto add = [this](const TBookSet& b) {
        CMB_SetCode->addItem(q(b.DispCode + " " + b.Name), static_cast<int>(bookItems_.size()));
        bookItems_.emplace_back(b);
    };
    if (book.ManageFlag == 0) {
        add(book);
    } else {
        CMB_SetCode->addItem(QStringLiteral(" "), static_cast<int>(bookItems_.size()));
        bookItems_.emplace_back(std::nullopt);
        add(book);
        TBookSetMng* sets = UserManage->BookSetMng();
        for (int i = 0; i < sets->GetCount(); ++i) add(*sets->GetDetail(i));
    }
    CMB_SetCode->setCurrentIndex(0);
}

void TFrmCashGlide::fillUsers() {
    Cmb_ApplyUser->clear();
    userItems_.clear();
    Cmb_ApplyUser->addItem(QString(), 0);
    userItems_.emplace_back(std::nullopt);
    for (int i = 0; i < UserManage->GetUserCount(); ++i) {
        TUser* u = UserManage->GetUsers(i);
        Cmb_ApplyUser->addItem(q(u->Code + " " + u->Name), static_cast<int>(userItems_.size()));
        userItems_.emplace_back(*u);
    }
    Cmb_ApplyUser->setCurrentIndex(-1);
}

BankAccountPtr TFrmCashGlide::accountOfItem(int index) const {
    if (index < 0 || index >= CmbAs_Code->count()) return nullptr;
    int k = CmbAs_Code->itemData(index).toInt();
    return k >= 0 && k < static_cast<int>(accountItems_.size()) ? accountItems_[k] : nullptr;
}

BankAccountPtr TFrmCashGlide::selectedAccount() const {
    return accountOfItem(CmbAs_Code->currentIndex());
}

const TBookSet* TFrmCashGlide::selectedBookSet() const {
    int i = CMB_SetCode->currentIndex();
    if (i < 0) return nullptr;
    const auto& b = bookItems_[CMB_SetCode->itemData(i).toInt()];
    return b ? &*b : nullptr;
}

const TUser* TFrmCashGlide::selectedUser() const {
    int i = Cmb_ApplyUser->currentIndex();
    if (i < 0) return nullptr;
    const auto& u = userItems_[Cmb_ApplyUser->itemData(i).toInt()];
    return u ? &*u : nullptr;
}

std::string TFrmCashGlide::As_Code() const {
    BankAccountPtr a = selectedAccount();
    return a ? a->AsCode : std::string();
}

bool TFrmCashGlide::selectedAccountInUse() {
    BankAccountPtr a = selectedAccount();
    return a && a->State == kAccountInUse;
}

void TFrmCashGlide::showEvent(QShowEvent* event) {
    TfrmBaseAssRpt::showEvent(event);
    if (!event->spontaneous()) guarded(this, "显示窗口", [this] { FormShow(); });
}

void TFrmCashGlide::FormShow() {
    ClearImeName(this);
    const std::string mode = TBookSetOptionManage::GetOptionValueByName("-1", "GLIDE_INPUT_MODE");
    bool commands = mode == "0";
    TBtnNew->setVisible(commands);
    TBtnEdit->setVisible(commands);
    TBtnDelete->setVisible(commands);
    Mitm_Vouinput->setVisible(
        TBookSetOptionManage::GetOptionValueByName("-1", "GLIDE_INPUT_MODE") == "1");
    Mitm_Fileinput->setVisible(false);
    mniICBC->setVisible(false);
    mniCCB->setVisible(false);
    switch (Capation_Flag) {
        case jkCash:
            setWindowTitle(QStringLiteral("现金日记账"));
            break;
        case jkBank:
            setWindowTitle(QStringLiteral("银行日记账"));
            break;
        case jkStatement:
            setWindowTitle(QStringLiteral("银行对账单"));
            Mitm_Vouinput->setVisible(false);
            Mitm_Fileinput->setVisible(true);
            mniICBC->setVisible(true);
            mniCCB->setVisible(true);
            TBtnNew->setVisible(true);
            TBtnEdit->setVisible(true);
            TBtnDelete->setVisible(true);
            break;
        default:
            break;
    }
    if (currentBookSet().EntryLocked) {
        TBtnNew->setVisible(false);
        TBtnEdit->setVisible(false);
        TBtnDelete->setVisible(false);
        tbtnOptionSet->setVisible(false);
    }
    Cmb_operSymbleChange();
    // The first load shows what the filter panel shows, as a query would.
    applyFilterPanel();
    RebuildGrid();
}

// ---- query ----

void TFrmCashGlide::Cmb_operSymbleChange() {
    EDT_FirstMonery->setEnabled(
        Cmb_operSymble->currentText().compare(QStringLiteral("至"), Qt::CaseInsensitive) == 0);
    EDT_ENdMonery->setEnabled(true);
}

void TFrmCashGlide::tbtnSetClick() {
    EDT_ENdMonery->setFocus();
    if (!selectedAccount() || !filterNumbersInRange()) return;
    if (!applyFilterPanel()) return;
    RebuildGrid();
    // The user reads the result: the cursor stays on its row, in the grid.
    focusGrid("查询");
}

bool TFrmCashGlide::filterNumbersInRange() {
    for (TPBNumEdit* e : {Edt_FirstNo, Edt_EndNo, EDT_FirstMonery, EDT_ENdMonery})
        if (e->isEnabled() && !e->CheckRange()) return false;
    return true;
}

// Copies the filter panel into the manager's conditions; false (nothing
// changed) when no account is selected. The account picked is its own book
// set's, so an account of another book set that shares its code is never
// loaded with it.
bool TFrmCashGlide::applyFilterPanel() {
    BankAccountPtr account = selectedAccount();
    if (!account) return false;
    TCaGlideQry* c = mng_->CaGlideQry();
    const TBookSet* book = selectedBookSet();
    c->SetCode = book ? book->Code : std::string();
    c->SetASCode(account->AsCode);
    c->AccountSetCode = account->SetCode;
    c->BCreateDate = isoDate(DTPBCreateDate->date());
    c->ECreateDate = isoDate(DTPECreateDate->date());
    c->BDateOrNo = Edt_FirstNo->Value();
    c->EDateOrNo = Edt_EndNo->Value();
    c->OperSymble = Cmb_operSymble->currentText().toStdString();
    c->BMoney = EDT_FirstMonery->Value();
    c->EMoney = EDT_ENdMonery->Value();
    c->Summary = Edt_summary->text().toStdString();
    c->PayCode = Edt_PayCode->text().toStdString();
    const TUser* user = selectedUser();
    c->ApplyUser = !Cmb_ApplyUser->currentText().isEmpty() && user ? user->Code : std::string();
    return true;
}

void TFrmCashGlide::CBAsCodeCloseUp() {
    if (!selectedAccount()) return;
    TCaGlideQry* c = mng_->CaGlideQry();
    c->SetCode = currentBookSet().Code;
    c->SetASCode(As_Code());
    c->AccountSetCode = selectedAccount()->SetCode;
    std::string today = isoDate(DBManage->GetDBTime().date());
    c->BCreateDate = today;
    c->ECreateDate = today;
    RebuildGrid();
}

// ---- grid ----

namespace {

// The year over the 月 and 日 columns: the book set's, unless the rows asked
// for lie in another year (last year's, once the book set has been carried
// forward) or span two, which it then names.
QString headingYear(int bookYear, const std::string& from, const std::string& to) {
    auto yearOf = [&](const std::string& date) {
        return date.size() >= 4 ? std::atoi(date.substr(0, 4).c_str()) : bookYear;
    };
    const int first = from.empty() ? bookYear : yearOf(from);
    const int last = to.empty() ? std::max(first, bookYear) : yearOf(to);
    if (first == last) return QString::number(first) + QStringLiteral("年");
    return QStringLiteral("%1—%2年").arg(first).arg(last);
}

}  // namespace

void TFrmCashGlide::RebuildGrid() {
    TCell& g = *Cell;
    const CursorTarget cursor = cursorTarget_ ? *cursorTarget_ : cursorNow();
    cursorTarget_.reset();
    unitTexts_.clear();
    modeTexts_.clear();
    g.SetRows(1);
    g.SetRows(g.GetRows() + 1);
    g.S(1, 1, windowTitle());

    g.SetRows(g.GetRows() + 1);
    if (!CMB_SetCode->currentText().trimmed().isEmpty()) {
        if (const TBookSet* b = selectedBookSet()) g.S(1, 2, q(b->Name + "[" + b->Code + "]"));
    }
    g.MergeCells(1, 2, 4, 2);
    const TCaGlideQry* c = mng_->CaGlideQry();
    if (!QString::fromStdString(c->CR_Code).trimmed().isEmpty())
        g.S(5, 2, q("对方单位：[" + mng_->CurrentManage()->GetDisplayName(c->CR_Code, 0) + "]"));
    g.MergeCells(5, 2, 6, 2);
    if (!QString::fromStdString(c->DP_Code).trimmed().isEmpty()) {
        g.S(7, 2, q("部门：[" + mng_->DepartmentManage()->GetDisplayName(c->DP_Code, 0) + "]"));
        g.MergeCells(7, 2, 8, 2);
    }
    writeReportHeading();

    g.SetRows(g.GetRows() + 2);
    for (int col = 3; col <= 10; ++col) {
        g.S(col, 3, QString::fromUtf8(kColumnTitles[col - 1]));
        g.MergeCells(col, 3, col, 4);
    }
    g.S(1, 3, headingYear(currentBookSet().Year, c->BCreateDate, c->ECreateDate));
    g.MergeCells(1, 3, 2, 3);
    g.S(11, 3, QStringLiteral("余额"));
    g.MergeCells(11, 3, 12, 3);
    for (int col : {1, 2, 11, 12}) g.S(col, 4, QString::fromUtf8(kColumnTitles[col - 1]));

    mng_->SubjectKind = subject_Kind;
    mng_->Load();
    int n = mng_->GetCount();
    if (n > 0) {
        g.SetRows(g.GetRows() + n);
        for (int i = 0; i < n; ++i) WriteGridRow(mng_->GetDetails(i), kFirstDataRow + i);
    }
    BuildFormat();
    placeCursor(cursor);
}

void TFrmCashGlide::keepCursorOn(std::int64_t id, std::int64_t otherwise) {
    cursorTarget_ = CursorTarget{id, otherwise, {}, {}, {}};
}

TFrmCashGlide::CursorTarget TFrmCashGlide::cursorNow() const {
    const int row = Cell->GetCurrentRow();
    const TCaGlide* r = row >= kFirstDataRow ? mng_->GetDetails(row - kFirstDataRow) : nullptr;
    if (!r) return {};
    if (r->Id != 0) return {r->Id, 0, {}, {}, {}};
    return {0, 0, r->Summary, r->CreateDate, r->SetCode + '/' + r->AS_Code};
}

void TFrmCashGlide::placeCursor(const CursorTarget& target) {
    const int n = mng_->GetCount();
    auto rowOf = [&](std::int64_t id) {
        if (id == 0) return 0;
        for (int i = 0; i < n; ++i)
            if (mng_->GetDetails(i)->Id == id) return kFirstDataRow + i;
        return 0;
    };
    int row = rowOf(target.id);
    if (row == 0) row = rowOf(target.otherwise);
    for (int i = 0; row == 0 && !target.line.empty() && i < n; ++i) {
        const TCaGlide* r = mng_->GetDetails(i);
        if (r->Id == 0 && r->Summary == target.line && r->CreateDate == target.date &&
            r->SetCode + '/' + r->AS_Code == target.account)
            row = kFirstDataRow + i;
    }
    // Otherwise the first journal row, else the first line of all.
    for (int i = 0; row == 0 && i < n; ++i)
        if (mng_->GetDetails(i)->Id != 0) row = kFirstDataRow + i;
    if (row == 0 && n > 0) row = kFirstDataRow;
    Cell->SetCurrentRow(row);
    if (row > 0) Cell->scrollTo(Cell->currentIndex());
}

void TFrmCashGlide::focusGrid(const char* after) {
    if (Cell->GetCurrentRow() < kFirstDataRow) placeCursor({});
    Cell->setFocus(Qt::OtherFocusReason);
    traceCursor(after);
}

void TFrmCashGlide::traceCursor(const char* after) const {
    if (!lcCursor().isDebugEnabled()) return;
    const int row = Cell->GetCurrentRow();
    const TCaGlide* r = row >= kFirstDataRow ? mng_->GetDetails(row - kFirstDataRow) : nullptr;
    const QWidget* focus = focusWidget();
    qCDebug(lcCursor).noquote().nospace()
        << after << " row=" << row << " date=" << (r ? q(r->CreateDate) : QString())
        << " summary=" << (r ? q(r->Summary) : QString())
        << " debit=" << (r ? QString::number(r->DebMoney, 'f', 2) : QString())
        << " credit=" << (r ? QString::number(r->CreMoney, 'f', 2) : QString())
        << " focus=" << (focus ? focus->objectName() : QString());
}

void TFrmCashGlide::WriteGridRow(TCaGlide* row, int gridRow) {
    TCell& g = *Cell;
    if (gridRow == -1) {
        g.SetRows(g.GetRows() + 1);
        gridRow = g.GetRows() - 1;
    }
    // Texts that repeat down the sheet (month, day, unit, settlement mode,
    // summary, direction) share one string per distinct text.
    SharedTexts& t = gridTexts_;
    const std::string_view d = row->CreateDate;
    auto part = [&](std::size_t from) {
        const std::string_view p = from < d.size() ? d.substr(from, 2) : std::string_view();
        return p.size() == 2 && isDigit(p[0]) && isDigit(p[1]) ? twoDigits(p) : t(p);
    };
    g.S(1, gridRow, part(5));
    g.S(2, gridRow, part(8));
    g.S(3, gridRow, q(row->DateOrNo));
    const std::string unitKey = row->CR_Code + '\x1f' + row->CR_Name;
    g.S(4, gridRow,
        unitTexts_.keyed(unitKey, [&] { return q(row->getEncode() + " " + row->CR_Name); }));
    if (row->VoucherClass > 0 && row->VoucherNo > 0) {
        // Whole voucher numbers (all of them in practice) skip the general
        // double formatting, which is slow.
        const double no = row->VoucherNo;
        const QString number = no < 1e15 && no == std::floor(no)
                                   ? QString::number(static_cast<qint64>(no))
                                   : QString::number(no, 'g', 15);
        g.S(5, gridRow, t(VDefineManage->GetDefineNameByID(row->VoucherClass)) + ' ' + number);
    }
    g.S(6, gridRow, q(row->PayCode));
    if (!row->PM_Code.empty())
        g.S(7, gridRow, modeTexts_.keyed(row->PM_Code, [&] {
            return q(
                row->PM_Code + " " +
                BasisManageFactory->GetBaseInfoManage(kPayMode)->GetDispNameByInCode(row->PM_Code));
        }));
    g.S(8, gridRow, t(row->Summary));
    const int sheet = g.GetCurSheet();
    auto number = [&](int col, double value) {
        g.SetCellNumType(col, gridRow, sheet, 1);
        g.SetCellHideZero(col, gridRow, sheet, 1);
        g.SetCellSeparator(col, gridRow, sheet, 2);
        if (std::fabs(value) >= 0.01) g.D(col, gridRow, value);
    };
    if (row->Summary != kYearOpening) {
        number(9, row->DebMoney);
        number(10, row->CreMoney);
    }
    g.S(11, gridRow, t(row->Direction));
    number(12, std::fabs(row->Balance));
    // Rows ticked off in the bank reconciliation: colour and tooltip only.
    for (int col = 1; col <= 12; ++col) g.sheet()->cell(col, gridRow).reconciled = row->Reconciled;
}

TCaGlide* TFrmCashGlide::GetCaGlide() {
    return mng_->GetDetails(Cell->GetCurrentRow() - kFirstDataRow);
}
