// Test entry: a QApplication on the offscreen platform, and hooks that fail
// the test when a form would wait for a person that no test answered.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Seams.h"

namespace {

// Handlers catch and report their own failures; an exception that reaches
// the application's event dispatch fails the test that caused it.
class CheckingApplication final : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "an exception left an event handler: " << e.what();
        } catch (...) {
            ADD_FAILURE() << "an exception left an event handler";
        }
        return false;
    }
};

// The store tests' run on the server: skipped, and said so, when no server
// was given.
class ServerEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* engine = std::getenv("LEDGER_TEST_ENGINE");
        if (engine && std::string(engine) == "pg" && !std::getenv("LEDGER_TEST_PG")) {
            // gtest skips every test then without a line per test; ctest
            // (SKIP_REGULAR_EXPRESSION) reports the test as skipped by this one.
            std::printf("[  SKIPPED ] the PostgreSQL half: LEDGER_TEST_PG names no server\n");
            GTEST_SKIP() << "PostgreSQL half skipped: LEDGER_TEST_PG names no server "
                            "(scripts/test.sh starts one when PostgreSQL is installed)";
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--ledger-engine=pg") ::setenv("LEDGER_TEST_ENGINE", "pg", 1);
    CheckingApplication app(argc, argv);
    // Windows remember their geometry in the settings: tests keep theirs apart.
    // ctest runs test processes side by side, so each process gets settings of
    // its own, in a folder that goes with it.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    using namespace ledgerhost;
    seams::modalHook() = [](QDialog&) {
        ADD_FAILURE() << "a modal form was shown that the test did not answer";
        return mrCancel;
    };
    seams::messageHook() = [](QWidget*, const seams::Message& m) {
        ADD_FAILURE() << "unanswered message: " << m.text;
        return IDOK;
    };
    seams::fileHook() = [](QWidget*, const seams::FileRequest&) {
        ADD_FAILURE() << "unanswered file dialog";
        return std::optional<QString>();
    };
    seams::pickHook() = [](QWidget*, const seams::PickRequest& r) {
        ADD_FAILURE() << "unanswered picker " << r.kind;
        return std::optional<seams::PickResult>();
    };
    seams::processHook() = [] {};
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ServerEnvironment);
    return RUN_ALL_TESTS();
}
