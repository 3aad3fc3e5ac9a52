// Filter conditions as SQL with named parameters, and the account lookup that
// reads through the database it is given.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Fixture.h"
#include "SqlConditions.h"
#include "Store.h"

using namespace ledgerhost;

namespace {

class SqlConditionsTest : public testutil::BookTest {
  protected:
    void SetUp() override {
        BookTest::SetUp();
        db().exec(
            "CREATE TEMP TABLE items (name TEXT, n INTEGER);"
            "INSERT INTO items VALUES ('a', 1), ('b', 2), ('c', 3), ('x'' OR 1=1 --', 4);");
    }
    // The names of the rows that meet the conditions, in order.
    std::vector<std::string> matching(const SqlConditions& c) {
        Stmt s = db().prepare("SELECT name FROM items WHERE " + c.sql() + " ORDER BY n");
        c.params().bindTo(s);
        std::vector<std::string> out;
        while (s.step()) out.push_back(s.text(0));
        return out;
    }
};

TEST_F(SqlConditionsTest, ConditionsSelectTheRowsTheyName) {
    struct Case {
        const char* what;
        std::function<void(SqlConditions&)> build;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"none", [](SqlConditions&) {}, {"a", "b", "c", "x' OR 1=1 --"}},
        {"empty text is no condition",
         [](SqlConditions& c) { c.equal("name", "name", ""); },
         {"a", "b", "c", "x' OR 1=1 --"}},
        {"text", [](SqlConditions& c) { c.equal("name", "name", "b"); }, {"b"}},
        {"text is a value, never SQL",
         [](SqlConditions& c) { c.equal("name", "name", "zz' OR 1=1 --"); },
         {}},
        {"number bound",
         [](SqlConditions& c) { c.compare("n", ">=", "low", std::int64_t(3)); },
         {"c", "x' OR 1=1 --"}},
        {"two conditions",
         [](SqlConditions& c) {
             c.compare("n", ">", "low", std::int64_t(1));
             c.compare("n", "<", "high", std::int64_t(4));
         },
         {"b", "c"}},
        {"between", [](SqlConditions& c) { c.between("n", "range", 2, 3); }, {"b", "c"}},
        {"a name set again takes the last value",
         [](SqlConditions& c) {
             c.compare("n", "=", "n", std::int64_t(1));
             c.params().set("n", std::int64_t(2));
         },
         {"b"}},
    };
    for (const auto& c : cases) {
        SqlConditions conditions;
        c.build(conditions);
        EXPECT_EQ(matching(conditions), c.expected) << c.what;
    }
}

// "Contains" as the journal filter's summary and cheque number use it: the
// typed text literally, letter case aside, on either engine.
TEST_F(SqlConditionsTest, ContainsTakesTheTextLiterally) {
    db().exec(
        "INSERT INTO items VALUES ('银行手续费', 5), ('100%', 6), ('a_b', 7), ('Cheque!', 8)");
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"手续费", {"银行手续费"}},
        {"0%", {"100%"}},
        {"_", {"a_b"}},
        {"a_", {"a_b"}},
        {"cheque!", {"Cheque!"}},
        {"' OR 1=1 --", {"x' OR 1=1 --"}},
    };
    for (const auto& [text, expected] : cases) {
        SqlConditions c;
        c.contains("name", "text", text);
        EXPECT_EQ(matching(c), expected) << text;
    }
}

TEST_F(SqlConditionsTest, NameUsedTwiceIsBoundOnceAndUnusedNamesAreLeft) {
    SqlConditions c;
    c.equal("name", "name", "c");
    c.params().set("unused", "ignored");
    const std::string match = c.sql();
    Stmt s = db().prepare("SELECT SUM(CASE WHEN " + match + " THEN n ELSE 0 END), SUM(CASE WHEN " +
                          match + " THEN 1 ELSE 0 END) FROM items");
    c.params().bindTo(s);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.i64(0), 3);
    EXPECT_EQ(s.i64(1), 1);
}

TEST_F(SqlConditionsTest, AccountForRowsFallsBackToTheManagingBookSet) {
    struct Case {
        const char* set;
        const char* as;
        const char* name;  // nullptr: none
    };
    const Case cases[] = {
        {"001", "1001", "工行基本户"}, {"002", "2001", "分公司户"}, {"002", "1001", "工行基本户"},
        {"001", "2001", nullptr},      {"001", "", nullptr},        {"009", "1001", nullptr},
    };
    for (const auto& c : cases) {
        BankAccountPtr a = accountForRows(db(), c.set, c.as);
        if (!c.name) {
            EXPECT_FALSE(a) << c.set << "/" << c.as;
            continue;
        }
        ASSERT_TRUE(a) << c.set << "/" << c.as;
        EXPECT_EQ(a->AccountName, c.name);
    }
}

}  // namespace
