// The filter panel as a query, and the sort-order dialog.
#include <gtest/gtest.h>

#include <QApplication>

#include "JournalHelpers.h"
#include "Unt_OrderSet.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

class QueryTest : public BookTest {
  protected:
    void SetUp() override {
        BookTest::SetUp();
        addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-02", 100, 0, "收款");
        addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-05", 0, 40, "付款");
        addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-09", 250, 0, "收款");
        addRow(db(), "CaCollateGlide", "001", "1003", "2024-03-09", 70, 0, "别的账户");
    }
};

}  // namespace

TEST_F(QueryTest, FilterPanelReachesConditionsFieldByField) {
    TFrmCashGlide w(nullptr, 1, 3);
    w.show();
    w.CMB_SetCode->setCurrentIndex(1);
    w.CmbAs_Code->setCurrentIndex(2);
    w.DTPBCreateDate->setDate(QDate(2024, 3, 1));
    w.DTPECreateDate->setDate(QDate(2024, 3, 31));
    w.Edt_FirstNo->setValue(2);
    w.Edt_EndNo->setValue(1234);
    w.Cmb_operSymble->setCurrentIndex(6);  // 至
    EXPECT_TRUE(w.EDT_FirstMonery->isEnabled());
    w.EDT_FirstMonery->setValue(10);
    w.EDT_ENdMonery->setValue(300.5);
    w.Cmb_operSymble->setCurrentIndex(5);  // 等于: the first amount is disabled but still passed
    EXPECT_FALSE(w.EDT_FirstMonery->isEnabled());
    EXPECT_TRUE(w.EDT_ENdMonery->isEnabled());
    w.Edt_summary->setText(" 收款");
    w.Edt_PayCode->setText("88");
    w.Cmb_ApplyUser->setCurrentIndex(2);
    w.tbtnSetClick();
    const TCaGlideQry& c = *w.CaGlideMng()->CaGlideQry();
    EXPECT_EQ(c.SetCode, "001");
    EXPECT_EQ(c.AS_Code, "1003");
    EXPECT_EQ(c.BCreateDate, "2024-03-01");
    EXPECT_EQ(c.ECreateDate, "2024-03-31");
    EXPECT_EQ(c.BDateOrNo, 2);
    EXPECT_EQ(c.EDateOrNo, 1234);
    EXPECT_EQ(c.OperSymble, "等于");
    EXPECT_EQ(c.BMoney, 10);
    EXPECT_EQ(c.EMoney, 300.5);
    EXPECT_EQ(c.Summary, " 收款");
    EXPECT_EQ(c.PayCode, "88");
    EXPECT_EQ(c.ApplyUser, "u2");

    // The blank book set clears the book-set condition; the blank user clears the user.
    w.CMB_SetCode->setCurrentIndex(0);
    w.Cmb_ApplyUser->setCurrentIndex(0);
    w.tbtnSetClick();
    EXPECT_EQ(c.SetCode, "");
    EXPECT_EQ(c.ApplyUser, "");
}

TEST_F(QueryTest, QueryLeavesTheFocusInTheGrid) {
    TFrmCashGlide w(nullptr, 1, 3);
    w.show();
    QApplication::setActiveWindow(&w);
    w.Edt_summary->setFocus();
    w.tbtnSetClick();
    EXPECT_EQ(w.focusWidget(), w.Cell);
}

