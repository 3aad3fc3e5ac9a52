// The import log: the same statement content is not stored twice by accident,
// not from the window, the command line or two imports at once, and a failed
// "[已导入]" rename is reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "Codec.h"
#include "History.h"
#include "JournalHelpers.h"
#include "Programs.h"
#include "RunStatementImport.h"
#include "untGlideImport.h"

using namespace ledgerhost;
using namespace testutil;

namespace {

class ImportLogTest : public BookTest {
  protected:
    // An ICBC statement of account 6222001 with `lines` transactions (GBK).
    std::string statement(const std::string& name, int lines, const std::string& folder = {}) {
        std::string text = "账号:6222001\r\n户名:总公司\r\n币种:人民币\r\n起止日期\r\n表头\r\n";
        for (int i = 0; i < lines; ++i)
            text += "1^2024-03-" + std::to_string(10 + i % 10) + "^a^b^c^d^e^" + std::to_string(i) +
                    "-货款^1.00^\r\n";
        QDir d(dir.path());
        if (!folder.empty()) d.mkpath(QString::fromStdString(folder));
        QString path =
            d.filePath(QString::fromStdString(folder.empty() ? name : folder + "/" + name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        const std::string gbk = utf8ToGbk(text);
        f.write(gbk.data(), static_cast<qint64>(gbk.size()));
        return path.toStdString();
    }
    std::int64_t storedRows() {
        Stmt s = db().prepare("SELECT COUNT(*) FROM CaCollateGlide");
        s.step();
        return s.i64(0);
    }
    std::int64_t logRows() {
        Stmt s = db().prepare("SELECT COUNT(*) FROM import_log");
        s.step();
        return s.i64(0);
    }
    bool exists(const std::string& p) { return QFileInfo::exists(QString::fromStdString(p)); }
    // Runs chuna-import on the test book; answers its exit code and output.
    QProcess* tool(const QStringList& extra, const std::string& file) {
        auto* p = new QProcess;
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(LEDGER_IMPORT_TOOL,
                 QStringList{"icbc", QString::fromStdString(file), "--db",
                             QString::fromStdString(path()), "--book", "001", "--user", "u1"} +
                     testutil::signedIn() + extra);
        return p;
    }
    int runTool(const QStringList& extra, const std::string& file, std::string* out = nullptr) {
        std::unique_ptr<QProcess> p(tool(extra, file));
        EXPECT_TRUE(p->waitForFinished(60000));
        if (out) *out = p->readAll().toStdString();
        return p->exitCode();
    }

    TCaGlideMng mng{"CaCollateGlide"};
};

TEST_F(ImportLogTest, WindowAsksBeforeStoringTheSameContentAgain) {
    {
        Messages msgs;
        EXPECT_TRUE(runStatementImport(StatementKind::ICBC, statement("a.txt", 3), &mng, nullptr));
    }
    EXPECT_EQ(storedRows(), 3);
    EXPECT_EQ(logRows(), 1);
    {
        Stmt s = db().prepare(
            "SELECT set_code, file_name, accounts, row_count, user_code, length(digest) "
            "FROM import_log");
        ASSERT_TRUE(s.step());
        EXPECT_EQ(s.text(0), "001");
        EXPECT_NE(s.text(1).find("a.txt"), std::string::npos);
        EXPECT_EQ(s.text(2), "6222001");
        EXPECT_EQ(s.i64(3), 3);
        EXPECT_EQ(s.text(4), "u1");
        EXPECT_EQ(s.i64(5), 64);
    }

    // The same bytes under another name (the first file is marked by now).
    const std::string copy = statement("b.txt", 3);
    {
        Messages msgs;
        msgs.answer(IDNO);
        EXPECT_FALSE(runStatementImport(StatementKind::ICBC, copy, &mng, nullptr));
        ASSERT_EQ(msgs.shown.size(), 1u) << "no message after declining";
        EXPECT_EQ(msgs.shown[0].flags, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        EXPECT_NE(msgs.shown[0].text.find("a.txt"), std::string::npos) << msgs.shown[0].text;
        EXPECT_NE(msgs.shown[0].text.find("3 行"), std::string::npos) << msgs.shown[0].text;
    }
    EXPECT_EQ(storedRows(), 3);
    EXPECT_TRUE(exists(copy)) << "a declined file keeps its name";
    EXPECT_EQ(mng.PendingCount(), 0u);
    {
        Messages msgs;
        msgs.answer(IDYES);
        EXPECT_TRUE(runStatementImport(StatementKind::ICBC, copy, &mng, nullptr));
        ASSERT_EQ(msgs.shown.size(), 2u);
    }
    EXPECT_EQ(storedRows(), 6);
    EXPECT_EQ(logRows(), 1) << "one entry per content, the latest import's";
}

TEST_F(ImportLogTest, CommandLineRefusesTheSameContentUnlessAgain) {
    std::string out;
    ASSERT_EQ(runTool({}, statement("a.txt", 2), &out), 0) << out;
    EXPECT_EQ(storedRows(), 2);
    const std::string copy = statement("b.txt", 2);
    EXPECT_EQ(runTool({}, copy, &out), 1);
    EXPECT_NE(out.find("已经导入过"), std::string::npos) << out;
    EXPECT_NE(out.find("没有导入任何记录"), std::string::npos) << out;
    EXPECT_EQ(storedRows(), 2);
    EXPECT_TRUE(exists(copy));
    EXPECT_EQ(runTool({"--again"}, copy, &out), 0) << out;
    EXPECT_EQ(storedRows(), 4);
}

// The log keeps the file's absolute path, also of a file given by a relative
// one, so a later "已经导入过" names the file wherever it runs from.
TEST_F(ImportLogTest, LogKeepsTheAbsolutePath) {
    statement("a.txt", 2, "三月");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    Messages msgs;
    EXPECT_TRUE(runStatementImport(StatementKind::ICBC, "三月/a.txt", &mng, nullptr));
    QDir::setCurrent(before);
    Stmt s = db().prepare("SELECT file_name FROM import_log");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(QDir(dir.path()).relativeFilePath(QString::fromStdString(s.text(0))),
              QStringLiteral("三月/a.txt"));
}

// Two imports of one content started together: exactly one stores.
TEST_F(ImportLogTest, TwoProcessesAtOnceStoreOnce) {
    const int lines = 20000;
    const std::string a = statement("a.txt", lines, "x"), b = statement("a.txt", lines, "y");
    std::unique_ptr<QProcess> first(tool({}, a)), second(tool({}, b));
    ASSERT_TRUE(first->waitForFinished(120000));
    ASSERT_TRUE(second->waitForFinished(120000));
    const int ok = (first->exitCode() == 0) + (second->exitCode() == 0);
    EXPECT_EQ(ok, 1) << first->readAll().toStdString() << second->readAll().toStdString();
    EXPECT_EQ(storedRows(), lines);
    EXPECT_EQ(logRows(), 1);
}

// Long statements are saved in batches inside the one transaction: a bad
// line after the first batch still leaves nothing stored, nothing logged.
TEST_F(ImportLogTest, FailureAfterABatchStoresNothing) {
    const std::string path = statement("long.txt", 5000);
    {
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("1^bad^a^b^c^d^e^x^1.00^\r\n");
    }
    Messages msgs;
    EXPECT_FALSE(runStatementImport(StatementKind::ICBC, path, &mng, nullptr));
    ASSERT_EQ(msgs.shown.size(), 1u);
    EXPECT_NE(msgs.shown[0].text.find("第 5006 行数据错误"), std::string::npos)
        << msgs.shown[0].text;
    EXPECT_EQ(storedRows(), 0);
    EXPECT_EQ(logRows(), 0);
    EXPECT_EQ(mng.PendingCount(), 0u);
}

// The progress dialog is closed (the finished hook) before any message, for
// a success and for a failure alike.
TEST_F(ImportLogTest, FinishedComesBeforeTheMessage) {
    for (const std::string& file : {statement("ok.txt", 2), statement("bad.txt", 0) + ".xls"}) {
        bool finished = false;
        std::vector<bool> finishedAtMessage;
        seams::Scoped<seams::MessageHook> hook(seams::messageHook(),
                                               [&](QWidget*, const seams::Message&) {
                                                   finishedAtMessage.push_back(finished);
                                                   return IDOK;
                                               });
        StatementImportOptions options;
        options.finished = [&] { finished = true; };
        runStatementImport(StatementKind::ICBC, file, &mng, nullptr, {}, options);
        EXPECT_EQ(finishedAtMessage, std::vector<bool>{true}) << file;
    }
}

TEST_F(ImportLogTest, FailedRenameIsReportedAndTheContentStaysLogged) {
    // The marked name is taken already.
    const std::string path = statement("c.txt", 1);
    const std::string marked = glideimport::importedName(path);
    {
        QFile other(QString::fromStdString(marked));
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("another statement");
    }
    Messages msgs;
    EXPECT_TRUE(runStatementImport(StatementKind::ICBC, path, &mng, nullptr));
    ASSERT_EQ(msgs.shown.size(), 1u);
    const std::string text = msgs.shown[0].text;
    EXPECT_EQ(text.rfind("工行对账单导入完成。共导入 1 行", 0), 0u) << text;
    EXPECT_NE(text.find("文件未能改名为“" + marked + "”：已有同名文件"), std::string::npos) << text;
    EXPECT_TRUE(exists(path));
    QFile other(QString::fromStdString(marked));
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), QByteArray("another statement")) << "the other file is untouched";

    // A folder without write permission (root may write anywhere).
    if (geteuid() == 0) return;
    const std::string locked = statement("d.txt", 1, "locked");
    const QString folder = QFileInfo(QString::fromStdString(locked)).path();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    Messages more;
    EXPECT_TRUE(runStatementImport(StatementKind::ICBC, locked, &mng, nullptr));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(more.shown.size(), 1u);
    EXPECT_NE(more.shown[0].text.find("没有在文件所在文件夹中改名的权限"), std::string::npos)
        << more.shown[0].text;
}

}  // namespace

// An import is one entry of the history for all its rows: each row's history
// starts with it, naming the file and its row count.
TEST_F(ImportLogTest, AnImportIsOneHistoryEntryForAllItsRows) {
    testutil::Messages messages;
    EXPECT_TRUE(runStatementImport(StatementKind::ICBC, statement("h.txt", 3), &mng, nullptr));
    {
        Stmt s = db().prepare("SELECT COUNT(*) FROM row_history");
        s.step();
        EXPECT_EQ(s.i64(0), 1);
    }
    Stmt ids = db().prepare("SELECT id FROM CaCollateGlide ORDER BY id");
    int rows = 0;
    while (ids.step()) {
        ++rows;
        const auto history = rowHistory(db(), "CaCollateGlide", ids.i64(0));
        ASSERT_EQ(history.size(), 1u);
        EXPECT_EQ(history[0].Operation, "import");
        EXPECT_EQ(history[0].User, "u1");
        EXPECT_NE(history[0].Description.find("h.txt（共 3 行）"), std::string::npos)
            << history[0].Description;
    }
    EXPECT_EQ(rows, 3);
}
