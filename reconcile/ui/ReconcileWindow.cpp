#include "ReconcileWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "Cell.h"
#include "Guard.h"
#include "Numbers.h"
#include "ReportOutput.h"
#include "Seams.h"
#include "Store.h"

using namespace ledgerhost;
using namespace reconcile;

namespace {

constexpr int kRefRole = Qt::UserRole + 1;
constexpr int kGroupRole = Qt::UserRole + 2;
constexpr int kNetRole = Qt::UserRole + 3;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QString money(std::int64_t cents) {
    return cents == 0 ? QString() : q(formatCents(cents));
}

QPushButton* button(QWidget* parent, QLayout* layout, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    layout->addWidget(b);
    return b;
}

}  // namespace

TFrmBankReconcile::TFrmBankReconcile(QWidget* owner, Database& db, std::string bookCode,
                                     std::string user)
    : QWidget(owner, Qt::Window),
      db_(db),
      book_(std::move(bookCode)),
      user_(std::move(user)),
      journal_(new QStandardItemModel(this)),
      statement_(new QStandardItemModel(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("银行对账"));
    resize(1280, 720);
    auto* top = new QVBoxLayout(this);

    auto* filter = new QHBoxLayout;
    filter->addWidget(new QLabel(QStringLiteral("银行账户"), this));
    CmbAccount = new QComboBox(this);
    {
        Stmt s = db_.prepare(
            "SELECT as_code, account_no, name FROM bank_accounts WHERE set_code = ? AND kind = 1 "
            "AND state = '1' ORDER BY as_code");
        s.bind(1, book_);
        while (s.step()) CmbAccount->addItem(q(s.text(1) + " " + s.text(2)), q(s.text(1)));
    }
    filter->addWidget(CmbAccount, 1);
    const QDate today = QDate::currentDate();
    filter->addWidget(new QLabel(QStringLiteral("日期从"), this));
    DtpBegin = new QDateEdit(QDate(today.year(), today.month(), 1), this);
    DtpBegin->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    DtpBegin->setCalendarPopup(true);
    filter->addWidget(DtpBegin);
    filter->addWidget(new QLabel(QStringLiteral("至"), this));
    DtpEnd = new QDateEdit(QDate(today.year(), today.month(), today.daysInMonth()), this);
    DtpEnd->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    DtpEnd->setCalendarPopup(true);
    filter->addWidget(DtpEnd);
    ChkUnreconciled = new QCheckBox(QStringLiteral("只显示未对账"), this);
    filter->addWidget(ChkUnreconciled);
    filter->addWidget(new QLabel(QStringLiteral("日期相差不超过"), this));
    SpnDays = new QSpinBox(this);
    SpnDays->setRange(0, 366);
    SpnDays->setValue(7);
    SpnDays->setSuffix(QStringLiteral(" 天"));
    filter->addWidget(SpnDays);
    top->addLayout(filter);

    // Every command has its key: the underlined letter with Alt, F5 for 查询;
    // each button's tool tip names it.
    auto* commands = new QHBoxLayout;
    auto command = [&](const char* text, const char* keys, const char* what, auto slot) {
        QPushButton* b = button(this, commands, text);
        b->setToolTip(QString::fromUtf8(keys));
        connect(b, &QPushButton::clicked, this, guardedSlot(this, what, slot));
        return b;
    };
    command("查询(&Q)", "F5 或 Alt+Q：按所选账户和日期重新查询", "查询", &TFrmBankReconcile::Query);
    command("自动对账(&A)", "Alt+A", "自动对账", &TFrmBankReconcile::AutoMatch);
    command("手工对账(&M)", "Alt+M：把两边勾选的记录对成一组", "手工对账",
            &TFrmBankReconcile::ManualMatch);
    command("取消对账(&U)", "Alt+U：取消所选记录所在的组", "取消对账", &TFrmBankReconcile::Undo);
    command("取消本期全部对账(&L)", "Alt+L：取消所选日期范围内的全部对账", "取消本期全部对账",
            &TFrmBankReconcile::UndoRange);
    command("期初未达账项(&O)", "Alt+O", "期初未达账项", &TFrmBankReconcile::Openings);
    command("银行余额(&B)", "Alt+B：录入银行对账单上截止日期的余额", "银行余额",
            &TFrmBankReconcile::ClosingBalance);
    commands->addStretch(1);
    command("余额调节表(&R)", "Alt+R：预览余额调节表", "余额调节表", &TFrmBankReconcile::Preview);
    command("打印(&P)", "Alt+P", "打印", &TFrmBankReconcile::Print);
    command("导出(&E)", "Alt+E：导出为 xlsx、csv 或 pdf", "导出", &TFrmBankReconcile::Export);
    top->addLayout(commands);
    auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(refresh, &QShortcut::activated, this,
            guardedSlot(this, "查询", &TFrmBankReconcile::Query));

    auto* split = new QSplitter(Qt::Horizontal, this);
    auto side = [&](const char* caption, QStandardItemModel* model) {
        auto* box = new QGroupBox(QString::fromUtf8(caption), split);
        auto* l = new QVBoxLayout(box);
        auto* view = new QTableView(box);
        view->setModel(model);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->verticalHeader()->setDefaultSectionSize(22);
        view->verticalHeader()->hide();
        // Tab goes to the other list, Space ticks the current row.
        view->setTabKeyNavigation(false);
        view->installEventFilter(this);
        view->setToolTip(QStringLiteral("空格勾选或取消勾选当前行；Tab 转到另一边"));
        l->addWidget(view);
        split->addWidget(box);
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this](const QItemSelection&, const QItemSelection&) {
                    guarded(this, "选择", [&] { SelectionChanged(); });
                });
        return view;
    };
    GrdJournal = side("银行日记账（企业）", journal_);
    GrdStatement = side("银行对账单（银行）", statement_);
    top->addWidget(split, 1);
    {
        auto* box = new QGroupBox(QStringLiteral("对账情况"), this);
        auto* grid = new QHBoxLayout(box);
        auto figure = [&](const QString& caption, const QString& tip) {
            auto* name = new QLabel(caption, box);
            auto* value = new QLabel(box);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            QFont f = value->font();
            f.setBold(true);
            value->setFont(f);
            name->setToolTip(tip);
            value->setToolTip(tip);
            grid->addWidget(name);
            grid->addWidget(value);
            grid->addSpacing(24);
            return value;
        };
        LblBank = figure(QStringLiteral("银行余额"),
                         QStringLiteral("截止日期的银行余额：银行对账单所报（或录入）的余额，"
                                        "加上其后对账单上的记录"));
        LblAdjusted = figure(QStringLiteral("调节后日记账余额"),
                             QStringLiteral("银行日记账余额，减去银行尚未记的、加上企业尚未记的；"
                                            "勾选的记录按已对上计算"));
        LblDifference = figure(QStringLiteral("差额"),
                               QStringLiteral("银行余额减调节后日记账余额；对完时应为 0"));
        grid->addStretch(1);
        top->addWidget(box);
    }
    LblStatus = new QLabel(this);
    LblStatus->setWordWrap(true);
    top->addWidget(LblStatus);

    connect(ChkUnreconciled, &QCheckBox::toggled, this,
            [this](bool) { guarded(this, "查询", [&] { Query(); }); });
    connect(CmbAccount, &QComboBox::currentIndexChanged, this,
            [this](int) { guarded(this, "查询", [&] { Query(); }); });
    Query();
}