TEST_F(QueryTest, GridShowsOnlyMatchingRows) {
    TFrmCashGlide w(nullptr, 1, 3);
    w.show();
    queryRange(w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    EXPECT_EQ(shownSummaries(w), (std::vector<std::string>{"收款", "付款", "收款"}));
    w.Edt_summary->setText("收款");
    w.tbtnSetClick();
    EXPECT_EQ(shownSummaries(w), (std::vector<std::string>{"收款", "收款"}));
    w.Edt_summary->clear();
    w.Cmb_operSymble->setCurrentIndex(1);  // 大于等于
    w.EDT_ENdMonery->setValue(100);
    w.tbtnSetClick();
    EXPECT_EQ(shownSummaries(w), (std::vector<std::string>{"收款", "收款"}));
    w.DTPECreateDate->setDate(QDate(2024, 3, 4));
    w.tbtnSetClick();
    EXPECT_EQ(shownSummaries(w), (std::vector<std::string>{"收款"}));
}

TEST_F(QueryTest, NoAccountMeansNoQueryAndNoMessage) {
    TFrmCashGlide w(nullptr, 7, 3);  // no account of this kind
    w.show();
    int rows = w.Cell->GetRows();
    TCaGlideQry before = *w.CaGlideMng()->CaGlideQry();
    w.Edt_summary->setText("收款");
    w.tbtnSetClick();
    const TCaGlideQry& after = *w.CaGlideMng()->CaGlideQry();
    EXPECT_EQ(after.Summary, before.Summary);
    EXPECT_EQ(after.BCreateDate, before.BCreateDate);
    EXPECT_EQ(after.SetCode, before.SetCode);
    EXPECT_EQ(w.Cell->GetRows(), rows);
    w.CBAsCodeCloseUp();
    EXPECT_EQ(after.BCreateDate, before.BCreateDate);
}

TEST_F(QueryTest, AccountCloseUpQueriesTodayOfTheAccount) {
    addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-15", 5, 0, "今天");
    TFrmCashGlide w(nullptr, 1, 3);
    w.show();
    w.DTPBCreateDate->setDate(QDate(2024, 1, 1));
    w.CBAsCodeCloseUp();
    const TCaGlideQry& c = *w.CaGlideMng()->CaGlideQry();
    EXPECT_EQ(c.SetCode, "001");
    EXPECT_EQ(c.AS_Code, "1001");
    EXPECT_EQ(c.BCreateDate, "2024-03-15");
    EXPECT_EQ(c.ECreateDate, "2024-03-15");
    EXPECT_EQ(w.DTPBCreateDate->date(), QDate(2024, 1, 1));
    EXPECT_EQ(shownSummaries(w), (std::vector<std::string>{"今天"}));
}

// ---- sort order ----

namespace {

QStringList order(TOrder_itemMng& m) {
    QStringList l;
    m.Assignto(l);
    return l;
}

QStringList lines(TFrm_OrderSet& d) {
    QStringList l;
    for (int i = 0; i < d.lstbItem->count(); ++i) l << d.lstbItem->item(i)->text();
    return l;
}

const QStringList kDefault{"日期", "统一号", "借方金额", "贷方金额", "摘要", "支票号"};

}  // namespace

TEST_F(QueryTest, OrderMovesAtTheEndsOrWithoutSelectionDoNothing) {
    TFrmCashGlide w(nullptr, 1, 3);
    Modals modals([&](QDialog& d) {
        auto& dlg = dynamic_cast<TFrm_OrderSet&>(d);
        dlg.show();
        EXPECT_EQ(lines(dlg), kDefault);
        EXPECT_EQ(dlg.lstbItem->currentRow(), -1);
        dlg.btnUpClick();
        dlg.btnDownClick();
        dlg.lstbItem->setCurrentRow(0);
        dlg.btnUpClick();
        dlg.lstbItem->setCurrentRow(5);
        dlg.btnDownClick();
        EXPECT_EQ(lines(dlg), kDefault);
        dlg.btnCancelClick();
        return dlg.result();
    });
    w.Tlbn_OdersetClick();
    EXPECT_EQ(modals.shown, std::vector<std::string>{"TFrm_OrderSet"});
    EXPECT_EQ(order(*w.orderItemMng()), kDefault);
}

TEST_F(QueryTest, CancelledMovesStayInTheManagerUnstored) {
    TFrmCashGlide w(nullptr, 1, 3);
    const QStringList moved{"借方金额", "日期", "统一号", "贷方金额", "摘要", "支票号"};
    int showing = 0;
    Modals modals([&](QDialog& d) {
        auto& dlg = dynamic_cast<TFrm_OrderSet&>(d);
        dlg.show();
        if (showing++ == 0) {
            dlg.lstbItem->setCurrentRow(2);
            dlg.btnUpClick();
            dlg.btnUpClick();
            EXPECT_EQ(lines(dlg), moved);
        } else {
            EXPECT_EQ(lines(dlg), moved);  // the manager kept the moves
        }
        dlg.btnCancelClick();
        return dlg.result();
    });
    w.Tlbn_OdersetClick();
    w.Tlbn_OdersetClick();
    EXPECT_EQ(showing, 2);
    TOrder_itemMng fresh(w.tableName());
    EXPECT_EQ(order(fresh), kDefault);
}

TEST_F(QueryTest, StoredOrderSurvivesARestartAndWaitsForTheNextQuery) {
    {
        TFrmCashGlide w(nullptr, 1, 3);
        w.show();
        queryRange(w, QDate(2024, 3, 1), QDate(2024, 3, 31));
        auto before = shownSummaries(w);
        Modals modals([&](QDialog& d) {
            auto& dlg = dynamic_cast<TFrm_OrderSet&>(d);
            dlg.show();
            dlg.lstbItem->setCurrentRow(3);  // 贷方金额 to the top
            for (int i = 0; i < 3; ++i) dlg.btnUpClick();
            dlg.btnOkClick();
            return dlg.result();
        });
        w.Tlbn_OdersetClick();
        EXPECT_EQ(shownSummaries(w), before);  // unchanged until the next query
        w.tbtnSetClick();
        EXPECT_EQ(shownSummaries(w), (std::vector<std::string>{"收款", "收款", "付款"}));
    }
    session.reset();
    session = std::make_unique<HostSession>(path(), "001", "u1");
    TFrmCashGlide again(nullptr, 1, 3);
    EXPECT_EQ(order(*again.orderItemMng()).front(), "贷方金额");
    queryRange(again, QDate(2024, 3, 1), QDate(2024, 3, 31));
    EXPECT_EQ(shownSummaries(again), (std::vector<std::string>{"收款", "收款", "付款"}));
}
