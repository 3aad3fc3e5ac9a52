// New, modify, delete and view voucher from the journal window.
#include <gtest/gtest.h>

#include <functional>

#include "JournalHelpers.h"
#include "Pickers.h"
#include "Unt_CashGlideAdd.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

class RowCommandTest : public BookTest {
  protected:
    void SetUp() override {
        BookTest::SetUp();
        paid = addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-02", 0, 40, "付款");
        got = addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-05", 100, 0, "收款");
        db().exec("INSERT INTO vouchers VALUES (77, '001', '2024-03-05', 2, 3, 'u1')");
        db().exec(
            "INSERT INTO voucher_lines (voucher_id, line_no, subject_code, summary, deb_cents) "
            "VALUES (77, 1, '100201', '收款', 10000)");
        db().exec(
            "UPDATE CaCollateGlide SET voucher_class = 2, voucher_id = '77', voucher_no = 3 WHERE "
            "id = " +
            std::to_string(got));
        w = std::make_unique<TFrmCashGlide>(nullptr, 1, 3);
        w->show();
        queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    }
    void TearDown() override {
        w.reset();
        BookTest::TearDown();
    }
    std::int64_t count() {
        Stmt s = db().prepare("SELECT COUNT(*) FROM CaCollateGlide");
        s.step();
        return s.i64(0);
    }
    std::int64_t paid = 0, got = 0;
    std::unique_ptr<TFrmCashGlide> w;
};

}  // namespace

TEST_F(RowCommandTest, SummaryAndHeadingRowsAreNotEntries) {
    for (int row : {gridRowOf(*w, kMonthTotal), gridRowOf(*w, kYearTotal),
                    gridRowOf(*w, kPeriodOpening), 3}) {
        ASSERT_GT(row, 0);
        w->Cell->SetCurrentRow(row);
        Messages msgs;
        w->TBtnEditClick();
        w->TBtnDeleteClick();
        w->tbtn_viewVoucherClick();
        EXPECT_EQ(msgs.texts(), std::vector<std::string>(3, "请选中一条日记记录！"));
    }
    EXPECT_EQ(count(), 2);
}

TEST_F(RowCommandTest, StoppedAccountRefusesChangesButShowsVouchers) {
    w->CmbAs_Code->setCurrentIndex(1);  // 6222002 建行一般户 [已停用]
    w->Cell->SetCurrentRow(gridRowOf(*w, "收款"));
    Messages msgs;
    w->TBtnNewClick();
    w->TBtnEditClick();
    w->TBtnDeleteClick();
    EXPECT_EQ(msgs.texts(), std::vector<std::string>(3, "当前账号已停用！"));
    Modals modals([](QDialog& d) {
        auto& view = dynamic_cast<TfrmVoucherView&>(d);
        EXPECT_TRUE(view.found());
        return mrCancel;
    });
    w->tbtn_viewVoucherClick();
    EXPECT_EQ(modals.shown, std::vector<std::string>{"ledgerhost::TfrmVoucherView"});
    EXPECT_EQ(count(), 2);
}

TEST_F(RowCommandTest, NewWithoutAccountAsksForOne) {
    TFrmCashGlide none(nullptr, 7, 3);
    Messages msgs;
    none.TBtnNewClick();
    EXPECT_EQ(msgs.texts(), std::vector<std::string>{"请选择某一账号！"});
}

TEST_F(RowCommandTest, DeclinedDeleteLeavesTheRow) {
    int row = gridRowOf(*w, "付款");
    w->Cell->SetCurrentRow(row);
    TCaGlide* entry = w->CaGlide();
    entry->OperFlag = "x";
    Messages msgs;
    msgs.answer(IDNO);
    w->TBtnDeleteClick();
    EXPECT_EQ(msgs.texts(), std::vector<std::string>{"确定要删除吗？"});
    EXPECT_EQ(entry->OperFlag, "x");
    EXPECT_EQ(count(), 2);
}

