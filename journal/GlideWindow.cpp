// How the journal window behaves around its commands: size and placement,
// keys and tab order, the grid's column widths, and what it remembers between
// sessions.
#include <QBoxLayout>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <cmath>
#include <exception>

#include "CommonObj.h"
#include "Unt_CashGlideForm.h"

using namespace ledgerhost;

namespace {

// Column indexes (0-based) of the grid.
constexpr int kUnitColumn = 3;
constexpr int kSummaryColumn = 7;
constexpr int kAmountColumns[] = {8, 9, 11};

// The filter panel keeps its designed layout; when the window is narrower
// than the panel it scrolls sideways instead of cutting controls off.
class PanelScroller final : public QScrollArea {
  public:
    explicit PanelScroller(QWidget* parent) : QScrollArea(parent) {
        setObjectName(QStringLiteral("scrPanel1"));
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setFocusPolicy(Qt::NoFocus);
    }
    void fit() {
        QWidget* w = widget();
        if (!w) return;
        const bool narrow = viewport()->width() < w->minimumWidth() || width() < w->minimumWidth();
        setFixedHeight(w->minimumHeight() +
                       (narrow ? horizontalScrollBar()->sizeHint().height() : 0));
    }

  protected:
    void resizeEvent(QResizeEvent* e) override {
        QScrollArea::resizeEvent(e);
        fit();
    }
};

// The text of a tool button without its "&" marker.
QString plainCaption(const QAbstractButton* b) {
    QString t = b->text();
    t.remove('&');
    return t;
}

// The settings group of a user's journal window of one kind.
QString settingsGroup(const std::string& user, std::int32_t kind) {
    return QStringLiteral("journal/%1/%2").arg(QString::fromStdString(user)).arg(kind);
}

}  // namespace

