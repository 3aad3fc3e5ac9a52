#include "FundsWindow.h"

#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>

#include "Cell.h"
#include "FundsChart.h"
#include "Guard.h"
#include "Numbers.h"
#include "Records.h"
#include "Seams.h"
#include "Store.h"

using namespace ledgerhost;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int kCols = 10;

}  // namespace

TFrmFundsDaily::TFrmFundsDaily(QWidget* owner, Database& db, std::string bookCode,
                               std::string userCode, std::string userName)
    : TfrmBaseAssRpt(owner),
      db_(db),
      userCode_(std::move(userCode)),
      userName_(std::move(userName)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("资金日报表"));
    resize(1200, 820);

    auto* panel = new QWidget(this);
    auto* filter = new QHBoxLayout(panel);
    filter->addWidget(new QLabel(QStringLiteral("账套"), panel));
    CmbBook = new QComboBox(panel);
    {
        // The current book set, then the others the user may use.
        auto add = [&](const TBookSet& b) {
            if (CmbBook->findData(q(b.Code)) < 0)
                CmbBook->addItem(q((b.DispCode.empty() ? b.Code : b.DispCode) + " " + b.Name),
                                 q(b.Code));
        };
        if (auto current = TBookSet::load(db_, bookCode)) add(*current);
        TBookSetMng own(userCode_);
        for (int i = 0; i < own.GetCount(); ++i)
            if (own.GetDetail(i)->InitConfirmed) add(*own.GetDetail(i));
    }
    filter->addWidget(CmbBook, 1);
    const QDate today = QDate::currentDate();
    filter->addWidget(new QLabel(QStringLiteral("日期从"), panel));
    DtpBegin = new QDateEdit(today, panel);
    DtpBegin->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    DtpBegin->setCalendarPopup(true);
    filter->addWidget(DtpBegin);
    filter->addWidget(new QLabel(QStringLiteral("至"), panel));
    DtpEnd = new QDateEdit(today, panel);
    DtpEnd->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    DtpEnd->setCalendarPopup(true);
    filter->addWidget(DtpEnd);
    LblNote = new QLabel(panel);
    filter->addWidget(LblNote, 2);
    insertPanel(panel);

    // The grid above, the chart below.
    auto* split = new QSplitter(Qt::Vertical, pnlDetail);
    pnlDetail->layout()->removeWidget(Cell);
    split->addWidget(Cell);
    Chart = new TFundsChart(split);
    split->addWidget(Chart);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    // Room for a book set's usual handful of accounts with their subtotals.
    split->setSizes({320, 480});
    pnlDetail->layout()->addWidget(split);

    connect(tbtnSet, &QToolButton::clicked, this,
            guardedSlot(this, "查询", &TFrmFundsDaily::Query));
    // The journal window's keys; each button's tool tip names its own.
    const struct {
        QToolButton* button;
        QKeySequence key;
        const char* tip;
    } keys[] = {
        {tbtnSet, QKeySequence(Qt::Key_F5), "F5：按所选账套和日期查询"},
        {tbtnPrivew, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
         "Ctrl+Shift+P：预览报表和图表"},
        {tbtnPrint, QKeySequence(Qt::CTRL | Qt::Key_P), "Ctrl+P：打印报表和图表"},
        {tbtnExport, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
         "Ctrl+Shift+S：导出为 xlsx（图表在“图表”工作表）、csv 或 pdf"},
        {tbtnPageSetup, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G), "Ctrl+Shift+G"},
        {tbtnPrintSetup, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), "Ctrl+Shift+R"},
    };
    for (const auto& k : keys) {
        k.button->setToolTip(QString::fromUtf8(k.tip));
        auto* s = new QShortcut(k.key, this);
        QToolButton* b = k.button;
        connect(s, &QShortcut::activated, this,
                [this, b] { guarded(this, "快捷键", [&] { b->click(); }); });
    }
    connect(CmbBook, &QComboBox::currentIndexChanged, this,
            [this](int) { guarded(this, "查询", [&] { Query(); }); });
    Query();
}

TFrmFundsDaily::~TFrmFundsDaily() = default;

QString TFrmFundsDaily::ExportFileName() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    QString name = QStringLiteral("资金日报表 %1 %2.xlsx")
                       .arg(q(report_.bookCode),
                            q(report_.oneDay() ? report_.from : report_.from + "_" + report_.to));
    name.replace('/', '_');
    return QDir(folder).filePath(name);
}

