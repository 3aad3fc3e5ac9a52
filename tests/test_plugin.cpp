// The plug-in module through its real exports, and the journal window it
// creates: lists, dates and which commands it offers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QToolButton>

#include "Cell.h"
#include "Codec.h"
#include "Fixture.h"
#include "Handles.h"
#include "PluginApi.h"
#include "PluginBinding.h"
#include "Unt_CashGlideForm.h"

using namespace ledgerhost;
using testutil::BookOptions;
using testutil::BookTest;
using testutil::Messages;

namespace {

struct Module {
    void* handle = nullptr;
    PluginTextFn name = nullptr, detail = nullptr, type = nullptr;
    PluginRunFn run = nullptr;

    explicit Module(const char* file = "libcashglide.so") {
        std::string path = std::string(LEDGER_PLUGIN_DIR) + "/" + file;
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        name = reinterpret_cast<PluginTextFn>(dlsym(handle, "PluginName"));
        detail = reinterpret_cast<PluginTextFn>(dlsym(handle, "PluginDetail"));
        type = reinterpret_cast<PluginTextFn>(dlsym(handle, "PluginType"));
        run = reinterpret_cast<PluginRunFn>(dlsym(handle, "PluginRun"));
    }
    ~Module() {
        if (handle) dlclose(handle);
    }
};

std::string callText(PluginTextFn fn) {
    HostStr s = hostStrNew("previous value");
    HostStr keep = hostStrAddRef(s);
    fn(&s);
    // The export released its reference to the old value and stored a new one.
    EXPECT_EQ(hostStrRefCount(keep), 1);
    hostStrRelease(&keep);
    std::string v = hostStrValue(s);
    hostStrRelease(&s);
    return v;
}

class PluginRunTest : public BookTest {
  protected:
    Module module;
    QWidget owner;
};

}  // namespace

TEST(PluginExports, TextsAreGbkCopies) {
    Module m;
    ASSERT_NE(m.handle, nullptr) << dlerror();
    ASSERT_TRUE(m.name && m.detail && m.type && m.run);
    EXPECT_EQ(callText(m.name), utf8ToGbk("银行对账单"));
    EXPECT_EQ(callText(m.detail), utf8ToGbk("银行对账单"));
    EXPECT_EQ(callText(m.type), utf8ToGbk("出纳"));
}

TEST_F(PluginRunTest, RefusesUnconfirmedBookSetButBindsGlobals) {
    open(BookOptions{.initConfirmed = false});
    ASSERT_TRUE(module.run);
    PluginHostBlock block = makeHostBlock(*session, &owner);
    block.Window = 0xDEADBEEF;
    block.Flag = 0x5A;
    DBManage = nullptr;
    BookManage = nullptr;
    Messages msgs;
    EXPECT_EQ(module.run(0, &block), -1);
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_EQ(msgs.shown[0].kind, seams::MsgKind::MsgBox);
    EXPECT_EQ(msgs.shown[0].text, "没有初始化确认，不能进行对账单录入！");
    EXPECT_EQ(block.Window, 0xDEADBEEFu);
    EXPECT_EQ(block.Flag, 0x5A);
    EXPECT_EQ(DBManage, &session->dbManage());
    EXPECT_NE(BookManage, nullptr);
    EXPECT_TRUE(owner.findChildren<TfrmBaseAssRpt*>().isEmpty());
}

TEST_F(PluginRunTest, CreatesStatementWindowOwnedByTheBlockOwner) {
    ASSERT_TRUE(module.run);
    PluginHostBlock block = makeHostBlock(*session, &owner);
    block.Flag = 0x5A;
    std::uint8_t reserved[8];
    std::memcpy(reserved, block.Reserved60, 8);
    EXPECT_EQ(module.run(registerHandle<QWidget>(&owner), &block), 0);
    EXPECT_EQ(block.Flag, 0);
    EXPECT_EQ(std::memcmp(reserved, block.Reserved60, 8), 0);
    QWidget* first = resolveHandle<QWidget>(block.Window);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->metaObject()->className(), "TFrmCashGlide");
    EXPECT_EQ(first->parent(), &owner);
    EXPECT_TRUE(first->isHidden());

    EXPECT_EQ(module.run(0, &block), 0);
    QWidget* second = resolveHandle<QWidget>(block.Window);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    // Shown, it is a bank statement.
    second->show();
    EXPECT_EQ(second->windowTitle(), QStringLiteral("银行对账单"));
    delete first;
    delete second;
}

TEST_F(PluginRunTest, BadBlockIsReportedNotThrown) {
    ASSERT_TRUE(module.run);
    PluginHostBlock block = makeHostBlock(*session, &owner);
    block.BookManage = block.UserManage;  // a handle of the wrong type
    block.Window = 7;
    block.Flag = 9;
    Messages msgs;
    EXPECT_EQ(module.run(0, &block), -1);
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_EQ(msgs.shown[0].kind, seams::MsgKind::MsgError);
    EXPECT_EQ(block.Window, 7u);
    EXPECT_EQ(block.Flag, 9);
    EXPECT_EQ(module.run(0, nullptr), -1);
}

// ---- the window ----

namespace {

QStringList items(QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}

}  // namespace

using JournalWindowTest = BookTest;

