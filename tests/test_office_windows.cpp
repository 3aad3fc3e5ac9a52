// The office's windows as a user works them, answered through the seams:
// 系统管理 by keyboard (search, Insert, Enter, Delete) with a refusal shown and
// the form kept open to correct it; 出纳初始化 saving the openings and an
// opening item, confirming, and then holding them fixed; 结转下年 closing the
// year; the first start making a store; a list filled from a file; and the
// main window offering the three to administrators only.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include "Accounts.h"
#include "BookSets.h"
#include "CarryForward.h"
#include "CarryForwardForm.h"
#include "CashierInit.h"
#include "CashierInitForm.h"
#include "FirstStart.h"
#include "Fixture.h"
#include "ItemForms.h"
#include "ListImportForm.h"
#include "ListPage.h"
#include "MainWindow.h"
#include "SystemAdmin.h"
#include "Users.h"
#include "ui_FrmAccountEdit.h"
#include "ui_FrmCarryForward.h"
#include "ui_FrmCashierInit.h"
#include "ui_FrmFirstStart.h"
#include "ui_FrmListImport.h"
#include "ui_FrmOpeningItem.h"
#include "ui_FrmSystemAdmin.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

using Strings = std::vector<std::string>;

int visibleRows(QTableWidget* t) {
    int n = 0;
    for (int r = 0; r < t->rowCount(); ++r) n += !t->isRowHidden(r);
    return n;
}

std::string accountName(Database& db, const std::string& code) {
    for (const AccountInfo& a : listAccounts(db, "001"))
        if (a.Code == code) return a.Name + (a.InUse ? "" : "（停用）");
    return {};
}

class OfficeWindows : public BookTest {};

TEST_F(OfficeWindows, SystemAdminKeepsTheListsByKeyboard) {
    addRow(db(), kCashJournalTable, "001", "1001", "2024-03-01", 10, 0);
    EXPECT_THROW(office::TFrmSystemAdmin(nullptr, db(), "u2", "001"), StoreError);
    office::TFrmSystemAdmin w(nullptr, db(), "u1", "001");
    w.show();
    QTableWidget* accounts = w.ui->tblAccounts;
    w.ui->tabs->setCurrentIndex(1);
    EXPECT_EQ(visibleRows(accounts), 4);
    // Typing on the list goes on in the search box and filters as it goes.
    accounts->setFocus();
    QTest::keyClicks(accounts, "CASH");
    EXPECT_EQ(w.ui->edtSearchAccounts->text(), QStringLiteral("CASH"));
    EXPECT_EQ(visibleRows(accounts), 1);
    EXPECT_EQ(w.accounts->currentKey(), QStringLiteral("1010"));
    w.ui->edtSearchAccounts->clear();

    // Insert adds: a number taken is refused and the form stays open with
    // what was typed; corrected, it is saved.
    Messages msgs;
    Modals modals([&](QDialog& d) {
        auto& f = dynamic_cast<office::TFrmAccountEdit&>(d);
        f.ui->edtCode->setText("1004");
        f.ui->edtName->setText(QStringLiteral("新户"));
        f.ui->edtNumber->setText("6222001");
        f.accept();
        EXPECT_TRUE(f.isVisible() || f.result() != QDialog::Accepted);
        f.ui->edtNumber->setText("6222004");
        f.accept();
        return f.result() == QDialog::Accepted ? mrOk : mrCancel;
    });
    QTest::keyClick(accounts, Qt::Key_Insert);
    EXPECT_EQ(msgs.texts(), Strings{"账号 6222001 已由本账套的账户 1001 使用。"});
    EXPECT_EQ(accountName(db(), "1004"), "新户");
    EXPECT_EQ(w.accounts->currentKey(), QStringLiteral("1004"));

    // Enter edits the current row.
    Modals rename([&](QDialog& d) {
        auto& f = dynamic_cast<office::TFrmAccountEdit&>(d);
        EXPECT_TRUE(f.ui->edtCode->isReadOnly());
        f.ui->edtName->setText(QStringLiteral("新户二"));
        f.accept();
        return mrOk;
    });
    QTest::keyClick(accounts, Qt::Key_Return);
    EXPECT_EQ(accountName(db(), "1004"), "新户二");

    // Delete: an account with rows is not deleted; asked again, it is stopped.
    msgs.shown.clear();
    accounts->setCurrentCell(0, 0);
    ASSERT_EQ(w.accounts->currentKey(), QStringLiteral("1001"));
    QTest::keyClick(accounts, Qt::Key_Delete);
    EXPECT_EQ(msgs.texts(), (Strings{"删除账户 1001 工行基本户？",
                                     "账户 1001 已有记录，不能删除，只能停用。\n要停用账户 1001 "
                                     "工行基本户 吗？"}));
    EXPECT_EQ(accountName(db(), "1001"), "工行基本户（停用）");
    EXPECT_EQ(accounts->item(0, 6)->text(), QStringLiteral("已停用"));

    // Base information: a used settlement method is refused with its reason.
    db().exec("UPDATE CaGlide SET pm_code = 'PM1'");
    w.ui->tabs->setCurrentIndex(2);
    w.ui->tblBase->setCurrentCell(0, 0);
    msgs.shown.clear();
    QTest::keyClick(w.ui->tblBase, Qt::Key_Delete);
    EXPECT_EQ(msgs.texts(), (Strings{"删除结算方式 01 现金？",
                                     "结算方式 01 现金 已被记录使用，不能删除（可以改名）。"}));
    EXPECT_EQ(visibleRows(w.ui->tblBase), 2);
}

