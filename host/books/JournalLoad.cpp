#include "JournalLoad.h"

#include <QDate>
#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "BankBalances.h"
#include "DayTotals.h"
#include "GlideParts.h"
#include "Regional.h"
#include "SqlConditions.h"
#include "Store.h"
#include "VoucherLinks.h"

// A journal load. The rows come in the order of the sort keys, within each month;
// summary rows are computed here:
//  - the scope is the rows of the book sets and account the conditions name,
//    of the accounts of the manager's subject kind; every other condition only
//    decides which rows of the scope are shown. Without a book set the scope is
//    the current book set and the user's book sets, never any other;
//  - a row's account is its book set's own, else its managing book set's. With
//    AccountSetCode set, only rows of that book set's account are loaded, so
//    two accounts that share a code are never mixed;
//  - every (book set, account) pair is a section of its own, one after the
//    other: an opening line, its rows and after each month that shows rows its
//    "本月合计" and "本年累计". Nothing is ever totalled over two sections;
//  - the opening line is "年初余额" when the range starts on 1 January, else
//    "期初余额". Its balance is the account's opening balance plus every row of
//    the pair dated before the range, so a date's balance does not depend on
//    where the range starts (a range in a later year opens with the closing
//    balance of the year before). It is JournalBalances::before (DayTotals.h):
//    one indexed lookup of the totals the store keeps by day, the same
//    function the daily funds report takes its balances from. The bank
//    statement opens with the bank's own opening balance where the cashier's
//    initialisation keeps one (the figure bankOpening reads for the
//    reconciliation), else with the account's, so the window and the
//    余额调节表 agree on every date. Over several book sets the opening line
//    names its book set in CR_Name;
//  - each row's Balance is the running balance of its section in journal
//    order. The cash and bank journals keep the enterprise's side (a debit
//    raises the balance); the bank statement keeps the bank's side (a credit,
//    money in, raises it);
//  - "本月合计" holds the debits and credits of the section's rows shown that
//    month, "本年累计" those of the rows that meet the conditions from 1 January
//    through that month; both carry the section's balance at the month's end;
//  - Direction is the side the balance stands on: "借" or "贷" ("平" for zero).
//
// The load is built in parts: the scope (book sets, year, accounts), the
// conditions as one SQL text with named parameters, the rows read per book
// set, and the section writer that turns rows into sections and summary lines.

namespace ledgerhost {

using namespace glide;

namespace {

// ---- Scope ----

// The book sets in scope, in code order: the one asked for, else the current
// book set and the user's.
std::vector<std::string> bookSetsInScope(const TCaGlideQry& q) {
    std::vector<std::string> sets;
    if (!q.SetCode.empty()) {
        sets.push_back(q.SetCode);
        return sets;
    }
    if (BookManage && BookManage->BookSet) sets.push_back(BookManage->BookSet->Code);
    if (UserManage) {
        TBookSetMng* own = UserManage->BookSetMng();
        for (int i = 0; i < own->GetCount(); ++i) sets.push_back(own->GetDetail(i)->Code);
    }
    std::sort(sets.begin(), sets.end());
    sets.erase(std::unique(sets.begin(), sets.end()), sets.end());
    return sets;
}

// 1 January of the range's year, else of the current book set's year.
std::string yearStartOf(const TCaGlideQry& q) {
    int year = 0;
    if (q.BCreateDate.size() >= 4) year = std::atoi(q.BCreateDate.substr(0, 4).c_str());
    if (year <= 0 && BookManage && BookManage->BookSet) year = BookManage->BookSet->Year;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-01-01", year > 0 && year < 10000 ? year : 1);
    return buf;
}

// The accounts in scope of a load: those of the manager's subject kind (and
// of the book set AccountSetCode names), found through the journal's balances,
// which read the accounts and who manages which book set once per load.
class AccountBook {
  public:
    AccountBook(JournalBalances& balances, const TCaGlideQry& q, std::int32_t subjectKind)
        : balances_(balances), q_(q), subjectKind_(subjectKind) {}

