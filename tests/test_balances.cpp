// Balances a bookkeeper can check line by line: one running balance per
// (book set, account) in every view, the bank's side in the statement, and no
// row that would break them (a summary text of the summary rows, a date
// outside the book set's year) ever stored.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>

#include "Codec.h"
#include "EntryLink.h"
#include "JournalHelpers.h"
#include "RunStatementImport.h"
#include "Sections.h"
#include "Unt_CashGlideAdd.h"
#include "Workbook.h"
#include "untGlideImport.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

// The test book plus what the demo has: book set 002 (managed by 001) with an
// account of its own under 001's code 1001, and book set 003 that user u1 may
// not open, also with a 1001.
class BalanceTest : public BookTest {
  protected:
    void SetUp() override {
        mng.reset();
        BookTest::SetUp();
        db().exec(
            "INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, "
            "manage_flag, manage_set_code) VALUES ('003', 'C003', 2024, '工厂', 0, 1, 0, '');"
            "INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, "
            "opening_cents, subject_code) VALUES "
            "('002', '1001', '6222299', '分公司同码户', 1, '1', 30000, '100201'),"
            "('003', '1001', '6222399', '工厂户', 1, '1', 70000, '100201')");
        auto add = [&](const char* set, const char* acc, const char* date, double d, double c) {
            addRow(db(), table, set, acc, date, d, c, "行");
        };
        add("001", "1001", "2024-01-05", 200, 0);
        add("002", "1001", "2024-01-06", 0, 50);
        add("003", "1001", "2024-01-07", 999, 0);
        add("001", "1001", "2024-02-01", 0, 120);
        add("002", "1003", "2024-02-03", 40, 0);  // 002 uses 001's 1003
        add("001", "1003", "2024-02-04", 0, 15);
        add("002", "1001", "2024-03-02", 25, 0);
        add("001", "1001", "2024-03-03", 10, 0);
    }
    TCaGlideMng& load(const std::string& set, const std::string& as, const std::string& owner,
                      const std::string& from = "2024-01-01",
                      const std::string& to = "2024-12-31") {
        mng = std::make_unique<TCaGlideMng>(table);
        TCaGlideQry& q = *mng->CaGlideQry();
        q.SetCode = set;
        q.AS_Code = as;
        q.AccountSetCode = owner;
        q.BCreateDate = from;
        q.ECreateDate = to;
        mng->SubjectKind = 1;
        mng->Load();
        return *mng;
    }
    // The (book set, account) pairs of the opening lines, in order.
    std::vector<std::string> sections() const {
        std::vector<std::string> out;
        for (int i = 0; i < mng->GetCount(); ++i) {
            const TCaGlide* r = mng->GetDetails(i);
            if (r->Summary == kYearOpening || r->Summary == kPeriodOpening)
                out.push_back(r->SetCode + "/" + r->AS_Code + " " +
                              std::to_string(toCents(r->Balance)));
        }
        return out;
    }

    std::string table = kCashJournalTable;
    std::unique_ptr<TCaGlideMng> mng;
};

using Sections = std::vector<std::string>;

TEST_F(BalanceTest, EveryBookSetAndAccountIsASectionOfItsOwn) {
    for (const char* t : {kCashJournalTable, kStatementTable}) {
        SCOPED_TRACE(t);
        table = t;
        SetUp();
        struct Case {
            const char* what;
            const char *set, *as, *owner;
            Sections want;
        } cases[] = {
            {"blank book set, any 1001: never 003's",
             "",
             "1001",
             "",
             {"001/1001 100000", "002/1001 30000"}},
            {"blank book set, 001's 1001", "", "1001", "001", {"001/1001 100000"}},
            {"blank book set, 002's 1001", "", "1001", "002", {"002/1001 30000"}},
            {"002 asked for 001's 1001 shows none of 002's own", "002", "1001", "001", {}},
            {"002's own 1001", "002", "1001", "002", {"002/1001 30000"}},
            {"001's 1003 in 001 and in the book set it manages",
             "",
             "1003",
             "001",
             {"001/1003 0", "002/1003 0"}},
            {"every account of the blank book set",
             "",
             "",
             "",
             {"001/1001 100000", "001/1003 0", "002/1001 30000", "002/1003 0"}},
            {"an account without rows still opens", "001", "1003", "001", {"001/1003 0"}},
        };
        for (const Case& c : cases) {
            load(c.set, c.as, c.owner);
            EXPECT_EQ(sections(), c.want) << c.what;
            expectCoherent(*mng, c.what);
            for (int i = 0; i < mng->GetCount(); ++i)
                EXPECT_NE(mng->GetDetails(i)->SetCode, "003") << c.what;
        }
        // From March on, each section opens with its own rows before the range.
        load("", "1001", "");
        load("", "1001", "", "2024-03-01", "2024-03-31");
        const std::int64_t sign = table == kStatementTable ? -1 : 1;
        EXPECT_EQ(sections(), (Sections{"001/1001 " + std::to_string(100000 + sign * 8000),
                                        "002/1001 " + std::to_string(30000 - sign * 5000)}));
        expectCoherent(*mng, "March");
    }
}

