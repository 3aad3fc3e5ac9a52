#include "BaseForms.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QStandardPaths>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <vector>

#include "Cell.h"
#include "Guard.h"
#include "ReportOutput.h"
#include "Seams.h"

namespace ledgerhost {

QIcon toolIcon(int imageIndex) {
    QStyle* s = QApplication::style();
    switch (imageIndex) {
        case 0:
            return s->standardIcon(QStyle::SP_FileIcon);
        case 1:
            return s->standardIcon(QStyle::SP_TrashIcon);
        case 2:
            return s->standardIcon(QStyle::SP_DialogCloseButton);
        case 3:
            return s->standardIcon(QStyle::SP_FileDialogContentsView);
        case 4:
            return s->standardIcon(QStyle::SP_FileDialogDetailedView);
        case 5:
            return s->standardIcon(QStyle::SP_FileDialogInfoView);
        case 6:
            return s->standardIcon(QStyle::SP_ArrowDown);
        case 7:
            return s->standardIcon(QStyle::SP_DialogSaveButton);
        case 8:
            return s->standardIcon(QStyle::SP_ComputerIcon);
        case 9:
            return s->standardIcon(QStyle::SP_DriveFDIcon);
        case 17:
            return s->standardIcon(QStyle::SP_FileDialogDetailedView);
        case 20:
            return s->standardIcon(QStyle::SP_ArrowUp);
        default:
            return s->standardIcon(QStyle::SP_FileIcon);
    }
}

TToolBar::TToolBar(QWidget* parent) : QFrame(parent) {
    setFixedHeight(49);
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    more_ = new QToolButton(this);
    more_->setObjectName(QStringLiteral("tbtnMore"));
    more_->setText(QStringLiteral("»"));
    more_->setToolTip(QStringLiteral("更多命令"));
    more_->setAutoRaise(true);
    more_->setPopupMode(QToolButton::InstantPopup);
    more_->setMenu(new QMenu(more_));
    more_->hide();
}

void TToolBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    relayout();
}

QToolButton* TToolBar::addButton(const QString& name, const QString& caption, int imageIndex,
                                 int width) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(caption);
    b->setIcon(toolIcon(imageIndex));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    place(b, width);
    return b;
}

QWidget* TToolBar::addSeparator(const QString& name, int width) {
    auto* w = new QFrame(this);
    w->setObjectName(name);
    w->setFrameShape(QFrame::VLine);
    w->setFrameShadow(QFrame::Sunken);
    place(w, width);
    return w;
}

void TToolBar::place(QWidget* w, int width) {
    items_.emplace_back(w, width);
    w->installEventFilter(this);
    relayout();
}

void TToolBar::relayout() {
    int total = 0;
    for (auto [w, width] : items_)
        if (!w->isHidden()) total += width;
    constexpr int kMoreWidth = 24;
    // Before the bar has a size of its own (never shown) everything fits.
    const bool narrow = width() > kMoreWidth && total > width();
    const int room = narrow ? width() - kMoreWidth : total;
    QMenu* menu = more_->menu();
    menu->clear();
    int left = 0;
    for (auto [w, width] : items_) {
        if (w->isHidden()) continue;
        bool separator = qobject_cast<QToolButton*>(w) == nullptr;
        if (left + width <= room) {
            w->setGeometry(left, separator ? 6 : 1, width, separator ? 36 : 46);
        } else {
            // Out of sight but still there: its accelerator keeps working and
            // the overflow menu offers it.
            w->setGeometry(this->width() + 10, 1, width, 46);
            if (auto* b = qobject_cast<QToolButton*>(w)) {
                QAction* a = menu->addAction(b->icon(), b->text());
                a->setEnabled(b->isEnabled());
                if (b->menu())
                    a->setMenu(b->menu());
                else
                    connect(a, &QAction::triggered, b, [b] {
                        try {
                            b->click();
                        } catch (const std::exception& e) {
                            MessageBoxA(commandOwner(), e.what(), "错误", MB_OK | MB_ICONERROR);
                        } catch (...) {
                            MessageBoxA(commandOwner(), "发生未知错误。", "错误",
                                        MB_OK | MB_ICONERROR);
                        }
                    });
            } else if (!menu->isEmpty()) {
                menu->addSeparator();
            }
        }
        left += width;
    }
    more_->setVisible(narrow);
    if (narrow) {
        more_->setGeometry(width() - kMoreWidth, 1, kMoreWidth, 46);
        more_->raise();
    }
}

bool TToolBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)
        guarded(this, "排列工具栏", [this] { relayout(); });
    return QFrame::eventFilter(watched, event);
}

