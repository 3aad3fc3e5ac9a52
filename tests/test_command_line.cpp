// The command-line programs' reading of their arguments, and the programs'
// name: settings and databases kept under the earlier name carried over.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include "CommandLine.h"
#include "ProgramName.h"

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
        cli::CommandLine line("chuna-import", {{"--db", true}, {"--again", false}}, 2);
        testing::internal::CaptureStderr();
        const bool ok = line.parse(c.args);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, c.ok);
        if (!ok) {
            EXPECT_EQ(err.rfind("chuna-import: ", 0), 0u) << err;
            continue;
        }
        EXPECT_EQ(err, "");
        EXPECT_EQ(line.value("--db"), c.db);
        EXPECT_EQ(line.given("--again"), c.again);
        EXPECT_EQ(line.positional(), c.words);
    }
}

TEST(ProgramName, CarriesTheOldSettingsOverOnceAndOpensTheOldDatabaseUntilThereIsANewOne) {
    const QString organisation = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    QSettings("ledger", "ledger").setValue("Journal/sort", "date");
    cli::setProgramName();
    EXPECT_EQ(QSettings().value("Journal/sort").toString(), "date");
    // Once: what was changed under the new name since is not overwritten.
    QSettings().setValue("Journal/sort", "number");
    cli::setProgramName();
    EXPECT_EQ(QSettings().value("Journal/sort").toString(), "number");

    struct Case {
        const char* what;
        bool newThere, oldThere, opensOld;
    };
    const Case cases[] = {{"neither: the new one is made", false, false, false},
                          {"only the old one: it is opened", false, true, true},
                          {"both: the new one", true, true, false}};
    const QString tag = QString::number(QCoreApplication::applicationPid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString fresh = cli::dataFolder() + "/new-" + tag + ".db";
        const QString old = cli::oldDataFolder() + "/old-" + tag + ".db";
        QDir().mkpath(cli::dataFolder());
        QDir().mkpath(cli::oldDataFolder());
        if (c.newThere) QFile(fresh).open(QIODevice::WriteOnly);
        if (c.oldThere) QFile(old).open(QIODevice::WriteOnly);
        EXPECT_EQ(cli::defaultDatabase("new-" + tag + ".db", "old-" + tag + ".db"),
                  c.opensOld ? old : fresh);
        QFile::remove(fresh);
        QFile::remove(old);
    }
    QCoreApplication::setOrganizationName(organisation);
    QCoreApplication::setApplicationName(application);
}

}  // namespace
