// The import wizard and its column picker, driven offscreen over the host's
// converter, and the journal window's "从文件中导入".
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTabBar>
#include <QTest>

#include "Convert.h"
#include "JournalHelpers.h"
#include "Workbook.h"
#include "untColumnMapingForm.h"
#include "untImportWizardForm.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

using Strings = std::vector<std::string>;
using Row = std::pair<std::string, std::string>;

const std::string kFailed = "导入数据出错。错误信息：";
const std::string kAsk = "导入数据可能造成重复、或者覆盖原来数据，确实要导入吗？";

class WizardTest : public BookTest {
  protected:
    void SetUp() override {
        BookTest::SetUp();
        conv = std::make_unique<TCaGlideConvert>("", ctCaGlide, true);
        conv->GlideMng = &mng;
        wizard = std::make_unique<TfrmImportWizard>();
        wizard->Convert = conv.get();
    }
    void TearDown() override {
        wizard.reset();
        conv.reset();
        BookTest::TearDown();
    }
    std::string csv(const std::string& name, const Strings& lines) {
        std::string text;
        for (const auto& l : lines) text += l + "\n";
        QString p = dir.filePath(QString::fromStdString(name));
        QFile f(p);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), static_cast<qint64>(text.size()));
        return p.toStdString();
    }
    // Goes to the mapping page with that file; answers no message.
    void toMapping(const std::string& file) {
        wizard->edtFile->setText(QString::fromStdString(file));
        wizard->btnNextClick();
        ASSERT_EQ(page(), 1);
    }
    int page() const { return wizard->pgcWizard->currentIndex(); }
    // The mapping list as (field, file column) rows.
    std::vector<std::pair<std::string, std::string>> listed() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (int i = 0; i < wizard->lstvMaping->topLevelItemCount(); ++i) {
            auto* it = wizard->lstvMaping->topLevelItem(i);
            out.emplace_back(it->text(0).toStdString(), it->text(1).toStdString());
        }
        return out;
    }
    void select(int row) {
        wizard->lstvMaping->setCurrentItem(wizard->lstvMaping->topLevelItem(row));
    }
    int storedCount() {
        Stmt s = db().prepare("SELECT COUNT(*) FROM CaCollateGlide");
        s.step();
        return s.i32(0);
    }

    TCaGlideMng mng{"CaCollateGlide"};
    std::unique_ptr<TCaGlideConvert> conv;
    std::unique_ptr<TfrmImportWizard> wizard;
};

TEST_F(WizardTest, PagesButtonsAndHints) {
    EXPECT_EQ(wizard->windowTitle(), QStringLiteral("数据导入向导"));
    EXPECT_FALSE(wizard->pgcWizard->tabBar()->isVisibleTo(wizard.get()));
    struct Step {
        int page;
        bool prevEnabled;
        const char* next;
        const char* group;
        const char* hint;
    };
    const Step first{0, false, "下一步(&N)", "选择文件",
                     "选择文件，选择要导入的数据文件\r\n"
                     "注意：Excel文件第一行为列说明，文本文件以半角逗号为分隔符。"};
    const Step second{1, true, "完成(&F)", "映射字段",
                      "映射字段，设置文件和数据字段之间的映射关系。"};
    auto check = [&](const Step& s) {
        EXPECT_EQ(page(), s.page);
        EXPECT_EQ(wizard->btnPrev->isEnabled(), s.prevEnabled);
        EXPECT_EQ(wizard->btnNext->text().toStdString(), s.next);
        EXPECT_EQ(wizard->grpbWizard->title().toStdString(), s.group);
        // The memo shows CR LF as one line break.
        EXPECT_EQ(wizard->mmoWizard->toPlainText(),
                  QString::fromUtf8(s.hint).replace("\r\n", "\n"));
    };
    check(first);
    toMapping(csv("a.csv", {"日期,摘要", "2024-03-02,a"}));
    check(second);
    wizard->btnPrevClick();
    check(first);
    EXPECT_EQ(wizard->result(), 0);  // still open
}