TEST_F(OfficeWindows, CashierInitSavesConfirmsAndThenHoldsTheOpenings) {
    BookOptions unconfirmed;
    unconfirmed.initConfirmed = false;
    open(unconfirmed);
    office::TFrmCashierInit w(nullptr, db(), "u1", "001");
    w.show();
    ASSERT_EQ(w.accounts->currentKey(), QStringLiteral("1001"));
    w.ui->numJournal->setText("1,234.56");
    w.ui->numBank->setText("1300");
    w.SaveOpening();
    // The bank credited 65.44 the journal had not booked yet.
    Modals item([&](QDialog& d) {
        auto& f = dynamic_cast<office::TFrmOpeningItem&>(d);
        EXPECT_EQ(f.ui->dtpDate->date(), QDate(2023, 12, 31));
        f.ui->cmbKind->setCurrentIndex(2);
        f.ui->numAmount->setText("65.44");
        return mrOk;
    });
    QTest::keyClick(w.ui->tblAccounts, Qt::Key_Insert);
    EXPECT_EQ(w.ui->lblAdjusted->text(),
              QStringLiteral("调节后：日记账 1,300.00，银行对账单 1,300.00，相符"));
    const AccountOpening o = cashierOpenings(db(), "001")[0];
    EXPECT_EQ(o.JournalCents, 123456);
    EXPECT_EQ(o.BankCents, 130000);
    ASSERT_EQ(o.Items.size(), 1u);
    EXPECT_EQ(o.Items[0].Kind, kItemBankIn);

    Messages msgs;
    w.Confirm();
    EXPECT_EQ(msgs.texts(), (Strings{"完成账套 001 的出纳初始化？完成后期初数据不能再修改。",
                                     "账套 001 已完成出纳初始化。"}));
    EXPECT_TRUE(TBookSet::load(db(), "001")->InitConfirmed);
    EXPECT_FALSE(w.ui->grpOpening->isEnabled());
    EXPECT_FALSE(w.ui->btnConfirm->isEnabled());
    // Rows now: the initialisation cannot be taken back.
    addRow(db(), kCashJournalTable, "001", "1001", "2024-03-01", 10, 0);
    msgs.shown.clear();
    w.CancelInit();
    ASSERT_EQ(msgs.texts().size(), 2u);
    EXPECT_EQ(msgs.texts()[1], "账套 001 已有日记账或对账单记录，不能取消初始化。");
    EXPECT_TRUE(TBookSet::load(db(), "001")->InitConfirmed);
}

