// Automatic bank reconciliation of 100,000 bank-journal rows against 100,000
// statement rows of one account (about 90% of them pairs, a fifth of those by
// cheque number), next to a raw select of both sides' rows, and the peak
// memory of a matching run.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDate>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "Reconcile.h"
#include "Store.h"

using namespace ledgerhost;

namespace {

constexpr int kRows = 100000;
constexpr int kPairs = 90000;

std::string dbPath;

void createBook(const std::string& path) {
    Database db(path, Database::OpenMode::Create);
    db.exec(R"(
INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, manage_flag, manage_set_code)
    VALUES ('001', 'A001', 2024, '总公司', 0, 1, 1, '');
INSERT INTO users (code, name)
    VALUES ('u1', '张三');
INSERT INTO user_book_sets VALUES ('u1', '001', 1);
INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, opening_cents, subject_code)
    VALUES ('001', '1001', '6222001', '工行基本户', 1, '1', 100000, '100201');
)");
    Transaction t(db);
    auto insert = [&](const char* table) {
        return db.prepare(std::string("INSERT INTO ") + table +
                          " (set_code, as_code, create_date, date_or_no, summary, deb_cents, "
                          "cre_cents, pay_code, apply_user) VALUES ('001', '1001', ?, ?, ?, ?, ?, "
                          "?, 'u1')");
    };
    Stmt j = insert("CaGlide");
    Stmt s = insert("CaCollateGlide");
    std::uint32_t seed = 4242;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const QDate first(2024, 1, 1);
    auto row = [](Stmt& st, const QDate& d, int no, bool debit, std::int64_t cents,
                  const std::string& cheque) {
        st.reset();
        st.bind(1, d.toString("yyyy-MM-dd").toStdString()).bind(2, no).bind(3, "收货款");
        st.bind(4, debit ? cents : 0).bind(5, debit ? 0 : cents).bind(6, cheque);
        st.run();
    };
    for (int i = 0; i < kRows; ++i) {
        const QDate d = first.addDays(static_cast<qint64>(i) * 360 / kRows);
        const bool in = next() % 3 == 0;
        const std::int64_t cents = 100 + next() % 50000000;
        const std::string cheque = i % 5 == 0 ? std::to_string(500000 + i) : std::string();
        // The journal keeps the enterprise's side, the statement the bank's.
        row(j, d, i + 1, in, cents, cheque);
        if (i < kPairs) {
            row(s, d.addDays(next() % 4), i + 1, !in, cents, cheque);
        } else {
            const std::int64_t other = 100 + next() % 50000000;
            row(s, d, i + 1, next() % 2 == 0, other, std::string());
        }
    }
    t.commit();
}

void reset(Database& db) {
    db.exec(
        "BEGIN; UPDATE CaGlide SET reconciled = 0, reconcile_group = NULL; "
        "UPDATE CaCollateGlide SET reconciled = 0, reconcile_group = NULL; "
        "DELETE FROM reconcile_groups; DELETE FROM reconcile_runs; COMMIT;");
}

double seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// CPU time of the process in milliseconds: on a shared machine the wall time
// also counts the time other programs held the cores.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The baseline: the same columns of both sides' rows of the account, read.
void BM_raw_select(benchmark::State& state) {
    Database db(dbPath);
    double cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        std::int64_t sum = 0;
        for (const char* table : {"CaGlide", "CaCollateGlide"}) {
            Stmt s = db.prepare(
                std::string("SELECT id, create_date, date_or_no, pay_code, summary, deb_cents, "
                            "cre_cents, reconcile_group FROM ") +
                table +
                " WHERE set_code = '001' AND as_code = '1001' AND create_date >= '2024-01-01' "
                "AND create_date <= '2024-12-31' ORDER BY create_date, date_or_no, id");
            while (s.step()) {
                sum += s.i64(0) + s.i64(2) + s.i64(5) + s.i64(6);
                benchmark::DoNotOptimize(s.text(1));
                benchmark::DoNotOptimize(s.text(3));
                benchmark::DoNotOptimize(s.text(4));
            }
        }
        benchmark::DoNotOptimize(sum);
        cpu += cpuMs() - cpuStart;
        state.SetIterationTime(seconds(start));
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_raw_select)->Name("raw_select")->UseManualTime()->Unit(benchmark::kMillisecond);

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return 0;
}

// Automatic matching from the unreconciled state, one transaction each run.
void BM_auto_match(benchmark::State& state) {
    Database db(dbPath);
    reconcile::Reconciler rec(db, reconcile::Reconciler::findAccount(db, "001", "6222001"), "u1");
    reconcile::AutoResult last;
    long rssBefore = 0, peak = 0;
    double cpu = 0;
    for (auto _ : state) {
        reset(db);
        rssBefore = statusKb("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";  // restarts VmHWM from now
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        last = rec.autoMatch("2024-01-01", "2024-12-31", 7);
        cpu += cpuMs() - cpuStart;
        state.SetIterationTime(seconds(start));
        peak = std::max(peak, statusKb("VmHWM:"));
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    state.counters["pairs"] = last.pairs();
    state.counters["left_journal"] = last.leftJournal;
    state.counters["rss_before_mb"] = rssBefore / 1024.0;
    state.counters["peak_rss_mb"] = peak / 1024.0;
}
BENCHMARK(BM_auto_match)->Name("auto_match")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    dbPath = dir.filePath("reconcile.db").toStdString();
    createBook(dbPath);
    benchmark::AddCustomContext("journal_rows", std::to_string(kRows));
    benchmark::AddCustomContext("statement_rows", std::to_string(kRows));
    benchmark::AddCustomContext("matching_rows", std::to_string(kPairs));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
