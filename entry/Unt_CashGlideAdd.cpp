#include "Unt_CashGlideAdd.h"

#include <QCompleter>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShowEvent>
#include <QStringListModel>
#include <QTimer>
#include <QToolTip>
#include <stdexcept>

#include "CommonObj.h"
#include "Guard.h"
#include "Pickers.h"
#include "Regional.h"
#include "ui_FrmCashGlideAdd.h"

using namespace ledgerhost;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& t) {
    return t.toStdString();
}

// Items of base information are shown as code, one space, name.
QString displayForm(const TBaseInfoItem& item) {
    return q(item.Code + " " + item.Name);
}

// The code part of a picker edit's text: its first space-separated token.
std::string codeOfText(const QLineEdit* edit) {
    return GetFlagString(s(edit->text()), " ", 0);
}

// Whether the manager holds an item with that code, walking it in order.
bool hasCode(TBaseInfoManage& manage, const std::string& code) {
    for (int i = 0; i < manage.GetBaseInfoCount(); ++i)
        if (manage.GetBaseInfo(i)->Code == code) return true;
    return false;
}

}  // namespace

TFrmCashGlideAdd::TFrmCashGlideAdd(QWidget* owner, const std::string& tableName)
    : TfrmAccBase(owner), ui_(std::make_unique<Ui::FrmCashGlideAdd>()) {
    ui_->setupUi(this);
    TableName = tableName;
    // Enter moves on to the next control, as in the host's other entry forms.
    EnterAsTab = true;
    caGlide_ = std::make_unique<TCaGlide>(TableName);

    GroupBox1 = ui_->GroupBox1;
    EdtAsCode = ui_->EdtAsCode;
    EdtDataOrNo = ui_->EdtDataOrNo;
    DTPCreateDate = ui_->DTPCreateDate;
    CB_VoucherClass = ui_->CB_VoucherClass;
    EdtVoucher_ID = ui_->EdtVoucher_ID;
    EdtPaycode = ui_->EdtPaycode;
    edtPayMode = ui_->edtPayMode;
    EdtDebMoney = ui_->EdtDebMoney;
    EdtCreMoney = ui_->EdtCreMoney;
    EdtSummary = ui_->EdtSummary;
    edtCurrent = ui_->edtCurrent;
    edtDepartment = ui_->edtDepartment;
    EdtRemark = ui_->EdtRemark;
    EdtApplyUser = ui_->EdtApplyUser;
    BtSave = ui_->BtSave;
    BtSaveClose = ui_->BtSaveClose;
    Btcancel = ui_->Btcancel;

    // The numeric edits' settings are not properties the layout can carry.
    // No upper limit on the voucher number: every number a voucher can have
    // is accepted, and one without a voucher is refused when saving.
    EdtVoucher_ID->setDecimals(-1);
    EdtVoucher_ID->setNumberFormat(TPBNumEdit::Standard);
    EdtVoucher_ID->setAllowNegative(false);
    EdtVoucher_ID->setFieldName(QStringLiteral("凭证号"));
    // An amount beyond what a row can hold is refused when saving, never cut.
    for (TPBNumEdit* e : {EdtDebMoney, EdtCreMoney}) {
        e->setDecimals(2);
        e->setNumberFormat(TPBNumEdit::Thousands);
        e->setMaxValue(kLargestAmount);
    }
    EdtDebMoney->setFieldName(QStringLiteral("借方金额"));
    EdtCreMoney->setFieldName(QStringLiteral("贷方金额"));

    // A fixed single border with only the close box.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(419, 307);
    setSizeGripEnabled(false);

    connect(BtSave, &QPushButton::clicked, this,
            guardedSlot(this, "保存记录", &TFrmCashGlideAdd::BtSaveClick));
    connect(BtSaveClose, &QPushButton::clicked, this,
            guardedSlot(this, "保存记录", &TFrmCashGlideAdd::BtSaveCloseClick));
    connect(Btcancel, &QPushButton::clicked, this,
            guardedSlot(this, "取消", &TFrmCashGlideAdd::BtcancelClick));
    // Double-click and key presses of the picker edits, leaving an amount edit
    // and Tab in the date picker are seen through the event filter.
    for (QWidget* w : {static_cast<QWidget*>(DTPCreateDate), static_cast<QWidget*>(edtPayMode),
                       static_cast<QWidget*>(edtCurrent), static_cast<QWidget*>(edtDepartment),
                       static_cast<QWidget*>(EdtDebMoney), static_cast<QWidget*>(EdtCreMoney)})
        w->installEventFilter(this);
    for (QLineEdit* e : {edtPayMode, edtCurrent, edtDepartment})
        e->setPlaceholderText(QStringLiteral("F4 选择"));

    // The summary offers the common summaries and earlier rows' summaries
    // that contain what is typed; the arrows choose, Enter takes one.
    summaryTexts_ = new QStringListModel(this);
    auto* completer = new QCompleter(summaryTexts_, this);
    completer->setFilterMode(Qt::MatchContains);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setMaxVisibleItems(12);
    EdtSummary->setCompleter(completer);
}