TFrmBankReconcile::~TFrmBankReconcile() = default;

Reconciler TFrmBankReconcile::reconciler() {
    if (CmbAccount->currentIndex() < 0)
        throw ReconcileError("账套中没有在用的银行账户，不能对账。");
    return Reconciler(
        db_,
        Reconciler::findAccount(db_, book_, CmbAccount->currentData().toString().toStdString()),
        user_);
}

void TFrmBankReconcile::fill(QStandardItemModel* model, const std::vector<SideRow>& rows) {
    model->clear();
    model->setHorizontalHeaderLabels({QStringLiteral("日期"), QStringLiteral("统一号"),
                                      QStringLiteral("票据号"), QStringLiteral("摘要"),
                                      QStringLiteral("收入"), QStringLiteral("支出"),
                                      QStringLiteral("对账")});
    for (const SideRow& r : rows) {
        QList<QStandardItem*> items{
            new QStandardItem(q(r.date)),
            new QStandardItem(r.number ? QString::number(r.number) : QString()),
            new QStandardItem(q(r.cheque)),
            new QStandardItem(q(r.summary)),
            new QStandardItem(money(r.inCents)),
            new QStandardItem(money(r.outCents)),
            new QStandardItem(r.group ? QStringLiteral("√ %1").arg(r.group) : QString())};
        items[4]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        items[5]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        items[0]->setData(QVariant::fromValue(QList<qint64>{static_cast<qint64>(r.ref.source),
                                                            static_cast<qint64>(r.ref.id)}),
                          kRefRole);
        items[0]->setData(static_cast<qint64>(r.group), kGroupRole);
        items[0]->setData(static_cast<qint64>(r.net()), kNetRole);
        if (r.group) {
            for (QStandardItem* i : items) {
                i->setForeground(QColor(0x1e, 0x6b, 0x2e));
                i->setBackground(QColor(0xe8, 0xf5, 0xe9));
                i->setToolTip(QStringLiteral("已对账（第 %1 组）").arg(r.group));
            }
        }
        model->appendRow(items);
    }
}