void TFrmCashGlide::setUpWindow() {
    // The account list is as wide as its longest item ("6222… 工商银行基本户");
    // what stands to its right on the same line moves over.
    {
        int widest = 0;
        for (int i = 0; i < CmbAs_Code->count(); ++i)
            widest = std::max(widest,
                              CmbAs_Code->fontMetrics().horizontalAdvance(CmbAs_Code->itemText(i)));
        const QRect at = CmbAs_Code->geometry();
        const int grow = widest + 36 - at.width();
        if (grow > 0) {
            for (QWidget* w : Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                const QRect g = w->geometry();
                if (w != CmbAs_Code && g.left() >= at.right() && g.top() < at.bottom() &&
                    g.bottom() > at.top())
                    w->move(g.left() + grow, g.top());
            }
            CmbAs_Code->resize(at.width() + grow, at.height());
        }
    }

    // The filter panel scrolls when the window is narrower than it.
    int right = 0, bottom = 0;
    for (QWidget* w : Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        right = std::max(right, w->geometry().right());
        bottom = std::max(bottom, w->geometry().bottom());
    }
    Panel1->setMinimumWidth(right + 10);
    auto* scroller = new PanelScroller(this);
    // insertPanel() put the panel under the tool bar; the scroller takes its place.
    if (auto* lay = qobject_cast<QBoxLayout*>(layout())) {
        const int at = lay->indexOf(Panel1);
        lay->removeWidget(Panel1);
        scroller->setWidget(Panel1);
        lay->insertWidget(at < 0 ? 1 : at, scroller);
    }
    scroller->fit();

    // Whole texts of the filter panel's lists are shown in their tool tips
    // and the drop-down lists are wide enough for them.
    for (QComboBox* c : {CMB_SetCode, CmbAs_Code, Cmb_ApplyUser}) {
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        connect(c, &QComboBox::currentTextChanged, c, [c](const QString& t) { c->setToolTip(t); });
        c->setToolTip(c->currentText());
        int widest = 0;
        for (int i = 0; i < c->count(); ++i)
            widest = std::max(widest, c->fontMetrics().horizontalAdvance(c->itemText(i)));
        c->view()->setMinimumWidth(widest + 40);
    }

    // Tool bar keys. Each command keeps its "&" accelerator and gains a
    // function-key or control-key shortcut; tool tips name both.
    struct Key {
        QToolButton* button;
        QKeySequence key;
        Qt::ShortcutContext context;
    };
    const Key keys[] = {
        {tbtnSet, QKeySequence(Qt::Key_F5), Qt::WindowShortcut},
        {TBtnNew, QKeySequence(Qt::CTRL | Qt::Key_N), Qt::WindowShortcut},
        {TBtnEdit, QKeySequence(Qt::CTRL | Qt::Key_E), Qt::WindowShortcut},
        {TBtnDelete, QKeySequence(Qt::Key_Delete), Qt::WidgetWithChildrenShortcut},
        {tbtn_viewVoucher, QKeySequence(Qt::Key_F6), Qt::WindowShortcut},
        {Tlbn_Oderset, QKeySequence(Qt::Key_F8), Qt::WindowShortcut},
        {tbtnPrivew, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), Qt::WindowShortcut},
        {tbtnPrint, QKeySequence(Qt::CTRL | Qt::Key_P), Qt::WindowShortcut},
        {tbtnExport, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), Qt::WindowShortcut},
        {tbtnPageSetup, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G), Qt::WindowShortcut},
        {tbtnPrintSetup, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), Qt::WindowShortcut},
        {tbtnOptionSet, QKeySequence(), Qt::WindowShortcut},
        {tbtnClose, QKeySequence(), Qt::WindowShortcut},
    };
    for (const Key& k : keys) {
        QStringList names;
        const QKeySequence mnemonic = QKeySequence::mnemonic(k.button->text());
        if (!mnemonic.isEmpty()) names << mnemonic.toString(QKeySequence::NativeText);
        if (!k.key.isEmpty()) {
            // Delete works in the grid only: in the filter panel's edits it
            // deletes text.
            QWidget* scope = k.context == Qt::WidgetWithChildrenShortcut
                                 ? static_cast<QWidget*>(Cell)
                                 : static_cast<QWidget*>(this);
            auto* s = new QShortcut(k.key, scope);
            s->setContext(k.context);
            QToolButton* b = k.button;
            // A hidden or disabled command stays out of reach from the keys too.
            connect(s, &QShortcut::activated, this, [b] {
                if (b->isVisibleTo(b->window()) && b->isEnabled()) b->click();
            });
            names << k.key.toString(QKeySequence::NativeText) +
                         (k.context == Qt::WidgetWithChildrenShortcut ? QStringLiteral("（表格中）")
                                                                      : QString());
        }
        k.button->setToolTip(names.isEmpty() ? plainCaption(k.button)
                                             : QStringLiteral("%1 (%2)").arg(plainCaption(k.button),
                                                                             names.join(", ")));
    }
    // The import menu's items: Ctrl+1 … Ctrl+4, reachable only while the
    // import button and the item are offered.
    int n = 0;
    for (QAction* a : {Mitm_Fileinput, Mitm_Vouinput, mniICBC, mniCCB}) {
        const QKeySequence key(Qt::CTRL | (Qt::Key_1 + n++));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WidgetShortcut);  // shown in the menu; the window's key below
        auto* s = new QShortcut(key, this);
        connect(s, &QShortcut::activated, this, [this, a] {
            if (tbtnOptionSet->isVisibleTo(this) && tbtnOptionSet->isEnabled() && a->isVisible() &&
                a->isEnabled())
                a->trigger();
        });
    }

    // Enter or a double-click on a journal row opens it.
    Cell->setTabKeyNavigation(false);
    Cell->installEventFilter(this);
    Cell->viewport()->installEventFilter(this);
    connect(Cell, &QAbstractItemView::doubleClicked, this, [this] { openRowUnderCursor(); });

    // Tab follows the filter panel as it reads, then the grid, then the tool bar.
    QList<QWidget*> order{
        CMB_SetCode,   CmbAs_Code,  Cmb_ApplyUser,  DTPBCreateDate,  DTPECreateDate,
        Edt_FirstNo,   Edt_EndNo,   Cmb_operSymble, EDT_FirstMonery, EDT_ENdMonery,
        Edt_summary,   Edt_PayCode, Cell,           tbtnClose,       tbtnSet,
        tbtnPrivew,    tbtnPrint,   tbtnPageSetup,  tbtnPrintSetup,  tbtnExport,
        tbtnOptionSet, TBtnNew,     TBtnEdit,       TBtnDelete,      tbtn_viewVoucher,
        Tlbn_Oderset};
    for (int i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
    // The window opens with the focus at the head of the filter panel.
    CMB_SetCode->setFocus(Qt::OtherFocusReason);

    // Size: it opens at 1280 x 760, or the screen's available area when that
    // is smaller, and may be narrowed down to 640 x 400.
    setMinimumSize(640, 400);
    QSize size(1280, 760);
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QSize avail = s->availableGeometry().size();
        if (avail.isValid() && !avail.isEmpty()) size = size.boundedTo(avail);
    }
    resize(size);
}

