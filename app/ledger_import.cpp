// ledger-import: runs a bank-statement import on a book-set database without a
// window, with the same checks and messages as the journal window's import menu.
//   ledger-import icbc FILE --db PATH --book CODE --user CODE [--again]
//   ledger-import ccb  FILE --db PATH --book CODE --user CODE [--again]
// A file whose content the book set's import log already holds is refused
// unless --again is given.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <iostream>

#include "Glide.h"
#include "Seams.h"
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
    QStringList args = app.arguments();
    // A server password given in --db leaves the process list once read.
    ledgerhost::hidePasswordsInArguments(argc, argv);
    args.removeFirst();
    QString kind, file, db, book, user;
    bool again = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        if (a == "--db") {
            if (!value(db)) return usage();
        } else if (a == "--book") {
            if (!value(book)) return usage();
        } else if (a == "--user") {
            if (!value(user)) return usage();
        } else if (a == "--again") {
            again = true;
        } else if (a == "-h" || a == "--help") {
            return usage();
        } else if (kind.isEmpty()) {
            kind = a;
        } else if (file.isEmpty()) {
            file = a;
        } else {
            return usage();
        }
    }
    if ((kind != "icbc" && kind != "ccb") || file.isEmpty() || db.isEmpty() || book.isEmpty() ||
        user.isEmpty())
        return usage();

    std::unique_ptr<HostSession> session;
    try {
        session =
            std::make_unique<HostSession>(db.toStdString(), book.toStdString(), user.toStdString());
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
    seams::messageHook() = [](QWidget*, const seams::Message& m) {
        std::cout << m.text << std::endl;
        return IDOK;
    };
    seams::processHook() = [] {};
    TCaGlideMng mng(kStatementTable);
    // No one to ask: a content already imported is refused unless --again.
    const StatementImportResult result =
        importStatement(kind == "icbc" ? StatementKind::ICBC : StatementKind::CCB,
                        file.toStdString(), &mng, {}, again);
    if (!result.message.empty()) std::cout << result.message << std::endl;
    return result.stored ? 0 : 1;
}