void TFrmBankReconcile::Query() {
    if (CmbAccount->currentIndex() < 0) {
        journal_->clear();
        statement_->clear();
        LblStatus->setText(QStringLiteral("账套中没有在用的银行账户。"));
        return;
    }
    if (DtpBegin->date() > DtpEnd->date()) throw ReconcileError("开始日期不能晚于结束日期。");
    Reconciler rec = reconciler();
    const std::string from = DtpBegin->date().toString("yyyy-MM-dd").toStdString();
    const std::string until = DtpEnd->date().toString("yyyy-MM-dd").toStdString();
    const bool only = ChkUnreconciled->isChecked();
    fill(journal_, rec.journalRows(from, until, only));
    fill(statement_, rec.statementRows(from, until, only));
    for (QTableView* v : {GrdJournal, GrdStatement}) {
        v->resizeColumnsToContents();
        v->horizontalHeader()->setStretchLastSection(true);
    }
    refreshLiveBox();
    SelectionChanged();
}

std::string TFrmBankReconcile::until() const {
    return DtpEnd->date().toString("yyyy-MM-dd").toStdString();
}

// The figures of the live box as at the range's end, from the statement: the
// bank's balance (its own figure carried to the date by the statement rows
// after it, else the stored statement's), and the journal's balance with every
// unmatched row up to the date taken into account.
void TFrmBankReconcile::refreshLiveBox() {
    liveBank_.reset();
    liveBase_ = 0;
    liveBankSource_.clear();
    liveProblem_.clear();
    Report r;
    try {
        r = reconciler().report(until());
    } catch (const ReconcileError& e) {
        liveProblem_ = q(e.what());
        return;
    }
    auto total = [](const std::vector<ReportItem>& items) {
        std::int64_t t = 0;
        for (const ReportItem& i : items) t += i.cents;
        return t;
    };
    liveBase_ = r.journalBalance - total(r.bookedInNotBank) + total(r.bookedOutNotBank) +
                total(r.bankInNotBooked) - total(r.bankOutNotBooked);
    if (r.bankFigure) {
        liveBank_ = r.bankFigure->cents + (r.bankBalance - r.statementAtFigure);
        liveBankSource_ =
            QStringLiteral("（%1 %2）")
                .arg(r.bankFigure->entered ? QStringLiteral("录入") : QStringLiteral("银行所报"),
                     q(r.bankFigure->date));
    } else if (r.bankOpening) {
        liveBank_ = r.bankBalance;
        liveBankSource_ = QStringLiteral("（按对账单，没有银行所报余额）");
    } else {
        liveProblem_ = QStringLiteral("银行对账单年初余额未设置");
    }
}

std::int64_t TFrmBankReconcile::liveAdjusted() const {
    // A ticked row counts as matched: a journal row is no longer waiting for
    // the bank, a statement row no longer waiting for the journal.
    std::int64_t adjusted = liveBase_;
    for (int side = 0; side < 2; ++side) {
        QTableView* v = side == 0 ? GrdJournal : GrdStatement;
        for (const QModelIndex& i : v->selectionModel()->selectedRows(0)) {
            if (i.data(kGroupRole).toLongLong() != 0) continue;
            const std::int64_t net = i.data(kNetRole).toLongLong();
            adjusted += side == 0 ? net : -net;
        }
    }
    return adjusted;
}