    // The account rows of a book set with this code use (its own, else its
    // managing book set's), if it is in scope; nothing otherwise.
    const JournalAccount* accountOf(const std::string& set, const std::string& as) const {
        const JournalAccount* a = balances_.account(set, as);
        if (!a) return nullptr;
        if (subjectKind_ != 0 && a->kind != subjectKind_) return nullptr;
        if (!q_.AccountSetCode.empty() && a->owner != q_.AccountSetCode) return nullptr;
        return a;
    }

    std::string title(const std::string& set) const { return balances_.title(set); }

  private:
    JournalBalances& balances_;
    const TCaGlideQry& q_;
    std::int32_t subjectKind_;
};

// ---- Conditions and SQL ----

// The conditions that decide which rows are shown.
SqlConditions shownConditions(const TCaGlideQry& q) {
    SqlConditions c;
    // A summary or cheque number finds the rows that contain it ("手续费"
    // finds "银行手续费").
    addRowConditions(c, q,
                     {"t.apply_user", "t.cr_code", "t.dp_code", "t.pay_code", "t.pm_code",
                      "t.summary", "t.voucher_class"},
                     TextMatch::Contains);
    // 0 … 0 is no number range; a bound of 0 leaves that end open.
    if (q.BDateOrNo != 0 && !std::isnan(q.BDateOrNo))
        c.compare("t.date_or_no", ">=", "first_number", wholeBound(q.BDateOrNo, true));
    if (q.EDateOrNo != 0 && !std::isnan(q.EDateOrNo))
        c.compare("t.date_or_no", "<=", "last_number", wholeBound(q.EDateOrNo, false));
    auto voucherBound = [](const std::string& v, bool lower) -> std::optional<std::int64_t> {
        if (v.empty() || v == "0") return std::nullopt;
        auto d = parseDecimal(v);
        if (!d || std::isnan(*d)) return std::nullopt;
        return wholeBound(*d, lower);
    };
    if (auto b = voucherBound(q.BVoucher_ID, true))
        c.compare("CAST(t.voucher_id AS BIGINT)", ">=", "first_voucher", *b);
    if (auto e = voucherBound(q.EVoucher_ID, false))
        c.compare("CAST(t.voucher_id AS BIGINT)", "<=", "last_voucher", *e);
    // With any operator but "全部" every amount is a bound, zero and negative
    // amounts included; "至" takes BMoney and EMoney in either order.
    const char* amount = "(CASE WHEN t.deb_cents <> 0 THEN t.deb_cents ELSE t.cre_cents END)";
    static const std::map<std::string, const char*> operators = {
        {"大于等于", ">="}, {"大于", ">"}, {"小于等于", "<="}, {"小于", "<"}, {"等于", "="}};
    if (q.OperSymble == "至") {
        std::int64_t b = centsBound(q.BMoney), e = centsBound(q.EMoney);
        c.between(amount, "amount", std::min(b, e), std::max(b, e));
    } else if (auto op = operators.find(q.OperSymble); op != operators.end()) {
        c.compare(amount, op->second, "amount", centsBound(q.EMoney));
    }
    return c;
}

// The order the rows come in. When the date leads the keys, SQLite reads the
// rows in the order of the account/date index and only rows that share the
// leading keys the index covers (the date, then the number) are put in order
// here; a full sort in SQLite would cost more than the whole read. Other
// orders are sorted by SQLite, months first so that months stay together.
class RowOrder {
  public:
    // A row read but not yet placed.
    struct Fetched {
        std::unique_ptr<TCaGlide> row;
        std::int64_t deb, cre, number;
        bool shown;
    };

    explicit RowOrder(TOrder_itemMng* items) : items_(items) {
        std::vector<std::string> keys;
        if (items)
            for (const auto& item : items->items()) keys.push_back(item.Field);
        else
            keys = {"create_date", "date_or_no"};
        if (!keys.empty() && keys[0] == "create_date")
            indexKeys_ = keys.size() > 1 && keys[1] == "date_or_no" ? 2 : 1;
        for (const auto& k : keys)
            if (auto f = orderColumns().find(k); f != orderColumns().end())
                order_.push_back(f->second.key);
    }

    // False when SQLite gives the whole order (rows are placed as read).
    bool sortsInMemory() const { return indexKeys_ != 0; }

    std::string orderBy() const {
        if (indexKeys_ == 2) return " ORDER BY t.as_code, t.create_date, t.date_or_no";
        if (indexKeys_ == 1) return " ORDER BY t.as_code, t.create_date";
        return " ORDER BY t.as_code, substr(t.create_date, 1, 7), " +
               (items_ ? items_->orderByTerms() : std::string("t.id"));
    }

