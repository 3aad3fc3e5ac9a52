// Signing in with a password, the history of a journal row, and two cashiers
// saving one loaded row.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTableWidget>

#include "DayTotals.h"
#include "Fixture.h"
#include "GlideHistoryView.h"
#include "History.h"
#include "ListPage.h"
#include "Passwords.h"
#include "Programs.h"
#include "Reconcile.h"
#include "SignIn.h"
#include "SignInForm.h"
#include "StoreTest.h"
#include "SystemAdmin.h"
#include "TerminalSignIn.h"

using namespace ledgerhost;

namespace {

std::int64_t number(Database& db, const std::string& sql) {
    Stmt s = db.prepare(sql);
    s.step();
    return s.i64(0);
}

}  // namespace

// Whatever a user is refused at the sign-in (a wrong password, an initial
// password to change, a password file others may read, a book set not
// theirs, no password yet, no such user) is said in Chinese, ends the
// program with a non-zero status and stores nothing.
TEST(SignInRefusals, EachRefusalIsToldAndChangesNothing) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("book.db").toStdString();
    testutil::createTestBook(path);
    {
        Database db(path);
        resetPassword(db, "u1", "u2", "chushi-1");
        db.exec("INSERT INTO users (code, name) VALUES ('u3', '王五')");
        db.exec("INSERT INTO users (code, name) VALUES ('u4', '赵六')");
        db.exec("INSERT INTO user_book_sets VALUES ('u3', '001', 1), ('u4', '001', 1)");
        Stmt pw = db.prepare("UPDATE users SET password_hash = ? WHERE code = 'u4'");
        pw.bind(1, hashPassword(testutil::kTestPassword));
        pw.run();
    }
    const QString open = dir.filePath("open.txt");
    {
        QFile f(open);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("demo123\n");
    }
    ::chmod(open.toLocal8Bit().constData(), 0644);
    const QString statement = dir.filePath("s.txt");
    {
        QFile f(statement);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(
            "账号:6222001\r\n户名:x\r\n币种:人民币\r\n起止日期:\r\n"
            "凭证号^交易日期^交易时间^对方账号^对方户名^交易类型^币种^摘要^贷方^借方^余额\r\n"
            "1^2024-03-01^t^a^n^k^c^货款^100.00^^1,100.00\r\n");
    }
    struct Case {
        const char* what;
        const char* user;
        const char* book;
        QString passwordFile;
        const char* says;
    } cases[] = {
        {"wrong password", "u1", "001", testutil::passwordFile("cuowu-99"), "的密码不对"},
        {"initial password", "u2", "001", testutil::passwordFile("chushi-1"), "初始密码已过期"},
        {"file others may read", "u1", "001", open, "允许其他用户读取"},
        {"book set not the user's", "u4", "002", testutil::passwordFile(), "没有使用账套 002"},
        {"no password yet", "u3", "001", testutil::passwordFile(), "还没有密码"},
        {"no such user", "nobody", "001", testutil::passwordFile(), "不存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess p;
        p.start(LEDGER_IMPORT_TOOL,
                {"icbc", statement, "--db", QString::fromStdString(path), "--book", c.book,
                 "--user", c.user, "--password-file", c.passwordFile});
        const testutil::Outcome r = testutil::finishProgram(p, 60000);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
    }
    Database db(path);
    EXPECT_EQ(number(db, "SELECT COUNT(*) FROM CaCollateGlide"), 0);
    EXPECT_EQ(number(db, "SELECT COUNT(*) FROM import_log"), 0);
}

class SignInTest : public testutil::BookTest {};

