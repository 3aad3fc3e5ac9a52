// chuna-admin: the administrative commands over a book-set database, one
// subcommand each (AdminCommands.h); the table below lists them.
#include <QCoreApplication>
#include <cstring>
#include <iostream>
#include <optional>

#include "AdminCommands.h"
#include "CommandLine.h"
#include "Copy.h"
#include "ProgramName.h"
#include "Store.h"
#include "TerminalSignIn.h"

namespace admin {

bool parseOptions(const char* command, const Args& args, const std::vector<const char*>& names,
                  std::vector<std::string>& values) {
    std::vector<cli::Option> options;
    for (const char* name : names) options.push_back({name, true});
    cli::CommandLine line(std::string("chuna-admin ") + command, options);
    if (!line.parse(args)) return false;
    values.clear();
    for (const char* name : names) values.push_back(line.value(name));
    return true;
}

std::optional<cli::CommandLine> signingOptions(const char* command, const Args& args,
                                               const std::vector<const char*>& names) {
    std::vector<cli::Option> options{{"--user", true}, cli::kPasswordFileOption};
    for (const char* name : names) options.push_back({name, true});
    cli::CommandLine line(std::string("chuna-admin ") + command, options);
    if (!line.parse(args)) return std::nullopt;
    return line;
}

bool signedInAdministrator(const char* command, ledgerhost::Database& db,
                           const cli::CommandLine& line, bool needsAllowed) {
    const std::string program = std::string("chuna-admin ") + command;
    const auto who = cli::signIn(db, line, program, needsAllowed);
    if (!who) return false;
    if (!who->Administrator) {
        std::cerr << program << ": 用户 " << who->UserCode << " 没有系统管理权限。\n";
        return false;
    }
    return true;
}

bool signedInAdministrator(const char* command, const std::string& location,
                           const cli::CommandLine& line) {
    try {
        ledgerhost::Database db(location);
        return signedInAdministrator(command, db, line, false);
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin " << command << ": "
                  << ledgerhost::withoutPassword(e.what(), location) << "\n";
        return false;
    }
}

int runVerbs(const char* command, const Args& args, const std::vector<Verb>& verbs) {
    const std::string program = std::string("chuna-admin ") + command;
    auto usage = [&](std::ostream& out = std::cerr) {
        out << "用法：\n";
        for (const Verb& v : verbs)
            out << "  chuna-admin " << command << (*v.name ? " " : "") << v.name
                << " --db 数据库 --user 操作员编码 [--password-file 密码文件] " << v.usage << "\n";
        return 2;
    };
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        usage(std::cout);
        return 0;
    }
    // A verb without a name is the subcommand itself, followed by options.
    const bool optionsOnly = args.empty() || args[0].rfind("-", 0) == 0;
    const Verb* verb = nullptr;
    for (const Verb& v : verbs)
        if (optionsOnly ? *v.name == '\0' : args[0] == v.name) verb = &v;
    if (!verb) {
        if (!args.empty()) std::cerr << program << ": 没有 " << args[0] << " 这一操作。\n";
        return usage();
    }
    const std::size_t first = *verb->name == '\0' ? 0 : 1;
    std::vector<cli::Option> options{{"--db", true}, {"--user", true}, cli::kPasswordFileOption};
    for (const char* o : verb->required) options.push_back({o, true});
    for (const char* o : verb->optional) options.push_back({o, true});
    const std::string named = first ? program + " " + verb->name : program;
    cli::CommandLine line(named, options);
    if (!line.parse(Args(args.begin() + static_cast<std::ptrdiff_t>(first), args.end())))
        return usage();
    std::vector<const char*> needed{"--db", "--user"};
    needed.insert(needed.end(), verb->required.begin(), verb->required.end());
    for (const char* o : needed)
        if (!line.given(o) || (line.value(o).empty() && std::strcmp(o, "--books") != 0)) {
            std::cerr << named << ": 需要 " << o << "。\n";
            return usage();
        }
    const std::string db = line.value("--db");
    try {
        ledgerhost::Database store(db);
        const auto who = cli::signIn(store, line, named);
        if (!who) return 1;
        verb->run(store, who->UserCode, line);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin: " << ledgerhost::withoutPassword(e.what(), db) << "\n";
        return 1;
    }
}

}  // namespace admin