    // Rows that tie on the keys SQLite ordered by; they wait to be sorted.
    bool sameLead(const Fetched& a, const Fetched& b) const {
        return a.row->CreateDate == b.row->CreateDate && (indexKeys_ < 2 || a.number == b.number);
    }

    // The order SQLite gives with ORDER BY on the same keys and then the id:
    // numbers by value, texts byte by byte.
    bool isBefore(const Fetched& a, const Fetched& b) const {
        for (SortKey k : order_)
            if (int c = compare(k, a, b); c != 0) return c < 0;
        return a.row->Id < b.row->Id;
    }

  private:
    static int compare(SortKey k, const Fetched& a, const Fetched& b) {
        auto cmp = [](auto x, auto y) { return (x > y) - (x < y); };
        switch (k) {
            case SortKey::Date:
                return a.row->CreateDate.compare(b.row->CreateDate);
            case SortKey::Number:
                return cmp(a.number, b.number);
            case SortKey::Debit:
                return cmp(a.deb, b.deb);
            case SortKey::Credit:
                return cmp(a.cre, b.cre);
            case SortKey::Summary:
                return a.row->Summary.compare(b.row->Summary);
            case SortKey::PayCode:
                return a.row->PayCode.compare(b.row->PayCode);
        }
        return 0;
    }

    TOrder_itemMng* items_;
    std::size_t indexKeys_ = 0;
    std::vector<SortKey> order_;
};
using Fetched = RowOrder::Fetched;

// The debits and credits of the rows of the year before the range (from
// :year_start) that meet the conditions, per account of one book set (:set,
// :as). Only read when there are conditions: without any, the kept day
// totals give them.
std::string beforeSql(const std::string& table, const std::string& match, bool oneAccount) {
    return "SELECT t.as_code, SUM(CASE WHEN " + match +
           " THEN t.deb_cents ELSE 0 END), SUM(CASE WHEN " + match +
           " THEN t.cre_cents ELSE 0 END) FROM " + table + " t WHERE t.set_code = :set" +
           (oneAccount ? " AND t.as_code = :as" : "") +
           " AND t.create_date >= :year_start AND t.create_date < :from GROUP BY t.as_code";
}

// The rows of one book set in the range, each account's after the other's;
// the last column says whether the row meets the conditions.
std::string rowsSql(const std::string& table, const std::string& match, const TCaGlideQry& q,
                    const RowOrder& order) {
    std::string sql =
        "SELECT t.id, t.set_code, t.as_code, t.create_date, t.date_or_no, t.summary, t.deb_cents, "
        "t.cre_cents, t.pay_code, t.pm_code, t.cr_code, t.dp_code, t.remark, t.apply_user, "
        "t.voucher_id, t.voucher_class, t.voucher_no, t.glide_flag, t.voucher_line_id, (" +
        match + "), t.reconciled, t.bank_balance_cents, t.row_version FROM " + table +
        " t WHERE t.set_code = :set";
    if (!q.AS_Code.empty()) sql += " AND t.as_code = :as";
    if (!q.BCreateDate.empty()) sql += " AND t.create_date >= :from";
    if (!q.ECreateDate.empty()) sql += " AND t.create_date <= :to";
    return sql + order.orderBy();
}

// ---- Sections ----

// One running balance per (book set, account).
struct Section {
    std::string set, as;
    std::int64_t balance = 0, ytdDeb = 0, ytdCre = 0;
};

// The sections of a load, made the first time a row names them.
// A section opens with its balance before the range (JournalBalances::before)
// and, when the load has no conditions, the year's rows before the range from
// the kept totals as well; with conditions those are read from the rows.
class Sections {
  public:
    Sections(const AccountBook& accounts, JournalBalances& balances, std::string from,
             std::string yearStart, bool keptYearTotals)
        : accounts_(accounts),
          balances_(balances),
          from_(std::move(from)),
          yearStart_(std::move(yearStart)),
          keptYearTotals_(keptYearTotals) {}