TEST_F(WizardTest, AnotherFileAfterGoingBackIsReadAfresh) {
    toMapping(csv("a.csv", {"日期,摘要", "2024-03-02,a"}));
    ASSERT_EQ(listed().size(), 11u);
    EXPECT_EQ(listed()[0], Row("日期", "日期"));
    EXPECT_EQ(listed()[2], Row("摘要", "摘要"));
    wizard->btnPrevClick();
    std::string b = csv("b.csv", {"借方金额,日期", "1,2024-03-02"});
    toMapping(b);
    EXPECT_EQ(conv->FileName(), b);
    EXPECT_EQ(listed()[2], Row("摘要", ""));
    EXPECT_EQ(listed()[3], Row("借方金额", "借方金额"));
    for (std::size_t i = 0; i < conv->ColumnMaps.size(); ++i)
        EXPECT_EQ(listed()[i].second, conv->ColumnMaps[i].FileColumn);
}

TEST_F(WizardTest, PathIsTrimmedAndMissingFilesStopOnPageOne) {
    std::string file = csv("a.csv", {"日期", "2024-03-02"});
    {
        Messages msgs;
        for (const std::string& bad :
             {std::string(), std::string("   "), dir.filePath("nothere.csv").toStdString(),
              dir.path().toStdString()}) {
            wizard->edtFile->setText(QString::fromStdString(bad));
            wizard->btnNextClick();
            EXPECT_EQ(page(), 0) << bad;
        }
        ASSERT_EQ(msgs.shown.size(), 4u);
        for (const auto& m : msgs.shown) {
            EXPECT_EQ(m.text, "文件不存在");
            EXPECT_EQ(m.caption, "提示");
            EXPECT_EQ(m.flags, MB_ICONWARNING);
        }
    }
    toMapping("  " + file + " \t");
    EXPECT_EQ(conv->FileName(), file);
}

TEST_F(WizardTest, BrowseFillsThePath) {
    seams::FileRequest asked;
    std::optional<QString> answer = QStringLiteral("/tmp/chosen.xls");
    seams::Scoped<seams::FileHook> hook(seams::fileHook(),
                                        [&](QWidget*, const seams::FileRequest& r) {
                                            asked = r;
                                            return answer;
                                        });
    wizard->edtFile->setText("typed");
    wizard->btnLoadClick();
    EXPECT_EQ(wizard->edtFile->text(), QStringLiteral("/tmp/chosen.xls"));
    EXPECT_TRUE(asked.filter.startsWith(QStringLiteral("Excel文件(*.xls)|*.xls|")));
    EXPECT_EQ(asked.defaultExt, QStringLiteral("xls"));
    answer.reset();  // cancelled: the path stays
    wizard->btnLoadClick();
    EXPECT_EQ(wizard->edtFile->text(), QStringLiteral("/tmp/chosen.xls"));
}

TEST_F(WizardTest, MappingAFieldThroughThePicker) {
    toMapping(csv("a.csv", {"日期,收入,支出", "2024-03-02,1,"}));
    {
        Messages msgs;
        wizard->btnMapingClick();
        ASSERT_EQ(msgs.shown.size(), 1u);
        EXPECT_EQ(msgs.shown[0].text, "请选择一个字段。");
        EXPECT_EQ(msgs.shown[0].flags, MB_ICONQUESTION | MB_OK);
        EXPECT_EQ(msgs.shown[0].caption, "提示");
    }
    select(3);  // 借方金额
    Modals modals([](QDialog& d) {
        auto& picker = dynamic_cast<TfrmColumnMaping&>(d);
        picker.show();
        EXPECT_EQ(picker.windowTitle(), QStringLiteral("映射字段"));
        EXPECT_EQ(picker.lblColumn->text(), QStringLiteral("借方金额"));
        EXPECT_EQ(picker.cmbColumn->count(), 3);
        EXPECT_EQ(picker.cmbColumn->currentIndex(), -1);
        picker.cmbColumn->setCurrentIndex(1);
        picker.btnOkClick();
        return picker.result();
    });
    wizard->btnMapingClick();
    EXPECT_EQ(listed()[3].second, "收入");
    EXPECT_EQ(conv->ColumnMaps[3].FileColumn, "收入");

    // Cancel changes nothing; the current column is offered selected.
    Modals cancel([](QDialog& d) {
        auto& picker = dynamic_cast<TfrmColumnMaping&>(d);
        picker.show();
        EXPECT_EQ(picker.cmbColumn->currentText(), QStringLiteral("收入"));
        picker.cmbColumn->setCurrentIndex(2);
        picker.btnCancelClick();
        return picker.result();
    });
    wizard->btnMapingClick();
    EXPECT_EQ(conv->ColumnMaps[3].FileColumn, "收入");
    EXPECT_EQ(cancel.shown, Strings{"TfrmColumnMaping"});
}