// Opens the row under the cursor: 修改 where rows are kept by hand, 查凭证
// where the rows are drawn from vouchers. Heading and summary rows open nothing.
void TFrmCashGlide::openRowUnderCursor() {
    try {
        TCaGlide* row = CaGlide();
        if (!row || isSummaryText(row->Summary)) return;
        QToolButton* command =
            TBtnEdit->isVisibleTo(this) && TBtnEdit->isEnabled() ? TBtnEdit : tbtn_viewVoucher;
        if (command->isVisibleTo(this) && command->isEnabled()) command->click();
    } catch (const std::exception& e) {
        CmmObj->MsgError(e.what());
    } catch (...) {
        CmmObj->MsgError("发生未知错误。");
    }
}

bool TFrmCashGlide::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Cell && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) &&
            (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            openRowUnderCursor();
            return true;
        }
    } else if (watched == Cell->viewport() && event->type() == QEvent::Resize) {
        spreadColumns();
    }
    return TfrmBaseAssRpt::eventFilter(watched, event);
}

// Widths from the content, then the amount columns widened to their widest
// value, remembered widths of the text columns, and the spare width of the
// window given to 摘要 and 单位名称.
void TFrmCashGlide::BuildFormat() {
    TfrmBaseAssRpt::BuildFormat();
    const int cols = Cell->GetCols();
    const int rows = Cell->GetRows();
    QFontMetrics fm(Cell->font());
    fittedWidths_.assign(static_cast<std::size_t>(cols), 0);
    for (int c = 0; c < cols; ++c)
        fittedWidths_[static_cast<std::size_t>(c)] = Cell->columnWidth(c);
    for (int c : kAmountColumns) {
        if (c >= cols) continue;
        // The widest amount is the one of largest magnitude; only it is measured.
        int widestRow = 0;
        double widest = -1;
        for (int r = 5; r <= rows; ++r) {
            const double v = std::fabs(Cell->GetCellDouble(c + 1, r));
            if (v > widest) {
                widest = v;
                widestRow = r;
            }
        }
        if (widestRow > 0) {
            int& w = fittedWidths_[static_cast<std::size_t>(c)];
            w = std::max(w, fm.horizontalAdvance(Cell->DisplayText(c + 1, widestRow)) + 24);
        }
    }
    // The account and date range over the amount columns (row 2) are read in full.
    if (cols >= 12) {
        const int needed = fm.horizontalAdvance(Cell->GetCellString(9, 2)) + 16;
        int have = 0;
        for (int c = 8; c < 12; ++c) have += fittedWidths_[static_cast<std::size_t>(c)];
        if (needed > have) {
            fittedWidths_[8] += (needed - have + 1) / 2;
            fittedWidths_[9] += (needed - have + 1) / 2;
        }
    }
    const QStringList saved =
        QSettings()
            .value(settingsGroup(User ? User->Code : std::string(), Capation_Flag) +
                   QStringLiteral("/columns"))
            .toStringList();
    for (int c = 0; c < cols && c < saved.size(); ++c) {
        bool isAmount = false;
        for (int a : kAmountColumns) isAmount |= a == c;
        const int w = saved[c].toInt();
        if (w > 0 && !isAmount && c != kSummaryColumn && c != kUnitColumn)
            fittedWidths_[static_cast<std::size_t>(c)] = w;
        else if (w > 0)
            fittedWidths_[static_cast<std::size_t>(c)] =
                std::max(fittedWidths_[static_cast<std::size_t>(c)], isAmount ? 0 : w);
    }
    spreadColumns();
}

