// Several programs on one book-set database: the built `chuna-import`, the
// `store_helper` test program and this process at once. Locks that must stay
// held, imports and writes that must each be stored exactly once, killed
// imports that must leave nothing, first starts racing on one new path, and
// files that are not (whole) ledger databases, which must be refused and left
// as they were.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "Cell.h"
#include "Codec.h"
#include "Convert.h"
#include "Fixture.h"
#include "Glide.h"
#include "ImportFiles.h"
#include "Programs.h"
#include "ReportOutput.h"
#include "RunStatementImport.h"
#include "Store.h"
#include "Xlsx.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

using testutil::Outcome;

QProcess* start(const QString& program, const QStringList& args) {
    auto* p = new QProcess;
    p->setProgram(testutil::programPath(program));
    p->setArguments(program == "store_helper" ? args : testutil::withPassword(args));
    p->start();
    return p;
}

Outcome finish(QProcess* p) {
    std::unique_ptr<QProcess> owned(p);
    return testutil::finishProgram(*p, 60000);
}

Outcome run(const QString& program, const QStringList& args) {
    return finish(start(program, args));
}

QStringList importArgs(const QString& file, const QString& db, const QString& book = "001",
                       const QString& user = "u1") {
    return {"icbc", file, "--db", db, "--book", book, "--user", user};
}

// An ICBC statement of account 6222001 (account 1001 of the test book) whose
// rows have summaries "<tag>货款<n>".
QString writeIcbc(const QTemporaryDir& dir, const QString& name, const std::string& tag,
                  int lines) {
    std::string text = "账号:6222001\r\n户名:总公司\r\n币种:人民币\r\n起止日期\r\n表头\r\n";
    for (int i = 0; i < lines; ++i) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "%d^2024-%02d-%02d^10:00^x^对方^转账^人民币^%d-%s货款%d^%s^%s\r\n", i,
                      1 + (i / 28) % 12, 1 + i % 28, 300000 + i, tag.c_str(), i,
                      i % 2 ? "12.50" : "", i % 2 ? "" : "7.25");
        text += line;
    }
    QString path = dir.filePath(name);
    std::ofstream(path.toStdString(), std::ios::binary) << utf8ToGbk(text);
    return path;
}

// Opens the file with SQLite alone, outside the store's checks.
struct RawDb {
    explicit RawDb(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~RawDb() { sqlite3_close(db); }
    std::string text(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        else
            out = std::string("error: ") + sqlite3_errmsg(db);
        sqlite3_finalize(st);
        return out;
    }
    std::int64_t count(const std::string& where) {
        return std::stoll(text("SELECT COUNT(*) FROM CaCollateGlide WHERE " + where));
    }
    sqlite3* db = nullptr;
};

std::string fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

// The POSIX locks this process holds on a file, from /proc/locks.
int locksHeld(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    std::ifstream locks("/proc/locks");
    const std::string pid = std::to_string(QCoreApplication::applicationPid());
    const std::string inode = ":" + std::to_string(st.st_ino);
    int n = 0;
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string id, kind, mode, access, owner, file;
        in >> id >> kind >> mode >> access >> owner >> file;
        if (kind == "POSIX" && owner == pid && file.size() > inode.size() &&
            file.compare(file.size() - inode.size(), inode.size(), inode) == 0)
            ++n;
    }
    return n;
}

void processEventsFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Shows a file dialog on a folder and lets it list the folder, asking for
// every icon and type text as its view does when it paints.
void populate(QFileDialog& dialog, const QString& folder) {
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    bool loaded = false;
    QObject::connect(model, &QFileSystemModel::directoryLoaded, [&] { loaded = true; });
    dialog.setDirectory(folder);
    dialog.show();
    QElapsedTimer t;
    t.start();
    while (!loaded && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(loaded);
    const QModelIndex root = model->index(folder);
    ASSERT_GT(model->rowCount(root), 0);
    for (int row = 0; row < model->rowCount(root); ++row)
        for (int col = 0; col < model->columnCount(root); ++col) {
            model->data(model->index(row, col, root), Qt::DecorationRole);
            model->data(model->index(row, col, root), Qt::DisplayRole);
        }
    processEventsFor(300);
}

class StoreProcesses : public testutil::BookTest {};

// The import file dialog browses the database's folder, and the database and
// its side files are chosen as import files and as export targets; a second
// program then opens, writes and closes the database. This process must still
// hold its locks, and every write must be there.
TEST_F(StoreProcesses, BrowsingAndChoosingTheStoreFilesKeepsItsLocks) {
    testutil::Messages messages;
    const std::string db = path();
    TCaGlide first(kStatementTable);
    first.SetCode = "001";
    first.AS_Code = "1001";
    first.CreateDate = "2024-03-01";
    first.DebMoney = 1;
    first.OperFlag = "0";
    ASSERT_TRUE(first.Insert(true)) << first.ErrorText;
    const int dbLocks = locksHeld(db), shmLocks = locksHeld(db + "-shm");
    ASSERT_GT(dbLocks + shmLocks, 0) << "no lock to lose: the check below would prove nothing";

    {
        seams::FileRequest request;
        request.filter = QStringLiteral("所有文件(*.*)|*");
        request.initialDir = dir.path();
        std::unique_ptr<QFileDialog> dialog = makeFileDialog(nullptr, request);
        populate(*dialog, dir.path());
        ASSERT_FALSE(HasFatalFailure());

        // Typing the database's name, or a side file's, and accepting is
        // refused; the dialog stays open.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        for (const char* side : {"", "-wal", "-shm"}) {
            name->setText(QString::fromStdString(db + side));
            static_cast<QDialog*>(dialog.get())->accept();
            EXPECT_TRUE(dialog->isVisible()) << side;
            EXPECT_EQ(dialog->result(), 0) << side;
        }
        EXPECT_EQ(messages.texts(), std::vector<std::string>(3, kStoreFileRefused));
        messages.shown.clear();
    }
    {
        // Other file dialogs (the print dialog's, say) get the same icons.
        guardFileDialogs();
        QFileDialog plain(nullptr, QStringLiteral("打印到文件"), dir.path());
        plain.setOption(QFileDialog::DontUseNativeDialog);
        populate(plain, dir.path());
        ASSERT_FALSE(HasFatalFailure());
    }
    EXPECT_EQ(locksHeld(db), dbLocks) << "the file dialog dropped the database's locks";
    EXPECT_EQ(locksHeld(db + "-shm"), shmLocks);

    // Every reader and export refuses the store's files, also under another
    // name (a link) that makes the extension look right.
    const QString asText = dir.filePath("statement.txt");
    const QString asXls = dir.filePath("statement.xls");
    const QString asCsv = dir.filePath("export.csv");
    ASSERT_TRUE(QFile::link(QString::fromStdString(db), asText));
    ASSERT_TRUE(QFile::link(QString::fromStdString(db + "-wal"), asXls));
    ASSERT_TRUE(QFile::link(QString::fromStdString(db + "-shm"), asCsv));
    const std::string refused = kStoreFileRefused;
    for (const std::string& f : {db, db + "-wal", db + "-shm", asText.toStdString()}) {
        SCOPED_TRACE(f);
        EXPECT_THROW(
            {
                try {
                    readFileBytes(f);
                } catch (const FileReadError& e) {
                    EXPECT_EQ(e.what(), refused);
                    throw;
                }
            },
            FileReadError);
        EXPECT_THROW(XlsWorkbook{f}, FileReadError);
        EXPECT_THROW(readXlsxFirstSheet(f), FileReadError);
        EXPECT_THROW(TCaGlideConvert(f, ctCaGlide, true), ConvertError);
    }
    TCaGlideMng mng(kStatementTable);
    EXPECT_FALSE(runStatementImport(StatementKind::ICBC, asText.toStdString(), &mng, nullptr));
    EXPECT_FALSE(runStatementImport(StatementKind::CCB, asXls.toStdString(), &mng, nullptr));
    ASSERT_EQ(messages.shown.size(), 2u);
    for (const auto& m : messages.shown)
        EXPECT_NE(m.text.find(refused), std::string::npos) << m.text;
    SheetModel sheet;
    QString error;
    EXPECT_FALSE(exportSheet(sheet, asCsv, &error));
    EXPECT_EQ(error.toStdString(), refused);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(asCsv);
    printSheet(sheet, printer, QStringLiteral("打印"));
    ASSERT_EQ(messages.shown.size(), 3u);
    EXPECT_EQ(messages.shown.back().text, refused);
    EXPECT_TRUE(QFileInfo(asText).isSymLink()) << "a refused import renamed the file";

    EXPECT_EQ(locksHeld(db), dbLocks) << "a reader dropped the database's locks";
    EXPECT_EQ(locksHeld(db + "-shm"), shmLocks);

    // A second program opens, writes and closes the database; this one still
    // holds its locks and goes on writing.
    Outcome other = run("store_helper", {"write", QString::fromStdString(db), "other", "5"});
    ASSERT_EQ(other.exitCode, 0) << other.err.toStdString();
    EXPECT_EQ(locksHeld(db), dbLocks);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(db + "-wal")));
    for (int i = 0; i < 5; ++i) {
        TCaGlide row(first);
        row.Id = 0;
        row.Summary = "mine";
        ASSERT_TRUE(row.Insert(true)) << row.ErrorText;
    }
    session.reset();
    RawDb check(db);
    EXPECT_EQ(check.count("1"), 11);
    EXPECT_EQ(check.text("PRAGMA integrity_check"), "ok");
}

