#include "untImportWizardForm.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>

#include "Guard.h"
#include "Trim.h"
#include "ui_FrmImportWizard.h"
#include "untColumnMapingForm.h"

using namespace ledgerhost;

namespace {

const char* const kCaption = "提示";

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

const char* const TfrmImportWizard::WizardHints[2] = {
    "选择文件，选择要导入的数据文件\r\n"
    "注意：Excel文件第一行为列说明，文本文件以半角逗号为分隔符。",
    "映射字段，设置文件和数据字段之间的映射关系。",
};

TfrmImportWizard::TfrmImportWizard(QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::FrmImportWizard>()) {
    ui_->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    mmoWizard = ui_->mmoWizard;
    grpbWizard = ui_->grpbWizard;
    pgcWizard = ui_->pgcWizard;
    TabSheet4 = ui_->TabSheet4;
    TabSheet5 = ui_->TabSheet5;
    edtFile = ui_->edtFile;
    btnLoad = ui_->btnLoad;
    lstvMaping = ui_->lstvMaping;
    btnMaping = ui_->btnMaping;
    btnClear = ui_->btnClear;
    btnPrev = ui_->btnPrev;
    btnNext = ui_->btnNext;
    btnClose = ui_->btnClose;

    // The hint: green text on the face colour, like a caption rather than an edit.
    QPalette p = mmoWizard->palette();
    p.setColor(QPalette::Base, palette().color(QPalette::Window));
    p.setColor(QPalette::Text, QColor(0, 128, 0));
    mmoWizard->setPalette(p);
    lstvMaping->header()->setSectionResizeMode(QHeaderView::Fixed);
    lstvMaping->header()->setSectionsMovable(false);
    lstvMaping->setColumnWidth(0, 200);
    lstvMaping->setColumnWidth(1, 200);

    odlgImport.filter = QStringLiteral(
        "Excel文件(*.xls)|*.xls|Excel 2007文件(*.xlsx)|*.xlsx|文本文件(*.csv;*.txt)|*.csv;*.txt|"
        "所有文件(*.*)|*.*");
    odlgImport.defaultExt = QStringLiteral("xls");

    connect(btnLoad, &QPushButton::clicked, this,
            guardedSlot(this, "读取文件", &TfrmImportWizard::btnLoadClick));
    connect(btnPrev, &QPushButton::clicked, this,
            guardedSlot(this, "上一步", &TfrmImportWizard::btnPrevClick));
    connect(btnNext, &QPushButton::clicked, this,
            guardedSlot(this, "下一步", &TfrmImportWizard::btnNextClick));
    connect(btnClose, &QPushButton::clicked, this,
            guardedSlot(this, "关闭", &TfrmImportWizard::btnCloseClick));
    connect(btnMaping, &QPushButton::clicked, this,
            guardedSlot(this, "设置对应列", &TfrmImportWizard::btnMapingClick));
    connect(btnClear, &QPushButton::clicked, this,
            guardedSlot(this, "清除对应", &TfrmImportWizard::btnClearClick));
    connect(lstvMaping, &QTreeWidget::itemDoubleClicked, this,
            guardedSlot(this, "设置对应列", &TfrmImportWizard::btnMapingClick));
    // Enter in the field list maps the field under the cursor (rather than
    // pressing the default button "完成").
    lstvMaping->installEventFilter(this);
    FormCreate();
}

TfrmImportWizard::~TfrmImportWizard() = default;

void TfrmImportWizard::FormCreate() {
    pgcWizard->tabBar()->hide();
    // The page control hands the focus to its tab bar, which is hidden: Tab
    // would stop there for good. Tab goes through the pages' controls instead.
    pgcWizard->setFocusProxy(nullptr);
    pgcWizard->setFocusPolicy(Qt::NoFocus);
    pgcWizard->tabBar()->setFocusPolicy(Qt::NoFocus);
    ShowPage(0);
    // The first thing to do is name the file: the wizard opens there.
    edtFile->setFocus(Qt::OtherFocusReason);
}

std::string TfrmImportWizard::fileName() const {
    return ledgerhost::trimControls(edtFile->text().toStdString());
}

QTreeWidgetItem* TfrmImportWizard::selectedRow() const {
    const auto rows = lstvMaping->selectedItems();
    return rows.isEmpty() ? nullptr : rows.front();
}

void TfrmImportWizard::ShowPage(int index) {
    // The file is read afresh every time the mapping page is entered, before
    // the page changes: a file that cannot be read keeps the wizard on page 1
    // and leaves nothing of an earlier file to import.
    if (index == 1 && Convert) Convert->SetFileName(fileName());
    pgcWizard->setCurrentIndex(index);
    grpbWizard->setTitle(pgcWizard->tabText(index));
    mmoWizard->setPlainText(q(WizardHints[index]));
    btnPrev->setEnabled(index > 0);
    btnNext->setText(index == pgcWizard->count() - 1 ? QStringLiteral("完成(&F)")
                                                     : QStringLiteral("下一步(&N)"));
    ProcessMessages();
    if (index == 1 && Convert) RefreshMapingList();
    // On the mapping page the keys work in the field list: the arrows choose
    // a field and Enter maps it.
    if (index == 1) lstvMaping->setFocus(Qt::OtherFocusReason);
}

void TfrmImportWizard::RefreshMapingList() {
    lstvMaping->clear();
    if (!Convert) return;
    for (const TColumnMap& m : Convert->ColumnMaps)
        new QTreeWidgetItem(lstvMaping, {q(m.FieldCaption), q(m.FileColumn)});
}

bool TfrmImportWizard::CheckPage() {
    if (pgcWizard->currentIndex() != 0) return true;
    QFileInfo file(QString::fromStdString(fileName()));
    if (fileName().empty() || !file.exists() || !file.isFile()) {
        MessageBoxA(this, "文件不存在", kCaption, MB_ICONWARNING);
        edtFile->setFocus();
        return false;
    }
    return true;
}

void TfrmImportWizard::btnLoadClick() {
    if (auto chosen = OpenFileDialog(this, odlgImport)) edtFile->setText(*chosen);
}

void TfrmImportWizard::btnPrevClick() {
    if (pgcWizard->currentIndex() > 0) ShowPage(pgcWizard->currentIndex() - 1);
}

void TfrmImportWizard::btnNextClick() {
    if (!CheckPage()) return;
    try {
        const int current = pgcWizard->currentIndex();
        if (current < pgcWizard->count() - 1) {
            ShowPage(current + 1);
            return;
        }
        if (MessageBoxA(this, "导入数据可能造成重复、或者覆盖原来数据，确实要导入吗？", kCaption,
                        MB_ICONQUESTION | MB_YESNO) != IDYES)
            return;
        if (Convert) {
            // Only the file whose path is shown and whose columns were read.
            if (Convert->FileName().empty() || Convert->FileName() != fileName()) {
                MessageBoxA(this, "要导入的文件已经改变，请返回上一步重新读取文件。", kCaption,
                            MB_ICONWARNING);
                return;
            }
            Convert->ImportData();
        }
        done(mrOk);
    } catch (const ImportDeclinedError&) {
        // Declined when asked about a file imported before: nothing stored.
    } catch (const std::exception& e) {
        MessageBoxA(this, std::string("导入数据出错。错误信息：") + e.what(), kCaption,
                    MB_ICONERROR);
    }
}

bool TfrmImportWizard::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lstvMaping && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) &&
            (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            guarded(this, "设置对应列", [this] {
                // The row the keyboard is on counts as chosen.
                if (!selectedRow() && lstvMaping->currentItem())
                    lstvMaping->currentItem()->setSelected(true);
                btnMapingClick();
            });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmImportWizard::btnCloseClick() {
    done(mrCancel);
}

void TfrmImportWizard::reject() {
    done(mrCancel);
}

void TfrmImportWizard::btnMapingClick() {
    QTreeWidgetItem* row = selectedRow();
    if (!row) {
        MessageBoxA(this, "请选择一个字段。", kCaption, MB_ICONQUESTION | MB_OK);
        return;
    }
    if (!Convert) return;
    const int index = lstvMaping->indexOfTopLevelItem(row);
    TfrmColumnMaping picker(this);
    picker.FileColumns = &Convert->GetFileColumnCaptions();
    picker.FieldCaption = row->text(0).toStdString();
    picker.FileColumn = row->text(1).toStdString();
    if (index >= 0 && index < static_cast<int>(Convert->ColumnMaps.size()))
        picker.FileColumnIndex =
            Convert->ColumnMaps[static_cast<std::size_t>(index)].FileColumnIndex;
    if (ShowModal(picker) != mrOk) return;
    row->setText(1, q(picker.FileColumn));
    if (index >= 0 && index < static_cast<int>(Convert->ColumnMaps.size())) {
        TColumnMap& m = Convert->ColumnMaps[static_cast<std::size_t>(index)];
        m.FileColumn = picker.FileColumn;
        m.FileColumnIndex = picker.FileColumnIndex;
    }
}

void TfrmImportWizard::btnClearClick() {
    QTreeWidgetItem* row = selectedRow();
    if (!row || row->text(1).isEmpty() || !Convert) return;
    const int index = lstvMaping->indexOfTopLevelItem(row);
    if (index >= 0 && index < static_cast<int>(Convert->ColumnMaps.size())) {
        Convert->ColumnMaps[static_cast<std::size_t>(index)].FileColumn.clear();
        Convert->ColumnMaps[static_cast<std::size_t>(index)].FileColumnIndex = -1;
    }
    row->setText(1, QString());
}