bool TFrmBankReconcile::eventFilter(QObject* watched, QEvent* event) {
    bool handled = false;
    guarded(this, "键盘", [&] {
        if (event->type() != QEvent::KeyPress) return;
        auto* view = qobject_cast<QTableView*>(watched);
        if (view != GrdJournal && view != GrdStatement) return;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            QTableView* other = view == GrdJournal ? GrdStatement : GrdJournal;
            other->setFocus(Qt::TabFocusReason);
            if (!other->currentIndex().isValid() && other->model()->rowCount() > 0)
                other->selectionModel()->setCurrentIndex(other->model()->index(0, 0),
                                                         QItemSelectionModel::NoUpdate);
            handled = true;
        } else if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            const QModelIndex current = view->currentIndex();
            if (current.isValid())
                view->selectionModel()->select(
                    current, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
            handled = true;
        }
    });
    return handled || QWidget::eventFilter(watched, event);
}

std::vector<RowRef> TFrmBankReconcile::selected(QTableView* view) const {
    std::vector<RowRef> out;
    for (const QModelIndex& i : view->selectionModel()->selectedRows(0)) {
        const auto ref = i.data(kRefRole).value<QList<qint64>>();
        if (ref.size() == 2) out.push_back({static_cast<Source>(ref[0]), ref[1]});
    }
    return out;
}

std::int64_t TFrmBankReconcile::selectedTotal(QTableView* view) const {
    std::int64_t total = 0;
    for (const QModelIndex& i : view->selectionModel()->selectedRows(0))
        total += i.data(kNetRole).toLongLong();
    return total;
}

void TFrmBankReconcile::SelectionChanged() {
    const std::int64_t j = selectedTotal(GrdJournal), s = selectedTotal(GrdStatement);
    const auto nj = GrdJournal->selectionModel()->selectedRows().size();
    const auto ns = GrdStatement->selectionModel()->selectedRows().size();
    int left[2] = {0, 0};
    for (int side = 0; side < 2; ++side) {
        QStandardItemModel* m = side == 0 ? journal_ : statement_;
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->item(r, 0)->data(kGroupRole).toLongLong() == 0) ++left[side];
    }
    QString text =
        QStringLiteral("未对账：银行日记账 %1 笔，银行对账单 %2 笔。").arg(left[0]).arg(left[1]);
    if (nj || ns)
        text +=
            QStringLiteral("  已选：银行日记账 %1 笔 合计 %2；银行对账单 %3 笔 合计 %4；相差 %5")
                .arg(nj)
                .arg(q(formatCents(j)))
                .arg(ns)
                .arg(q(formatCents(s)))
                .arg(q(formatCents(j - s)));
    LblStatus->setText(text);
    if (!liveProblem_.isEmpty()) {
        LblBank->setText(liveProblem_);
        LblBank->setStyleSheet(QStringLiteral("color: #c62828"));
        LblAdjusted->setText(q(formatCents(liveAdjusted())));
        LblDifference->clear();
        return;
    }
    LblBank->setStyleSheet(QString());
    LblBank->setText(q(formatCents(*liveBank_)) + liveBankSource_);
    LblAdjusted->setText(q(formatCents(liveAdjusted())));
    const std::int64_t difference = *liveBank_ - liveAdjusted();
    LblDifference->setText(q(formatCents(difference)));
    LblDifference->setStyleSheet(difference == 0 ? QStringLiteral("color: #1e6b2e")
                                                 : QStringLiteral("color: #c62828"));
}

void TFrmBankReconcile::AutoMatch() {
    Reconciler rec = reconciler();
    const AutoResult r =
        rec.autoMatch(DtpBegin->date().toString("yyyy-MM-dd").toStdString(),
                      DtpEnd->date().toString("yyyy-MM-dd").toStdString(), SpnDays->value());
    Query();
    MessageBoxA(this, r.message(), "银行对账", MB_OK | MB_ICONINFORMATION);
}

void TFrmBankReconcile::ManualMatch() {
    Reconciler rec = reconciler();
    try {
        rec.match(selected(GrdJournal), selected(GrdStatement));
    } catch (const ReconcileError& e) {
        MessageBoxA(this, e.what(), "银行对账", MB_OK | MB_ICONWARNING);
        // Another program may have matched or removed rows meanwhile: the
        // lists show what is stored now.
    }
    Query();
}

