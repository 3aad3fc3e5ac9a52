#include "Unt_OrderSet.h"

#include <QShowEvent>

#include "Guard.h"
#include "Seams.h"
#include "ui_Frm_OrderSet.h"

using namespace ledgerhost;

TFrm_OrderSet::TFrm_OrderSet(QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::Frm_OrderSet>()) {
    ui_->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    lstbItem = ui_->lstbItem;
    btnUp = ui_->btnUp;
    btnDown = ui_->btnDown;
    btnOk = ui_->btnOk;
    btnCancel = ui_->btnCancel;
    connect(btnUp, &QToolButton::clicked, this,
            guardedSlot(this, "上移", &TFrm_OrderSet::btnUpClick));
    connect(btnDown, &QToolButton::clicked, this,
            guardedSlot(this, "下移", &TFrm_OrderSet::btnDownClick));
    connect(btnOk, &QPushButton::clicked, this,
            guardedSlot(this, "保存排序", &TFrm_OrderSet::btnOkClick));
    connect(btnCancel, &QPushButton::clicked, this,
            guardedSlot(this, "取消", &TFrm_OrderSet::btnCancelClick));
}

TFrm_OrderSet::~TFrm_OrderSet() = default;

void TFrm_OrderSet::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!e->spontaneous()) guarded(this, "显示排序设置", [this] { FormShow(); });
}

void TFrm_OrderSet::FormShow() {
    if (!OrderMng) return;
    OrderMng->Getcount();
    QStringList lines;
    for (int i = 0; i < lstbItem->count(); ++i) lines << lstbItem->item(i)->text();
    OrderMng->Assignto(lines);
    lstbItem->clear();
    lstbItem->addItems(lines);
    lstbItem->setCurrentRow(-1);
    lstbItem->clearSelection();
}

void TFrm_OrderSet::exchange(int a, int b) {
    QString ta = lstbItem->item(a)->text();
    lstbItem->item(a)->setText(lstbItem->item(b)->text());
    lstbItem->item(b)->setText(ta);
    OrderMng->Exchange(a, b);
}

void TFrm_OrderSet::btnUpClick() {
    int k = lstbItem->currentRow();
    if (k <= 0 || !lstbItem->item(k)->isSelected()) return;
    exchange(k, k - 1);
    lstbItem->setCurrentRow(k - 1);  // the moved item stays selected
}

void TFrm_OrderSet::btnDownClick() {
    int k = lstbItem->currentRow();
    if (k < 0 || k >= lstbItem->count() - 1 || !lstbItem->item(k)->isSelected()) return;
    exchange(k, k + 1);
    lstbItem->setCurrentRow(k + 1);
}

void TFrm_OrderSet::btnOkClick() {
    OrderMng->save();
    done(mrOk);
}

void TFrm_OrderSet::btnCancelClick() {
    done(mrCancel);
}
