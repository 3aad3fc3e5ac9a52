// Drawing journal rows from vouchers, and the sibling journal modules.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "Codec.h"
#include "Handles.h"
#include "JournalHelpers.h"
#include "PluginApi.h"
#include "PluginBinding.h"
#include "Unt_CashGlideInput.h"
#include "VoucherImport.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

class VoucherImportTest : public BookTest {
  protected:
    void SetUp() override {
        BookTest::SetUp();
        // Subject 100201 is account 1001's; 6001 is income.
        voucher(1, "2024-03-03", 2, 1, "收到货款", 500, 0, "CR1", "DP1");
        voucher(2, "2024-03-08", 3, 1, "支付货款", 0, 120, "CR2", "");
        voucher(3, "2024-03-20", 2, 2, "收到货款", 80, 0, "CR1", "");
        voucher(4, "2024-04-02", 2, 1, "下月", 10, 0, "", "");
        w = std::make_unique<TFrmCashGlide>(nullptr, 1, 2);
        w->show();
    }
    void TearDown() override {
        w.reset();
        BookTest::TearDown();
    }
    void voucher(int id, const char* date, int vclass, int no, const char* summary, double deb,
                 double cre, const char* cr, const char* dp) {
        db().exec("INSERT INTO vouchers VALUES (" + std::to_string(id) + ", '001', '" + date +
                  "', " + std::to_string(vclass) + ", " + std::to_string(no) + ", 'u1')");
        Stmt s = db().prepare(
            "INSERT INTO voucher_lines (voucher_id, line_no, subject_code, summary, deb_cents, "
            "cre_cents, cr_code, "
            "dp_code) VALUES (?, 1, '100201', ?, ?, ?, ?, ?), (?, 2, '6001', ?, ?, ?, '', '')");
        s.bind(1, id)
            .bind(2, summary)
            .bind(3, toCents(deb))
            .bind(4, toCents(cre))
            .bind(5, cr)
            .bind(6, dp);
        s.bind(7, id).bind(8, summary).bind(9, toCents(cre)).bind(10, toCents(deb));
        s.run();
    }
    std::int64_t count() {
        Stmt s = db().prepare("SELECT COUNT(*) FROM CaGlide WHERE voucher_line_id IS NOT NULL");
        s.step();
        return s.i64(0);
    }
    // Shows the import; the handler answers the dialog.
    void import(std::function<int(TFrmCashGlideInput&)> answer) {
        Modals modals([&](QDialog& d) {
            auto& dlg = dynamic_cast<TFrmCashGlideInput&>(d);
            dlg.show();
            return answer(dlg);
        });
        w->Mitm_VouinputClick();
        EXPECT_EQ(modals.shown.size(), 1u);
    }
    static int ok(TFrmCashGlideInput& d) {
        d.BtOkClick();
        return d.result();
    }
    std::unique_ptr<TFrmCashGlide> w;
};

}  // namespace

