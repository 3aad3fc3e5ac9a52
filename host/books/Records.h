#pragma once

// The host's records and managers that the plug-in reaches: book sets, users,
// bank accounts, base information, voucher types, options, the database
// manager and the common message object, and the global references the host
// hands to a plug-in. Journal rows and their manager are in Glide.h.

#include <QDateTime>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

// Account states.
inline constexpr const char* kAccountInUse = "1";
inline constexpr const char* kAccountStopped = "0";

// A bank or cash account. Records are shared: a manager that drops what it has
// loaded leaves records that a window still holds intact.
struct LH_API TBankAccount {
    std::string SetCode;      // book set the account belongs to
    std::string AsCode;       // account code, what SetASCode takes
    std::string AccountNo;    // bank account number
    std::string AccountName;  // display name
    std::int32_t Kind = 0;    // subject kind: 1 bank, 2 cash
    std::string State = kAccountInUse;
    double OpeningBalance = 0;  // balance at the start of the book year
    std::string SubjectCode;    // ledger subject its vouchers post to
};
using BankAccountPtr = std::shared_ptr<TBankAccount>;

class LH_API TBankAccountManage {
  public:
    // Book set that scopes the lookups; empty for the accounts of every book set.
    std::string SetCode;

    int GetCount();
    BankAccountPtr GetDetail(int index);
    // By account number; empty text finds none.
    BankAccountPtr DetailByName(const std::string& accountNo);
    // By display name; empty text finds none.
    BankAccountPtr DetailByDispName(const std::string& name);
    BankAccountPtr DetailByCode(const std::string& setCode, const std::string& asCode);
    // The same in a given database.
    static BankAccountPtr DetailByCode(Database& db, const std::string& setCode,
                                       const std::string& asCode);
    // Drops the loaded records, so that the next lookup reads them afresh.
    void ClearObjects();

  private:
    void ensureLoaded();
    std::vector<BankAccountPtr> items_;
    bool loaded_ = false;
    std::string loadedFor_;
};

struct LH_API TBookSet {
    std::string Code;
    std::string DispCode;
    std::int32_t Year = 0;
    std::string Name;
    std::uint8_t EntryLocked = 0;    // entry and import are closed
    std::uint8_t InitConfirmed = 0;  // cashier initialisation confirmed
    std::int32_t ManageFlag = 0;     // non-zero: manages other book sets
    std::string ManageSetCode;       // the book set that manages this one
    std::int32_t StartMonth = 1;     // the first month in use (启用期间) of the first year
    std::int32_t StartYear = 0;      // the first year of the books (0: Year)
    std::uint8_t Closed = 0;         // closed: no longer used, kept for its rows

    std::string GetManageSetCode() const { return ManageSetCode; }
    // Reads a book set from the store; nothing when there is none.
    static std::optional<TBookSet> load(Database& db, const std::string& code);
};

// The book sets a user may work in, in the user's order.
class LH_API TBookSetMng {
  public:
    explicit TBookSetMng(std::string userCode) : userCode_(std::move(userCode)) {}
    int GetCount();
    TBookSet* GetDetail(int index);
    void Refresh() { loaded_ = false; }

  private:
    void ensureLoaded();
    std::string userCode_;
    std::vector<std::unique_ptr<TBookSet>> items_;
    bool loaded_ = false;
};

// The book-set manager: holds the current book set.
class LH_API TBookManage {
  public:
    explicit TBookManage(TBookSet current)
        : BookSet(std::make_unique<TBookSet>(std::move(current))) {}
    std::unique_ptr<TBookSet> BookSet;
};

class LH_API TUser {
  public:
    TUser() = default;
    TUser(std::string code, std::string name) : Code(std::move(code)), Name(std::move(name)) {}
    // The user of that code as stored; an unknown code gives an empty name.
    explicit TUser(const std::string& code);
    std::string Code;
    std::string Name;
};

class LH_API TUserManage {
  public:
    explicit TUserManage(const std::string& userCode);
    int GetUserCount();
    TUser* GetUsers(int index);
    TBankAccountManage* BankAccountManage() { return &accounts_; }
    TBookSetMng* BookSetMng() { return &bookSets_; }

  private:
    void ensureLoaded();
    std::vector<std::unique_ptr<TUser>> users_;
    bool loaded_ = false;
    TBankAccountManage accounts_;
    TBookSetMng bookSets_;
};

// An item of base information: departments, counterpart units, pay modes.
struct LH_API TBaseInfoItem {
    std::string InCode;  // stored in journal rows
    std::string Code;    // typed and shown
    std::string Name;
};

