// Backing up a live book-set database and restoring it (host/Backup.h and
// `chuna-admin`): a backup taken while another process imports holds whole
// transactions and passes its checks, a restore gives back every table byte
// for byte and keeps the database it replaced, and every refusal leaves every
// file as it was.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <map>
#include <set>

#include "Backup.h"
#include "Fixture.h"
#include "MainWindow.h"
#include "Programs.h"
#include "Seams.h"
#include "Session.h"
#include "Store.h"
#include "Temporaries.h"

using namespace ledgerhost;

namespace {

using testutil::Outcome;
using testutil::programPath;

Outcome runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(programPath(program), testutil::withPassword(args));
    return testutil::finishProgram(p, 120000);
}

// Runs a query on a file with SQLite alone; answers the first column of
// every row.
std::vector<std::string> column(const QString& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> out;
    if (sqlite3_open_v2(path.toStdString().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW) {
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                out.emplace_back(p ? p : "");
            }
        else
            out.push_back(std::string("error: ") + sqlite3_errmsg(db));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

std::int64_t rowsTagged(const QString& path, const std::string& tag) {
    const auto v =
        column(path, "SELECT COUNT(*) FROM CaCollateGlide WHERE summary LIKE '" + tag + "-%'");
    return v.empty() ? -1 : std::stoll(v.front());
}

// Every table's rows in rowid order, each value with its type, as one digest
// per table.
std::map<std::string, QByteArray> tableDigests(const QString& path) {
    std::map<std::string, QByteArray> out;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.toStdString().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    for (const std::string& table :
         column(path, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        sqlite3_stmt* st = nullptr;
        const std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY rowid";
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
        std::int64_t rows = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const char type = static_cast<char>('0' + sqlite3_column_type(st, c));
                hash.addData(QByteArrayView(&type, 1));
                const auto* blob = static_cast<const char*>(sqlite3_column_blob(st, c));
                const int n = sqlite3_column_bytes(st, c);
                hash.addData(QByteArray::number(n) + ':');
                if (n) hash.addData(QByteArrayView(blob, n));
            }
        }
        sqlite3_finalize(st);
        out[table] = hash.result().toHex() + " rows " + QByteArray::number(rows);
    }
    sqlite3_close(db);
    return out;
}

// Every file of a folder with its bytes; the shared-memory index of a WAL
// database is left out (a reader may write its read marks there).
std::map<QString, QByteArray> folderBytes(const QString& folder) {
    std::map<QString, QByteArray> out;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (f.fileName().endsWith("-shm")) continue;
        QFile file(f.filePath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << f.filePath().toStdString();
        out[f.fileName()] = file.readAll();
    }
    return out;
}

QString makeBook(const QTemporaryDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    testutil::createTestBook(path.toStdString());
    return path;
}

void sqliteFile(const QString& path, const std::string& sql) {
    sqlite3* raw = nullptr;
    sqlite3_open(path.toStdString().c_str(), &raw);
    sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(raw);
}

}  // namespace

