#pragma once

// Shared test fixtures: a fresh book-set database in a temporary folder with a
// small, known set of master data, a signed-in host session over it, and
// recorders for the message boxes and modal forms the code under test shows.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Glide.h"
#include "Records.h"
#include "Seams.h"
#include "Session.h"

namespace testutil {

// The store's tests run on either engine. LEDGER_TEST_ENGINE=pg (set by the
// second ctest registration of those tests, "pg/…") runs them on the
// PostgreSQL server named by LEDGER_TEST_PG, each test in a fresh schema of its
// own; without a server those tests are reported as skipped (main.cpp).
bool onServer();
// The server the tests may create schemas on (LEDGER_TEST_PG), or "".
std::string testServer();

// An empty schema of its own on the test server, selected through the
// location's search path; dropped again at the end.
class ServerSchema {
  public:
    ServerSchema();
    ~ServerSchema();
    ServerSchema(const ServerSchema&) = delete;
    ServerSchema& operator=(const ServerSchema&) = delete;
    // Drops everything in it: the schema is empty again.
    void clear();
    // Runs statements on the server outside any ledger connection (as the
    // test server's user, in the schema).
    void admin(const std::string& sql);
    const std::string& location() const { return location_; }
    const std::string& name() const { return name_; }

  private:
    std::string name_;
    std::string location_;
};

// Master data of the test book:
//  book sets "001" (year 2024, confirmed, managing, GLIDE_INPUT_MODE "0") and
//  "002" (managed by "001", confirmed); users "u1" 张三 (an administrator),
//  "u2" 李四;
//  accounts of "001": "1001" no. 6222001 工行基本户 (kind 1, in use, opening 1000.00),
//  "1002" no. 6222002 建行一般户 (kind 1, stopped), "1003" no. 6222003 农行专户
//  (kind 1, in use), "1010" no. CASH 库存现金 (kind 2); account of "002":
//  "2001" no. 6222201 分公司户 (kind 1);
//  base info: pay modes 01 现金 / 02 支票, counterparts C01 甲公司 / C02 乙公司,
//  departments D01 财务部 / D02 销售部 (inner codes PM1, PM2, CR1, CR2, DP1, DP2);
//  voucher types 1 记, 2 收, 3 付 for "001".
struct BookOptions {
    bool initConfirmed = true;
    bool entryLocked = false;
    std::string inputMode = "0";
    int manageFlag = 1;
};

void createTestBook(const std::string& path, const BookOptions& o = {});

// Inserts a journal row directly into the store; answers its id.
std::int64_t addRow(ledgerhost::Database& db, const std::string& table, const std::string& setCode,
                    const std::string& asCode, const std::string& date, double debit, double credit,
                    const std::string& summary = "", int number = 0);

// A temporary database with the test book, and a session on it (book "001",
// user "u1") whose server time is fixed at 2024-03-15 10:00.
class BookTest : public ::testing::Test {
  protected:
    void SetUp() override { open(); }
    void TearDown() override { session.reset(); }
    void open(const BookOptions& o = {}, const std::string& book = "001",
              const std::string& user = "u1");
    ledgerhost::Database& db() { return session->dbManage().Db(); }
    // The test book's database: a file in `dir`, or the test's server schema.
    std::string path() const {
        return server ? server->location() : dir.filePath("book.db").toStdString();
    }

    QTemporaryDir dir;
    std::optional<ServerSchema> server;
    std::unique_ptr<ledgerhost::HostSession> session;
};

// Records every message box and answers from a queue (default: OK / Yes).
class Messages {
  public:
    Messages();
    ~Messages();
    void answer(int reply) { replies.push_back(reply); }
    std::vector<ledgerhost::seams::Message> shown;
    std::deque<int> replies;
    std::vector<std::string> texts() const;

  private:
    ledgerhost::seams::Scoped<ledgerhost::seams::MessageHook> guard_;
};

// Answers modal forms with a handler; records their class names.
class Modals {
  public:
    explicit Modals(std::function<int(QDialog&)> handler);
    std::vector<std::string> shown;

  private:
    std::function<int(QDialog&)> handler_;
    ledgerhost::seams::Scoped<ledgerhost::seams::ModalHook> guard_;
};

}  // namespace testutil