void TFrmBankReconcile::Undo() {
    std::set<std::int64_t> groups;
    for (QTableView* v : {GrdJournal, GrdStatement})
        for (const QModelIndex& i : v->selectionModel()->selectedRows(0))
            if (const qint64 g = i.data(kGroupRole).toLongLong()) groups.insert(g);
    if (groups.empty()) {
        MessageBoxA(this, "请选择已对账的记录。", "银行对账", MB_OK | MB_ICONWARNING);
        return;
    }
    Reconciler rec = reconciler();
    for (std::int64_t g : groups) rec.undoGroup(g);
    Query();
}

void TFrmBankReconcile::UndoRange() {
    if (MessageBoxA(this, "取消本期（所选日期范围内）全部对账吗？", "银行对账",
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    Reconciler rec = reconciler();
    const int n = rec.undoRange(DtpBegin->date().toString("yyyy-MM-dd").toStdString(),
                                DtpEnd->date().toString("yyyy-MM-dd").toStdString());
    Query();
    MessageBoxA(this, "已取消 " + std::to_string(n) + " 组对账。", "银行对账",
                MB_OK | MB_ICONINFORMATION);
}

void TFrmBankReconcile::Openings() {
    Reconciler rec = reconciler();
    TFrmReconcileOpenings dlg(this, rec);
    ShowModal(dlg);
    Query();
}

QString TFrmBankReconcile::title() const {
    return QStringLiteral("银行存款余额调节表");
}

std::unique_ptr<SheetModel> TFrmBankReconcile::reportSheet() {
    Reconciler rec = reconciler();
    const Report r = rec.report(DtpEnd->date().toString("yyyy-MM-dd").toStdString());
    auto sheet = std::make_unique<SheetModel>();
    sheet->setColCount(6);
    int row = 0;
    auto text = [&](int col, const QString& t) { sheet->cell(col, row).text = t; };
    auto number = [&](int col, std::int64_t cents) {
        CellData& c = sheet->cell(col, row);
        c.number = fromCents(cents);
        c.isNumber = true;
        c.numType = 1;
        c.separator = 2;
    };
    ++row;
    text(1, title());
    sheet->spans.push_back({1, row, 5, 1});
    sheet->titleRow = row;
    ++row;
    text(1, QStringLiteral("账套：%1 %2    账户：%3 %4    截至：%5")
                .arg(q(r.bookCode), q(r.bookName), q(r.account.number), q(r.account.name),
                     q(r.until)));
    sheet->spans.push_back({1, row, 5, 1});
    ++row;
    text(1, QStringLiteral("项目"));
    text(2, QStringLiteral("日期"));
    text(3, QStringLiteral("号码"));
    text(4, QStringLiteral("摘要"));
    text(5, QStringLiteral("金额"));
    sheet->headingEnd = row;  // title, book set and account, column names
    auto heading = [&](const QString& t, std::int64_t cents) {
        ++row;
        text(1, t);
        number(5, cents);
    };
    auto items = [&](const QString& t, const std::vector<ReportItem>& list) {
        std::int64_t total = 0;
        for (const ReportItem& i : list) total += i.cents;
        heading(t, total);
        for (const ReportItem& i : list) {
            ++row;
            text(2, q(i.date));
            text(3, i.cheque.empty() ? (i.number ? QString::number(i.number) : QString())
                                     : q(i.cheque));
            text(4, q(i.summary));
            number(5, i.cents);
        }
    };
    heading(QStringLiteral("银行日记账余额"), r.journalBalance);
    items(QStringLiteral("加：银行已收、企业未收"), r.bankInNotBooked);
    items(QStringLiteral("减：银行已付、企业未付"), r.bankOutNotBooked);
    heading(QStringLiteral("调节后余额（银行日记账）"), r.adjustedJournal);
    // An opening the bank's side lacks is named, not counted as 0.
    auto alert = [&] {
        for (int col = 1; col <= 5; ++col) sheet->cell(col, row).alert = true;
    };
    if (r.bankOpening) {
        heading(QStringLiteral("银行对账单余额"), r.bankBalance);
    } else {
        ++row;
        text(1, QStringLiteral("银行对账单余额"));
        text(4, QStringLiteral("（年初余额未设置）"));
        alert();
    }
    items(QStringLiteral("加：企业已收、银行未收"), r.bookedInNotBank);
    items(QStringLiteral("减：企业已付、银行未付"), r.bookedOutNotBank);
    if (r.bankOpening) heading(QStringLiteral("调节后余额（银行对账单）"), r.adjustedBank);
    if (r.bankFigure) {
        heading(r.bankFigure->entered
                    ? QStringLiteral("录入的对账单期末余额（%1）").arg(q(r.bankFigure->date))
                    : QStringLiteral("银行所报余额（%1）").arg(q(r.bankFigure->date)),
                r.bankFigure->cents);
        if (r.bankOpening && r.bankDifference() != 0) {
            heading(QStringLiteral("对账单余额（%1）").arg(q(r.bankFigure->date)),
                    r.statementAtFigure);
            alert();
        }
    }
    ++row;
    if (!r.bankOpening) {
        // The line below names what is missing.
        --row;
    } else if (r.balanced()) {
        text(1, q(balancedVerdict(r)));
        if (!r.bankAgrees()) alert();
    } else {
        // The difference and the rows that may explain it stand out in red.
        text(1, QStringLiteral("两边调节后余额不符，相差"));
        number(5, r.difference());
        alert();
        for (const ReportItem& i : r.suspects) {
            ++row;
            alert();
            text(1, QStringLiteral("可能有关"));
            text(2, q(i.date));
            text(3, q(i.cheque));
            text(4, q(i.summary));
            number(5, i.cents);
        }
    }
    // The bank's own figures: agreement, a difference with the date from which
    // the statement and the bank part (in red), or that there is nothing to
    // compare with.
    const bool problem = !r.bankOpening || !r.bankAgrees();
    for (const std::string& line : bankCheckLines(r)) {
        ++row;
        text(1, q(line));
        sheet->spans.push_back({1, row, 5, 1});
        if (problem && line.find("没有银行的余额") == std::string::npos) alert();
    }
    return sheet;
}

QPrinter& TFrmBankReconcile::printer() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer_->setPageLayout(reportPageLayout());
    }
    return *printer_;
}

