#include "DemoData.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

#include <QLocale>
#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Codec.h"
#include "DayTotals.h"
#include "Passwords.h"
#include "Records.h"
#include "Store.h"
#include "XlsWriter.h"

using namespace ledgerhost;

namespace demo {
namespace {

// A small deterministic generator, so every demo database is the same.
struct Lcg {
    std::uint32_t state = 20240101u;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

constexpr std::int64_t kIcbcOpening = 25000000;
constexpr std::int64_t kCcbOpening = 8000000;

struct Account {
    const char* set;
    const char* code;
    const char* number;
    const char* name;
    int kind;
    const char* state;
    std::int64_t openingCents;
    const char* subject;
    const char* bank;
};

const std::array<Account, 9> kAccounts{{
    {"001", "100201", "6222020200112345678", "工商银行基本户", 1, "1", kIcbcOpening, "100201",
     "中国工商银行"},
    {"001", "100202", "4367420010203040506", "建设银行一般户", 1, "1", kCcbOpening, "100202",
     "中国建设银行"},
    {"001", "100203", "6228480010009999", "农业银行专户", 1, "0", 0, "100203", "中国农业银行"},
    {"001", "1001", "XJ-001", "库存现金", 2, "1", 500000, "1001", ""},
    {"002", "100211", "6214830100556677", "招商银行分公司户", 1, "1", 3000000, "100211",
     "招商银行"},
    {"002", "1001", "XJ-002", "分公司现金", 2, "1", 100000, "1001", ""},
    {"003", "100201", "6222020200187654321", "工商银行工厂户", 1, "1", 12000000, "100201",
     "中国工商银行"},
    {"003", "1001", "XJ-003", "工厂现金", 2, "1", 300000, "1001", ""},
    {"004", "100201", "6222020200100000004", "新账套银行户", 1, "1", 0, "100201", "中国工商银行"},
}};

const char* const kSummaries[] = {"收到货款", "支付货款", "支付工资",   "银行手续费", "利息收入",
                                  "提取现金", "缴纳税款", "支付水电费", "收到投资款", "报销差旅费"};

// One generated journal row; every random draw is made here, so that a
// generator with the same seed gives the same rows whoever asks.
struct DemoRow {
    QDate date;
    int number;
    bool in;  // money in
    std::int64_t cents;
    int summary, payMode, counterpart, department, user;
    bool payCode;
};

// Rows of one account for the months 1 to `lastMonth` of today's year, in date
// order; the current month only up to yesterday.
void demoRows(Lcg& rnd, const QDate& today, int lastMonth, int perMonth,
              const std::function<void(const DemoRow&)>& row) {
    const int year = today.year();
    int number = 0;
    for (int m = 1; m <= lastMonth; ++m) {
        int days = QDate(year, m, 1).daysInMonth();
        if (m == today.month()) days = std::max(1, today.day() - 1);
        std::vector<int> dayList;
        for (int i = 0; i < perMonth; ++i) dayList.push_back(1 + rnd.below(days));
        std::sort(dayList.begin(), dayList.end());
        for (int day : dayList) {
            DemoRow r;
            r.date = QDate(year, m, day);
            r.number = ++number;
            r.in = rnd.below(3) == 0;
            r.cents = (rnd.below(500) + 1) * 100 + (rnd.below(4) == 0 ? rnd.below(100) : 0);
            if (r.in) r.cents *= 3;
            // Money in is a receipt, interest or an investment; money out never is.
            static const int kOut[] = {1, 2, 3, 5, 6, 7, 9};
            r.summary = r.in ? (rnd.below(2) == 0 ? 0 : 4) : kOut[rnd.below(7)];
            r.payCode = rnd.below(3) == 0;
            r.payMode = rnd.below(5);
            r.counterpart = rnd.below(2) == 0 ? rnd.below(4) : -1;
            r.department = rnd.below(3) == 0 ? rnd.below(4) : -1;
            r.user = rnd.below(2);
            row(r);
        }
    }
}

constexpr std::uint32_t kIcbcSeed = 20240302u;
constexpr std::uint32_t kCcbSeed = 20240517u;
constexpr int kIcbcPerMonth = 6, kCcbPerMonth = 3;

// The bank's balance of an account whose statement rows before the month of
// `today` come from their own generator.
std::int64_t balanceAtMonthStart(std::uint32_t seed, std::int64_t opening, int perMonth,
                                 const QDate& today) {
    Lcg own{seed};
    std::int64_t balance = opening;
    demoRows(own, today, today.month() - 1, perMonth,
             [&](const DemoRow& r) { balance += r.in ? r.cents : -r.cents; });
    return balance;
}

// The statement's cheque number of a generated row ("" for none).
std::string chequeOf(const DemoRow& r) {
    return r.payCode ? std::to_string(3040500 + r.number) : std::string();
}

// The bank journal of 工商银行基本户, made from its statement rows so that the
// bank reconciliation has something to do: most rows appear on both sides
// (cheques booked some days before the bank pays them, other rows a day or two
// apart), one deposit was booked as two receipts, and at the end some rows are
// on one side only (each of the four kinds). The bank's opening balance and the
// items unreconciled at the start of the year are stored too; January clears
// them. The balance reconciliation statement balances at any date.
void addIcbcJournal(Database& db, const std::vector<DemoRow>& bank, const QDate& today) {
    const int year = today.year();
    Stmt opening = db.prepare(
        "INSERT INTO reconcile_openings (set_code, as_code, bank_opening_cents) VALUES "
        "('001', '100201', ?), ('001', '100202', ?)");
    opening.bind(1, kIcbcOpening).bind(2, kCcbOpening);
    opening.run();
    if (bank.empty()) return;
    struct JournalRow {
        QDate date;
        bool in;
        std::int64_t cents;
        std::string cheque;
        std::string summary;
        int payMode = 2, user = 0;
    };
    std::vector<JournalRow> rows;
    const int lastMonth = bank.back().date.month();
    auto find = [&](auto&& pred) -> int {
        for (std::size_t i = 0; i < bank.size(); ++i)
            if (pred(bank[i])) return static_cast<int>(i);
        return -1;
    };
    auto findLast = [&](auto&& pred) -> int {
        for (std::size_t i = bank.size(); i-- > 0;)
            if (pred(bank[i])) return static_cast<int>(i);
        return -1;
    };
    const QDate yearStart(year, 1, 1);
    // Opening items: a receipt booked last December that the bank credited in
    // January, and a cheque written then that the bank paid in January.
    const int openIn = find([](const DemoRow& r) {
        return r.date.month() == 1 && r.in && !r.payCode && r.date.day() <= 6;
    });
    const int openOut =
        find([](const DemoRow& r) { return r.date.month() == 1 && !r.in && r.payCode; });
    // One deposit booked as two receipts.
    const int split =
        find([](const DemoRow& r) { return r.date.month() >= 2 && r.in && !r.payCode; });
    // At the end: the bank received and paid what the journal has not yet booked.
    const int bankOnlyIn = lastMonth > 1 ? findLast([&](const DemoRow& r) {
        return r.date.month() == lastMonth && r.in && !r.payCode;
    })
                                         : -1;
    const int bankOnlyOut =
        lastMonth > 1
            ? findLast([&](const DemoRow& r) { return r.date.month() == lastMonth && !r.in; })
            : -1;
    for (std::size_t i = 0; i < bank.size(); ++i) {
        const DemoRow& r = bank[i];
        const int at = static_cast<int>(i);
        if (at == openIn || at == openOut || at == bankOnlyIn || at == bankOnlyOut) continue;
        const int earlier = r.payCode ? 3 + static_cast<int>(i % 9) : static_cast<int>(i % 3);
        JournalRow j{std::max(r.date.addDays(-earlier), yearStart),
                     r.in,
                     r.cents,
                     chequeOf(r),
                     kSummaries[r.summary],
                     r.payMode,
                     r.user};
        if (at == split) {
            const std::int64_t first = r.cents * 2 / 5;
            rows.push_back(
                {j.date, true, first, "", "收到货款（同一张进账单）", j.payMode, j.user});
            rows.push_back(
                {j.date, true, r.cents - first, "", "收到货款（同一张进账单）", j.payMode, j.user});
            continue;
        }
        rows.push_back(j);
    }
    // Booked at the end, not yet at the bank: a receipt in transit and a cheque
    // not yet presented.
    const QDate monthEnd(year, lastMonth, QDate(year, lastMonth, 1).daysInMonth());
    rows.push_back({monthEnd, true, 860000, "", "收到货款（在途）", 2, 0});
    rows.push_back(
        {monthEnd.addDays(-1), false, 432100, "10299001", "支付货款（支票未兑付）", 2, 1});

    // The opening items; the bank's side was credited and debited before the
    // year began with what the journal books in January, in amounts that make
    // the first reconciliation of the year balance.
    Stmt item = db.prepare(
        "INSERT INTO reconcile_opening_items (set_code, as_code, kind, item_date, number, summary, "
        "cents) VALUES ('001', '100201', ?, ?, ?, ?, ?)");
    const std::string lastDecember = QDate(year - 1, 12, 30).toString("yyyy-MM-dd").toStdString();
    auto addItem = [&](int kind, const std::string& number, const char* summary,
                       std::int64_t cents) {
        item.reset();
        item.bind(1, kind).bind(2, lastDecember).bind(3, number).bind(4, summary).bind(5, cents);
        item.run();
    };
    std::int64_t bookedIn = 0, bookedOut = 0;
    if (openIn >= 0) addItem(1, "", "收到货款", bookedIn = bank[openIn].cents);
    if (openOut >= 0)
        addItem(2, chequeOf(bank[openOut]), "支付货款", bookedOut = bank[openOut].cents);
    const std::int64_t bankOut = 250000;
    const std::int64_t bankIn = bankOut + bookedIn - bookedOut;
    const std::int64_t inCents = std::max<std::int64_t>(bankIn, 100000);
    const std::int64_t outCents = inCents - (bookedIn - bookedOut);
    addItem(3, "", "利息收入", inCents);
    addItem(4, "", "银行手续费", outCents);
    rows.push_back({QDate(year, 1, 3), true, inCents, "", "利息收入（上年末银行已收）", 4, 0});
    rows.push_back({QDate(year, 1, 3), false, outCents, "", "银行手续费（上年末银行已付）", 4, 1});

    std::stable_sort(rows.begin(), rows.end(),
                     [](const JournalRow& a, const JournalRow& b) { return a.date < b.date; });
    Stmt s = db.prepare(
        "INSERT INTO CaGlide (set_code, as_code, create_date, date_or_no, summary, deb_cents, "
        "cre_cents, pay_code, pm_code, apply_user, glide_flag) "
        "VALUES ('001', '100201', ?, ?, ?, ?, ?, ?, ?, ?, '1')");
    const char* const pm[] = {"01", "02", "03", "04", "05"};
    const char* const users[] = {"zhang", "li"};
    int number = 0;
    for (const JournalRow& r : rows) {
        s.reset();
        s.bind(1, r.date.toString("yyyy-MM-dd").toStdString()).bind(2, ++number).bind(3, r.summary);
        s.bind(4, r.in ? r.cents : 0).bind(5, r.in ? 0 : r.cents).bind(6, r.cheque);
        s.bind(7, pm[r.payMode]).bind(8, users[r.user]);
        s.run();
    }
}

// The folder the sample statements go to, opened without following a
// symbolic link (made when missing). Each file is created new beside what is
// there: an existing file of the same name, an imported statement or one of
// the user's own, is left alone and the next free name is taken, and a link
// planted under the name is never followed.
class StatementFolder {
  public:
    explicit StatementFolder(const std::string& folder) : folder_(folder) {
        const std::filesystem::path path(folder);
        std::error_code ec;
        if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) fail(errno);
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ < 0) fail(errno);
    }
    ~StatementFolder() {
        if (fd_ >= 0) ::close(fd_);
    }
    StatementFolder(const StatementFolder&) = delete;
    StatementFolder& operator=(const StatementFolder&) = delete;