TEST_F(VoucherImportTest, DialogStartsFromTheManagersConditions) {
    import([](TFrmCashGlideInput& d) {
        // The first load applied the filter panel: today and its first account.
        EXPECT_EQ(d.DTPBCreateDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(d.DTPECreateDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(d.CmbAs_Code->currentIndex(), 0);
    EXPECT_EQ(d.CmbAs_Code->count(), 3);
    EXPECT_EQ(d.CB_VoucherClass->count(), 4);
    EXPECT_EQ(d.CmbPM_Code->itemText(2), QStringLiteral("02 支票"));
    EXPECT_FALSE(d.CB_VoucherClass->isVisible());
    return mrCancel;
});
queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
    import([](TFrmCashGlideInput& d) {
        EXPECT_EQ(d.DTPBCreateDate->date(), QDate(2024, 3, 1));
    EXPECT_EQ(d.DTPECreateDate->date(), QDate(2024, 3, 31));
    EXPECT_EQ(d.CmbAs_Code->currentIndex(), 0);  // the first account is found too
    return mrCancel;
    });
    }

    TEST_F(VoucherImportTest, CancelChangesNothing) {
        queryRange(*w, QDate(2024, 3, 1), QDate(2024, 3, 31));
        int rows = w->Cell->GetRows();
    import([](TFrmCashGlideInput& d) {
        d.DTPBCreateDate->setDate(QDate(2024, 1, 1));
    d.BtCancelClick();
    return d.result();
    });
    EXPECT_EQ(w->CaGlideMng()->CaGlideQry()->BCreateDate, "2024-03-01");
    EXPECT_EQ(w->Cell->GetRows(), rows);
    EXPECT_EQ(count(), 0);
    }

    TEST_F(VoucherImportTest, ImportShowsTheImportedRangeAndResetsTheVoucherRange) {
        w->DTPBCreateDate->setDate(QDate(2024, 1, 1));  // the panel says something else
    import([](TFrmCashGlideInput& d) {
        d.CmbAs_Code->setCurrentIndex(0);
    d.DTPBCreateDate->setDate(QDate(2024, 3, 1));
    d.DTPECreateDate->setDate(QDate(2024, 3, 31));
    d.CB_VoucherClass->setCurrentIndex(2);  // 收
    d.EdtBVOUCHER_ID->setValue(1);
    d.EdtEVOUCHER_ID->setValue(2);
    return ok(d);
    });
    const TCaGlideQry& c = *w->CaGlideMng()->CaGlideQry();
    EXPECT_EQ(c.BVoucher_ID, "0");
    EXPECT_EQ(c.EVoucher_ID, "0");
    EXPECT_EQ(c.AS_Code, "1001");
    EXPECT_EQ(c.BCreateDate, "2024-03-01");
    EXPECT_EQ(count(), 2);  // 收 1 and 收 2 of March
    EXPECT_EQ(shownSummaries(*w), (std::vector<std::string>{"收到货款", "收到货款"}));
    // The rows carry their vouchers.
    int row = gridRowOf(*w, "收到货款");
    EXPECT_EQ(w->CaGlideMng()->GetDetails(row - 5)->Voucher_ID, "1");
    EXPECT_EQ(w->Cell->GetCellString(5, row), QStringLiteral("收 1"));
    }

    TEST_F(VoucherImportTest, SameRangeTwiceAddsNoDuplicates) {
        auto all = [](TFrmCashGlideInput& d) {
            d.CmbAs_Code->setCurrentIndex(0);
            d.DTPBCreateDate->setDate(QDate(2024, 3, 1));
            d.DTPECreateDate->setDate(QDate(2024, 3, 31));
            return ok(d);
        };
        import(all);
        EXPECT_EQ(count(), 3);
        import(all);
        EXPECT_EQ(count(), 3);
        EXPECT_EQ(w->CaGlideMng()->PendingCount(), 0u);
    }

    TEST_F(VoucherImportTest, UntouchedHiddenPickersPassConditionsThrough) {
        w->CaGlideMng()->CaGlideQry()->SetCRCode("CR1");
        w->CaGlideMng()->CaGlideQry()->SetDPCode("DP1");
    import([](TFrmCashGlideInput& d) {
        d.CmbAs_Code->setCurrentIndex(0);
    d.DTPBCreateDate->setDate(QDate(2024, 3, 1));
    d.DTPECreateDate->setDate(QDate(2024, 3, 31));
    return ok(d);
    });
    EXPECT_EQ(w->CaGlideMng()->CaGlideQry()->CR_Code, "CR1");
    EXPECT_EQ(w->CaGlideMng()->CaGlideQry()->DP_Code, "DP1");
    EXPECT_EQ(count(), 1);
    // The grid names the counterpart and department conditions above the rows.
    EXPECT_EQ(w->Cell->GetCellString(5, 2), QStringLiteral("对方单位：[甲公司]"));
    EXPECT_EQ(w->Cell->GetCellString(7, 2), QStringLiteral("部门：[财务部]"));
    }

    TEST_F(VoucherImportTest, PickersAndBackspaceSetTheConditions) {
        seams::Scoped<seams::PickHook> pick(
            seams::pickHook(), [](QWidget*, const seams::PickRequest& r) {
                if (r.kind == "currents")
                    return std::optional<seams::PickResult>({"CR2", "C02", "乙公司"});
                if (r.kind == "Summary")
                    return std::optional<seams::PickResult>({"02", "02", "收货款"});
                return std::optional<seams::PickResult>();
            });
        TFrmCashGlideInput d(nullptr, "CaGlide");
        d.Conditions()->SetDPCode("DP1");
        d.EdtCR_CodeDblClick();
        EXPECT_EQ(d.EdtCR_Code->text(), QStringLiteral("乙公司"));
        EXPECT_EQ(d.Conditions()->CR_Code, "CR2");
        d.EdtDP_CodeDblClick();  // cancelled: nothing changes
        EXPECT_EQ(d.Conditions()->DP_Code, "DP1");
        d.EdtSUMMARYDblClick();
        EXPECT_EQ(d.EdtSUMMARY->text(), QStringLiteral("收货款"));
        d.EdtCR_CodeKeyPress(Qt::Key_A);
        EXPECT_EQ(d.Conditions()->CR_Code, "CR2");
        d.EdtCR_CodeKeyPress(Qt::Key_Backspace);
        d.EdtDP_CodeKeyPress(Qt::Key_Backspace);
        EXPECT_EQ(d.Conditions()->CR_Code, "");
        EXPECT_EQ(d.Conditions()->DP_Code, "");
        EXPECT_EQ(d.EdtCR_Code->text(), "");
    }

    TEST_F(VoucherImportTest, OkWithoutAccountStaysOpen) {
        Messages msgs;
    import([](TFrmCashGlideInput& d) {
        d.CmbAs_Code->setCurrentIndex(-1);
    d.BtOkClick();
    EXPECT_EQ(d.result(), 0);
    d.EdtBVOUCHER_ID->setText("1.5");
    d.CmbAs_Code->setCurrentIndex(0);
    d.BtOkClick();  // a fraction: told, still open
    EXPECT_EQ(d.result(), 0);
    d.BtCancelClick();
    return d.result();
    });
    ASSERT_EQ(msgs.shown.size(), 2u);
    EXPECT_EQ(msgs.shown[0].text, "请选择一个账号！");
    EXPECT_EQ(count(), 0);
    }

    TEST_F(VoucherImportTest, FailedSaveLeavesNothingPending) {
        db().exec("UPDATE bank_accounts SET state = '0' WHERE as_code = '1001'");
        EXPECT_THROW(import([](TFrmCashGlideInput& d) {
                         d.CmbAs_Code->setCurrentIndex(0);
                         d.DTPBCreateDate->setDate(QDate(2024, 3, 1));
                         d.DTPECreateDate->setDate(QDate(2024, 3, 31));
                         return ok(d);
                     }),
                     StoreError);
        EXPECT_EQ(count(), 0);
        EXPECT_EQ(w->CaGlideMng()->PendingCount(), 0u);
    }

    // ---- the sibling modules ----

    TEST(SiblingModules, EachKeepsItsJournal) {
        struct Case {
            const char* file;
            const char* name;
            const char* title;
            const char* refusal;
        };
        const Case cases[] = {{"libcashjournal.so", "现金日记账", "现金日记账",
                               "没有初始化确认，不能进行现金日记账录入！"},
                              {"libbankjournal.so", "银行日记账", "银行日记账",
                               "没有初始化确认，不能进行银行日记账录入！"}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.file);
            std::string path = std::string(LEDGER_PLUGIN_DIR) + "/" + c.file;
            void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            ASSERT_NE(h, nullptr) << dlerror();
            auto name = reinterpret_cast<PluginTextFn>(dlsym(h, "PluginName"));
            auto type = reinterpret_cast<PluginTextFn>(dlsym(h, "PluginType"));
            auto run = reinterpret_cast<PluginRunFn>(dlsym(h, "PluginRun"));
            ASSERT_TRUE(name && type && run);
            HostStr s = nullptr;
            name(&s);
            EXPECT_EQ(gbkToUtf8(hostStrValue(s)), c.name);
            type(&s);
            EXPECT_EQ(gbkToUtf8(hostStrValue(s)), "出纳");
            hostStrRelease(&s);

            QTemporaryDir dir;
            std::string db = dir.filePath("b.db").toStdString();
            {
                BookOptions refuse;
                refuse.initConfirmed = false;
                createTestBook(db, refuse);
                HostSession session(db, "001", "u1");
                PluginHostBlock block = makeHostBlock(session, nullptr);
                Messages msgs;
                EXPECT_EQ(run(0, &block), -1);
                EXPECT_EQ(msgs.texts(), std::vector<std::string>{c.refusal});
                session.dbManage().Db().exec("UPDATE book_sets SET init_confirmed = 1");
                session.bookSet().InitConfirmed = 1;
                EXPECT_EQ(run(0, &block), 0);
                std::unique_ptr<QWidget> window(resolveHandle<QWidget>(block.Window));
                ASSERT_NE(window, nullptr);
                window->show();
                EXPECT_EQ(window->windowTitle(), QString::fromUtf8(c.title));
            }
            dlclose(h);
        }
    }
