// ledger-import: runs a bank-statement import on a book-set database without a
// window, with the same checks and messages as the journal window's import menu.
//   ledger-import icbc FILE --db PATH --book CODE --user CODE [--again]
//   ledger-import ccb  FILE --db PATH --book CODE --user CODE [--again]
// A file whose content the book set's import log already holds is refused
// unless --again is given. Breaks in the bank's balances of a stored file are
// printed as warning lines on standard error.
#include <QCoreApplication>
#include <cstdio>
#include <iostream>

#include "CommandLine.h"
#include "Glide.h"
#include "Session.h"
#include "Store.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

int usage() {
    std::cerr << "用法：ledger-import icbc|ccb 文件 --db 数据库 --book 账套编码 --user 用户编码 "
                 "[--again]\n"
                 "  --again  文件的内容已经导入过时仍然再次导入\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    cli::CommandLine line("ledger-import",
                          {{"--db", true},
                           {"--book", true},
                           {"--user", true},
                           {"--again", false},
                           {"--help", false},
                           {"-h", false}},
                          2);
    const bool parsed = line.parse(cli::arguments(argc, argv));
    // A server password given in --db leaves the process list once read.
    ledgerhost::hidePasswordsInArguments(argc, argv);
    if (!parsed || line.given("--help") || line.given("-h")) return usage();
    const std::vector<std::string>& words = line.positional();
    const std::string kind = words.empty() ? std::string() : words[0];
    const std::string file = words.size() < 2 ? std::string() : words[1];
    const std::string db = line.value("--db"), book = line.value("--book"),
                      user = line.value("--user");
    const bool again = line.given("--again");
    if ((kind != "icbc" && kind != "ccb") || file.empty() || db.empty() || book.empty() ||
        user.empty())
        return usage();

    cli::printWaits();
    std::unique_ptr<HostSession> session;
    try {
        session = std::make_unique<HostSession>(db, book, user);
    } catch (const std::exception& e) {
        std::cerr << "ledger-import: " << e.what() << "\n";
        return 1;
    }
    if (!session->bookSet().InitConfirmed) {
        std::cerr << "ledger-import: 没有初始化确认，不能进行对账单录入！\n";
        return 1;
    }
    if (session->bookSet().EntryLocked) {
        std::cerr << "ledger-import: 账套已锁定，不能导入。\n";
        return 1;
    }
    TCaGlideMng mng(kStatementTable);
    // No one to ask: a content already imported is refused unless --again.
    const StatementImportResult result = importStatement(
        kind == "icbc" ? StatementKind::ICBC : StatementKind::CCB, file, &mng, {}, again);
    if (!result.message.empty()) std::cout << result.message << std::endl;
    // The file is stored, but its balances and the bank's part somewhere.
    for (const std::string& w : result.balanceWarnings) {
        const std::string head = "注意：";
        std::cerr << "ledger-import: 警告：" << (w.rfind(head, 0) == 0 ? w.substr(head.size()) : w)
                  << "\n";
    }
    return result.stored ? 0 : 1;
}
