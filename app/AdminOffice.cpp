// chuna-admin book-set, account, base, user and import-list: the lists of a
// real office, kept by an administrator through the host's rules (BookSets.h,
// Accounts.h, BaseData.h, Users.h, ListImport.h), as 系统管理 keeps them.
#include <iostream>
#include <sstream>

#include "Accounts.h"
#include "AdminCommands.h"
#include "BaseData.h"
#include "BookSets.h"
#include "ListImport.h"
#include "SignIn.h"
#include "Store.h"
#include "TerminalSignIn.h"
#include "Users.h"

using namespace ledgerhost;

namespace admin {

namespace {

int number(const cli::CommandLine& line, const char* option, const char* what) {
    const std::string text = line.value(option);
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        throw StoreError(std::string(what) + "“" + text + "”不对，应为整数。");
    return std::stoi(text);
}

int accountKind(const std::string& text) {
    if (text == "bank" || text == "银行" || text == "1") return kBankKind;
    if (text == "cash" || text == "现金" || text == "2") return kCashKind;
    throw StoreError("类别“" + text + "”不对，应为 bank（银行）或 cash（现金）。");
}

bool yesNo(const std::string& text) {
    if (text == "yes" || text == "1" || text == "是") return true;
    if (text == "no" || text == "0" || text == "否") return false;
    throw StoreError("“" + text + "”不对，应为 yes 或 no。");
}

std::vector<std::string> commaList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) out.push_back(item);
    return out;
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& i : items) out += (out.empty() ? "" : ",") + i;
    return out;
}

BookSetInfo storedBookSet(Database& db, const std::string& code) {
    for (BookSetInfo& b : listBookSets(db))
        if (b.Code == code) return b;
    throw StoreError("账套 " + code + " 不存在。");
}

AccountInfo storedAccount(Database& db, const std::string& set, const std::string& code) {
    for (AccountInfo& a : listAccounts(db, set))
        if (a.Code == code) return a;
    throw StoreError("账套 " + set + " 没有编码为 " + code + " 的账户。");
}

void printBookSet(const BookSetInfo& b) {
    std::cout << b.Code << "\t" << b.Name << "\t" << b.Year << " 年度\t自 " << b.StartMonth
              << " 月启用\t" << (b.ManageSetCode.empty() ? "" : "由 " + b.ManageSetCode + " 管理")
              << "\t" << (b.InitConfirmed ? "已完成初始化" : "未完成初始化")
              << (b.EntryLocked ? "\t已锁定" : "") << (b.Closed ? "\t已关闭" : "") << "\n";
}

}  // namespace

int bookSet(const Args& args) {
    auto edit = [](Database& db, const std::string& actor, const cli::CommandLine& line) {
        BookSetInfo b = storedBookSet(db, line.value("--book"));
        if (line.given("--name")) b.Name = line.value("--name");
        if (line.given("--year")) b.Year = number(line, "--year", "会计年度");
        if (line.given("--start-month")) b.StartMonth = number(line, "--start-month", "启用月份");
        if (line.given("--manager")) b.ManageSetCode = line.value("--manager");
        return b;
    };
    return runVerbs(
        "book-set", args,
        {{"add",
          "--book 编码 --name 名称 --year 年度 [--start-month 月] [--manager 管理账套]",
          {"--book", "--name", "--year"},
          {"--start-month", "--manager"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              BookSetInfo b;
              b.Code = line.value("--book");
              b.Name = line.value("--name");
              b.Year = number(line, "--year", "会计年度");
              if (line.given("--start-month"))
                  b.StartMonth = number(line, "--start-month", "启用月份");
              b.ManageSetCode = line.value("--manager");
              addBookSet(db, actor, b);
              std::cout << "已增加账套 " << b.Code << " " << b.Name << "（" << b.Year
                        << " 年度，自 " << b.StartMonth << " 月启用）。\n";
          }},
         {"edit",
          "--book 编码 [--name 名称] [--year 年度] [--start-month 月] [--manager 管理账套]",
          {"--book"},
          {"--name", "--year", "--start-month", "--manager"},
          [edit](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const BookSetInfo b = edit(db, actor, line);
              editBookSet(db, actor, b);
              std::cout << "已修改账套 " << b.Code << " " << b.Name << "。\n";
          }},
         {"close",
          "--book 编码",
          {"--book"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              setBookSetClosed(db, actor, line.value("--book"), true);
              std::cout << "已关闭账套 " << line.value("--book") << "。\n";
          }},
         {"reopen",
          "--book 编码",
          {"--book"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              setBookSetClosed(db, actor, line.value("--book"), false);
              std::cout << "已重新启用账套 " << line.value("--book") << "。\n";
          }},
         {"delete",
          "--book 编码",
          {"--book"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              deleteBookSet(db, actor, line.value("--book"));
              std::cout << "已删除账套 " << line.value("--book") << "。\n";
          }},
         {"list", "", {}, {}, [](Database& db, const std::string& actor, const cli::CommandLine&) {
              requireAdministrator(db, actor);
              for (const BookSetInfo& b : listBookSets(db)) printBookSet(b);
          }}});
}

