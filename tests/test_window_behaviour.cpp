// How the journal window behaves around its commands: who owns its message
// boxes, pickers and forms, its keys and tab order, and the pickers' keyboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "JournalHelpers.h"
#include "Pickers.h"
#include "ReportOutput.h"
#include "Unt_CashGlideAdd.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

void press(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
           const QString& text = {}) {
    QKeyEvent down(QEvent::KeyPress, key, mods, text);
    QCoreApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, key, mods, text);
    QCoreApplication::sendEvent(w, &up);
}

// Records who owns every message box, picker and modal form shown.
struct Owners {
    std::vector<std::pair<std::string, QWidget*>> seen;  // what, owner
    std::function<int(QDialog&)> onModal = [](QDialog&) { return mrCancel; };
    std::function<std::optional<seams::PickResult>(const seams::PickRequest&)> onPick =
        [](const seams::PickRequest&) { return std::nullopt; };
    std::deque<int> replies;
    seams::Scoped<seams::MessageHook> m{seams::messageHook(),
                                        [this](QWidget* owner, const seams::Message& msg) {
                                            seen.emplace_back(msg.text, owner);
                                            if (replies.empty()) return IDOK;
                                            int r = replies.front();
                                            replies.pop_front();
                                            return r;
                                        }};
    seams::Scoped<seams::PickHook> p{seams::pickHook(),
                                     [this](QWidget* owner, const seams::PickRequest& r) {
                                         seen.emplace_back("pick " + r.kind, owner);
                                         return onPick(r);
                                     }};
    seams::Scoped<seams::ModalHook> d{
        seams::modalHook(), [this](QDialog& dlg) {
            seen.emplace_back("form " + dlg.objectName().toStdString(), dlg.parentWidget());
            return onModal(dlg);
        }};
};

class WindowTest : public BookTest {
  protected:
    void SetUp() override {
        BookTest::SetUp();
        addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-02", 0, 40, "付款");
        got = addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-05", 100, 0, "收款");
        db().exec("INSERT INTO vouchers VALUES (77, '001', '2024-03-05', 2, 3, 'u2')");
        db().exec(
            "UPDATE CaCollateGlide SET voucher_class = 2, voucher_id = '77', voucher_no = 3 "
            "WHERE id = " +
            std::to_string(got));
        w = std::make_unique<TFrmCashGlide>(nullptr, 1, 3);
        w->show();
        queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    }
    void TearDown() override {
        w.reset();
        BookTest::TearDown();
    }
    std::int64_t got = 0;
    std::unique_ptr<TFrmCashGlide> w;
};

}  // namespace

// Every message box, picker and form of the row commands belongs to the
// journal window, or to the entry dialog when it comes from there.
TEST_F(WindowTest, RowCommandsOwnTheirMessagesPickersAndForms) {
    Owners o;
    w->Cell->SetCurrentRow(3);  // a heading row
    w->TBtnEditClick();
    w->TBtnDeleteClick();
    w->tbtn_viewVoucherClick();
    w->Cell->SetCurrentRow(gridRowOf(*w, "收款"));
    o.replies = {IDNO};
    w->TBtnDeleteClick();  // declined
    w->tbtn_viewVoucherClick();
    w->Tlbn_OdersetClick();
    QWidget* entry = nullptr;
    o.onModal = [&](QDialog& d) {
        auto* add = dynamic_cast<TFrmCashGlideAdd*>(&d);
        if (!add) return mrCancel;
        entry = add;
        add->show();
        add->edtPayMode->setFocus();
        press(add->edtPayMode, Qt::Key_F4);  // opens the picker
        add->BtSaveClick();                  // both amounts zero: refused
        return mrCancel;
    };
    w->TBtnNewClick();
    ASSERT_NE(entry, nullptr);

    std::vector<std::pair<std::string, QWidget*>> want = {
        {"请选中一条日记记录！", w.get()},
        {"请选中一条日记记录！", w.get()},
        {"请选中一条日记记录！", w.get()},
        {"确定要删除吗？", w.get()},
        {"form frmVoucherView", w.get()},
        {"form", w.get()},  // the sort-order dialog, lent the window
        {"form", w.get()},  // the entry dialog, lent the window
        {"pick PAY_MODE", entry},
        {"借贷方不能同时为零！", entry},
    };
    ASSERT_EQ(o.seen.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        if (want[i].first == "form")
            EXPECT_EQ(o.seen[i].first.rfind("form", 0), 0u) << o.seen[i].first;
        else
            EXPECT_EQ(o.seen[i].first, want[i].first);
        EXPECT_EQ(o.seen[i].second, want[i].second);
    }
}

