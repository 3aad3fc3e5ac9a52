#include "Fixture.h"
#include "DayTotals.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <QDialog>
#include <atomic>
#include <cstdlib>

#include "Passwords.h"
#include "Programs.h"

using namespace ledgerhost;

namespace testutil {

bool onServer() {
    const char* e = std::getenv("LEDGER_TEST_ENGINE");
    return e && std::string(e) == "pg";
}

std::string testServer() {
    const char* e = std::getenv("LEDGER_TEST_PG");
    return e ? std::string(e) : std::string();
}

namespace {

void adminExec(const std::string& sql, const std::string& schema = "") {
    PGconn* c = PQconnectdb(testServer().c_str());
    std::string error;
    if (PQstatus(c) != CONNECTION_OK) {
        error = PQerrorMessage(c);
    } else {
        PQsetNoticeProcessor(
            c, [](void*, const char*) {}, nullptr);
        if (!schema.empty()) PQclear(PQexec(c, ("SET search_path = " + schema).c_str()));
        PGresult* r = PQexec(c, sql.c_str());
        if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK)
            error = PQresultErrorMessage(r);
        PQclear(r);
    }
    PQfinish(c);
    if (!error.empty()) throw std::runtime_error("test server: " + error);
}

// The location of `schema` on the test server: libpq's options select it.
std::string schemaLocation(const std::string& server, const std::string& schema) {
    if (server.rfind("postgresql://", 0) == 0 || server.rfind("postgres://", 0) == 0)
        return server + (server.find('?') == std::string::npos ? "?" : "&") +
               "options=-csearch_path%3D" + schema;
    return server + " options='-csearch_path=" + schema + "'";
}

}  // namespace

ServerSchema::ServerSchema() {
    static std::atomic<int> counter{0};
    name_ = "t_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    location_ = schemaLocation(testServer(), name_);
    adminExec("DROP SCHEMA IF EXISTS " + name_ + " CASCADE; CREATE SCHEMA " + name_);
}

ServerSchema::~ServerSchema() {
    try {
        adminExec("DROP SCHEMA IF EXISTS " + name_ + " CASCADE");
    } catch (...) {
    }
}

void ServerSchema::clear() {
    adminExec("DROP SCHEMA IF EXISTS " + name_ + " CASCADE; CREATE SCHEMA " + name_);
}

void ServerSchema::admin(const std::string& sql) {
    adminExec(sql, name_);
}

void createTestBook(const std::string& path, const BookOptions& o) {
    Database db(path, Database::OpenMode::Create);
    auto exec = [&](const std::string& sql) { db.exec(sql); };
    exec(
        "INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, "
        "manage_flag, manage_set_code) VALUES ('001', 'A001', 2024, '总公司', " +
        std::to_string(o.entryLocked) + ", " + std::to_string(o.initConfirmed) + ", " +
        std::to_string(o.manageFlag) + ", '')");
    exec(
        "INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, "
        "manage_flag, manage_set_code) VALUES ('002', 'B002', 2024, '分公司', 0, 1, 0, '001')");
    exec("INSERT INTO book_set_options VALUES ('001', 'GLIDE_INPUT_MODE', '" + o.inputMode + "')");
    exec("INSERT INTO users (code, name, is_admin) VALUES ('u1', '张三', 1), ('u2', '李四', 0)");
    {
        // Both users sign in with the tests' password.
        Stmt pw = db.prepare("UPDATE users SET password_hash = ?");
        pw.bind(1, hashPassword(testutil::kTestPassword));
        pw.run();
    }
    exec("INSERT INTO user_book_sets VALUES ('u1', '001', 1), ('u1', '002', 2), ('u2', '001', 1)");
    exec(
        "INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, "
        "opening_cents, subject_code) VALUES "
        "('001', '1001', '6222001', '工行基本户', 1, '1', 100000, '100201'),"
        "('001', '1002', '6222002', '建行一般户', 1, '0', 0, '100202'),"
        "('001', '1003', '6222003', '农行专户', 1, '1', 0, '100203'),"
        "('001', '1010', 'CASH', '库存现金', 2, '1', 50000, '1001'),"
        "('002', '2001', '6222201', '分公司户', 1, '1', 0, '100201')");
    exec(
        "INSERT INTO base_info VALUES "
        "('PAY_MODE', 'PM1', '01', '现金', 1), ('PAY_MODE', 'PM2', '02', '支票', 2),"
        "('CURRENTS', 'CR1', 'C01', '甲公司', 1), ('CURRENTS', 'CR2', 'C02', '乙公司', 2),"
        "('DEPARTMENT', 'DP1', 'D01', '财务部', 1), ('DEPARTMENT', 'DP2', 'D02', '销售部', 2)");
    exec("INSERT INTO voucher_types VALUES ('001', 1, '记'), ('001', 2, '收'), ('001', 3, '付')");
    exec("INSERT INTO summaries VALUES ('01', '提现'), ('02', '收货款')");
}

std::int64_t addRow(Database& db, const std::string& table, const std::string& setCode,
                    const std::string& asCode, const std::string& date, double debit, double credit,
                    const std::string& summary, int number) {
    if (number == 0) {
        Stmt s = db.prepare("SELECT COALESCE(MAX(date_or_no), 0) + 1 FROM " + table +
                            " WHERE set_code = ? AND as_code = ?");
        s.bind(1, setCode).bind(2, asCode);
        s.step();
        number = s.i32(0);
    }
    Stmt s = db.prepare(
        "INSERT INTO " + table +
        " (set_code, as_code, create_date, date_or_no, summary, deb_cents, cre_cents, apply_user)"
        " VALUES (?,?,?,?,?,?,?, 'u1') RETURNING id");
    s.bind(1, setCode).bind(2, asCode).bind(3, date).bind(4, number).bind(5, summary);
    s.bind(6, toCents(debit)).bind(7, toCents(credit));
    const std::int64_t id = s.returning();
    // Written with plain SQL: the kept day totals are told as the store's
    // writers tell them.
    DayTotalsChange kept;
    kept.add(setCode, asCode, date, toCents(debit), toCents(credit));
    kept.apply(db, table);
    return id;
}

void BookTest::open(const BookOptions& o, const std::string& book, const std::string& user) {
    session.reset();
    ASSERT_TRUE(dir.isValid());
    if (onServer()) {
        if (server)
            server->clear();
        else
            server.emplace();
    }
    QFile::remove(dir.filePath("book.db"));
    createTestBook(path(), o);
    session = std::make_unique<HostSession>(path(), book, user);
    session->dbManage().FixedTime = QDateTime(QDate(2024, 3, 15), QTime(10, 0));
}

Messages::Messages()
    : guard_(seams::messageHook(), [this](QWidget*, const seams::Message& m) {
          shown.push_back(m);
          int r = replies.empty() ? -1 : replies.front();
          if (!replies.empty()) replies.pop_front();
          if (r != -1) return r;
          return (m.flags & 0xF) == MB_YESNO ? IDYES : IDOK;
      }) {}

Messages::~Messages() = default;

std::vector<std::string> Messages::texts() const {
    std::vector<std::string> out;
    for (const auto& m : shown) out.push_back(m.text);
    return out;
}

Modals::Modals(std::function<int(QDialog&)> handler)
    : handler_(std::move(handler)), guard_(seams::modalHook(), [this](QDialog& d) {
          shown.push_back(d.metaObject()->className());
          return handler_(d);
      }) {}

}  // namespace testutil
