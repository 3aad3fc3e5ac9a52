// The daily funds report on the demo: its figures against the journal
// windows' own load and the bank's balances, the command-line tool, and the
// window with its chart, keys and exports.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include "BankBalances.h"
#include "Cell.h"
#include "DemoData.h"
#include "Fixture.h"
#include "Funds.h"
#include "FundsChart.h"
#include "FundsWindow.h"
#include "Glide.h"
#include "Numbers.h"
#include "Programs.h"
#include "ReportOutput.h"
#include "Seams.h"
#include "Session.h"
#include "Store.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

const QDate kToday(2025, 11, 20);

class FundsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        if (testutil::onServer()) server.emplace();
        ASSERT_TRUE(demo::createDemoDatabase(path(), kToday));
        session = std::make_unique<HostSession>(path(), "001", "admin");
        // The sample statements bring the bank's own balances for November.
        TCaGlideMng mng(kStatementTable);
        for (const std::string& file :
             demo::writeDemoStatements(dir.filePath("statements").toStdString(), kToday)) {
            const StatementImportResult r = importStatement(
                file.find(".xls") != std::string::npos ? StatementKind::CCB : StatementKind::ICBC,
                file, &mng);
            ASSERT_TRUE(r.stored) << r.message;
        }
    }
    // The demo in a file, or (the "pg/" pass) in the test's server schema.
    std::string path() const {
        return server ? server->location() : dir.filePath("demo.db").toStdString();
    }
    Database& db() { return session->dbManage().Db(); }

    // The journal window's load of one account over the range.
    struct Window {
        std::int64_t opening = 0, in = 0, out = 0, closing = 0, rows = 0;
    };
    Window journal(const std::string& table, const funds::Line& l, const std::string& from,
                   const std::string& to) {
        TCaGlideMng mng(table);
        mng.CaGlideQry()->SetCode = "001";
        mng.CaGlideQry()->SetASCode(l.code);
        mng.CaGlideQry()->BCreateDate = from;
        mng.CaGlideQry()->ECreateDate = to;
        mng.SubjectKind = l.kind;
        mng.Load();
        Window w;
        EXPECT_GT(mng.GetCount(), 0) << l.code;
        if (mng.GetCount() == 0) return w;
        w.opening = w.closing = toCents(mng.GetDetails(0)->Balance);
        for (int i = 0; i < mng.GetCount(); ++i) {
            const TCaGlide* r = mng.GetDetails(i);
            if (r->Id == 0) continue;
            w.in += toCents(r->DebMoney);
            w.out += toCents(r->CreMoney);
            w.closing = toCents(r->Balance);
            ++w.rows;
        }
        return w;
    }

    QTemporaryDir dir;
    std::optional<testutil::ServerSchema> server;
    std::unique_ptr<HostSession> session;
};

// Every figure of the report for three dates and a month equals what the
// journal windows load for the same account and range; the statement balance
// is the 银行对账单 window's at the range's end and, where the bank reported
// one, the bank's own.
TEST_F(FundsTest, FiguresAreTheJournalWindowsOwn) {
    int reportedChecked = 0;
    const std::pair<const char*, const char*> ranges[] = {{"2025-02-14", "2025-02-14"},
                                                          {"2025-07-01", "2025-07-01"},
                                                          {"2025-11-12", "2025-11-12"},
                                                          {"2025-06-01", "2025-06-30"}};
    for (const auto& [from, to] : ranges) {
        SCOPED_TRACE(std::string(from) + " " + to);
        const funds::Report r = funds::dailyFunds(db(), "001", from, to);
        ASSERT_FALSE(r.cash.empty());
        ASSERT_GE(r.bank.size(), 2u);
        funds::Figures cash, bank;
        for (const auto* group : {&r.cash, &r.bank})
            for (const funds::Line& l : *group) {
                SCOPED_TRACE(l.code);
                const Window w = journal(kCashJournalTable, l, from, to);
                EXPECT_EQ(l.journal, (funds::Figures{w.opening, w.in, w.out, w.closing, w.rows}));
                EXPECT_EQ(l.days.back().closing, w.closing);
                (l.kind == 1 ? bank : cash) += l.journal;
                EXPECT_NE(l.code, "100203") << "a stopped account without rows is left out";
                if (!l.statement) continue;
                const Window s =
                    journal(kStatementTable, l, std::string(from).substr(0, 4) + "-01-01", to);
                EXPECT_EQ(*l.statement, s.closing);
                EXPECT_EQ(*l.difference(), l.journal.closing - s.closing);
                const StatementWalk walk = walkStatement(db(), "001", l.code, to);
                EXPECT_EQ(*l.statement, walk.balance);
                if (walk.lastReported && walk.days.size() &&
                    walk.lastReported->date == walk.days.back().date) {
                    EXPECT_EQ(*l.statement, walk.lastReported->cents);
                    ++reportedChecked;
                }
            }
        EXPECT_EQ(r.cashTotal, cash);
        EXPECT_EQ(r.bankTotal, bank);
        cash += bank;
        EXPECT_EQ(r.total, cash);
    }
    EXPECT_GE(reportedChecked, 1) << "the bank's reported balance was compared";
}

