#pragma once

// Journal rows (TCaGlide), query conditions (TCaGlideQry), the journal manager
// (TCaGlideMng) and the journal's sort keys (TOrder_itemMng).

#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LhApi.h"
#include "Records.h"

namespace ledgerhost {

inline constexpr const char* kCashJournalTable = "CaGlide";
inline constexpr const char* kStatementTable = "CaCollateGlide";

// The largest amount a journal row holds (the store refuses 1e13 and more), and
// the largest 统一号 a filter can name.
inline constexpr double kLargestAmount = 9999999999999.99;
inline constexpr double kLargestNumber = 999999999999999.0;

// The texts of the summary rows the manager supplies among the journal rows.
inline constexpr const char* kYearOpening = "年初余额";
inline constexpr const char* kPeriodOpening = "期初余额";
inline constexpr const char* kMonthTotal = "本月合计";
inline constexpr const char* kYearTotal = "本年累计";
LH_API bool isSummaryText(const std::string& summary);

// Why a row with this date and summary may not be kept in the book set: its
// summary is one of the texts of the summary rows, or its date ("YYYY-MM-DD")
// lies outside the book set's year (in a year carried forward, or in the
// first year before the month the books began). Empty when it may. The store and every
// import ask this one function.
LH_API std::string journalRowProblem(const TBookSet& book, const std::string& createDate,
                                     const std::string& summary);
// Why a row dated `date` may not be added, changed or deleted any more: the
// date lies in a year of the book set that was carried forward into the next.
// Empty when it does not.
LH_API std::string closedYearProblem(const TBookSet& book, const std::string& date);

// One journal row of a journal table ("CaGlide" or "CaCollateGlide").
class LH_API TCaGlide {
  public:
    explicit TCaGlide(std::string tableName);
    virtual ~TCaGlide() = default;
    TCaGlide(const TCaGlide&) = default;
    TCaGlide& operator=(const TCaGlide&) = default;

    std::string ApplyUser;
    std::string AS_Code;
    double Balance = 0;
    std::string Direction;
    std::string CreateDate;
    double CreMoney = 0;
    std::string CR_Code;
    std::string DateOrNo;
    double DebMoney = 0;
    std::string DP_Code;
    std::string ErrorText;
    std::string OperFlag;
    std::string PayCode;
    std::string PM_Code;
    std::string Remark;
    std::string SetCode;
    std::string Summary;
    std::string Voucher_ID = "0";
    std::int32_t VoucherClass = 0;
    std::string GlideFlag;
    std::string CR_Name;
    double VoucherNo = 0;

    // Stored row id; 0 for a row that is not stored (and for summary rows).
    std::int64_t Id = 0;
    // Voucher line the row was drawn from, 0 when none.
    std::int64_t VoucherLineId = 0;
    // Ticked off against the other side in the bank reconciliation (as loaded).
    bool Reconciled = false;
    // The stored row's version as loaded: every update raises it, and Update
    // and Delete refuse a row whose stored version is another (someone else
    // changed it since), naming who and when.
    std::int64_t RowVersion = 0;
    // A statement row's balance after it as the bank reported it (in cents),
    // kept from the imported file; nothing for rows entered by hand. Stored
    // when the row is inserted and never changed by an update.
    std::optional<std::int64_t> BankBalanceCents;

    const std::string& TableName() const { return tableName_; }

    void SetASCode(const std::string& code) { AS_Code = code; }
    // Also fills CR_Name from the counterpart units.
    void SetCRCode(const std::string& code);
    void SetDPCode(const std::string& code) { DP_Code = code; }

    // The row's account in its book set; nothing when there is none.
    BankAccountPtr GetAccount() const;
    // The next free number for the row's book set, table, account and year.
    std::string GetDateOrNo();
    // The counterpart's code as displayed.
    std::string getEncode() const;

    // Store operations, each one transaction. On failure they answer false and
    // leave the reason in ErrorText. Each records itself in the row's history
    // (History.h), with the signed-in user, in the same transaction.
    bool Insert(bool inTransaction);
    bool Update(bool inTransaction);
    bool Delete(bool inTransaction);
    bool CanDelete();

    // Copies every field of another row or condition object (the table name
    // stays this object's).
    virtual void CopyFrom(const TCaGlide& other);

