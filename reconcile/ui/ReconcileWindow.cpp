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
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
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

    auto* commands = new QHBoxLayout;
    connect(button(this, commands, "查询(&Q)"), &QPushButton::clicked, this,
            guardedSlot(this, "查询", &TFrmBankReconcile::Query));
    connect(button(this, commands, "自动对账(&A)"), &QPushButton::clicked, this,
            guardedSlot(this, "自动对账", &TFrmBankReconcile::AutoMatch));
    connect(button(this, commands, "手工对账(&M)"), &QPushButton::clicked, this,
            guardedSlot(this, "手工对账", &TFrmBankReconcile::ManualMatch));
    connect(button(this, commands, "取消对账(&U)"), &QPushButton::clicked, this,
            guardedSlot(this, "取消对账", &TFrmBankReconcile::Undo));
    connect(button(this, commands, "取消本期全部对账"), &QPushButton::clicked, this,
            guardedSlot(this, "取消本期全部对账", &TFrmBankReconcile::UndoRange));
    connect(button(this, commands, "期初未达账项(&O)"), &QPushButton::clicked, this,
            guardedSlot(this, "期初未达账项", &TFrmBankReconcile::Openings));
    commands->addStretch(1);
    connect(button(this, commands, "余额调节表(&R)"), &QPushButton::clicked, this,
            guardedSlot(this, "余额调节表", &TFrmBankReconcile::Preview));
    connect(button(this, commands, "打印(&P)"), &QPushButton::clicked, this,
            guardedSlot(this, "打印", &TFrmBankReconcile::Print));
    connect(button(this, commands, "导出(&E)"), &QPushButton::clicked, this,
            guardedSlot(this, "导出", &TFrmBankReconcile::Export));
    top->addLayout(commands);

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
    SelectionChanged();
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
        return;
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
    heading(QStringLiteral("银行对账单余额"), r.bankBalance);
    items(QStringLiteral("加：企业已收、银行未收"), r.bookedInNotBank);
    items(QStringLiteral("减：企业已付、银行未付"), r.bookedOutNotBank);
    heading(QStringLiteral("调节后余额（银行对账单）"), r.adjustedBank);
    ++row;
    if (r.balanced()) {
        text(1, QStringLiteral("两边调节后余额相符。"));
    } else {
        // The difference and the rows that may explain it stand out in red.
        auto alert = [&] {
            for (int col = 1; col <= 5; ++col) sheet->cell(col, row).alert = true;
        };
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
    return sheet;
}

void TFrmBankReconcile::Preview() {
    std::unique_ptr<SheetModel> sheet = reportSheet();
    QPrinter printer;
    QPrintPreviewDialog dlg(&printer, this);
    dlg.setWindowTitle(QStringLiteral("余额调节表预览"));
    connect(&dlg, &QPrintPreviewDialog::paintRequested, this,
            [&](QPrinter* p) { guarded(this, "预览", [&] { printSheet(*sheet, *p, title()); }); });
    ShowModal(dlg);
}

void TFrmBankReconcile::Print() {
    std::unique_ptr<SheetModel> sheet = reportSheet();
    QPrinter printer;
    QPrintDialog dlg(&printer, this);
    if (ShowModal(dlg) == QDialog::Accepted) printSheet(*sheet, printer, title());
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
    if (exportSheet(*sheet, file, &error))
        MessageBoxA(this, "已导出到 " + file.toStdString(), "提示", MB_OK | MB_ICONINFORMATION);
    else
        MessageBoxA(this, "导出失败：" + error.toStdString(), "提示", MB_OK | MB_ICONERROR);
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
    opening_->setText(
        QStringLiteral("银行对账单期初余额：%1").arg(q(formatCents(rec_.bankOpening()))));
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
