#include "Funds.h"

#include <QDate>
#include <QString>
#include <algorithm>
#include <sstream>

#include "DayTotals.h"
#include "Glide.h"
#include "Numbers.h"
#include "Records.h"
#include "Store.h"

using namespace ledgerhost;

namespace funds {

namespace {

// Ten years of days: a longer range is a typing slip, not a report.
constexpr qint64 kLongestRange = 3660;

QDate parsed(const std::string& date, const char* what) {
    const QDate d = QDate::fromString(QString::fromStdString(date), QStringLiteral("yyyy-MM-dd"));
    if (date.size() != 10 || !d.isValid())
        throw FundsError(std::string(what) + "“" + date + "”不是日期，应为 YYYY-MM-DD。");
    return d;
}

std::string iso(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

// The journal of one account over the range: the balance before it, then the
// range's days, the balance moving as the journal's does. Every figure comes
// from the totals the store keeps by day, as the journal windows' do.
Line journalLine(JournalBalances& journal, const std::string& book, const JournalAccount& a,
                 const QDate& from, const QDate& to) {
    Line line;
    line.code = a.code;
    line.number = a.number;
    line.name = a.name;
    line.kind = a.kind;
    line.stopped = a.state != kAccountInUse;
    const JournalBalances::Days kept = journal.days(book, a.code, iso(from), iso(to));
    line.journal.opening = journal.balanceWith(book, a.code, kept.before);
    std::int64_t balance = line.journal.opening;
    auto moved = kept.days.begin();
    line.days.reserve(static_cast<std::size_t>(from.daysTo(to) + 1));
    for (QDate d = from; d <= to; d = d.addDays(1)) {
        Day day{iso(d), 0, 0, 0};
        if (moved != kept.days.end() && moved->first == day.date) {
            day.in = moved->second.deb;
            day.out = moved->second.cre;
            line.journal.in += day.in;
            line.journal.out += day.out;
            line.journal.rows += moved->second.rows;
            ++moved;
        }
        balance += movement(false, day.in, day.out);
        day.closing = balance;
        line.days.push_back(std::move(day));
    }
    line.journal.closing = balance;
    return line;
}

// Text padded to a display width (a CJK character takes two columns).
std::string padded(const std::string& text, int width, bool right) {
    const QString t = QString::fromStdString(text);
    int w = 0;
    for (QChar ch : t) w += ch.unicode() >= 0x2E80 ? 2 : 1;
    const std::string fill(static_cast<std::size_t>(std::max(0, width - w)), ' ');
    return right ? fill + text : text + fill;
}

std::string plainCents(std::int64_t cents) {
    std::string s = formatCents(cents);
    s.erase(std::remove(s.begin(), s.end(), ','), s.end());
    return s;
}

}  // namespace

Figures& Figures::operator+=(const Figures& o) {
    opening += o.opening;
    in += o.in;
    out += o.out;
    closing += o.closing;
    rows += o.rows;
    return *this;
}

std::optional<std::int64_t> Line::difference() const {
    if (!statement) return std::nullopt;
    return journal.closing - *statement;
}

std::vector<Day> Report::totalDays() const {
    std::vector<Day> out;
    for (const auto* lines : {&cash, &bank})
        for (const Line& l : *lines) {
            if (out.empty())
                for (const Day& d : l.days) out.push_back({d.date, 0, 0, 0});
            for (std::size_t i = 0; i < l.days.size() && i < out.size(); ++i) {
                out[i].in += l.days[i].in;
                out[i].out += l.days[i].out;
                out[i].closing += l.days[i].closing;
            }
        }
    return out;
}

std::string dayAfter(const std::string& date) {
    return iso(parsed(date, "日期").addDays(1));
}

Report dailyFunds(Database& db, const std::string& book, const std::string& from,
                  const std::string& to) {
    const QDate first = parsed(from, "开始日期"), last = parsed(to, "结束日期");
    if (last < first) throw FundsError("结束日期不能早于开始日期。");
    if (first.daysTo(last) >= kLongestRange) throw FundsError("日期范围不能超过十年。");
    // One state of the store for every figure, however long the report takes.
    ReadSnapshot snapshot(db);
    auto set = TBookSet::load(db, book);
    if (!set) throw FundsError("账套 " + book + " 不存在。");
    Report r;
    r.bookCode = set->DispCode.empty() ? set->Code : set->DispCode;
    r.bookName = set->Name;
    r.from = from;
    r.to = to;
    JournalBalances journal(db, kCashJournalTable), statement(journal, kStatementTable);
    const std::string next = iso(last.addDays(1));
    for (const JournalAccount* a : journal.usableBy(book)) {
        if (a->kind != 1 && a->kind != 2) continue;
        // Another book set's account only where this one has rows on it.
        if (a->owner != book && journal.totalsBefore(book, a->code, next).rows == 0) continue;
        Line line = journalLine(journal, book, *a, first, last);
        if (line.stopped && line.journal.rows == 0) continue;
        if (a->kind == 1) {
            RowTotals rows;
            const std::int64_t balance = statement.before(book, a->code, next, &rows);
            if (rows.rows > 0) line.statement = balance;
        }
        Figures& subtotal = a->kind == 1 ? r.bankTotal : r.cashTotal;
        subtotal += line.journal;
        if (line.statement) {
            r.statementTotal = r.statementTotal.value_or(0) + *line.statement;
            r.statementJournal = r.statementJournal.value_or(0) + line.journal.closing;
        }
        (a->kind == 1 ? r.bank : r.cash).push_back(std::move(line));
    }
    r.total = r.cashTotal;
    r.total += r.bankTotal;
    return r;
}

std::string periodText(const Report& r) {
    return r.oneDay() ? r.from : r.from + " 至 " + r.to;
}

std::string reportText(const Report& r) {
    std::ostringstream o;
    o << "资金日报表\n账套：" << r.bookCode << " " << r.bookName << "    日期：" << periodText(r)
      << "\n";
    const int widths[] = {10, 22, 18, 16, 16, 16, 18, 6, 18, 14};
    const char* heads[] = {"账户编码", "账号",     "账户名称", "上日余额",   "本日收入",
                           "本日支出", "本日余额", "笔数",     "对账单余额", "差额"};
    for (int i = 0; i < 10; ++i) o << padded(heads[i], widths[i], i >= 3) << (i < 9 ? "  " : "\n");
    auto figures = [&](const std::string& code, const std::string& number, const std::string& name,
                       const Figures& f, std::optional<std::int64_t> stmt,
                       std::optional<std::int64_t> diff) {
        const std::string cells[] = {code,
                                     number,
                                     name,
                                     formatCents(f.opening),
                                     formatCents(f.in),
                                     formatCents(f.out),
                                     formatCents(f.closing),
                                     std::to_string(f.rows),
                                     stmt ? formatCents(*stmt) : std::string(),
                                     diff ? formatCents(*diff) : std::string()};
        for (int i = 0; i < 10; ++i)
            o << padded(cells[i], widths[i], i >= 3) << (i < 9 ? "  " : "\n");
    };
    for (const Line& l : r.cash)
        figures(l.code, l.number, l.name + (l.stopped ? " [已停用]" : ""), l.journal, {}, {});
    figures("", "", "现金小计", r.cashTotal, {}, {});
    for (const Line& l : r.bank)
        figures(l.code, l.number, l.name + (l.stopped ? " [已停用]" : ""), l.journal, l.statement,
                l.difference());
    std::optional<std::int64_t> diff;
    if (r.statementTotal) diff = *r.statementJournal - *r.statementTotal;
    figures("", "", "银行小计", r.bankTotal, r.statementTotal, diff);
    figures("", "", "合计", r.total, {}, {});
    return o.str();
}

std::string reportCsv(const Report& r) {
    std::ostringstream o;
    auto field = [](std::string t) {
        if (t.find_first_of(",\"\n") != std::string::npos) {
            std::string q = "\"";
            for (char c : t) q += c == '"' ? std::string("\"\"") : std::string(1, c);
            return q + "\"";
        }
        return t;
    };
    o << "账套,日期从,日期至,类别,账户编码,账号,账户名称,上日余额,本日收入,本日支出,本日余额,"
         "笔数,对账单余额,差额\n";
    auto row = [&](const char* kind, const std::string& code, const std::string& number,
                   const std::string& name, const Figures& f, std::optional<std::int64_t> stmt,
                   std::optional<std::int64_t> diff) {
        o << field(r.bookCode) << ',' << r.from << ',' << r.to << ',' << kind << ',' << field(code)
          << ',' << field(number) << ',' << field(name) << ',' << plainCents(f.opening) << ','
          << plainCents(f.in) << ',' << plainCents(f.out) << ',' << plainCents(f.closing) << ','
          << f.rows << ',' << (stmt ? plainCents(*stmt) : "") << ','
          << (diff ? plainCents(*diff) : "") << "\n";
    };
    for (const Line& l : r.cash) row("现金", l.code, l.number, l.name, l.journal, {}, {});
    row("现金小计", "", "", "", r.cashTotal, {}, {});
    for (const Line& l : r.bank)
        row("银行", l.code, l.number, l.name, l.journal, l.statement, l.difference());
    std::optional<std::int64_t> diff;
    if (r.statementTotal) diff = *r.statementJournal - *r.statementTotal;
    row("银行小计", "", "", "", r.bankTotal, r.statementTotal, diff);
    row("合计", "", "", "", r.total, {}, {});
    return o.str();
}

}  // namespace funds
