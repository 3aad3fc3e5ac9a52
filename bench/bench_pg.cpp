// The store on a PostgreSQL server against raw libpq work on the same rows:
//   icbc_import_pg   reading, parsing and saving a 100,000-line ICBC statement
//                    into a fresh server database of the ledger's schema;
//   raw_copy_icbc    the baseline: the same rows sent with one COPY into the
//                    same table of a fresh database of the ledger's schema,
//                    over a connection of its own, in one transaction;
//   rebuild_grid_pg  the journal window's RebuildGrid over 100,000 rows of one
//                    account (load with balances and summary rows, fill the grid);
//   raw_select_pg    the baseline: one libpq select of the same rows and
//                    columns, every value read into the types the rows hold.
// The server is the one LEDGER_BENCH_PG names (a libpq URI; bench/run_pg.sh
// starts a throwaway cluster and sets it); its databases ledger_bench_* are
// made and dropped here.

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QApplication>
#include <QDate>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "Cell.h"
#include "Codec.h"
#include "Glide.h"
#include "IcbcStatement.h"
#include "Session.h"
#include "Store.h"
#include "Unt_CashGlideForm.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

constexpr int kIcbcLines = 100000;
constexpr int kJournalRows = 100000;

std::string server() {
    const char* s = std::getenv("LEDGER_BENCH_PG");
    return s ? s : "";
}

// The server's URI naming database `name` instead of its own.
std::string withDatabase(const std::string& uri, const std::string& name) {
    const auto scheme = uri.find("://");
    if (scheme == std::string::npos) throw std::runtime_error("LEDGER_BENCH_PG is not a URI");
    const auto query = uri.find('?', scheme + 3);
    const auto slash = uri.find('/', scheme + 3);
    const std::string params = query == std::string::npos ? "" : uri.substr(query);
    const std::size_t end = std::min(slash, query == std::string::npos ? uri.size() : query);
    return uri.substr(0, end) + "/" + name + params;
}

struct Conn {
    explicit Conn(const std::string& uri) : c(PQconnectdb(uri.c_str())) {
        if (PQstatus(c) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c));
    }
    ~Conn() { PQfinish(c); }
    void exec(const std::string& sql) {
        PGresult* r = PQexec(c, sql.c_str());
        const auto st = PQresultStatus(r);
        std::string error = PQresultErrorMessage(r);
        PQclear(r);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) throw std::runtime_error(error);
    }
    // Sends `data` (COPY's text format) into `target` (table and columns).
    void copy(const std::string& target, const std::string& data) {
        PGresult* r = PQexec(c, ("COPY " + target + " FROM STDIN").c_str());
        const bool ready = PQresultStatus(r) == PGRES_COPY_IN;
        PQclear(r);
        if (!ready) throw std::runtime_error(PQerrorMessage(c));
        if (PQputCopyData(c, data.data(), static_cast<int>(data.size())) != 1 ||
            PQputCopyEnd(c, nullptr) != 1)
            throw std::runtime_error(PQerrorMessage(c));
        r = PQgetResult(c);
        const bool done = PQresultStatus(r) == PGRES_COMMAND_OK;
        std::string error = PQresultErrorMessage(r);
        PQclear(r);
        while ((r = PQgetResult(c))) PQclear(r);
        if (!done) throw std::runtime_error(error);
    }
    PGconn* c;
};

// A fresh, empty database on the server; answers its URI.
std::string freshDatabase(const std::string& name) {
    Conn admin(server());
    admin.exec("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    admin.exec("CREATE DATABASE " + name);
    return withDatabase(server(), name);
}

void dropDatabase(const std::string& name) {
    Conn admin(server());
    admin.exec("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
}

// The ledger's schema and the master data the statement names.
void makeBook(const std::string& uri) {
    Database d(uri, Database::OpenMode::Create);
    d.exec(R"(
INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, manage_flag, manage_set_code)
    VALUES ('001', 'A001', 2024, '总公司', 0, 1, 1, '');
INSERT INTO book_set_options VALUES ('001', 'GLIDE_INPUT_MODE', '0');
INSERT INTO users (code, name)
    VALUES ('u1', '张三');
INSERT INTO user_book_sets VALUES ('u1', '001', 1);
INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, opening_cents, subject_code)
    VALUES ('001', '1001', '6222001', '工行基本户', 1, '1', 100000, '100201'),
                                 ('001', '1002', '4367001', '建行一般户', 1, '1', 0, '100202');
INSERT INTO base_info VALUES
    ('PAY_MODE', 'PM1', '01', '现金', 1), ('PAY_MODE', 'PM2', '02', '支票', 2),
    ('CURRENTS', 'CR1', 'C01', '甲公司', 1), ('CURRENTS', 'CR2', 'C02', '乙公司', 2),
    ('DEPARTMENT', 'DP1', 'D01', '财务部', 1), ('DEPARTMENT', 'DP2', 'D02', '销售部', 2);
INSERT INTO voucher_types VALUES ('001', 1, '记'), ('001', 2, '收'), ('001', 3, '付');
)");
}

