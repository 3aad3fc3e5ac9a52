// Statement imports against the raw store work they stand for: reading,
// parsing and saving a 100,000-line ICBC statement (and a 20,000-row CCB
// workbook) next to inserting the same rows with one prepared statement in one
// transaction.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <string>

#include "Codec.h"
#include "Glide.h"
#include "Session.h"
#include "Store.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

constexpr int kIcbcLines = 100000;
constexpr int kCcbRows = 20000;

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<HostSession> session;
    std::string icbcFile, ccbFile;

    Fixture() {
        std::string db = dir.filePath("bench.db").toStdString();
        {
            Database d(db, Database::OpenMode::Create);
            d.exec(R"(
INSERT INTO book_sets VALUES ('001', 'A001', 2024, '总公司', 0, 1, 0, '');
INSERT INTO users VALUES ('u1', '张三');
INSERT INTO user_book_sets VALUES ('u1', '001', 1);
INSERT INTO bank_accounts VALUES ('001', '1001', '6222001', '工行基本户', 1, '1', 0, '100201'),
                                 ('001', '1002', '4367001', '建行一般户', 1, '1', 0, '100202');
)");
        }
        session = std::make_unique<HostSession>(db, "001", "u1");

        // The ICBC statement: account line, four header lines, the transactions.
        std::string text = "账号:6222001\r\n户名:总公司\r\n币种:人民币\r\n起止日期\r\n表头\r\n";
        for (int i = 0; i < kIcbcLines; ++i) {
            int day = 1 + i % 28, month = 1 + (i / 28) % 12;
            char line[200];
            std::snprintf(line, sizeof line,
                          "%d^2024-%02d-%02d^10:00^x^对方%d^转账^人民币^%d-货款%d^%s^%s\r\n", i,
                          month, day, i % 100, 300000 + i, i % 50, i % 2 ? "1,234.56" : "",
                          i % 2 ? "" : "987.65");
            text += line;
        }
        icbcFile = dir.filePath("icbc.txt").toStdString();
        std::ofstream(icbcFile, std::ios::binary) << utf8ToGbk(text);

        // The CCB workbook (BIFF8, written by python3-xlwt).
        ccbFile = dir.filePath("ccb.xls").toStdString();
        const char* script =
            "import sys, xlwt\n"
            "wb = xlwt.Workbook(encoding='utf-8'); ws = wb.add_sheet('S')\n"
            "for r in range(int(sys.argv[2])):\n"
            "    row = ['2024/%02d/%02d' % (1 + r // 28 % 12, 1 + r % 28), 't', 'k', str(r), "
            "'1,000.00' if r % 2 else '0',\n"
            "           '0' if r % 2 else '25.50', 'b', 'c', 'd', '%d-摘要%d' % (r, r % 9), 'e', "
            "'4367001', '建行一般户']\n"
            "    for c, v in enumerate(row): ws.write(9 + r, c, v)\n"
            "wb.save(sys.argv[1])\n";
        if (QProcess::execute("/usr/bin/python3", {"-c", script, QString::fromStdString(ccbFile),
                                                   QString::number(kCcbRows)}) != 0)
            ccbFile.clear();
    }

    void clearRows() { session->dbManage().Db().exec("DELETE FROM CaCollateGlide"); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// The raw work: the same number of rows through one prepared insert in one transaction.
void rawInsert(benchmark::State& state, int rows) {
    Fixture& f = fixture();
    Database& db = f.session->dbManage().Db();
    for (auto _ : state) {
        Transaction t(db);
        Stmt s = db.prepare(
            "INSERT INTO CaCollateGlide (set_code, as_code, create_date, date_or_no, summary, "
            "deb_cents, "
            "cre_cents, pay_code, pm_code, cr_code, dp_code, remark, apply_user, voucher_id, "
            "voucher_class, "
            "voucher_no, glide_flag) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        for (int i = 0; i < rows; ++i) {
            char date[16];
            std::snprintf(date, sizeof date, "2024-%02d-%02d", 1 + (i / 28) % 12, 1 + i % 28);
            s.reset();
            s.bind(1, "001").bind(2, "1001").bind(3, date).bind(4, i + 1).bind(5, "货款");
            s.bind(6, i % 2 ? 0 : 98765)
                .bind(7, i % 2 ? 123456 : 0)
                .bind(8, std::to_string(300000 + i));
            s.bind(9, "").bind(10, "").bind(11, "").bind(12, "").bind(13, "u1").bind(14, "0").bind(
                15, 0);
            s.bind(16, 0.0).bind(17, "1");
            s.run();
        }
        t.commit();
        state.PauseTiming();
        f.clearRows();
        state.ResumeTiming();
    }
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
    for (auto _ : state) {
        TICBCGlideImport importer(f.icbcFile);
        importer.GlideMng = &mng;
        importer.Import();
        state.PauseTiming();
        if (!importer.Imported) state.SkipWithError("import failed");
        f.clearRows();
        state.ResumeTiming();
    }
    state.counters["rows"] = kIcbcLines;
}

void ccb_import(benchmark::State& state) {
    Fixture& f = fixture();
    if (f.ccbFile.empty()) {
        state.SkipWithError("python3-xlwt is needed to write the workbook");
        return;
    }
    TCaGlideMng mng(kStatementTable);
    for (auto _ : state) {
        TCCBGlideImport importer(f.ccbFile);
        importer.GlideMng = &mng;
        importer.Import();
        state.PauseTiming();
        f.clearRows();
        state.ResumeTiming();
    }
    state.counters["rows"] = kCcbRows;
}

}  // namespace

BENCHMARK(raw_insert_icbc)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(icbc_import)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(raw_insert_ccb)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ccb_import)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