TEST_F(RowCommandTest, ConfirmedDeleteRemovesAndRedraws) {
    w->Cell->SetCurrentRow(gridRowOf(*w, "付款"));
    Messages msgs;
    w->TBtnDeleteClick();
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(shownSummaries(*w), std::vector<std::string>{"收款"});
}

TEST_F(RowCommandTest, FailedDeleteShowsTheReasonAndKeepsTheGrid) {
    db().exec("UPDATE CaCollateGlide SET reconciled = 1 WHERE id = " + std::to_string(paid));
    w->Cell->SetCurrentRow(gridRowOf(*w, "付款"));
    int rows = w->Cell->GetRows();
    TCaGlide* entry = w->CaGlide();
    Messages msgs;
    w->TBtnDeleteClick();
    ASSERT_EQ(msgs.shown.size(), 2u);
    EXPECT_EQ(msgs.shown[1].kind, seams::MsgKind::MsgError);
    EXPECT_EQ(msgs.shown[1].text, entry->ErrorText);
    EXPECT_FALSE(entry->ErrorText.empty());
    EXPECT_EQ(w->CaGlide(), entry);  // not rebuilt
    EXPECT_EQ(w->Cell->GetRows(), rows);
    EXPECT_EQ(count(), 2);
}

TEST_F(RowCommandTest, ViewVoucherNeedsTypeAndIdentifier) {
    // Rows take their type from the voucher they link to; a link to a voucher
    // that no longer exists keeps the stored type 0.
    db().exec("UPDATE CaCollateGlide SET voucher_class = 0, voucher_id = '78' WHERE id = " +
              std::to_string(paid));
    queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    w->Cell->SetCurrentRow(gridRowOf(*w, "付款"));
    w->tbtn_viewVoucherClick();  // type 0: nothing, no message
    db().exec("UPDATE CaCollateGlide SET voucher_class = 1, voucher_id = '' WHERE id = " +
              std::to_string(paid));
    queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    w->Cell->SetCurrentRow(gridRowOf(*w, "付款"));
    w->tbtn_viewVoucherClick();  // no identifier: nothing
    db().exec("UPDATE CaCollateGlide SET voucher_class = 1, voucher_id = '0' WHERE id = " +
              std::to_string(paid));
    queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    w->Cell->SetCurrentRow(gridRowOf(*w, "付款"));
    Modals modals([](QDialog& d) {
        EXPECT_FALSE(dynamic_cast<TfrmVoucherView&>(d).found());
        return mrCancel;
    });
    w->tbtn_viewVoucherClick();
    EXPECT_EQ(modals.shown.size(), 1u);
}

TEST_F(RowCommandTest, AddPreparesAFreshEntry) {
    Modals modals([&](QDialog& d) {
        auto& dlg = dynamic_cast<TFrmCashGlideAdd&>(d);
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("银行对帐单－－新增"));
        EXPECT_EQ(dlg.EditMode, "0");
        EXPECT_TRUE(static_cast<bool>(dlg.RowSaved));  // the window asks to be told of a save
        const TCaGlide& e = *dlg.CaGlide();
        EXPECT_EQ(e.SetCode, "001");
        EXPECT_EQ(e.AS_Code, "1001");
        EXPECT_EQ(e.CreateDate, "2024-03-15");
        EXPECT_EQ(e.ApplyUser, "u1");
        EXPECT_EQ(e.OperFlag, "0");
        EXPECT_EQ(dlg.TableName, "CaCollateGlide");
        return mrCancel;
    });
    w->TBtnNewClick();
    EXPECT_EQ(modals.shown.size(), 1u);
}

TEST_F(RowCommandTest, CancelAfterSaveAndContinueKeepsTheSavedRows) {
    Modals modals([&](QDialog& d) {
        auto& dlg = dynamic_cast<TFrmCashGlideAdd&>(d);
        dlg.show();
        dlg.EdtDebMoney->setValue(12.5);
        dlg.EdtSummary->setText("续增");
        dlg.BtSaveClick();
        dlg.BtSaveClick();
        dlg.BtcancelClick();
        return dlg.result();
    });
    w->TBtnNewClick();
    EXPECT_EQ(count(), 4);
    // The dialog queried the window again: the rows of the server date are shown.
    w->DTPBCreateDate->setDate(QDate(2024, 3, 1));
    w->tbtnSetClick();
    EXPECT_EQ(shownSummaries(*w), (std::vector<std::string>{"付款", "收款", "续增", "续增"}));
}