// On the mapping page Tab goes round the page's controls, the field list
// among them, and Enter in the list maps the field the cursor is on.
TEST_F(WizardTest, MappingPageByKeyboard) {
    wizard->show();
    toMapping(csv("a.csv", {"日期,收入,支出", "2024-03-02,1,"}));
    EXPECT_EQ(wizard->focusWidget(), wizard->lstvMaping);
    QStringList round;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(wizard->focusWidget(), Qt::Key_Tab);
        round << wizard->focusWidget()->objectName();
    }
    EXPECT_EQ(round, (QStringList{"btnMaping", "btnClear", "btnPrev", "btnNext", "btnClose",
                                  "lstvMaping"}));
    Messages msgs;  // none: not the import's question
    Modals modals([&](QDialog& d) {
        EXPECT_EQ(dynamic_cast<TfrmColumnMaping&>(d).FieldCaption, listed()[2].first);
        return mrCancel;
    });
    for (Qt::Key k : {Qt::Key_Home, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return})
        QTest::keyClick(wizard->lstvMaping, k);
    EXPECT_EQ(modals.shown, Strings{"TfrmColumnMaping"});
}

TEST_F(WizardTest, PickerSelection) {
    const Strings columns = {"a", "b", "a", "A"};
    struct Case {
        const char* current;
        int selected;
        int index = -1;  // the position the mapping names
    };
    for (const Case& c :
         {Case{"a", 0}, Case{"a", 2, 2}, Case{"b", 1}, Case{"A", 3}, Case{"", -1}, Case{"x", -1}}) {
        TfrmColumnMaping picker;
        picker.FileColumns = &columns;
        picker.FieldCaption = "摘要";
        picker.FileColumn = c.current;
        picker.FileColumnIndex = c.index;
        picker.show();
        EXPECT_EQ(picker.cmbColumn->currentIndex(), c.selected) << c.current;
        EXPECT_EQ(picker.lblColumn->text(), QStringLiteral("摘要"));
        Messages msgs;
        picker.btnOkClick();
        if (c.selected < 0) {
            EXPECT_EQ(msgs.texts(), Strings{"请选择映射字段。"});
            EXPECT_EQ(msgs.shown[0].flags, MB_ICONWARNING);
            EXPECT_EQ(picker.result(), 0);  // stays open
            EXPECT_EQ(picker.FileColumn, c.current);
        } else {
            EXPECT_TRUE(msgs.shown.empty());
            EXPECT_EQ(picker.result(), mrOk);
            EXPECT_EQ(picker.FileColumn, columns[static_cast<std::size_t>(c.selected)]);
            EXPECT_EQ(picker.FileColumnIndex, c.selected);
        }
    }
}

TEST_F(WizardTest, ClearingAMapping) {
    toMapping(csv("a.csv", {"日期,摘要", "2024-03-02,a"}));
    auto before = conv->ColumnMaps;
    wizard->btnClearClick();  // nothing selected
    select(1);                // 统一号, not mapped
    wizard->btnClearClick();
    EXPECT_EQ(listed()[1].second, "");
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(conv->ColumnMaps[i].FileColumn, before[i].FileColumn);
    select(2);  // 摘要
    wizard->btnClearClick();
    EXPECT_EQ(listed()[2].second, "");
    EXPECT_EQ(conv->ColumnMaps[2].FileColumn, "");
    EXPECT_EQ(conv->ColumnMaps[0].FileColumn, "日期");
}

TEST_F(WizardTest, AnsweringNoImportsNothing) {
    mng.CaGlideQry()->SetASCode("1001");
    toMapping(csv("a.csv", {"日期,摘要", "2024-03-02,a"}));
    select(2);
    wizard->btnClearClick();
    Messages msgs;
    msgs.answer(IDNO);
    wizard->btnNextClick();
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_EQ(msgs.shown[0].text, kAsk);
    EXPECT_EQ(msgs.shown[0].flags, MB_ICONQUESTION | MB_YESNO);
    EXPECT_EQ(page(), 1);
    EXPECT_EQ(wizard->result(), 0);
    EXPECT_EQ(conv->ColumnMaps[2].FileColumn, "");
    EXPECT_EQ(listed()[2].second, "");
    EXPECT_EQ(storedCount(), 0);
}

