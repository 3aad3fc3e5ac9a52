// The window "银行对账" on the demo book set: matching from the window, the
// refusal of a manual group that does not agree, undo, and the statement sheet
// that preview, print and export share.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "Cell.h"
#include "DemoData.h"
#include "Fixture.h"
#include "Numbers.h"
#include "ReconcileWindow.h"
#include "ReportOutput.h"
#include "Store.h"

using namespace ledgerhost;
using testutil::Messages;

namespace {

int reconciledRows(QTableView* v) {
    int n = 0;
    for (int r = 0; r < v->model()->rowCount(); ++r)
        n += v->model()->index(r, 6).data().toString().startsWith(QStringLiteral("√"));
    return n;
}

bool sheetHas(const SheetModel& s, const QString& text) {
    for (int r = 1; r < s.sheetRows(); ++r)
        for (int c = 1; c < s.sheetCols(); ++c)
            if (s.displayText(c, r).contains(text)) return true;
    return false;
}

class ReconcileWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(
            demo::createDemoDatabase(dir.filePath("demo.db").toStdString(), QDate(2025, 11, 20)));
        db = std::make_unique<Database>(dir.filePath("demo.db").toStdString());
        w = std::make_unique<TFrmBankReconcile>(nullptr, *db, "001", "admin");
        ASSERT_EQ(w->CmbAccount->currentData().toString(), QStringLiteral("6222020200112345678"));
        w->DtpBegin->setDate(QDate(2025, 10, 1));
        w->DtpEnd->setDate(QDate(2025, 10, 31));
        w->Query();
    }
    void select(QTableView* v, const std::vector<int>& rows) {
        v->clearSelection();
        for (int r : rows)
            v->selectionModel()->select(v->model()->index(r, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QTemporaryDir dir;
    std::unique_ptr<Database> db;
    std::unique_ptr<TFrmBankReconcile> w;
};

TEST_F(ReconcileWindowTest, MatchRefuseAndUndoFromTheWindow) {
    Messages msgs;
    ASSERT_GT(w->GrdJournal->model()->rowCount(), 4);
    EXPECT_EQ(reconciledRows(w->GrdJournal), 0);
    w->AutoMatch();
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_NE(msgs.shown[0].text.find("自动对账完成"), std::string::npos);
    const int matched = reconciledRows(w->GrdJournal);
    EXPECT_GT(matched, 0);
    EXPECT_EQ(reconciledRows(w->GrdStatement), matched);
    EXPECT_FALSE(w->GrdJournal->model()->index(0, 0).data(Qt::ToolTipRole).isNull() &&
                 w->GrdJournal->model()->index(1, 0).data(Qt::ToolTipRole).isNull());

    // Only unreconciled rows, then a group whose totals disagree is refused.
    w->ChkUnreconciled->setChecked(true);
    EXPECT_EQ(reconciledRows(w->GrdJournal), 0);
    const int left = w->GrdJournal->model()->rowCount();
    ASSERT_GE(left, 2);
    select(w->GrdJournal, {0});
    select(w->GrdStatement, {0});
    msgs.shown.clear();
    w->ManualMatch();
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_NE(msgs.shown[0].text.find("相差"), std::string::npos) << msgs.shown[0].text;
    EXPECT_EQ(w->GrdJournal->model()->rowCount(), left);

    // Undo every group of the range.
    w->ChkUnreconciled->setChecked(false);
    msgs.shown.clear();
    w->UndoRange();
    EXPECT_EQ(reconciledRows(w->GrdJournal), 0);
    EXPECT_EQ(reconciledRows(w->GrdStatement), 0);
}

TEST_F(ReconcileWindowTest, StatementSheetHasItsHeaderAndBalances) {
    const auto sheet = w->reportSheet();
    EXPECT_TRUE(sheetHas(*sheet, QStringLiteral("银行存款余额调节表")));
    EXPECT_TRUE(sheetHas(*sheet, QStringLiteral("账套：001 演示总公司")));
    EXPECT_TRUE(sheetHas(*sheet, QStringLiteral("6222020200112345678 工商银行基本户")));
    EXPECT_TRUE(sheetHas(*sheet, QStringLiteral("截至：2025-10-31")));
    EXPECT_TRUE(sheetHas(*sheet, QStringLiteral("两边调节后余额相符")));
    QString error;
    const QString csv = dir.filePath("report.csv");
    ASSERT_TRUE(exportSheet(*sheet, csv, &error)) << error.toStdString();
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains(QStringLiteral("银行日记账余额")));
}

TEST_F(ReconcileWindowTest, APlantedDifferenceStandsOutInRed) {
    auto alertRows = [](const SheetModel& s) {
        QStringList rows;
        for (int r = 1; r < s.sheetRows(); ++r)
            if (const CellData* c = s.cellAt(5, r); c && c->alert)
                rows << s.displayText(1, r) + "|" + s.displayText(5, r);
        return rows;
    };
    EXPECT_TRUE(alertRows(*w->reportSheet()).isEmpty());
    // The bank's opening balance a cent off.
    db->exec(
        "UPDATE reconcile_openings SET bank_opening_cents = bank_opening_cents + 1 "
        "WHERE set_code = '001' AND as_code = '100201'");
    const auto sheet = w->reportSheet();
    const QStringList rows = alertRows(*sheet);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.front(), QStringLiteral("两边调节后余额不符，相差|-0.01"));
    for (int r = 1; r < sheet->sheetRows(); ++r) {
        const CellData* c = sheet->cellAt(5, r);
        if (!c || !c->alert) continue;
        EXPECT_EQ(sheet->data(sheet->index(r - 1, 4), Qt::ForegroundRole).value<QColor>(),
                  QColor(Qt::red));
    }
}

