// Several workstations on one book set: eight programs at once, each storing
// rows through the entry path and importing ICBC statements, against one
// database (a PostgreSQL database when LEDGER_TEST_PG names a server, and a
// SQLite file). One of them is killed in the middle of an import. Afterwards
// every row is there exactly once with its amounts, each account's 统一号 are
// unique, each account's balance is its opening plus its rows, and the killed
// import stored all of its file or nothing.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "Codec.h"
#include "Fixture.h"
#include "Glide.h"
#include "Programs.h"
#include "Store.h"
#include "TestStores.h"

using namespace ledgerhost;

namespace {

// One row as the checks see it.
struct Row {
    std::string account;
    std::int64_t debit = 0, credit = 0;
    bool operator==(const Row&) const = default;
};
using Rows = std::map<std::string, Row>;  // by summary

// The k-th row a workstation stores (store_helper's workstationRow).
void workstationRows(const std::string& tag, int count, Rows& out) {
    for (int k = 0; k < count; ++k) {
        const std::int64_t cents = (k % 13 + 1) * 125;
        Row r{k % 2 ? "1003" : "1001", k % 2 ? cents : 0, k % 2 ? 0 : cents};
        out[tag + "-" + std::to_string(k)] = r;
    }
}

// An ICBC statement of `account` ("1001" no. 6222001 or "1003" no. 6222003),
// summaries "<tag>货款<n>"; its rows go to `rows`.
QString writeStatement(const QTemporaryDir& dir, const std::string& tag, const std::string& account,
                       int lines, Rows& rows) {
    const std::string number = account == "1001" ? "6222001" : "6222003";
    std::string text = "账号:" + number + "\r\n户名:总公司\r\n币种:人民币\r\n起止日期\r\n表头\r\n";
    for (int i = 0; i < lines; ++i) {
        const std::int64_t cents = 100 + (i * 37) % 5000;
        const bool in = i % 3 != 0;
        const std::string amount = std::to_string(cents / 100) + "." +
                                   (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100);
        char line[256];
        std::snprintf(line, sizeof line,
                      "%d^2024-%02d-%02d^10:00^x^对方^转账^人民币^%d-%s货款%d^%s^%s\r\n", i,
                      1 + i % 12, 1 + i % 28, 500000 + i, tag.c_str(), i, in ? amount.c_str() : "",
                      in ? "" : amount.c_str());
        text += line;
        rows[tag + "货款" + std::to_string(i)] = Row{account, in ? 0 : cents, in ? cents : 0};
    }
    const QString path = dir.filePath(QString::fromStdString(tag) + ".txt");
    std::ofstream(path.toStdString(), std::ios::binary) << utf8ToGbk(text);
    return path;
}

class Workstations : public ::testing::TestWithParam<const char*> {};

TEST_P(Workstations, EightAtOnceStoreEveryRowOnceAndAKilledImportAllOrNothing) {
    testutil::TestStore store(GetParam());
    if (!store.skip().empty()) GTEST_SKIP() << store.skip();
    ASSERT_EQ(store.error(), "");
    const std::string& db = store.db();
    testutil::createTestBook(db);

    constexpr int kProcesses = 8, kRows = 15, kLines = 300, kBigLines = 20000;
    constexpr int kVictim = kProcesses - 1;
    Rows expected, bigRows;
    std::vector<std::unique_ptr<QProcess>> programs;
    for (int p = 0; p < kProcesses; ++p) {
        const std::string tag = "W" + std::to_string(p);
        QStringList args{"workstation", QString::fromStdString(db), QString::fromStdString(tag),
                         QString::number(kRows)};
        args << writeStatement(store.dir(), "I" + std::to_string(p) + "a", "1001", kLines, expected)
             << writeStatement(store.dir(), "I" + std::to_string(p) + "b", "1003", kLines,
                               expected);
        // Stores its rows before each file; the victim is killed in its third
        // import, so it never stores the rows after it.
        workstationRows(tag, 3 * kRows, expected);
        if (p == kVictim)
            args << writeStatement(store.dir(), "I" + std::to_string(p) + "big", "1001", kBigLines,
                                   bigRows);
        auto program = std::make_unique<QProcess>();
        program->setProgram(testutil::programPath("store_helper"));
        program->setArguments(args);
        program->start();
        programs.push_back(std::move(program));
    }

    // The victim says when its big import is half done (its first rows are
    // then written in the import's open transaction); it is killed at once.
    QProcess& victim = *programs[kVictim];
    QString told;
    QElapsedTimer clock;
    clock.start();
    while (!told.contains("half 2") && victim.state() != QProcess::NotRunning &&
           clock.elapsed() < 300000) {
        victim.waitForReadyRead(50);
        told += QString::fromUtf8(victim.readAllStandardOutput());
    }
    ASSERT_TRUE(told.contains("half 2"))
        << told.toStdString() << victim.readAllStandardError().toStdString();
    victim.kill();  // SIGKILL
    victim.waitForFinished();
    EXPECT_EQ(victim.exitStatus(), QProcess::CrashExit);

    for (int p = 0; p < kVictim; ++p) {
        QProcess& program = *programs[p];
        ASSERT_TRUE(program.waitForFinished(300000)) << "workstation " << p;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0)
            << "workstation " << p << ": " << program.readAllStandardError().toStdString();
        EXPECT_EQ(QString::fromUtf8(program.readAllStandardOutput()).count("stored "), 2);
    }

