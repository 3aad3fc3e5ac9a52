// The balance reconciliation statement as at a date, as text and as CSV.

#include <map>

#include "Reconcile.h"
#include "ReconcileRows.h"

namespace reconcile {

using namespace detail;

std::string Report::partsFrom() const {
    if (!breaks.empty()) return breaks.front().date;
    if (bankFigure && bankDifference() != 0) return bankFigure->date;
    return {};
}

Report Reconciler::report(const std::string& until) {
    dayNumber(until);
    checkInYear(until);
    Report r;
    r.bookCode = account_.setCode;
    {
        Stmt s = db_.prepare("SELECT name FROM book_sets WHERE code = ?");
        s.bind(1, account_.setCode);
        if (s.step()) r.bookName = s.text(0);
    }
    r.account = account_;
    r.until = until;
    // One read: both sides' rows up to the date, so the balances and the
    // outstanding items come from the same snapshot. A read takes no write
    // lock, so the statement can be printed while another program imports.
    ledgerhost::ReadSnapshot snapshot(db_);
    std::vector<SideRow> js = rows(true, "", until, false);
    std::vector<SideRow> ss = rows(false, "", until, false);
    // A group settles its rows at its latest member's date; before then its
    // rows were still outstanding.
    std::unordered_map<std::int64_t, std::string> settled;
    for (const auto* side : {&js, &ss})
        for (const SideRow& row : *side)
            if (row.group) {
                std::string& last = settled[row.group];
                last = std::max(last, row.date);
            }
    // Members dated after `until` were not read: a group with such a member
    // was not settled yet.
    {
        const std::string sets = inBookSets(account_, 3);
        Stmt s = db_.prepare("SELECT reconcile_group FROM CaGlide WHERE " + sets +
                             " AND as_code = ?1 AND create_date > ?2 AND reconcile_group IS NOT "
                             "NULL UNION SELECT reconcile_group FROM CaCollateGlide WHERE " +
                             sets +
                             " AND as_code = ?1 AND create_date > ?2 AND reconcile_group IS NOT "
                             "NULL");
        s.bind(1, account_.asCode).bind(2, until);
        bindBookSets(s, account_, 3);
        while (s.step()) settled.erase(s.i64(0));
    }
    r.journalBalance = account_.openingCents;
    // The statement's side: its running balance from the bank's opening, and
    // where the bank's own balances part from it.
    const ledgerhost::StatementWalk walk =
        ledgerhost::walkStatement(db_, account_.setCode, account_.asCode, until);
    r.bankOpening = walk.opening;
    r.bankBalance = walk.balance;
    r.breaks = walk.breaks;
    {
        // The bank's figure: the latest reported or entered one on or before
        // the date; one entered for the same date as a reported one wins.
        if (walk.lastReported)
            r.bankFigure =
                BankFigure{walk.lastReported->date, walk.lastReported->cents, false, {}, {}};
        Stmt c = db_.prepare(
            "SELECT closing_date, cents, made_by, made_at FROM reconcile_closings WHERE "
            "set_code = ? AND as_code = ? AND closing_date <= ? ORDER BY closing_date DESC "
            "LIMIT 1");
        c.bind(1, account_.setCode).bind(2, account_.asCode).bind(3, until);
        if (c.step() && (!r.bankFigure || c.text(0) >= r.bankFigure->date))
            r.bankFigure = BankFigure{c.text(0), c.i64(1), true, c.text(2), c.text(3)};
        if (r.bankFigure) {
            const std::int64_t rows = walk.totalUntil(r.bankFigure->date);
            r.statementAtFigure = walk.opening.value_or(0) + rows;
            if (!walk.opening) r.impliedOpening = r.bankFigure->cents - rows;
        }
    }
    auto item = [](const SideRow& row, std::int64_t cents) {
        return ReportItem{row.ref, row.date, row.number, row.cheque, row.summary, cents};
    };
    for (const SideRow& row : js) {
        if (row.ref.source != Source::Opening) r.journalBalance += row.net();
        if (row.group && settled.count(row.group)) continue;
        if (row.net() > 0) r.bookedInNotBank.push_back(item(row, row.net()));
        if (row.net() < 0) r.bookedOutNotBank.push_back(item(row, -row.net()));
    }
    for (const SideRow& row : ss) {
        if (row.group && settled.count(row.group)) continue;
        if (row.net() > 0) r.bankInNotBooked.push_back(item(row, row.net()));
        if (row.net() < 0) r.bankOutNotBooked.push_back(item(row, -row.net()));
    }
    auto sum = [](const std::vector<ReportItem>& items) {
        std::int64_t total = 0;
        for (const ReportItem& i : items) total += i.cents;
        return total;
    };
    r.adjustedJournal = r.journalBalance + sum(r.bankInNotBooked) - sum(r.bankOutNotBooked);
    r.adjustedBank = r.bankBalance + sum(r.bookedInNotBank) - sum(r.bookedOutNotBank);
    if (!r.balanced()) {
        // An item of the difference's amount, or of half of it (booked in the
        // wrong sense), may explain it.
        const std::int64_t diff = std::abs(r.difference());
        for (const auto* items :
             {&r.bankInNotBooked, &r.bankOutNotBooked, &r.bookedInNotBank, &r.bookedOutNotBank})
            for (const ReportItem& i : *items)
                if (i.cents == diff || i.cents * 2 == diff) r.suspects.push_back(i);
    }
    return r;
}

namespace {

struct Section {
    const char* title;
    const std::vector<ReportItem>* items;
    char sign;
};

}  // namespace

std::vector<std::string> bankCheckLines(const Report& r) {
    std::vector<std::string> out;
    if (!r.bankOpening) {
        std::string line =
            "银行对账单年初余额未设置，调节表不能证明两边相符：请在“期初未达账项”中录入。";
        if (r.impliedOpening)
            line += "按银行所报余额推算，年初余额应为 " + formatCents(*r.impliedOpening) + "。";
        out.push_back(line);
    }
    if (!r.bankFigure) {
        if (!r.bankOpening) return out;
        out.push_back(
            "没有银行的余额可核对：对账单没有带银行所报余额，也没有录入对账单期末余额；"
            "以上只说明两边的记录自相一致，没有与银行核对。");
    } else {
        const BankFigure& f = *r.bankFigure;
        const std::string whose = f.entered
                                      ? "录入的对账单期末余额（" + f.by + " 于 " + f.at + " 录入）"
                                      : std::string("银行所报余额");
        if (!r.bankOpening) {
            // The opening line above says what is missing.
        } else if (r.bankDifference() == 0 && r.breaks.empty())
            out.push_back("对账单余额与" + whose + "相符（" + f.date + "：" + formatCents(f.cents) +
                          "）。");
        else if (r.bankDifference() != 0)
            out.push_back("对账单余额与" + whose + "不符：" + f.date + " 对账单余额 " +
                          formatCents(r.statementAtFigure) + "，银行 " + formatCents(f.cents) +
                          "，相差 " + formatCents(r.bankDifference()) + "。");
    }
    if (!r.breaks.empty())
        out.push_back("自 " + r.partsFrom() +
                      " 起对账单与银行所报余额分开：对账单可能缺行、重行或被改动。");
    for (const ledgerhost::BalanceBreak& b : r.breaks)
        out.push_back("  余额不符：" + b.date + "  " + std::to_string(b.number) + "  银行所报 " +
                      formatCents(b.reported) + "，按对账单应为 " + formatCents(b.expected) +
                      "，相差 " + formatCents(b.difference()) +
                      (b.since.empty() ? "（自年初起）" : "（" + b.since + " 之后）"));
    return out;
}

std::string balancedVerdict(const Report& r) {
    if (!r.bankFigure) return "两边调节后余额相符（没有与银行的余额核对）。";
    if (!r.bankAgrees()) return "两边调节后余额相符，但对账单与银行的余额不符（见下）。";
    return "两边调节后余额相符。";
}

std::string reportText(const Report& r) {
    std::string out = "银行存款余额调节表\n";
    out += "账套：" + r.bookCode + " " + r.bookName + "  账户：" + r.account.number + " " +
           r.account.name + "  截至：" + r.until + "\n\n";
    auto sectionText = [&](const Section& s) {
        std::int64_t total = 0;
        for (const ReportItem& i : *s.items) total += i.cents;
        out += std::string(1, s.sign) + " " + s.title + "  " + formatCents(total) + "\n";
        for (const ReportItem& i : *s.items)
            out += "    " + i.date + "  " + std::to_string(i.number) + "  " +
                   (i.cheque.empty() ? "" : i.cheque + "  ") + i.summary + "  " +
                   formatCents(i.cents) + "\n";
    };
    out += "银行日记账余额  " + formatCents(r.journalBalance) + "\n";
    sectionText({"银行已收、企业未收", &r.bankInNotBooked, '+'});
    sectionText({"银行已付、企业未付", &r.bankOutNotBooked, '-'});
    out += "调节后余额  " + formatCents(r.adjustedJournal) + "\n\n";
    out += "银行对账单余额  " +
           (r.bankOpening ? formatCents(r.bankBalance) : std::string("（年初余额未设置）")) + "\n";
    sectionText({"企业已收、银行未收", &r.bookedInNotBank, '+'});
    sectionText({"企业已付、银行未付", &r.bookedOutNotBank, '-'});
    out += "调节后余额  " +
           (r.bankOpening ? formatCents(r.adjustedBank) : std::string("（无法计算）")) + "\n\n";
    if (!r.bankOpening) {
        // Nothing to compare: counting an unset opening as 0 would prove nothing.
    } else if (r.balanced()) {
        out += balancedVerdict(r) + "\n";
    } else {
        out += "两边调节后余额不符，相差 " + formatCents(r.difference()) + "。\n";
        for (const ReportItem& i : r.suspects)
            out += "  可能有关：" + i.date + "  " + std::to_string(i.number) + "  " + i.summary +
                   "  " + formatCents(i.cents) + "\n";
    }
    for (const std::string& line : bankCheckLines(r)) out += line + "\n";
    return out;
}

namespace {

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string plain(std::int64_t cents) {
    std::string s = formatCents(cents);
    s.erase(std::remove(s.begin(), s.end(), ','), s.end());
    return s;
}

}  // namespace

std::string reportCsv(const Report& r) {
    std::string out = "项目,日期,统一号,票据号,摘要,金额\n";
    auto line = [&](const std::string& what, const std::string& date, const std::string& no,
                    const std::string& cheque, const std::string& summary, std::int64_t cents) {
        out += csvField(what) + "," + date + "," + no + "," + csvField(cheque) + "," +
               csvField(summary) + "," + plain(cents) + "\n";
    };
    auto items = [&](const char* title, const std::vector<ReportItem>& list) {
        for (const ReportItem& i : list)
            line(title, i.date, std::to_string(i.number), i.cheque, i.summary, i.cents);
    };
    if (!r.bankOpening) line("银行对账单年初余额", "", "", "", "未设置", 0);
    line("银行日记账余额", r.until, "", "", "", r.journalBalance);
    items("银行已收企业未收", r.bankInNotBooked);
    items("银行已付企业未付", r.bankOutNotBooked);
    line("银行日记账调节后余额", r.until, "", "", "", r.adjustedJournal);
    line("银行对账单余额", r.until, "", "", "", r.bankBalance);
    items("企业已收银行未收", r.bookedInNotBank);
    items("企业已付银行未付", r.bookedOutNotBank);
    line("银行对账单调节后余额", r.until, "", "", "", r.adjustedBank);
    line("差额", r.until, "", "", "", r.difference());
    // What may explain a difference: items of its amount, and the rows where
    // the statement and the bank's balances part.
    items("可能有关", r.suspects);
    if (r.bankFigure) {
        line(r.bankFigure->entered ? "录入的对账单期末余额" : "银行所报余额", r.bankFigure->date,
             "", "", "", r.bankFigure->cents);
        line("对账单余额", r.bankFigure->date, "", "", "", r.statementAtFigure);
        line("与银行相差", r.bankFigure->date, "", "", "", r.bankDifference());
    }
    for (const ledgerhost::BalanceBreak& b : r.breaks)
        line("余额不符", b.date, std::to_string(b.number), "",
             "银行所报 " + plain(b.reported) + "，按对账单应为 " + plain(b.expected) +
                 (b.since.empty() ? "" : "，" + b.since + " 之后"),
             b.difference());
    return out;
}

}  // namespace reconcile