// Bad requests are refused in words; chuna-funds prints the same figures
// as the report, as text or CSV, and exits 2 on an error.
TEST_F(FundsTest, RefusalsAndTheCommandLineTool) {
    const struct {
        const char *from, *to, *says;
    } bad[] = {{"2025-13-01", "2025-13-01", "不是日期"},
               {"2025-03-02", "2025-03-01", "不能早于"},
               {"2010-01-01", "2025-03-01", "十年"}};
    for (const auto& b : bad) {
        try {
            funds::dailyFunds(db(), "001", b.from, b.to);
            ADD_FAILURE() << b.from;
        } catch (const funds::FundsError& e) {
            EXPECT_NE(std::string(e.what()).find(b.says), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(funds::dailyFunds(db(), "999", "2025-03-01", "2025-03-01"), funds::FundsError);

    const funds::Report r = funds::dailyFunds(db(), "001", "2025-03-14", "2025-03-14");
    session.reset();
    auto run = [&](const QStringList& extra) {
        QProcess p;
        p.start(LEDGER_FUNDS_TOOL, QStringList{"--db", QString::fromStdString(path()), "--book",
                                               "001", "--user", "admin"} +
                                       testutil::signedIn() + extra);
        EXPECT_TRUE(p.waitForFinished(60000));
        return std::make_pair(
            p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
    };
    const auto [status, csv] = run({"--date", "2025-03-14", "--csv"});
    EXPECT_EQ(status, 0) << csv.toStdString();
    EXPECT_EQ(csv.toStdString(), funds::reportCsv(r));
    const auto [textStatus, text] = run({"--from", "2025-03-14", "--to", "2025-03-14"});
    EXPECT_EQ(textStatus, 0);
    EXPECT_EQ(text.toStdString(), funds::reportText(r));
    EXPECT_TRUE(text.contains(QString::fromStdString(formatCents(r.total.closing))));
    const auto [badStatus, badText] = run({"--date", "2025-02-30"});
    EXPECT_EQ(badStatus, 2);
    EXPECT_TRUE(badText.contains(QStringLiteral("不是日期"))) << badText.toStdString();
}

// The window: F5 queries, the grid holds the report's figures, the chart's
// points and bars name their date and figure, and the chart goes into the
// exported workbook and PDF.
TEST_F(FundsTest, WindowShowsTheReportAndItsChartAndExportsBoth) {
    auto* w = new TFrmFundsDaily(nullptr, db(), "001", "admin", "系统管理员");
    std::unique_ptr<TFrmFundsDaily> owner(w);
    w->DtpBegin->setDate(QDate(2025, 6, 1));
    w->DtpEnd->setDate(QDate(2025, 6, 30));
    w->resize(1200, 900);
    w->show();
    w->activateWindow();
    QCoreApplication::processEvents();
    QTest::keyClick(w, Qt::Key_F5);
    const funds::Report& r = w->report();
    ASSERT_EQ(r.from, "2025-06-01");
    SheetModel& sheet = *w->Cell->sheet();
    EXPECT_TRUE(sheet.displayText(1, 2).contains(QStringLiteral("制表人：admin")));
    EXPECT_EQ(sheet.displayText(4, 3), QStringLiteral("期初余额"));
    // The first cash line, then the grand total in the last row.
    EXPECT_EQ(sheet.displayText(7, 4),
              QString::fromStdString(formatCents(r.cash[0].journal.closing)));
    const int last = sheet.sheetRows() - 1;
    EXPECT_EQ(sheet.displayText(1, last), QStringLiteral("合计"));
    EXPECT_EQ(sheet.displayText(7, last), QString::fromStdString(formatCents(r.total.closing)));

    const funds::Line& first = r.cash[0];
    EXPECT_EQ(
        w->Chart->lineTip(0, 29).toStdString(),
        first.code + " " + first.name + "\n2025-06-30 余额 " + formatCents(first.days[29].closing));
    EXPECT_TRUE(w->Chart->barTip(0, 0).startsWith(QStringLiteral("06-01 收入")));
    EXPECT_TRUE(w->Chart->lineTip(99, 0).isEmpty());
    // Hovering: the mouse over a line's point and over a bar names them; the
    // plot's empty corner names nothing.
    auto viewPos = [](QChartView* view, QAbstractSeries* series, QPointF value) {
        QChart* chart = view->chart();
        return view->mapFromScene(chart->mapToScene(chart->mapToPosition(value, series)));
    };
    QChartView* lines = w->Chart->balancesView();
    const QPointF june30(
        static_cast<qreal>(QDateTime(QDate(2025, 6, 30), QTime(12, 0)).toMSecsSinceEpoch()),
        static_cast<double>(first.days[29].closing) / 100.0);
    EXPECT_EQ(w->Chart->tipAt(
                  lines, viewPos(lines, lines->chart()->series().front(), june30) + QPoint(0, 3)),
              w->Chart->lineTip(0, 29));
    QChartView* bars = w->Chart->flowsView();
    const std::vector<funds::Day> days = r.totalDays();
    const auto busiest = std::max_element(days.begin(), days.end(),
                                          [](const auto& a, const auto& b) { return a.in < b.in; });
    const int index = static_cast<int>(busiest - days.begin());
    ASSERT_GT(busiest->in, 0);
    EXPECT_EQ(w->Chart->tipAt(bars, viewPos(bars, bars->chart()->series().front(),
                                            QPointF(index - 0.15, busiest->in / 200.0))),
              w->Chart->barTip(0, index));
    EXPECT_TRUE(w->Chart->tipAt(lines, QPoint(2, 2)).isEmpty());
    ASSERT_EQ(sheet.pictures.size(), 1u);
    EXPECT_FALSE(sheet.pictures[0].isNull());
    // The window's chart showed today's report before June's; the picture
    // that goes with the report is that of a chart that showed June's only.
    TFundsChart fresh;
    fresh.setReport(r);
    EXPECT_TRUE(fresh.picture() == sheet.pictures[0]);

    for (const char* name : {"funds.xlsx", "funds.pdf"}) {
        const QString file = dir.filePath(name);
        testutil::Messages messages;
        seams::Scoped<seams::FileHook> hook(
            seams::fileHook(),
            [&](QWidget*, const seams::FileRequest&) { return std::optional<QString>(file); });
        QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        const QByteArray bytes = f.readAll();
        if (QString(name).endsWith(".xlsx")) {
            EXPECT_TRUE(bytes.contains("xl/media/image1.png")) << "the chart's sheet";
            continue;
        }
        static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![s\\w])"));
        const int pages = static_cast<int>(QString::fromLatin1(bytes).count(page));
        sheet.pictures.clear();
        QString error;
        ASSERT_TRUE(exportSheet(sheet, dir.filePath("plain.pdf"), &error)) << error.toStdString();
        QFile plain(dir.filePath("plain.pdf"));
        ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
        EXPECT_EQ(pages, QString::fromLatin1(plain.readAll()).count(page) + 1)
            << "the chart has a page of its own";
    }
}

}  // namespace
