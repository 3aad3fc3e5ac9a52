// chuna-admin copy: copies a whole SQLite book-set database into an empty
// database (on a server, or a new SQLite file) in one transaction, then prints
// both sides' figures table by table (host/store/Copy.h does the work).
#include <iostream>

#include "AdminCommands.h"
#include "Copy.h"
#include "Store.h"

using namespace ledgerhost;

namespace {

int usage() {
    std::cerr << "用法：chuna-admin copy --from 数据库文件 --to 目标数据库 --user 管理员编码 "
                 "[--password-file 密码文件]\n"
                 "  把 SQLite 账套数据库整个复制到一个空的数据库（postgresql://…、service=名称，"
                 "或一个新的 SQLite 文件），并核对每张表的行数和金额合计；"
                 "在来源数据库上以系统管理员登录\n";
    return 2;
}

}  // namespace

int admin::copy(const Args& args) {
    const auto line = signingOptions("copy", args, {"--from", "--to"});
    if (!line) return usage();
    const std::string from = line->value("--from"), to = line->value("--to");
    if (from.empty() || to.empty()) return usage();
    // The target is empty: whoever may take the source's books signs in there.
    // A source on a server is refused by the copy itself, without connecting.
    if (!Database::isServerLocation(from) && !signedInAdministrator("copy", from, *line)) return 1;
    const std::string shown = Database::displayLocation(to);
    try {
        const std::vector<CopiedTable> tables = copyDatabase(from, to);
        std::int64_t total = 0;
        bool same = true;
        for (const CopiedTable& t : tables) {
            total += t.source.rows;
            if (t.source == t.target) {
                std::cout << t.name << "：" << describeFigures(t.source) << "\n";
            } else {
                same = false;
                std::cout << t.name << "：来源 " << describeFigures(t.source) << "；目标 "
                          << describeFigures(t.target) << "（不符）\n";
            }
        }
        if (!same) {
            std::cerr << "chuna-admin: 复制到 " << shown << " 后核对不符。\n";
            return 1;
        }
        std::cout << "已复制 " << tables.size() << " 张数据表、" << total << " 行到 " << shown
                  << "，行数和金额合计与来源一致。" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin: " << e.what() << "\n";
        return 1;
    }
}