TEST_F(BalanceTest, TheBlankBookSetCoversOnlyTheUsersBookSets) {
    // u2 may open 001 only: 002's rows are not loaded for u2.
    session.reset();
    session = std::make_unique<HostSession>(path(), "001", "u2");
    load("", "1001", "");
    EXPECT_EQ(sections(), (Sections{"001/1001 100000"}));
    load("", "", "");
    EXPECT_EQ(sections(), (Sections{"001/1001 100000", "001/1003 0"}));
}

TEST_F(BalanceTest, ADateShowsOneBalanceWhereverTheRangeStarts) {
    // A row of the year before, stored by an older program.
    addRow(db(), table, "001", "1001", "2023-12-30", 0, 300, "去年");
    const std::int64_t march3 = [&] {
        Stmt s = db().prepare("SELECT id FROM CaGlide WHERE create_date = '2024-03-03'");
        s.step();
        return s.i64(0);
    }();
    std::vector<double> seen;
    for (const char* from : {"2023-12-01", "2024-01-01", "2024-02-15", "2024-03-03"}) {
        load("001", "1001", "001", from, "2024-03-31");
        expectCoherent(*mng, from);
        for (int i = 0; i < mng->GetCount(); ++i)
            if (mng->GetDetails(i)->Id == march3) seen.push_back(mng->GetDetails(i)->Balance);
    }
    EXPECT_EQ(seen, (std::vector<double>(4, 1000 - 300 + 200 - 120 + 10)));
}

// ---- what may be stored ----

TEST_F(BalanceTest, ReservedSummariesAndOtherYearsAreRefused) {
    TCaGlide ok(kStatementTable);
    ok.AS_Code = "1001";
    ok.CreateDate = "2024-03-01";
    ok.DebMoney = 5;
    ASSERT_TRUE(ok.Insert(true)) << ok.ErrorText;
    for (const char* summary : {"年初余额", "期初余额", "本月合计", "本年累计"}) {
        TCaGlide r = ok;
        r.Id = 0;
        r.Summary = summary;
        EXPECT_FALSE(r.Insert(true)) << summary;
        EXPECT_EQ(r.ErrorText,
                  std::string("摘要不能是“") + summary + "”：这是系统的合计行所用的文字。");
        TCaGlide u = ok;
        u.Summary = summary;
        EXPECT_FALSE(u.Update(true)) << summary;
        EXPECT_FALSE(u.ErrorText.empty());
    }
    for (const char* date : {"2023-12-31", "2025-01-01"}) {
        TCaGlide r = ok;
        r.Id = 0;
        r.CreateDate = date;
        EXPECT_FALSE(r.Insert(true)) << date;
        EXPECT_EQ(r.ErrorText, std::string("日期 ") + date + " 不在账套的会计年度 2024 年内。");
        TCaGlide u = ok;
        u.CreateDate = date;
        EXPECT_FALSE(u.Update(true)) << date;
    }
    // Near-misses are ordinary summaries.
    TCaGlide near = ok;
    near.Id = 0;
    near.Summary = "本月合计 ";
    EXPECT_TRUE(near.Insert(true)) << near.ErrorText;
    Stmt s = db().prepare("SELECT COUNT(*), MIN(summary) FROM CaCollateGlide");
    s.step();
    EXPECT_EQ(s.i64(0), 2);
}

TEST_F(BalanceTest, TheEntryDialogShowsWhyAndStoresNothing) {
    Messages msgs;
    TFrmCashGlide w(nullptr, 1, jkStatement);
    struct Case {
        const char* summary;
        QDate date;
        std::string message;
    } cases[] = {
        {"本月合计", QDate(2024, 3, 15), "摘要不能是“本月合计”：这是系统的合计行所用的文字。"},
        {"收款", QDate(2023, 12, 31), "日期 2023-12-31 不在账套的会计年度 2024 年内。"},
    };
    for (const Case& c : cases) {
        msgs.shown.clear();
        TFrmCashGlideAdd d(nullptr, kStatementTable);
        TCaGlide* r = d.CaGlide();
        r->SetCode = "001";
        r->SetASCode("1001");
        r->CreateDate = "2024-03-15";
        r->ApplyUser = "u1";
        r->OperFlag = "0";
        d.EditMode = "0";
        d.RowSaved = redrawAfterSave(w);
        d.show();
        d.DTPCreateDate->setDate(c.date);
        d.EdtDebMoney->setValue(10);
        d.EdtSummary->setText(QString::fromStdString(c.summary));
        d.BtSaveCloseClick();
        QApplication::processEvents();
        EXPECT_EQ(msgs.texts(), std::vector<std::string>{c.message}) << c.summary;
        Stmt s = db().prepare("SELECT COUNT(*) FROM CaCollateGlide");
        s.step();
        EXPECT_EQ(s.i64(0), 0);
    }
}

