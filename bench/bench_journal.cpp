// The journal grid over 100,000 rows of one bank account: how much the window's
// RebuildGrid (load with balances and summary rows, then fill the grid) costs
// next to a plain select that reads the same rows, and how much memory the
// window holds afterwards.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "Cell.h"
#include "DayTotals.h"
#include "Glide.h"
#include "Session.h"
#include "Store.h"
#include "Unt_CashGlideForm.h"

using namespace ledgerhost;

namespace {

constexpr int kRows = 100000;
constexpr const char* kYearStart = "2024-01-01";
constexpr const char* kYearEnd = "2024-12-31";

// The master data of the test book (book sets, users, accounts, base info and
// voucher types), then kRows statement rows of account 1001 spread over 2024.
void createBook(const std::string& path) {
    Database db(path, Database::OpenMode::Create);
    db.exec(R"(
INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, manage_flag, manage_set_code)
    VALUES ('001', 'A001', 2024, '总公司', 0, 1, 1, '');
INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, manage_flag, manage_set_code)
    VALUES ('002', 'B002', 2024, '分公司', 0, 1, 0, '001');
INSERT INTO book_set_options VALUES ('001', 'GLIDE_INPUT_MODE', '0');
INSERT INTO users (code, name)
    VALUES ('u1', '张三'), ('u2', '李四');
INSERT INTO user_book_sets VALUES ('u1', '001', 1), ('u1', '002', 2), ('u2', '001', 1);
INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, opening_cents, subject_code)
    VALUES
    ('001', '1001', '6222001', '工行基本户', 1, '1', 100000, '100201'),
    ('001', '1002', '6222002', '建行一般户', 1, '0', 0, '100202'),
    ('001', '1003', '6222003', '农行专户', 1, '1', 0, '100203'),
    ('001', '1010', 'CASH', '库存现金', 2, '1', 50000, '1001'),
    ('002', '2001', '6222201', '分公司户', 1, '1', 0, '100201');
INSERT INTO base_info VALUES
    ('PAY_MODE', 'PM1', '01', '现金', 1), ('PAY_MODE', 'PM2', '02', '支票', 2),
    ('CURRENTS', 'CR1', 'C01', '甲公司', 1), ('CURRENTS', 'CR2', 'C02', '乙公司', 2),
    ('DEPARTMENT', 'DP1', 'D01', '财务部', 1), ('DEPARTMENT', 'DP2', 'D02', '销售部', 2);
INSERT INTO voucher_types VALUES ('001', 1, '记'), ('001', 2, '收'), ('001', 3, '付');
INSERT INTO summaries VALUES ('01', '提现'), ('02', '收货款');
)");
    static const char* const summaries[] = {"收货款", "付材料款", "提现", "银行手续费", "利息收入"};
    Transaction t(db);
    Stmt s = db.prepare(
        "INSERT INTO CaCollateGlide (set_code, as_code, create_date, date_or_no, summary, "
        "deb_cents, "
        "cre_cents, pay_code, pm_code, cr_code, dp_code, remark, apply_user, voucher_class, "
        "voucher_no)"
        " VALUES ('001', '1001', ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'u1', ?, ?)");
    const QDate first(2024, 1, 1);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < kRows; ++i) {
        const QDate d = first.addDays(static_cast<qint64>(i) * 366 / kRows);
        const bool debit = next() % 2 == 0;
        const std::int64_t cents = 100 + next() % 5000000;
        s.bind(1, d.toString("yyyy-MM-dd").toStdString());
        s.bind(2, i + 1);
        s.bind(3, summaries[next() % 5]);
        s.bind(4, debit ? cents : 0);
        s.bind(5, debit ? 0 : cents);
        s.bind(6, i % 3 == 0 ? std::to_string(100000 + i) : std::string());
        s.bind(7, i % 2 ? "PM1" : "PM2");
        s.bind(8, i % 4 == 0 ? "" : (i % 2 ? "CR1" : "CR2"));
        s.bind(9, i % 5 == 0 ? "DP1" : "");
        s.bind(10, i % 7 == 0 ? "对账备注" : "");
        s.bind(11, i % 3 == 0 ? 1 + i % 3 : 0);
        s.bind(12, i % 3 == 0 ? i / 3 + 1 : 0);
        s.run();
        s.reset();
    }
    // Written with plain inserts: the kept day totals are made from the rows.
    rebuildDayTotals(db);
    t.commit();
}

struct World {
    QTemporaryDir dir;
    std::unique_ptr<HostSession> session;
    std::unique_ptr<TFrmCashGlide> window;
    double rssAfterRebuildMb = 0;
    double peakAfterRebuildMb = 0;
};
World* world = nullptr;

