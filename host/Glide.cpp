#include "Glide.h"

#include <QDate>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "Regional.h"
#include "VoucherLinks.h"

namespace ledgerhost {

bool isSummaryText(const std::string& s) {
    return s == kYearOpening || s == kPeriodOpening || s == kMonthTotal || s == kYearTotal;
}

std::string journalRowProblem(const TBookSet& book, const std::string& createDate,
                              const std::string& summary) {
    if (isSummaryText(summary)) return "摘要不能是“" + summary + "”：这是系统的合计行所用的文字。";
    if (book.Year > 0 &&
        (createDate.size() < 4 || createDate.compare(0, 4, std::to_string(book.Year)) != 0))
        return "日期 " + createDate + " 不在账套的会计年度 " + std::to_string(book.Year) +
               " 年内。";
    return {};
}

namespace {

// Checks the table name before it is spliced into SQL: only the two journal
// tables exist.
const std::string& checkedTable(const std::string& name) {
    if (name != kCashJournalTable && name != kStatementTable)
        throw StoreError("未知的日记账表：" + name);
    return name;
}

// The side a balance stands on. The journals keep the enterprise's side, where
// a positive balance is a debit; the statement keeps the bank's, where it is a
// credit.
std::string directionOf(std::int64_t cents, bool bankSide) {
    if (cents == 0) return "平";
    return (cents > 0) != bankSide ? "借" : "贷";
}

// Bounds typed into a filter can be any double: they are clamped to what a
// stored value can be before they become integers, so a huge bound means
// "everything" or "nothing" rather than undefined behaviour.
std::int64_t wholeBound(double v, bool lower) {
    v = std::clamp(v, -1e15, 1e15);
    return static_cast<std::int64_t>(lower ? std::ceil(v) : std::floor(v));
}
std::int64_t centsBound(double v) {
    if (std::isnan(v)) return 0;
    return toCents(std::clamp(v, -1e14, 1e14));
}

bool validAmount(double v) {
    return std::isfinite(v) && std::fabs(v) < 1e13;
}

// Writes journal rows: checks each against its book set and account and gives
// it its number. Book sets, accounts and the next numbers are cached, so a
// batch of many rows costs one prepared insert per row.
class RowWriter {
  public:
    RowWriter(Database& db, const std::string& table)
        : db_(db),
          table_(checkedTable(table)),
          insert_(db.prepare(
              "INSERT INTO " + table_ +
              " (set_code, as_code, create_date, date_or_no, summary, deb_cents, cre_cents, "
              "pay_code, pm_code, cr_code, dp_code, remark, apply_user, voucher_id, "
              "voucher_class, voucher_no, glide_flag, voucher_line_id) "
              "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")) {}

    // Throws StoreError with the reason when the row must not be stored.
    void check(const TCaGlide& row) {
        const TBookSet& book = bookSet(row.SetCode);
        if (book.EntryLocked)
            throw StoreError("账套 " + book.DispCode + " 已锁定，不能录入或修改记录。");
        const TBankAccount* acc = account(book, row.AS_Code);
        if (!acc) throw StoreError("账号 " + row.AS_Code + " 不存在。");
        if (acc->State != kAccountInUse)
            throw StoreError("账号 " + acc->AccountNo + " 已停用，不能录入。");
        if (row.CreateDate.size() != 10 || !parseDate(row.CreateDate, "yyyy-MM-dd", '-'))
            throw StoreError("日期格式错误：" + row.CreateDate);
        if (std::string why = journalRowProblem(book, row.CreateDate, row.Summary); !why.empty())
            throw StoreError(why);
        if (!validAmount(row.DebMoney) || !validAmount(row.CreMoney))
            throw StoreError("金额超出范围。");
    }