    // The section of a book set's account; nothing when out of scope.
    Section* of(const std::string& set, const std::string& as) {
        const std::string key = set + '\x1f' + as;
        auto it = sections_.find(key);
        if (it != sections_.end()) return &it->second;
        if (!accounts_.accountOf(set, as)) return nullptr;
        Section sec{set, as, balances_.before(set, as, from_), 0, 0};
        if (keptYearTotals_ && !from_.empty() && from_ > yearStart_) {
            const RowTotals year = balances_.totalsBefore(set, as, from_) -
                                   balances_.totalsBefore(set, as, yearStart_);
            sec.ytdDeb = year.deb;
            sec.ytdCre = year.cre;
        }
        return &sections_.emplace(key, std::move(sec)).first->second;
    }

  private:
    const AccountBook& accounts_;
    JournalBalances& balances_;
    const std::string from_, yearStart_;
    const bool keptYearTotals_;
    std::unordered_map<std::string, Section> sections_;
};

// Row objects of an earlier load, refilled rather than freed and made again:
// a journal is reloaded after every change, and building each row object
// afresh costs more than reading its row.
class RowPool {
  public:
    RowPool(std::vector<std::unique_ptr<TCaGlide>> rows, std::string table)
        : rows_(std::move(rows)), table_(std::move(table)) {
        std::reverse(rows_.begin(), rows_.end());  // taken from the front
    }
    std::unique_ptr<TCaGlide> take() {
        if (rows_.empty()) return std::make_unique<TCaGlide>(table_);
        auto r = std::move(rows_.back());
        rows_.pop_back();
        r->ErrorText.clear();
        r->OperFlag.clear();
        return r;
    }
    void give(std::unique_ptr<TCaGlide> r) { rows_.push_back(std::move(r)); }

  private:
    std::vector<std::unique_ptr<TCaGlide>> rows_;
    std::string table_;
};

// Writes sections into the row list: the opening line, the rows with their
// running balance, and after each month that shows rows "本月合计" and
// "本年累计".
class SectionWriter {
  public:
    SectionWriter(std::vector<std::unique_ptr<TCaGlide>>& out, RowPool& pool, const RowOrder& order,
                  const std::string& table, bool bankSide, std::string yearStart,
                  std::string openingDate)
        : out_(out),
          pool_(pool),
          order_(order),
          table_(table),
          bankSide_(bankSide),
          yearStart_(std::move(yearStart)),
          openingDate_(std::move(openingDate)) {}

    Section* current() const { return cur_; }

    // Starts a section with its opening line; `title` names the book set in
    // the unit column (empty over one book set). An expected section stays
    // even when it shows no row.
    void open(Section& sec, bool expected, const std::string& title) {
        cur_ = &sec;
        expected_ = expected;
        shown_ = false;
        month_.clear();
        ytdYear_ = yearStart_.substr(0, 4);
        monthShown_ = false;
        monDeb_ = monCre_ = 0;
        out_.push_back(summaryRow(openingDate_ == yearStart_ ? kYearOpening : kPeriodOpening,
                                  openingDate_, 0, 0));
        out_.back()->CR_Name = title;
    }

    // Takes the next row of the open section: placed at once when SQLite
    // gave its order, else held with the rows that tie with it.
    void add(Fetched f) {
        if (!order_.sortsInMemory()) return place(f);
        if (!group_.empty() && !order_.sameLead(group_.back(), f)) flush();
        group_.push_back(std::move(f));
    }

    // Ends the open section: its last month's totals; an unexpected section
    // that showed no row is dropped with its opening line.
    void close() {
        flush();
        if (!cur_) return;
        closeMonth();
        if (!shown_ && !expected_) out_.pop_back();
        cur_ = nullptr;
    }

  private:
    void flush() {
        if (group_.size() > 1)
            std::stable_sort(
                group_.begin(), group_.end(),
                [this](const Fetched& a, const Fetched& b) { return order_.isBefore(a, b); });
        for (auto& f : group_) place(f);
        group_.clear();
    }

