#pragma once

// What every loaded journal view must satisfy, whatever its conditions: the
// rows form sections, one per (book set, account), each opening with its own
// "年初余额"/"期初余额" line; a section's rows and total lines carry its book
// set and account; each "本月合计" holds the sum of the section's rows of that
// month; when the section opens with the year, each "本年累计" holds the sum of
// its rows from January on; and, when no row is hidden by a condition, each
// row's balance is the one before plus its own amounts (a debit raises the
// journals, a credit the bank statement) and the direction tells the side.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Glide.h"
#include "Store.h"

namespace testutil {

// Answers the number of sections.
inline int expectCoherent(const ledgerhost::TCaGlideMng& mng, const std::string& what,
                          bool everyRowShown = true) {
    using namespace ledgerhost;
    const bool bankSide = mng.TableName() == kStatementTable;
    auto side = [&](std::int64_t cents) -> std::string {
        if (cents == 0) return "平";
        return (cents > 0) != bankSide ? "借" : "贷";
    };
    std::set<std::string> sections;
    const TCaGlide* opening = nullptr;
    std::int64_t balance = 0, monDeb = 0, monCre = 0, yearDeb = 0, yearCre = 0;
    std::int64_t monthBalance = 0;
    bool fromJanuary = false;
    std::string year;
    for (int i = 0; i < mng.GetCount(); ++i) {
        const TCaGlide& r = *mng.GetDetails(i);
        const std::string at = what + ", line " + std::to_string(i) + " " + r.Summary;
        const std::int64_t bal = toCents(r.Balance);
        EXPECT_EQ(r.Direction, side(bal)) << at;
        if (r.Summary == kYearOpening || r.Summary == kPeriodOpening) {
            EXPECT_EQ(r.Id, 0) << at;
            opening = &r;
            EXPECT_TRUE(sections.insert(r.SetCode + "/" + r.AS_Code).second)
                << at << ": a second section for " << r.SetCode << "/" << r.AS_Code;
            balance = bal;
            monDeb = monCre = yearDeb = yearCre = 0;
            fromJanuary = r.Summary == kYearOpening;
            year = r.CreateDate.substr(0, 4);
            continue;
        }
        if (!opening) {
            ADD_FAILURE() << at << ": a row before any opening line";
            return 0;
        }
        EXPECT_EQ(r.SetCode, opening->SetCode) << at;
        EXPECT_EQ(r.AS_Code, opening->AS_Code) << at;
        const std::int64_t deb = toCents(r.DebMoney), cre = toCents(r.CreMoney);
        if (r.Summary == kMonthTotal) {
            EXPECT_EQ(deb, monDeb) << at;
            EXPECT_EQ(cre, monCre) << at;
            if (everyRowShown) {
                EXPECT_EQ(bal, balance) << at;
            }
            monthBalance = bal;
            monDeb = monCre = 0;
        } else if (r.Summary == kYearTotal) {
            if (fromJanuary) {
                EXPECT_EQ(deb, yearDeb) << at;
                EXPECT_EQ(cre, yearCre) << at;
            }
            EXPECT_EQ(bal, monthBalance) << at;
        } else {
            EXPECT_NE(r.Id, 0) << at;
            if (r.CreateDate.substr(0, 4) != year) {
                year = r.CreateDate.substr(0, 4);
                yearDeb = yearCre = 0;
                fromJanuary = true;
            }
            if (everyRowShown) {
                balance += bankSide ? cre - deb : deb - cre;
                EXPECT_EQ(bal, balance) << at;
            }
            monDeb += deb;
            monCre += cre;
            yearDeb += deb;
            yearCre += cre;
        }
    }
    return static_cast<int>(sections.size());
}

}  // namespace testutil