    Database check(db);
    // The killed import stored all of its file or nothing, and its import log
    // entry with it.
    Stmt big = check.prepare("SELECT COUNT(*) FROM CaCollateGlide WHERE summary LIKE 'I7big货款%'");
    ASSERT_TRUE(big.step());
    const std::int64_t bigStored = big.i64(0);
    EXPECT_TRUE(bigStored == 0 || bigStored == kBigLines) << bigStored;
    Stmt logged = check.prepare("SELECT COUNT(*) FROM import_log WHERE file_name LIKE '%I7big%'");
    ASSERT_TRUE(logged.step());
    EXPECT_EQ(logged.i64(0), bigStored ? 1 : 0);
    if (bigStored == kBigLines) expected.insert(bigRows.begin(), bigRows.end());
    RecordProperty("killed_import_stored", static_cast<int>(bigStored));

    // Every row exactly once, with its account and amounts.
    Rows stored;
    std::vector<std::string> twice;
    Stmt rows = check.prepare(
        "SELECT summary, as_code, deb_cents, cre_cents FROM CaCollateGlide WHERE set_code = '001'");
    while (rows.step()) {
        Row r{rows.text(1), rows.i64(2), rows.i64(3)};
        if (!stored.emplace(rows.text(0), r).second) twice.push_back(rows.text(0));
    }
    EXPECT_EQ(twice, std::vector<std::string>{}) << "rows stored more than once";
    EXPECT_EQ(stored.size(), expected.size());
    std::vector<std::string> missing, wrong, extra;
    for (const auto& [summary, row] : expected) {
        auto it = stored.find(summary);
        if (it == stored.end())
            missing.push_back(summary);
        else if (!(it->second == row))
            wrong.push_back(summary);
    }
    for (const auto& [summary, row] : stored)
        if (!expected.count(summary)) extra.push_back(summary);
    EXPECT_EQ(missing.size(), 0u) << (missing.empty() ? "" : missing.front());
    EXPECT_EQ(wrong.size(), 0u) << (wrong.empty() ? "" : wrong.front());
    EXPECT_EQ(extra.size(), 0u) << (extra.empty() ? "" : extra.front());