void TFrmBankReconcile::Preview() {
    std::unique_ptr<SheetModel> sheet = reportSheet();
    QPrintPreviewDialog dlg(&printer(), this);
    dlg.setWindowTitle(QStringLiteral("余额调节表预览"));
    connect(&dlg, &QPrintPreviewDialog::paintRequested, this,
            [&](QPrinter* p) { guarded(this, "预览", [&] { printSheet(*sheet, *p, title()); }); });
    ShowModal(dlg);
}

void TFrmBankReconcile::Print() {
    std::unique_ptr<SheetModel> sheet = reportSheet();
    QPrintDialog dlg(&printer(), this);
    if (ShowModal(dlg) == QDialog::Accepted) printSheet(*sheet, printer(), title());
}

void TFrmBankReconcile::Export() {
    std::unique_ptr<SheetModel> sheet = reportSheet();
    seams::FileRequest req;
    req.title = QStringLiteral("导出");
    req.filter =
        QStringLiteral("Excel 工作簿(*.xlsx)|*.xlsx|CSV 文件(*.csv)|*.csv|PDF 文件(*.pdf)|*.pdf");
    req.defaultExt = QStringLiteral("xlsx");
    req.save = true;
    {
        // "<title> <account name> <date>.xlsx" in the documents folder.
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (folder.isEmpty()) folder = QDir::homePath();
        const Account a = reconciler().account();
        QString name = QStringLiteral("%1 %2 %3.xlsx")
                           .arg(title(), QString::fromStdString(a.name),
                                DtpEnd->date().toString(QStringLiteral("yyyyMMdd")));
        name.replace('/', '_');
        req.initialDir = QDir(folder).filePath(name);
    }
    auto path = OpenFileDialog(this, req);
    if (!path) return;
    QString file = *path;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".xlsx");
    QString error;
    // A PDF gets the pages the preview shows.
    if (exportSheet(*sheet, file, &error, printer().pageLayout()))
        MessageBoxA(this, "已导出到 " + file.toStdString(), "提示", MB_OK | MB_ICONINFORMATION);
    else
        MessageBoxA(this, "导出失败：" + error.toStdString(), "提示", MB_OK | MB_ICONERROR);
}

void TFrmBankReconcile::ClosingBalance() {
    Reconciler rec = reconciler();
    const std::string date = until();
    const std::optional<BankFigure> current = rec.closingBalance(date);
    TFrmClosingBalance dlg(this, q(date), current ? q(formatCents(current->cents)) : QString());
    if (ShowModal(dlg) != QDialog::Accepted) return;
    try {
        if (dlg.cleared())
            rec.removeClosingBalance(date);
        else if (dlg.amount())
            rec.setClosingBalance(date, *dlg.amount());
    } catch (const ReconcileError& e) {
        MessageBoxA(this, e.what(), "银行对账", MB_OK | MB_ICONWARNING);
    }
    Query();
}