TEST_F(RowCommandTest, ModifyEditsACopyFlaggedForUpdate) {
    w->Cell->SetCurrentRow(gridRowOf(*w, "收款"));
    TCaGlide* row = w->CaGlide();
    Modals modals([&](QDialog& d) {
        auto& dlg = dynamic_cast<TFrmCashGlideAdd&>(d);
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("银行对帐单－－修改"));
        EXPECT_EQ(dlg.EditMode, "1");
        EXPECT_NE(dlg.CaGlide(), row);
        EXPECT_EQ(dlg.CaGlide()->OperFlag, "1");
        EXPECT_EQ(dlg.CaGlide()->Id, row->Id);
        EXPECT_FALSE(dlg.BtSave->isVisibleTo(&dlg));
        return mrCancel;
    });
    w->TBtnEditClick();
    EXPECT_EQ(row->OperFlag, "1");
    EXPECT_EQ(modals.shown.size(), 1u);
}

TEST_F(RowCommandTest, ModifyRefusedByTheHostShowsWhy) {
    db().exec("UPDATE CaCollateGlide SET reconciled = 1 WHERE id = " + std::to_string(got));
    w->Cell->SetCurrentRow(gridRowOf(*w, "收款"));
    Messages msgs;
    w->TBtnEditClick();
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_EQ(msgs.shown[0].text, w->CaGlide()->ErrorText);
}

// Where the grid's cursor is after each command, run one after the other on
// one window: on the row just saved, on the deleted row's neighbour, and after
// a query on the row or line it was on (or the first journal row); the focus
// in the grid each time.
TEST_F(RowCommandTest, CursorStaysWhereTheCashierWorks) {
    addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-10", 0, 300, "房租");
    addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-25", 5, 0, "利息");
    queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    Messages msgs;
    auto save = [&](void (TFrmCashGlide::*command)(), QDate date, const char* summary) {
        return [=, this] {
            Modals m([=](QDialog& d) {
                auto& dlg = dynamic_cast<TFrmCashGlideAdd&>(d);
                dlg.show();
                dlg.DTPCreateDate->setDate(date);
                dlg.EdtSummary->setText(QString::fromUtf8(summary));
                dlg.EdtDebMoney->setValue(1);
                dlg.BtSaveCloseClick();
                return dlg.result();
            });
            (w.get()->*command)();
        };
    };
    const auto query = [&] { w->tbtnSetClick(); };
    const auto remove = [&] { w->TBtnDeleteClick(); };
    const struct {
        const char* on;  // the row the cursor is on first; nullptr: a heading row
        std::function<void()> command;
        const char* cursorOn;
    } cases[] = {
        {"房租", query, "房租"},
        {kMonthTotal, query, kMonthTotal},
        {nullptr, query, "付款"},
        {nullptr, save(&TFrmCashGlide::TBtnNewClick, QDate(2024, 3, 20), "新增行"), "新增行"},
        {"付款", save(&TFrmCashGlide::TBtnEditClick, QDate(2024, 3, 28), "付款改"), "付款改"},
        {"收款", remove, "房租"},    // the row after it
        {"付款改", remove, "利息"},  // the last row: the one before it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.on ? c.on : "heading") + " -> " + c.cursorOn);
        w->Cell->SetCurrentRow(c.on ? gridRowOf(*w, c.on) : 3);
        c.command();
        ASSERT_NE(w->CaGlide(), nullptr);
        EXPECT_EQ(w->CaGlide()->Summary, c.cursorOn);
        EXPECT_EQ(w->focusWidget(), w->Cell);
    }
}