    void insert(TCaGlide& row) {
        check(row);
        std::int64_t no = number(row);
        insert_.reset();
        insert_.bind(1, row.SetCode)
            .bind(2, row.AS_Code)
            .bind(3, row.CreateDate)
            .bind(4, no)
            .bind(5, row.Summary)
            .bind(6, toCents(row.DebMoney))
            .bind(7, toCents(row.CreMoney))
            .bind(8, row.PayCode)
            .bind(9, row.PM_Code)
            .bind(10, row.CR_Code)
            .bind(11, row.DP_Code)
            .bind(12, row.Remark)
            .bind(13, row.ApplyUser)
            .bind(14, row.Voucher_ID.empty() ? std::string("0") : row.Voucher_ID)
            .bind(15, row.VoucherClass)
            .bind(16, row.VoucherNo)
            .bind(17, row.GlideFlag);
        if (row.VoucherLineId)
            insert_.bind(18, row.VoucherLineId);
        else
            insert_.bindNull(18);
        insert_.run();
        row.Id = db_.lastInsertId();
        row.DateOrNo = std::to_string(no);
    }

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
            TBankAccountManage m;
            BankAccountPtr a = m.DetailByCode(book.Code, asCode);
            if (!a && !book.ManageSetCode.empty()) a = m.DetailByCode(book.ManageSetCode, asCode);
            it = accounts_.emplace(key, a).first;
        }
        return it->second.get();
    }

    Database& db_;
    std::string table_;
    Stmt insert_;
    std::unordered_map<std::string, TBookSet> books_;
    std::unordered_map<std::string, BankAccountPtr> accounts_;
    std::unordered_map<std::string, std::int64_t> next_;

    friend class ::ledgerhost::TCaGlide;
};

struct StoredState {
    bool exists = false;
    bool reconciled = false;
    std::string setCode;
};

StoredState storedState(Database& db, const std::string& table, std::int64_t id) {
    StoredState st;
    if (id == 0) return st;
    Stmt s =
        db.prepare("SELECT reconciled, set_code FROM " + checkedTable(table) + " WHERE id = ?");
    s.bind(1, id);
    if (s.step()) {
        st.exists = true;
        st.reconciled = s.i32(0) != 0;
        st.setCode = s.text(1);
    }
    return st;
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
    if (!st.exists) throw StoreError("该记录已不存在，可能已被删除。");
    if (st.reconciled) throw StoreError("该记录已对账，不能修改。");
    if (auto book = lockedBook(db, st))
        throw StoreError("账套 " + book->DispCode + " 已锁定，不能录入或修改记录。");
    w.check(row);
    std::int64_t no = 0;
    if (auto v = parseDecimal(row.DateOrNo); v && *v >= 1 && *v < 1e15)
        no = static_cast<std::int64_t>(*v);
    if (no == 0) no = w.nextNumber(row.SetCode, row.AS_Code);
    Stmt s = db.prepare("UPDATE " + row.TableName() +
                        " SET set_code=?, as_code=?, create_date=?, date_or_no=?, summary=?, "
                        "deb_cents=?, cre_cents=?, pay_code=?, pm_code=?, cr_code=?, dp_code=?, "
                        "remark=?, apply_user=?, voucher_id=?, voucher_class=?, voucher_no=?, "
                        "glide_flag=? WHERE id=?");
    s.bind(1, row.SetCode).bind(2, row.AS_Code).bind(3, row.CreateDate).bind(4, no);
    s.bind(5, row.Summary).bind(6, toCents(row.DebMoney)).bind(7, toCents(row.CreMoney));
    s.bind(8, row.PayCode).bind(9, row.PM_Code).bind(10, row.CR_Code).bind(11, row.DP_Code);
    s.bind(12, row.Remark).bind(13, row.ApplyUser);
    s.bind(14, row.Voucher_ID.empty() ? std::string("0") : row.Voucher_ID);
    s.bind(15, row.VoucherClass).bind(16, row.VoucherNo).bind(17, row.GlideFlag).bind(18, row.Id);
    s.run();
    row.DateOrNo = std::to_string(no);
}

void deleteRow(Database& db, TCaGlide& row) {
    StoredState st = storedState(db, row.TableName(), row.Id);
    if (!st.exists) throw StoreError("该记录已不存在，可能已被删除。");
    if (st.reconciled) throw StoreError("该记录已对账，不能删除。");
    if (auto book = lockedBook(db, st))
        throw StoreError("账套 " + book->DispCode + " 已锁定，不能删除记录。");
    Stmt s = db.prepare("DELETE FROM " + row.TableName() + " WHERE id = ?");
    s.bind(1, row.Id).run();
}

// What a store operation writes into the row it stores; put back when the
// operation fails, so that a failed save leaves the row as it was.
struct RowNumbers {
    explicit RowNumbers(const TCaGlide& r) : id(r.Id), dateOrNo(r.DateOrNo) {}
    void restore(TCaGlide& r) const {
        r.Id = id;
        r.DateOrNo = dateOrNo;
    }
    std::int64_t id;
    std::string dateOrNo;
};

