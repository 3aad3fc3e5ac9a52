#include "Unt_CashGlideInput.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QShowEvent>
#include <cmath>

#include "CommonObj.h"
#include "Guard.h"
#include "Pickers.h"
#include "Records.h"
#include "Regional.h"
#include "Seams.h"
#include "ui_FrmCashGlideInput.h"

using namespace ledgerhost;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string firstToken(const QString& text) {
    return GetFlagString(text.toStdString(), " ", 0);
}

// The whole number an edit holds; throws when it holds a fraction.
std::int64_t wholeNumber(const TPBNumEdit& e) {
    double v = e.Value();
    if (v != std::floor(v))
        throw std::invalid_argument("凭证号必须是整数：" + e.text().toStdString());
    return static_cast<std::int64_t>(v);
}

}  // namespace

TFrmCashGlideInput::TFrmCashGlideInput(QWidget* owner, const std::string& tableName)
    : TfrmAccBase(owner),
      ui_(std::make_unique<Ui::FrmCashGlideInput>()),
      tableName_(tableName),
      conditions_(std::make_unique<TCaGlideQry>(tableName)) {
    EnterAsTab = true;
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    CmbAs_Code = ui_->CmbAs_Code;
    DTPBCreateDate = ui_->DTPBCreateDate;
    DTPECreateDate = ui_->DTPECreateDate;
    CB_VoucherClass = ui_->CB_VoucherClass;
    EdtBVOUCHER_ID = ui_->EdtBVOUCHER_ID;
    EdtEVOUCHER_ID = ui_->EdtEVOUCHER_ID;
    CmbPM_Code = ui_->CmbPM_Code;
    EdtPayCode = ui_->EdtPayCode;
    EdtCR_Code = ui_->EdtCR_Code;
    EdtDP_Code = ui_->EdtDP_Code;
    EdtSUMMARY = ui_->EdtSUMMARY;
    CmbApplyUser = ui_->CmbApplyUser;
    BtOk = ui_->BtOk;
    BtCancel = ui_->BtCancel;
    for (TPBNumEdit* e : {EdtBVOUCHER_ID, EdtEVOUCHER_ID}) {
        e->setDecimals(-1);
        e->setMaxValue(1000);
        e->setNumberFormat(TPBNumEdit::Standard);
    }
    for (QLineEdit* e : {EdtCR_Code, EdtDP_Code, EdtSUMMARY}) e->installEventFilter(this);
    connect(BtOk, &QPushButton::clicked, this,
            guardedSlot(this, "从凭证中导入", &TFrmCashGlideInput::BtOkClick));
    connect(BtCancel, &QPushButton::clicked, this,
            guardedSlot(this, "取消", &TFrmCashGlideInput::BtCancelClick));
}

TFrmCashGlideInput::~TFrmCashGlideInput() = default;

void TFrmCashGlideInput::setAccounts(const QStringList& texts,
                                     const std::vector<BankAccountPtr>& accounts, int selected) {
    CmbAs_Code->clear();
    accounts_ = accounts;
    for (int i = 0; i < texts.size(); ++i) CmbAs_Code->addItem(texts[i], i);
    CmbAs_Code->setCurrentIndex(selected);
}

BankAccountPtr TFrmCashGlideInput::selectedAccount() const {
    int i = CmbAs_Code->currentIndex();
    if (i < 0) return nullptr;
    int k = CmbAs_Code->itemData(i).toInt();
    return k >= 0 && k < static_cast<int>(accounts_.size()) ? accounts_[k] : nullptr;
}

void TFrmCashGlideInput::showEvent(QShowEvent* e) {
    TfrmAccBase::showEvent(e);
    if (!e->spontaneous()) guarded(this, "显示窗口", [this] { FormShow(); });
}

void TFrmCashGlideInput::FormShow() {
    InitConditions();
}

void TFrmCashGlideInput::InitConditions() {
    const TCaGlideQry& c = *conditions_;
    CmbApplyUser->clear();
    CmbApplyUser->addItem(QString());
    for (int i = 0; i < UserManage->GetUserCount(); ++i) {
        TUser* u = UserManage->GetUsers(i);
        CmbApplyUser->addItem(q(u->Code + " " + u->Name));
    }
    DTPBCreateDate->setDate(DBManage->GetDBTime().date());
    DTPECreateDate->setDate(DBManage->GetDBTime().date());
    CmbPM_Code->clear();
    CmbPM_Code->addItem(QStringLiteral(" "));
    TBaseInfoManage* payModes = BasisManageFactory->GetBaseInfoManage(kPayMode);
    for (int i = 0; i < payModes->GetBaseInfoCount(); ++i)
        if (TBaseInfoItem* it = payModes->GetBaseInfo(i))
            CmbPM_Code->addItem(q(it->Code + " " + it->Name));
    CB_VoucherClass->clear();
    CB_VoucherClass->addItem(QStringLiteral(" "));
    TVDefineManage types(currentBookSet().Code);
    for (const auto& t : types.GetAllVoucherType()) CB_VoucherClass->addItem(q(t.Name), t.Id);

    // The conditions' account: every item is searched, so the first account
    // can be found as well; with no match the list ends with no selection.
    int found = -1;
    for (int i = 0; i < CmbAs_Code->count() && found < 0; ++i) {
        int k = CmbAs_Code->itemData(i).toInt();
        bool sameAccount = k >= 0 && k < static_cast<int>(accounts_.size()) && accounts_[k] &&
                           accounts_[k]->AsCode == c.AS_Code;
        if (!c.AS_Code.empty() && (sameAccount || firstToken(CmbAs_Code->itemText(i)) == c.AS_Code))
            found = i;
    }
    CmbAs_Code->setCurrentIndex(found);

    if (!c.BCreateDate.empty()) {
        auto d = parseShortDate(c.BCreateDate);
        if (!d) throw std::invalid_argument("日期格式错误：" + c.BCreateDate);
        DTPBCreateDate->setDate(*d);
    }
    if (!c.ECreateDate.empty()) {
        auto d = parseShortDate(c.ECreateDate);
        if (!d) throw std::invalid_argument("日期格式错误：" + c.ECreateDate);
        DTPECreateDate->setDate(*d);
    }
    CB_VoucherClass->setCurrentIndex(-1);
    for (int i = 1; i < CB_VoucherClass->count(); ++i)
        if (CB_VoucherClass->itemData(i).toInt() == c.VoucherClass) {
            CB_VoucherClass->setCurrentIndex(i);
            break;
        }
}