// The users table holds no password in any readable form: every column of
// every user is read after passwords were set, changed and reset.
TEST_F(SignInTest, NoColumnOfTheUsersHoldsAPassword) {
    changePassword(db(), "u1", "demo123", "xin-mima-1");
    resetPassword(db(), "u1", "u2", "chushi-2");
    Stmt s = db().prepare("SELECT * FROM users");
    int users = 0;
    while (s.step()) {
        ++users;
        for (int c = 0; c < s.columnCount(); ++c) {
            const std::string v = s.isNull(c) ? std::string() : s.text(c);
            for (const char* pw : {"demo123", "xin-mima-1", "chushi-2"})
                EXPECT_EQ(v.find(pw), std::string::npos) << s.columnName(c);
            if (s.columnName(c) == "password_hash") EXPECT_EQ(v.rfind("$argon2id$", 0), 0u);
        }
    }
    EXPECT_EQ(users, 2);
    EXPECT_EQ(signIn(db(), "u1", "xin-mima-1").Needs, SignInNeeds::Nothing);
    EXPECT_EQ(signIn(db(), "u2", "chushi-2").Needs, SignInNeeds::NewPassword);
    EXPECT_THROW(signIn(db(), "u1", "demo123"), SignInError);
}

// Five wrong passwords in a row make the user wait, longer after each
// further one; while waiting even the right one is refused; each attempt
// is recorded.
TEST_F(SignInTest, WrongPasswordsInARowMakeTheUserWait) {
    const std::pair<int, int> waits[] = {{4, 0}, {5, 30}, {6, 60}, {8, 240}, {40, 3600}};
    for (const auto& [wrong, seconds] : waits)
        EXPECT_EQ(signInWaitSeconds(wrong), seconds) << wrong;
    for (int i = 1; i <= 5; ++i) {
        try {
            signIn(db(), "u2", "cuowu");
            ADD_FAILURE() << "a wrong password signed in";
        } catch (const SignInError& e) {
            EXPECT_EQ(std::string(e.what()).find("之后再试") != std::string::npos, i == 5) << i;
        }
    }
    try {
        signIn(db(), "u2", "demo123");
        ADD_FAILURE() << "signed in while waiting";
    } catch (const SignInError& e) {
        EXPECT_NE(std::string(e.what()).find("还要等"), std::string::npos) << e.what();
    }
    EXPECT_EQ(number(db(), "SELECT COUNT(*) FROM sign_in_log WHERE event = 'wrong'"), 5);
    EXPECT_EQ(number(db(), "SELECT COUNT(*) FROM sign_in_log WHERE event = 'waiting'"), 1);
    // An administrator's reset ends the wait.
    resetPassword(db(), "u1", "u2", "chushi-3");
    EXPECT_EQ(signIn(db(), "u2", "chushi-3").Needs, SignInNeeds::NewPassword);
}

class GlideHistoryTest : public testutil::StoreTest {};

// One row inserted, changed, reconciled, undone, deleted and restored: its
// history lists each step with its user and values, and the restore brings
// back the very row.
TEST_F(GlideHistoryTest, EveryStepIsListedAndARestoreBringsTheRowBack) {
    TCaGlide row = journalRow("1001", "2024-03-01", 100, 0);
    ASSERT_TRUE(row.Insert(true)) << row.ErrorText;
    row.Summary = "货款";
    ASSERT_TRUE(row.Update(true)) << row.ErrorText;
    const std::int64_t bank =
        testutil::addRow(db(), kStatementTable, "001", "1001", "2024-03-02", 0, 100, "存入");
    reconcile::Reconciler rec(db(), reconcile::Reconciler::findAccount(db(), "001", "1001"), "u1");
    const std::int64_t group =
        rec.match({{reconcile::Source::Journal, row.Id}}, {{reconcile::Source::Statement, bank}});
    rec.undoGroup(group);
    const std::string before = rowValues(db(), kCashJournalTable, row.Id);
    ASSERT_TRUE(row.Delete(true)) << row.ErrorText;
    ASSERT_EQ(deletedRows(db(), "001").size(), 1u);
    restoreDeletedRow(db(), "u1", kCashJournalTable, row.Id);
    EXPECT_EQ(rowValues(db(), kCashJournalTable, row.Id), before);
    EXPECT_EQ(keptDayTotals(db()), rowDayTotals(db()));  // the balances count it again
    EXPECT_TRUE(deletedRows(db(), "001").empty());
    EXPECT_THROW(restoreDeletedRow(db(), "u1", kCashJournalTable, row.Id), StoreError);

    const auto history = rowHistory(db(), kCashJournalTable, row.Id);
    std::vector<std::string> steps;
    for (const HistoryEntry& e : history) {
        steps.push_back(e.Operation);
        EXPECT_EQ(e.User, "u1") << e.Operation;
        EXPECT_EQ(e.UserName, "张三") << e.Operation;
        EXPECT_EQ(e.At.size(), 19u) << e.Operation;
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"insert", "update", "reconcile", "unreconcile",
                                               "delete", "restore"}));
    ASSERT_EQ(history.size(), 6u);
    EXPECT_EQ(history[1].Description, "摘要：测试 → 货款");
    EXPECT_EQ(history[4].Before, before);
    EXPECT_EQ(history[5].After, before);
    // Nothing edits or deletes the history.
    EXPECT_THROW(db().exec("UPDATE row_history SET user_code = 'u2'"), StoreError);
    EXPECT_THROW(db().exec("DELETE FROM row_history"), StoreError);
}