int account(const Args& args) {
    auto fill = [](AccountInfo& a, const cli::CommandLine& line) {
        if (line.given("--name")) a.Name = line.value("--name");
        if (line.given("--kind")) a.Kind = accountKind(line.value("--kind"));
        if (line.given("--number")) a.AccountNo = line.value("--number");
        if (line.given("--bank")) a.BankName = line.value("--bank");
        if (line.given("--subject")) a.SubjectCode = line.value("--subject");
    };
    const std::vector<const char*> fields = {"--kind", "--number", "--bank", "--subject"};
    auto withName = fields;
    withName.push_back("--name");
    auto state = [](bool inUse) {
        return [inUse](Database& db, const std::string& actor, const cli::CommandLine& line) {
            setAccountInUse(db, actor, line.value("--book"), line.value("--code"), inUse);
            std::cout << (inUse ? "已启用账户 " : "已停用账户 ") << line.value("--code") << "。\n";
        };
    };
    return runVerbs(
        "account", args,
        {{"add",
          "--book 账套 --code 编码 --name 名称 [--kind bank|cash] [--number 账号] [--bank "
          "开户银行] "
          "[--subject 科目编码]",
          {"--book", "--code", "--name"},
          fields,
          [fill](Database& db, const std::string& actor, const cli::CommandLine& line) {
              AccountInfo a;
              a.SetCode = line.value("--book");
              a.Code = line.value("--code");
              fill(a, line);
              addAccount(db, actor, a);
              std::cout << "已增加" << accountKindName(a.Kind) << "账户 " << a.Code << " " << a.Name
                        << (a.AccountNo.empty() ? "" : "（账号 " + a.AccountNo + "）") << "。\n";
          }},
         {"edit",
          "--book 账套 --code 编码 [--name 名称] [--kind bank|cash] [--number 账号] [--bank "
          "开户银行] [--subject 科目编码]",
          {"--book", "--code"},
          withName,
          [fill](Database& db, const std::string& actor, const cli::CommandLine& line) {
              AccountInfo a = storedAccount(db, line.value("--book"), line.value("--code"));
              fill(a, line);
              editAccount(db, actor, a);
              std::cout << "已修改账户 " << a.Code << " " << a.Name << "。\n";
          }},
         {"stop", "--book 账套 --code 编码", {"--book", "--code"}, {}, state(false)},
         {"resume", "--book 账套 --code 编码", {"--book", "--code"}, {}, state(true)},
         {"delete",
          "--book 账套 --code 编码",
          {"--book", "--code"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              deleteAccount(db, actor, line.value("--book"), line.value("--code"));
              std::cout << "已删除账户 " << line.value("--code") << "。\n";
          }},
         {"list",
          "--book 账套",
          {"--book"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              requireAdministrator(db, actor);
              for (const AccountInfo& a : listAccounts(db, line.value("--book")))
                  std::cout << a.Code << "\t" << a.Name << "\t" << accountKindName(a.Kind) << "\t"
                            << a.AccountNo << "\t" << a.BankName << "\t" << a.SubjectCode << "\t"
                            << (a.InUse ? "使用中" : "已停用") << "\n";
          }}});
}

int base(const Args& args) {
    return runVerbs(
        "base", args,
        {{"add",
          "--kind 类别 --code 编码 --name 名称 [--book 账套（凭证类别）]",
          {"--kind", "--code", "--name"},
          {"--book"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const std::string kind = line.value("--kind");
              addBaseItem(db, actor, kind, {{}, line.value("--code"), line.value("--name")},
                          line.value("--book"));
              std::cout << "已增加" << baseKindName(kind) << " " << line.value("--code") << " "
                        << line.value("--name") << "。\n";
          }},
         {"edit",
          "--kind 类别 --code 编码 [--new-code 新编码] [--name 名称] [--book 账套]",
          {"--kind", "--code"},
          {"--new-code", "--name", "--book"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const std::string kind = line.value("--kind"), code = line.value("--code");
              BaseItem item;
              for (const BaseItem& i : listBaseItems(db, kind, line.value("--book")))
                  if (i.Code == code) item = i;
              if (line.given("--new-code")) item.Code = line.value("--new-code");
              if (line.given("--name")) item.Name = line.value("--name");
              editBaseItem(db, actor, kind, code, item, line.value("--book"));
              std::cout << "已修改" << baseKindName(kind) << " " << code << "。\n";
          }},
         {"delete",
          "--kind 类别 --code 编码 [--book 账套]",
          {"--kind", "--code"},
          {"--book"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const std::string kind = line.value("--kind");
              deleteBaseItem(db, actor, kind, line.value("--code"), line.value("--book"));
              std::cout << "已删除" << baseKindName(kind) << " " << line.value("--code") << "。\n";
          }},
         {"list",
          "--kind 类别 [--book 账套]",
          {"--kind"},
          {"--book"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              requireAdministrator(db, actor);
              const std::string kind = line.value("--kind");
              if (baseKindName(kind).empty()) throw StoreError("没有“" + kind + "”这类基础资料。");
              for (const BaseItem& i : listBaseItems(db, kind, line.value("--book")))
                  std::cout << i.Code << "\t" << i.Name << "\n";
          }}});
}

