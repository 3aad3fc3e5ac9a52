// chuna-funds: the daily funds report (资金日报表) without a window.
//   chuna-funds --db PATH --book CODE --user CODE [--password-file F]
//               [--date DATE | --from DATE --to DATE] [--csv]
// The user signs in first (TerminalSignIn.h).
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
#include "TerminalSignIn.h"

using namespace ledgerhost;

namespace {

// The usage, on standard output with status 0 when asked for (--help), else
// on standard error with status 2.
int usage(bool asked = false) {
    (asked ? std::cout : std::cerr)
        << "用法：chuna-funds --db 数据库 --book 账套编码 --user 用户编码 "
           "[--password-file 密码文件] [--date 日期 | --from 日期 --to 日期] [--csv]\n"
           "  --password-file  从文件（只让自己读取）读密码；不给时从终端输入\n"
           "  --date   报表日期（YYYY-MM-DD，默认今天）\n"
           "  --from   日期范围的开始日期，与 --to 一起使用\n"
           "  --to     日期范围的结束日期\n"
           "  --csv    以 CSV 格式输出\n";
    return asked ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    cli::CommandLine line(
        "chuna-funds", cli::bookSetOptions(
                           {{"--date", true}, {"--from", true}, {"--to", true}, {"--csv", false}}));
    const bool parsed = line.parse(cli::arguments(argc, argv));
    // A server password given in --db leaves the process list once read.
    ledgerhost::hidePasswordsInArguments(argc, argv);
    if (parsed && (line.given("--help") || line.given("-h"))) return usage(true);
    if (!parsed) return usage();
    const std::string db = line.value("--db"), book = line.value("--book"),
                      user = line.value("--user");
    if (db.empty() || book.empty() || user.empty()) return usage();
    if (line.given("--date") && (line.given("--from") || line.given("--to"))) {
        std::cerr << "chuna-funds: --date 与 --from/--to 只能用一种。\n";
        return 2;
    }
    if (line.given("--from") != line.given("--to")) {
        std::cerr << "chuna-funds: --from 和 --to 要一起给出。\n";
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
        const auto session = cli::signedInSession(line, "chuna-funds");
        if (!session) return 2;
        if (!session->bookSet().InitConfirmed)
            throw std::runtime_error("没有初始化确认，不能查看资金日报表！");
        const funds::Report r = funds::dailyFunds(session->dbManage().Db(), book, from, to);
        std::cout << (line.given("--csv") ? funds::reportCsv(r) : funds::reportText(r));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-funds: " << withoutPassword(e.what(), db) << "\n";
        return 2;
    }
}
