// ICBC statement text files and CCB statement workbooks into bank-statement rows.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "BankBalances.h"
#include "Codec.h"
#include "DayTotals.h"
#include "ImportFiles.h"
#include "JournalHelpers.h"
#include "Programs.h"
#include "RunStatementImport.h"
#include "Workbook.h"
#include "untGlideImport.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

// One ICBC transaction line: fields 0 to 9 separated by "^".
std::string icbcLine(const std::string& date, const std::string& payAndSummary,
                     const std::string& credit, const std::string& debit) {
    return "1^" + date + "^a^b^c^d^e^" + payAndSummary + "^" + credit + "^" + debit;
}

struct StoredRow {
    std::string asCode, date, payCode, summary, user, flag, setCode;
    std::int64_t deb, cre;
};

class StatementImportTest : public BookTest {
  protected:
    // Writes the lines as a GBK file with CR LF line ends.
    std::string writeText(const std::string& name, const std::vector<std::string>& lines,
                          bool finalBreak = true) {
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            text += lines[i];
            if (i + 1 < lines.size() || finalBreak) text += "\r\n";
        }
        QString path = dir.filePath(QString::fromStdString(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        std::string gbk = utf8ToGbk(text);
        f.write(gbk.data(), static_cast<qint64>(gbk.size()));
        return path.toStdString();
    }
    std::vector<std::string> header(const std::string& account = "账号:6222001") {
        return {account, "户名:总公司", "币种:人民币", "起止日期:2024-03-01至2024-03-31",
                "交易日^日期^...^摘要^贷方^借方"};
    }
    std::vector<StoredRow> stored() {
        std::vector<StoredRow> out;
        Stmt s = db().prepare(
            "SELECT as_code, create_date, pay_code, summary, apply_user, glide_flag, set_code, "
            "deb_cents, cre_cents "
            "FROM CaCollateGlide ORDER BY id");
        while (s.step())
            out.push_back({s.text(0), s.text(1), s.text(2), s.text(3), s.text(4), s.text(5),
                           s.text(6), s.i64(7), s.i64(8)});
        return out;
    }
    // Runs an import as the menu does and answers the message it showed.
    std::string run(StatementKind kind, const std::string& path, TCaGlideMng* m = nullptr) {
        Messages msgs;
        runStatementImport(kind, path, m ? m : &mng, nullptr);
        EXPECT_EQ(msgs.shown.size(), 1u);
        if (msgs.shown.empty()) return {};
        EXPECT_EQ(msgs.shown[0].caption, "提示");
        EXPECT_EQ(msgs.shown[0].flags, MB_ICONINFORMATION);
        return msgs.shown[0].text;
    }
    bool exists(const std::string& name) {
        return QFileInfo::exists(dir.filePath(QString::fromStdString(name)));
    }

    TCaGlideMng mng{"CaCollateGlide"};
};

const std::string kIcbcOk = "工行对账单导入完成。";
const std::string kIcbcFail = "工行对账单导入出错。错误信息：";
const std::string kCcbOk = "建行对账单导入完成。";
const std::string kCcbFail = "建行对账单导入出错。错误信息：";
const std::string kNothing = "\n没有导入任何记录。";

bool startsWith(const std::string& text, const std::string& head) {
    return text.rfind(head, 0) == 0;
}

}  // namespace