TEST_F(WizardTest, ConverterErrorsAreShownAndTheWizardStaysOpen) {
    mng.CaGlideQry()->SetASCode("1001");
    std::string good = csv("good.csv", {"日期,借方金额", "2024-03-02,1"});
    toMapping(good);
    auto rowsBefore = listed();
    wizard->btnPrevClick();
    QFile bad(dir.filePath("bad.xls"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(600, '\x7F'));
    bad.close();
    {
        Messages msgs;
        wizard->edtFile->setText(bad.fileName());
        wizard->btnNextClick();
        ASSERT_EQ(msgs.shown.size(), 1u);
        EXPECT_EQ(
            msgs.shown[0].text.rfind(kFailed + "无法读取文件 " + bad.fileName().toStdString(), 0),
            0u)
            << msgs.shown[0].text;
        EXPECT_EQ(msgs.shown[0].flags, MB_ICONERROR);
        EXPECT_EQ(msgs.shown[0].caption, "提示");
    }
    // Still on the file page: nothing of the earlier file is left to import.
    EXPECT_EQ(page(), 0);
    EXPECT_EQ(wizard->btnNext->text(), QStringLiteral("下一步(&N)"));
    EXPECT_EQ(wizard->result(), 0);
    // Once a readable file is read again, the mapping page is as before.
    wizard->edtFile->setText(QString::fromStdString(good));
    wizard->btnNextClick();
    EXPECT_EQ(page(), 1);
    EXPECT_EQ(listed(), rowsBefore);

    // A failing import: a bad amount on row 3.
    wizard->btnPrevClick();
    toMapping(csv("amount.csv", {"日期,借方金额", "2024-03-02,1", "2024-03-03,x"}));
    Messages msgs;
    wizard->btnNextClick();
    EXPECT_EQ(msgs.texts(),
              (Strings{kAsk, kFailed + "第 3 行（列“借方金额”）的金额“x”不是金额：只能有数字、"
                                       "一个小数点，千位分隔符“,”只能三位一组。"}));
    EXPECT_EQ(page(), 1);
    EXPECT_EQ(wizard->result(), 0);
    EXPECT_EQ(storedCount(), 0);
    EXPECT_EQ(mng.PendingCount(), 0u);
}

TEST_F(WizardTest, CloseCancels) {
    wizard->btnCloseClick();
    EXPECT_EQ(wizard->result(), mrCancel);
}

// ---- the journal window's menu item ----

class WizardMenuTest : public BookTest {
  protected:
    std::string csv(const std::string& name, const Strings& lines) {
        std::string text;
        for (const auto& l : lines) text += l + "\r\n";
        QString p = dir.filePath(QString::fromStdString(name));
        QFile f(p);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), static_cast<qint64>(text.size()));
        return p.toStdString();
    }
};

TEST_F(WizardMenuTest, AccountChecksBeforeTheWizard) {
    {
        TFrmCashGlide none(nullptr, 7, 3);  // no account of that kind
        Messages msgs;
        Modals modals([](QDialog&) { return mrCancel; });
        none.Mitm_FileinputClick();
        EXPECT_TRUE(msgs.shown.empty());
        EXPECT_TRUE(modals.shown.empty());
    }
    TFrmCashGlide w(nullptr, 1, 3);
    w.CmbAs_Code->setCurrentIndex(1);  // 6222002, stopped
    Messages msgs;
    Modals modals([](QDialog&) { return mrCancel; });
    w.Mitm_FileinputClick();
    EXPECT_EQ(msgs.texts(), Strings{"当前账号已停用！"});
    EXPECT_TRUE(modals.shown.empty());
}

