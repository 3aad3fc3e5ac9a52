// ledger-funds: the daily funds report (资金日报表) without a window.
//   ledger-funds --db PATH --book CODE --user CODE [--date DATE | --from DATE --to DATE] [--csv]
// Prints, for the book set, one line per cash and bank account with the
// balance before the range, the range's receipts and payments, the balance at
// its end, the number of rows and, beside a bank account with a statement,
// the statement's balance and the difference; subtotals and the total. The
// same figures as the window "资金日报表". Exit status 0, 2 on any error.
#include <QCoreApplication>
#include <QDate>
#include <iostream>

#include "CommandLine.h"
#include "Funds.h"
#include "Session.h"
#include "Store.h"

using namespace ledgerhost;

namespace {

int usage() {
    std::cerr << "用法：ledger-funds --db 数据库 --book 账套编码 --user 用户编码 "
                 "[--date 日期 | --from 日期 --to 日期] [--csv]\n"
                 "  --date   报表日期（YYYY-MM-DD，默认今天）\n"
                 "  --from   日期范围的开始日期，与 --to 一起使用\n"
                 "  --to     日期范围的结束日期\n"
                 "  --csv    以 CSV 格式输出\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    cli::CommandLine line("ledger-funds", {{"--db", true},
                                           {"--book", true},
                                           {"--user", true},
                                           {"--date", true},
                                           {"--from", true},
                                           {"--to", true},
                                           {"--csv", false}});
    const bool parsed = line.parse(cli::arguments(argc, argv));
    // A server password given in --db leaves the process list once read.
    ledgerhost::hidePasswordsInArguments(argc, argv);
    if (!parsed) return usage();
    const std::string db = line.value("--db"), book = line.value("--book"),
                      user = line.value("--user");
    if (db.empty() || book.empty() || user.empty()) return usage();
    if (line.given("--date") && (line.given("--from") || line.given("--to"))) {
        std::cerr << "ledger-funds: --date 与 --from/--to 只能用一种。\n";
        return 2;
    }
    if (line.given("--from") != line.given("--to")) {
        std::cerr << "ledger-funds: --from 和 --to 要一起给出。\n";
        return 2;
    }
    std::string from = line.value("--from"), to = line.value("--to");
    if (!line.given("--from")) {
        from = to = line.given("--date")
                        ? line.value("--date")
                        : QDate::currentDate().toString("yyyy-MM-dd").toStdString();
    }
    cli::printWaits();
    try {
        HostSession session(db, book, user);
        if (!session.bookSet().InitConfirmed)
            throw std::runtime_error("没有初始化确认，不能查看资金日报表！");
        const funds::Report r = funds::dailyFunds(session.dbManage().Db(), book, from, to);
        std::cout << (line.given("--csv") ? funds::reportCsv(r) : funds::reportText(r));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "ledger-funds: " << e.what() << "\n";
        return 2;
    }
}
