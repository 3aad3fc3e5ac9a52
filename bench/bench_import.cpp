// Statement imports against the raw store work they stand for: reading,
// parsing and saving a 100,000-line ICBC statement (and a 20,000-row CCB
// workbook) next to the plain insert of the same rows (rawInsert). Each
// repetition is one run; bench/run.sh pairs the repetitions of the same index.

#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include "Codec.h"
#include "Glide.h"
#include "IcbcStatement.h"
#include "Numbers.h"
#include "Passwords.h"
#include "Session.h"
#include "Store.h"
#include "XlsWriter.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

constexpr int kIcbcLines = 100000;
constexpr int kCcbRows = 20000;
constexpr const char* kBenchPassword = "bench123";

// A book-set database with the accounts the statements name.
void makeBook(const std::string& db) {
    Database d(db, Database::OpenMode::Create);
    d.exec(R"(
INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, manage_flag, manage_set_code)
    VALUES ('001', 'A001', 2024, '总公司', 0, 1, 0, '');
INSERT INTO users (code, name)
    VALUES ('u1', '张三');
INSERT INTO user_book_sets VALUES ('u1', '001', 1);
INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, opening_cents, subject_code)
    VALUES ('001', '1001', '6222001', '工行基本户', 1, '1', 0, '100201'),
                                 ('001', '1002', '4367001', '建行一般户', 1, '1', 0, '100202');
INSERT INTO reconcile_openings VALUES ('001', '1001', 0), ('001', '1002', 0);
)");
    // The programs sign in: u1's password is kBenchPassword.
    d.prepare("UPDATE users SET password_hash = ? WHERE code = 'u1'")
        .bind(1, hashPassword(kBenchPassword))
        .run();
}