// Two command-line imports and a writer that stores row by row, all at once:
// each waits for the others' locks, and every row is stored exactly once.
TEST_F(StoreProcesses, TwoImportersAndAWriterStoreEveryRowOnce) {
    session.reset();
    const QString db = QString::fromStdString(path());
    const QString a = writeIcbc(dir, "a.txt", "甲", 5000);
    const QString b = writeIcbc(dir, "b.txt", "乙", 5000);
    QProcess* writer = start("store_helper", {"write", db, "丙", "200"});
    QProcess* first = start("chuna-import", importArgs(a, db));
    QProcess* second = start("chuna-import", importArgs(b, db));
    for (QProcess* p : {first, second, writer}) {
        Outcome r = finish(p);
        EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    }
    RawDb check(path());
    EXPECT_EQ(check.count("summary LIKE '甲%'"), 5000);
    EXPECT_EQ(check.count("summary LIKE '乙%'"), 5000);
    EXPECT_EQ(check.count("summary LIKE '丙%'"), 200);
    EXPECT_EQ(check.count("1"), 10200);
    EXPECT_EQ(check.text("SELECT COUNT(DISTINCT summary) FROM CaCollateGlide"), "10200");
    EXPECT_EQ(check.text("PRAGMA integrity_check"), "ok");
}

// An import killed at a random moment stores none of its rows, or (killed
// after its commit) all of them; the database stays whole, and the file is
// imported again in full.
TEST_F(StoreProcesses, KilledImporterLeavesNoPartOfItsFile) {
    session.reset();
    const QString db = QString::fromStdString(path());
    const int lines = 2000;
    // One import in full tells how long the work takes on this machine.
    QElapsedTimer t;
    t.start();
    Outcome full = run("chuna-import", importArgs(writeIcbc(dir, "full.txt", "全", lines), db));
    ASSERT_EQ(full.exitCode, 0) << full.err.toStdString();
    const int duration = static_cast<int>(t.elapsed());
    int killedBeforeCommit = 0;
    for (int round = 0; round < 4; ++round) {
        const std::string tag = "K" + std::to_string(round);
        const QString file = writeIcbc(dir, QString::fromStdString(tag) + ".txt", tag, lines);
        QProcess* p = start("chuna-import", importArgs(file, db));
        ASSERT_TRUE(p->waitForStarted());
        const int at = QRandomGenerator::global()->bounded(duration / 4 + 1, duration + 1);
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < at && p->state() == QProcess::Running) p->waitForFinished(5);
        p->kill();
        finish(p);
        RawDb check(path());
        ASSERT_EQ(check.text("PRAGMA integrity_check"), "ok");
        const auto stored = check.count("summary LIKE '" + tag + "货款%'");
        if (stored == 0) {
            ++killedBeforeCommit;
            ASSERT_TRUE(QFileInfo::exists(file));
            Outcome again = run("chuna-import", importArgs(file, db));
            ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
            EXPECT_EQ(check.count("summary LIKE '" + tag + "货款%'"), lines);
        } else {
            EXPECT_EQ(stored, lines) << "a killed import left part of its rows";
        }
    }
    RecordProperty("killed_before_commit", killedBeforeCommit);
    RawDb check(path());
    EXPECT_EQ(check.text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(check.count("1"), 5 * lines);
}