// Without an 账号 column the rows go to the account the window's list shows,
// not to the last query's; the window says so and runs the query again.
TEST_F(WizardMenuTest, RowsGoToTheShownAccountAndShowAtOnce) {
    const std::string file = csv("s.csv", {"日期,借方金额", "2024-03-02,5"});
    TFrmCashGlide w(nullptr, 1, 3);
    queryRange(w, QDate(2024, 3, 1), QDate(2024, 3, 31), 2);  // 6222003
    w.CmbAs_Code->setCurrentIndex(0);                         // 6222001, not queried
    const int rowsBefore = w.Cell->GetRows();
    Messages msgs;
    Modals modals([&](QDialog& d) {
        auto& wizard = dynamic_cast<TfrmImportWizard&>(d);
        wizard.edtFile->setText(QString::fromStdString(file));
        wizard.btnNextClick();
        wizard.btnNextClick();
        return wizard.result();
    });
    w.Mitm_FileinputClick();
    EXPECT_EQ(msgs.texts(), (Strings{kAsk, "导入完成，共导入 1 行到账号 6222001。"}));
    Stmt s = db().prepare("SELECT as_code FROM CaCollateGlide");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "1001");
    EXPECT_EQ(w.CaGlideMng()->CaGlideQry()->AS_Code, "1001") << "the query ran again";
    EXPECT_GT(w.Cell->GetRows(), rowsBefore - 1);
}

TEST_F(WizardMenuTest, FullImportStoresTheRows) {
    std::string xls = dir.filePath("stmt.xls").toStdString();
    writeWorkbook(xls, {{"日期", "摘要", "借方金额", "贷方金额", "结算方式"},
                        {"2024-03-02", "收货款", "1,000.00", "", "支票"},
                        {"2024/3/3", "付房租", "", "300", "01"}});
    TFrmCashGlide w(nullptr, 1, 3);
    queryRange(w, QDate(2024, 3, 1), QDate(2024, 3, 31), 2);  // 6222003
    Messages msgs;
    TManageConvert* seen = nullptr;
    Modals modals([&](QDialog& d) {
        auto& wizard = dynamic_cast<TfrmImportWizard&>(d);
        EXPECT_EQ(wizard.parent(), &w);
        auto* conv = dynamic_cast<TCaGlideConvert*>(wizard.Convert);
        EXPECT_TRUE(conv && conv->GlideMng == w.CaGlideMng());
        seen = wizard.Convert;
        wizard.edtFile->setText(QString::fromStdString(xls));
        wizard.btnNextClick();
        wizard.btnNextClick();
        return wizard.result();
    });
    w.Mitm_FileinputClick();
    EXPECT_EQ(modals.shown, Strings{"TfrmImportWizard"});
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(msgs.texts(), (Strings{kAsk, "导入完成，共导入 2 行到账号 6222003。"}));
    Stmt s = db().prepare(
        "SELECT as_code, create_date, summary, deb_cents, cre_cents, pm_code FROM CaCollateGlide "
        "ORDER BY id");
    std::vector<Strings> rows;
    while (s.step())
        rows.push_back({s.text(0), s.text(1), s.text(2), std::to_string(s.i64(3)),
                        std::to_string(s.i64(4)), s.text(5)});
    EXPECT_EQ(rows, (std::vector<Strings>{{"1003", "2024-03-02", "收货款", "100000", "0", "PM2"},
                                          {"1003", "2024-03-03", "付房租", "0", "30000", "PM1"}}));
    EXPECT_EQ(w.CaGlideMng()->PendingCount(), 0u);
}

// Saves a picture of each page for a person to look at:
//   ledger_tests --gtest_also_run_disabled_tests --gtest_filter='*Screenshots*'
// writes wizard-page1.png, wizard-page2.png and picker.png to $WIZARD_SHOTS (or /tmp).
TEST_F(WizardTest, DISABLED_Screenshots) {
    const QString out = qEnvironmentVariable("WIZARD_SHOTS", QStringLiteral("/tmp"));
    std::string file = csv("银行流水.csv", {"交易日期,日期,摘要,借方金额,贷方金额,对方户名,账号",
                                            "2024-03-02,2024-03-02,a,1,,甲,6222001"});
    wizard->show();
    wizard->edtFile->setText(QString::fromStdString(file));
    wizard->grab().save(out + "/wizard-page1.png");
    wizard->btnNextClick();
    select(2);
    wizard->grab().save(out + "/wizard-page2.png");
    TfrmColumnMaping picker(wizard.get());
    picker.FileColumns = &conv->GetFileColumnCaptions();
    picker.FieldCaption = "摘要";
    picker.FileColumn = "摘要";
    picker.show();
    picker.grab().save(out + "/picker.png");
}

}  // namespace