// Two cashiers load one row and both save (or delete): the second is
// refused with who changed it and when, and the row keeps the first's values.
TEST_F(GlideHistoryTest, TheSecondOfTwoSavesOfOneLoadedRowIsRefused) {
    for (const bool deleting : {false, true}) {
        SCOPED_TRACE(deleting ? "delete" : "update");
        const std::int64_t id =
            testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-03-01", 100, 0, "原来");
        auto load = [&] {
            TCaGlideMng mng(kCashJournalTable);
            mng.CaGlideQry()->SetCode = "001";
            mng.Load();
            for (int i = 0; i < mng.GetCount(); ++i)
                if (mng.GetDetails(i)->Id == id) return *mng.GetDetails(i);
            ADD_FAILURE() << "row not loaded";
            return TCaGlide(kCashJournalTable);
        };
        TCaGlide first = load(), second = load();
        first.Summary = "甲改";
        ASSERT_TRUE(first.Update(true)) << first.ErrorText;
        second.Summary = "乙改";
        EXPECT_FALSE(deleting ? second.Delete(true) : second.Update(true));
        const std::string said = second.ErrorText;
        EXPECT_EQ(said.rfind("这条记录已被 张三 于 ", 0), 0u) << said;
        const std::string tail = " 修改，请刷新后再操作。";
        EXPECT_TRUE(said.size() > tail.size() &&
                    said.compare(said.size() - tail.size(), tail.size(), tail) == 0)
            << said;
        Stmt s = db().prepare("SELECT summary FROM CaGlide WHERE id = ?");
        s.bind(1, id);
        ASSERT_TRUE(s.step());
        EXPECT_EQ(s.text(0), "甲改");
    }
}

// The sign-in window lets in only the right password; an initial password
// is replaced there before the user gets in.
TEST_F(SignInTest, TheWindowLetsInOnlyTheRightPassword) {
    resetPassword(db(), "u1", "u2", "chushi-1");
    struct Case {
        const char* user;
        const char* password;
        bool in;
        const char* says;
        int changes;
    } cases[] = {
        {"u1", "cuowu-1", false, "的密码不对", 0},
        {"u1", "demo123", true, "", 0},
        {"u2", "chushi-1", true, "密码已修改", 1},
        {"u2", "xin-mima-2", true, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " " + c.password);
        testutil::Messages messages;
        testutil::Modals modals([](QDialog& d) {
            auto& f = dynamic_cast<office::TFrmChangePassword&>(d);
            f.edtOld->setText(QStringLiteral("chushi-1"));
            f.edtNew->setText(QStringLiteral("xin-mima-2"));
            f.edtNew2->setText(QStringLiteral("xin-mima-2"));
            f.accept();
            return f.result();
        });
        office::TFrmSignIn form(nullptr, db(), c.user, "001");
        form.edtPassword->setText(QString::fromUtf8(c.password));
        form.accept();
        EXPECT_EQ(form.result() == QDialog::Accepted, c.in);
        EXPECT_EQ(static_cast<int>(modals.shown.size()), c.changes);
        if (c.in) EXPECT_EQ(form.book, "001");
        if (*c.says) {
            ASSERT_FALSE(messages.texts().empty());
            EXPECT_NE(messages.texts().front().find(c.says), std::string::npos)
                << messages.texts().front();
        }
        EXPECT_TRUE(form.edtPassword->text().isEmpty()) << "the password is not kept";
    }
}