    void place(Fetched& f) {
        const std::string_view m = std::string_view(f.row->CreateDate).substr(0, 7);
        if (m != month_) startMonth(m);
        std::int64_t& bal = cur_->balance;
        bal += movement(bankSide_, f.deb, f.cre);
        if (!f.shown) {  // read for the balance only
            pool_.give(std::move(f.row));
            return;
        }
        monthShown_ = shown_ = true;
        monDeb_ += f.deb;
        monCre_ += f.cre;
        cur_->ytdDeb += f.deb;
        cur_->ytdCre += f.cre;
        f.row->Balance = fromCents(bal);
        f.row->Direction = directionOf(bal, bankSide_);
        out_.push_back(std::move(f.row));
    }

    void startMonth(std::string_view m) {
        closeMonth();
        month_ = m;
        if (month_.substr(0, 4) != ytdYear_) {
            ytdYear_ = month_.substr(0, 4);
            cur_->ytdDeb = cur_->ytdCre = 0;
        }
        monthShown_ = false;
        monDeb_ = monCre_ = 0;
    }

    void closeMonth() {
        if (month_.empty() || !monthShown_) return;
        QDate first = QDate::fromString(QString::fromStdString(month_ + "-01"), "yyyy-MM-dd");
        std::string last =
            first.isValid() ? isoDate(first.addMonths(1).addDays(-1)) : month_ + "-31";
        out_.push_back(summaryRow(kMonthTotal, last, monDeb_, monCre_));
        out_.push_back(summaryRow(kYearTotal, last, cur_->ytdDeb, cur_->ytdCre));
    }

    std::unique_ptr<TCaGlide> summaryRow(const char* text, const std::string& date,
                                         std::int64_t deb, std::int64_t cre) const {
        auto r = std::make_unique<TCaGlide>(table_);
        r->Summary = text;
        r->CreateDate = date;
        r->DebMoney = fromCents(deb);
        r->CreMoney = fromCents(cre);
        r->Balance = fromCents(cur_->balance);
        r->Direction = directionOf(cur_->balance, bankSide_);
        r->SetCode = cur_->set;
        r->AS_Code = cur_->as;
        return r;
    }

    std::vector<std::unique_ptr<TCaGlide>>& out_;
    RowPool& pool_;
    const RowOrder& order_;
    const std::string& table_;
    const bool bankSide_;
    const std::string yearStart_, openingDate_;
    std::vector<Fetched> group_;
    Section* cur_ = nullptr;  // nothing: rows out of scope
    bool expected_ = false, shown_ = false, monthShown_ = false;
    std::string month_, ytdYear_;
    std::int64_t monDeb_ = 0, monCre_ = 0;
};

// ---- The load ----

class JournalLoad {
  public:
    JournalLoad(const JournalSource& src, std::vector<std::unique_ptr<TCaGlide>>& rows)
        : src_(src),
          q_(src.query),
          table_(checkedTable(src.table)),
          bankSide_(table_ == kStatementTable),
          sets_(bookSetsInScope(q_)),
          balances_(src.db, table_),
          accounts_(balances_, q_, src.subjectKind),
          conditions_(shownConditions(q_)),
          sections_(accounts_, balances_, q_.BCreateDate, yearStartOf(q_), conditions_.empty()),
          order_(src.order),
          pool_(std::move(rows), table_),
          writer_(rows, pool_, order_, table_, bankSide_, yearStartOf(q_),
                  q_.BCreateDate.empty() ? yearStartOf(q_) : q_.BCreateDate),
          links_(src.db),
          rowsStmt_(src.db.prepare(rowsSql(table_, conditions_.sql(), q_, order_))) {
        rows.clear();
        rowsStmt_.streamRows();
        SqlParams& p = conditions_.params();
        p.set("year_start", yearStartOf(q_));
        if (!q_.AS_Code.empty()) p.set("as", q_.AS_Code);
        if (!q_.BCreateDate.empty()) {
            p.set("from", q_.BCreateDate);
            if (!conditions_.empty())
                before_.emplace(
                    src.db.prepare(beforeSql(table_, conditions_.sql(), !q_.AS_Code.empty())));
        }
        if (!q_.ECreateDate.empty()) p.set("to", q_.ECreateDate);
    }

    void run() {
        for (const std::string& set : sets_) loadBookSet(set);
    }

  private:
    void loadBookSet(const std::string& set) {
        conditions_.params().set("set", set);
        Section* expected = expectedSection(set);
        addRowsBefore(set);
        readRows(set, expected);
    }