// Runs one store operation in its own transaction, turning a failure into
// ErrorText. Inside a transaction the caller opened, the operation runs in a
// savepoint instead: a failure undoes only its own writes and the caller's
// transaction stays open.
template <class Fn>
bool guarded(TCaGlide& row, Fn&& fn) {
    row.ErrorText.clear();
    RowNumbers before(row);
    bool inSavepoint = false;
    Database* db = nullptr;
    try {
        db = &currentDb();
        if (db->inTransaction()) {
            db->exec("SAVEPOINT glide_row");
            inSavepoint = true;
            fn(*db);
            db->exec("RELEASE glide_row");
        } else {
            Transaction t(*db);
            fn(*db);
            t.commit();
        }
        return true;
    } catch (const std::exception& e) {
        if (inSavepoint) {
            try {
                db->exec("ROLLBACK TO glide_row");
                db->exec("RELEASE glide_row");
            } catch (...) {
            }
        }
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
    TBankAccountManage m;
    if (auto a = m.DetailByCode(SetCode, AS_Code)) return a;
    if (auto book = TBookSet::load(currentDb(), SetCode); book && !book->ManageSetCode.empty())
        return m.DetailByCode(book->ManageSetCode, AS_Code);
    return nullptr;
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
    });
}

bool TCaGlide::Update(bool) {
    return guarded(*this, [&](Database& db) {
        RowWriter w(db, tableName_);
        updateRow(db, w, *this);
    });
}

bool TCaGlide::Delete(bool) {
    return guarded(*this, [&](Database& db) { deleteRow(db, *this); });
}

