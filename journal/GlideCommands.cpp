// The journal window's row commands (new, modify, delete, view voucher) and
// the sort-order command.
#include "CommonObj.h"
#include "EntryLink.h"
#include "GlideHistoryView.h"
#include "GridLayout.h"
#include "Pickers.h"
#include "Regional.h"
#include "Seams.h"
#include "Unt_CashGlideAdd.h"
#include "Unt_CashGlideForm.h"
#include "Unt_OrderSet.h"

using namespace ledgerhost;

namespace {

// At most one entry dialog exists at a time.
TFrmCashGlideAdd* FrmCashGlideAdd = nullptr;

// Frees the entry dialog and empties the reference when the command ends,
// however it ends.
struct DialogRelease {
    ~DialogRelease() {
        delete FrmCashGlideAdd;
        FrmCashGlideAdd = nullptr;
    }
};

const char* const kNoRow = "请选中一条日记记录！";
const char* const kStopped = "当前账号已停用！";

QString dialogCaption(std::int32_t journalKind, bool adding) {
    switch (journalKind) {
        case jkCash:
            return adding ? QStringLiteral("现金日记账－－新增")
                          : QStringLiteral("现金日记账－－修改");
        case jkBank:
            return adding ? QStringLiteral("银行日记账－－新增")
                          : QStringLiteral("银行日记账－－修改");
        case jkStatement:
            return adding ? QStringLiteral("银行对帐单－－新增")
                          : QStringLiteral("银行对帐单－－修改");
        default:
            return {};
    }
}

}  // namespace

std::function<void(bool closing, const TCaGlide& saved)> redrawAfterSave(TFrmCashGlide& w) {
    return [&w](bool closing, const TCaGlide& saved) {
        // The cursor goes to the row just stored, and the grid has the focus
        // once the dialog has closed.
        w.keepCursorOn(saved.Id);
        if (closing)
            w.RebuildGrid();
        else
            w.tbtnSetClick();
        w.Cell->setFocus(Qt::OtherFocusReason);
    };
}

// The row under the cursor when it is a journal entry; otherwise says so and
// answers nothing.
static TCaGlide* entryUnderCursor(TFrmCashGlide& w) {
    TCaGlide* row = w.CaGlide();
    if (!row || isSummaryText(row->Summary)) {
        CmmObj->MsgBox(kNoRow);
        return nullptr;
    }
    return row;
}

void TFrmCashGlide::TBtnNewClick() {
    if (CmbAs_Code->currentText().trimmed().isEmpty()) {
        CmmObj->MsgBox("请选择某一账号！");
        return;
    }
    if (!selectedAccountInUse()) {
        CmmObj->MsgBox(kStopped);
        return;
    }
    if (!FrmCashGlideAdd) FrmCashGlideAdd = new TFrmCashGlideAdd(nullptr, tableName());
    DialogRelease release;
    QString caption = dialogCaption(Capation_Flag, true);
    if (!caption.isEmpty()) FrmCashGlideAdd->setWindowTitle(caption);
    TCaGlide* entry = FrmCashGlideAdd->CaGlide();
    entry->SetCode = currentBookSet().Code;
    entry->SetASCode(As_Code());
    entry->CreateDate = isoDate(DBManage->GetDBTime().date());
    entry->ApplyUser = User->Code;
    entry->OperFlag = "0";
    FrmCashGlideAdd->EditMode = "0";
    FrmCashGlideAdd->RowSaved = redrawAfterSave(*this);
    ShowModal(*FrmCashGlideAdd);
    traceCursor("新增");
}

void TFrmCashGlide::TBtnEditClick() {
    TCaGlide* row = entryUnderCursor(*this);
    if (!row) return;
    if (!selectedAccountInUse()) {
        CmmObj->MsgBox(kStopped);
        return;
    }
    if (!row->CanDelete()) {
        CmmObj->MsgBox(row->ErrorText);
        return;
    }
    if (!FrmCashGlideAdd) FrmCashGlideAdd = new TFrmCashGlideAdd(nullptr, tableName());
    DialogRelease release;
    QString caption = dialogCaption(Capation_Flag, false);
    if (!caption.isEmpty()) FrmCashGlideAdd->setWindowTitle(caption);
    row->OperFlag = "1";
    FrmCashGlideAdd->CaGlide()->CopyFrom(*row);
    FrmCashGlideAdd->EditMode = "1";
    FrmCashGlideAdd->BtSave->setVisible(false);
    FrmCashGlideAdd->RowSaved = redrawAfterSave(*this);
    ShowModal(*FrmCashGlideAdd);
    traceCursor("修改");
}

void TFrmCashGlide::TBtnDeleteClick() {
    TCaGlide* row = entryUnderCursor(*this);
    if (!row) return;
    if (!selectedAccountInUse()) {
        CmmObj->MsgBox(kStopped);
        return;
    }
    if (CmmObj->AppMsg("确定要删除吗？") != 1) return;
    // The cursor goes to the journal row after the deleted one, else the one
    // before it.
    std::int64_t next = 0, previous = 0;
    const int at = Cell->GetCurrentRow() - kFirstDataRow;
    for (int i = at + 1; next == 0 && i < CaGlideMng()->GetCount(); ++i)
        next = CaGlideMng()->GetDetails(i)->Id;
    for (int i = at - 1; previous == 0 && i >= 0; --i) previous = CaGlideMng()->GetDetails(i)->Id;
    row->OperFlag = "2";
    if (row->Delete(true)) {
        keepCursorOn(next, previous);
        RebuildGrid();
        focusGrid("删除");
    } else {
        CmmObj->MsgError(row->ErrorText, "", "", "");
    }
}

void TFrmCashGlide::tbtnHistoryClick() {
    TCaGlide* row = entryUnderCursor(*this);
    if (!row) return;
    TFrmGlideHistory view(this, DBManage->Db(), tableName(), row->Id,
                          QStringLiteral("统一号 %1").arg(QString::fromStdString(row->DateOrNo)));
    ShowModal(view);
}

void TFrmCashGlide::tbtn_viewVoucherClick() {
    TCaGlide* row = entryUnderCursor(*this);
    if (!row) return;
    if (row->VoucherClass > 0 && !row->Voucher_ID.empty()) {
        TfrmVoucherView view(this, row->SetCode, row->Voucher_ID);
        ShowModal(view);
    }
}

void TFrmCashGlide::Tlbn_OdersetClick() {
    TFrm_OrderSet dialog(nullptr);
    dialog.OrderMng = orderMng_.get();
    ShowModal(dialog);
}
