// chuna-admin opening, init and carry-forward: the cashier's openings of a
// book set, confirming them, and carrying the book set into the next year,
// through the host's rules (CashierInit.h, CarryForward.h) as 出纳初始化 and
// 结转下年 do.
#include <iostream>

#include "AdminCommands.h"
#include "CarryForward.h"
#include "CashierInit.h"
#include "Numbers.h"
#include "Store.h"
#include "Users.h"

using namespace ledgerhost;

namespace admin {

namespace {

std::int64_t amount(const cli::CommandLine& line, const char* option) {
    const std::string text = line.value(option);
    if (auto cents = parseCents(text)) return *cents;
    throw StoreError("金额“" + text + "”不对，应为最多两位小数的数字。");
}

int itemKind(const std::string& text) {
    for (int k = kItemBookedIn; k <= kItemBankOut; ++k)
        if (text == std::to_string(k) || text == openingItemKindName(k)) return k;
    throw StoreError("期初未达账项的类别“" + text +
                     "”不对，应为 1 企业已收银行未收、2 企业已付银行未付、3 银行已收企业未收、"
                     "4 银行已付企业未付。");
}

void printOpenings(Database& db, const std::string& set) {
    std::cout << "账套 " << set << " 启用日期 " << booksStartDate(db, set) << "\n";
    for (const AccountOpening& o : cashierOpenings(db, set)) {
        const AccountInfo& a = o.Account;
        std::cout << a.Code << "\t" << a.Name << "\t" << accountKindName(a.Kind) << "\t日记账期初 "
                  << formatCents(o.JournalCents);
        if (a.Kind == kBankKind) {
            std::cout << "\t银行对账单期初 " << formatCents(o.BankCents)
                      << (o.BankEntered ? "" : "（未录入，同日记账）");
            std::cout << "\t调节后 " << formatCents(o.adjustedJournal()) << " / "
                      << formatCents(o.adjustedBank())
                      << (o.adjustedJournal() == o.adjustedBank() ? " 相符" : " 不符");
        }
        std::cout << "\n";
        for (const OpeningItem& i : o.Items)
            std::cout << "\t" << i.Id << "\t" << openingItemKindName(i.Kind) << "\t" << i.Date
                      << "\t" << i.Number << "\t" << i.Summary << "\t" << formatCents(i.Cents)
                      << (i.Reconciled ? "\t已对账" : "") << "\n";
    }
}

}  // namespace

int opening(const Args& args) {
    return runVerbs(
        "opening", args,
        {{"show",
          "--book 账套",
          {"--book"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              requireAdministrator(db, actor);
              printOpenings(db, line.value("--book"));
          }},
         {"set",
          "--book 账套 --code 账户编码 [--journal 日记账期初] [--bank 银行对账单期初]",
          {"--book", "--code"},
          {"--journal", "--bank"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const std::string set = line.value("--book"), code = line.value("--code");
              if (!line.given("--journal") && !line.given("--bank"))
                  throw StoreError("请用 --journal 或 --bank 给出期初余额。");
              // Both or neither: one transaction.
              Transaction t(db);
              if (line.given("--journal"))
                  setJournalOpening(db, actor, set, code, amount(line, "--journal"));
              if (line.given("--bank"))
                  setBankOpening(db, actor, set, code, amount(line, "--bank"));
              t.commit();
              std::cout << "已设置账户 " << code << " 的期初余额。\n";
          }},
         {"item-add",
          "--book 账套 --code 账户编码 --kind 1|2|3|4 --date YYYY-MM-DD --amount 金额 [--number "
          "票据号] [--summary 摘要]",
          {"--book", "--code", "--kind", "--date", "--amount"},
          {"--number", "--summary"},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              OpeningItem item;
              item.Kind = itemKind(line.value("--kind"));
              item.Date = line.value("--date");
              item.Number = line.value("--number");
              item.Summary = line.value("--summary");
              item.Cents = amount(line, "--amount");
              const std::int64_t id =
                  addOpeningItem(db, actor, line.value("--book"), line.value("--code"), item);
              std::cout << "已增加期初未达账项 " << id << "（" << openingItemKindName(item.Kind)
                        << " " << formatCents(item.Cents) << "）。\n";
          }},
         {"item-remove",
          "--book 账套 --code 账户编码 --id 编号",
          {"--book", "--code", "--id"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const std::string id = line.value("--id");
              if (id.find_first_not_of("0123456789") != std::string::npos || id.size() > 15)
                  throw StoreError("编号“" + id + "”不对。");
              removeOpeningItem(db, actor, line.value("--book"), line.value("--code"),
                                std::stoll(id));
              std::cout << "已删除期初未达账项 " << id << "。\n";
          }}});
}

int init(const Args& args) {
    return runVerbs("init", args,
                    {{"confirm",
                      "--book 账套",
                      {"--book"},
                      {},
                      [](Database& db, const std::string& actor, const cli::CommandLine& line) {
                          confirmInitialisation(db, actor, line.value("--book"));
                          std::cout << "账套 " << line.value("--book") << " 已完成出纳初始化。\n";
                      }},
                     {"cancel",
                      "--book 账套",
                      {"--book"},
                      {},
                      [](Database& db, const std::string& actor, const cli::CommandLine& line) {
                          cancelInitialisation(db, actor, line.value("--book"));
                          std::cout << "账套 " << line.value("--book") << " 已取消出纳初始化。\n";
                      }}});
}

int carryForward(const Args& args) {
    return runVerbs(
        "carry-forward", args,
        {{"",
          "--book 账套",
          {"--book"},
          {},
          [](Database& db, const std::string& actor, const cli::CommandLine& line) {
              const std::string set = line.value("--book");
              const ClosedYear y = ledgerhost::carryForward(db, actor, set, db.serverTime());
              std::cout << "账套 " << set << " 的 " << y.Year << " 年度已结转到 " << y.Year + 1
                        << " 年度。年末余额：\n";
              for (const ClosingBalance& b : y.Balances)
                  std::cout << b.AsCode << "\t" << b.Name << "\t日记账 "
                            << formatCents(b.JournalCents)
                            << (b.BankCents ? "\t银行对账单 " + formatCents(*b.BankCents) : "")
                            << "\n";
          }}});
}

}  // namespace admin