    // The section the query names in this book set, shown even without rows:
    // the account's own book set, or the one book set asked for.
    Section* expectedSection(const std::string& set) {
        if (q_.AS_Code.empty()) return nullptr;
        const JournalAccount* a = accounts_.accountOf(set, q_.AS_Code);
        if (a && (a->owner == set || set == q_.SetCode)) return sections_.of(set, q_.AS_Code);
        return nullptr;
    }

    // Under conditions, the year-to-date totals of each section take the
    // rows of the year before the range that meet them.
    void addRowsBefore(const std::string& set) {
        if (!before_) return;
        before_->reset();
        conditions_.params().bindTo(*before_);
        while (before_->step())
            if (Section* sec = sections_.of(set, before_->text(0))) {
                sec->ytdDeb += before_->i64(1);
                sec->ytdCre += before_->i64(2);
            }
    }

    // The rows of one book set, a section per account; the expected section
    // takes its place in account order even without rows.
    void readRows(const std::string& set, Section* expected) {
        Stmt& s = rowsStmt_;
        s.reset();
        conditions_.params().bindTo(s);
        std::string lastAs;
        bool started = false;
        while (s.step()) {
            std::string_view asCode = s.textView(2);
            if (!started || asCode != lastAs) {
                writer_.close();
                lastAs = asCode;
                started = true;
                if (expected && expected->as < lastAs) {
                    openSection(*expected, true);
                    writer_.close();
                    expected = nullptr;
                }
                if (Section* sec = sections_.of(set, lastAs)) {
                    openSection(*sec, sec == expected);
                    if (sec == expected) expected = nullptr;
                }
            }
            if (writer_.current()) writer_.add(fetch(s, *writer_.current()));
        }
        writer_.close();
        if (expected) {
            openSection(*expected, true);
            writer_.close();
        }
    }

    void openSection(Section& sec, bool expected) {
        // Over several book sets the opening line names its book set in the
        // unit column, as the information line does for one.
        writer_.open(sec, expected, sets_.size() > 1 ? accounts_.title(sec.set) : std::string());
    }

    // The row the statement stands on, filled into a row object.
    Fetched fetch(Stmt& s, const Section& sec) {
        Fetched f{pool_.take(), s.i64(6), s.i64(7), s.i64(4), s.i32(19) != 0};
        TCaGlide& r = *f.row;
        r.Id = s.i64(0);
        r.SetCode = sec.set;
        r.AS_Code = sec.as;
        r.CreateDate = s.textView(3);
        r.DateOrNo = std::to_string(f.number);
        r.Summary = s.textView(5);
        r.DebMoney = fromCents(f.deb);
        r.CreMoney = fromCents(f.cre);
        r.PayCode = s.textView(8);
        r.PM_Code = s.textView(9);
        r.CR_Code = s.textView(10);
        r.DP_Code = s.textView(11);
        r.Remark = s.textView(12);
        r.ApplyUser = s.textView(13);
        r.Voucher_ID = s.textView(14);
        r.VoucherClass = s.i32(15);
        if (f.shown) links_.fill(r);  // VoucherNo (and the type) from the linked voucher
        r.GlideFlag = s.textView(17);
        r.VoucherLineId = s.isNull(18) ? 0 : s.i64(18);
        r.Reconciled = s.i32(20) != 0;
        r.BankBalanceCents.reset();
        if (!s.isNull(21)) r.BankBalanceCents = s.i64(21);
        r.RowVersion = s.i64(22);
        if (r.CR_Code.empty())
            r.CR_Name.clear();
        else if (f.shown)
            r.CR_Name = src_.counterparts.GetDisplayName(r.CR_Code, 0);
        return f;
    }

    const JournalSource& src_;
    const TCaGlideQry& q_;
    const std::string table_;
    const bool bankSide_;
    const std::vector<std::string> sets_;
    JournalBalances balances_;
    AccountBook accounts_;
    SqlConditions conditions_;
    Sections sections_;
    RowOrder order_;
    RowPool pool_;
    SectionWriter writer_;
    VoucherLinks links_;
    Stmt rowsStmt_;
    std::optional<Stmt> before_;
};

}  // namespace

void loadJournal(const JournalSource& source, std::vector<std::unique_ptr<TCaGlide>>& rows) {
    JournalLoad(source, rows).run();
}

}  // namespace ledgerhost