TfrmBaseAssRpt::TfrmBaseAssRpt(QWidget* owner) : QWidget(owner, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);

    tlbAssSumRpt = new TToolBar(this);
    tlbAssSumRpt->setObjectName(QStringLiteral("tlbAssSumRpt"));
    tbtnClose = tlbAssSumRpt->addButton(QStringLiteral("tbtnClose"), QStringLiteral("退出&X"), 2);
    ToolButton5 = tlbAssSumRpt->addSeparator(QStringLiteral("ToolButton5"));
    tbtnSet = tlbAssSumRpt->addButton(QStringLiteral("tbtnSet"), QStringLiteral("查询&Q"), 3);
    tbtnPrivew = tlbAssSumRpt->addButton(QStringLiteral("tbtnPrivew"), QStringLiteral("预览&V"), 4);
    tbtnPrint = tlbAssSumRpt->addButton(QStringLiteral("tbtnPrint"), QStringLiteral("打印&P"), 8);
    tbtnPageSetup =
        tlbAssSumRpt->addButton(QStringLiteral("tbtnPageSetup"), QStringLiteral("页面设置"), 9);
    tbtnPrintSetup =
        tlbAssSumRpt->addButton(QStringLiteral("tbtnPrintSetup"), QStringLiteral("打印设置"), 8);
    ToolButton3 = tlbAssSumRpt->addSeparator(QStringLiteral("ToolButton3"));
    tbtnExport = tlbAssSumRpt->addButton(QStringLiteral("tbtnExport"), QStringLiteral("导出&O"), 7);
    layout_->addWidget(tlbAssSumRpt);

    pnlDetail = new QFrame(this);
    pnlDetail->setObjectName(QStringLiteral("pnlDetail"));
    auto* detail = new QVBoxLayout(pnlDetail);
    detail->setContentsMargins(0, 0, 0, 0);
    Cell = new TCell(pnlDetail);
    detail->addWidget(Cell);
    layout_->addWidget(pnlDetail, 1);

    connect(tbtnClose, &QToolButton::clicked, this,
            guardedSlot(this, "退出", &TfrmBaseAssRpt::tbtnCloseClick));
    connect(tbtnPrivew, &QToolButton::clicked, this,
            guardedSlot(this, "预览", &TfrmBaseAssRpt::tbtnPrivewClick));
    connect(tbtnPrint, &QToolButton::clicked, this,
            guardedSlot(this, "打印", &TfrmBaseAssRpt::tbtnPrintClick));
    connect(tbtnPageSetup, &QToolButton::clicked, this,
            guardedSlot(this, "页面设置", &TfrmBaseAssRpt::tbtnPageSetupClick));
    connect(tbtnPrintSetup, &QToolButton::clicked, this,
            guardedSlot(this, "打印设置", &TfrmBaseAssRpt::tbtnPrintSetupClick));
    connect(tbtnExport, &QToolButton::clicked, this,
            guardedSlot(this, "导出", &TfrmBaseAssRpt::tbtnExportClick));
    noteCommandWindow(this);
}

TfrmBaseAssRpt::~TfrmBaseAssRpt() = default;

bool TfrmBaseAssRpt::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) noteCommandWindow(this);
    return QWidget::event(e);
}

void TfrmBaseAssRpt::insertPanel(QWidget* panel) {
    layout_->insertWidget(1, panel);
}

QPrinter& TfrmBaseAssRpt::printer() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        // An exported PDF gets this printer's page, so that preview, print
        // and PDF break their pages alike, also after a page set-up.
        printer_->setPageLayout(reportPageLayout());
    }
    return *printer_;
}