TEST_F(StatementImportTest, IcbcLinesBecomeRowsOfTheNamedAccount) {
    auto lines = header();
    lines.push_back(icbcLine("2024-03-02", "1234-转账-工资", "5,000.50", ""));
    lines.push_back(icbcLine("2024-03-03", "-手续费", "", "12.30"));
    lines.push_back(icbcLine("2024-03-04", "利息", "", "1,234,567.89"));
    std::string path = writeText("0401.TXT", lines);
    UserManage->BankAccountManage()->SetCode = "stale";
    EXPECT_EQ(run(StatementKind::ICBC, path), kIcbcOk + "共导入 3 行，账号 6222001。");
    auto rows = stored();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].asCode, "1001");
    EXPECT_EQ(rows[0].setCode, "001");
    EXPECT_EQ(rows[0].date, "2024-03-02");
    EXPECT_EQ(rows[0].payCode, "1234");
    EXPECT_EQ(rows[0].summary, "转账-工资");
    EXPECT_EQ(rows[0].cre, 500050);
    EXPECT_EQ(rows[0].deb, 0);
    EXPECT_EQ(rows[0].user, "u1");
    EXPECT_EQ(rows[0].flag, "1");
    EXPECT_EQ(rows[1].payCode, "");
    EXPECT_EQ(rows[1].summary, "手续费");
    EXPECT_EQ(rows[1].deb, 1230);
    EXPECT_EQ(rows[2].payCode, "");
    EXPECT_EQ(rows[2].summary, "利息");
    EXPECT_EQ(rows[2].cre, 0);
    EXPECT_EQ(rows[2].deb, 123456789);
    EXPECT_TRUE(exists("0401[已导入].TXT"));
    EXPECT_FALSE(exists("0401.TXT"));
    EXPECT_EQ(UserManage->BankAccountManage()->SetCode, "");
    EXPECT_EQ(mng.PendingCount(), 0u);
}

TEST_F(StatementImportTest, IcbcFailuresStoreNothingAndKeepTheName) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::string message;
    };
    auto withLines = [&](std::vector<std::string> head, std::vector<std::string> body) {
        head.insert(head.end(), body.begin(), body.end());
        return head;
    };
    const std::string good = icbcLine("2024-03-02", "收款", "1", "");
    const Case cases[] = {
        {"full-width colon", withLines(header("账号：6222001"), {good}),
         "账号不存在或者已经被停用"},
        {"empty number", withLines(header("账号:  "), {good}), "文件中未发现账号信息"},
        {"only blank lines", {"", "  ", "\t"}, "文件中未发现账号信息"},
        {"stopped account", withLines(header("账号:6222002"), {good}), "账号不存在或者已经被停用"},
        {"unknown account", withLines(header("账号:999"), {good}), "账号不存在或者已经被停用"},
        {"another book set's account", withLines(header("账号:6222201"), {good}),
         "账号不存在或者已经被停用"},
        {"blank last line", withLines(header(), {good, ""}), "导入文件格式错误"},
        {"too few fields", withLines(header(), {good, "1^2024-03-02^a^b"}), "导入文件格式错误"},
        {"bad date on line 7", withLines(header(), {good, icbcLine("2024-02-30", "x", "1", "")}),
         "第 7 行数据错误，时间输入错误"},
        {"blank lines move the numbers",
         withLines(withLines({"", " "}, header()), {icbcLine("3/2", "x", "1", "")}),
         "第 8 行数据错误，时间输入错误"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = writeText("stmt.txt", c.lines);
        EXPECT_EQ(run(StatementKind::ICBC, path), kIcbcFail + c.message + kNothing);
        EXPECT_TRUE(stored().empty());
        EXPECT_EQ(mng.PendingCount(), 0u);
        EXPECT_TRUE(exists("stmt.txt"));
        EXPECT_EQ(UserManage->BankAccountManage()->SetCode, "");
    }
}

