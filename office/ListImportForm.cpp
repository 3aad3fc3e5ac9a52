#include "ListImportForm.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>

#include "BaseData.h"
#include "Guard.h"
#include "Seams.h"
#include "ui_FrmListImport.h"

using namespace ledgerhost;

namespace office {

namespace {

const char* const kCaption = "从文件导入";

}  // namespace

TFrmListImport::TFrmListImport(QWidget* owner, Database& db, const std::string& actor,
                               const std::string& kind, const std::string& setCode)
    : QDialog(owner), ui(std::make_unique<Ui::FrmListImport>()), convert(db, actor, kind, setCode) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    const std::string what =
        kind == kAccountList ? "账套 " + setCode + " 的账户" : baseKindName(kind);
    ui->lblWhat->setText(
        QStringLiteral("导入%1：Excel 文件（.xlsx、.xls）第一行为列说明，文本文件以半角逗号分隔。"
                       "整个文件都无误才导入，否则什么都不导入。")
            .arg(QString::fromStdString(what)));
    ui->tblMap->setColumnCount(2);
    ui->tblMap->setHorizontalHeaderLabels({QStringLiteral("字段"), QStringLiteral("文件列")});
    ui->tblMap->verticalHeader()->hide();
    ui->tblMap->horizontalHeader()->setStretchLastSection(true);
    connect(ui->btnBrowse, &QPushButton::clicked, this,
            guardedSlot(this, "浏览", &TFrmListImport::Browse));
    connect(ui->btnRead, &QPushButton::clicked, this,
            guardedSlot(this, "读取列", &TFrmListImport::ReadColumns));
    ui->tblMap->installEventFilter(this);
    showMapping();
    ui->edtFile->setFocus();
}

bool TFrmListImport::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui->tblMap || event->type() != QEvent::KeyPress) return false;
    bool handled = false;
    guarded(this, "选择文件列", [&] {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool opens = key->key() == Qt::Key_F4 ||
                           (key->key() == Qt::Key_Down && key->modifiers() & Qt::AltModifier);
        const int row = std::max(0, ui->tblMap->currentRow());
        if (!opens || row >= ui->tblMap->rowCount()) return;
        auto* box = static_cast<QComboBox*>(ui->tblMap->cellWidget(row, 1));
        box->setFocus(Qt::OtherFocusReason);
        box->showPopup();
        handled = true;
    });
    return handled;
}

TFrmListImport::~TFrmListImport() = default;

void TFrmListImport::Browse() {
    seams::FileRequest r;
    r.title = QStringLiteral("选择要导入的文件");
    r.filter = QStringLiteral(
        "Excel "
        "文件(*.xlsx;*.xls)|*.xlsx;*.xls|文本文件(*.csv;*.txt)|*.csv;*.txt|所有文件(*.*)|*.*");
    if (auto chosen = OpenFileDialog(this, r)) {
        ui->edtFile->setText(*chosen);
        ReadColumns();
    }
}

void TFrmListImport::ReadColumns() {
    try {
        convert.SetFileName(ui->edtFile->text().trimmed().toStdString());
    } catch (const UserError& e) {
        MessageBoxA(this, e.what(), kCaption, MB_OK | MB_ICONWARNING);
        return;
    }
    showMapping();
    ui->tblMap->setCurrentCell(0, 0);
    ui->tblMap->setFocus();
}

// One row per field, its file column chosen in a drop-down list.
void TFrmListImport::showMapping() {
    ui->tblMap->setRowCount(static_cast<int>(convert.ColumnMaps.size()));
    for (int r = 0; r < static_cast<int>(convert.ColumnMaps.size()); ++r) {
        const TColumnMap& m = convert.ColumnMaps[r];
        ui->tblMap->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(m.FieldCaption)));
        auto* box = new QComboBox(ui->tblMap);
        box->addItem(QString());
        for (const std::string& c : convert.GetFileColumnCaptions())
            box->addItem(QString::fromStdString(c));
        int column = m.FileColumnIndex;
        // Unmapped: the first column whose caption holds the field's ("单位编码"
        // for 编码), as a start the user may change.
        const auto& captions = convert.GetFileColumnCaptions();
        for (int c = 0; column < 0 && c < static_cast<int>(captions.size()); ++c)
            if (captions[c].find(m.FieldCaption) != std::string::npos) column = c;
        box->setCurrentIndex(column + 1);
        ui->tblMap->setCellWidget(r, 1, box);
    }
    ui->tblMap->resizeColumnToContents(0);
}

void TFrmListImport::accept() {
    guarded(this, "导入", [&] {
        if (convert.FileName().empty() ||
            convert.FileName() != ui->edtFile->text().trimmed().toStdString()) {
            MessageBoxA(this, "请先读取文件的列。", kCaption, MB_OK | MB_ICONWARNING);
            return;
        }
        for (int r = 0; r < ui->tblMap->rowCount(); ++r) {
            auto* box = static_cast<QComboBox*>(ui->tblMap->cellWidget(r, 1));
            TColumnMap& m = convert.ColumnMaps[r];
            m.FileColumnIndex = box->currentIndex() - 1;
            m.FileColumn = box->currentText().toStdString();
        }
        try {
            convert.ImportData();
        } catch (const UserError& e) {
            MessageBoxA(this, std::string("导入数据出错。错误信息：") + e.what(), kCaption,
                        MB_OK | MB_ICONERROR);
            return;
        }
        MessageBoxA(this, "已导入 " + std::to_string(convert.ImportedRows) + " 条。", kCaption,
                    MB_OK | MB_ICONINFORMATION);
        QDialog::accept();
    });
}

}  // namespace office
