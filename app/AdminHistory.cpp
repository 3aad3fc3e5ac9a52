// chuna-admin password and history: a user changes their own password (an
// initial one must be changed, and the administrator of an older database
// chooses the first one here); a row's history, the rows deleted from a book
// set, and one of them restored by an administrator (History.h).
#include <iostream>

#include "AdminCommands.h"
#include "History.h"
#include "SignIn.h"
#include "Store.h"
#include "TerminalSignIn.h"
#include "Users.h"

using namespace ledgerhost;

namespace admin {

namespace {

std::int64_t rowId(const cli::CommandLine& line) {
    const std::string text = line.value("--id");
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        throw StoreError("记录编号“" + text + "”不对，应为正整数。");
    return std::stoll(text);
}

// The journal table a --journal names: the statement or a cashier's journal.
std::string journalTable(const cli::CommandLine& line) {
    const std::string j = line.value("--journal");
    if (j == "statement") return "CaCollateGlide";
    if (j == "bank" || j == "cash" || j == "journal") return "CaGlide";
    throw StoreError("--journal 应为 statement（银行对账单）或 journal（日记账）。");
}

}  // namespace

int password(const Args& args) {
    const auto line = signingOptions("password", args, {"--db", "--new-password-file"});
    if (!line) return 2;
    const std::string location = line->value("--db");
    if (location.empty()) {
        std::cerr << "chuna-admin password: 需要 --db 账套数据库 和 --user 操作员编码。\n";
        return 2;
    }
    try {
        Database db(location);
        // An initial password still to change, or a first one to choose, is
        // what this command is for.
        const auto who = cli::signIn(db, *line, "chuna-admin password", true);
        if (!who) return 1;
        const std::string old =
            who->Needs == SignInNeeds::FirstPassword
                ? std::string()
                : cli::passwordOf(*line, "操作员 " + who->UserCode + " 的原密码：");
        changePassword(db, who->UserCode, old, cli::newPasswordOf(*line));
        std::cout << "已修改操作员 " << who->UserCode << " 的密码。\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "chuna-admin password: " << withoutPassword(e.what(), location) << "\n";
        return 1;
    }
}

int history(const Args& args) {
    return runVerbs("history", args,
                    {{"show",
                      "--journal statement|journal --id 记录编号",
                      {"--journal", "--id"},
                      {},
                      [](Database& db, const std::string&, const cli::CommandLine& line) {
                          const std::string table = journalTable(line);
                          for (const HistoryEntry& e : rowHistory(db, table, rowId(line)))
                              std::cout
                                  << e.At << "\t" << operationName(e.Operation) << "\t" << e.User
                                  << (e.UserName.empty() ? "" : "（" + e.UserName + "）") << "\t"
                                  << e.Program << "\t" << e.Description << "\n";
                      }},
                     {"deleted",
                      "--book 账套",
                      {"--book"},
                      {},
                      [](Database& db, const std::string& actor, const cli::CommandLine& line) {
                          requireAdministrator(db, actor);
                          for (const DeletedRow& r : deletedRows(db, line.value("--book")))
                              std::cout << (r.Table == "CaCollateGlide" ? "statement" : "journal")
                                        << "\t" << r.Id << "\t" << r.DeletedAt << "\t"
                                        << r.DeletedByName << "\t" << r.Program << "\t" << r.Values
                                        << "\n";
                      }},
                     {"restore",
                      "--journal statement|journal --id 记录编号",
                      {"--journal", "--id"},
                      {},
                      [](Database& db, const std::string& actor, const cli::CommandLine& line) {
                          const std::int64_t id = rowId(line);
                          restoreDeletedRow(db, actor, journalTable(line), id);
                          std::cout << "已恢复记录 " << id << "。\n";
                      }}});
}

}  // namespace admin