TFrmCashGlideAdd::~TFrmCashGlideAdd() = default;

TBaseInfoItem* TFrmCashGlideAdd::tagOf(QLineEdit* edit) const {
    auto it = tags_.find(edit);
    return it == tags_.end() ? nullptr : it->second;
}

void TFrmCashGlideAdd::setTag(QLineEdit* edit, TBaseInfoItem* item) {
    tags_[edit] = item;
}

bool TFrmCashGlideAdd::isPickerEdit(QObject* o) const {
    return o == edtPayMode || o == edtCurrent || o == edtDepartment;
}

void TFrmCashGlideAdd::showEvent(QShowEvent* event) {
    TfrmAccBase::showEvent(event);
    if (event->spontaneous()) return;
    // A record the dialog cannot show must not be saved from half-filled
    // controls, not even while the message about it is open: the dialog
    // refuses to save and closes as soon as the event loop runs (closing from
    // inside the show event would confuse a modal loop that has not started).
    unusable_ = true;
    if (guarded(this, "显示记录", [this] { FormShow(); })) {
        unusable_ = false;
        return;
    }
    QTimer::singleShot(0, this, [this] {
        if (unusable_) done(mrCancel);
    });
}

void TFrmCashGlideAdd::finishTyping(QPushButton* button) {
    // A mouse click takes the focus from the edit being typed before the
    // button acts; a keyboard accelerator does not. Passing the focus through
    // the button finishes the edit the same way (its text rounded, debit and
    // credit kept exclusive); it then goes back, so that a refused save leaves
    // the cursor where it was.
    QWidget* f = focusWidget();
    if (!f || f == button || !button->isVisible() || !button->isEnabled()) return;
    button->setFocus(Qt::ShortcutFocusReason);
    if (button->hasFocus()) f->setFocus(Qt::OtherFocusReason);
}

bool TFrmCashGlideAdd::eventFilter(QObject* watched, QEvent* event) {
    bool handled = false;
    guarded(this, "处理输入", [&] { handled = filterEvent(watched, event); });
    return handled || TfrmAccBase::eventFilter(watched, event);
}

bool TFrmCashGlideAdd::filterEvent(QObject* watched, QEvent* event) {
    if (watched == DTPCreateDate) {
        // Tab leaves the date picker rather than stepping through its year,
        // month and day; the cursor keys move between those.
        if (event->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(event);
            bool back = k->key() == Qt::Key_Backtab ||
                        (k->key() == Qt::Key_Tab && (k->modifiers() & Qt::ShiftModifier));
            if ((k->key() == Qt::Key_Tab || back) &&
                !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
                focusNextPrevChild(!back);
                return true;
            }
        }
    } else if (isPickerEdit(watched)) {
        auto* edit = static_cast<QLineEdit*>(watched);
        if (event->type() == QEvent::MouseButtonDblClick &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            edtPayModeDblClick(edit);
            return true;
        }
        if (event->type() == QEvent::KeyPress && opensPicker(*static_cast<QKeyEvent*>(event))) {
            // F4, Alt+Down and Enter open the picker as a double-click does;
            // once something is chosen, Enter goes on to the next field.
            const QString before = edit->text();
            edtPayModeDblClick(edit);
            if (edit->text() != before && focusNextChild())
                if (auto* next = qobject_cast<QLineEdit*>(focusWidget())) next->selectAll();
            return true;
        }
        if (event->type() == QEvent::ToolTip) {
            // The edit's own tool tip names the kind it picks; the user is
            // told how to open the picker instead.
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), pickerFieldHelp(),
                               edit);
            return true;
        }
        if (event->type() == QEvent::KeyPress)
            edtPayModeKeyPress(edit, static_cast<QKeyEvent*>(event)->key());
    } else if (event->type() == QEvent::FocusOut) {
        // Only a move of the focus within the dialog counts as leaving the
        // edit; switching to another window or opening a pop-up does not.
        Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == EdtDebMoney)
                EdtDebMoneyExit();
            else if (watched == EdtCreMoney)
                EdtCreMoneyExit();
        }
    }
    return false;
}