void TfrmBaseAssRpt::BuildFormat() {
    SheetModel* m = Cell->sheet();
    int cols = m->columnCount();
    int rows = m->rowCount();
    m->titleRow = rows >= 1 ? 1 : 0;
    m->titleFont = font();
    m->titleFont.setPointSizeF(font().pointSizeF() * 1.6);
    m->titleFont.setBold(true);
    if (rows >= 1 && cols > 1) {
        bool merged = false;
        for (const auto& s : m->spans) merged |= s.row == 1 && s.col == 1 && s.cols == cols;
        if (!merged) Cell->MergeCells(1, 1, cols, 1);
    }
    if (rows >= 1) Cell->setRowHeight(0, 36);
    // Widths from the content of the heading rows and a sample of the rest.
    // Only the few texts likeliest to be widest are measured (a character
    // outside Latin-1, CJK above all, counting as two): measuring every
    // sampled text would cost more than filling the grid.
    QFontMetrics fm(font());
    int sample = std::min(rows, 400);
    auto likelyWidth = [](const QString& t) {
        int w = 0;
        for (QChar ch : t) w += ch.unicode() < 0x100 ? 1 : 2;
        return w;
    };
    constexpr std::size_t kMeasured = 4;
    for (int c = 1; c <= cols; ++c) {
        std::vector<std::pair<int, QString>> widest;  // at most kMeasured distinct texts
        for (int r = 2; r <= sample; ++r) {
            bool spanned = false;
            for (const auto& s : m->spans)
                spanned |= s.row <= r && r < s.row + s.rows && s.cols > 1 && s.col <= c &&
                           c < s.col + s.cols;
            if (spanned) continue;
            QString text = m->displayText(c, r);
            const int lw = likelyWidth(text);
            auto least = std::min_element(widest.begin(), widest.end());
            if (widest.size() == kMeasured && lw <= least->first) continue;
            if (std::any_of(widest.begin(), widest.end(),
                            [&](const auto& e) { return e.first == lw && e.second == text; }))
                continue;
            if (widest.size() < kMeasured)
                widest.emplace_back(lw, std::move(text));
            else
                *least = {lw, std::move(text)};
        }
        int w = 36;
        for (const auto& e : widest) w = std::max(w, fm.horizontalAdvance(e.second) + 14);
        Cell->setColumnWidth(c - 1, std::min(w, 320));
    }
}

void TfrmBaseAssRpt::tbtnCloseClick() {
    close();
}

void TfrmBaseAssRpt::tbtnPrivewClick() {
    QPrintPreviewDialog dlg(&printer(), this);
    dlg.setWindowTitle(QStringLiteral("打印预览"));
    connect(&dlg, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) {
        guarded(this, "预览", [&] { printSheet(*Cell->sheet(), *p, windowTitle()); });
    });
    // A report is read down its rows: the preview opens as large as the
    // report window, at the page's width (through the dialog's own action,
    // so that its tool bar agrees).
    dlg.resize(size().expandedTo(QSize(800, 600)));
    if (auto* fitWidth = dlg.findChild<QAction*>(QStringLiteral("fitWidthAction")))
        fitWidth->trigger();
    else if (auto* view = dlg.findChild<QPrintPreviewWidget*>())
        view->fitToWidth();
    ShowModal(dlg);
}

void TfrmBaseAssRpt::tbtnPrintClick() {
    QPrintDialog dlg(&printer(), this);
    if (ShowModal(dlg) == QDialog::Accepted) printSheet(*Cell->sheet(), printer(), windowTitle());
}

void TfrmBaseAssRpt::tbtnPageSetupClick() {
    QPageSetupDialog dlg(&printer(), this);
    ShowModal(dlg);
}

void TfrmBaseAssRpt::tbtnPrintSetupClick() {
    QPrintDialog dlg(&printer(), this);
    dlg.setOption(QAbstractPrintDialog::PrintToFile, true);
    ShowModal(dlg);
}

QString TfrmBaseAssRpt::ExportFileName() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    QString name = windowTitle();
    name.replace('/', '_');
    return QDir(folder).filePath(name + QStringLiteral(".xlsx"));
}

void TfrmBaseAssRpt::tbtnExportClick() {
    seams::FileRequest req;
    req.title = QStringLiteral("导出");
    req.filter =
        QStringLiteral("Excel 工作簿(*.xlsx)|*.xlsx|CSV 文件(*.csv)|*.csv|PDF 文件(*.pdf)|*.pdf");
    req.defaultExt = QStringLiteral("xlsx");
    req.initialDir = ExportFileName();
    req.save = true;
    auto path = OpenFileDialog(this, req);
    if (!path) return;
    QString file = *path;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".xlsx");
    QString error;
    if (exportSheet(*Cell->sheet(), file, &error, printer().pageLayout()))
        MessageBoxA(this, "已导出到 " + file.toStdString(), "提示", MB_OK | MB_ICONINFORMATION);
    else
        MessageBoxA(this, "导出失败：" + error.toStdString(), "提示", MB_OK | MB_ICONERROR);
}

TfrmAccBase::TfrmAccBase(QWidget* owner) : QDialog(owner) {}

void TfrmAccBase::reject() {
    done(mrCancel);
}

void TfrmAccBase::keyPressEvent(QKeyEvent* k) {
    QWidget* f = focusWidget();
    if (EnterAsTab && (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) &&
        k->modifiers() == Qt::NoModifier &&
        (qobject_cast<QLineEdit*>(f) || qobject_cast<QComboBox*>(f) ||
         qobject_cast<QAbstractSpinBox*>(f))) {
        focusNextChild();
        return;
    }
    QDialog::keyPressEvent(k);
}

}  // namespace ledgerhost