// A password file is read only when nobody but its owner may read it, and
// only its first line is the password.
TEST(SignInFiles, APasswordFileIsReadOnlyWhenOnlyItsOwnerMayReadIt) {
    QTemporaryDir dir;
    struct Case {
        const char* what;
        QByteArray content;
        unsigned mode;
        const char* password;  // empty: refused, with `says`
        const char* says;
    } cases[] = {
        {"owner only", "mima-123\nrest\n", 0600, "mima-123", ""},
        {"owner read only, CRLF", "mima-123\r\n", 0400, "mima-123", ""},
        {"group may read", "mima-123\n", 0640, "", "允许其他用户读取"},
        {"others may read", "mima-123\n", 0604, "", "允许其他用户读取"},
        {"empty first line", "\nmima-123\n", 0600, "", "第一行是空的"},
        {"missing", "", 0, "", "无法读取密码文件"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QString::number(++n));
        if (c.mode) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.content);
            f.close();
            ::chmod(path.toLocal8Bit().constData(), c.mode);
        }
        try {
            EXPECT_EQ(cli::readPasswordFile(path.toStdString()), c.password);
        } catch (const cli::PasswordUnreadable& e) {
            EXPECT_EQ(*c.password, '\0') << e.what();
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(cli::readPasswordFile(dir.path().toStdString()), cli::PasswordUnreadable)
        << "a folder is no password file";
}

// A database whose users have no password yet: its administrator chooses
// one at the first sign-in, and nobody else gets in until given one.
TEST_F(SignInTest, AnOlderDatabaseAsksItsAdministratorForTheFirstPassword) {
    db().exec("UPDATE users SET password_hash = NULL");
    EXPECT_THROW(signIn(db(), "u2", "demo123"), SignInError);
    EXPECT_THROW(changePassword(db(), "u2", "", "xin-mima-1"), SignInError);
    EXPECT_EQ(signIn(db(), "u1", "").Needs, SignInNeeds::FirstPassword);
    changePassword(db(), "u1", "", "xin-mima-1");
    EXPECT_EQ(signIn(db(), "u1", "xin-mima-1").Needs, SignInNeeds::Nothing);
    EXPECT_THROW(signIn(db(), "u1", ""), SignInError) << "the first password is chosen once";
    EXPECT_THROW(resetPassword(db(), "u2", "u1", "chushi-1"), StoreError) << "not an administrator";
    resetPassword(db(), "u1", "u2", "chushi-1");
    EXPECT_EQ(signIn(db(), "u2", "chushi-1").Needs, SignInNeeds::NewPassword);
}