// A statement is read in blocks of kFileBlock bytes: a CR LF split between two
// blocks ends one line, and a line longer than the limit is refused unread.
TEST_F(StatementImportTest, IcbcReadsInBlocksAndRefusesEndlessLines) {
    auto lines = header();
    std::size_t bytes = 0;
    for (const std::string& l : lines) bytes += utf8ToGbk(l).size() + 2;
    const std::string pad(400, 'p');
    int body = 0;
    // Lines up to just short of the first block's end, then one whose CR is
    // the block's last byte and whose LF begins the next block.
    while (bytes + 2 * 440 < kFileBlock) {
        lines.push_back(icbcLine("2024-03-02", "x" + pad, "1", ""));
        bytes += lines.back().size() + 2;
        ++body;
    }
    const std::string shortest = icbcLine("2024-03-02", "y", "1", "");
    const std::string fill(kFileBlock - 1 - bytes - shortest.size(), 'y');
    lines.push_back(icbcLine("2024-03-02", "y" + fill, "1", ""));
    for (int i = 0; i < 3; ++i, ++body) lines.push_back(icbcLine("2024-03-03", "z", "1", ""));
    ++body;
    EXPECT_EQ(run(StatementKind::ICBC, writeText("big.txt", lines)),
              kIcbcOk + "共导入 " + std::to_string(body) + " 行，账号 6222001。");
    auto rows = stored();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(body));
    EXPECT_EQ(rows[body - 4].summary, "y" + fill);
    EXPECT_EQ(rows[body - 3].summary, "z");

    db().exec("DELETE FROM CaCollateGlide; DELETE FROM import_log");
    auto endless = header();
    endless.push_back(std::string(TICBCGlideImport::kMaxLineBytes + 1, 'e'));
    const std::string path = writeText("endless.txt", endless);
    EXPECT_EQ(run(StatementKind::ICBC, path),
              kIcbcFail + "无法读取文件 " + path +
                  "：第 6 行超过每行 65536 字节的上限，不是可以导入的文本" + kNothing);
    EXPECT_TRUE(stored().empty());
}

TEST_F(StatementImportTest, IcbcFileChecks) {
    EXPECT_EQ(run(StatementKind::ICBC, writeText("s.txt.bak", header())),
              kIcbcFail + "不支持的文件类型" + kNothing);
    EXPECT_EQ(run(StatementKind::ICBC, writeText("noext", header())),
              kIcbcFail + "不支持的文件类型" + kNothing);
    std::string missing = run(StatementKind::ICBC, dir.filePath("missing.txt").toStdString());
    EXPECT_EQ(missing.rfind(kIcbcFail, 0), 0u);
    EXPECT_NE(missing.find("missing.txt"), std::string::npos);
}

TEST_F(StatementImportTest, IcbcShortFileImportsNothingButCountsAsDone) {
    auto lines = header();
    lines.pop_back();  // the account line and three more
    std::string path = writeText("short.txt", lines);
    EXPECT_TRUE(startsWith(run(StatementKind::ICBC, path), kIcbcOk));
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(exists("short[已导入].txt"));
}

TEST_F(StatementImportTest, IcbcMarkedFileGetsTheMarkerAgain) {
    auto lines = header();
    lines.push_back(icbcLine("2024-03-02", "x", "1", ""));
    std::string path = writeText("0401[已导入].txt", lines);
    EXPECT_TRUE(startsWith(run(StatementKind::ICBC, path), kIcbcOk));
    EXPECT_TRUE(exists("0401[已导入][已导入].txt"));
}

TEST_F(StatementImportTest, FailureHalfwayLeavesStoreAndManagerAsBefore) {
    auto lines = header();
    for (int i = 0; i < 100; ++i)
        lines.push_back(
            icbcLine(i == 49 ? "bad" : "2024-03-10", "行" + std::to_string(i), "1.00", ""));
    std::string bad = writeText("bad.txt", lines);
    EXPECT_EQ(run(StatementKind::ICBC, bad),
              kIcbcFail + "第 55 行数据错误，时间输入错误" + kNothing);
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(mng.PendingCount(), 0u);

    auto goodLines = header();
    goodLines.push_back(icbcLine("2024-03-11", "好", "2.00", ""));
    EXPECT_TRUE(startsWith(run(StatementKind::ICBC, writeText("good.txt", goodLines)), kIcbcOk));
    auto rows = stored();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].summary, "好");
}

TEST_F(StatementImportTest, CancelledProgressStoresNothing) {
    auto lines = header();
    for (int i = 0; i < 5; ++i) lines.push_back(icbcLine("2024-03-10", "x", "1", ""));
    std::string path = writeText("c.txt", lines);
    Messages msgs;
    bool ok = runStatementImport(StatementKind::ICBC, path, &mng, nullptr,
                                 [](int done, int) { return done < 3; });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(exists("c.txt"));
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_EQ(msgs.shown[0].text.rfind(kIcbcFail, 0), 0u);
}