// ---- statements ----

class StatementBalanceTest : public BookTest {
  protected:
    std::string writeIcbc(const std::vector<std::string>& lines) {
        std::string text =
            "账号:6222001\r\n户名:总公司\r\n币种:人民币\r\n起止日期:2024-03-01至2024-03-31\r\n"
            "凭证号^交易日期^交易时间^对方账号^对方户名^交易类型^币种^摘要^贷方^借方^余额\r\n";
        for (const auto& l : lines) text += l + "\r\n";
        QString path = dir.filePath("icbc.txt");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        std::string gbk = utf8ToGbk(text);
        f.write(gbk.data(), static_cast<qint64>(gbk.size()));
        return path.toStdString();
    }
    std::string run(StatementKind kind, const std::string& path) {
        Messages msgs;
        TCaGlideMng mng(kStatementTable);
        runStatementImport(kind, path, &mng, nullptr);
        return msgs.texts().empty() ? std::string() : msgs.texts()[0];
    }
    std::int64_t storedCount() {
        Stmt s = db().prepare("SELECT COUNT(*) FROM CaCollateGlide");
        s.step();
        return s.i64(0);
    }
};

std::string icbc(const char* date, const char* summary, const char* credit, const char* debit,
                 const char* balance) {
    return std::string("1^") + date + "^t^a^n^k^c^" + summary + "^" + credit + "^" + debit + "^" +
           balance;
}

TEST_F(StatementBalanceTest, AnImportedStatementShowsTheBanksBalances) {
    // Account 6222001 (1001) opens the year at 1,000.00, as the bank's statement does.
    const char* const lines[][5] = {
        {"2024-03-01", "收到货款", "5,000.00", "", "6,000.00"},
        {"2024-03-02", "123-支付货款", "", "1,250.50", "4,749.50"},
        {"2024-03-02", "手续费", "", "12.00", "4,737.50"},
        {"2024-03-05", "支付工资", "", "6,000.00", "-1,262.50"},
        {"2024-04-01", "利息收入", "3.21", "", "-1,259.29"},
    };
    std::vector<std::string> text;
    for (const auto& l : lines) text.push_back(icbc(l[0], l[1], l[2], l[3], l[4]));
    ASSERT_EQ(run(StatementKind::ICBC, writeIcbc(text)),
              "工行对账单导入完成。共导入 5 行，账号 6222001。");

    TFrmCashGlide w(nullptr, 1, jkStatement);
    w.show();
    queryRange(w, QDate(2024, 1, 1), QDate(2024, 12, 31));
    TCaGlideMng& mng = *w.CaGlideMng();
    EXPECT_EQ(expectCoherent(mng, "statement"), 1);
    std::vector<std::string> balances, sides;
    for (int i = 0; i < mng.GetCount(); ++i)
        if (mng.GetDetails(i)->Id != 0) {
            int row = kFirstDataRow + i;
            balances.push_back(
                QString::number(w.Cell->GetCellDouble(12, row), 'f', 2).toStdString());
            sides.push_back(w.Cell->GetCellString(11, row).toStdString());
        }
    std::vector<std::string> bank, bankSides;
    for (const auto& l : lines) {
        std::string b = l[4];
        b.erase(std::remove(b.begin(), b.end(), ','), b.end());
        bankSides.push_back(b[0] == '-' ? "借" : "贷");
        if (b[0] == '-') b.erase(0, 1);
        bank.push_back(b);
    }
    EXPECT_EQ(balances, bank);
    EXPECT_EQ(sides, bankSides);
    EXPECT_EQ(w.Cell->GetCellString(11, 5).toStdString(), "贷") << "the opening is a credit";
}