// Another process stores 100,000 rows in 10 transactions while backups are
// taken: each backup passes its checks and holds whole transactions only; the
// last is restored, replacing the database, and every table comes back byte
// for byte while the replaced file is kept whole.
TEST(Backup, WhileAnotherProcessImportsHoldsWholeTransactionsAndRestoresByteForByte) {
    QTemporaryDir dir;
    const QString db = makeBook(dir, "book.db");
    const int kBatches = 10, kSize = 10000;
    QProcess importer;
    importer.start(programPath("store_helper"),
                   {"import", db, "批", QString::number(kBatches), QString::number(kSize)});
    ASSERT_TRUE(importer.waitForStarted());
    int backups = 0, duringImport = 0;
    std::set<std::int64_t> seen;
    while (true) {
        const bool running = importer.state() == QProcess::Running;
        const QString to = dir.filePath(QStringLiteral("b%1.db").arg(backups++));
        const BackupResult r = backupDatabase(db.toStdString(), to.toStdString());
        const bool stillRunning = importer.state() == QProcess::Running;
        EXPECT_NO_THROW(checkBackupFile(to.toStdString()));
        EXPECT_EQ(column(to, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
        EXPECT_EQ(column(to, "PRAGMA journal_mode"), std::vector<std::string>{"delete"});
        const std::int64_t rows = rowsTagged(to, "批");
        EXPECT_EQ(rows % kSize, 0) << "a backup holds part of a transaction: " << rows;
        seen.insert(rows);
        std::int64_t counted = -1;
        for (const auto& [table, n] : r.tables)
            if (table == "CaCollateGlide") counted = n;
        EXPECT_EQ(counted, std::stoll(column(to, "SELECT COUNT(*) FROM CaCollateGlide")[0]));
        if (running && stillRunning) ++duringImport;
        if (!running) break;
        importer.waitForReadyRead(5);
        importer.readAllStandardOutput();
    }
    if (importer.state() != QProcess::NotRunning) ASSERT_TRUE(importer.waitForFinished(120000));
    ASSERT_EQ(importer.exitCode(), 0) << importer.readAllStandardError().toStdString();
    EXPECT_GE(duringImport, 1) << "no backup ran while the import did";
    std::string counts;
    for (auto n : seen) counts += std::to_string(n) + " ";
    RecordProperty("backups", backups);
    RecordProperty("rows_seen", counts);
    EXPECT_EQ(*seen.rbegin(), kBatches * kSize);

    // The last backup holds every row: taken through the program, restored
    // over a database that has changed since.
    const QString full = dir.filePath("full.ledger-backup.db");
    Outcome b = runTool("chuna-admin", {"backup", "--db", db, "--to", full});
    ASSERT_EQ(b.exitCode, 0) << b.err.toStdString();
    EXPECT_TRUE(b.out.contains(QStringLiteral("完整性检查通过"))) << b.out.toStdString();
    const auto backupDigests = tableDigests(full);
    ASSERT_EQ(rowsTagged(full, "批"), kBatches * kSize);
    {
        Database open(db.toStdString());
        open.exec("DELETE FROM CaCollateGlide WHERE id % 3 = 0");
        open.exec("UPDATE book_sets SET name = '改过的名称'");
    }
    const auto changedDigests = tableDigests(db);
    ASSERT_NE(changedDigests, backupDigests);

    Outcome r = runTool("chuna-admin", {"restore", "--from", full, "--db", db});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(tableDigests(db), backupDigests);
    const QStringList kept = QDir(dir.path()).entryList({"book.db.*.replaced"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(kept.front())) << r.out.toStdString();
    EXPECT_EQ(tableDigests(dir.filePath(kept.front())), changedDigests);
    EXPECT_EQ(column(dir.filePath(kept.front()), "PRAGMA integrity_check"),
              std::vector<std::string>{"ok"});
    // The restored file opens as a ledger database; the backup is untouched.
    EXPECT_NO_THROW(Database(db.toStdString()));
    EXPECT_EQ(tableDigests(full), backupDigests);
    // Restoring to a new path makes the file there.
    const QString fresh = dir.filePath("fresh.db");
    Outcome n = runTool("chuna-admin", {"restore", "--from", full, "--db", fresh});
    ASSERT_EQ(n.exitCode, 0) << n.err.toStdString();
    EXPECT_EQ(tableDigests(fresh), backupDigests);
}

// Each refusal gives a Chinese message and a non-zero exit, and changes no
// file of the folder.
TEST(Backup, RefusalsChangeNothing) {
    QTemporaryDir dir;
    const QString db = makeBook(dir, "book.db");
    const QString good = dir.filePath("good.ledger-backup.db");
    ASSERT_EQ(runTool("chuna-admin", {"backup", "--db", db, "--to", good}).exitCode, 0);

    const QString existing = dir.filePath("existing.db");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier backup");
    }
    const QString foreign = dir.filePath("foreign.db");
    sqliteFile(foreign, "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('x')");
    const QString otherApp = dir.filePath("other-app.db");
    sqliteFile(otherApp, "PRAGMA application_id = 7; CREATE TABLE book_sets (x)");
    // Another program's database with commits still in its write-ahead log.
    const QString pending = dir.filePath("pending.db");
    {
        const QString live = dir.filePath("live.db");
        sqlite3* raw = nullptr;
        sqlite3_open(live.toStdString().c_str(), &raw);
        sqlite3_exec(raw,
                     "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; "
                     "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('x')",
                     nullptr, nullptr, nullptr);
        ASSERT_TRUE(QFile::copy(live, pending));
        ASSERT_TRUE(QFile::copy(live + "-wal", pending + "-wal"));
        sqlite3_close(raw);
        QFile::remove(live);
    }
    const QString newer = dir.filePath("newer.db");
    sqliteFile(newer,
               "PRAGMA application_id = 1279543122; PRAGMA user_version = 99; CREATE TABLE t (x)");
    const QString noise = dir.filePath("noise.db");
    {
        QByteArray bytes(8192, '\0');
        for (char& c : bytes) c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        QFile f(noise);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // A backup with pages overwritten past its header.
    const QString corrupt = dir.filePath("corrupt.ledger-backup.db");
    ASSERT_TRUE(QFile::copy(good, corrupt));
    {
        QFile f(corrupt);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        for (qint64 at = 8192; at + 4096 < size; at += 12288) {
            f.seek(at);
            f.write(QByteArray(4096, '\x5a'));
        }
    }

    QProcess holder;
    holder.start(programPath("store_helper"), {"hold", db});
    ASSERT_TRUE(holder.waitForReadyRead(30000));
    ASSERT_EQ(holder.readAllStandardOutput().trimmed(), "open");

    struct Case {
        const char* what;
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {"backup to an existing file",
         {"backup", "--db", db, "--to", existing},
         "已存在，没有覆盖"},
        {"backup onto the database itself", {"backup", "--db", db, "--to", db}, "自己的文件"},
        {"backup of a missing file",
         {"backup", "--db", dir.filePath("missing.db"), "--to", dir.filePath("b1.db")},
         "文件不存在"},
        {"backup of another program's file",
         {"backup", "--db", otherApp, "--to", dir.filePath("b2.db")},
         "不是账套数据库"},
        {"backup of a foreign SQLite file",
         {"backup", "--db", foreign, "--to", dir.filePath("b3.db")},
         "不是账套数据库"},
        {"backup of random bytes",
         {"backup", "--db", noise, "--to", dir.filePath("b4.db")},
         "不是账套数据库"},
        {"backup of a server database",
         {"backup", "--db", "postgresql://localhost/ledger", "--to", dir.filePath("b5.db")},
         "数据库服务器"},
        {"backup without a target", {"backup", "--db", db}, "需要"},
        {"restore of a corrupt backup",
         {"restore", "--from", corrupt, "--db", dir.filePath("r1.db")},
         "已损坏"},
        {"restore of a foreign file",
         {"restore", "--from", foreign, "--db", dir.filePath("r2.db")},
         "不是账套数据库的备份"},
        {"restore of random bytes",
         {"restore", "--from", noise, "--db", dir.filePath("r3.db")},
         "不是账套数据库的备份"},
        {"restore of a newer backup",
         {"restore", "--from", newer, "--db", dir.filePath("r4.db")},
         "比本程序新"},
        {"restore of a missing backup",
         {"restore", "--from", dir.filePath("missing.db"), "--db", dir.filePath("r5.db")},
         "文件不存在"},
        {"restore over a database another program has open",
         {"restore", "--from", good, "--db", db},
         "正被其他程序打开"},
        {"restore over another program's file",
         {"restore", "--from", good, "--db", otherApp},
         "不是账套数据库"},
        {"backup of another program's file with a pending log",
         {"backup", "--db", pending, "--to", dir.filePath("b6.db")},
         "不是账套数据库"},
        {"restore over another program's file with a pending log",
         {"restore", "--from", good, "--db", pending},
         "不是账套数据库"},
        {"restore of another program's file with a pending log",
         {"restore", "--from", pending, "--db", dir.filePath("r6.db")},
         "不是账套数据库的备份"},
        {"restore onto a server database",
         {"restore", "--from", good, "--db", "service=ledger"},
         "数据库服务器"},
        {"restore into a missing folder",
         {"restore", "--from", good, "--db", dir.filePath("no-such-folder/book.db")},
         "不存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = folderBytes(dir.path());
        const Outcome r = runTool("chuna-admin", c.args);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        const auto after = folderBytes(dir.path());
        EXPECT_EQ(after.size(), before.size());
        for (const auto& [name, bytes] : before) {
            auto it = after.find(name);
            ASSERT_NE(it, after.end()) << name.toStdString() << " went away";
            EXPECT_TRUE(it->second == bytes) << name.toStdString() << " changed";
        }
    }
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(30000));
    EXPECT_EQ(holder.exitCode(), 0);
    // Once the other program has closed it, the same restore goes through,
    // over a database whose pages have been damaged meanwhile too.
    {
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(3 * 4096);
        f.write(QByteArray(8192, '\x5a'));
    }
    const Outcome r = runTool("chuna-admin", {"restore", "--from", good, "--db", db});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(tableDigests(db), tableDigests(good));
}

// "备份账套…" in the main window: the dialog offers a new file in the
// documents folder named after the book set and the day; the backup is made
// and reported, and a refused target (the database's own file, an existing
// file) is reported and left alone.
TEST(Backup, TheMainWindowBacksUpTheOpenBook) {
    QTemporaryDir dir;
    const QString db = makeBook(dir, "book.db");
    HostSession session(db.toStdString(), "001", "u1");
    std::vector<LoadedPlugin> plugins;
    MainWindow window(session, plugins, db);
    const QString existing = dir.filePath("existing.db");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    struct Case {
        const char* what;
        QString answer;
        const char* message;
        bool made;
    };
    const Case cases[] = {
        {"a new file", dir.filePath("b.ledger-backup.db"), "完整性检查通过", true},
        {"the database itself", db, kStoreFileRefused, false},
        {"its WAL file", db + "-wal", kStoreFileRefused, false},
        {"an existing file", existing, "已存在，没有覆盖", false},
    };
    auto* action = window.findChild<QAction*>(QStringLiteral("backupBook"));
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QStringLiteral("备份账套…"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<seams::FileRequest> asked;
        seams::Scoped<seams::FileHook> files(
            seams::fileHook(),
            [&](QWidget*, const seams::FileRequest& r) -> std::optional<QString> {
                asked.push_back(r);
                return c.answer;
            });
        testutil::Messages messages;
        const QByteArray before = QFile::exists(c.answer)
                                      ? folderBytes(dir.path())[QFileInfo(c.answer).fileName()]
                                      : QByteArray();
        action->trigger();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_TRUE(asked[0].save);
        const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        EXPECT_EQ(QFileInfo(asked[0].initialDir).absolutePath(),
                  QDir(docs.isEmpty() ? QDir::homePath() : docs).absolutePath());
        EXPECT_TRUE(asked[0].initialDir.endsWith(QDate::currentDate().toString("yyyy-MM-dd") +
                                                 ".ledger-backup.db"))
            << asked[0].initialDir.toStdString();
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_NE(messages.shown[0].text.find(c.message), std::string::npos)
            << messages.shown[0].text;
        if (c.made) {
            EXPECT_NO_THROW(checkBackupFile(c.answer.toStdString()));
            EXPECT_EQ(tableDigests(c.answer), tableDigests(db));
        } else if (!before.isEmpty()) {
            EXPECT_EQ(folderBytes(dir.path())[QFileInfo(c.answer).fileName()], before);
        }
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A program killed while importing leaves committed rows in the -wal only;
// the restore moves them into the replaced file before it puts the backup in
// place, so the file kept holds every commit. A plain copy of a closed
// database (still marked for WAL) is a backup too, and reading it leaves
// nothing beside it.
TEST(Backup, RestoreKeepsTheCommitsOfALeftOverWal) {
    QTemporaryDir dir;
    const QString db = makeBook(dir, "book.db");
    const QString copy = dir.filePath("copy.db");
    ASSERT_TRUE(QFile::copy(db, copy));
    QProcess importer;
    importer.start(programPath("store_helper"), {"import", db, "残", "50", "2000"});
    QByteArray said;
    while (!said.contains("committed 3") && importer.waitForReadyRead(30000))
        said += importer.readAllStandardOutput();
    ASSERT_TRUE(said.contains("committed 3")) << said.toStdString();
    importer.kill();
    importer.waitForFinished();
    ASSERT_GT(QFileInfo(db + "-wal").size(), 0);
    const std::int64_t committed = rowsTagged(db, "残");
    ASSERT_GE(committed, 6000);
    ASSERT_EQ(committed % 2000, 0);

    const Outcome r = runTool("chuna-admin", {"restore", "--from", copy, "--db", db});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(copy + "-wal"));
    EXPECT_FALSE(QFileInfo::exists(copy + "-shm"));
    EXPECT_FALSE(QFileInfo::exists(db + "-journal"));
    const QStringList kept = QDir(dir.path()).entryList({"book.db.*.replaced*"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << kept.join(' ').toStdString();
    EXPECT_EQ(rowsTagged(dir.filePath(kept.front()), "残"), committed);
    EXPECT_EQ(rowsTagged(db, "残"), 0);
    EXPECT_EQ(tableDigests(db), tableDigests(copy));
}

// A restore through a symbolic link restores where the link points; the
// temporaries a killed backup or restore left are removed by the next one
// (one still held by a running writer stays); an incomplete backup is called
// incomplete and leaves the database as it was, in WAL mode; a program that
// meets a running restore is told so at once.
TEST(Backup, RestoreMends) {
    QTemporaryDir dir;
    const QString db = makeBook(dir, "book.db");
    const QString good = dir.filePath("good.ledger-backup.db");
    ASSERT_EQ(runTool("chuna-admin", {"backup", "--db", db, "--to", good}).exitCode, 0);
    auto leave = [&](const QString& name) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    };
    leave(".book.db.ledger-restore-AbC123");
    leave(".old.db.ledger-backup-XyZ789");
    HeldTemporary running(dir.filePath("other.db").toStdString(), "backup", 0644, "");

    const QString link = dir.filePath("link.db");
    ASSERT_TRUE(QFile::link(db, link));
    Outcome r = runTool("chuna-admin", {"restore", "--from", good, "--db", link});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), QFileInfo(db).absoluteFilePath());
    EXPECT_EQ(QDir(dir.path()).entryList({"book.db.*.replaced"}, QDir::Files).size(), 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(".book.db.ledger-restore-AbC123")));
    r = runTool("chuna-admin", {"backup", "--db", db, "--to", dir.filePath("b2.db")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(".old.db.ledger-backup-XyZ789")));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(running.name())));

    const QString incomplete = dir.filePath("incomplete.db");
    ASSERT_TRUE(QFile::copy(good, incomplete));
    sqliteFile(incomplete, "DROP TABLE import_mappings");
    r = runTool("chuna-admin", {"restore", "--from", incomplete, "--db", db});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("备份文件 " + incomplete + " 不完整")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("ledger-restore")) << r.err.toStdString();
    auto walMode = [&] {
        QFile f(db);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.read(20).at(18) == 2;  // the header's write version: 2 is WAL
    };
    EXPECT_TRUE(walMode());

    // A restore of the book runs: it holds its temporary and the file.
    HeldTemporary restoring(db.toStdString(), "restore", 0644, "", true);
    sqlite3* lock = nullptr;
    sqlite3_open(db.toStdString().c_str(), &lock);
    sqlite3_exec(lock,
                 "PRAGMA locking_mode = EXCLUSIVE; PRAGMA journal_mode = DELETE; "
                 "BEGIN EXCLUSIVE; COMMIT",
                 nullptr, nullptr, nullptr);
    std::string m;
    try {
        Database opened(db.toStdString());
    } catch (const std::exception& e) {
        m = e.what();
    }
    EXPECT_NE(m.find("正在从备份恢复"), std::string::npos) << m;
    sqlite3_exec(lock, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
}
