// chuna-admin create-demo: makes the demo book sets in an empty database (on
// a server, or a new SQLite file as `chuna` makes it on first start) and
// writes the demo's sample statements where `chuna` writes them.
#include <QDate>
#include <QDir>
#include <QStandardPaths>
#include <iostream>

#include "AdminCommands.h"
#include "Copy.h"
#include "DemoData.h"
#include "Store.h"

using namespace ledgerhost;

namespace {

int usage() {
    std::cerr << "用法：chuna-admin create-demo --db 数据库\n"
                 "  在一个空的数据库（postgresql://…、service=名称，或一个新的 SQLite 文件）"
                 "中建立演示账套\n";
    return 2;
}

}  // namespace

int admin::createDemo(const Args& args) {
    std::vector<std::string> v;
    if (!parseOptions("create-demo", args, {"--db"}, v)) return usage();
    const std::string db = v[0];
    if (db.empty()) return usage();
    const std::string shown = Database::displayLocation(db);
    const QDate today = QDate::currentDate();
    try {
        // Made whole or not at all: a new file, or a server database
        // without tables.
        if (!demo::createDemoDatabase(db, today))
            throw StoreError(Database::isServerLocation(db)
                                 ? "数据库 " + shown + " 不是空的（已有数据表），没有建立演示账套。"
                                 : "文件 " + db + " 已经存在，没有建立演示账套。");
        std::cout << "已在 " << shown << " 建立演示账套。" << std::endl;
        // The sample statements go to the user's documents, as `chuna`
        // writes them on first start.
        QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (docs.isEmpty()) docs = QDir::homePath();
        const QString folder = docs + QStringLiteral("/出纳示例对账单");
        try {
            for (const auto& f : demo::writeDemoStatements(folder.toStdString(), today))
                std::cout << "示例对账单 " << f << std::endl;
        } catch (const std::exception& e) {
            std::cerr << "chuna-admin: 演示账套已建立，但示例对账单没有写入：" << e.what() << "\n";
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin: " << withoutPassword(e.what(), db) << "\n";
        return 1;
    }
}