// A statement changed between the reading for its digest and the reading of
// its rows is stored under no digest: neither with as many lines and other
// amounts, nor with a line more. (It changes while the person is asked about
// importing a content already imported, which falls between the two.)
TEST_F(StatementImportTest, AFileChangedDuringTheImportStoresNothing) {
    auto lines = header();
    for (int i = 0; i < 3; ++i) lines.push_back(icbcLine("2024-03-10", "x", "1.00", ""));
    ASSERT_TRUE(importStatement(StatementKind::ICBC, writeText("first.txt", lines), &mng).stored);
    auto otherAmounts = header();
    for (int i = 0; i < 3; ++i) otherAmounts.push_back(icbcLine("2024-03-10", "x", "9.00", ""));
    auto oneMore = lines;
    oneMore.push_back(icbcLine("2024-03-11", "y", "2.00", ""));
    for (const auto& replacement : {otherAmounts, oneMore}) {
        const std::string path = writeText("changed.txt", lines);
        const StatementImportResult r = importStatement(StatementKind::ICBC, path, &mng, {}, false,
                                                        [&](const ledgerhost::ImportLogEntry&) {
                                                            writeText("changed.txt", replacement);
                                                            return true;
                                                        });
        EXPECT_FALSE(r.stored);
        EXPECT_NE(r.message.find("导入过程中文件被修改，没有保存任何记录。"), std::string::npos)
            << r.message;
        EXPECT_EQ(stored().size(), 3u);
        EXPECT_TRUE(exists("changed.txt"));
    }
}

// The import core alone: no message, no question, a result to show.
TEST_F(StatementImportTest, CoreRunsHeadlessAndReturnsTheResult) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        bool stored;
        int rows;
        std::string message;
        bool renamed;
    };
    auto lines = [&](std::vector<std::string> rows) {
        auto all = header();
        all.insert(all.end(), rows.begin(), rows.end());
        return all;
    };
    const std::vector<Case> cases = {
        {"bad.txt", lines({icbcLine("2024-02-30", "x", "1", "")}), false, 0,
         kIcbcFail + "第 6 行数据错误，时间输入错误" + kNothing, false},
        {"good.txt",
         lines({icbcLine("2024-03-02", "x", "1.00", ""), icbcLine("2024-03-03", "y", "", "2")}),
         true, 2, kIcbcOk + "共导入 2 行，账号 6222001。", true},
    };
    std::size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Messages msgs;
        const StatementImportResult r =
            importStatement(StatementKind::ICBC, writeText(c.name, c.lines), &mng);
        EXPECT_TRUE(msgs.shown.empty());
        EXPECT_EQ(r.stored, c.stored);
        EXPECT_FALSE(r.declined);
        EXPECT_EQ(r.rows, c.rows);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.renamed, c.renamed);
        EXPECT_TRUE(r.renameFailure.empty());
        EXPECT_EQ(r.accounts, c.stored ? "6222001" : "");
        EXPECT_EQ(exists(c.name), !c.renamed);
        EXPECT_EQ(stored().size(), before + c.rows);
        EXPECT_EQ(mng.PendingCount(), 0u);
        before = stored().size();
    }
}

// ---- from the window ----

TEST_F(StatementImportTest, WindowImportUsesTheFileNotTheSelectedAccount) {
    auto lines = header();
    lines.push_back(icbcLine("2024-03-02", "x", "3", ""));
    std::string path = writeText("w.txt", lines);
    TFrmCashGlide w(nullptr, 1, 3);
    w.CmbAs_Code->setCurrentIndex(2);  // 农行专户
    seams::Scoped<seams::FileHook> file(
        seams::fileHook(), [&](QWidget*, const seams::FileRequest& r) {
            EXPECT_EQ(r.filter, QStringLiteral("工行对账单文件(*.txt)|*.txt"));
            EXPECT_EQ(r.defaultExt, QStringLiteral(".txt"));
            return std::optional<QString>(QString::fromStdString(path));
        });
    Messages msgs;
    int rows = w.Cell->GetRows();
    w.mniICBCClick();
    ASSERT_EQ(msgs.texts().size(), 1u);
    EXPECT_TRUE(startsWith(msgs.texts()[0], kIcbcOk));
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].asCode, "1001");
    EXPECT_EQ(w.Cell->GetRows(), rows);  // shown at the next query
}