void TFrmCashGlideAdd::FormShow() {
    ClearImeName(this);
    ShowCaGlide();
    offerSummaries();
}

void TFrmCashGlideAdd::offerSummaries() {
    summaryTexts_->setStringList(summaryCompletions(currentDb(), caGlide_->SetCode, TableName));
}

void TFrmCashGlideAdd::ShowCaGlide() {
    TCaGlide& row = *caGlide_;

    // Voucher types: a blank first item without a type, then the book set's
    // types, each carrying its identifier. Nothing stays selected when the
    // entry's type is not among them.
    CB_VoucherClass->clear();
    CB_VoucherClass->addItem(QStringLiteral(" "));
    TVDefineManage types(BookManage->BookSet->Code);
    for (const TVoucherType& t : types.GetAllVoucherType())
        CB_VoucherClass->addItem(q(t.Name), t.Id);
    int selected = -1;
    for (int i = 1; i < CB_VoucherClass->count(); ++i) {
        if (CB_VoucherClass->itemData(i).toInt() == row.VoucherClass) {
            selected = i;
            break;
        }
    }
    CB_VoucherClass->setCurrentIndex(selected);

    EdtApplyUser->setText(q(TUser(row.ApplyUser).Name));

    BankAccountPtr account = row.GetAccount();
    EdtAsCode->setText(account ? q(account->AccountNo + " " + account->AccountName) : QString());
    // A long account number starts the text: show its start, and all of it on hover.
    EdtAsCode->setCursorPosition(0);
    EdtAsCode->setToolTip(EdtAsCode->text());

    // A date the regional conventions cannot read is not ours to repair: the
    // error goes to the caller, and the dialog does not open on the record.
    std::optional<QDate> date = parseShortDate(row.CreateDate);
    if (!date) throw std::runtime_error("记录的日期“" + row.CreateDate + "”无法识别。");
    DTPCreateDate->setDate(*date);

    EdtCreMoney->setValue(row.CreMoney);

    if (EditMode == "0") {
        // Adding: the next free number; the picker edits keep what was chosen.
        row.DateOrNo = row.GetDateOrNo();
        EdtDataOrNo->setText(q(row.DateOrNo));
    } else {
        // Modifying: show the stored codes as items. A code whose item no
        // longer exists shows as empty and so is stored empty again.
        struct Picker {
            QLineEdit* edit;
            const char* kind;
            const std::string& inCode;
        };
        for (const Picker& p :
             {Picker{edtPayMode, kPayMode, row.PM_Code}, Picker{edtCurrent, kCurrents, row.CR_Code},
              Picker{edtDepartment, kDepartment, row.DP_Code}}) {
            TBaseInfoItem* item =
                BasisManageFactory->GetBaseInfoManage(p.kind)->GetOfInCode(p.inCode);
            if (item) {
                p.edit->setText(displayForm(*item));
                p.edit->setCursorPosition(0);  // the code first, the name after it
                setTag(p.edit, item);
            } else {
                p.edit->clear();
            }
        }
        EdtDataOrNo->setText(q(row.DateOrNo));
    }

    EdtDebMoney->setValue(row.DebMoney);
    EdtPaycode->setText(q(row.PayCode));
    EdtRemark->setPlainText(q(row.Remark));
    EdtSummary->setText(q(row.Summary));
    if (row.VoucherNo != 0) EdtVoucher_ID->setText(QString::number(row.VoucherNo, 'g', 15));
}

std::string TFrmCashGlideAdd::pickedInCode(QLineEdit* edit) const {
    TBaseInfoItem* item = tagOf(edit);
    if (!item || edit->text().trimmed().isEmpty()) return {};
    return item->InCode;
}

