// chuna-admin create: an empty store for a real office (a new SQLite file or
// a server database without tables), whole or not at all: its first
// administrator and, when named, its first book set.
#include <iostream>

#include "AdminCommands.h"
#include "BookSets.h"
#include "Copy.h"
#include "Store.h"
#include "TerminalSignIn.h"

using namespace ledgerhost;

namespace {

int usage() {
    std::cerr << "用法：chuna-admin create --db 数据库 [--password-file 管理员密码文件] "
                 "[--book 账套编码 --name 账套名称 --year 年度 [--start-month 月]] "
                 "[--admin 管理员编码] [--admin-name 管理员名称]\n"
                 "  在一个新的 SQLite 文件或空的服务器数据库中建立账套数据库；"
                 "管理员默认为 admin 系统管理员，其密码从 --password-file（只让自己读取）读，"
                 "不给时在终端输入两次\n";
    return 2;
}

}  // namespace

int admin::create(const Args& args) {
    std::vector<std::string> v;
    if (!parseOptions("create", args,
                      {"--db", "--book", "--name", "--year", "--start-month", "--admin",
                       "--admin-name", "--password-file"},
                      v))
        return usage();
    const std::string db = v[0];
    if (db.empty()) return usage();
    BookSetInfo book;
    book.Code = v[1];
    book.Name = v[2];
    const std::string adminCode = v[5].empty() ? "admin" : v[5];
    const std::string adminName = v[6].empty() ? "系统管理员" : v[6];
    try {
        auto whole = [](const std::string& text, const char* what) {
            if (text.empty() || text.size() > 4 ||
                text.find_first_not_of("0123456789") != std::string::npos)
                throw StoreError(std::string(what) + "“" + text + "”不对，应为整数。");
            return std::stoi(text);
        };
        if (!book.Code.empty()) {
            book.Year = whole(v[3], "会计年度");
            book.StartMonth = v[4].empty() ? 1 : whole(v[4], "启用月份");
        }
        // The store has no users yet: the first administrator's password is
        // chosen here, from the file or typed twice.
        std::string password;
        if (!v[7].empty()) {
            password = cli::readPasswordFile(v[7]);
        } else {
            password = cli::readTerminalPassword("系统管理员 " + adminCode + " 的密码：");
            if (cli::readTerminalPassword("再输一次密码：") != password)
                throw StoreError("两次输入的密码不一致，没有建立账套数据库。");
        }
        const std::string shown = Database::displayLocation(db);
        if (!createDatabaseFile(
                db, [&](Database& d) { fillNewStore(d, adminCode, adminName, password, book); }))
            throw StoreError(Database::isServerLocation(db)
                                 ? "数据库 " + shown +
                                       " 不是空的（已有数据表），没有建立账套数据库。"
                                 : "文件 " + db + " 已经存在，没有建立账套数据库。");
        std::cout << "已在 " << shown << " 建立账套数据库，系统管理员 " << adminCode << " "
                  << adminName;
        if (!book.Code.empty())
            std::cout << "，账套 " << book.Code << " " << book.Name << "（" << book.Year
                      << " 年度，自 " << book.StartMonth << " 月启用）";
        std::cout << "。" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin: " << withoutPassword(e.what(), db) << "\n";
        return 1;
    }
}
