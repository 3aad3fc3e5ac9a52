// ledger-admin: the administrative commands over a book-set database, one
// subcommand each (AdminCommands.h); the table below lists them.
#include <QCoreApplication>
#include <cstring>
#include <iostream>

#include "AdminCommands.h"
#include "CommandLine.h"
#include "Store.h"

namespace admin {

bool parseOptions(const char* command, const Args& args, const std::vector<const char*>& names,
                  std::vector<std::string>& values) {
    std::vector<cli::Option> options;
    for (const char* name : names) options.push_back({name, true});
    cli::CommandLine line(std::string("ledger-admin ") + command, options);
    if (!line.parse(args)) return false;
    values.clear();
    for (const char* name : names) values.push_back(line.value(name));
    return true;
}

}  // namespace admin

namespace {

const admin::Command kCommands[] = {
    {"backup", "--db 账套数据库 --to 备份文件",
     "在数据库使用中做一份一致的备份并校验（不覆盖已有文件）", admin::backup},
    {"restore", "--from 备份文件 --db 账套数据库",
     "校验备份后恢复为账套数据库；原数据库保留为带日期的文件", admin::restore},
    {"copy", "--from 账套数据库文件 --to 目标数据库",
     "把 SQLite 账套数据库整个复制到空的数据库服务器数据库，并核对行数与金额合计", admin::copy},
    {"create-demo", "--db 数据库", "在新文件或空的服务器数据库中建立演示账套", admin::createDemo},
    {"grant", "--db 服务器上的账套 --role 角色 --as cashier|reader|admin",
     "授予数据库角色出纳（cashier）、查询（reader）或管理（admin）所需的全部权限", admin::grant},
    {"upgrade", "--db 账套数据库", "把旧版本的账套数据库升级到本程序的版本（由所有者运行）",
     admin::upgrade},
};

void usage(std::ostream& out) {
    out << "用法：ledger-admin 命令 [参数]\n\n命令：\n";
    for (const auto& c : kCommands)
        out << "  " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    // The documents folder (create-demo's sample statements) and the
    // settings are the ledger program's own.
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("ledger"));
    QCoreApplication::setApplicationName(QStringLiteral("ledger"));
    if (argc < 2) {
        usage(std::cerr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        usage(std::cout);
        return 0;
    }
    for (const auto& c : kCommands)
        if (name == c.name) {
            const admin::Args args(argv + 2, argv + argc);
            // A server password given as an argument leaves the process list once read.
            ledgerhost::hidePasswordsInArguments(argc, argv);
            cli::printWaits();
            return c.run(args);
        }
    std::cerr << "ledger-admin: 没有命令 " << name << "。\n";
    usage(std::cerr);
    return 2;
}