TEST_F(JournalWindowTest, ListsAccountsOfKindAndBookSet) {
    TFrmCashGlide bank(nullptr, 1, 3);
    EXPECT_EQ(
        items(bank.CmbAs_Code),
        QStringList({"6222001 工行基本户", "6222002 建行一般户 [已停用]", "6222003 农行专户"}));
    EXPECT_EQ(bank.CmbAs_Code->currentIndex(), 0);
    EXPECT_EQ(bank.As_Code(), "1001");
    TFrmCashGlide cash(nullptr, 2, 1);
    EXPECT_EQ(items(cash.CmbAs_Code), QStringList({"CASH 库存现金"}));
    TFrmCashGlide none(nullptr, 7, 1);
    EXPECT_EQ(none.CmbAs_Code->count(), 0);
    EXPECT_EQ(none.As_Code(), "");
}

TEST_F(JournalWindowTest, ManagedBookSetListsManagingAccountsToo) {
    open({}, "002");
    TFrmCashGlide w(nullptr, 1, 3);
    QStringList list = items(w.CmbAs_Code);
    EXPECT_TRUE(list.contains("6222201 分公司户"));
    EXPECT_TRUE(list.contains("6222001 工行基本户"));
    EXPECT_EQ(list.size(), 4);
    EXPECT_EQ(items(w.CMB_SetCode), QStringList({"B002 分公司"}));
}

TEST_F(JournalWindowTest, AccountBookSetComparedWithoutLetterCase) {
    // Older hosts stored account book-set codes in another letter case.
    db().exec("PRAGMA foreign_keys = OFF");
    db().exec(
        "INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, "
        "manage_flag, manage_set_code) VALUES ('Ab1', 'AB1', 2024, '字母账套', 0, 1, 0, '')");
    db().exec(
        "INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, "
        "opening_cents, subject_code) VALUES ('AB1', '9', '999', '大写户', 1, '1', 0, ''),"
        "('ab1', '8', '888', '小写户', 1, '1', 0, '')");
    db().exec("INSERT INTO user_book_sets VALUES ('u1', 'Ab1', 3)");
    session.reset();
    session = std::make_unique<HostSession>(path(), "Ab1", "u1");
    TFrmCashGlide w(nullptr, 1, 3);
    EXPECT_EQ(items(w.CmbAs_Code), QStringList({"999 大写户", "888 小写户"}));
}

TEST_F(JournalWindowTest, BookSetUserAndDateLists) {
    TFrmCashGlide w(nullptr, 1, 3);
    EXPECT_EQ(items(w.CMB_SetCode),
              QStringList({" ", "A001 总公司", "A001 总公司", "B002 分公司"}));
    EXPECT_EQ(w.CMB_SetCode->currentIndex(), 0);
    EXPECT_EQ(w.selectedBookSet(), nullptr);
    EXPECT_EQ(items(w.Cmb_ApplyUser), QStringList({"", "u1 张三", "u2 李四"}));
    EXPECT_EQ(w.Cmb_ApplyUser->currentIndex(), -1);
    EXPECT_EQ(w.DTPBCreateDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(w.DTPECreateDate->date(), QDate(2024, 3, 15));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("日记帐录入"));
    EXPECT_EQ(w.tableName(), "CaCollateGlide");
    EXPECT_EQ(TFrmCashGlide(nullptr, 1, 2).tableName(), "CaGlide");
    EXPECT_EQ(w.GetFormKey(), QStringLiteral("CashGlideform"));
}

TEST_F(JournalWindowTest, OfferedCommandsFollowKindOptionAndLock) {
    struct Case {
        int kind;
        std::string mode;
        bool locked;
        bool commands, vouchers, files, importButton;
        const char* caption;
    };
    const Case cases[] = {
        // The import button stays, with an empty menu, where no import is offered.
        {1, "0", false, true, false, false, true, "现金日记账"},
        {2, "1", false, false, true, false, true, "银行日记账"},
        {1, "2", false, false, false, false, true, "现金日记账"},
        {2, "", false, false, false, false, true, "银行日记账"},
        {3, "1", false, true, false, true, true, "银行对账单"},
        {3, "0", false, true, false, true, true, "银行对账单"},
        {3, "x", true, false, false, true, false, "银行对账单"},
        {1, "1", true, false, true, false, false, "现金日记账"},
        {9, "0", false, true, false, false, true, "日记帐录入"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << c.kind << " mode '" << c.mode << "' locked " << c.locked);
        open(BookOptions{.entryLocked = c.locked, .inputMode = c.mode});
        TFrmCashGlide w(nullptr, c.kind == 3 ? 1 : 2, c.kind);
        w.show();
        EXPECT_EQ(w.windowTitle(), QString::fromUtf8(c.caption));
        for (QToolButton* b : {w.TBtnNew, w.TBtnEdit, w.TBtnDelete})
            EXPECT_EQ(b->isVisibleTo(&w), c.commands);
        EXPECT_EQ(w.Mitm_Vouinput->isVisible(), c.vouchers);
        for (QAction* a : {w.Mitm_Fileinput, w.mniICBC, w.mniCCB})
            EXPECT_EQ(a->isVisible(), c.files);
        EXPECT_EQ(w.tbtnOptionSet->isVisibleTo(&w), c.importButton);
    }
}

TEST_F(JournalWindowTest, OtherBookSetChangesNothingUntilQuery) {
    testutil::addRow(db(), "CaCollateGlide", "001", "1001", "2024-03-15", 10, 0, "a");
    TFrmCashGlide w(nullptr, 1, 3);
    w.show();
    int rows = w.Cell->GetRows();
    QStringList accounts = items(w.CmbAs_Code);
    w.CMB_SetCode->setCurrentIndex(3);
    EXPECT_EQ(items(w.CmbAs_Code), accounts);
    EXPECT_EQ(w.Cell->GetRows(), rows);
}