inline constexpr const char* kPayMode = "PAY_MODE";
inline constexpr const char* kCurrents = "CURRENTS";
inline constexpr const char* kDepartment = "DEPARTMENT";

class LH_API TBaseInfoManage {
  public:
    explicit TBaseInfoManage(std::string kind);
    virtual ~TBaseInfoManage() = default;
    const std::string& Kind() const { return kind_; }
    int GetBaseInfoCount();
    TBaseInfoItem* GetBaseInfo(int index);
    // Name of the item with that inner code; empty when there is none.
    std::string GetDisplayName(const std::string& inCode, int flag);
    std::string GetDispNameByInCode(const std::string& inCode);
    TBaseInfoItem* GetOfInCode(const std::string& inCode);
    TBaseInfoItem* GetOfCode(const std::string& code);
    void Refresh() { loaded_ = false; }

  private:
    void ensureLoaded();
    std::string kind_;
    std::vector<std::unique_ptr<TBaseInfoItem>> items_;
    std::unordered_map<std::string, TBaseInfoItem*> byInCode_;
    bool loaded_ = false;
};

class LH_API TDepartmentManage : public TBaseInfoManage {
  public:
    TDepartmentManage() : TBaseInfoManage(kDepartment) {}
};

class LH_API TCurrentManage : public TBaseInfoManage {
  public:
    TCurrentManage() : TBaseInfoManage(kCurrents) {}
};

class LH_API TBasisManageFactory {
  public:
    // The manager of that kind ("PAY_MODE", "CURRENTS", "DEPARTMENT"); owned by
    // the factory.
    TBaseInfoManage* GetBaseInfoManage(const std::string& kind);

  private:
    std::vector<std::unique_ptr<TBaseInfoManage>> managers_;
};

struct LH_API TVoucherType {
    std::int32_t Id = 0;
    std::string Name;
};

class LH_API TVDefineManage {
  public:
    explicit TVDefineManage(std::string setCode) : setCode_(std::move(setCode)) {}
    std::vector<TVoucherType> GetAllVoucherType();
    std::string GetDefineNameByID(std::int32_t id);

  private:
    const std::vector<TVoucherType>& types();
    std::string setCode_;
    std::vector<TVoucherType> cache_;
    bool loaded_ = false;
};

class LH_API TBookSetOptionManage {
  public:
    // The option's text for the current book set; empty when it is not set.
    // The first argument names the book set; "-1" means the current one.
    static std::string GetOptionValueByName(const std::string& setCode, const std::string& name);
};

class LH_API TDBManage {
  public:
    explicit TDBManage(const std::string& path) : db_(path) {}
    Database& Db() { return db_; }
    // The server's current date and time. Tests may fix it.
    QDateTime GetDBTime() const;
    std::optional<QDateTime> FixedTime;

  private:
    Database db_;
};

// Host references the plug-in binds but does not use.
class LH_API TUserRole {};
class LH_API TTableManage {};
class LH_API TFieldManage {};
class LH_API TVRestrictManage {};
class LH_API TInputCtrl {};

// The global references. The host application fills them; a plug-in binds
// them again from its host block.
LH_API extern TDBManage* DBManage;
LH_API extern TUser* User;
LH_API extern TUserManage* UserManage;
LH_API extern TUserRole* UserRole;
LH_API extern TTableManage* TableManage;
LH_API extern TFieldManage* FieldManage;
LH_API extern TBookManage* BookManage;
LH_API extern TVDefineManage* VDefineManage;
LH_API extern TVRestrictManage* VRestrictManage;
LH_API extern TBasisManageFactory* BasisManageFactory;
LH_API extern TInputCtrl* InputCtrl;

// The store behind DBManage; throws when no database is bound.
LH_API Database& currentDb();
// The account a book set's rows use under a code: the book set's own, else its
// managing book set's; nothing when neither has one.
LH_API BankAccountPtr accountForRows(Database& db, const std::string& setCode,
                                     const std::string& asCode);
// The current book set; throws when none is bound.
LH_API TBookSet& currentBookSet();

// Cashier routines.
// The index-th piece of text split at sep (from 0); empty when there is none.
LH_API std::string GetFlagString(const std::string& text, const std::string& sep, int index);
// Identifier of the voucher of that type and number in that period of the book
// set, or empty text when there is none. A month of 0 means the whole year.
LH_API std::string GetVoucher_id(const std::string& setCode, int year, int month, int day,
                                 std::int32_t voucherClass, std::int64_t number);
// Whether the voucher with that identifier in the book set is dated in that
// month of that year.
LH_API bool voucherInMonth(const std::string& setCode, const std::string& voucherId, int year,
                           int month);

}  // namespace ledgerhost