TEST_F(OfficeWindows, CarryForwardSaysWhyNotOrClosesTheYear) {
    db().exec("UPDATE book_sets SET entry_locked = 1 WHERE code = '001'");
    {
        office::TFrmCarryForward w(nullptr, db(), "u1", "001");
        EXPECT_EQ(w.ui->lblProblem->text(), QStringLiteral("账套 001 已锁定，不能结转下年。"));
        EXPECT_FALSE(w.ui->btnCarry->isEnabled());
    }
    db().exec("UPDATE book_sets SET entry_locked = 0 WHERE code = '001'");
    addRow(db(), kStatementTable, "001", "1001", "2024-05-01", 0, 25);
    office::TFrmCarryForward w(nullptr, db(), "u1", "001");
    ASSERT_TRUE(w.ui->btnCarry->isEnabled()) << w.ui->lblProblem->text().toStdString();
    ASSERT_EQ(w.ui->tblBalances->item(0, 0)->text(), QStringLiteral("1001"));
    EXPECT_EQ(w.ui->tblBalances->item(0, 4)->text(), QStringLiteral("1,025.00"));
    Messages msgs;
    w.Carry();
    EXPECT_EQ(msgs.texts(),
              (Strings{"将账套 001 的 2024 年度结转到 2025 年度？结转后 2024 年度的记录不能再录入、"
                       "修改或删除。",
                       "账套 001 的 2024 年度已结转到 2025 年度。"}));
    EXPECT_EQ(TBookSet::load(db(), "001")->Year, 2025);
    EXPECT_EQ(w.ui->tblHistory->rowCount(), 1);
}

TEST_F(OfficeWindows, FirstStartMakesTheOfficesStoreWholeOrNotAtAll) {
    const std::string file = dir.filePath("new.db").toStdString();
    office::TFrmFirstStart f(nullptr, file, 2025);
    f.ui->edtBookName->setText(QStringLiteral("华南贸易"));
    f.ui->edtAdminCode->setText("a b");
    Messages msgs;
    f.accept();
    EXPECT_EQ(msgs.texts(), Strings{"用户编码“a b”不能含空格。"});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
    f.ui->edtAdminCode->setText("boss");
    f.ui->edtAdminPassword->setText("mima-123");
    f.ui->edtAdminPassword2->setText("mima-124");
    f.accept();
    EXPECT_EQ(msgs.texts().back(), "两次输入的管理员密码不一致，请重新输入。");
    f.ui->edtAdminPassword2->setText("mima-123");
    f.accept();
    EXPECT_EQ(f.result(), QDialog::Accepted);
    Database made(file);
    EXPECT_EQ(listBookSets(made).at(0).Name, "华南贸易");
    EXPECT_EQ(listBookSets(made).at(0).Year, 2025);
    EXPECT_EQ(findUser(made, "boss")->BookSets, Strings{"001"});
    EXPECT_TRUE(isAdministrator(made, "boss"));
}

TEST_F(OfficeWindows, AListIsFilledFromAFileWithItsColumnsMapped) {
    const QString csv = dir.filePath("units.csv");
    {
        QFile f(csv);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("单位编码,单位名称\nC07,丙公司\nC08,丁公司\n");
    }
    office::TFrmListImport w(nullptr, db(), "u1", kCurrents, "");
    w.ui->edtFile->setText(csv);
    w.ReadColumns();
    ASSERT_EQ(w.ui->tblMap->rowCount(), 2);
    for (int r : {0, 1})
        static_cast<QComboBox*>(w.ui->tblMap->cellWidget(r, 1))->setCurrentIndex(r + 1);
    Messages msgs;
    w.accept();
    EXPECT_EQ(msgs.texts(), Strings{"已导入 2 条。"});
    TCurrentManage units;
    EXPECT_EQ(units.GetOfCode("C08")->Name, "丁公司");
}

TEST_F(OfficeWindows, TheMainWindowOffersTheOfficeToAdministratorsOnly) {
    std::vector<LoadedPlugin> plugins;
    for (const char* user : {"u1", "u2"}) {
        HostSession s(path(), "001", user);
        MainWindow window(s, plugins, QString::fromStdString(path()));
        for (const char* name : {"systemAdmin", "cashierInit", "carryForward"})
            EXPECT_EQ(window.findChild<QAction*>(name) != nullptr, std::string(user) == "u1")
                << user << " " << name;
    }
    session->bind();
}

}  // namespace
