// ledger-admin: administrative commands on a book-set database.
//   ledger-admin copy --from FILE.db --to URI
//   ledger-admin create-demo --db URI
// Exit status 0 done, 1 failed (nothing stored), 2 wrong arguments.
#include <QCoreApplication>
#include <cstring>
#include <iostream>

#include "AdminCommands.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("ledger"));
    QCoreApplication::setApplicationName(QStringLiteral("ledger"));
    if (argc >= 2 && std::strcmp(argv[1], "copy") == 0) return adminCopy(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "create-demo") == 0)
        return adminCreateDemo(argc - 1, argv + 1);
    std::cerr << "用法：ledger-admin copy --from 数据库文件 --to 目标数据库\n"
                 "      ledger-admin create-demo --db 数据库\n";
    return 2;
}