// The live box follows the ticks as a cashier works by keyboard: Space ticks,
// Tab goes to the other list, F5 queries again, Alt+B enters the bank's
// closing balance, whose difference then shows.
TEST_F(ReconcileWindowTest, LiveBoxFollowsTheTicksAndTheKeys) {
    Messages msgs;
    w->show();
    w->activateWindow();
    QApplication::processEvents();
    ASSERT_TRUE(w->liveBank().has_value());
    const std::int64_t adjusted = w->liveAdjusted();
    EXPECT_EQ(*w->liveBank(), adjusted) << "the demo's statement agrees with its journal";
    EXPECT_EQ(w->LblDifference->text(), QStringLiteral("0.00"));

    auto tick = [&](QTableView* v, int row) {
        v->setFocus();
        v->selectionModel()->setCurrentIndex(v->model()->index(row, 0),
                                             QItemSelectionModel::NoUpdate);
        QTest::keyClick(v, Qt::Key_Space);
    };
    tick(w->GrdJournal, 0);
    ASSERT_EQ(w->GrdJournal->selectionModel()->selectedRows().size(), 1);
    const std::int64_t afterJournal = w->liveAdjusted();
    EXPECT_NE(afterJournal, adjusted);
    EXPECT_EQ(w->LblAdjusted->text(), QString::fromStdString(formatCents(afterJournal)));
    EXPECT_EQ(w->LblDifference->text(),
              QString::fromStdString(formatCents(*w->liveBank() - afterJournal)));
    QTest::keyClick(w->GrdJournal, Qt::Key_Tab);
    EXPECT_EQ(w->focusWidget(), w->GrdStatement);
    QTest::keyClick(w->GrdStatement, Qt::Key_Tab);
    EXPECT_EQ(w->focusWidget(), w->GrdJournal);
    tick(w->GrdJournal, 0);  // ticked off again
    EXPECT_EQ(w->liveAdjusted(), adjusted);

    // F5: a statement row stored meanwhile by another program shows.
    const int rows = w->GrdStatement->model()->rowCount();
    db->exec(
        "INSERT INTO CaCollateGlide (set_code, as_code, create_date, date_or_no, summary, "
        "deb_cents, cre_cents) VALUES ('001', '100201', '2025-10-30', 9999, '另一程序', 0, 500)");
    QTest::keyClick(w->GrdStatement, Qt::Key_F5);
    EXPECT_EQ(w->GrdStatement->model()->rowCount(), rows + 1);
    EXPECT_EQ(w->liveAdjusted(), adjusted + 500);

    for (auto* b : w->findChildren<QPushButton*>()) {
        EXPECT_TRUE(b->text().contains('&')) << b->text().toStdString();
        EXPECT_FALSE(b->toolTip().isEmpty()) << b->text().toStdString();
    }

    // Alt+B: the bank's closing balance as printed, here 1.00 more than ours.
    const std::int64_t bank = *w->liveBank();
    testutil::Modals modals([&](QDialog& d) {
        auto* dlg = dynamic_cast<TFrmClosingBalance*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg) return static_cast<int>(QDialog::Rejected);
        dlg->EdtAmount->setText(QString::fromStdString(formatCents(bank + 100)));
        dlg->Ok();
        return dlg->result();
    });
    QTest::keyClick(w->GrdStatement, Qt::Key_B, Qt::AltModifier);
    // The button shows itself pressed before it acts.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !modals.shown.empty(); }, 5000));
    ASSERT_EQ(modals.shown.size(), 1u);
    EXPECT_EQ(*w->liveBank(), bank + 100);
    EXPECT_EQ(w->LblDifference->text(), QStringLiteral("1.00"));
    const auto sheet = w->reportSheet();
    EXPECT_TRUE(sheetHas(*sheet, QStringLiteral("录入的对账单期末余额（2025-10-31）")));
    bool red = false;
    for (int r = 1; r < sheet->sheetRows(); ++r)
        if (sheet->displayText(1, r).contains(QStringLiteral("相差 -1.00")))
            red = sheet->cellAt(1, r) && sheet->cellAt(1, r)->alert;
    EXPECT_TRUE(red) << "the difference from the bank stands out";
}