TEST_F(StatementImportTest, CancelledDialogStillResetsTheAccountManager) {
    TFrmCashGlide w(nullptr, 1, 3);
    UserManage->BankAccountManage()->SetCode = "001";
    seams::Scoped<seams::FileHook> file(seams::fileHook(), [](QWidget*, const seams::FileRequest&) {
        return std::optional<QString>();
    });
    w.mniICBCClick();
    w.mniCCBClick();
    EXPECT_EQ(UserManage->BankAccountManage()->SetCode, "");
    EXPECT_TRUE(stored().empty());
}

// ---- CCB ----

namespace {

// One CCB row, columns A to M; column G, the bank's balance, is blank unless
// given (a blank cell still fills row 10's width).
std::vector<std::string> ccbRow(const std::string& date, const std::string& credit,
                                const std::string& debit, const std::string& payAndSummary,
                                const std::string& number, const std::string& name,
                                const std::string& balance = " ") {
    return {date, "b", "c",           "d", credit, debit, balance,
            "h",  "i", payAndSummary, "k", number, name};
}

}  // namespace

TEST_F(StatementImportTest, CcbRowsGoToTheAccountsTheyName) {
    std::string path = dir.filePath("0401.XLS").toStdString();
    writeWorkbook(
        path,
        {ccbRow("2024/03/01", "1,000.00", "0.00", "1234-转账-工资", "6222001", "x"),
         ccbRow("2024/03/02", "", "20", "手续费", "6222002", "建行一般户"),  // stopped: passed over
         ccbRow("2024/3/3", "5", "", "利息", "", "农行专户"),                // found by name
         ccbRow("2024/03/04", "7", "", "未知", "999", "未知户"),             // unknown: passed over
         ccbRow("2024/03/05", "", "8", "分公司", "6222201", "分公司户")},    // another book set's
        10);
    TFrmCashGlide w(nullptr, 1, 3);
    w.CmbAs_Code->setCurrentIndex(2);
    seams::Scoped<seams::FileHook> file(
        seams::fileHook(), [&](QWidget*, const seams::FileRequest& r) {
            EXPECT_EQ(r.filter, QStringLiteral("建行对账单文件(*.xls)|*.xls"));
            return std::optional<QString>(QString::fromStdString(path));
        });
    Messages msgs;
    w.mniCCBClick();
    ASSERT_EQ(msgs.texts().size(), 1u);
    EXPECT_TRUE(startsWith(msgs.texts()[0], kCcbOk));
    auto rows = stored();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].asCode, "1001");
    EXPECT_EQ(rows[0].payCode, "1234");
    EXPECT_EQ(rows[0].summary, "转账-工资");
    EXPECT_EQ(rows[0].cre, 100000);
    EXPECT_EQ(rows[1].asCode, "1003");
    EXPECT_EQ(rows[1].date, "2024-03-03");
    EXPECT_TRUE(exists("0401[已导入].XLS"));
    EXPECT_EQ(UserManage->BankAccountManage()->SetCode, "");
}

