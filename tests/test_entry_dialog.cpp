// The journal entry dialog driven offscreen over the test book: validation and
// its messages, the voucher lookup, the picker edits, the three buttons and
// the journal window they redraw, and the dialog's fixed layout.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextDocument>
#include <functional>
#include <stdexcept>

#include "EntryLink.h"
#include "Fixture.h"
#include "Glide.h"
#include "Unt_CashGlideAdd.h"
#include "Unt_CashGlideForm.h"

using namespace ledgerhost;

namespace {

// A row of the statement table as stored.
struct Stored {
    std::int64_t no = 0;
    double deb = 0, cre = 0;
    std::string date, summary, payCode, pm, cr, dp, remark, voucherId;
    int voucherClass = 0;
    std::string glideFlag;
};

// A statement window that counts its redraws.
class CountingWindow : public TFrmCashGlide {
  public:
    CountingWindow() : TFrmCashGlide(nullptr, 1, jkStatement) {}
    void RebuildGrid() override {
        ++rebuilds;
        TFrmCashGlide::RebuildGrid();
    }
    // Journal rows the window's manager holds, summary rows left out.
    int loadedRows() const {
        int n = 0;
        for (int i = 0; i < CaGlideMng()->GetCount(); ++i)
            if (CaGlideMng()->GetDetails(i)->Id != 0) ++n;
        return n;
    }
    int rebuilds = 0;
};

void doubleClick(QWidget* w) {
    QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(4, 4), w->mapToGlobal(QPointF(4, 4)),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void pressKey(QWidget* w, int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

class EntryDialogTest : public testutil::BookTest {
  protected:
    // A dialog prepared as the journal window prepares one for adding.
    std::unique_ptr<TFrmCashGlideAdd> addDialog(const std::string& asCode = "1001") {
        auto d = std::make_unique<TFrmCashGlideAdd>(nullptr, kStatementTable);
        TCaGlide* r = d->CaGlide();
        r->SetCode = "001";
        r->SetASCode(asCode);
        r->CreateDate = "2024-03-15";
        r->ApplyUser = "u1";
        r->OperFlag = "0";
        d->EditMode = "0";
        return d;
    }

    // A stored row, changed by `adjust` before it is inserted.
    TCaGlide storeRow(const std::function<void(TCaGlide&)>& adjust = {}) {
        TCaGlide r(kStatementTable);
        r.SetCode = "001";
        r.AS_Code = "1001";
        r.CreateDate = "2024-03-15";
        r.ApplyUser = "u1";
        r.DebMoney = 100;
        r.Summary = "原摘要";
        if (adjust) adjust(r);
        EXPECT_TRUE(r.Insert(true)) << r.ErrorText;
        return r;
    }

    // A dialog prepared for modifying a copy of the row.
    std::unique_ptr<TFrmCashGlideAdd> modifyDialog(const TCaGlide& row) {
        auto d = std::make_unique<TFrmCashGlideAdd>(nullptr, kStatementTable);
        d->CaGlide()->CopyFrom(row);
        d->CaGlide()->OperFlag = "1";
        d->EditMode = "1";
        d->BtSave->hide();
        return d;
    }

    void addVoucher(int id, const std::string& date, int type, int number) {
        Stmt s = db().prepare(
            "INSERT INTO vouchers (id, set_code, vdate, voucher_class, voucher_no, maker) "
            "VALUES (?, '001', ?, ?, ?, 'u1')");
        s.bind(1, id).bind(2, date).bind(3, type).bind(4, number);
        s.run();
    }

    std::vector<Stored> stored() {
        std::vector<Stored> out;
        Stmt s = db().prepare(
            "SELECT date_or_no, deb_cents, cre_cents, create_date, summary, pay_code, pm_code, "
            "cr_code, dp_code, remark, voucher_id, voucher_class, glide_flag FROM CaCollateGlide "
            "ORDER BY id");
        while (s.step()) {
            Stored r;
            r.no = s.i64(0);
            r.deb = fromCents(s.i64(1));
            r.cre = fromCents(s.i64(2));
            r.date = s.text(3);
            r.summary = s.text(4);
            r.payCode = s.text(5);
            r.pm = s.text(6);
            r.cr = s.text(7);
            r.dp = s.text(8);
            r.remark = s.text(9);
            r.voucherId = s.text(10);
            r.voucherClass = s.i32(11);
            r.glideFlag = s.text(12);
            out.push_back(r);
        }
        return out;
    }

    // Shows the dialog and makes it the active window, so that focus moves
    // between its controls as it would for a user.
    static void showActive(QDialog& d) {
        d.show();
        d.activateWindow();
        QApplication::processEvents();
    }

    testutil::Messages msgs;
};

// ---- showing ----

TEST_F(EntryDialogTest, AddModeShowsTheEntryAndFetchesTheNextNumber) {
    testutil::addRow(db(), kStatementTable, "001", "1001", "2024-03-01", 5, 0, "", 4);
    auto d = addDialog();
    d->CaGlide()->VoucherClass = 2;
    d->CaGlide()->CreMoney = 12.5;
    d->CaGlide()->VoucherNo = 12;
    d->show();

    EXPECT_EQ(d->EdtAsCode->text(), QStringLiteral("6222001 工行基本户"));
    EXPECT_EQ(d->EdtApplyUser->text(), QStringLiteral("张三"));
    EXPECT_EQ(d->DTPCreateDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(d->EdtCreMoney->Value(), 12.5);
    EXPECT_EQ(d->EdtVoucher_ID->text(), QStringLiteral("12"));
    EXPECT_EQ(d->CaGlide()->DateOrNo, "5");
    EXPECT_EQ(d->EdtDataOrNo->text(), QStringLiteral("5"));
    ASSERT_EQ(d->CB_VoucherClass->count(), 4);
    EXPECT_EQ(d->CB_VoucherClass->itemText(0), QStringLiteral(" "));
    EXPECT_FALSE(d->CB_VoucherClass->itemData(0).isValid());
    EXPECT_EQ(d->CB_VoucherClass->itemText(2), QStringLiteral("收"));
    EXPECT_EQ(d->CB_VoucherClass->currentIndex(), 2);
    EXPECT_TRUE(msgs.shown.empty());

    // Every showing fills the controls again; a type that is not in the list
    // leaves nothing selected.
    d->hide();
    d->CaGlide()->VoucherClass = 9;
    d->CaGlide()->Summary = "再次显示";
    d->show();
    EXPECT_EQ(d->CB_VoucherClass->currentIndex(), -1);
    EXPECT_EQ(d->EdtSummary->text(), QStringLiteral("再次显示"));
}

// ShowCaGlide itself throws; showing the dialog reports it and closes
// (test_entry_keys.cpp).
TEST_F(EntryDialogTest, ShowCaGlideThrowsOnAnUnreadableDate) {
    auto d = addDialog();
    d->CaGlide()->CreateDate = "15.03.2024x";
    EXPECT_THROW(d->ShowCaGlide(), std::runtime_error);
}

// ---- validation ----

TEST_F(EntryDialogTest, ValidationFailuresShowTheirMessageAndStoreNothing) {
    struct Case {
        const char* name;
        std::function<void(TFrmCashGlideAdd&)> type;
        const char* message;
        std::function<QWidget*(TFrmCashGlideAdd&)> focus;  // nullptr: focus stays
    };
    const std::vector<Case> cases = {
        {"both amounts zero", [](TFrmCashGlideAdd&) {}, "借贷方不能同时为零！",
         [](TFrmCashGlideAdd& d) -> QWidget* { return d.EdtDebMoney; }},
        {"unknown department",
         [](TFrmCashGlideAdd& d) {
             d.EdtDebMoney->setValue(10);
             d.edtDepartment->setText(QStringLiteral("D99 不存在"));
         },
         "部门不存在，请重新选择！",
         [](TFrmCashGlideAdd& d) -> QWidget* { return d.edtDepartment; }},
        {"department name without its code",
         [](TFrmCashGlideAdd& d) {
             d.EdtDebMoney->setValue(10);
             d.edtDepartment->setText(QStringLiteral("财务部"));
         },
         "部门不存在，请重新选择！",
         [](TFrmCashGlideAdd& d) -> QWidget* { return d.edtDepartment; }},
        {"unknown counterpart",
         [](TFrmCashGlideAdd& d) {
             d.EdtCreMoney->setValue(10);
             d.edtCurrent->setText(QStringLiteral("C99 丙公司"));
         },
         "对方单位不存在，请重新选择！",
         [](TFrmCashGlideAdd& d) -> QWidget* { return d.edtCurrent; }},
        {"unknown voucher number",
         [](TFrmCashGlideAdd& d) {
             d.EdtDebMoney->setValue(10);
             d.CB_VoucherClass->setCurrentIndex(1);
             d.EdtVoucher_ID->setText(QStringLiteral("7"));
         },
         "录入的凭证类别对应的凭证号不存在，请重新输入！", nullptr},
        {"voucher number that is not whole",
         [](TFrmCashGlideAdd& d) {
             d.EdtDebMoney->setValue(10);
             d.EdtVoucher_ID->setText(QStringLiteral("7.5"));
         },
         "录入的凭证类别对应的凭证号不存在，请重新输入！", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        msgs.shown.clear();
        CountingWindow w;
        auto d = addDialog();
        d->RowSaved = redrawAfterSave(w);
        showActive(*d);
        c.type(*d);
        d->EdtSummary->setFocus();
        QApplication::processEvents();

        d->BtSaveCloseClick();
        d->BtSaveClick();
        QApplication::processEvents();

        EXPECT_EQ(msgs.texts(), (std::vector<std::string>{c.message, c.message}));
        QWidget* expected = c.focus ? c.focus(*d) : d->EdtSummary;
        EXPECT_EQ(d->focusWidget(), expected);
        EXPECT_EQ(QApplication::focusWidget(), expected);
        EXPECT_TRUE(d->isVisible());
        EXPECT_TRUE(stored().empty());
        EXPECT_EQ(w.rebuilds, 0);
    }
}

TEST_F(EntryDialogTest, FailedVoucherCheckLeavesTheEarlierFieldsWritten) {
    auto d = addDialog();
    d->show();
    d->EdtDebMoney->setValue(88);
    d->EdtSummary->setText(QStringLiteral("  带空格 "));
    d->EdtVoucher_ID->setText(QStringLiteral("7"));
    EXPECT_FALSE(d->CheckCaGlide());
    const TCaGlide& r = *d->CaGlide();
    EXPECT_EQ(r.DebMoney, 88);
    EXPECT_EQ(r.Summary, "  带空格 ");
    EXPECT_EQ(r.CreateDate, "2024-03-15");
    EXPECT_EQ(r.Voucher_ID, "0");
    EXPECT_TRUE(r.GlideFlag.empty());
    EXPECT_EQ(msgs.texts().size(), 1u);
}

TEST_F(EntryDialogTest, LeavingAnAmountClearsTheOther) {
    auto d = addDialog();
    showActive(*d);
    ASSERT_TRUE(d->isActiveWindow());

    d->EdtCreMoney->setFocus();
    d->EdtDebMoney->setValue(30);
    d->EdtCreMoney->setText(QStringLiteral("100"));
    d->EdtSummary->setFocus();
    EXPECT_EQ(d->EdtDebMoney->Value(), 0);
    EXPECT_EQ(d->EdtCreMoney->Value(), 100);

    d->EdtDebMoney->setFocus();
    d->EdtDebMoney->setText(QStringLiteral("50"));
    d->EdtSummary->setFocus();
    EXPECT_EQ(d->EdtCreMoney->Value(), 0);
    EXPECT_EQ(d->EdtDebMoney->Value(), 50);

    // Leaving an amount of 0 leaves the other amount alone.
    d->EdtCreMoney->setFocus();
    d->EdtSummary->setFocus();
    EXPECT_EQ(d->EdtDebMoney->Value(), 50);

    // Saving rejects only both amounts being 0, not both being set.
    d->EdtCreMoney->setValue(20);
    d->BtSaveCloseClick();
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].deb, 50);
    EXPECT_EQ(stored()[0].cre, 20);
}

// ---- voucher ----

TEST_F(EntryDialogTest, VoucherNumberIsLookedUpWithTheChosenOrTheEntrysType) {
    addVoucher(501, "2024-03-10", 2, 12);
    addVoucher(502, "2024-03-20", 1, 12);
    addVoucher(503, "2024-02-10", 3, 12);
    struct Case {
        const char* name;
        int entryType;
        int comboIndex;  // 0: the blank type
        const char* number;
        const char* voucherId;
        int storedType;
    };
    const std::vector<Case> cases = {
        {"blank type uses the entry's type", 2, 0, "12", "501", 2},
        {"chosen type replaces the entry's", 2, 1, "12", "502", 1},
        {"no number whatever the type", 2, 3, "0", "0", 3},
        {"no number and no type", 0, 0, "", "0", 0},
    };
    int rows = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = addDialog();
        d->CaGlide()->VoucherClass = c.entryType;
        d->CaGlide()->Voucher_ID = "777";  // replaced in every case
        d->show();
        d->EdtDebMoney->setValue(10);
        d->CB_VoucherClass->setCurrentIndex(c.comboIndex);
        d->EdtVoucher_ID->setText(QString::fromUtf8(c.number));
        d->BtSaveCloseClick();
        auto s = stored();
        ASSERT_EQ(s.size(), static_cast<std::size_t>(++rows));
        EXPECT_EQ(s.back().voucherId, c.voucherId);
        EXPECT_EQ(s.back().voucherClass, c.storedType);
        EXPECT_EQ(s.back().glideFlag, "1");
        EXPECT_EQ(d->result(), mrOk);
    }
    // A voucher of another month is not found.
    auto d = addDialog();
    d->CaGlide()->VoucherClass = 3;
    d->show();
    d->EdtDebMoney->setValue(10);
    d->EdtVoucher_ID->setText(QStringLiteral("12"));
    d->BtSaveCloseClick();
    EXPECT_EQ(msgs.texts(),
              std::vector<std::string>{"录入的凭证类别对应的凭证号不存在，请重新输入！"});
    EXPECT_EQ(stored().size(), static_cast<std::size_t>(rows));
}

// ---- pickers ----

TEST_F(EntryDialogTest, DoubleClickPicksAnItemAndSavesItsInnerCode) {
    struct Case {
        QLineEdit* TFrmCashGlideAdd::*edit;
        const char* kind;
        const char* inCode;
        const char* shown;
        std::string Stored::*column;
    };
    const std::vector<Case> cases = {
        {&TFrmCashGlideAdd::edtPayMode, "PAY_MODE", "PM2", "02 支票", &Stored::pm},
        {&TFrmCashGlideAdd::edtCurrent, "CURRENTS", "CR1", "C01 甲公司", &Stored::cr},
        {&TFrmCashGlideAdd::edtDepartment, "DEPARTMENT", "DP1", "D01 财务部", &Stored::dp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        auto d = addDialog();
        d->show();
        QLineEdit* edit = (*d).*c.edit;

        std::vector<seams::PickRequest> requests;
        std::optional<seams::PickResult> answer = seams::PickResult{c.inCode, "", ""};
        seams::Scoped<seams::PickHook> picker(seams::pickHook(),
                                              [&](QWidget*, const seams::PickRequest& r) {
                                                  requests.push_back(r);
                                                  return answer;
                                              });
        doubleClick(edit);
        EXPECT_EQ(edit->text(), QString::fromUtf8(c.shown));
        ASSERT_NE(d->tagOf(edit), nullptr);
        EXPECT_EQ(d->tagOf(edit)->InCode, c.inCode);

        // Cancelling the picker changes nothing; it opens on the chosen code.
        answer.reset();
        doubleClick(edit);
        EXPECT_EQ(edit->text(), QString::fromUtf8(c.shown));
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].kind, c.kind);
        EXPECT_EQ(requests[0].initialCode, "");
        EXPECT_EQ(requests[1].initialCode, d->tagOf(edit)->Code);

        d->EdtDebMoney->setValue(1);
        d->BtSaveCloseClick();
        ASSERT_FALSE(stored().empty());
        EXPECT_EQ(stored().back().*c.column, c.inCode);
    }
}

TEST_F(EntryDialogTest, BackspaceEmptiesAPickerEditAndSavesAnEmptyCode) {
    struct Case {
        const char* name;
        QLineEdit* TFrmCashGlideAdd::*edit;
        std::string Stored::*column;
        std::string TCaGlide::*code;
    };
    const std::vector<Case> cases = {
        {"pay mode", &TFrmCashGlideAdd::edtPayMode, &Stored::pm, &TCaGlide::PM_Code},
        {"counterpart", &TFrmCashGlideAdd::edtCurrent, &Stored::cr, &TCaGlide::CR_Code},
        {"department", &TFrmCashGlideAdd::edtDepartment, &Stored::dp, &TCaGlide::DP_Code},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCaGlide row = storeRow([](TCaGlide& r) {
            r.PM_Code = "PM1";
            r.CR_Code = "CR1";
            r.DP_Code = "DP2";
        });
        auto d = modifyDialog(row);
        d->show();
        QLineEdit* edit = (*d).*c.edit;
        ASSERT_FALSE(edit->text().isEmpty());

        pressKey(edit, Qt::Key_A);
        EXPECT_FALSE(edit->text().isEmpty());
        pressKey(edit, Qt::Key_Backspace);
        EXPECT_TRUE(edit->text().isEmpty());
        EXPECT_NE(d->tagOf(edit), nullptr);

        d->BtSaveCloseClick();
        Stored s = stored().back();
        EXPECT_EQ(s.*c.column, "");
        for (const Case& other : cases)
            if (other.edit != c.edit) {
                EXPECT_EQ(s.*other.column, row.*other.code);
            }
    }
}

// ---- modifying ----

TEST_F(EntryDialogTest, ModifyShowsStoredCodesAndUpdatesTheRow) {
    addVoucher(503, "2024-03-05", 3, 12);
    TCaGlide row = storeRow([](TCaGlide& r) {
        r.PM_Code = "PM1";
        r.CR_Code = "CR2";
        r.DP_Code = "DP1";
        r.VoucherClass = 3;
        r.VoucherNo = 12;
        r.PayCode = "ZP001";
        r.Remark = "第一行\n第二行";
    });
    CountingWindow w;
    auto d = modifyDialog(row);
    d->RowSaved = redrawAfterSave(w);
    d->show();

    EXPECT_EQ(d->edtPayMode->text(), QStringLiteral("01 现金"));
    EXPECT_EQ(d->edtCurrent->text(), QStringLiteral("C02 乙公司"));
    EXPECT_EQ(d->edtDepartment->text(), QStringLiteral("D01 财务部"));
    EXPECT_EQ(d->EdtDataOrNo->text(), QString::fromStdString(row.DateOrNo));
    EXPECT_EQ(d->CB_VoucherClass->currentText(), QStringLiteral("付"));
    EXPECT_EQ(d->EdtVoucher_ID->text(), QStringLiteral("12"));
    EXPECT_EQ(d->EdtPaycode->text(), QStringLiteral("ZP001"));
    EXPECT_EQ(d->EdtRemark->toPlainText(), QStringLiteral("第一行\n第二行"));

    // The blank type keeps the entry's type.
    d->CB_VoucherClass->setCurrentIndex(0);
    d->EdtSummary->setText(QStringLiteral("改后摘要"));
    d->EdtDebMoney->setValue(250);
    d->BtSaveCloseClick();

    ASSERT_EQ(stored().size(), 1u);
    Stored s = stored()[0];
    EXPECT_EQ(s.summary, "改后摘要");
    EXPECT_EQ(s.deb, 250);
    EXPECT_EQ(s.voucherClass, 3);
    EXPECT_EQ(s.voucherId, "503");
    EXPECT_EQ(s.pm, "PM1");
    EXPECT_EQ(s.cr, "CR2");
    EXPECT_EQ(s.dp, "DP1");
    EXPECT_EQ(std::to_string(s.no), row.DateOrNo);
    EXPECT_EQ(w.rebuilds, 1);
    EXPECT_EQ(d->result(), mrOk);
    EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(EntryDialogTest, ModifyWithAVanishedPayModeShowsAndSavesItEmpty) {
    TCaGlide row = storeRow([](TCaGlide& r) { r.PM_Code = "PM9"; });
    auto d = modifyDialog(row);
    d->show();
    EXPECT_TRUE(d->edtPayMode->text().isEmpty());
    d->BtSaveCloseClick();
    EXPECT_EQ(stored()[0].pm, "");
    EXPECT_EQ(d->result(), mrOk);
}

// ---- storing ----

TEST_F(EntryDialogTest, ContinueAddingInsertsFurtherRowsAndRefreshesTheWindow) {
    CountingWindow w;
    auto d = addDialog();
    d->RowSaved = redrawAfterSave(w);
    d->show();
    EXPECT_EQ(d->EdtDataOrNo->text(), QStringLiteral("1"));
    d->EdtDebMoney->setValue(100);
    d->EdtSummary->setText(QStringLiteral("收款"));
    d->EdtPaycode->setText(QStringLiteral("ZP9"));

    d->BtSaveClick();
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(w.rebuilds, 1);
    EXPECT_EQ(w.loadedRows(), 1);
    EXPECT_EQ(d->EdtDataOrNo->text(), QStringLiteral("2"));
    EXPECT_EQ(d->EdtSummary->text(), QStringLiteral("收款"));
    EXPECT_TRUE(d->isVisible());

    d->BtSaveClick();
    auto s = stored();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].no, 1);
    EXPECT_EQ(s[1].no, 2);
    for (const Stored& r : s) {
        EXPECT_EQ(r.summary, "收款");
        EXPECT_EQ(r.payCode, "ZP9");
        EXPECT_EQ(r.deb, 100);
        EXPECT_EQ(r.date, "2024-03-15");
    }
    EXPECT_EQ(w.rebuilds, 2);
    EXPECT_EQ(w.loadedRows(), 2);
    EXPECT_EQ(d->EdtDataOrNo->text(), QStringLiteral("3"));