// An exported PDF has the pages the preview and the print have.
TEST_F(ReconcileWindowTest, PdfExportHasThePagesOfThePrint) {
    w->DtpBegin->setDate(QDate(2025, 1, 1));
    w->Query();
    const auto sheet = w->reportSheet();
    auto pages = [](const QString& file) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
        return static_cast<int>(QString::fromLatin1(f.readAll()).count(page));
    };
    QPrinter& printer = w->printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("print.pdf"));
    printSheet(*sheet, printer, QStringLiteral("银行存款余额调节表"));
    QString error;
    ASSERT_TRUE(exportSheet(*sheet, dir.filePath("export.pdf"), &error, printer.pageLayout()))
        << error.toStdString();
    const int printed = pages(dir.filePath("print.pdf"));
    EXPECT_GT(printed, 1);
    EXPECT_EQ(pages(dir.filePath("export.pdf")), printed);
}

// Pictures of the window before and after automatic matching and of the
// statement's preview; run by hand with --gtest_also_run_disabled_tests
// (LEDGER_SHOTS names the folder, /tmp by default).
TEST_F(ReconcileWindowTest, DISABLED_Pictures) {
    Messages msgs;
    const QString out = qEnvironmentVariable("LEDGER_SHOTS", QStringLiteral("/tmp"));
    w->show();
    EXPECT_TRUE(w->grab().save(out + "/reconcile-before.png"));
    w->AutoMatch();
    EXPECT_TRUE(w->grab().save(out + "/reconcile-after.png"));
    // The statement after the whole year has been matched.
    w->DtpBegin->setDate(QDate(2025, 1, 1));
    w->AutoMatch();
    const auto sheet = w->reportSheet();
    QPrinter printer;
    QPrintPreviewWidget preview(&printer);
    QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, [&](QPrinter* p) {
        printSheet(*sheet, *p, QStringLiteral("银行存款余额调节表"));
    });
    preview.resize(900, 1100);
    preview.show();
    preview.updatePreview();
    preview.fitToWidth();
    EXPECT_TRUE(preview.grab().save(out + "/reconcile-report.png"));
}

}  // namespace