TEST_F(StatementImportTest, CcbFailuresStoreNothing) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> rows;
        std::string message;
    };
    // Row 10 sets the width: it needs a value in every column from A to M.
    const auto ok = ccbRow("2024/03/01", "1", "0", "x", "6222001", "-");
    auto gap = ok;
    gap[6] = "";
    const Case cases[] = {
        {"first row of another book set",
         {ccbRow("2024/03/01", "1", "0", "x", "6222201", "-"), ok},
         "没有找到对应银行账号或者银行账号已停用!"},
        {"first row of a stopped account",
         {ccbRow("2024/03/01", "1", "0", "x", "6222002", "-"), ok},
         "没有找到对应银行账号或者银行账号已停用!"},
        {"gap in row 10", {gap, ok}, "导入文件格式错误"},
        {"no rows", {}, "导入文件格式错误"},
        {"dashes in the date of row 12",
         {ok, ok, ccbRow("2008-03-15", "1", "", "x", "6222001", "")},
         "第 12 行数据错误，时间输入错误"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.filePath("ccb.xls").toStdString();
        writeWorkbook(path, c.rows, 10);
        EXPECT_EQ(run(StatementKind::CCB, path), kCcbFail + c.message + kNothing);
        EXPECT_TRUE(stored().empty());
        EXPECT_EQ(mng.PendingCount(), 0u);
        EXPECT_TRUE(exists("ccb.xls"));
    }
    for (const char* name : {"s.xlsx", "s.csv", "s"}) {
        std::string path = dir.filePath(name).toStdString();
        QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly);
        EXPECT_EQ(run(StatementKind::CCB, path), kCcbFail + "不支持的文件类型" + kNothing);
    }
}

TEST_F(StatementImportTest, CcbOnlyTheFirstRowUsable) {
    std::string path = dir.filePath("one.xls").toStdString();
    writeWorkbook(path,
                  {ccbRow("2024/03/01", "9", "0", "x", "6222001", "-"),
                   ccbRow("2024/03/02", "1", "", "y", "6222002", "")},
                  10);
    EXPECT_TRUE(startsWith(run(StatementKind::CCB, path), kCcbOk));
    EXPECT_EQ(stored().size(), 1u);
    EXPECT_TRUE(exists("one[已导入].xls"));
}

// ---- amounts exactly as the bank wrote them ----

