// The daily funds report of one day against its baseline: a book set with 20
// accounts (2 cash, 18 bank) and 200,000 journal rows in 2024. The baseline is
// the raw work the report cannot do without: one select of that day's rows of
// the book set (every column, each row stepped, through the date index: left
// to itself, SQLite walks the book set's rows by account instead) plus one
// indexed lookup of the kept balance per account, on a connection of its own. Each repetition runs
// both, in alternating order, and times each by the process's CPU time; the
// ratio printed is the median of the repetitions' own ratios, with the median
// times of both sides.
//
//   bench_funds [repetitions] [day] [book file: made when missing, kept]

#include <sqlite3.h>
#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "DayTotals.h"
#include "Funds.h"
#include "Store.h"

using namespace ledgerhost;

namespace {

constexpr int kAccounts = 20;
constexpr int kRows = 200000;
// Runs of each side per timing, so that one timing is well above the clock's grain.
constexpr int kRuns = 20;

std::string accountCode(int i) {
    return std::to_string(1001 + i);
}

void createBook(const std::string& path) {
    Database db(path, Database::OpenMode::Create);
    db.exec(
        "INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, "
        "manage_flag, manage_set_code) VALUES ('001', '001', 2024, '总公司', 0, 1, 0, '');"
        "INSERT INTO users (code, name, is_admin) VALUES ('u1', '张三', 1);"
        "INSERT INTO user_book_sets VALUES ('u1', '001', 1)");
    Transaction t(db);
    Stmt acc = db.prepare(
        "INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, "
        "opening_cents, subject_code) VALUES ('001', ?, ?, ?, ?, '1', ?, '1002')");
    for (int i = 0; i < kAccounts; ++i) {
        acc.reset();
        acc.bind(1, accountCode(i)).bind(2, "62220" + accountCode(i));
        acc.bind(3, (i < 2 ? "现金" : "银行") + std::to_string(i));
        acc.bind(4, i < 2 ? 2 : 1).bind(5, static_cast<std::int64_t>(1000000 + i * 1000));
        acc.run();
    }
    Stmt s = db.prepare(
        "INSERT INTO CaGlide (set_code, as_code, create_date, date_or_no, summary, deb_cents, "
        "cre_cents, pay_code, apply_user) VALUES ('001', ?, ?, ?, ?, ?, ?, ?, 'u1')");
    const QDate first(2024, 1, 1);
    std::uint32_t seed = 4321;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < kRows; ++i) {
        const int a = static_cast<int>(next() % kAccounts);
        const QDate d = first.addDays(static_cast<qint64>(i) * 366 / kRows);
        const bool debit = next() % 2 == 0;
        const std::int64_t cents = 100 + next() % 500000;
        s.reset();
        s.bind(1, accountCode(a)).bind(2, d.toString("yyyy-MM-dd").toStdString());
        s.bind(3, i + 1).bind(4, debit ? "收货款" : "付材料款");
        s.bind(5, debit ? cents : 0).bind(6, debit ? 0 : cents);
        s.bind(7, i % 3 == 0 ? std::to_string(100000 + i) : std::string());
        s.run();
    }
    // Written with plain inserts: the kept day totals are made from the rows.
    rebuildDayTotals(db);
    t.commit();
}

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The baseline: every column of the day's rows of each account, stepped,
// and one lookup of the kept balance before the day per account.
class RawDay {
  public:
    explicit RawDay(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_prepare_v2(db_,
                           "SELECT id, set_code, as_code, create_date, date_or_no, summary, "
                           "deb_cents, cre_cents, pay_code, pm_code, cr_code, dp_code, remark, "
                           "apply_user, voucher_id, voucher_class, voucher_no, glide_flag "
                           "FROM CaGlide INDEXED BY CaGlide_date WHERE set_code = '001' AND "
                           "create_date = ? "
                           "ORDER BY create_date, date_or_no",
                           -1, &rows_, nullptr);
        sqlite3_prepare_v2(db_,
                           "SELECT deb_cents, cre_cents, row_count FROM journal_days WHERE "
                           "journal = 'CaGlide' AND set_code = '001' AND as_code = ? AND day < ? "
                           "ORDER BY day DESC LIMIT 1",
                           -1, &balance_, nullptr);
    }
    ~RawDay() {
        sqlite3_finalize(rows_);
        sqlite3_finalize(balance_);
        sqlite3_close(db_);
    }
    std::int64_t run(const std::string& day) {
        std::int64_t sum = 0;
        for (int a = 0; a < kAccounts; ++a) {
            const std::string code = accountCode(a);
            sqlite3_bind_text(balance_, 1, code.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(balance_, 2, day.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(balance_) == SQLITE_ROW) sum += sqlite3_column_int64(balance_, 0);
            sqlite3_reset(balance_);
        }
        std::string text;
        sqlite3_bind_text(rows_, 1, day.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(rows_) == SQLITE_ROW) {
            for (int c = 0; c < 18; ++c) {
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(rows_, c));
                text.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(rows_, c)));
            }
            sum += sqlite3_column_int64(rows_, 6) + static_cast<std::int64_t>(text.size());
        }
        sqlite3_reset(rows_);
        return sum;
    }

  private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* rows_ = nullptr;
    sqlite3_stmt* balance_ = nullptr;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::string day = argc > 2 ? argv[2] : "2024-07-15";
    QTemporaryDir dir;
    const std::string path = argc > 3 ? argv[3] : dir.filePath("funds.db").toStdString();
    if (!QFile::exists(QString::fromStdString(path))) createBook(path);
    Database db(path);
    RawDay raw(path);
    std::int64_t sink = 0;
    std::size_t lines = 0;
    auto report = [&] {
        const funds::Report r = funds::dailyFunds(db, "001", day, day);
        lines = r.cash.size() + r.bank.size();
        sink += r.total.closing + r.total.rows;
    };
    auto baseline = [&] { sink += raw.run(day); };
    report();  // warm both sides' caches
    baseline();
    std::vector<double> reportMs, rawMs, ratios;
    for (int rep = 0; rep < repetitions; ++rep) {
        double times[2] = {0, 0};
        for (int k = 0; k < 2; ++k) {
            const int side = (rep + k) % 2;  // alternate which side runs first
            const double start = cpuMs();
            for (int i = 0; i < kRuns; ++i) side == 0 ? report() : baseline();
            times[side] = (cpuMs() - start) / kRuns;
        }
        reportMs.push_back(times[0]);
        rawMs.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
    }
    const double ratio = median(ratios);
    std::printf("funds report of %s: %d accounts (%zu lines), %d journal rows in the year\n",
                day.c_str(), kAccounts, lines, kRows);
    std::printf("%-44s%10s\n", "", "cpu ms");
    std::printf("%-44s%10.3f\n", "report (dailyFunds)", median(reportMs));
    std::printf("%-44s%10.3f\n", "baseline (day's rows + a lookup per account)", median(rawMs));
    std::printf("median of %d paired ratios report / baseline: %.2f   target under 1.5x: %s\n",
                repetitions, ratio, ratio < 1.5 ? "ok" : "OVER");
    return sink == 42 ? 1 : 0;
}