TEST_F(WindowTest, EnterOrDoubleClickOnAJournalRowOpensIt) {
    Owners o;
    std::vector<std::string> opened;
    o.onModal = [&](QDialog& d) {
        opened.push_back(d.windowTitle().toStdString());
        return mrCancel;
    };
    w->Cell->SetCurrentRow(gridRowOf(*w, "收款"));
    press(w->Cell, Qt::Key_Return);
    emit w->Cell->doubleClicked(w->Cell->currentIndex());
    w->Cell->SetCurrentRow(gridRowOf(*w, kMonthTotal));
    press(w->Cell, Qt::Key_Enter, Qt::KeypadModifier);  // a summary row opens nothing
    EXPECT_EQ(opened, std::vector<std::string>(2, "银行对帐单－－修改"));
    EXPECT_EQ(o.seen.size(), 2u);
}

TEST_F(WindowTest, TabFollowsTheFilterPanelThenTheGrid) {
    const std::vector<QWidget*> want{
        w->CMB_SetCode, w->CmbAs_Code,  w->Cmb_ApplyUser,  w->DTPBCreateDate,  w->DTPECreateDate,
        w->Edt_FirstNo, w->Edt_EndNo,   w->Cmb_operSymble, w->EDT_FirstMonery, w->EDT_ENdMonery,
        w->Edt_summary, w->Edt_PayCode, w->Cell,           w->tbtnClose,       w->tbtnSet};
    std::vector<QWidget*> walked;
    QWidget* at = w->CMB_SetCode;
    for (int guard = 0; guard < 500 && walked.size() < want.size(); ++guard) {
        if (std::find(want.begin(), want.end(), at) != want.end() &&
            std::find(walked.begin(), walked.end(), at) == walked.end())
            walked.push_back(at);
        at = at->nextInFocusChain();
    }
    EXPECT_EQ(walked, want);
    EXPECT_FALSE(w->Cell->tabKeyNavigation());  // Tab leaves the grid
}

TEST_F(WindowTest, CommandsNameTheirKeysAndTheWindowIsRoomy) {
    for (auto [button, key] : {std::pair{w->tbtnSet, "F5"},
                               {w->TBtnNew, "Ctrl+N"},
                               {w->TBtnEdit, "Ctrl+E"},
                               {w->TBtnDelete, "Del"},
                               {w->tbtn_viewVoucher, "F6"},
                               {w->Tlbn_Oderset, "F8"},
                               {w->tbtnPageSetup, "Ctrl+Shift+G"},
                               {w->tbtnPrintSetup, "Ctrl+Shift+R"}}) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_TRUE(button->toolTip().contains(QString::fromUtf8(key)))
            << button->toolTip().toStdString();
    }
    EXPECT_TRUE(w->tbtnSet->toolTip().startsWith(QStringLiteral("查询")));
    // At least 1200 x 700, or all the screen offers when that is less.
    const QSize least = QSize(1200, 700).boundedTo(w->screen()->availableGeometry().size());
    EXPECT_GE(w->width(), least.width());
    EXPECT_GE(w->height(), least.height());
    // The grid uses the window's width; the amounts are never cut.
    int used = 0;
    for (int c = 0; c < w->Cell->GetCols(); ++c) used += w->Cell->columnWidth(c);
    EXPECT_GE(used, w->Cell->viewport()->width() - 4);
    const int balance = gridRowOf(*w, kYearTotal);
    ASSERT_GT(balance, 0);
    QFontMetrics fm(w->Cell->font());
    for (int col : {9, 10, 12})
        EXPECT_GT(w->Cell->columnWidth(col - 1),
                  fm.horizontalAdvance(w->Cell->DisplayText(col, balance)));
}