TEST_F(StatementImportTest, AmountsAreTheBanksOrTheFileIsRefused) {
    const std::string notAmount = "不是金额：只能有数字、一个小数点，千位分隔符“,”只能三位一组。";
    struct Case {
        const char* what;
        std::vector<std::string> icbc;              // lines after the header, or
        std::vector<std::vector<std::string>> ccb;  // CCB rows from row 10
        std::string message;
    };
    const Case cases[] = {
        {"a letter among the digits",
         {icbcLine("2024-03-02", "x", "12,3x4.00", "")},
         {},
         kIcbcFail + "第 6 行的贷方发生额“12,3x4.00”" + notAmount},
        {"three decimals",
         {icbcLine("2024-03-02", "x", "1", ""), icbcLine("2024-03-03", "y", "", "1.005")},
         {},
         kIcbcFail + "第 7 行的借方发生额“1.005”超过两位小数。"},
        {"a balance that is not an amount",
         {icbcLine("2024-03-02", "x", "1", "") + "^1,00"},
         {},
         kIcbcFail + "第 6 行的余额“1,00”" + notAmount},
        {"a formula's error in a workbook",
         {},
         {ccbRow("2024/03/01", "#DIV/0!", "0", "x", "6222001", "-")},
         kCcbFail + "单元格 E10 的贷方发生额“#DIV/0!”" + notAmount},
        {"a workbook balance with three decimals",
         {},
         {ccbRow("2024/03/01", "1", "0", "x", "6222001", "-"),
          ccbRow("2024/03/02", "1", "", "x", "6222001", "-", "1.005")},
         kCcbFail + "单元格 G11 的余额“1.005”超过两位小数。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path;
        if (!c.icbc.empty()) {
            auto lines = header();
            lines.insert(lines.end(), c.icbc.begin(), c.icbc.end());
            path = writeText("stmt.txt", lines);
        } else {
            path = dir.filePath("stmt.xls").toStdString();
            writeWorkbook(path, c.ccb, 10);
        }
        EXPECT_EQ(run(c.icbc.empty() ? StatementKind::CCB : StatementKind::ICBC, path),
                  c.message + kNothing);
        EXPECT_TRUE(stored().empty());
        EXPECT_EQ(mng.PendingCount(), 0u);
    }
}

// ---- the bank's balances ----

namespace {

std::vector<std::optional<std::int64_t>> storedBalances(Database& db) {
    std::vector<std::optional<std::int64_t>> out;
    Stmt s = db.prepare("SELECT bank_balance_cents FROM CaCollateGlide ORDER BY id");
    while (s.step()) out.push_back(s.isNull(0) ? std::nullopt : std::optional(s.i64(0)));
    return out;
}

}  // namespace

TEST_F(StatementImportTest, BankBalancesAreKeptAndCheckedWithoutStoppingTheImport) {
    db().exec("INSERT INTO reconcile_openings VALUES ('001', '1001', 100000)");
    const std::string breakInFile =
        "注意：第 8 行的余额与上一行余额加本行发生额不符，相差 "
        "5.00：对账单可能缺行、重行或被改动。";
    const std::string breakFromStore =
        "注意：第 6 行的余额与账上已有对账单推算的余额不符，相差 100.00：2024-03-03 与 "
        "2024-03-05 之间的对账单可能缺行、重行或被改动。";
    struct Case {
        const char* what;
        StatementKind kind;
        std::vector<std::string> icbc;
        std::vector<std::vector<std::string>> ccb;
        std::vector<std::optional<std::int64_t>> kept;  // the file's rows' balances
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"a break within the file",
         StatementKind::ICBC,
         {icbcLine("2024-03-01", "a", "100.00", "") + "^1,100.00",
          icbcLine("2024-03-02", "b", "", "30.00") + "^1,070.00",
          icbcLine("2024-03-03", "c", "5.00", "") + "^1,080.00"},
         {},
         {110000, 107000, 108000},
         {breakInFile}},
        {"the next file does not carry on from the stored one",
         StatementKind::ICBC,
         {icbcLine("2024-03-05", "d", "20.00", "") + "^1,200.00",
          icbcLine("2024-03-06", "e", "", "") + "^"},
         {},
         {120000, std::nullopt},
         {breakFromStore}},
        {"a workbook whose balances carry on",
         StatementKind::CCB,
         {},
         {ccbRow("2024/03/07", "0.00", "50.00", "f", "6222001", "-", "1,150.00"),
          ccbRow("2024/03/08", "", "", "g", "6222003", "农行专户", " "),
          ccbRow("2024/03/09", "", "150.00", "h", "6222001", "-", "1,000.00")},
         {115000, std::nullopt, 100000},
         {}},
        {"a file without balances is not checked; a dash is no balance",
         StatementKind::ICBC,
         {icbcLine("2024-03-10", "i", "7.00", ""), icbcLine("2024-03-11", "j", "", "") + "^—"},
         {},
         {std::nullopt, std::nullopt},
         {}},
    };
    std::size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path;
        if (c.kind == StatementKind::ICBC) {
            auto lines = header();
            lines.insert(lines.end(), c.icbc.begin(), c.icbc.end());
            path = writeText("b.txt", lines);
        } else {
            path = dir.filePath("b.xls").toStdString();
            writeWorkbook(path, c.ccb, 10);
        }
        const StatementImportResult r = importStatement(c.kind, path, &mng);
        EXPECT_TRUE(r.stored) << r.message;
        EXPECT_EQ(r.balanceWarnings, c.warnings);
        for (const std::string& w : c.warnings)
            EXPECT_NE(r.message.find("\n" + w), std::string::npos) << r.message;
        const auto kept = storedBalances(db());
        ASSERT_EQ(kept.size(), before + c.kept.size());
        EXPECT_EQ(std::vector(kept.begin() + static_cast<std::ptrdiff_t>(before), kept.end()),
                  c.kept);
        before = kept.size();
    }

    // A break on every one of 151 lines: the first hundred are named, the
    // rest counted, and the message says how many there are in all.
    auto lines = header();
    for (int i = 0; i < 151; ++i)
        lines.push_back(icbcLine("2024-04-01", "k", "1.00", "") + "^5.00");
    const StatementImportResult r =
        importStatement(StatementKind::ICBC, writeText("breaks.txt", lines), &mng);
    EXPECT_TRUE(r.stored) << r.message;
    EXPECT_EQ(r.balanceWarnings.size(), BankBalanceCheck::kKeptBreaks);
    EXPECT_EQ(r.balanceBreaks, 151u);
    EXPECT_NE(r.message.find("\n……共 151 处余额不符。"), std::string::npos) << r.message;
    EXPECT_EQ(unlistedBreaks(100, 151), "注意：另有 51 处余额不符，未一一列出。");
}

