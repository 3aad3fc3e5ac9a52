// The command-line programs' reading of their arguments.
#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

TEST(CommandLine, ReadsOptionsSwitchesAndPositionalWordsAndRefusesTheRest) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        bool ok;
        std::string db;  // the value of --db when read
        bool again;
        std::vector<std::string> words;
    };
    const std::vector<Case> cases = {
        {"value after the name",
         {"icbc", "f.txt", "--db", "a.db", "--again"},
         true,
         "a.db",
         true,
         {"icbc", "f.txt"}},
        {"value after '='",
         {"--db=postgresql:///x?a=b", "ccb"},
         true,
         "postgresql:///x?a=b",
         false,
         {"ccb"}},
        {"a value that looks like an option", {"--db", "--again"}, true, "--again", false, {}},
        {"an empty value", {"--db="}, true, "", false, {}},
        {"unknown option", {"--bogus", "x"}, false, "", false, {}},
        {"missing value", {"icbc", "--db"}, false, "", false, {}},
        {"value given to a switch", {"--again=yes"}, false, "", false, {}},
        {"one word too many", {"icbc", "f.txt", "g.txt"}, false, "", false, {}},
        {"a lone dash is a word", {"-"}, true, "", false, {"-"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cli::CommandLine line("ledger-import", {{"--db", true}, {"--again", false}}, 2);
        testing::internal::CaptureStderr();
        const bool ok = line.parse(c.args);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, c.ok);
        if (!ok) {
            EXPECT_EQ(err.rfind("ledger-import: ", 0), 0u) << err;
            continue;
        }
        EXPECT_EQ(err, "");
        EXPECT_EQ(line.value("--db"), c.db);
        EXPECT_EQ(line.given("--again"), c.again);
        EXPECT_EQ(line.positional(), c.words);
    }
}

}  // namespace