// A field of /proc/self/status in MB ("VmRSS", "VmHWM").
double statusMb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::stod(line.substr(n + 1)) / 1024.0;  // the line reads "VmRSS:  1234 kB"
    return 0;
}

void setQuery(TFrmCashGlide& w) {
    TCaGlideQry* q = w.CaGlideMng()->CaGlideQry();
    q->SetCode = "001";
    q->SetASCode("1001");
    q->BCreateDate = kYearStart;
    q->ECreateDate = kYearEnd;
}

// Every column the manager reads, in the manager's order, stepping each row.
void raw_select(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(world->session->dbManage().Db().path().c_str(), &db, SQLITE_OPEN_READONLY,
                    nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id, set_code, as_code, create_date, date_or_no, summary, deb_cents, "
                       "cre_cents, pay_code, pm_code, cr_code, dp_code, remark, apply_user, "
                       "voucher_id, voucher_class, voucher_no, glide_flag, voucher_line_id "
                       "FROM CaCollateGlide WHERE set_code = ? AND as_code = ? "
                       "AND create_date >= ? AND create_date <= ? ORDER BY create_date, date_or_no",
                       -1, &st, nullptr);
    auto text = [&](int col, std::string& out) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
        out.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
    };
    std::int64_t rows = 0;
    for (auto _ : state) {
        sqlite3_bind_text(st, 1, "001", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 2, "1001", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 3, kYearStart, -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 4, kYearEnd, -1, SQLITE_STATIC);
        rows = 0;
        std::string setCode, asCode, date, summary, payCode, pmCode, crCode, dpCode, remark, user,
            voucherId, glideFlag;
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::int64_t id = sqlite3_column_int64(st, 0);
            text(1, setCode);
            text(2, asCode);
            text(3, date);
            std::int64_t number = sqlite3_column_int64(st, 4);
            text(5, summary);
            std::int64_t deb = sqlite3_column_int64(st, 6);
            std::int64_t cre = sqlite3_column_int64(st, 7);
            text(8, payCode);
            text(9, pmCode);
            text(10, crCode);
            text(11, dpCode);
            text(12, remark);
            text(13, user);
            text(14, voucherId);
            int voucherClass = sqlite3_column_int(st, 15);
            double voucherNo = sqlite3_column_double(st, 16);
            text(17, glideFlag);
            std::int64_t line = sqlite3_column_int64(st, 18);
            benchmark::DoNotOptimize(id + number + deb + cre + voucherClass + line);
            benchmark::DoNotOptimize(voucherNo);
            benchmark::DoNotOptimize(date.data());
            ++rows;
        }
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.counters["rows"] = static_cast<double>(rows);
}

void rebuild_grid(benchmark::State& state) {
    TFrmCashGlide& w = *world->window;
    for (auto _ : state) w.RebuildGrid();
    state.counters["grid_rows"] = w.Cell->GetRows();
}

// The manager's load alone (balances and summary rows, no grid), to tell the
// two halves of rebuild_grid apart when profiling.
void load_only(benchmark::State& state) {
    TCaGlideMng& m = *world->window->CaGlideMng();
    for (auto _ : state) m.Load();
    state.counters["rows"] = m.GetCount();
}

}  // namespace

BENCHMARK(raw_select)->Unit(benchmark::kMillisecond);
BENCHMARK(load_only)->Unit(benchmark::kMillisecond);
BENCHMARK(rebuild_grid)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    World w;
    world = &w;
    // LEDGER_BENCH_DB names a database file to keep between runs (for profiling
    // runs that should not pay for the data again); made when missing.
    std::string path = qEnvironmentVariable("LEDGER_BENCH_DB").toStdString();
    if (path.empty()) path = w.dir.filePath("book.db").toStdString();
    if (!QFileInfo::exists(QString::fromStdString(path))) createBook(path);
    w.session = std::make_unique<HostSession>(path, "001", "u1");
    const double beforeWindow = statusMb("VmRSS");
    // The memory figure: the window built and filled once, before any other run.
    w.window = std::make_unique<TFrmCashGlide>(nullptr, 1, 3);
    setQuery(*w.window);
    w.window->RebuildGrid();
    w.rssAfterRebuildMb = statusMb("VmRSS");
    w.peakAfterRebuildMb = statusMb("VmHWM");
    benchmark::AddCustomContext("rss_mb", std::to_string(w.rssAfterRebuildMb));
    benchmark::AddCustomContext("rss_before_window_mb", std::to_string(beforeWindow));
    benchmark::AddCustomContext("peak_rss_mb", std::to_string(w.peakAfterRebuildMb));
    benchmark::AddCustomContext("journal_rows", std::to_string(kRows));

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    w.window.reset();
    w.session.reset();
    return 0;
}