    // Cancelling afterwards keeps what was saved.
    d->BtcancelClick();
    EXPECT_EQ(d->result(), mrCancel);
    EXPECT_EQ(stored().size(), 2u);
    EXPECT_TRUE(msgs.shown.empty());
}

TEST_F(EntryDialogTest, FailingStoreShowsTheReasonAndKeepsEverythingTyped) {
    struct Case {
        const char* name;
        bool locked;
        const char* account;
        bool continueAdding;
    };
    const std::vector<Case> cases = {
        {"stopped account, save and close", false, "1002", false},
        {"stopped account, continue adding", false, "1002", true},
        {"locked book set, save and close", true, "1001", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open(testutil::BookOptions{.entryLocked = c.locked});
        msgs.shown.clear();
        CountingWindow w;
        auto d = addDialog(c.account);
        d->RowSaved = redrawAfterSave(w);
        d->show();
        d->EdtCreMoney->setValue(1234.5);
        d->EdtSummary->setText(QStringLiteral("付货款"));
        d->EdtPaycode->setText(QStringLiteral("ZP7"));
        d->EdtRemark->setPlainText(QStringLiteral("备注"));
        d->edtCurrent->setText(QStringLiteral("C01 甲公司"));

        if (c.continueAdding)
            d->BtSaveClick();
        else
            d->BtSaveCloseClick();

        const std::string reason = d->CaGlide()->ErrorText;
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(msgs.texts(), std::vector<std::string>{reason});
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(w.rebuilds, 0);
        EXPECT_TRUE(stored().empty());
        EXPECT_EQ(d->EdtCreMoney->Value(), 1234.5);
        EXPECT_EQ(d->EdtSummary->text(), QStringLiteral("付货款"));
        EXPECT_EQ(d->EdtPaycode->text(), QStringLiteral("ZP7"));
        EXPECT_EQ(d->EdtRemark->toPlainText(), QStringLiteral("备注"));
        EXPECT_EQ(d->edtCurrent->text(), QStringLiteral("C01 甲公司"));
        EXPECT_EQ(d->EdtDataOrNo->text(), QStringLiteral("1"));
    }
}

// ---- layout ----

TEST_F(EntryDialogTest, LayoutHasTheFixedSizeHintsTabOrderAndButtons) {
    auto d = addDialog();
    d->show();
    EXPECT_EQ(d->size(), QSize(419, 307));
    EXPECT_EQ(d->minimumSize(), d->maximumSize());
    EXPECT_FALSE(d->isSizeGripEnabled());
    EXPECT_EQ(d->windowTitle(), QStringLiteral("流水帐－－新增"));
    EXPECT_FALSE(d->windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_FALSE(d->windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(d->EnterAsTab);
    // The picker edits are only changed through their handlers.
    for (QLineEdit* e : {d->edtPayMode, d->edtCurrent, d->edtDepartment})
        EXPECT_TRUE(e->isReadOnly());

    // What the layout cannot show in the code: the amounts' and the voucher
    // number's formats, and the remark three lines high.
    d->EdtVoucher_ID->setValue(5000);
    EXPECT_EQ(d->EdtVoucher_ID->text(), QStringLiteral("5000"));
    d->EdtDebMoney->setValue(1234567.5);
    EXPECT_EQ(d->EdtDebMoney->text(), QStringLiteral("1,234,567.50"));
    QFontMetrics fm(d->EdtRemark->font());
    EXPECT_GE(d->EdtRemark->viewport()->height() - 2 * d->EdtRemark->document()->documentMargin(),
              3 * fm.lineSpacing());

    // Tab moves through the enabled controls in order, then the buttons.
    showActive(*d);
    std::vector<QWidget*> expected = {
        d->DTPCreateDate, d->CB_VoucherClass, d->EdtVoucher_ID, d->EdtPaycode, d->edtPayMode,
        d->EdtDebMoney,   d->EdtCreMoney,     d->EdtSummary,    d->edtCurrent, d->edtDepartment,
        d->EdtRemark,     d->BtSave,          d->BtSaveClose,   d->Btcancel,   d->DTPCreateDate};
    d->DTPCreateDate->setFocus();
    std::vector<QWidget*> order;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        order.push_back(QApplication::focusWidget());
        pressKey(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order, expected);

    // Three buttons side by side, right-aligned below the group box.
    QRect box = d->GroupBox1->geometry();
    EXPECT_EQ(d->BtSave->text(), QStringLiteral("继续新增(&A)"));
    EXPECT_EQ(d->BtSaveClose->text(), QStringLiteral("保存退出(&S)"));
    EXPECT_EQ(d->Btcancel->text(), QStringLiteral("取消(&C)"));
    EXPECT_LT(d->BtSave->x(), d->BtSaveClose->x());
    EXPECT_LT(d->BtSaveClose->x(), d->Btcancel->x());
    EXPECT_GE(d->BtSave->y(), box.bottom());
    EXPECT_EQ(d->Btcancel->geometry().right(), box.right());
}

// A picture of the dialog for checking the layout by eye; run it by name with
// --gtest_also_run_disabled_tests.
TEST_F(EntryDialogTest, DISABLED_Screenshot) {
    TCaGlide row = storeRow([](TCaGlide& r) {
        r.PM_Code = "PM2";
        r.CR_Code = "CR1";
        r.DP_Code = "DP1";
        r.VoucherClass = 1;
        r.DebMoney = 1234567.5;
        r.PayCode = "ZP0001";
        r.Remark = "三行高的备注";
    });
    auto d = modifyDialog(row);
    d->BtSave->show();
    d->show();
    QApplication::processEvents();
    EXPECT_TRUE(d->grab().save(QStringLiteral("/tmp/entry_dialog.png")));
}

}  // namespace