int user(const Args& args) {
    return runVerbs(
        "user", args,
        {{"add",
          "--code 编码 --name 名称 [--admin yes|no] [--books 账套,账套…]",
          {"--code", "--name"},
          {"--admin", "--books"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              UserInfo u{line.value("--code"), line.value("--name"),
                         line.given("--admin") && yesNo(line.value("--admin")),
                         commaList(line.value("--books"))};
              addUser(db, actor, u);
              std::cout << "已增加用户 " << u.Code << " " << u.Name
                        << (u.Administrator ? "（系统管理员）" : "") << "。\n";
          }},
         {"edit",
          "--code 编码 [--name 名称] [--admin yes|no]",
          {"--code"},
          {"--name", "--admin"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              auto u = findUser(db, line.value("--code"));
              if (!u) throw StoreError("用户 " + line.value("--code") + " 不存在。");
              if (line.given("--name")) u->Name = line.value("--name");
              if (line.given("--admin")) u->Administrator = yesNo(line.value("--admin"));
              editUser(db, actor, *u);
              std::cout << "已修改用户 " << u->Code << " " << u->Name << "。\n";
          }},
         {"grant",
          "--code 编码 --books 账套,账套…",
          {"--code", "--books"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const auto sets = commaList(line.value("--books"));
              grantBookSets(db, actor, line.value("--code"), sets);
              std::cout << "用户 " << line.value("--code") << " 可用的账套："
                        << (sets.empty() ? "（无）" : joined(sets)) << "。\n";
          }},
         {"reset-password",
          "--code 编码 [--new-password-file 初始密码文件]",
          {"--code"},
          {"--new-password-file"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              // Refused before a password is asked when the actor may not.
              requireAdministrator(db, actor);
              resetPassword(db, actor, line.value("--code"), cli::newPasswordOf(line));
              std::cout << "已为用户 " << line.value("--code")
                        << " 设置初始密码；该用户下次登录时必须修改密码。\n";
          }},
         {"list", "", {}, {}, [](Database& db, const std::string& actor, const cli::CommandLine&) {
              requireAdministrator(db, actor);
              for (const UserInfo& u : listUsers(db))
                  std::cout << u.Code << "\t" << u.Name << "\t"
                            << (u.Administrator ? "系统管理员" : "") << "\t" << joined(u.BookSets)
                            << "\n";
          }}});
}

int importList(const Args& args) {
    return runVerbs(
        "import-list", args,
        {{"",
          "--kind ACCOUNT|PAY_MODE|DEPARTMENT|CURRENTS|SUMMARY|VOUCHER_TYPE --file 文件 "
          "[--book 账套] [--map 字段=文件列 …]",
          {"--kind", "--file"},
          {"--book", "--map"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              requireAdministrator(db, actor);
              TListConvert convert(db, actor, line.value("--kind"), line.value("--book"));
              convert.SetFileName(line.value("--file"));
              for (const std::string& m : line.values("--map")) {
                  const auto eq = m.find('=');
                  const std::string field = m.substr(0, eq);
                  auto it =
                      std::find_if(convert.ColumnMaps.begin(), convert.ColumnMaps.end(),
                                   [&](const TColumnMap& c) { return c.FieldCaption == field; });
                  if (eq == std::string::npos || it == convert.ColumnMaps.end())
                      throw ConvertError("“" + m + "”不对：应为 字段=文件列，字段是 " +
                                         joined(TListConvert::fieldsOf(line.value("--kind"))) +
                                         " 之一。");
                  it->FileColumn = m.substr(eq + 1);
                  it->FileColumnIndex = -1;
              }
              convert.ImportData();
              std::cout << "已从文件导入 " << convert.ImportedRows << " 条。\n";
          }}});
}

}  // namespace admin