// The rows the import stores from that statement, in COPY's text format.
const char* kStatementColumns =
    "CaCollateGlide (set_code, as_code, create_date, date_or_no, summary, deb_cents, cre_cents, "
    "pay_code, apply_user, glide_flag)";
std::string icbcRows(int lines) {
    std::string data;
    data.reserve(static_cast<std::size_t>(lines) * 70);
    for (int i = 0; i < lines; ++i) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "001\t1001\t2024-%02d-%02d\t%d\t货款%d\t%d\t%d\t%d\tu1\t1\n",
                      1 + (i / 28) % 12, 1 + i % 28, i + 1, i % 50, i % 2 ? 0 : 98765,
                      i % 2 ? 123456 : 0, 300000 + i);
        data += line;
    }
    return data;
}

// The journal rows of bench_journal, in COPY's text format.
std::string journalRows() {
    static const char* const summaries[] = {"收货款", "付材料款", "提现", "银行手续费", "利息收入"};
    std::string data;
    data.reserve(static_cast<std::size_t>(kJournalRows) * 90);
    const QDate first(2024, 1, 1);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < kJournalRows; ++i) {
        const QDate d = first.addDays(static_cast<qint64>(i) * 366 / kJournalRows);
        const bool debit = next() % 2 == 0;
        const std::int64_t cents = 100 + next() % 5000000;
        const char* summary = summaries[next() % 5];
        data += "001\t1001\t" + d.toString("yyyy-MM-dd").toStdString() + "\t" +
                std::to_string(i + 1) + "\t" + summary + "\t" + std::to_string(debit ? cents : 0) +
                "\t" + std::to_string(debit ? 0 : cents) + "\t" +
                (i % 3 == 0 ? std::to_string(100000 + i) : std::string()) + "\t" +
                (i % 2 ? "PM1" : "PM2") + "\t" + (i % 4 == 0 ? "" : (i % 2 ? "CR1" : "CR2")) +
                "\t" + (i % 5 == 0 ? "DP1" : "") + "\t" + (i % 7 == 0 ? "对账备注" : "") +
                "\tu1\t" + std::to_string(i % 3 == 0 ? 1 + i % 3 : 0) + "\t" +
                std::to_string(i % 3 == 0 ? i / 3 + 1 : 0) + "\n";
    }
    return data;
}

struct World {
    QTemporaryDir dir;
    std::string icbcFile, icbcCopy;
    std::string journalDb;
    std::unique_ptr<HostSession> session;
    std::unique_ptr<TFrmCashGlide> window;
};
World* world = nullptr;
int serial = 0;

// The statement file and its rows, made once. The host has one session at a
// time: run the import benchmarks and the journal benchmarks in separate
// processes (bench/run_pg.sh filters them).
void ensureImport() {
    if (!world->icbcFile.empty()) return;
    if (world->session) throw std::runtime_error("run the import and journal benchmarks apart");
    world->icbcFile = world->dir.filePath("icbc.txt").toStdString();
    std::ofstream(world->icbcFile, std::ios::binary) << icbcText(kIcbcLines);
    world->icbcCopy = icbcRows(kIcbcLines);
}

// The journal's database (the book and its rows, loaded once) and the window
// over it, filled once.
void ensureJournal() {
    World& w = *world;
    if (w.window) return;
    w.journalDb = freshDatabase("ledger_bench_journal");
    makeBook(w.journalDb);
    {
        Conn c(w.journalDb);
        c.copy(
            "CaCollateGlide (set_code, as_code, create_date, date_or_no, summary, deb_cents, "
            "cre_cents, pay_code, pm_code, cr_code, dp_code, remark, apply_user, voucher_class, "
            "voucher_no)",
            journalRows());
        c.exec("ANALYZE");
    }
    w.session = std::make_unique<HostSession>(w.journalDb, "001", "u1");
    w.window = std::make_unique<TFrmCashGlide>(nullptr, 1, 3);
    TCaGlideQry* q = w.window->CaGlideMng()->CaGlideQry();
    q->SetCode = "001";
    q->SetASCode("1001");
    q->BCreateDate = "2024-01-01";
    q->ECreateDate = "2024-12-31";
    w.window->RebuildGrid();
}