void TFrmCashGlideInput::BtOkClick() {
    if (CmbAs_Code->currentText().trimmed().isEmpty()) {
        CmmObj->MsgBox("请选择一个账号！");
        return;
    }
    try {
        SaveConditions();
    } catch (const std::invalid_argument& e) {
        // A voucher number with a fraction: say so and let the user mend it.
        CmmObj->MsgBox(e.what());
        return;
    }
    done(mrOk);
}

void TFrmCashGlideInput::BtCancelClick() {
    done(mrCancel);
}

void TFrmCashGlideInput::SaveConditions() {
    TCaGlideQry& c = *conditions_;
    std::int64_t firstNo = wholeNumber(*EdtBVOUCHER_ID);
    std::int64_t lastNo = wholeNumber(*EdtEVOUCHER_ID);
    if (BankAccountPtr a = selectedAccount()) {
        c.SetASCode(a->AsCode);
        c.AccountSetCode = a->SetCode;
    }
    c.BCreateDate = isoDate(DTPBCreateDate->date());
    c.ECreateDate = isoDate(DTPECreateDate->date());
    c.PayCode = EdtPayCode->text().toStdString();
    c.PM_Code = firstToken(CmbPM_Code->currentText());
    c.Summary = EdtSUMMARY->text().toStdString();
    if (CB_VoucherClass->currentIndex() > 0) {
        c.VoucherClass = CB_VoucherClass->currentData().toInt();
        // The voucher numbers are looked up in the month the range starts in.
        QDate d = DTPBCreateDate->date();
        std::string b =
            GetVoucher_id(c.SetCode, d.year(), d.month(), d.day(), c.VoucherClass, firstNo);
        if (!b.empty()) c.BVoucher_ID = b;
        std::string e =
            GetVoucher_id(c.SetCode, d.year(), d.month(), d.day(), c.VoucherClass, lastNo);
        if (!e.empty()) c.EVoucher_ID = e;
    }
    c.ApplyUser = firstToken(CmbApplyUser->currentText());
}

void TFrmCashGlideInput::EdtDP_CodeDblClick() {
    std::string code = EdtDP_Code->toolTip().toStdString(), name;
    SelectAccid("Department", code, name, 1);
    if (name.empty()) return;
    EdtDP_Code->setText(q(name));
    conditions_->SetDPCode(code);
}

void TFrmCashGlideInput::EdtCR_CodeDblClick() {
    std::string code = EdtCR_Code->toolTip().toStdString(), name;
    SelectAccid("currents", code, name, 1);
    if (name.empty()) return;
    EdtCR_Code->setText(q(name));
    conditions_->SetCRCode(code);
}

void TFrmCashGlideInput::EdtSUMMARYDblClick() {
    std::string code = EdtSUMMARY->toolTip().toStdString(), name;
    SelectAccid("Summary", code, name, 1);
    if (!name.empty()) EdtSUMMARY->setText(q(name));
}

void TFrmCashGlideInput::EdtCR_CodeKeyPress(int key) {
    if (key != Qt::Key_Backspace) return;
    EdtCR_Code->clear();
    conditions_->SetCRCode("");
}

void TFrmCashGlideInput::EdtDP_CodeKeyPress(int key) {
    if (key != Qt::Key_Backspace) return;
    EdtDP_Code->clear();
    conditions_->SetDPCode("");
}

bool TFrmCashGlideInput::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonDblClick) {
        if (watched == EdtCR_Code)
            guarded(this, "选择对方单位", [this] { EdtCR_CodeDblClick(); });
        else if (watched == EdtDP_Code)
            guarded(this, "选择部门", [this] { EdtDP_CodeDblClick(); });
        else if (watched == EdtSUMMARY)
            guarded(this, "选择摘要", [this] { EdtSUMMARYDblClick(); });
        return watched != EdtSUMMARY;
    }
    if (e->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(e)->key();
        if (watched == EdtCR_Code)
            guarded(this, "清除对方单位", [&] { EdtCR_CodeKeyPress(key); });
        else if (watched == EdtDP_Code)
            guarded(this, "清除部门", [&] { EdtDP_CodeKeyPress(key); });
    }
    return TfrmAccBase::eventFilter(watched, e);
}