bool TCaGlide::CanDelete() {
    ErrorText.clear();
    try {
        Database& db = currentDb();
        StoredState st = storedState(db, tableName_, Id);
        if (!st.exists)
            ErrorText = "该记录已不存在，可能已被删除。";
        else if (st.reconciled)
            ErrorText = "该记录已对账，不能修改或删除。";
        else if (auto book = lockedBook(db, st))
            ErrorText = "账套 " + book->DispCode + " 已锁定，不能修改或删除记录。";
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

void TCaGlide::checkForStore(Database& db) const {
    RowWriter w(db, tableName_);
    w.check(*this);
}

void TCaGlide::insertInto(Database& db) {
    RowWriter w(db, tableName_);
    w.insert(*this);
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

namespace {

// The sort keys a journal offers: the column each stands for, and the row
// value the load compares when it orders rows itself.
enum class SortKey { Date, Number, Debit, Credit, Summary, PayCode };
struct SortColumn {
    const char* column;
    SortKey key;
};
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

}  // namespace

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
    const bool nested = db.inTransaction();
    try {
        std::optional<Transaction> t;
        if (nested)
            db.exec("SAVEPOINT glide_save");
        else
            t.emplace(db);
        RowWriter w(db, tableName_);
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            TCaGlide& row = *pending_[i];
            row.ErrorText.clear();
            try {
                if (row.OperFlag == "1")
                    updateRow(db, w, row);
                else if (row.OperFlag == "2")
                    deleteRow(db, row);
                else
                    w.insert(row);
            } catch (const StoreError& e) {
                row.ErrorText = e.what();
                throw StoreError("第 " + std::to_string(i + 1) + " 条记录不能保存：" + e.what());
            }
        }
        if (nested)
            db.exec("RELEASE glide_save");
        else
            t->commit();
    } catch (...) {
        if (nested) {
            try {
                db.exec("ROLLBACK TO glide_save");
                db.exec("RELEASE glide_save");
            } catch (...) {
            }
        }
        restore();
        throw;
    }
    pending_.clear();
}

// Loading. The rows come in the order of the sort keys, within each month;
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
//    where the range starts. Over several book sets the opening line names its
//    book set in CR_Name;
//  - each row's Balance is the running balance of its section in journal
//    order. The cash and bank journals keep the enterprise's side (a debit
//    raises the balance); the bank statement keeps the bank's side (a credit,
//    money in, raises it);
//  - "本月合计" holds the debits and credits of the section's rows shown that
//    month, "本年累计" those of the rows that meet the conditions from 1 January
//    through that month; both carry the section's balance at the month's end;
//  - Direction is the side the balance stands on: "借" or "贷" ("平" for zero).
void TCaGlideMng::Load() {
    // The previous load's row objects are refilled rather than freed and made
    // again: a journal is reloaded after every change, and building each row
    // object afresh costs more than reading its row. Taken from the front.
    std::vector<std::unique_ptr<TCaGlide>> spare = std::move(rows_);
    rows_.clear();
    std::reverse(spare.begin(), spare.end());
    const TCaGlideQry& q = *query_;
    Database& db = currentDb();
    const std::string& table = checkedTable(tableName_);
    const bool bankSide = table == kStatementTable;
    const std::string delta = bankSide ? "t.cre_cents - t.deb_cents" : "t.deb_cents - t.cre_cents";

    // The book sets in scope, in code order.
    std::vector<std::string> sets;
    if (!q.SetCode.empty()) {
        sets.push_back(q.SetCode);
    } else {
        if (BookManage && BookManage->BookSet) sets.push_back(BookManage->BookSet->Code);
        if (UserManage) {
            TBookSetMng* own = UserManage->BookSetMng();
            for (int i = 0; i < own->GetCount(); ++i) sets.push_back(own->GetDetail(i)->Code);
        }
        std::sort(sets.begin(), sets.end());
        sets.erase(std::unique(sets.begin(), sets.end()), sets.end());
    }

    // Conditions that decide which rows are shown.
    std::string match = "1=1";
    std::vector<std::string> matchText;
    auto addText = [&](const char* col, const std::string& v) {
        if (v.empty()) return;
        match += std::string(" AND t.") + col + " = ?";
        matchText.push_back(v);
    };
    addText("apply_user", q.ApplyUser);
    addText("cr_code", q.CR_Code);
    addText("dp_code", q.DP_Code);
    addText("pay_code", q.PayCode);
    addText("pm_code", q.PM_Code);
    addText("summary", q.Summary);
    if (q.VoucherClass != 0) match += " AND t.voucher_class = " + std::to_string(q.VoucherClass);
    // 0 … 0 is no number range; a bound of 0 leaves that end open.
    if (q.BDateOrNo != 0 && !std::isnan(q.BDateOrNo))
        match += " AND t.date_or_no >= " + std::to_string(wholeBound(q.BDateOrNo, true));
    if (q.EDateOrNo != 0 && !std::isnan(q.EDateOrNo))
        match += " AND t.date_or_no <= " + std::to_string(wholeBound(q.EDateOrNo, false));
    auto voucherBound = [](const std::string& v, bool lower) {
        if (v.empty() || v == "0") return std::optional<std::int64_t>();
        auto d = parseDecimal(v);
        return d && !std::isnan(*d) ? std::optional<std::int64_t>(wholeBound(*d, lower))
                                    : std::nullopt;
    };
    if (auto b = voucherBound(q.BVoucher_ID, true))
        match += " AND CAST(t.voucher_id AS INTEGER) >= " + std::to_string(*b);
    if (auto e = voucherBound(q.EVoucher_ID, false))
        match += " AND CAST(t.voucher_id AS INTEGER) <= " + std::to_string(*e);
    // With any operator but "全部" every amount is a bound, zero and negative
    // amounts included; "至" takes BMoney and EMoney in either order.
    const std::string amount = "(CASE WHEN t.deb_cents <> 0 THEN t.deb_cents ELSE t.cre_cents END)";
    {
        const std::string e = std::to_string(centsBound(q.EMoney));
        const std::string& op = q.OperSymble;
        if (op == "至") {
            std::int64_t b = centsBound(q.BMoney), f = centsBound(q.EMoney);
            match += " AND " + amount + " BETWEEN " + std::to_string(std::min(b, f)) + " AND " +
                     std::to_string(std::max(b, f));
        } else if (op == "大于等于") {
            match += " AND " + amount + " >= " + e;
        } else if (op == "大于") {
            match += " AND " + amount + " > " + e;
        } else if (op == "小于等于") {
            match += " AND " + amount + " <= " + e;
        } else if (op == "小于") {
            match += " AND " + amount + " < " + e;
        } else if (op == "等于") {
            match += " AND " + amount + " = " + e;
        }
    }

    int year = 0;
    if (q.BCreateDate.size() >= 4) year = std::atoi(q.BCreateDate.substr(0, 4).c_str());
    if (year <= 0 && BookManage && BookManage->BookSet) year = BookManage->BookSet->Year;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-01-01", year > 0 && year < 10000 ? year : 1);
    const std::string yearStart = buf;

    // The accounts and who manages which book set, for finding each row's
    // account in memory rather than by a join per row.
    struct AccountInfo {
        std::string owner;
        std::int32_t kind;
        std::int64_t opening;
    };
    std::unordered_map<std::string, AccountInfo> accounts;
    {
        Stmt a = db.prepare(
            "SELECT set_code || char(31) || as_code, set_code, kind, opening_cents FROM "
            "bank_accounts");
        while (a.step()) accounts.emplace(a.text(0), AccountInfo{a.text(1), a.i32(2), a.i64(3)});
    }
    std::unordered_map<std::string, std::string> managingSet, bookTitle;
    {
        Stmt b = db.prepare("SELECT code, manage_set_code, name FROM book_sets");
        while (b.step()) {
            managingSet.emplace(b.text(0), b.text(1));
            bookTitle.emplace(b.text(0), b.text(2) + "[" + b.text(0) + "]");
        }
    }
    // The account rows of a book set with this code use, if it is in scope.
    auto accountOf = [&](const std::string& set, const std::string& as) -> const AccountInfo* {
        auto k = accounts.find(set + '\x1f' + as);
        if (k == accounts.end()) {
            auto ms = managingSet.find(set);
            if (ms == managingSet.end() || ms->second.empty()) return nullptr;
            k = accounts.find(ms->second + '\x1f' + as);
            if (k == accounts.end()) return nullptr;
        }
        if (SubjectKind != 0 && k->second.kind != SubjectKind) return nullptr;
        if (!q.AccountSetCode.empty() && k->second.owner != q.AccountSetCode) return nullptr;
        return &k->second;
    };

    // One running balance per (book set, account).
    struct Section {
        std::string set, as;
        std::int64_t balance = 0, ytdDeb = 0, ytdCre = 0;
    };
    std::unordered_map<std::string, Section> sections;
    auto sectionOf = [&](const std::string& set, const std::string& as) -> Section* {
        const std::string key = set + '\x1f' + as;
        auto it = sections.find(key);
        if (it != sections.end()) return &it->second;
        const AccountInfo* a = accountOf(set, as);
        if (!a) return nullptr;
        Section s;
        s.set = set;
        s.as = as;
        s.balance = a->opening;
        return &sections.emplace(key, std::move(s)).first->second;
    };

    std::vector<std::string> keys;
    if (OrderItemMng)
        for (const auto& item : OrderItemMng->items()) keys.push_back(item.Field);
    else
        keys = {"create_date", "date_or_no"};
    std::size_t indexKeys = 0;
    if (!keys.empty() && keys[0] == "create_date")
        indexKeys = keys.size() > 1 && keys[1] == "date_or_no" ? 2 : 1;

    // Rows before the range: they open each section's balance, and those of
    // the year that meet the conditions open its year-to-date totals.
    std::string accountCond = q.AS_Code.empty() ? std::string() : " AND t.as_code = ?";
    std::optional<Stmt> before;
    if (!q.BCreateDate.empty())
        before.emplace(db.prepare(
            "SELECT t.as_code, SUM(" + delta + "), SUM(CASE WHEN t.create_date >= ? AND " + match +
            " THEN t.deb_cents ELSE 0 END), SUM(CASE WHEN t.create_date >= ? AND " + match +
            " THEN t.cre_cents ELSE 0 END) FROM " + table + " t WHERE t.set_code = ?" +
            accountCond + " AND t.create_date < ? GROUP BY t.as_code"));

    // The rows of one book set, each account's after the other's. When the
    // date leads the keys, SQLite reads them in the order of the account/date
    // index and only rows that share the leading keys the index covers (the
    // date, then the number) are put in order here; a full sort in SQLite
    // would cost more than the whole read. Other orders are sorted by SQLite,
    // months first so that months stay together.
    std::string sql =
        "SELECT t.id, t.set_code, t.as_code, t.create_date, t.date_or_no, t.summary, t.deb_cents, "
        "t.cre_cents, t.pay_code, t.pm_code, t.cr_code, t.dp_code, t.remark, t.apply_user, "
        "t.voucher_id, t.voucher_class, t.voucher_no, t.glide_flag, t.voucher_line_id, (" +
        match + "), t.reconciled FROM " + table + " t WHERE t.set_code = ?" + accountCond;
    if (!q.BCreateDate.empty()) sql += " AND t.create_date >= ?";
    if (!q.ECreateDate.empty()) sql += " AND t.create_date <= ?";
    if (indexKeys == 2)
        sql += " ORDER BY t.as_code, t.create_date, t.date_or_no";
    else if (indexKeys == 1)
        sql += " ORDER BY t.as_code, t.create_date";
    else
        sql += " ORDER BY t.as_code, substr(t.create_date, 1, 7), " +
               (OrderItemMng ? OrderItemMng->orderByTerms() : std::string("t.id"));
    Stmt s = db.prepare(sql);

    Section* cur = nullptr;  // the section being written; nothing: rows out of scope
    bool curExpected = false, curShown = false;
    std::string month, ytdYear;
    bool monthShown = false;
    std::int64_t monDeb = 0, monCre = 0;

    auto summaryRow = [&](const char* text, const std::string& date, std::int64_t deb,
                          std::int64_t cre) {
        auto r = std::make_unique<TCaGlide>(tableName_);
        r->Summary = text;
        r->CreateDate = date;
        r->DebMoney = fromCents(deb);
        r->CreMoney = fromCents(cre);
        r->Balance = fromCents(cur->balance);
        r->Direction = directionOf(cur->balance, bankSide);
        r->SetCode = cur->set;
        r->AS_Code = cur->as;
        return r;
    };
    const std::string openingDate = q.BCreateDate.empty() ? yearStart : q.BCreateDate;
    auto closeMonth = [&]() {
        if (month.empty() || !monthShown) return;
        QDate first = QDate::fromString(QString::fromStdString(month + "-01"), "yyyy-MM-dd");
        std::string last =
            first.isValid() ? isoDate(first.addMonths(1).addDays(-1)) : month + "-31";
        rows_.push_back(summaryRow(kMonthTotal, last, monDeb, monCre));
        rows_.push_back(summaryRow(kYearTotal, last, cur->ytdDeb, cur->ytdCre));
    };
    auto openSection = [&](Section* sec, bool expected) {
        cur = sec;
        curExpected = expected;
        curShown = false;
        month.clear();
        ytdYear = yearStart.substr(0, 4);
        monthShown = false;
        monDeb = monCre = 0;
        rows_.push_back(summaryRow(openingDate == yearStart ? kYearOpening : kPeriodOpening,
                                   openingDate, 0, 0));
        // Over several book sets the opening line names its book set in the
        // unit column, as the information line does for one.
        if (sets.size() > 1) rows_.back()->CR_Name = bookTitle[sec->set];
    };
    // A section that shows no row stays only when the query names its account
    // in its own book set (or in the one book set asked for).
    auto closeSection = [&]() {
        if (!cur) return;
        closeMonth();
        if (!curShown && !curExpected) rows_.pop_back();
        cur = nullptr;
    };

    // A row read but not yet placed: rows that share the leading keys wait
    // here until their order is known.
    struct Fetched {
        std::unique_ptr<TCaGlide> row;
        std::int64_t deb, cre, number;
        bool shown;
    };
    std::vector<SortKey> order;
    for (const auto& k : keys)
        if (auto f = orderColumns().find(k); f != orderColumns().end())
            order.push_back(f->second.key);
    // The order SQLite gives with ORDER BY on the same keys and then the id:
    // numbers by value, texts byte by byte.
    auto isBefore = [&order](const Fetched& a, const Fetched& b) {
        for (SortKey k : order) {
            int c = 0;
            switch (k) {
                case SortKey::Date:
                    c = a.row->CreateDate.compare(b.row->CreateDate);
                    break;
                case SortKey::Number:
                    c = (a.number > b.number) - (a.number < b.number);
                    break;
                case SortKey::Debit:
                    c = (a.deb > b.deb) - (a.deb < b.deb);
                    break;
                case SortKey::Credit:
                    c = (a.cre > b.cre) - (a.cre < b.cre);
                    break;
                case SortKey::Summary:
                    c = a.row->Summary.compare(b.row->Summary);
                    break;
                case SortKey::PayCode:
                    c = a.row->PayCode.compare(b.row->PayCode);
                    break;
            }
            if (c != 0) return c < 0;
        }
        return a.row->Id < b.row->Id;
    };
    auto sameLead = [indexKeys](const Fetched& a, const Fetched& b) {
        return a.row->CreateDate == b.row->CreateDate && (indexKeys < 2 || a.number == b.number);
    };

    std::vector<Fetched> group;
    auto place = [&](Fetched& f) {
        const std::string_view m = std::string_view(f.row->CreateDate).substr(0, 7);
        if (m != month) {
            closeMonth();
            month = m;
            if (month.substr(0, 4) != ytdYear) {
                ytdYear = month.substr(0, 4);
                cur->ytdDeb = cur->ytdCre = 0;
            }
            monthShown = false;
            monDeb = monCre = 0;
        }
        std::int64_t& bal = cur->balance;
        bal += bankSide ? f.cre - f.deb : f.deb - f.cre;
        if (!f.shown) {
            spare.push_back(std::move(f.row));
            return;
        }
        monthShown = curShown = true;
        monDeb += f.deb;
        monCre += f.cre;
        cur->ytdDeb += f.deb;
        cur->ytdCre += f.cre;
        f.row->Balance = fromCents(bal);
        f.row->Direction = directionOf(bal, bankSide);
        rows_.push_back(std::move(f.row));
    };
    auto placeGroup = [&]() {
        if (group.size() > 1) std::stable_sort(group.begin(), group.end(), isBefore);
        for (auto& f : group) place(f);
        group.clear();
    };

    TBaseInfoManage& currents = currents_;
    VoucherLinks links(db);
    for (const std::string& set : sets) {
        // The section the query names in this book set, shown even without rows.
        Section* expected = nullptr;
        if (!q.AS_Code.empty()) {
            const AccountInfo* a = accountOf(set, q.AS_Code);
            if (a && (a->owner == set || set == q.SetCode)) expected = sectionOf(set, q.AS_Code);
        }
        if (before) {
            before->reset();
            int i = 1;
            for (int rep = 0; rep < 2; ++rep) {
                before->bind(i++, yearStart);
                for (const auto& v : matchText) before->bind(i++, v);
            }
            before->bind(i++, set);
            if (!q.AS_Code.empty()) before->bind(i++, q.AS_Code);
            before->bind(i, q.BCreateDate);
            while (before->step())
                if (Section* sec = sectionOf(set, before->text(0))) {
                    sec->balance += before->i64(1);
                    sec->ytdDeb += before->i64(2);
                    sec->ytdCre += before->i64(3);
                }
        }

        s.reset();
        {
            int i = 1;
            for (const auto& v : matchText) s.bind(i++, v);
            s.bind(i++, set);
            if (!q.AS_Code.empty()) s.bind(i++, q.AS_Code);
            if (!q.BCreateDate.empty()) s.bind(i++, q.BCreateDate);
            if (!q.ECreateDate.empty()) s.bind(i++, q.ECreateDate);
        }
        std::string lastAs;
        bool started = false;
        while (s.step()) {
            std::string_view asCode = s.textView(2);
            if (!started || asCode != lastAs) {
                placeGroup();
                closeSection();
                lastAs = asCode;
                started = true;
                if (expected && expected->as < lastAs) {
                    openSection(expected, true);
                    closeSection();
                    expected = nullptr;
                }
                if (Section* sec = sectionOf(set, lastAs)) {
                    openSection(sec, sec == expected);
                    if (sec == expected) expected = nullptr;
                }
            }
            if (!cur) continue;
            Fetched f{nullptr, s.i64(6), s.i64(7), s.i64(4), s.i32(19) != 0};
            if (spare.empty()) {
                f.row = std::make_unique<TCaGlide>(tableName_);
            } else {
                f.row = std::move(spare.back());
                spare.pop_back();
                f.row->ErrorText.clear();
                f.row->OperFlag.clear();
            }
            TCaGlide& r = *f.row;
            r.Id = s.i64(0);
            r.SetCode = cur->set;
            r.AS_Code = cur->as;
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
            if (f.shown) links.fill(r);  // VoucherNo (and the type) from the linked voucher
            r.GlideFlag = s.textView(17);
            r.VoucherLineId = s.isNull(18) ? 0 : s.i64(18);
            r.Reconciled = s.i32(20) != 0;
            if (r.CR_Code.empty())
                r.CR_Name.clear();
            else if (f.shown)
                r.CR_Name = currents.GetDisplayName(r.CR_Code, 0);
            if (indexKeys == 0) {
                place(f);
                continue;
            }
            if (!group.empty() && !sameLead(group.back(), f)) placeGroup();
            group.push_back(std::move(f));
        }
        placeGroup();
        closeSection();
        if (expected) {
            openSection(expected, true);
            closeSection();
        }
    }
}

}  // namespace ledgerhost