void icbc_import_pg(benchmark::State& state) {
    ensureImport();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string name = "ledger_bench_import_" + std::to_string(++serial);
        const std::string uri = freshDatabase(name);
        makeBook(uri);
        {
            HostSession session(uri, "001", "u1");
            TCaGlideMng mng(kStatementTable);
            state.ResumeTiming();
            TICBCGlideImport importer(world->icbcFile);
            importer.GlideMng = &mng;
            importer.Import();
            state.PauseTiming();
            if (!importer.Imported) state.SkipWithError("import failed");
        }
        dropDatabase(name);
        state.ResumeTiming();
    }
    state.counters["rows"] = kIcbcLines;
}

void raw_copy_icbc(benchmark::State& state) {
    ensureImport();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string name = "ledger_bench_copy_" + std::to_string(++serial);
        const std::string uri = freshDatabase(name);
        makeBook(uri);
        state.ResumeTiming();
        {
            Conn c(uri);
            c.exec("BEGIN");
            c.copy(kStatementColumns, world->icbcCopy);
            c.exec("COMMIT");
        }
        state.PauseTiming();
        dropDatabase(name);
        state.ResumeTiming();
    }
    state.counters["rows"] = kIcbcLines;
}

// Every column the manager reads, in the manager's order, each value read
// into the type the row holds.
void raw_select_pg(benchmark::State& state) {
    ensureJournal();
    Conn c(world->journalDb);
    const char* params[] = {"001", "1001", "2024-01-01", "2024-12-31"};
    std::int64_t rows = 0;
    for (auto _ : state) {
        PGresult* r = PQexecParams(
            c.c,
            "SELECT id, set_code, as_code, create_date, date_or_no, summary, deb_cents, "
            "cre_cents, pay_code, pm_code, cr_code, dp_code, remark, apply_user, voucher_id, "
            "voucher_class, voucher_no, glide_flag, voucher_line_id FROM CaCollateGlide "
            "WHERE set_code = $1 AND as_code = $2 AND create_date >= $3 AND create_date <= $4 "
            "ORDER BY create_date, date_or_no",
            4, nullptr, params, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK) state.SkipWithError(PQresultErrorMessage(r));
        rows = PQntuples(r);
        std::string setCode, asCode, date, summary, payCode, pmCode, crCode, dpCode, remark, user,
            voucherId, glideFlag;
        auto text = [&](int row, int col, std::string& out) {
            out.assign(PQgetvalue(r, row, col), static_cast<std::size_t>(PQgetlength(r, row, col)));
        };
        auto i64 = [&](int row, int col) {
            return std::strtoll(PQgetvalue(r, row, col), nullptr, 10);
        };
        for (int i = 0; i < rows; ++i) {
            std::int64_t id = i64(i, 0);
            text(i, 1, setCode);
            text(i, 2, asCode);
            text(i, 3, date);
            std::int64_t number = i64(i, 4);
            text(i, 5, summary);
            std::int64_t deb = i64(i, 6);
            std::int64_t cre = i64(i, 7);
            text(i, 8, payCode);
            text(i, 9, pmCode);
            text(i, 10, crCode);
            text(i, 11, dpCode);
            text(i, 12, remark);
            text(i, 13, user);
            text(i, 14, voucherId);
            std::int64_t voucherClass = i64(i, 15);
            double voucherNo = std::strtod(PQgetvalue(r, i, 16), nullptr);
            text(i, 17, glideFlag);
            std::int64_t line = PQgetisnull(r, i, 18) ? 0 : i64(i, 18);
            benchmark::DoNotOptimize(id + number + deb + cre + voucherClass + line);
            benchmark::DoNotOptimize(voucherNo);
            benchmark::DoNotOptimize(date.data());
        }
        PQclear(r);
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void rebuild_grid_pg(benchmark::State& state) {
    ensureJournal();
    TFrmCashGlide& w = *world->window;
    for (auto _ : state) w.RebuildGrid();
    state.counters["grid_rows"] = w.Cell->GetRows();
}

}  // namespace

BENCHMARK(raw_copy_icbc)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(icbc_import_pg)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(raw_select_pg)->Unit(benchmark::kMillisecond);
BENCHMARK(rebuild_grid_pg)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (server().empty()) {
        std::fprintf(stderr, "bench_pg: LEDGER_BENCH_PG is not set (bench/run_pg.sh sets it)\n");
        return 2;
    }
    try {
        World w;
        world = &w;
        benchmark::AddCustomContext("journal_rows", std::to_string(kJournalRows));
        benchmark::AddCustomContext("icbc_lines", std::to_string(kIcbcLines));
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        w.window.reset();
        w.session.reset();
        if (!w.journalDb.empty()) dropDatabase("ledger_bench_journal");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pg: %s\n", e.what());
        return 1;
    }
    return 0;
}