namespace {

const admin::Command kCommands[] = {
    {"backup", "--db 账套数据库 --to 备份文件 --user 管理员编码 [--password-file 密码文件]",
     "在数据库使用中做一份一致的备份并校验（不覆盖已有文件）", admin::backup},
    {"restore", "--from 备份文件 --db 账套数据库 --user 管理员编码 [--password-file 密码文件]",
     "校验备份后恢复为账套数据库；原数据库保留为带日期的文件", admin::restore},
    {"copy", "--from 账套数据库文件 --to 目标数据库 --user 管理员编码 [--password-file 密码文件]",
     "把 SQLite 账套数据库整个复制到空的数据库服务器数据库，并核对行数与金额合计（在来源上登录）",
     admin::copy},
    {"create-demo", "--db 数据库",
     "在新文件或空的服务器数据库中建立演示账套（演示用户的密码为 demo123）", admin::createDemo},
    {"grant",
     "--db 服务器上的账套 --role 角色 --as cashier|reader|admin --user 管理员编码 "
     "[--password-file 密码文件]",
     "授予数据库角色出纳（cashier）、查询（reader）或管理（admin）所需的全部权限", admin::grant},
    {"upgrade", "--db 账套数据库 --user 管理员编码 [--password-file 密码文件]",
     "把旧版本的账套数据库升级到本程序的版本（由所有者运行）", admin::upgrade},
    {"create",
     "--db 数据库 [--password-file 管理员密码文件] [--book 账套编码 --name 账套名称 --year 年度 "
     "--start-month 月 --admin 管理员编码 --admin-name 管理员名称]",
     "在新文件或空的服务器数据库中建立空的账套数据库（一个系统管理员，可同时建立第一个账套）",
     admin::create},
    {"password",
     "--db 数据库 --user 操作员编码 [--password-file 密码文件] [--new-password-file 新密码文件]",
     "修改自己的密码（初始密码必须先修改；旧版本数据库的系统管理员在此设置第一个密码）",
     admin::password},
    {"history", "show|deleted|restore --db 数据库 --user 操作员编码 …",
     "记录的修改记录；已删除的记录，由系统管理员恢复", admin::history},
    {"book-set", "add|edit|close|reopen|delete|list --db 数据库 --user 管理员编码 …",
     "账套：编码、名称、会计年度、启用期间、管理账套；有记录的账套只能关闭", admin::bookSet},
    {"account", "add|edit|stop|resume|delete|list --db 数据库 --user 管理员编码 --book 账套 …",
     "现金和银行账户；有记录的账户只能停用", admin::account},
    {"base",
     "add|edit|delete|list --kind PAY_MODE|DEPARTMENT|CURRENTS|SUMMARY|VOUCHER_TYPE --db 数据库 "
     "--user 管理员编码 …",
     "基础资料：结算方式、部门、对方单位、常用摘要、凭证类别；被记录使用的不能删除", admin::base},
    {"user", "add|edit|grant|reset-password|list --db 数据库 --user 管理员编码 …",
     "用户：编码、名称、可用的账套、是否系统管理员；重设初始密码", admin::user},
    {"import-list",
     "--kind ACCOUNT|CURRENTS|… --file 文件 [--map 字段=文件列 …] --db 数据库 --user 管理员编码 "
     "[--book 账套]",
     "从 .xlsx、.xls 或逗号分隔的文本文件导入账户或基础资料（整个文件或什么都不导入）",
     admin::importList},
    {"opening", "show|set|item-add|item-remove --db 数据库 --user 管理员编码 --book 账套 …",
     "出纳初始化的期初数据：日记账和银行对账单的期初余额、期初未达账项", admin::opening},
    {"init", "confirm|cancel --db 数据库 --user 管理员编码 --book 账套",
     "完成初始化 / 取消初始化（没有记录时）", admin::init},
    {"carry-forward", "--db 数据库 --user 管理员编码 --book 账套",
     "结转下年：记下各账户的年末余额，账套进入下一年度", admin::carryForward},
};

void usage(std::ostream& out) {
    out << "用法：chuna-admin 命令 [参数]\n\n命令：\n";
    for (const auto& c : kCommands)
        out << "  " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    // The documents folder (create-demo's sample statements) and the
    // settings are the main program's own.
    QCoreApplication app(argc, argv);
    cli::setProgramName();
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
    std::cerr << "chuna-admin: 没有命令 " << name << "。\n";
    usage(std::cerr);
    return 2;
}