void TFrmFundsDaily::Query() {
    if (CmbBook->currentIndex() < 0) return;
    if (DtpBegin->date() > DtpEnd->date()) throw funds::FundsError("结束日期不能早于开始日期。");
    const std::string book = CmbBook->currentData().toString().toStdString();
    report_ = funds::dailyFunds(
        db_, book, DtpBegin->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString(),
        DtpEnd->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString());
    Chart->setReport(report_);
    fillSheet();
    LblNote->setText(QStringLiteral("现金 %1 个账户，银行 %2 个账户；本期 %3 笔")
                         .arg(report_.cash.size())
                         .arg(report_.bank.size())
                         .arg(report_.total.rows));
    Cell->setFocus();
}

void TFrmFundsDaily::fillSheet() {
    TCell& g = *Cell;
    SheetModel& sheet = *g.sheet();
    g.SetRows(1);
    g.SetCols(kCols + 1);
    sheet.spans.clear();
    int row = 0;
    auto text = [&](int col, const QString& t) { g.S(col, row, t); };
    auto money = [&](int col, std::int64_t cents, bool alert = false) {
        CellData& c = sheet.cell(col, row);
        c.number = fromCents(cents);
        c.isNumber = true;
        c.text.clear();
        c.numType = 1;
        c.separator = 2;
        c.alert = alert;
    };
    g.SetRows(2);
    row = 1;
    text(1, QStringLiteral("资金日报表"));
    g.SetRows(3);
    row = 2;
    text(1, QStringLiteral("账套：%1 %2    日期：%3    制表人：%4 %5")
                .arg(q(report_.bookCode), q(report_.bookName), q(funds::periodText(report_)),
                     q(userCode_), q(userName_)));
    g.MergeCells(1, 2, kCols, 2);
    g.SetRows(4);
    row = 3;
    const bool day = report_.oneDay();
    const QString heads[kCols] = {
        QStringLiteral("账户编码"),
        QStringLiteral("账号"),
        QStringLiteral("账户名称"),
        day ? QStringLiteral("上日余额") : QStringLiteral("期初余额"),
        day ? QStringLiteral("本日收入") : QStringLiteral("本期收入"),
        day ? QStringLiteral("本日支出") : QStringLiteral("本期支出"),
        day ? QStringLiteral("本日余额") : QStringLiteral("期末余额"),
        QStringLiteral("笔数"),
        QStringLiteral("对账单余额"),
        QStringLiteral("差额"),
    };
    for (int c = 0; c < kCols; ++c) text(c + 1, heads[c]);
    auto figures = [&](const funds::Figures& f) {
        money(4, f.opening);
        money(5, f.in);
        money(6, f.out);
        money(7, f.closing);
        text(8, QString::number(f.rows));
    };
    auto statement = [&](std::optional<std::int64_t> stmt, std::optional<std::int64_t> diff) {
        if (stmt) money(9, *stmt);
        if (diff) money(10, *diff, *diff != 0);
    };
    auto line = [&](const funds::Line& l) {
        g.SetRows(row + 2);
        ++row;
        text(1, q(l.code));
        text(2, q(l.number));
        text(3, q(l.name) + (l.stopped ? QStringLiteral(" [已停用]") : QString()));
        figures(l.journal);
        statement(l.statement, l.difference());
    };
    auto total = [&](const QString& caption, const funds::Figures& f) {
        g.SetRows(row + 2);
        ++row;
        text(1, caption);
        g.MergeCells(1, row, 3, row);
        figures(f);
    };
    for (const funds::Line& l : report_.cash) line(l);
    total(QStringLiteral("现金小计"), report_.cashTotal);
    for (const funds::Line& l : report_.bank) line(l);
    total(QStringLiteral("银行小计"), report_.bankTotal);
    if (report_.statementTotal)
        statement(report_.statementTotal, *report_.statementJournal - *report_.statementTotal);
    total(QStringLiteral("合计"), report_.total);
    BuildFormat();
    sheet.headingEnd = 3;
    // The chart goes with the report when it is printed or exported.
    sheet.pictures = {Chart->picture()};
    sheet.touch();
}