TEST_F(StatementBalanceTest, FilesWithSummaryLinesOrOtherYearsStoreNothing) {
    const std::string good = icbc("2024-03-01", "收款", "1.00", "", "1,001.00");
    struct Case {
        std::vector<std::string> lines;
        std::string message;
    } cases[] = {
        {{good, icbc("2024-03-31", "本月合计", "1.00", "", "")},
         "第 7 行：摘要不能是“本月合计”：这是系统的合计行所用的文字。"},
        {{good, icbc("2024-03-31", "7-本年累计", "", "", "")},
         "第 7 行：摘要不能是“本年累计”：这是系统的合计行所用的文字。"},
        {{icbc("2025-01-02", "收款", "1.00", "", "")},
         "第 6 行：日期 2025-01-02 不在账套的会计年度 2024 年内。"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(StatementKind::ICBC, writeIcbc(c.lines)),
                  "工行对账单导入出错。错误信息：" + c.message + "\n没有导入任何记录。");
        EXPECT_EQ(storedCount(), 0);
    }
}

TEST_F(StatementBalanceTest, WorkbooksWithSummaryRowsOrOtherYearsStoreNothing) {
    auto row = [](const char* date, const char* summary) {
        return std::vector<std::string>{date,   "09:00:00", "转账",      "1",    "8.00",
                                        "0.00", "-",        "6217",      "对方", summary,
                                        "-",    "6222001",  "工行基本户"};
    };
    struct Case {
        std::vector<std::vector<std::string>> rows;
        std::string message;
    } cases[] = {
        {{row("2024/03/01", "收款"), row("2024/03/31", "本月合计")},
         "第 11 行：摘要不能是“本月合计”：这是系统的合计行所用的文字。"},
        {{row("2024/03/01", "收款"), row("2023/12/31", "收款")},
         "第 11 行：日期 2023-12-31 不在账套的会计年度 2024 年内。"},
    };
    for (const Case& c : cases) {
        std::string path = dir.filePath("ccb.xls").toStdString();
        writeWorkbook(path, c.rows, 10);
        EXPECT_EQ(run(StatementKind::CCB, path),
                  "建行对账单导入出错。错误信息：" + c.message + "\n没有导入任何记录。");
        EXPECT_EQ(storedCount(), 0);
    }
}

// ---- the window ----

TEST_F(BalanceTest, TheFirstLoadShowsWhatTheFilterPanelShows) {
    table = kStatementTable;
    SetUp();
    TFrmCashGlide w(nullptr, 1, jkStatement);
    w.show();
    const TCaGlideQry& q = *w.CaGlideMng()->CaGlideQry();
    EXPECT_EQ(w.CMB_SetCode->currentText(), " ");
    EXPECT_EQ(q.SetCode, "");
    EXPECT_EQ(q.AS_Code, "1001");
    EXPECT_EQ(q.AccountSetCode, "001");
    EXPECT_EQ(q.BCreateDate, "2024-03-15");
    EXPECT_EQ(q.ECreateDate, "2024-03-15");
    // Nothing on the day: the section of 001's 1001 opens alone, with the
    // balance of the day before (the bank's side: credits raise it).
    std::vector<std::string> got;
    for (int i = 0; i < w.CaGlideMng()->GetCount(); ++i) {
        const TCaGlide* r = w.CaGlideMng()->GetDetails(i);
        got.push_back(r->SetCode + "/" + r->AS_Code + " " + std::to_string(toCents(r->Balance)));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"001/1001 91000"}))
        << "002 has its own 1001: 001's account has no rows of 002";
    expectCoherent(*w.CaGlideMng(), "first load");

    // The blank item over the year: one section per book set that uses the account.
    queryRange(w, QDate(2024, 1, 1), QDate(2024, 12, 31), 2);  // 1003
    EXPECT_EQ(expectCoherent(*w.CaGlideMng(), "blank item, 1003"), 2);
    EXPECT_EQ(w.Cell->GetCellString(8, 5).toStdString(), "年初余额");
    EXPECT_EQ(w.Cell->GetCellString(4, 5), QStringLiteral(" 总公司[001]"));
    const int second = gridRowOf(w, "本年累计") + 1;
    EXPECT_EQ(w.Cell->GetCellString(8, second).toStdString(), "年初余额");
    EXPECT_EQ(w.Cell->GetCellString(4, second), QStringLiteral(" 分公司[002]"));
}

