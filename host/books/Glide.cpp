#include "Glide.h"

#include <QDate>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "DayTotals.h"
#include "GlideParts.h"
#include "History.h"
#include "JournalLoad.h"
#include "Regional.h"
#include "VoucherLinks.h"

namespace ledgerhost {

bool isSummaryText(const std::string& s) {
    return s == kYearOpening || s == kPeriodOpening || s == kMonthTotal || s == kYearTotal;
}

namespace {

// The number of `digits` characters of `text` from `at` on; -1 when they are
// not all digits. Checked for every row a store operation writes, so it makes
// no strings.
int digitsAt(const std::string& text, std::size_t at, std::size_t digits) {
    if (text.size() < at + digits) return -1;
    int n = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

std::string closedYearProblem(const TBookSet& book, const std::string& date) {
    if (book.Year <= 0 || date.size() < 4) return {};
    const int year = std::atoi(date.substr(0, 4).c_str());
    const int first = book.StartYear > 0 ? book.StartYear : book.Year;
    if (year >= first && year < book.Year)
        return "日期 " + date + " 所在的 " + std::to_string(year) +
               " 年度已经结转，不能录入、修改或删除该年度的记录。";
    return {};
}

std::string journalRowProblem(const TBookSet& book, const std::string& createDate,
                              const std::string& summary) {
    if (isSummaryText(summary)) return "摘要不能是“" + summary + "”：这是系统的合计行所用的文字。";
    if (book.Year <= 0) return {};
    // The usual row, dated in the book year after the month the books began,
    // is told without building the texts below.
    const int first = book.StartYear > 0 ? book.StartYear : book.Year;
    const int month = digitsAt(createDate, 5, 2);
    if (book.Year >= 1000 && book.Year <= 9999 && digitsAt(createDate, 0, 4) == book.Year &&
        (book.Year != first || book.StartMonth <= 1 || month >= book.StartMonth))
        return {};
    if (std::string closed = closedYearProblem(book, createDate); !closed.empty()) return closed;
    if (createDate.size() < 4 || createDate.compare(0, 4, std::to_string(book.Year)) != 0)
        return "日期 " + createDate + " 不在账套的会计年度 " + std::to_string(book.Year) +
               " 年内。";
    // In the first year the books begin with the month first used: what came
    // before is in the openings.
    if (book.Year == first && book.StartMonth > 1 && createDate.size() >= 7 &&
        std::atoi(createDate.substr(5, 2).c_str()) < book.StartMonth)
        return "日期 " + createDate + " 在账套的启用期间 " + std::to_string(first) + " 年 " +
               std::to_string(book.StartMonth) + " 月之前。";
    return {};
}

namespace glide {

const std::string& checkedTable(const std::string& name) {
    if (name != kCashJournalTable && name != kStatementTable)
        throw StoreError("未知的日记账表：" + name);
    return name;
}

std::string directionOf(std::int64_t cents, bool bankSide) {
    if (cents == 0) return "平";
    return (cents > 0) != bankSide ? "借" : "贷";
}

std::int64_t wholeBound(double v, bool lower) {
    v = std::clamp(v, -1e15, 1e15);
    return static_cast<std::int64_t>(lower ? std::ceil(v) : std::floor(v));
}
std::int64_t centsBound(double v) {
    if (std::isnan(v)) return 0;
    return toCents(std::clamp(v, -1e14, 1e14));
}

const std::map<std::string, SortColumn>& orderColumns() {
    static const std::map<std::string, SortColumn> m = {
        {"create_date", {"t.create_date", SortKey::Date}},
        {"date_or_no", {"t.date_or_no", SortKey::Number}},
        {"deb_cents", {"t.deb_cents", SortKey::Debit}},
        {"cre_cents", {"t.cre_cents", SortKey::Credit}},
        {"summary", {"t.summary", SortKey::Summary}},
        {"pay_code", {"t.pay_code", SortKey::PayCode}},
    };
    return m;
}

}  // namespace glide

using glide::checkedTable;
using glide::orderColumns;

namespace {

bool validAmount(double v) {
    return std::isfinite(v) && std::fabs(v) < 1e13;
}

// Writes journal rows: checks each against its book set and account and gives
// it its number. Book sets, accounts and the next numbers are cached, so a
// batch of many rows costs one prepared insert per row. On a server a batch
// (`batch`) queues its inserts and writes them with COPY, their ids drawn from
// the table's sequence first, instead of a round trip per row; flush() writes
// what is queued, and must be called before the batch ends.
class RowWriter {
  public:
    RowWriter(Database& db, const std::string& table, bool batch = false)
        : db_(db),
          batch_(batch && db.engine() == Database::Engine::PostgreSQL),
          table_(checkedTable(table)),
          insert_(db.prepareInsert(
              "INSERT INTO " + table_ +
              " (set_code, as_code, create_date, date_or_no, summary, deb_cents, cre_cents, "
              "pay_code, pm_code, cr_code, dp_code, remark, apply_user, voucher_id, "
              "voucher_class, voucher_no, glide_flag, voucher_line_id, bank_balance_cents) "
              "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")) {}

    // Throws StoreError with the reason when the row must not be stored.
    void check(const TCaGlide& row) {
        const TBookSet& book = bookSet(row.SetCode);
        if (book.EntryLocked)
            throw StoreError("账套 " + book.DispCode + " 已锁定，不能录入或修改记录。");
        const TBankAccount* acc = account(book, row.AS_Code);
        if (!acc) throw StoreError("账号 " + row.AS_Code + " 不存在。");
        if (acc->State != kAccountInUse)
            throw StoreError("账号 " + acc->AccountNo + " 已停用，不能录入。");
        if (row.CreateDate.size() != 10 || !isIsoDate(row.CreateDate))
            throw StoreError("日期格式错误：" + row.CreateDate);
        if (std::string why = journalRowProblem(book, row.CreateDate, row.Summary); !why.empty())
            throw StoreError(why);
        if (!validAmount(row.DebMoney) || !validAmount(row.CreMoney))
            throw StoreError("金额超出范围。");
    }

    void insert(TCaGlide& row) {
        check(row);
        std::int64_t no = number(row);
        kept_.add(row.SetCode, row.AS_Code, row.CreateDate, toCents(row.DebMoney),
                  toCents(row.CreMoney));
        if (batch_) {
            row.DateOrNo = std::to_string(no);
            queued_.emplace_back(&row, no);
            if (queued_.size() >= kBatchRows) flush();
            return;
        }
        // Every parameter is bound again, and the row's texts outlive the
        // insert: they are bound without copies.
        static const std::string kNoVoucher = "0";
        insert_.resetKeepingBindings();
        insert_.bindStatic(1, row.SetCode)
            .bindStatic(2, row.AS_Code)
            .bindStatic(3, row.CreateDate)
            .bind(4, no)
            .bindStatic(5, row.Summary)
            .bind(6, toCents(row.DebMoney))
            .bind(7, toCents(row.CreMoney))
            .bindStatic(8, row.PayCode)
            .bindStatic(9, row.PM_Code)
            .bindStatic(10, row.CR_Code)
            .bindStatic(11, row.DP_Code)
            .bindStatic(12, row.Remark)
            .bindStatic(13, row.ApplyUser)
            .bindStatic(14, row.Voucher_ID.empty() ? kNoVoucher : row.Voucher_ID)
            .bind(15, row.VoucherClass)
            .bind(16, row.VoucherNo)
            .bindStatic(17, row.GlideFlag);
        if (row.VoucherLineId)
            insert_.bind(18, row.VoucherLineId);
        else
            insert_.bindNull(18);
        if (row.BankBalanceCents)
            insert_.bind(19, *row.BankBalanceCents);
        else
            insert_.bindNull(19);
        row.Id = insert_.insert();
        row.DateOrNo = std::to_string(no);
    }

    // Writes the queued rows of a batch and gives them their ids, and what
    // the rows written since the last flush change in the kept day totals
    // (once per block, not per row).
    void flush() {
        writeQueued();
        kept_.apply(db_, table_);
    }

    // The kept day totals' changes of the rows written through this writer.
    DayTotalsChange& kept() { return kept_; }

  private:
    void writeQueued() {
        if (queued_.empty()) return;
        std::vector<std::int64_t> ids;
        ids.reserve(queued_.size());
        // One block of the table's sequence: every writer holds the write
        // lock, so moving the sequence past the block reserves it (as many
        // nextval calls would, at a fraction of the cost).
        const auto n = static_cast<std::int64_t>(queued_.size());
        Stmt seq = db_.prepare("SELECT setval(pg_get_serial_sequence('" + table_ +
                               "', 'id'), nextval(pg_get_serial_sequence('" + table_ +
                               "', 'id')) + ? - 1)");
        seq.bind(1, n);
        if (!seq.step()) throw StoreError("数据库错误：无法取得记录编号。");
        const std::int64_t last = seq.i64(0);
        for (std::int64_t id = last - n + 1; id <= last; ++id) ids.push_back(id);
        BulkInsert copy(db_, table_,
                        {"id",         "set_code",   "as_code",         "create_date",
                         "date_or_no", "summary",    "deb_cents",       "cre_cents",
                         "pay_code",   "pm_code",    "cr_code",         "dp_code",
                         "remark",     "apply_user", "voucher_id",      "voucher_class",
                         "voucher_no", "glide_flag", "voucher_line_id", "bank_balance_cents"});
        for (std::size_t k = 0; k < queued_.size(); ++k) {
            const auto& [row, no] = queued_[k];
            copy.add(ids[k]).add(row->SetCode).add(row->AS_Code).add(row->CreateDate).add(no);
            copy.add(row->Summary).add(toCents(row->DebMoney)).add(toCents(row->CreMoney));
            copy.add(row->PayCode).add(row->PM_Code).add(row->CR_Code).add(row->DP_Code);
            copy.add(row->Remark).add(row->ApplyUser);
            copy.add(row->Voucher_ID.empty() ? std::string("0") : row->Voucher_ID);
            copy.add(row->VoucherClass).add(row->VoucherNo).add(row->GlideFlag);
            if (row->VoucherLineId)
                copy.add(row->VoucherLineId);
            else
                copy.addNull();
            if (row->BankBalanceCents)
                copy.add(*row->BankBalanceCents);
            else
                copy.addNull();
            copy.endRow();
        }
        copy.finish();
        for (std::size_t k = 0; k < queued_.size(); ++k) queued_[k].first->Id = ids[k];
        queued_.clear();
    }

  public:
    // The next free number of the row's book set and account.
    std::int64_t nextNumber(const std::string& setCode, const std::string& asCode) {
        auto key = setCode + '\x1f' + asCode;
        auto it = next_.find(key);
        if (it == next_.end()) {
            Stmt s = db_.prepare("SELECT COALESCE(MAX(date_or_no), 0) FROM " + table_ +
                                 " WHERE set_code = ? AND as_code = ?");
            s.bind(1, setCode).bind(2, asCode);
            s.step();
            it = next_.emplace(key, s.i64(0) + 1).first;
        }
        return it->second;
    }

  private:
    // The row keeps the number it was given when that number is still free;
    // otherwise it gets the next one.
    std::int64_t number(const TCaGlide& row) {
        std::int64_t next = nextNumber(row.SetCode, row.AS_Code);
        std::int64_t wanted = 0;
        if (auto v = parseDecimal(row.DateOrNo); v && *v >= 1 && *v == std::floor(*v) && *v < 1e15)
            wanted = static_cast<std::int64_t>(*v);
        std::int64_t no = wanted >= next ? wanted : next;
        if (wanted > 0 && wanted < next) {
            flush();  // the queued rows' numbers are taken too
            Stmt s = db_.prepare("SELECT 1 FROM " + table_ +
                                 " WHERE set_code = ? AND as_code = ? AND date_or_no = ?");
            s.bind(1, row.SetCode).bind(2, row.AS_Code).bind(3, wanted);
            if (!s.step()) no = wanted;
        }
        auto key = row.SetCode + '\x1f' + row.AS_Code;
        next_[key] = std::max(next, no + 1);
        return no;
    }

    const TBookSet& bookSet(const std::string& code) {
        auto it = books_.find(code);
        if (it == books_.end()) {
            auto b = TBookSet::load(db_, code);
            if (!b) throw StoreError("账套 " + code + " 不存在。");
            it = books_.emplace(code, *b).first;
        }
        return it->second;
    }

    // A book set's rows may use its own accounts and those of its managing
    // book set.
    const TBankAccount* account(const TBookSet& book, const std::string& asCode) {
        auto key = book.Code + '\x1f' + asCode;
        auto it = accounts_.find(key);
        if (it == accounts_.end()) {
            BankAccountPtr a = TBankAccountManage::DetailByCode(db_, book.Code, asCode);
            if (!a && !book.ManageSetCode.empty())
                a = TBankAccountManage::DetailByCode(db_, book.ManageSetCode, asCode);
            it = accounts_.emplace(key, a).first;
        }
        return it->second.get();
    }

    static constexpr std::size_t kBatchRows = 5000;
    Database& db_;
    bool batch_;
    std::vector<std::pair<TCaGlide*, std::int64_t>> queued_;
    std::string table_;
    Stmt insert_;
    std::unordered_map<std::string, TBookSet> books_;
    std::unordered_map<std::string, BankAccountPtr> accounts_;
    std::unordered_map<std::string, std::int64_t> next_;
    DayTotalsChange kept_;

    friend class ::ledgerhost::TCaGlide;
};

struct StoredState {
    bool exists = false;
    bool reconciled = false;
    std::string setCode;
    std::string date;
    std::int64_t version = 0;
    std::string asCode;
    std::int64_t deb = 0, cre = 0;
};

StoredState storedState(Database& db, const std::string& table, std::int64_t id) {
    StoredState st;
    if (id == 0) return st;
    Stmt s = db.prepare(
        "SELECT reconciled, set_code, create_date, row_version, as_code, deb_cents, cre_cents "
        "FROM " +
        checkedTable(table) + " WHERE id = ?");
    s.bind(1, id);
    if (s.step()) {
        st.exists = true;
        st.reconciled = s.i32(0) != 0;
        st.setCode = s.text(1);
        st.date = s.text(2);
        st.version = s.i64(3);
        st.asCode = s.text(4);
        st.deb = s.i64(5);
        st.cre = s.i64(6);
    }
    return st;
}

// The signed-in user, whom the history names.
std::string actingUser() {
    return User ? User->Code : std::string();
}

// A row that is gone, or was changed by someone else after it was loaded,
// is refused with who did it and when.
void checkUnchanged(Database& db, const TCaGlide& row, const StoredState& st) {
    if (!st.exists || st.version != row.RowVersion)
        throw StoreError(rowChangedProblem(db, row.TableName(), row.Id, row.RowVersion));
}

// Why the stored row may no longer change: its date lies in a year of its
// book set that was carried forward. The stored date decides, not the one
// the object in memory holds.
std::string storedYearProblem(Database& db, const StoredState& st) {
    auto book = TBookSet::load(db, st.setCode);
    return book ? closedYearProblem(*book, st.date) : std::string();
}

// The locked book set that holds the stored row, if it is locked. The stored
// row's book set decides, not the one the object in memory names.
std::optional<TBookSet> lockedBook(Database& db, const StoredState& st) {
    auto book = TBookSet::load(db, st.setCode);
    if (book && book->EntryLocked) return book;
    return std::nullopt;
}

void updateRow(Database& db, RowWriter& w, TCaGlide& row) {
    StoredState st = storedState(db, row.TableName(), row.Id);
    checkUnchanged(db, row, st);
    if (st.reconciled) throw StoreError("该记录已对账，不能修改。");
    if (auto book = lockedBook(db, st))
        throw StoreError("账套 " + book->DispCode + " 已锁定，不能录入或修改记录。");
    if (std::string why = storedYearProblem(db, st); !why.empty()) throw StoreError(why);
    w.check(row);
    std::int64_t no = 0;
    if (auto v = parseDecimal(row.DateOrNo); v && *v >= 1 && *v < 1e15)
        no = static_cast<std::int64_t>(*v);
    if (no == 0) no = w.nextNumber(row.SetCode, row.AS_Code);
    const std::string before = rowValues(db, row.TableName(), row.Id);
    // The version is compared in the statement itself, so that of two saves
    // of one loaded row only the first can match, on either engine.
    Stmt s = db.prepare("UPDATE " + row.TableName() +
                        " SET set_code=?, as_code=?, create_date=?, date_or_no=?, summary=?, "
                        "deb_cents=?, cre_cents=?, pay_code=?, pm_code=?, cr_code=?, dp_code=?, "
                        "remark=?, apply_user=?, voucher_id=?, voucher_class=?, voucher_no=?, "
                        "glide_flag=?, row_version = row_version + 1 WHERE id=? AND "
                        "row_version=?");
    s.bind(1, row.SetCode).bind(2, row.AS_Code).bind(3, row.CreateDate).bind(4, no);
    s.bind(5, row.Summary).bind(6, toCents(row.DebMoney)).bind(7, toCents(row.CreMoney));
    s.bind(8, row.PayCode).bind(9, row.PM_Code).bind(10, row.CR_Code).bind(11, row.DP_Code);
    s.bind(12, row.Remark).bind(13, row.ApplyUser);
    s.bind(14, row.Voucher_ID.empty() ? std::string("0") : row.Voucher_ID);
    s.bind(15, row.VoucherClass).bind(16, row.VoucherNo).bind(17, row.GlideFlag).bind(18, row.Id);
    s.bind(19, row.RowVersion);
    s.run();
    if (db.changes() != 1)
        throw StoreError(rowChangedProblem(db, row.TableName(), row.Id, row.RowVersion));
    recordRowChange(db, row.TableName(), row.Id, st.setCode, "update", actingUser(), before,
                    rowValues(db, row.TableName(), row.Id));
    row.DateOrNo = std::to_string(no);
    ++row.RowVersion;
    w.kept().add(st.setCode, st.asCode, st.date, st.deb, st.cre, -1);
    w.kept().add(row.SetCode, row.AS_Code, row.CreateDate, toCents(row.DebMoney),
                 toCents(row.CreMoney));
}

void deleteRow(Database& db, TCaGlide& row, DayTotalsChange& kept) {
    StoredState st = storedState(db, row.TableName(), row.Id);
    checkUnchanged(db, row, st);
    if (st.reconciled) throw StoreError("该记录已对账，不能删除。");
    if (auto book = lockedBook(db, st))
        throw StoreError("账套 " + book->DispCode + " 已锁定，不能删除记录。");
    if (std::string why = storedYearProblem(db, st); !why.empty()) throw StoreError(why);
    const std::string before = rowValues(db, row.TableName(), row.Id);
    Stmt s = db.prepare("DELETE FROM " + row.TableName() + " WHERE id = ? AND row_version = ?");
    s.bind(1, row.Id).bind(2, row.RowVersion).run();
    if (db.changes() != 1)
        throw StoreError(rowChangedProblem(db, row.TableName(), row.Id, row.RowVersion));
    recordRowChange(db, row.TableName(), row.Id, st.setCode, "delete", actingUser(), before, {});
    kept.add(st.setCode, st.asCode, st.date, st.deb, st.cre, -1);
}

// What a store operation writes into the row it stores; put back when the
// operation fails, so that a failed save leaves the row as it was.
struct RowNumbers {
    explicit RowNumbers(const TCaGlide& r)
        : id(r.Id), dateOrNo(r.DateOrNo), version(r.RowVersion) {}
    void restore(TCaGlide& r) const {
        r.Id = id;
        r.DateOrNo = dateOrNo;
        r.RowVersion = version;
    }
    std::int64_t id;
    std::string dateOrNo;
    std::int64_t version;
};

// Runs one store operation in its own transaction, turning a failure into
// ErrorText. Inside a transaction the caller opened, the operation runs in a
// savepoint instead: a failure undoes only its own writes and the caller's
// transaction stays open.
template <class Fn>
bool guarded(TCaGlide& row, Fn&& fn) {
    row.ErrorText.clear();
    RowNumbers before(row);
    try {
        Database& db = currentDb();
        Transaction t(db);
        fn(db);
        t.commit();
        return true;
    } catch (const std::exception& e) {
        before.restore(row);
        row.ErrorText = e.what();
        return false;
    }
}

}  // namespace

// ---- TCaGlide ----

namespace {

// Runs fn on the counterpart units: those the host's factory read once per
// session (every grid row asks for its counterpart's code), or a fresh read
// where no factory is bound.
template <class Fn>
auto withCounterparts(Fn fn) {
    if (BasisManageFactory) return fn(*BasisManageFactory->GetBaseInfoManage(kCurrents));
    TCurrentManage m;
    return fn(m);
}

}  // namespace

// A new row belongs to the current book set until told otherwise.
TCaGlide::TCaGlide(std::string tableName) : tableName_(std::move(tableName)) {
    if (BookManage && BookManage->BookSet) SetCode = BookManage->BookSet->Code;
}

void TCaGlide::SetCRCode(const std::string& code) {
    CR_Code = code;
    CR_Name.clear();
    if (!code.empty() && DBManage) {
        CR_Name = withCounterparts([&](TBaseInfoManage& m) { return m.GetDisplayName(code, 0); });
    }
}

BankAccountPtr TCaGlide::GetAccount() const {
    if (AS_Code.empty() || !DBManage) return nullptr;
    return accountForRows(currentDb(), SetCode, AS_Code);
}

std::string TCaGlide::GetDateOrNo() {
    RowWriter w(currentDb(), tableName_);
    return std::to_string(w.nextNumber(SetCode, AS_Code));
}

std::string TCaGlide::getEncode() const {
    if (CR_Code.empty() || !DBManage) return {};
    return withCounterparts([&](TBaseInfoManage& m) {
        TBaseInfoItem* i = m.GetOfInCode(CR_Code);
        return i ? i->Code : std::string();
    });
}

bool TCaGlide::Insert(bool) {
    return guarded(*this, [&](Database& db) {
        RowWriter w(db, tableName_);
        w.insert(*this);
        RowVersion = 0;
        recordRowChange(db, tableName_, Id, SetCode, "insert", actingUser(), {},
                        rowValues(db, tableName_, Id));
        w.flush();
    });
}

bool TCaGlide::Update(bool) {
    return guarded(*this, [&](Database& db) {
        RowWriter w(db, tableName_);
        updateRow(db, w, *this);
        w.flush();
    });
}

bool TCaGlide::Delete(bool) {
    return guarded(*this, [&](Database& db) {
        DayTotalsChange kept;
        deleteRow(db, *this, kept);
        kept.apply(db, tableName_);
    });
}

bool TCaGlide::CanDelete() {
    ErrorText.clear();
    try {
        Database& db = currentDb();
        StoredState st = storedState(db, tableName_, Id);
        if (!st.exists || st.version != RowVersion)
            ErrorText = rowChangedProblem(db, tableName_, Id, RowVersion);
        else if (st.reconciled)
            ErrorText = "该记录已对账，不能修改或删除。";
        else if (auto book = lockedBook(db, st))
            ErrorText = "账套 " + book->DispCode + " 已锁定，不能修改或删除记录。";
        else
            ErrorText = storedYearProblem(db, st);
    } catch (const std::exception& e) {
        ErrorText = e.what();
    }
    return ErrorText.empty();
}

void TCaGlide::CopyFrom(const TCaGlide& o) {
    std::string keep = tableName_;
    *this = o;
    tableName_ = keep;
}

void TCaGlideQry::CopyFrom(const TCaGlide& o) {
    TCaGlide::CopyFrom(o);
    if (auto* q = dynamic_cast<const TCaGlideQry*>(&o)) {
        EDateOrNo = q->EDateOrNo;
        BDateOrNo = q->BDateOrNo;
        EMoney = q->EMoney;
        BMoney = q->BMoney;
        OperSymble = q->OperSymble;
        BVoucher_ID = q->BVoucher_ID;
        EVoucher_ID = q->EVoucher_ID;
        BCreateDate = q->BCreateDate;
        ECreateDate = q->ECreateDate;
        AccountSetCode = q->AccountSetCode;
    }
}

// ---- TOrder_itemMng ----

TOrder_itemMng::TOrder_itemMng(std::string tableName) : tableName_(std::move(tableName)) {}

std::vector<TOrder_itemMng::Item> TOrder_itemMng::defaultItems() {
    return {{"create_date", "日期"},   {"date_or_no", "统一号"}, {"deb_cents", "借方金额"},
            {"cre_cents", "贷方金额"}, {"summary", "摘要"},      {"pay_code", "支票号"}};
}

void TOrder_itemMng::ensureLoaded() {
    if (loaded_) return;
    items_.clear();
    if (DBManage) {
        Stmt s = currentDb().prepare(
            "SELECT field, caption FROM order_items WHERE table_name = ? ORDER BY position");
        s.bind(1, tableName_);
        while (s.step())
            if (orderColumns().count(s.text(0))) items_.push_back({s.text(0), s.text(1)});
    }
    // Keys added to the program after the order was stored go last.
    for (const auto& d : defaultItems())
        if (std::none_of(items_.begin(), items_.end(),
                         [&](const Item& i) { return i.Field == d.Field; }))
            items_.push_back(d);
    loaded_ = true;
}

int TOrder_itemMng::Getcount() {
    ensureLoaded();
    return static_cast<int>(items_.size());
}

void TOrder_itemMng::Assignto(QStringList& lines) {
    ensureLoaded();
    lines.clear();
    for (const auto& i : items_) lines << QString::fromStdString(i.Caption);
}

void TOrder_itemMng::Exchange(int a, int b) {
    ensureLoaded();
    int n = static_cast<int>(items_.size());
    if (a < 0 || b < 0 || a >= n || b >= n) return;
    std::swap(items_[a], items_[b]);
}

void TOrder_itemMng::save() {
    ensureLoaded();
    Database& db = currentDb();
    Transaction t(db);
    db.prepare("DELETE FROM order_items WHERE table_name = ?").bind(1, tableName_).run();
    Stmt ins = db.prepare(
        "INSERT INTO order_items (table_name, position, field, caption) VALUES (?,?,?,?)");
    for (std::size_t i = 0; i < items_.size(); ++i) {
        ins.reset();
        ins.bind(1, tableName_)
            .bind(2, static_cast<std::int64_t>(i))
            .bind(3, items_[i].Field)
            .bind(4, items_[i].Caption);
        ins.run();
    }
    t.commit();
}

const std::vector<TOrder_itemMng::Item>& TOrder_itemMng::items() {
    ensureLoaded();
    return items_;
}

std::string TOrder_itemMng::orderByTerms() {
    std::string terms;
    for (const auto& i : items()) {
        terms += orderColumns().at(i.Field).column;
        terms += ", ";
    }
    return terms + "t.id";
}

// ---- TCaGlideMng ----

TCaGlideMng::TCaGlideMng(std::string tableName)
    : tableName_(std::move(tableName)), query_(std::make_unique<TCaGlideQry>(tableName_)) {
    if (BookManage && BookManage->BookSet) query_->SetCode = BookManage->BookSet->Code;
}

TCaGlideMng::~TCaGlideMng() = default;

TCaGlide* TCaGlideMng::GetDetails(int index) const {
    if (index < 0 || index >= static_cast<int>(rows_.size())) return nullptr;
    return rows_[index].get();
}

void TCaGlideMng::Add(TCaGlide* row) {
    if (row) pending_.emplace_back(row);
}

void TCaGlideMng::DiscardPending(std::size_t from) {
    if (from < pending_.size())
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(from), pending_.end());
}

void TCaGlideMng::Save() {
    if (pending_.empty()) return;
    Database& db = currentDb();
    // The numbers and ids the rows are given are put back if the batch fails,
    // so the pending rows stay as they were.
    std::vector<RowNumbers> before;
    before.reserve(pending_.size());
    for (const auto& row : pending_) before.emplace_back(*row);
    auto restore = [&] {
        for (std::size_t i = 0; i < pending_.size(); ++i) before[i].restore(*pending_[i]);
    };
    // Inside a transaction the caller opened (an import that logs its file in
    // the same transaction) the rows go into a savepoint of it.
    try {
        Transaction t(db);
        RowWriter w(db, tableName_, true);
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            TCaGlide& row = *pending_[i];
            row.ErrorText.clear();
            try {
                if (row.OperFlag == "1") {
                    w.flush();
                    updateRow(db, w, row);
                } else if (row.OperFlag == "2") {
                    w.flush();
                    deleteRow(db, row, w.kept());
                } else {
                    w.insert(row);
                }
            } catch (const StoreError& e) {
                row.ErrorText = e.what();
                throw StoreError("第 " + std::to_string(i + 1) + " 条记录不能保存：" + e.what());
            }
        }
        // Queued rows that the server refuses fail the whole batch.
        w.flush();
        t.commit();
    } catch (...) {
        restore();
        throw;
    }
    pending_.clear();
}

// Loading: see JournalLoad.cpp for what a load holds and how it is built.
void TCaGlideMng::Load() {
    loadJournal({currentDb(), tableName_, *query_, SubjectKind, OrderItemMng, currents_}, rows_);
}

QStringList summaryCompletions(Database& db, const std::string& setCode, const std::string& table) {
    QStringList out;
    QSet<QString> seen;
    auto add = [&](const std::string& text) {
        if (text.empty() || isSummaryText(text)) return;
        const QString t = QString::fromStdString(text);
        if (!seen.contains(t)) {
            seen.insert(t);
            out << t;
        }
    };
    Stmt common = db.prepare("SELECT text FROM summaries ORDER BY code");
    while (common.step()) add(common.text(0));
    Stmt earlier = db.prepare("SELECT summary FROM " + glide::checkedTable(table) +
                              " WHERE set_code = ? AND summary <> '' GROUP BY summary "
                              "ORDER BY COUNT(*) DESC, summary LIMIT 2000");
    earlier.bind(1, setCode);
    while (earlier.step()) add(earlier.text(0));
    return out;
}

}  // namespace ledgerhost