  private:
    std::string tableName_;
};

// Query conditions: the equality fields of TCaGlide plus ranges.
class LH_API TCaGlideQry : public TCaGlide {
  public:
    explicit TCaGlideQry(std::string tableName) : TCaGlide(std::move(tableName)) {}

    double EDateOrNo = 0;
    double BDateOrNo = 0;
    double EMoney = 0;
    double BMoney = 0;
    std::string OperSymble;
    std::string BVoucher_ID = "0";
    std::string EVoucher_ID = "0";
    std::string BCreateDate;
    std::string ECreateDate;
    // The book set that owns the account AS_Code names; empty: whichever
    // account each row's book set uses under that code.
    std::string AccountSetCode;

    void CopyFrom(const TCaGlide& other) override;
};

// The journal's sort keys, stored per journal table.
class LH_API TOrder_itemMng {
  public:
    struct Item {
        std::string Field;    // key name, for example "create_date"
        std::string Caption;  // line text, for example "日期"
    };

    explicit TOrder_itemMng(std::string tableName = kStatementTable);
    int Getcount();
    // Replaces the lines with one line per item, in order.
    void Assignto(QStringList& lines);
    void Exchange(int a, int b);
    // Stores the current order.
    void save();
    const std::vector<Item>& items();
    // The ORDER BY terms for the journal table.
    std::string orderByTerms();
    static std::vector<Item> defaultItems();

  private:
    void ensureLoaded();
    std::string tableName_;
    std::vector<Item> items_;
    bool loaded_ = false;
};

// The journal manager: loads the rows of one table under its conditions, with
// balances and summary rows, and stores rows added to it.
class LH_API TCaGlideMng {
  public:
    explicit TCaGlideMng(std::string tableName);
    virtual ~TCaGlideMng();

    // Loads the rows under CaGlideQry (see the comment on the implementation).
    virtual void Load();
    int GetCount() const { return static_cast<int>(rows_.size()); }
    // The loaded row by index from 0; nothing outside the range.
    TCaGlide* GetDetails(int index) const;

    // Appends a row to be stored by the next Save; the manager owns it.
    void Add(TCaGlide* row);
    void Add(std::unique_ptr<TCaGlide> row) { Add(row.release()); }
    // Stores every added row as its OperFlag says, all in one transaction or
    // none. Throws StoreError (nothing stored) on failure; afterwards the
    // stored rows are no longer pending.
    void Save();
    std::size_t PendingCount() const { return pending_.size(); }
    TCaGlide* PendingAt(std::size_t i) const { return pending_[i].get(); }
    // Drops the pending rows from index `from` on, unsaved.
    void DiscardPending(std::size_t from = 0);

    TCaGlideQry* CaGlideQry() const { return query_.get(); }
    const std::string& TableName() const { return tableName_; }
    TBaseInfoManage* CurrentManage() { return &currents_; }
    TBaseInfoManage* DepartmentManage() { return &departments_; }
    TBankAccountManage* BankAccountManage() { return &accounts_; }

    std::int32_t SubjectKind = 0;
    TOrder_itemMng* OrderItemMng = nullptr;

  private:
    std::string tableName_;
    std::unique_ptr<TCaGlideQry> query_;
    std::vector<std::unique_ptr<TCaGlide>> rows_;
    std::vector<std::unique_ptr<TCaGlide>> pending_;
    TCurrentManage currents_;
    TDepartmentManage departments_;
    TBankAccountManage accounts_;
};

// Removes what an operation added to a manager's pending rows when it does not
// finish, so a later Save through the same manager cannot store rows of a
// failed import. Call done() once the rows are stored.
class PendingRollback {
  public:
    explicit PendingRollback(TCaGlideMng& m) : mng_(m), from_(m.PendingCount()) {}
    ~PendingRollback() {
        if (!done_) mng_.DiscardPending(from_);
    }
    PendingRollback(const PendingRollback&) = delete;
    PendingRollback& operator=(const PendingRollback&) = delete;
    // How many rows were pending before the operation began.
    std::size_t from() const { return from_; }
    void done() { done_ = true; }

  private:
    TCaGlideMng& mng_;
    std::size_t from_;
    bool done_ = false;
};

// What the entry dialog offers as one types a summary: the common summaries
// (in code order), then the summaries of the book set's earlier rows in the
// journal table, the most used first; each text once, and never one of the
// summary rows' texts.
LH_API QStringList summaryCompletions(Database& db, const std::string& setCode,
                                      const std::string& table);

}  // namespace ledgerhost