TFrmClosingBalance::TFrmClosingBalance(QWidget* owner, const QString& date, const QString& current)
    : QDialog(owner) {
    setWindowTitle(QStringLiteral("银行余额"));
    auto* top = new QVBoxLayout(this);
    top->addWidget(
        new QLabel(QStringLiteral("银行对账单上 %1 的余额（照对账单填写）：").arg(date), this));
    EdtAmount = new QLineEdit(current, this);
    top->addWidget(EdtAmount);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("确定(&O)"), this);
    auto* clear = new QPushButton(QStringLiteral("清除(&D)"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消(&C)"), this);
    ok->setDefault(true);
    clear->setToolTip(QStringLiteral("不再使用录入的余额"));
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(clear);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, guardedSlot(this, "确定", &TFrmClosingBalance::Ok));
    connect(clear, &QPushButton::clicked, this,
            guardedSlot(this, "清除", &TFrmClosingBalance::Clear));
    connect(cancel, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
}

void TFrmClosingBalance::Ok() {
    std::string why;
    const std::string text = EdtAmount->text().toStdString();
    amount_ = parseAmountCents(text, &why);
    if (!amount_) {
        MessageBoxA(this, "“" + text + "”" + why, "银行余额", MB_OK | MB_ICONWARNING);
        EdtAmount->setFocus();
        return;
    }
    done(QDialog::Accepted);
}

void TFrmClosingBalance::Clear() {
    cleared_ = true;
    amount_.reset();
    done(QDialog::Accepted);
}

// ---- opening balance and items ----

TFrmReconcileOpenings::TFrmReconcileOpenings(QWidget* owner, Reconciler& rec)
    : QDialog(owner), rec_(rec) {
    setWindowTitle(QStringLiteral("期初未达账项 - %1").arg(q(rec.account().name)));
    resize(760, 420);
    auto* top = new QVBoxLayout(this);
    opening_ = new QLabel(this);
    top->addWidget(opening_);
    items_ = new QTableWidget(this);
    items_->setSelectionBehavior(QAbstractItemView::SelectRows);
    items_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    top->addWidget(items_, 1);
    auto* note = new QLabel(
        QStringLiteral("期初余额和期初未达账项在“系统 → 出纳初始化”中录入，完成初始化后不能修改。"),
        this);
    note->setWordWrap(true);
    top->addWidget(note);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    top->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    reload();
}

void TFrmReconcileOpenings::reload() {
    const std::optional<std::int64_t> opening = rec_.bankOpening();
    opening_->setText(QStringLiteral("银行对账单期初余额：%1")
                          .arg(opening ? q(formatCents(*opening)) : QStringLiteral("未录入")));
    std::vector<SideRow> rows = rec_.journalRows("0000-01-01", "0000-01-01");
    for (SideRow& r : rec_.statementRows("0000-01-01", "0000-01-01")) rows.push_back(std::move(r));
    items_->clear();
    items_->setColumnCount(6);
    items_->setHorizontalHeaderLabels({QStringLiteral("类别"), QStringLiteral("日期"),
                                       QStringLiteral("票据号"), QStringLiteral("摘要"),
                                       QStringLiteral("金额"), QStringLiteral("对账")});
    items_->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const SideRow& r = rows[i];
        auto* kind = new QTableWidgetItem(QString::fromUtf8(openingKindName(r.openingKind)));
        kind->setData(Qt::UserRole, static_cast<qint64>(r.ref.id));
        items_->setItem(i, 0, kind);
        items_->setItem(i, 1, new QTableWidgetItem(q(r.date)));
        items_->setItem(i, 2, new QTableWidgetItem(q(r.cheque)));
        items_->setItem(i, 3, new QTableWidgetItem(q(r.summary)));
        items_->setItem(i, 4, new QTableWidgetItem(q(formatCents(r.inCents + r.outCents))));
        items_->setItem(i, 5, new QTableWidgetItem(r.group ? QStringLiteral("√") : QString()));
    }
    items_->resizeColumnsToContents();
}
