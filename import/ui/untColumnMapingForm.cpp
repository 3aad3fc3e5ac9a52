#include "untColumnMapingForm.h"

#include <QShowEvent>

#include "Guard.h"
#include "Seams.h"
#include "ui_FrmColumnMaping.h"

using namespace ledgerhost;

TfrmColumnMaping::TfrmColumnMaping(QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::FrmColumnMaping>()) {
    ui_->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    lblColumn = ui_->lblColumn;
    cmbColumn = ui_->cmbColumn;
    btnOk = ui_->btnOk;
    btnCancel = ui_->btnCancel;
    connect(btnOk, &QPushButton::clicked, this,
            guardedSlot(this, "设置对应列", &TfrmColumnMaping::btnOkClick));
    connect(btnCancel, &QPushButton::clicked, this,
            guardedSlot(this, "取消", &TfrmColumnMaping::btnCancelClick));
}

TfrmColumnMaping::~TfrmColumnMaping() = default;

void TfrmColumnMaping::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!e->spontaneous()) guarded(this, "显示对应列", [this] { FormShow(); });
}

// Offers the file's columns with the current one selected; when the current
// one is not among them (or there is none), nothing is selected.
void TfrmColumnMaping::FormShow() {
    cmbColumn->clear();
    int selected = -1;
    if (FileColumns) {
        for (std::size_t i = 0; i < FileColumns->size(); ++i) {
            const std::string& c = (*FileColumns)[i];
            cmbColumn->addItem(QString::fromStdString(c));
            if (c == FileColumn && selected < 0) selected = static_cast<int>(i);
        }
        if (FileColumnIndex >= 0 && FileColumnIndex < static_cast<int>(FileColumns->size()) &&
            (*FileColumns)[static_cast<std::size_t>(FileColumnIndex)] == FileColumn)
            selected = FileColumnIndex;
    }
    cmbColumn->setCurrentIndex(selected);
    lblColumn->setText(QString::fromStdString(FieldCaption));
}

void TfrmColumnMaping::btnOkClick() {
    if (cmbColumn->currentIndex() < 0) {
        MessageBoxA(this, "请选择映射字段。", "提示", MB_ICONWARNING);
        return;
    }
    FileColumn = cmbColumn->currentText().toStdString();
    FileColumnIndex = cmbColumn->currentIndex();
    done(mrOk);
}

void TfrmColumnMaping::btnCancelClick() {
    done(mrCancel);
}

void TfrmColumnMaping::reject() {
    done(mrCancel);
}