    // 统一号 unique per book set and account in each table.
    for (const char* table : {kStatementTable, kCashJournalTable}) {
        Stmt dup =
            check.prepare(std::string("SELECT set_code, as_code, date_or_no, COUNT(*) FROM ") +
                          table + " GROUP BY set_code, as_code, date_or_no HAVING COUNT(*) > 1");
        if (dup.step())
            ADD_FAILURE() << table << ": 统一号 " << dup.i64(2) << " of " << dup.text(0) << "/"
                          << dup.text(1) << " stored " << dup.i64(3) << " times";
    }

    // Each account's balance in the journal load is its opening plus its
    // rows (the statement keeps the bank's side: money in raises it).
    HostSession session(db, "001", "u1");
    for (const auto& [account, openingCents] :
         std::map<std::string, std::int64_t>{{"1001", 100000}, {"1003", 0}}) {
        std::int64_t balance = openingCents;
        std::size_t count = 0;
        for (const auto& [summary, row] : expected)
            if (row.account == account) {
                balance += row.credit - row.debit;
                ++count;
            }
        TCaGlideMng mng(kStatementTable);
        TCaGlideQry& q = *mng.CaGlideQry();
        q.SetCode = "001";
        q.AS_Code = account;
        q.AccountSetCode = "001";
        q.BCreateDate = "2024-01-01";
        q.ECreateDate = "2024-12-31";
        mng.SubjectKind = 1;
        mng.Load();
        ASSERT_GT(mng.GetCount(), 0) << account;
        const TCaGlide& last = *mng.GetDetails(mng.GetCount() - 1);
        EXPECT_EQ(last.Summary, kYearTotal) << account;
        EXPECT_EQ(toCents(last.Balance), balance) << account << ", " << count << " rows";
    }
}

// Two cashiers at two workstations load one row and both save: the second is
// refused with who changed it and when, and the row keeps the first's values.
TEST_P(Workstations, TheSecondOfTwoCashiersSavingOneLoadedRowIsRefused) {
    testutil::TestStore store(GetParam());
    if (!store.skip().empty()) GTEST_SKIP() << store.skip();
    ASSERT_EQ(store.error(), "");
    const std::string& db = store.db();
    testutil::createTestBook(db);
    std::int64_t id = 0;
    {
        Database d(db);
        id = testutil::addRow(d, kCashJournalTable, "001", "1001", "2024-03-01", 100, 0, "原来");
    }
    std::unique_ptr<QProcess> cashiers[2];
    const char* summaries[2] = {"甲改", "乙改"};
    for (int c = 0; c < 2; ++c) {
        cashiers[c] = std::make_unique<QProcess>();
        cashiers[c]->setProgram(testutil::programPath("store_helper"));
        cashiers[c]->setArguments({"edit", QString::fromStdString(db), QString::number(id),
                                   QString::fromUtf8(summaries[c])});
        cashiers[c]->start();
    }
    for (auto& c : cashiers) {
        while (!c->canReadLine() && c->waitForReadyRead(60000)) {
        }
        ASSERT_EQ(c->readLine().trimmed(), "loaded") << c->readAllStandardError().toStdString();
    }
    QString said[2];
    for (int c = 0; c < 2; ++c) {
        cashiers[c]->write("\n");
        cashiers[c]->closeWriteChannel();
        ASSERT_TRUE(cashiers[c]->waitForFinished(60000));
        said[c] = QString::fromUtf8(cashiers[c]->readAllStandardOutput()).trimmed();
    }
    EXPECT_EQ(said[0], "saved");
    EXPECT_TRUE(said[1].startsWith(QStringLiteral("refused 这条记录已被 张三 于 ")) &&
                said[1].endsWith(QStringLiteral(" 修改，请刷新后再操作。")))
        << said[1].toStdString();
    Database d(db);
    Stmt s = d.prepare("SELECT summary FROM CaGlide WHERE id = ?");
    s.bind(1, id);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "甲改");
}

INSTANTIATE_TEST_SUITE_P(Engines, Workstations, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