// A statement missing a line, imported twice, or with one amount changed makes
// the reconciliation fail and say where the balances part; the bank's own
// statement passes. Through the programs, as a cashier's script would run them.
TEST_F(StatementImportTest, ReconcileToolCatchesWhatTheBanksBalancesProve) {
    const std::vector<std::string> correct = {
        icbcLine("2024-03-01", "收款", "15,000.00", "") + "^16,000.00",
        icbcLine("2024-03-05", "1201-付款", "", "2,500.00") + "^13,500.00",
        icbcLine("2024-03-10", "利息", "320.50", "") + "^13,820.50",
        icbcLine("2024-03-20", "手续费", "", "1,000.00") + "^12,820.50"};
    auto without = [&](std::size_t i) {
        auto l = correct;
        l.erase(l.begin() + static_cast<std::ptrdiff_t>(i));
        return l;
    };
    auto changed = correct;
    changed[2] = icbcLine("2024-03-10", "利息", "3,200.50", "") + "^13,820.50";
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        int imports;
        const char* importWarning;  // on the last import's standard error
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"the bank's statement", correct, 1, nullptr, 0, "对账单余额与银行所报余额相符"},
        {"a line missing", without(1), 1, "第 7 行的余额与上一行余额加本行发生额不符", 1,
         "自 2024-03-10 起对账单与银行所报余额分开"},
        {"imported twice", correct, 2, nullptr, 1, "自 2024-03-01 起对账单与银行所报余额分开"},
        {"one amount changed", changed, 1,
         "第 8 行的余额与上一行余额加本行发生额不符，相差 -2,880.00", 1,
         "自 2024-03-10 起对账单与银行所报余额分开"},
    };
    auto program = [&](const char* tool, const QStringList& args) {
        QProcess p;
        p.start(tool, args +
                          QStringList{"--db", QString::fromStdString(path()), "--book", "001",
                                      "--user", "u1"} +
                          testutil::signedIn());
        return finishProgram(p, 60000);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db().exec(
            "DELETE FROM CaCollateGlide; DELETE FROM import_log; DELETE FROM reconcile_openings;"
            "INSERT INTO reconcile_openings VALUES ('001', '1001', 100000)");
        rebuildDayTotals(db());
        auto lines = header();
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        Outcome imported;
        for (int i = 0; i < c.imports; ++i) {
            const std::string file = writeText("s" + std::to_string(i) + ".txt", lines);
            imported =
                program(LEDGER_IMPORT_TOOL, {"icbc", QString::fromStdString(file), "--again"});
            EXPECT_EQ(imported.exitCode, 0) << imported.err.toStdString();
        }
        if (c.importWarning)
            EXPECT_TRUE(imported.err.contains(QStringLiteral("chuna-import: 警告：") +
                                              QString::fromUtf8(c.importWarning)))
                << imported.err.toStdString();
        else
            EXPECT_TRUE(imported.err.isEmpty()) << imported.err.toStdString();
        const Outcome r =
            program(LEDGER_RECONCILE_TOOL, {"--account", "6222001", "--until", "2024-03-31"});
        EXPECT_EQ(r.exitCode, c.status) << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.says))) << r.out.toStdString();
    }
}