    // Writes a new file "<stem><ext>", else "<stem> (2)<ext>", …; answers its path.
    std::string write(const std::string& stem, const std::string& ext, const std::string& bytes) {
        for (int n = 1; n < 1000; ++n) {
            const std::string name = stem + (n == 1 ? "" : " (" + std::to_string(n) + ")") + ext;
            const int f = ::openat(fd_, name.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (f < 0 && errno == EEXIST) continue;
            if (f < 0) fail(errno, name);
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t w = ::write(f, bytes.data() + done, bytes.size() - done);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    const int err = errno;
                    ::close(f);
                    ::unlinkat(fd_, name.c_str(), 0);
                    fail(err, name);
                }
                done += static_cast<std::size_t>(w);
            }
            ::close(f);
            return folder_ + "/" + name;
        }
        throw ledgerhost::StoreError("文件夹 " + folder_ + " 中同名的示例对账单太多，没有写入 " +
                                     stem + ext + "。");
    }

  private:
    [[noreturn]] void fail(int err, const std::string& name = {}) const {
        // Opening a link without following it fails with ELOOP, or ENOTDIR
        // when a folder was asked for: the link itself says which.
        struct stat st {};
        if (name.empty() && ::lstat(folder_.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            throw ledgerhost::StoreError("文件夹 " + folder_ +
                                         " 是符号链接，没有在其中写入示例对账单。");
        throw ledgerhost::StoreError("无法写入示例对账单 " + folder_ +
                                     (name.empty() ? "" : "/" + name) + "：" +
                                     ledgerhost::systemReason(err));
    }

    std::string folder_;
    int fd_ = -1;
};

}  // namespace

bool createDemoDatabase(const std::string& path, const QDate& today) {
    return createDatabaseFile(path, [&](Database& db) { fillDemoDatabase(db, today); });
}

void fillDemoDatabase(Database& db, const QDate& today) {
    Transaction t(db);
    const int year = today.year();
    const std::string y = std::to_string(year);
    db.exec(
        "INSERT INTO book_sets (code, disp_code, year, name, entry_locked, init_confirmed, "
        "manage_flag, manage_set_code) VALUES "
        "('001', '001', " +
        y +
        ", '演示总公司', 0, 1, 1, ''),"
        "('002', '002', " +
        y +
        ", '演示分公司', 0, 1, 0, '001'),"
        "('003', '003', " +
        y +
        ", '演示工厂', 0, 1, 0, ''),"
        "('004', '004', " +
        y + ", '新建账套', 0, 0, 0, '')");
    db.exec(
        "INSERT INTO book_set_options VALUES "
        "('001', 'GLIDE_INPUT_MODE', '0'), ('002', 'GLIDE_INPUT_MODE', '0'),"
        "('003', 'GLIDE_INPUT_MODE', '1'), ('004', 'GLIDE_INPUT_MODE', '0')");
    db.exec(
        "INSERT INTO users (code, name, is_admin) VALUES ('admin', '系统管理员', 1), "
        "('zhang', '张会计', 0), ('li', '李出纳', 0)");
    {
        // Every demo user signs in with the demo password.
        Stmt s = db.prepare("UPDATE users SET password_hash = ?");
        s.bind(1, ledgerhost::hashPassword(kDemoPassword));
        s.run();
    }
    for (const char* u : {"admin", "zhang", "li"})
        for (int i = 1; i <= 4; ++i)
            db.exec(std::string("INSERT INTO user_book_sets VALUES ('") + u + "', '00" +
                    std::to_string(i) + "', " + std::to_string(i) + ")");
    {
        Stmt s = db.prepare(
            "INSERT INTO bank_accounts (set_code, as_code, account_no, name, kind, state, "
            "opening_cents, subject_code, bank_name) VALUES (?,?,?,?,?,?,?,?,?)");
        for (const auto& a : kAccounts) {
            s.reset();
            s.bind(1, a.set).bind(2, a.code).bind(3, a.number).bind(4, a.name).bind(5, a.kind);
            s.bind(6, a.state).bind(7, a.openingCents).bind(8, a.subject).bind(9, a.bank);
            s.run();
        }
    }
    db.exec(
        "INSERT INTO base_info VALUES "
        // A settlement mode's stored code is its code: the grid shows the
        // stored code and the entry dialog the code, and they agree.
        "('PAY_MODE', '01', '01', '现金', 1), ('PAY_MODE', '02', '02', '现金支票', 2),"
        "('PAY_MODE', '03', '03', '转账支票', 3), ('PAY_MODE', '04', '04', '电汇', 4),"
        "('PAY_MODE', '05', '05', '网上银行', 5),"
        "('CURRENTS', 'CU01', 'C001', '北京华信科技有限公司', 1),"
        "('CURRENTS', 'CU02', 'C002', '上海东方贸易公司', 2),"
        "('CURRENTS', 'CU03', 'C003', '广州南方物流有限公司', 3),"
        "('CURRENTS', 'CU04', 'C004', '深圳创新电子厂', 4),"
        "('DEPARTMENT', 'DP01', 'D01', '财务部', 1), ('DEPARTMENT', 'DP02', 'D02', '销售部', 2),"
        "('DEPARTMENT', 'DP03', 'D03', '采购部', 3), ('DEPARTMENT', 'DP04', 'D04', '行政部', 4)");
    for (const char* set : {"001", "002", "003", "004"})
        db.exec(std::string("INSERT INTO voucher_types VALUES ('") + set + "', 1, '记'), ('" + set +
                "', 2, '收'), ('" + set + "', 3, '付'), ('" + set + "', 4, '转')");
    {
        Stmt s = db.prepare("INSERT INTO summaries VALUES (?, ?)");
        int i = 1;
        for (const char* text : kSummaries) {
            s.reset();
            char code[16];
            std::snprintf(code, sizeof code, "%02d", i++);
            s.bind(1, code).bind(2, text);
            s.run();
        }
    }

    Lcg rnd;
    const char* const pm[] = {"01", "02", "03", "04", "05"};
    const char* const cu[] = {"CU01", "CU02", "CU03", "CU04"};
    const char* const dp[] = {"DP01", "DP02", "DP03", "DP04"};
    const char* const users[] = {"zhang", "li"};
    const int lastMonth = today.month();

    // Vouchers of the year for every book set: each moves money on one bank or
    // cash subject against an expense or income subject.
    Stmt voucher = db.prepare(
        "INSERT INTO vouchers (set_code, vdate, voucher_class, voucher_no, maker) VALUES "
        "(?,?,?,?,?) RETURNING id");
    Stmt line = db.prepare(
        "INSERT INTO voucher_lines (voucher_id, line_no, subject_code, summary, deb_cents, "
        "cre_cents, "
        "pm_code, pay_code, cr_code, dp_code) VALUES (?,?,?,?,?,?,?,?,?,?)");
    for (const char* set : {"001", "003"}) {
        for (int m = 1; m <= lastMonth; ++m) {
            for (int k = 1; k <= 4; ++k) {
                int day = std::min(3 + k * 6 + rnd.below(3), QDate(year, m, 1).daysInMonth());
                QDate d(year, m, day);
                bool income = rnd.below(2) == 0;
                int vclass = income ? 2 : 3;
                std::int64_t cents = (rnd.below(900) + 20) * 1000 + rnd.below(100);
                const char* subject = k == 4 ? "1001" : "100201";
                voucher.reset();
                voucher.bind(1, set)
                    .bind(2, d.toString("yyyy-MM-dd").toStdString())
                    .bind(3, vclass);
                voucher.bind(4, m * 100 + k).bind(5, users[k % 2]);
                std::int64_t vid = voucher.returning();
                const char* summary = kSummaries[rnd.below(10)];
                std::string cheque = k == 2 ? std::to_string(10203000 + m * 10 + k) : "";
                auto addLine = [&](int no, const char* subj, std::int64_t deb, std::int64_t cre) {
                    line.reset();
                    line.bind(1, vid)
                        .bind(2, no)
                        .bind(3, subj)
                        .bind(4, summary)
                        .bind(5, deb)
                        .bind(6, cre);
                    line.bind(7, pm[rnd.below(5)])
                        .bind(8, cheque)
                        .bind(9, cu[rnd.below(4)])
                        .bind(10, dp[rnd.below(4)]);
                    line.run();
                };
                addLine(1, subject, income ? cents : 0, income ? 0 : cents);
                addLine(2, income ? "6001" : "6602", income ? 0 : cents, income ? cents : 0);
            }
        }
    }

    // Journal and statement rows of the main book set.
    Stmt row = db.prepare(
        "INSERT INTO CaCollateGlide (set_code, as_code, create_date, date_or_no, summary, "
        "deb_cents, "
        "cre_cents, pay_code, pm_code, cr_code, dp_code, remark, apply_user, glide_flag) "
        "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?, '1')");
    Stmt cash = db.prepare(
        "INSERT INTO CaGlide (set_code, as_code, create_date, date_or_no, summary, deb_cents, "
        "cre_cents, pay_code, pm_code, cr_code, dp_code, remark, apply_user, glide_flag) "
        "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?, '1')");
    struct Target {
        Stmt* stmt;
        const char* set;
        const char* account;
        int perMonth;
    };
    // The statement rows of 工商银行基本户 and 建设银行一般户 come from their own
    // generators and stop before the current month: that month is the ICBC
    // and CCB sample files', whose balances carry on from theirs.
    Target targets[] = {{&row, "001", "100202", kCcbPerMonth},
                        {&row, "002", "100211", 2},
                        {&cash, "001", "100201", 5},
                        {&cash, "001", "1001", 4},
                        {&cash, "002", "1001", 2}};
    auto insert = [&](const Target& tg, const DemoRow& r) {
        // A statement keeps the bank's side: money in is a credit.
        const bool credit = tg.stmt == &row ? r.in : !r.in;
        Stmt& s = *tg.stmt;
        s.reset();
        s.bind(1, tg.set).bind(2, tg.account);
        s.bind(3, r.date.toString("yyyy-MM-dd").toStdString());
        s.bind(4, r.number).bind(5, kSummaries[r.summary]);
        s.bind(6, credit ? 0 : r.cents).bind(7, credit ? r.cents : 0);
        s.bind(8, r.payCode ? std::to_string(3040500 + r.number) : std::string());
        s.bind(9, pm[r.payMode]);
        s.bind(10, r.counterpart >= 0 ? cu[r.counterpart] : "");
        s.bind(11, r.department >= 0 ? dp[r.department] : "");
        s.bind(12, "").bind(13, users[r.user]);
        s.run();
    };
    std::vector<DemoRow> icbcRows;
    {
        Lcg own{kIcbcSeed};
        const Target icbc{&row, "001", "100201", kIcbcPerMonth};
        demoRows(own, today, today.month() - 1, icbc.perMonth, [&](const DemoRow& r) {
            insert(icbc, r);
            icbcRows.push_back(r);
        });
        Lcg ccbOwn{kCcbSeed};
        const Target ccb{&row, "001", "100202", kCcbPerMonth};
        demoRows(ccbOwn, today, today.month() - 1, ccb.perMonth,
                 [&](const DemoRow& r) { insert(ccb, r); });
    }
    for (auto& tg : targets) {
        // The bank journal of 工商银行基本户 follows its statement (below), and
        // the statement of 建设银行一般户 has its own rows (above); the draws are
        // still made, so the other accounts' rows stay as they were.
        const std::string set = tg.set, account = tg.account;
        const bool ownRows = set == "001" && ((tg.stmt == &cash && account == "100201") ||
                                              (tg.stmt == &row && account == "100202"));
        demoRows(rnd, today, lastMonth, tg.perMonth, [&](const DemoRow& r) {
            if (!ownRows) insert(tg, r);
        });
    }
    addIcbcJournal(db, icbcRows, today);
    // The rows above were written with plain inserts: the journals' day
    // totals are made from them.
    rebuildDayTotals(db);
    t.commit();
}

std::vector<std::string> writeDemoStatements(const std::string& folder, const QDate& today) {
    StatementFolder out(folder);
    const QDate first(today.year(), today.month(), 1);
    std::string text =
        "账号:6222020200112345678\r\n"
        "户名:演示总公司\r\n"
        "币种:人民币\r\n"
        "起止日期:" +
        first.toString("yyyy-MM-dd").toStdString() + "至" +
        today.toString("yyyy-MM-dd").toStdString() +
        "\r\n"
        "凭证号^交易日期^交易时间^对方账号^对方户名^交易类型^币种^支票号-摘要^贷方发生额^"
        "借方发生额^余额\r\n";
    // Field 10 is the bank's balance after the line: it carries on from the
    // demo's statement rows of the account before this month.
    struct Line {
        int day;
        const char* what;
        std::int64_t credit, debit;  // cents
    };
    const Line lines[] = {
        {1, "3040601-支付货款", 0, 1280000}, {2, "收到货款", 5630000, 0},
        {3, "-银行手续费", 0, 2500},         {5, "3040602-支付工资-十一月", 0, 8642050},
        {6, "利息收入", 31866, 0},           {8, "收到投资款", 20000000, 0}};
    auto money = [](std::int64_t cents) {
        return cents == 0 ? std::string()
                          : QLocale(QLocale::English)
                                .toString(static_cast<double>(cents) / 100.0, 'f', 2)
                                .toStdString();
    };
    std::int64_t balance = balanceAtMonthStart(kIcbcSeed, kIcbcOpening, kIcbcPerMonth, today);
    int n = 0;
    for (const Line& l : lines) {
        QDate d = first.addDays(std::min(l.day, today.day()) - 1);
        ++n;
        balance += l.credit - l.debit;
        text += std::to_string(n) + "^" + d.toString("yyyy-MM-dd").toStdString() + "^10:2" +
                std::to_string(n) + ":00^62220000" + std::to_string(n) + "^对方单位" +
                std::to_string(n) + "^转账^人民币^" + l.what + "^" + money(l.credit) + "^" +
                money(l.debit) + "^" + (balance < 0 ? "-" : "") +
                (balance == 0 ? "0.00" : money(std::abs(balance))) + "\r\n";
    }
    std::vector<std::string> written;
    written.push_back(out.write("工行对账单-" + first.toString("yyyyMM").toStdString(), ".txt",
                                ledgerhost::utf8ToGbk(text)));

    // A CCB statement workbook: nine header rows, then one row per transaction
    // from row 10, columns A to M; each row names its own account (number in
    // L, name in M) and gives the bank's balance after it in G, carrying on
    // from the demo's statement rows of 建设银行一般户 before this month. One row
    // names its account by name only, one an account the book set does not
    // have (with that account's own balance).
    std::vector<xlswriter::Cell> cells;
    auto put = [&](int row, int col, const std::string& utf8) {
        if (!utf8.empty())
            cells.push_back({static_cast<std::uint16_t>(row - 1), static_cast<std::uint16_t>(col),
                             ledgerhost::utf8ToGbk(utf8)});
    };
    put(1, 0, "中国建设银行 单位账户交易明细");
    put(3, 0, "客户名称：演示总公司");
    put(4, 0, "起始日期：" + first.toString("yyyy/MM/dd").toStdString());
    put(5, 0, "终止日期：" + today.toString("yyyy/MM/dd").toStdString());
    const char* const heads[] = {"交易日期",   "交易时间", "凭证种类", "凭证号",   "贷方发生额",
                                 "借方发生额", "余额",     "对方账号", "对方户名", "摘要",
                                 "备注",       "账号",     "账户名称"};
    for (int c = 0; c < 13; ++c) put(9, c, heads[c]);
    struct Row {
        int day;
        std::int64_t credit, debit;  // cents
        const char *what, *number, *name;
    };
    const Row rows[] = {
        {1, 800000, 0, "5010001-收到货款", "4367420010203040506", "建设银行一般户"},
        {2, 0, 125000, "支付水电费", "4367420010203040506", "建设银行一般户"},
        {3, 0, 3650, "-银行手续费", "", "建设银行一般户"},
        {4, 360000, 0, "收到货款", "6200000000000009", "外单位账户"},
        {6, 0, 1840000, "5010002-支付货款", "4367420010203040506", "建设银行一般户"},
    };
    std::int64_t ccbBalance = balanceAtMonthStart(kCcbSeed, kCcbOpening, kCcbPerMonth, today);
    std::int64_t otherBalance = 1520000;  // the other account's
    auto signedMoney = [&](std::int64_t cents) {
        return (cents < 0 ? "-" : "") + (cents == 0 ? std::string("0.00") : money(std::abs(cents)));
    };
    int r = 10;
    for (const Row& row : rows) {
        std::int64_t& bal = std::string(row.name) == "外单位账户" ? otherBalance : ccbBalance;
        bal += row.credit - row.debit;
        QDate d = first.addDays(std::min(row.day, today.day()) - 1);
        put(r, 0, d.toString("yyyy/MM/dd").toStdString());
        put(r, 1, "09:3" + std::to_string(r % 10) + ":00");
        put(r, 2, "转账");
        put(r, 3, std::to_string(880000 + r));
        put(r, 4, row.credit ? money(row.credit) : r == 10 ? "0.00" : "");
        put(r, 5, row.debit ? money(row.debit) : r == 10 ? "0.00" : "");
        put(r, 6, signedMoney(bal));
        put(r, 7, "6217000000" + std::to_string(r));
        put(r, 8, "对方户名" + std::to_string(r));
        put(r, 9, row.what);
        put(r, 10, "—");
        put(r, 11, row.number);
        put(r, 12, row.name);
        ++r;
    }
    written.push_back(out.write("建行对账单-" + first.toString("yyyyMM").toStdString(), ".xls",
                                xlswriter::workbook(cells)));
    return written;
}

}  // namespace demo
