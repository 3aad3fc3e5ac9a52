#pragma once

// The fixture of the store tests: the test book with a helper that makes a
// journal row of book set "001" and a row counter.

#include <cstdint>
#include <string>

#include "Fixture.h"
#include "Glide.h"

namespace testutil {

inline std::int64_t countRows(ledgerhost::Database& db, const std::string& table) {
    ledgerhost::Stmt s = db.prepare("SELECT COUNT(*) FROM " + table);
    s.step();
    return s.i64(0);
}

class StoreTest : public BookTest {
  protected:
    ledgerhost::TCaGlide journalRow(const std::string& asCode, const std::string& date, double deb,
                                    double cre,
                                    const std::string& table = ledgerhost::kCashJournalTable) {
        ledgerhost::TCaGlide r(table);
        r.SetCode = "001";
        r.AS_Code = asCode;
        r.CreateDate = date;
        r.DebMoney = deb;
        r.CreMoney = cre;
        r.Summary = "测试";
        return r;
    }
    std::int64_t count(const std::string& table = ledgerhost::kCashJournalTable) {
        return countRows(db(), table);
    }
};

}  // namespace testutil