// A deleted row is not restored when its book set is locked, its 统一号 was
// given to another row meanwhile, or by someone who is no administrator;
// nothing changes then.
TEST_F(GlideHistoryTest, ARestoreIsRefusedWithItsReason) {
    struct Case {
        const char* what;
        std::string setUp;
        const char* actor;
        const char* says;
    } cases[] = {
        {"not an administrator", "", "u2", "没有系统管理权限"},
        {"book set locked", "UPDATE book_sets SET entry_locked = 1 WHERE code = '001'", "u1",
         "已锁定"},
        {"number taken", "UPDATE CaGlide SET date_or_no = {no} WHERE summary = '后来'", "u1",
         "已被账号 6222001 的另一条记录使用"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db().exec("DELETE FROM CaGlide; UPDATE book_sets SET entry_locked = 0");
        TCaGlide row = journalRow("1001", "2024-03-01", 100, 0);
        ASSERT_TRUE(row.Insert(true)) << row.ErrorText;
        ASSERT_TRUE(row.Delete(true)) << row.ErrorText;
        testutil::addRow(db(), kCashJournalTable, "001", "1001", "2024-03-02", 5, 0, "后来", 900);
        std::string setUp = c.setUp;
        if (const auto at = setUp.find("{no}"); at != std::string::npos)
            setUp.replace(at, 4, row.DateOrNo);
        if (!setUp.empty()) db().exec(setUp);
        try {
            restoreDeletedRow(db(), c.actor, kCashJournalTable, row.Id);
            ADD_FAILURE() << "restored";
        } catch (const StoreError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_EQ(number(db(), "SELECT COUNT(*) FROM CaGlide"), 1);
    }
}

// Only an administrator backs up, restores or copies a database.
TEST(SignInRefusals, OnlyAnAdministratorBacksUpRestoresOrCopies) {
    QTemporaryDir dir;
    const QString db = dir.filePath("book.db");
    testutil::createTestBook(db.toStdString());
    const QString backup = dir.filePath("b.db");
    struct Case {
        QStringList args;
        const char* user;
        int exitCode;
    } cases[] = {
        {{"backup", "--db", db, "--to", backup}, "u2", 1},
        {{"copy", "--from", db, "--to", dir.filePath("c.db")}, "u2", 1},
        {{"backup", "--db", db, "--to", backup}, "u1", 0},
        {{"restore", "--from", backup, "--db", dir.filePath("r.db")}, "u2", 1},
        {{"restore", "--from", backup, "--db", dir.filePath("r.db")}, "u1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " " + c.user);
        QProcess p;
        p.start(testutil::programPath("chuna-admin"),
                c.args + QStringList{"--user", c.user} + testutil::signedIn());
        const testutil::Outcome r = testutil::finishProgram(p, 60000);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        if (c.exitCode != 0) EXPECT_TRUE(r.err.contains("没有系统管理权限")) << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("c.db")));
}

// 系统管理 lists a deleted row and restores it; 查看修改记录 then lists its
// insert, deletion and restore.
TEST_F(SignInTest, SystemAdminRestoresADeletedRowThatTheHistoryThenLists) {
    TCaGlide row(kCashJournalTable);
    row.SetCode = "001";
    row.AS_Code = "1001";
    row.CreateDate = "2024-03-01";
    row.DebMoney = 100;
    row.Summary = "删掉的";
    ASSERT_TRUE(row.Insert(true)) << row.ErrorText;
    ASSERT_TRUE(row.Delete(true)) << row.ErrorText;
    testutil::Messages messages;
    office::TFrmSystemAdmin admin(nullptr, db(), "u1", "001");
    QTableWidget* deleted = admin.deleted->table();
    ASSERT_EQ(deleted->rowCount(), 1);
    EXPECT_EQ(deleted->item(0, 4)->text(), QStringLiteral("删掉的"));
    admin.RestoreRow();
    EXPECT_EQ(messages.texts().back(), "记录已恢复。");
    EXPECT_EQ(deleted->rowCount(), 0);
    TFrmGlideHistory view(nullptr, db(), kCashJournalTable, row.Id, QStringLiteral("统一号 1"));
    ASSERT_EQ(view.grid->rowCount(), 3);
    EXPECT_EQ(view.grid->item(2, 1)->text(), QStringLiteral("恢复"));
    EXPECT_EQ(view.grid->item(1, 2)->text(), QStringLiteral("u1 张三"));
}
