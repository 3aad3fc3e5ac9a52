// chuna-import: runs a bank-statement import on a book-set database without a
// window, with the same checks and messages as the journal window's import menu.
//   chuna-import icbc FILE --db PATH --book CODE --user CODE [--password-file F] [--again]
//   chuna-import ccb  FILE --db PATH --book CODE --user CODE [--password-file F] [--again]
//   chuna-import table FILE --db PATH --book CODE --user CODE [--password-file F]
//                 --journal statement|bank|cash [--account NUMBER] [--map 字段=文件列 …]
// The user signs in first: the password from the terminal, or the file
// --password-file names (TerminalSignIn.h).
// "table" is the import wizard's: a workbook or comma-separated file whose
// columns are mapped onto the journal's fields (those not mapped with --map
// keep the wizard's mapping: the one last used for the file's captions, else
// by equal captions), imported by the same converter with the same checks.
// A file whose content the book set's import log already holds is refused
// unless --again is given. Breaks in the bank's balances of a stored file are
// printed as warning lines on standard error.
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "BankBalances.h"
#include "CommandLine.h"
#include "Convert.h"
#include "Glide.h"
#include "Session.h"
#include "Store.h"
#include "TerminalSignIn.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

// The file is stored, but its balances and the bank's part somewhere: one
// warning line per break listed, and one for those left unlisted.
void printBalanceWarnings(std::vector<std::string> warnings, std::size_t breaks) {
    if (std::string rest = ledgerhost::unlistedBreaks(warnings.size(), breaks); !rest.empty())
        warnings.push_back(rest);
    for (const std::string& w : warnings) {
        const std::string head = "注意：";
        std::cerr << "chuna-import: 警告：" << (w.rfind(head, 0) == 0 ? w.substr(head.size()) : w)
                  << "\n";
    }
}

// The usage, on standard output with status 0 when asked for (--help), else
// on standard error with status 2.
int usage(bool asked = false) {
    (asked ? std::cout : std::cerr)
        << "用法：chuna-import icbc|ccb 文件 --db 数据库 --book 账套编码 --user 用户编码 "
           "[--password-file 密码文件] [--again]\n"
           "      chuna-import table 文件 --db 数据库 --book 账套编码 --user 用户编码 "
           "[--password-file 密码文件] --journal statement|bank|cash [--account 账号] "
           "[--map 字段=文件列 …] [--again]\n"
           "  --password-file  从文件（只让自己读取）读密码；不给时从终端输入\n"
           "  --again    文件的内容已经导入过时仍然再次导入\n"
           "  --journal  导入到银行对账单（statement）、银行日记账（bank）或现金日记账（cash）\n"
           "  --account  文件没有“账号”列时，导入到这个账号（或账户编码）\n"
           "  --map      字段（日期、统一号、摘要、借方金额、贷方金额、支票号、结算方式、"
           "对方单位、部门、备注、账号）对应的文件列\n";
    return asked ? 0 : 2;
}

// The wizard's import from the command line: the converter on the journal
// chosen, with the mapping given.
int importTable(const std::string& file, const cli::CommandLine& line, bool again) {
    const std::string journal = line.value("--journal");
    const bool statement = journal == "statement";
    if (!statement && journal != "bank" && journal != "cash") return usage();
    TCaGlideMng mng(statement ? kStatementTable : kCashJournalTable);
    mng.SubjectKind = journal == "cash" ? 2 : 1;
    TCaGlideConvert convert(std::string(), ctCaGlide, true);
    convert.GlideMng = &mng;
    convert.Again = again;
    try {
        if (line.given("--account")) {
            const std::string wanted = line.value("--account");
            TBankAccountManage accounts;
            accounts.SetCode = currentBookSet().Code;
            BankAccountPtr a = accounts.DetailByName(wanted);
            if (!a) a = accounts.DetailByCode(currentBookSet().Code, wanted);
            if (!a || a->Kind != mng.SubjectKind)
                throw ConvertError("账号“" + wanted + "”不是当前账套" +
                                   (journal == "cash" ? "的现金账户。" : "的银行账户。"));
            convert.TargetASCode = a->AsCode;
        }
        convert.SetFileName(file);
        for (const std::string& m : line.values("--map")) {
            const auto eq = m.find('=');
            const std::string field = m.substr(0, eq);
            auto it = std::find_if(convert.ColumnMaps.begin(), convert.ColumnMaps.end(),
                                   [&](const TColumnMap& c) { return c.FieldCaption == field; });
            if (eq == std::string::npos || it == convert.ColumnMaps.end())
                throw ConvertError("“" + m + "”不对：应为 字段=文件列，字段是日记账的字段之一。");
            it->FileColumn = m.substr(eq + 1);
            it->FileColumnIndex = -1;
        }
        convert.ImportData();
    } catch (const std::exception& e) {
        std::cerr << "chuna-import: 导入数据出错。错误信息：" << e.what() << "\n";
        return 1;
    }
    std::cout << "导入完成，共导入 " << convert.ImportedRows << " 行"
              << (convert.ImportedAccounts.empty() ? std::string()
                                                   : "到账号 " + convert.ImportedAccounts)
              << "。" << std::endl;
    printBalanceWarnings(convert.BalanceWarnings, convert.BalanceBreaks);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    cli::CommandLine line(
        "chuna-import",
        cli::bookSetOptions(
            {{"--again", false}, {"--journal", true}, {"--account", true}, {"--map", true}}),
        2);
    const bool parsed = line.parse(cli::arguments(argc, argv));
    // A server password given in --db leaves the process list once read.
    ledgerhost::hidePasswordsInArguments(argc, argv);
    if (parsed && (line.given("--help") || line.given("-h"))) return usage(true);
    if (!parsed) return usage();
    const std::vector<std::string>& words = line.positional();
    const std::string kind = words.empty() ? std::string() : words[0];
    const std::string file = words.size() < 2 ? std::string() : words[1];
    const std::string db = line.value("--db"), book = line.value("--book"),
                      user = line.value("--user");
    const bool again = line.given("--again");
    if ((kind != "icbc" && kind != "ccb" && kind != "table") || file.empty() || db.empty() ||
        book.empty() || user.empty())
        return usage();
    if (kind != "table" && (line.given("--map") || line.given("--account"))) return usage();
    if ((kind == "table") != line.given("--journal")) return usage();

    cli::printWaits();
    std::unique_ptr<HostSession> session;
    try {
        session = cli::signedInSession(line, "chuna-import");
        if (!session) return 1;
    } catch (const std::exception& e) {
        std::cerr << "chuna-import: " << withoutPassword(e.what(), db) << "\n";
        return 1;
    }
    if (!session->bookSet().InitConfirmed) {
        std::cerr << "chuna-import: 没有初始化确认，不能进行对账单录入！\n";
        return 1;
    }
    if (session->bookSet().EntryLocked) {
        std::cerr << "chuna-import: 账套已锁定，不能导入。\n";
        return 1;
    }
    if (kind == "table") return importTable(file, line, again);
    TCaGlideMng mng(kStatementTable);
    // No one to ask: a content already imported is refused unless --again.
    const StatementImportResult result = importStatement(
        kind == "icbc" ? StatementKind::ICBC : StatementKind::CCB, file, &mng, {}, again);
    if (!result.message.empty()) std::cout << result.message << std::endl;
    printBalanceWarnings(result.balanceWarnings, result.balanceBreaks);
    return result.stored ? 0 : 1;
}
