// chuna-reconcile: bank reconciliation of one bank account without a window.
//   chuna-reconcile --db PATH --book CODE --user CODE [--password-file F]
//                    --account NUMBER [--until DATE] [--auto] [--days N] [--csv]
// The user signs in first (TerminalSignIn.h).
// With --auto it first matches the unreconciled rows of the year up to the
// date, then prints the balance reconciliation statement as at the date
// (default today) as text or CSV. Exit status: 0 when the statement agrees
// (the bank's opening entered, the two adjusted balances equal, and the stored
// statement equal to the bank's own figures where there are any), 1 when it
// does not, 2 on any error (a date before the book set's year, a locked book
// set with --auto, ...).
#include <QCoreApplication>
#include <QDate>
#include <QString>
#include <iostream>

#include "CommandLine.h"
#include "Reconcile.h"
#include "Session.h"
#include "Store.h"
#include "TerminalSignIn.h"

using namespace ledgerhost;

namespace {

// The usage, on standard output with status 0 when asked for (--help), else
// on standard error with status 2.
int usage(bool asked = false) {
    (asked ? std::cout : std::cerr)
        << "用法：chuna-reconcile --db 数据库 --book 账套编码 --user 用户编码 "
           "[--password-file 密码文件] --account 银行账号 [--until 日期] [--auto] "
           "[--days 天数] [--csv]\n"
           "  --password-file  从文件（只让自己读取）读密码；不给时从终端输入\n"
           "  --until  调节表的截止日期（YYYY-MM-DD，默认今天）\n"
           "  --auto   先自动对账（本年初至截止日期）\n"
           "  --days   自动对账时日期最多相差的天数（默认 7）\n"
           "  --csv    以 CSV 格式输出\n";
    return asked ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    cli::CommandLine line("chuna-reconcile", cli::bookSetOptions({{"--account", true},
                                                                  {"--until", true},
                                                                  {"--days", true},
                                                                  {"--auto", false},
                                                                  {"--csv", false}}));
    const bool parsed = line.parse(cli::arguments(argc, argv));
    // A server password given in --db leaves the process list once read.
    ledgerhost::hidePasswordsInArguments(argc, argv);
    if (parsed && (line.given("--help") || line.given("-h"))) return usage(true);
    if (!parsed) return usage();
    const std::string db = line.value("--db"), book = line.value("--book"),
                      user = line.value("--user"), account = line.value("--account"),
                      until = line.value("--until");
    const bool autoMatch = line.given("--auto"), csv = line.given("--csv");
    int days = 7;
    if (line.given("--days")) {
        const QString daysText = QString::fromStdString(line.value("--days"));
        bool ok = false;
        days = daysText.toInt(&ok);
        if (!ok || days < 0) {
            std::cerr << "chuna-reconcile: 天数“" << daysText.toStdString()
                      << "”不对，应为不小于 0 的整数。\n";
            return 2;
        }
    }
    if (db.empty() || book.empty() || user.empty() || account.empty()) return usage();
    cli::printWaits();
    try {
        const auto session = cli::signedInSession(line, "chuna-reconcile");
        if (!session) return 2;
        if (!session->bookSet().InitConfirmed)
            throw std::runtime_error("没有初始化确认，不能进行银行对账！");
        Database& store = session->dbManage().Db();
        const std::string date =
            until.empty() ? QDate::currentDate().toString("yyyy-MM-dd").toStdString() : until;
        reconcile::dayNumber(date);
        reconcile::Reconciler rec(store, reconcile::Reconciler::findAccount(store, book, account),
                                  user);
        if (autoMatch) {
            const std::string yearStart = std::to_string(session->bookSet().Year) + "-01-01";
            const reconcile::AutoResult r = rec.autoMatch(yearStart, date, days);
            std::cerr << r.message() << "\n";
        }
        const reconcile::Report report = rec.report(date);
        std::cout << (csv ? reconcile::reportCsv(report) : reconcile::reportText(report));
        return report.agrees() ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "chuna-reconcile: " << withoutPassword(e.what(), db) << "\n";
        return 2;
    }
}