// Programs started at once on one new path: one creates the database, the
// others open it; none fails, and nothing is left behind but the database.
TEST(StoreFirstStart, ConcurrentFirstStartsMakeOneWholeDatabase) {
    QTemporaryDir dir;
    const QString db = dir.filePath("demo.db");
    std::vector<QProcess*> starts;
    for (int i = 0; i < 6; ++i) starts.push_back(start("store_helper", {"create-demo", db}));
    int created = 0;
    for (QProcess* p : starts) {
        Outcome r = finish(p);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        created += r.out.trimmed() == "created";
    }
    EXPECT_EQ(created, 1);
    // The database's own -wal and -shm may stay: when the last two programs
    // close at the same moment, neither sees itself as the last one, and the
    // next program to open the database reads them as usual.
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.removeAll(QStringLiteral("demo.db-wal"));
    left.removeAll(QStringLiteral("demo.db-shm"));
    EXPECT_EQ(left, QStringList{"demo.db"});
    RawDb check(db.toStdString());
    EXPECT_EQ(check.text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(check.text("SELECT COUNT(*) FROM book_sets"), "4");
    EXPECT_EQ(check.text("PRAGMA application_id"), std::to_string(Database::kApplicationId));
}

// Files that are not whole ledger databases: every program refuses them with a
// message and a non-zero exit, and leaves them byte for byte as they were.
TEST(StoreBadFiles, RefusedWithAMessageAndLeftAsTheyWere) {
    QTemporaryDir dir;
    const QString statement = writeIcbc(dir, "s.txt", "坏", 3);
    auto sqliteFile = [&](const QString& name, const std::string& sql) {
        const QString path = dir.filePath(name);
        sqlite3* raw = nullptr;
        sqlite3_open(path.toStdString().c_str(), &raw);
        sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        return path;
    };
    auto ledgerFile = [&](const QString& name) {
        const QString path = dir.filePath(name);
        testutil::createTestBook(path.toStdString());
        return path;
    };
    struct Case {
        const char* what;
        QString path;
        const char* message;
    };
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
    auto plainFile = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    const QString missingTable = ledgerFile("missing-table.db");
    sqliteFile("missing-table.db", "PRAGMA journal_mode = DELETE; DROP TABLE order_items");
    const QString readOnly = ledgerFile("read-only.db");
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const Case cases[] = {
        {"random bytes", plainFile("random.db", noise), "已损坏或不是账套数据库"},
        {"zero bytes", plainFile("empty.db", {}), "不是账套数据库（文件是空的）"},
        {"foreign SQLite file", sqliteFile("foreign.db", "CREATE TABLE notes (t TEXT)"),
         "不是账套数据库（没有账套数据表）"},
        {"another program's file",
         sqliteFile("other-app.db", "PRAGMA application_id = 7; CREATE TABLE book_sets (x)"),
         "其他程序的数据库文件"},
        {"missing table", missingTable, "缺少 order_items"},
        {"newer version",
         sqliteFile(
             "newer.db",
             "PRAGMA application_id = 1279543122; PRAGMA user_version = 99; CREATE TABLE t (x)"),
         "比本程序新"},
        {"read-only file", readOnly, "只读"},
        {"missing folder", dir.filePath("no-such-folder/book.db"), "不存在"},
        {"missing file", dir.filePath("no-such.db"), "文件不存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = fileBytes(c.path);
        const QStringList sideFiles = QDir(dir.path()).entryList(QDir::Files);
        Outcome imp = run("chuna-import", importArgs(statement, c.path));
        EXPECT_EQ(imp.exitCode, 1);
        EXPECT_TRUE(imp.err.contains(QString::fromUtf8(c.message))) << imp.err.toStdString();
        if (QByteArray(c.what) != "missing file") {
            // `chuna` creates a database only where no file is.
            Outcome window =
                run("chuna", {"--db", c.path, "--screenshot", dir.filePath("shot.png")});
            EXPECT_EQ(window.exitCode, 1);
            EXPECT_TRUE(window.err.contains(QString::fromUtf8(c.message)))
                << window.err.toStdString();
        }
        EXPECT_EQ(fileBytes(c.path), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), sideFiles);
    }
    EXPECT_TRUE(QFileInfo::exists(statement)) << "a refused import renamed its file";
}

// A writer that meets another connection's lock waits and says so, and
// stores its row once the lock is free; past its deadline it fails with a
// Chinese message and stores nothing.
TEST_F(StoreProcesses, AWriterWaitsForTheLockAndGivesUpAtItsDeadline) {
    Database other(path());
    std::vector<seams::Wait> waits;
    seams::Scoped<seams::WaitHook> hook(seams::waitHook(), [&](const seams::Wait& w) {
        waits.push_back(w);
        // The other program finishes while this one waits.
        if (w.waiting && w.waitedMs >= 50 && other.inTransaction()) other.exec("COMMIT");
    });
    auto row = [] {
        TCaGlide r(kStatementTable);
        r.SetCode = "001";
        r.AS_Code = "1001";
        r.CreateDate = "2024-03-01";
        r.DebMoney = 1;
        r.OperFlag = "0";
        return r;
    };
    other.exec("BEGIN IMMEDIATE");
    TCaGlide waited = row();
    ASSERT_TRUE(waited.Insert(true)) << waited.ErrorText;
    ASSERT_GE(waits.size(), 2u);
    EXPECT_TRUE(waits.front().waiting);
    EXPECT_EQ(waits.front().deadlineMs, Database::kDefaultBusyTimeoutMs);
    EXPECT_FALSE(waits.back().waiting);
    EXPECT_EQ(std::count_if(waits.begin(), waits.end(), [](auto& w) { return !w.waiting; }), 1);

    waits.clear();
    db().setBusyTimeoutMs(150);
    other.exec("BEGIN IMMEDIATE");
    TCaGlide refused = row();
    seams::Scoped<seams::WaitHook> record(seams::waitHook(),
                                          [&](const seams::Wait& w) { waits.push_back(w); });
    EXPECT_FALSE(refused.Insert(true));
    EXPECT_NE(refused.ErrorText.find("等待超时，本次操作没有保存"), std::string::npos)
        << refused.ErrorText;
    EXPECT_NE(refused.ErrorText.find("database is locked"), std::string::npos);
    ASSERT_FALSE(waits.empty());
    EXPECT_GE(waits.back().waitedMs, 150);
    EXPECT_FALSE(waits.back().waiting);
    other.exec("ROLLBACK");
    EXPECT_EQ(RawDb(path()).count("1"), 1);
}

// A user signs in only to the book sets assigned to them.
TEST_F(StoreProcesses, SignInNeedsTheUsersRightToTheBookSet) {
    session.reset();
    try {
        HostSession s(path(), "002", "u2");
        FAIL() << "u2 signed in to 002";
    } catch (const StoreError& e) {
        EXPECT_STREQ(e.what(), "用户 u2（李四）没有使用账套 002（分公司）的权限。");
    }
    const QString db = QString::fromStdString(path());
    Outcome r = run("chuna-import", importArgs(writeIcbc(dir, "s.txt", "权", 3), db, "002", "u2"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("没有使用账套 002"))) << r.err.toStdString();
    EXPECT_EQ(RawDb(path()).count("1"), 0);
}

}  // namespace