bool TFrmCashGlideAdd::CheckCaGlide() {
    TCaGlide& row = *caGlide_;

    if (!EdtDebMoney->CheckRange() || !EdtCreMoney->CheckRange()) return false;
    if (EdtCreMoney->Value() == 0 && EdtDebMoney->Value() == 0) {
        CmmObj->MsgBox("借贷方不能同时为零！");
        EdtDebMoney->setFocus();
        return false;
    }
    if (!edtDepartment->text().trimmed().isEmpty()) {
        TDepartmentManage departments;
        if (!hasCode(departments, codeOfText(edtDepartment))) {
            CmmObj->MsgBox("部门不存在，请重新选择！");
            edtDepartment->setFocus();
            return false;
        }
    }
    if (!edtCurrent->text().trimmed().isEmpty()) {
        TCurrentManage currents;
        if (!hasCode(currents, codeOfText(edtCurrent))) {
            CmmObj->MsgBox("对方单位不存在，请重新选择！");
            edtCurrent->setFocus();
            return false;
        }
    }

    const QDate date = DTPCreateDate->date();
    row.CreateDate = isoDate(date);
    row.CreMoney = EdtCreMoney->Value();
    row.DebMoney = EdtDebMoney->Value();
    row.PayCode = s(EdtPaycode->text());
    row.PM_Code = pickedInCode(edtPayMode);
    row.SetCRCode(pickedInCode(edtCurrent));
    row.SetDPCode(pickedInCode(edtDepartment));
    row.Remark = s(EdtRemark->toPlainText());
    row.Summary = s(EdtSummary->text());
    // The blank first type leaves the entry's type as it was.
    const std::int32_t shownType = row.VoucherClass;
    if (int i = CB_VoucherClass->currentIndex(); i > 0)
        row.VoucherClass = CB_VoucherClass->itemData(i).toInt();

    if (EdtVoucher_ID->Value() != 0) {
        // A number that is not a whole number a voucher can have (a fraction,
        // a sign, an exponent, too many digits) reads as 0, which no voucher
        // has: the lookup refuses it below.
        QString digits = EdtVoucher_ID->text();
        digits.remove(',').remove(' ');
        bool ok = false;
        qint64 number = digits.toLongLong(&ok);
        if (!ok) number = 0;
        // The link the entry came with stays while its type and number are
        // left as shown and its date stays in the voucher's month (looking
        // the number up again there could find another voucher with the same
        // number). A date moved to another month looks the number up in that
        // month, which refuses it when no such voucher is there.
        const bool unchanged =
            row.Voucher_ID != "0" && !row.Voucher_ID.empty() && row.VoucherNo != 0 &&
            number == row.VoucherNo && row.VoucherClass == shownType &&
            voucherInMonth(row.SetCode, row.Voucher_ID, date.year(), date.month());
        std::string id = unchanged ? row.Voucher_ID
                                   : GetVoucher_id(row.SetCode, date.year(), date.month(),
                                                   date.day(), row.VoucherClass, number);
        if (id.empty()) {
            CmmObj->MsgBox("录入的凭证类别对应的凭证号不存在，请重新输入！");
            return false;
        }
        row.Voucher_ID = id;
    } else {
        row.Voucher_ID = "0";
    }
    if (row.GlideFlag.empty()) row.GlideFlag = "1";
    return true;
}

void TFrmCashGlideAdd::BtSaveCloseClick() {
    finishTyping(BtSaveClose);
    if (unusable_ || !CheckCaGlide()) return;
    bool stored = EditMode == "0" ? caGlide_->Insert(true) : caGlide_->Update(true);
    if (!stored) {
        CmmObj->MsgBox(caGlide_->ErrorText);
        return;
    }
    if (RowSaved) RowSaved(true, *caGlide_);
    done(mrOk);
}

void TFrmCashGlideAdd::BtSaveClick() {
    finishTyping(BtSave);
    if (unusable_ || !CheckCaGlide()) return;
    if (!caGlide_->Insert(true)) {
        CmmObj->MsgBox(caGlide_->ErrorText);
        return;
    }
    // The dialog stays on the same entry, ready to be stored again as a
    // further row with whatever the user changes next.
    ShowCaGlide();
    offerSummaries();
    if (RowSaved) RowSaved(false, *caGlide_);
}

void TFrmCashGlideAdd::BtcancelClick() {
    done(mrCancel);
}

void TFrmCashGlideAdd::EdtDebMoneyExit() {
    if (EdtDebMoney->Value() != 0) EdtCreMoney->setValue(0);
}

void TFrmCashGlideAdd::EdtCreMoneyExit() {
    if (EdtCreMoney->Value() != 0) EdtDebMoney->setValue(0);
}

void TFrmCashGlideAdd::edtPayModeDblClick(QLineEdit* edit) {
    TBaseInfoItem* current = tagOf(edit);
    TBaseInfoItem* chosen =
        TdlgTree::GetCode(s(edit->toolTip()), current ? current->Code : std::string(),
                          std::string(), true, false, false);
    if (!chosen) return;
    edit->setText(displayForm(*chosen));
    edit->setCursorPosition(0);
    setTag(edit, chosen);
}

void TFrmCashGlideAdd::edtPayModeKeyPress(QLineEdit* edit, int key) {
    // Backspace clears the choice's text; the item stays in the tag, but an
    // empty text stores an empty code.
    if (key == Qt::Key_Backspace || key == 8) edit->clear();
}