TEST_F(WindowTest, ExportSuggestsAccountAndDatesInTheDocumentsFolder) {
    const QString name = w->ExportFileName();
    EXPECT_TRUE(name.endsWith(QStringLiteral("/工行基本户 20240301-20240331.xlsx")))
        << name.toStdString();
}

TEST_F(WindowTest, VoucherViewerNamesTheMaker) {
    TfrmVoucherView view(w.get(), "001", "77");
    EXPECT_TRUE(view.lblHeader->text().contains(QStringLiteral("制单人：李四")))
        << view.lblHeader->text().toStdString();
}

TEST(Pickers, TitlesNameWhatIsPicked) {
    EXPECT_EQ(pickerTitle("PAY_MODE"), QStringLiteral("选择结算方式"));
    EXPECT_EQ(pickerTitle("CURRENTS"), QStringLiteral("选择对方单位"));
    EXPECT_EQ(pickerTitle("currents"), QStringLiteral("选择对方单位"));
    EXPECT_EQ(pickerTitle("DEPARTMENT"), QStringLiteral("选择部门"));
    EXPECT_EQ(pickerTitle("Department"), QStringLiteral("选择部门"));
    EXPECT_EQ(pickerTitle("Summary"), QStringLiteral("选择摘要"));
}

TEST(Pickers, FieldKeys) {
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        bool opens;
    };
    for (const Case& c :
         {Case{Qt::Key_F4, Qt::NoModifier, true}, Case{Qt::Key_Down, Qt::AltModifier, true},
          Case{Qt::Key_Return, Qt::NoModifier, true}, Case{Qt::Key_Enter, Qt::KeypadModifier, true},
          Case{Qt::Key_Down, Qt::NoModifier, false}, Case{Qt::Key_Return, Qt::ShiftModifier, false},
          Case{Qt::Key_F4, Qt::AltModifier, false}}) {
        QKeyEvent k(QEvent::KeyPress, c.key, c.mods);
        EXPECT_EQ(opensPicker(k), c.opens) << c.key;
    }
}

// Typing filters, the arrows move over what is left and Enter chooses.
TEST_F(WindowTest, PickerChoosesWithTheKeyboard) {
    struct Case {
        QString typed;
        int downs;
        std::optional<std::string> chosen;
    };
    for (const Case& c : {Case{"02", 0, "支票"}, Case{"", 1, "支票"}, Case{"", 0, "现金"},
                          Case{"公司", 0, std::nullopt}}) {
        SCOPED_TRACE(c.typed.toStdString());
        QString title;
        seams::Scoped<seams::ModalHook> modal(seams::modalHook(), [&](QDialog& d) {
            title = d.windowTitle();
            auto* search = d.findChild<QLineEdit*>(QStringLiteral("edtSearch"));
            EXPECT_NE(search, nullptr);
            if (!search) return mrCancel;
            search->setText(c.typed);
            for (int i = 0; i < c.downs; ++i) press(search, Qt::Key_Down);
            press(search, Qt::Key_Return);
            return d.result();
        });
        auto r = runPicker(w.get(), {"PAY_MODE", ""});
        EXPECT_EQ(title, QStringLiteral("选择结算方式"));
        EXPECT_EQ(r ? std::optional<std::string>(r->name) : std::nullopt, c.chosen);
    }
}

TEST(FileFilters, EachPatternIsWrittenOnce) {
    struct Case {
        const char* windows;
        const char* qt;
    };
    for (const Case& c : {
             Case{"工行对账单文件(*.txt)|*.txt", "工行对账单文件(*.txt)"},
             Case{"Excel文件(*.xls)|*.xls|所有文件(*.*)|*.*", "Excel文件(*.xls);;所有文件(*.*)"},
             Case{"文本文件|*.txt;*.csv", "文本文件 (*.txt *.csv)"},
             Case{"表格(*.xls;*.xlsx)|*.xls;*.xlsx", "表格(*.xls *.xlsx)"},
         }) {
        EXPECT_EQ(qtFileFilter(QString::fromUtf8(c.windows)), QString::fromUtf8(c.qt));
    }
}