void TFrmCashGlide::spreadColumns() {
    const int cols = std::min(Cell->GetCols(), static_cast<int>(fittedWidths_.size()));
    if (cols <= kSummaryColumn) return;
    int used = 0;
    for (int c = 0; c < cols; ++c) used += fittedWidths_[static_cast<std::size_t>(c)];
    const int spare = std::max(0, Cell->viewport()->width() - used - 2);
    for (int c = 0; c < cols; ++c) {
        int w = fittedWidths_[static_cast<std::size_t>(c)];
        if (c == kSummaryColumn) w += spare - spare * 2 / 5;
        if (c == kUnitColumn) w += spare * 2 / 5;
        Cell->setColumnWidth(c, w);
    }
}

void TFrmCashGlide::restoreWindowState() {
    QSettings settings;
    const QString group = settingsGroup(User ? User->Code : std::string(), Capation_Flag);
    const QByteArray geometry = settings.value(group + QStringLiteral("/geometry")).toByteArray();
    if (!geometry.isEmpty() && restoreGeometry(geometry))
        setProperty("ledgerGeometryRestored", true);
}

void TFrmCashGlide::saveWindowState() {
    QSettings settings;
    const QString group = settingsGroup(User ? User->Code : std::string(), Capation_Flag);
    settings.setValue(group + QStringLiteral("/geometry"), saveGeometry());
    QStringList widths;
    for (int c = 0; c < Cell->GetCols(); ++c) {
        // The spare width given to 摘要 and 单位名称 is not a choice of the user's.
        int w = Cell->columnWidth(c);
        if ((c == kSummaryColumn || c == kUnitColumn) && c < static_cast<int>(fittedWidths_.size()))
            w = std::min(w, fittedWidths_[static_cast<std::size_t>(c)]);
        widths << QString::number(w);
    }
    settings.setValue(group + QStringLiteral("/columns"), widths);
}

void TFrmCashGlide::closeEvent(QCloseEvent* event) {
    try {
        saveWindowState();
    } catch (...) {
        // Settings that cannot be written are no reason to keep the window open.
    }
    TfrmBaseAssRpt::closeEvent(event);
}

// "<账户名称> <起>-<止>.xlsx" in the user's documents folder.
QString TFrmCashGlide::ExportFileName() {
    const TCaGlideQry* c = mng_->CaGlideQry();
    BankAccountPtr account = queriedAccount();
    auto day = [](const std::string& iso) {
        const QDate d = QDate::fromString(QString::fromStdString(iso), Qt::ISODate);
        return d.isValid() ? d.toString(QStringLiteral("yyyyMMdd")) : QString();
    };
    QString name = account ? QString::fromStdString(account->AccountName) : windowTitle();
    const QString from = day(c->BCreateDate), to = day(c->ECreateDate);
    if (!from.isEmpty() && !to.isEmpty()) name += QStringLiteral(" %1-%2").arg(from, to);
    // Characters a file name may not hold become "_".
    for (QChar& ch : name)
        if (ch == '/' || ch == '\\' || ch == ':' || ch == '*' || ch == '?' || ch == '"' ||
            ch == '<' || ch == '>' || ch == '|')
            ch = '_';
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    return QDir(folder).filePath(name + QStringLiteral(".xlsx"));
}

BankAccountPtr TFrmCashGlide::queriedAccount() const {
    const TCaGlideQry* c = mng_->CaGlideQry();
    for (const BankAccountPtr& a : accountItems_)
        if (a->AsCode == c->AS_Code &&
            (c->AccountSetCode.empty() || a->SetCode == c->AccountSetCode))
            return a;
    return selectedAccount();
}

void TFrmCashGlide::writeReportHeading() {
    const TCaGlideQry* c = mng_->CaGlideQry();
    QString text;
    if (BankAccountPtr a = queriedAccount())
        text =
            QStringLiteral("账号：%1 %2")
                .arg(QString::fromStdString(a->AccountNo), QString::fromStdString(a->AccountName));
    if (!c->BCreateDate.empty() || !c->ECreateDate.empty())
        text += QStringLiteral("%1日期：%2 至 %3")
                    .arg(text.isEmpty() ? QString() : QStringLiteral("    "),
                         QString::fromStdString(c->BCreateDate),
                         QString::fromStdString(c->ECreateDate));
    if (text.isEmpty()) return;
    Cell->S(9, 2, text);
    Cell->MergeCells(9, 2, 12, 2);
}