// The CCB workbook (BIFF5, GBK texts) from row 10 on, with the bank's
// balance after each row in column G, so the import checks them.
std::string ccbWorkbook(int rows) {
    std::vector<xlswriter::Cell> cells;
    cells.reserve(static_cast<std::size_t>(rows) * 13);
    std::int64_t balance = 0;
    for (int r = 0; r < rows; ++r) {
        balance += r % 2 ? 100000 : -2550;
        char date[16];
        std::snprintf(date, sizeof date, "2024/%02d/%02d", 1 + r / 28 % 12, 1 + r % 28);
        const std::string row[13] = {date,
                                     "t",
                                     "k",
                                     std::to_string(r),
                                     r % 2 ? "1,000.00" : "0",
                                     r % 2 ? "0" : "25.50",
                                     ledgerhost::formatCents(balance),
                                     "c",
                                     "d",
                                     std::to_string(r) + "-摘要" + std::to_string(r % 9),
                                     "e",
                                     "4367001",
                                     "建行一般户"};
        for (std::uint16_t c = 0; c < 13; ++c)
            cells.push_back({static_cast<std::uint16_t>(9 + r), c, utf8ToGbk(row[c])});
    }
    return xlswriter::workbook(cells, 936);
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<HostSession> session;
    std::string icbcFile, ccbFile;

    Fixture() {
        std::string db = dir.filePath("bench.db").toStdString();
        makeBook(db);
        session = std::make_unique<HostSession>(db, "001", "u1");
        // LEDGER_BENCH_DROP_INDEX=<name>: what an index of the statement table
        // costs the imports, measured without it (once the store is open: it
        // refuses to open a file without it).
        if (const char* index = std::getenv("LEDGER_BENCH_DROP_INDEX"))
            session->dbManage().Db().exec("DROP INDEX IF EXISTS " + std::string(index));
        icbcFile = dir.filePath("icbc.txt").toStdString();
        std::ofstream(icbcFile, std::ios::binary) << icbcText(kIcbcLines);
        ccbFile = dir.filePath("ccb.xls").toStdString();
        std::ofstream(ccbFile, std::ios::binary) << ccbWorkbook(kCcbRows);
    }

    // Back to an empty statement table, import log and kept day totals, so
    // that the next repetition stores the same file afresh.
    void clearRows() {
        session->dbManage().Db().exec(
            "DELETE FROM CaCollateGlide; DELETE FROM import_log; DELETE FROM journal_days");
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// CPU time of the process in milliseconds: on a shared machine the wall time
// also counts the time other programs held the cores.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// One run of the work measured, by name, so that callgrind can count its
// instructions alone (--toggle-collect='*measured*').
template <class Work>
[[gnu::noinline]] void measured(Work& work) {
    work();
}

// Times one run of `work` (wall and CPU) into the benchmark's manual time and
// its cpu_ms counter; `after` runs untimed.
template <class Work, class After>
void timed(benchmark::State& state, Work work, After after) {
    double cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        measured(work);
        cpu += cpuMs() - cpuStart;
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        after();
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}

// The baseline: the plain insert of the rows an import stores. A fresh
// database file in WAL mode with synchronous NORMAL; one table of the
// statement row's stored fields (an INTEGER PRIMARY KEY id, book set,
// account, date, number, debit and credit cents, cheque number, summary,
// user, flag, the empty code columns, voucher id and class) with one index on
// (book set, account, date); one prepared INSERT that binds its texts without
// copying them; one transaction.
void rawInsert(benchmark::State& state, int rows) {
    Fixture& f = fixture();
    int round = 0;
    std::string file;
    auto exec = [&state](sqlite3* db, const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            state.SkipWithError(sqlite3_errmsg(db));
    };
    auto work = [&] {
        file = f.dir.filePath(QStringLiteral("raw%1.db").arg(++round)).toStdString();
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
        exec(db, R"(CREATE TABLE statement (
    id INTEGER PRIMARY KEY, set_code TEXT NOT NULL, as_code TEXT NOT NULL,
    create_date TEXT NOT NULL, date_or_no INTEGER NOT NULL, deb_cents INTEGER NOT NULL,
    cre_cents INTEGER NOT NULL, pay_code TEXT NOT NULL, summary TEXT NOT NULL,
    apply_user TEXT NOT NULL, glide_flag TEXT NOT NULL, pm_code TEXT NOT NULL,
    cr_code TEXT NOT NULL, dp_code TEXT NOT NULL, voucher_id TEXT NOT NULL,
    voucher_class INTEGER NOT NULL);
CREATE INDEX statement_account_date ON statement (set_code, as_code, create_date);
)");
        exec(db, "BEGIN IMMEDIATE");
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO statement (set_code, as_code, create_date, date_or_no, "
                           "deb_cents, cre_cents, pay_code, summary, apply_user, glide_flag, "
                           "pm_code, cr_code, dp_code, voucher_id, voucher_class) "
                           "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                           -1, &s, nullptr);
        auto text = [s](int i, const char* v, int n) {
            sqlite3_bind_text(s, i, v, n, SQLITE_STATIC);
        };
        char date[16], cheque[16];
        for (int i = 0; i < rows; ++i) {
            const int dn =
                std::snprintf(date, sizeof date, "2024-%02d-%02d", 1 + (i / 28) % 12, 1 + i % 28);
            const int cn = std::snprintf(cheque, sizeof cheque, "%d", 300000 + i);
            sqlite3_reset(s);
            text(1, "001", 3);
            text(2, "1001", 4);
            text(3, date, dn);
            sqlite3_bind_int64(s, 4, i + 1);
            sqlite3_bind_int64(s, 5, i % 2 ? 0 : 98765);
            sqlite3_bind_int64(s, 6, i % 2 ? 123456 : 0);
            text(7, cheque, cn);
            text(8, "货款", 6);
            text(9, "u1", 2);
            text(10, "1", 1);
            for (int k = 11; k <= 13; ++k) text(k, "", 0);
            text(14, "0", 1);
            sqlite3_bind_int64(s, 15, 0);
            if (sqlite3_step(s) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
        }
        sqlite3_finalize(s);
        exec(db, "COMMIT");
        sqlite3_close(db);
    };
    timed(state, work, [&] {
        QFile::remove(QString::fromStdString(file));
        QFile::remove(QString::fromStdString(file + "-wal"));
        QFile::remove(QString::fromStdString(file + "-shm"));
    });
    state.counters["rows"] = rows;
}

void raw_insert_icbc(benchmark::State& state) {
    rawInsert(state, kIcbcLines);
}
void raw_insert_ccb(benchmark::State& state) {
    rawInsert(state, kCcbRows);
}

void icbc_import(benchmark::State& state) {
    Fixture& f = fixture();
    TCaGlideMng mng(kStatementTable);
    timed(
        state,
        [&] {
            TICBCGlideImport importer(f.icbcFile);
            importer.GlideMng = &mng;
            importer.Import();
            if (!importer.Imported) state.SkipWithError("import failed");
        },
        [&] { f.clearRows(); });
    state.counters["rows"] = kIcbcLines;
}

void ccb_import(benchmark::State& state) {
    Fixture& f = fixture();
    TCaGlideMng mng(kStatementTable);
    timed(
        state,
        [&] {
            TCCBGlideImport importer(f.ccbFile);
            importer.GlideMng = &mng;
            importer.Import();
            if (!importer.Imported) state.SkipWithError("import failed");
        },
        [&] { f.clearRows(); });
    state.counters["rows"] = kCcbRows;
}

}  // namespace

BENCHMARK(raw_insert_icbc)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(icbc_import)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(raw_insert_ccb)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(ccb_import)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// bench_import --make-book DB: a book-set database for chuna-import;
// bench_import --make-icbc LINES FILE: an ICBC statement of that many lines.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--make-book") {
        makeBook(argv[2]);
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--make-icbc") {
        std::ofstream(argv[3], std::ios::binary) << icbcText(std::atoi(argv[2]));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