TEST_F(BalanceTest, BoundsAtTheLimitsOfTheEdits) {
    TFrmCashGlide w(nullptr, 1, jkBank);
    w.show();
    const double most = kLargestAmount, last = kLargestNumber;
    struct Case {
        const char* what;
        int op;  // index in the operator list
        double first, end, fromNo, toNo;
        int rows;
    } cases[] = {
        {"less than the largest amount", 4, 0, most, 0, 0, 3},
        {"more than the largest amount", 2, 0, most, 0, 0, 0},
        {"between both largest amounts", 6, -most, most, 0, 0, 3},
        {"less than 0", 4, 0, 0, 0, 0, 0},
        {"numbers from the largest", 0, 0, 0, last, 0, 0},
        {"numbers up to the largest", 0, 0, 0, 0, last, 3},
    };
    for (const Case& c : cases) {
        w.Cmb_operSymble->setCurrentIndex(c.op);
        w.EDT_FirstMonery->setValue(c.first);
        w.EDT_ENdMonery->setValue(c.end);
        w.Edt_FirstNo->setValue(c.fromNo);
        w.Edt_EndNo->setValue(c.toNo);
        queryRange(w, QDate(2024, 1, 1), QDate(2024, 12, 31));
        EXPECT_EQ(static_cast<int>(shownSummaries(w).size()), c.rows) << c.what;
        expectCoherent(*w.CaGlideMng(), c.what, c.rows == 3);
    }
}

}  // namespace

// Saves pictures of a book set's statement for a person to look at:
//   LEDGER_SHOT_DB=demo.db ledger_tests --gtest_also_run_disabled_tests \
//     --gtest_filter='*StatementPictures*'
// writes statement-start.png (as the window opens) and statement-year.png (the
// blank book-set item over the year) and statement-month.png (this month) to
// $LEDGER_SHOTS (or /tmp).
TEST(BalancePictures, DISABLED_StatementPictures) {
    const QString db = qEnvironmentVariable("LEDGER_SHOT_DB");
    if (db.isEmpty()) GTEST_SKIP() << "LEDGER_SHOT_DB names no database";
    const QString out = qEnvironmentVariable("LEDGER_SHOTS", QStringLiteral("/tmp"));
    HostSession session(db.toStdString(), "001", "admin");
    TFrmCashGlide w(nullptr, 1, jkStatement);
    w.resize(1000, 900);
    w.show();
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().save(out + "/statement-start.png"));
    expectCoherent(*w.CaGlideMng(), "start");
    const QDate today = w.DTPECreateDate->date();
    w.CMB_SetCode->setCurrentIndex(0);
    queryRange(w, QDate(today.year(), 1, 1), today);
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().save(out + "/statement-year.png"));
    expectCoherent(*w.CaGlideMng(), "year");
    queryRange(w, QDate(today.year(), today.month(), 1), today);
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().save(out + "/statement-month.png"));
    expectCoherent(*w.CaGlideMng(), "month");
}

namespace {

// The account list item whose text starts with the account number.
int itemOf(TFrmCashGlide& w, const char* number) {
    for (int i = 0; i < w.CmbAs_Code->count(); ++i)
        if (w.CmbAs_Code->itemText(i).startsWith(QString::fromUtf8(number))) return i;
    return -1;
}

}  // namespace

TEST_F(BalanceTest, AManagedBookSetTellsItsAccountsFromItsManagers) {
    session.reset();
    session = std::make_unique<HostSession>(path(), "002", "u1");
    session->dbManage().FixedTime = QDateTime(QDate(2024, 3, 15), QTime(10, 0));
    TFrmCashGlide w(nullptr, 1, jkBank);
    w.show();
    EXPECT_EQ(w.CMB_SetCode->count(), 1);
    struct Case {
        const char* number;  // the account picked
        Sections want;
    } cases[] = {
        {"6222299", {"002/1001 " + std::to_string(30000 - 5000 + 2500)}},  // 002's own 1001
        {"6222001", {}},  // 001's 1001: 002's rows of code 1001 are its own account's
        {"6222003", {"002/1003 4000"}},  // 001's 1003, which 002 uses
    };
    for (const Case& c : cases) {
        const int item = itemOf(w, c.number);
        ASSERT_GE(item, 0) << c.number;
        queryRange(w, QDate(2024, 1, 1), QDate(2024, 12, 31), item);
        mng.reset();
        Sections got;
        for (int i = 0; i < w.CaGlideMng()->GetCount(); ++i) {
            const TCaGlide* r = w.CaGlideMng()->GetDetails(i);
            if (isSummaryText(r->Summary) && r->Summary != kMonthTotal && r->Summary != kYearTotal)
                continue;
            if (r->Summary == kYearTotal && i + 1 == w.CaGlideMng()->GetCount())
                got.push_back(r->SetCode + "/" + r->AS_Code + " " +
                              std::to_string(toCents(r->Balance)));
        }
        EXPECT_EQ(got, c.want) << c.number;
        expectCoherent(*w.CaGlideMng(), c.number);
    }
}