// What a printed or exported report covers is written above its columns.
// A folder's name typed into an open dialog's file name box, then Enter,
// enters the folder; a file's name then is chosen as before.
TEST(FileDialogs, TypedFolderNameEntersTheFolder) {
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("三月")));
    QFile(tmp.filePath(QStringLiteral("三月/icbc.txt"))).open(QIODevice::WriteOnly);
    std::unique_ptr<QFileDialog> dlg =
        makeFileDialog(nullptr, {{}, QStringLiteral("工行(*.txt)|*.txt"), 0, ".txt", tmp.path()});
    // Qt's own "not found" box, were it shown, would wait: close it.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget(); box && box != dlg.get()) box->close();
    });
    guard.start(200);
    dlg->show();
    auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QStringLiteral("三月"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(QDir(dlg->directory()).dirName(), QStringLiteral("三月"));
    name->setText(QStringLiteral("icbc"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(QFileInfo(dlg->selectedFiles().value(0)).fileName(), QStringLiteral("icbc.txt"));
}

TEST_F(WindowTest, ReportHeadingNamesAccountAndDates) {
    EXPECT_EQ(w->Cell->GetCellString(9, 2),
              QStringLiteral("账号：6222001 工行基本户    日期：2024-03-01 至 2024-03-31"));
    w->CMB_SetCode->setCurrentIndex(1);  // one book set rather than all
    w->tbtnSetClick();
    EXPECT_EQ(w->Cell->GetCellString(1, 2), QStringLiteral("总公司[001]"));
}

namespace {
int pdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray data = f.readAll();
    return static_cast<int>(data.count("/Type /Page\n") + data.count("/Type /Page\r") +
                            data.count("/Type /Page>>") + data.count("/Type /Page "));
}
}  // namespace

// Preview and print use the window's printer; until the user sets up another
// page it breaks pages as the exported PDF does.
TEST_F(WindowTest, PrintAndExportedPdfBreakPagesAlike) {
    for (int i = 0; i < 150; ++i)
        addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-20", i + 1, 0, "行");
    w->tbtnSetClick();
    const QString printed = dir.filePath("printed.pdf"), exported = dir.filePath("exported.pdf");
    w->printer().setOutputFormat(QPrinter::PdfFormat);
    w->printer().setOutputFileName(printed);
    printSheet(*w->Cell->sheet(), w->printer(), w->windowTitle());
    QString error;
    ASSERT_TRUE(exportSheet(*w->Cell->sheet(), exported, &error)) << error.toStdString();
    EXPECT_GT(pdfPages(exported), 2);
    EXPECT_EQ(pdfPages(printed), pdfPages(exported));
}

namespace {

// An A4 landscape page (within 10 mm margins) at 1200 dpi that keeps the
// texts painted onto it, as the printer receives them.
class TextRecorder final : public QPaintDevice, QPaintEngine {
  public:
    TextRecorder() : QPaintEngine(AllFeatures) {}
    QString texts;
    QPaintEngine* paintEngine() const override { return const_cast<TextRecorder*>(this); }
    int metric(PaintDeviceMetric m) const override {
        if (m == PdmWidth) return 13110;
        if (m == PdmHeight) return 8976;
        if (m == PdmWidthMM) return 277;
        if (m == PdmHeightMM) return 190;
        if (m == PdmDevicePixelRatioScaled) return static_cast<int>(devicePixelRatioFScale());
        return m == PdmDepth ? 32 : m == PdmDevicePixelRatio ? 1 : 1200;  // the dpis
    }
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawTextItem(const QPointF&, const QTextItem& item) override { texts += item.text(); }
    Type type() const override { return User; }
};

}  // namespace

// Printed and previewed pages say the account and the whole period over the
// amount columns, never cut; the preview opens at the page's width.
TEST_F(WindowTest, PrintedPagesSayTheWholePeriodAndThePreviewFitsTheWidth) {
    // The year over 月 and 日 is the rows' (the book set's own here, another
    // once the rows asked for lie in it or span two).
    queryRange(*w, QDate(2023, 12, 1), QDate(2024, 1, 31));
    EXPECT_EQ(w->Cell->GetCellString(1, 3), QStringLiteral("2023—2024年"));
    queryRange(*w, QDate(2024, 1, 1), QDate(2024, 12, 31));
    EXPECT_EQ(w->Cell->GetCellString(1, 3), QStringLiteral("2024年"));
    const QString heading = w->Cell->GetCellString(9, 2);
    ASSERT_TRUE(heading.endsWith(QStringLiteral("日期：2024-01-01 至 2024-12-31")));
    TextRecorder page;
    QPainter painter(&page);
    paintSheet(
        *w->Cell->sheet(), painter, page, [] { return true; }, w->windowTitle());
    painter.end();
    EXPECT_TRUE(page.texts.contains(heading)) << page.texts.toStdString();
    EXPECT_FALSE(page.texts.contains(QChar(0x2026)));  // nothing cut ("…")
    Owners o;
    o.onModal = [&](QDialog& d) {
        EXPECT_EQ(d.findChild<QPrintPreviewWidget*>()->zoomMode(), QPrintPreviewWidget::FitToWidth);
        return mrCancel;
    };
    w->tbtnPrivewClick();
    EXPECT_EQ(o.seen.size(), 1u);
}

// Column widths the user chose come back in the next window of the same kind.
TEST_F(WindowTest, ColumnWidthsAreRememberedPerJournal) {
    w->Cell->setColumnWidth(2, 137);  // 统一号
    w->close();
    TFrmCashGlide again(nullptr, 1, 3);
    again.show();
    queryRange(again, QDate(2024, 3, 1), QDate(2024, 3, 31));
    EXPECT_EQ(again.Cell->columnWidth(2), 137);
    TFrmCashGlide cash(nullptr, 2, 1);  // another journal keeps its own
    cash.show();
    queryRange(cash, QDate(2024, 3, 1), QDate(2024, 3, 31));
    EXPECT_NE(cash.Cell->columnWidth(2), 137);
}

// Where rows are drawn from vouchers, Enter on a row shows its voucher.
TEST_F(WindowTest, EnterShowsTheVoucherWhereRowsComeFromVouchers) {
    open(BookOptions{.inputMode = "1"});
    addRow(db(), "CaGlide", "001", "1001", "2024-03-05", 100, 0, "收款");
    db().exec("INSERT INTO vouchers VALUES (78, '001', '2024-03-05', 2, 4, 'u1')");
    db().exec("UPDATE CaGlide SET voucher_class = 2, voucher_id = '78', voucher_no = 4");
    TFrmCashGlide bank(nullptr, 1, 2);
    bank.show();
    queryRange(bank, QDate(2024, 3, 1), QDate(2024, 3, 31));
    Owners o;
    bank.Cell->SetCurrentRow(gridRowOf(bank, "收款"));
    press(bank.Cell, Qt::Key_Return);
    ASSERT_EQ(o.seen.size(), 1u);
    EXPECT_EQ(o.seen[0].first, "form frmVoucherView");
    EXPECT_EQ(o.seen[0].second, &bank);
}

TEST_F(WindowTest, ReportHeadingIsReadInFull) {
    int over = 0;
    for (int c = 8; c < 12; ++c) over += w->Cell->columnWidth(c);
    EXPECT_GT(over, w->Cell->fontMetrics().horizontalAdvance(w->Cell->GetCellString(9, 2)));
}

// A narrow tool bar offers the buttons that do not fit in its "»" menu.
TEST_F(WindowTest, NarrowToolBarOffersTheRestInItsOverflowMenu) {
    EXPECT_FALSE(w->tlbAssSumRpt->overflowButton()->isVisibleTo(w.get()));
    w->resize(w->minimumSize());
    QToolButton* more = w->tlbAssSumRpt->overflowButton();
    ASSERT_TRUE(more->isVisibleTo(w.get()));
    QStringList offered;
    for (QAction* a : more->menu()->actions())
        if (!a->isSeparator()) offered << a->text();
    EXPECT_TRUE(offered.contains(w->Tlbn_Oderset->text()));
    EXPECT_FALSE(offered.contains(w->tbtnClose->text()));
    // The filter panel scrolls rather than being cut.
    EXPECT_GT(w->Panel1->minimumWidth(), w->width());
    EXPECT_TRUE(w->Panel1->parentWidget()->parentWidget()->inherits("QScrollArea"));
}
