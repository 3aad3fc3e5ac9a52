#include "Records.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "Trim.h"

namespace ledgerhost {

TDBManage* DBManage = nullptr;
TUser* User = nullptr;
TUserManage* UserManage = nullptr;
TUserRole* UserRole = nullptr;
TTableManage* TableManage = nullptr;
TFieldManage* FieldManage = nullptr;
TBookManage* BookManage = nullptr;
TVDefineManage* VDefineManage = nullptr;
TVRestrictManage* VRestrictManage = nullptr;
TBasisManageFactory* BasisManageFactory = nullptr;
TInputCtrl* InputCtrl = nullptr;

Database& currentDb() {
    if (!DBManage) throw StoreError("没有打开账套数据库。");
    return DBManage->Db();
}

TBookSet& currentBookSet() {
    if (!BookManage || !BookManage->BookSet) throw StoreError("没有当前账套。");
    return *BookManage->BookSet;
}

// ---- bank accounts ----

namespace {

BankAccountPtr readAccount(Stmt& s) {
    auto a = std::make_shared<TBankAccount>();
    a->SetCode = s.text(0);
    a->AsCode = s.text(1);
    a->AccountNo = s.text(2);
    a->AccountName = s.text(3);
    a->Kind = s.i32(4);
    a->State = s.text(5);
    a->OpeningBalance = fromCents(s.i64(6));
    a->SubjectCode = s.text(7);
    return a;
}

constexpr const char* kAccountColumns =
    "SELECT set_code, as_code, account_no, name, kind, state, opening_cents, subject_code "
    "FROM bank_accounts ";

}  // namespace

void TBankAccountManage::ensureLoaded() {
    if (loaded_ && loadedFor_ == SetCode) return;
    items_.clear();
    Database& db = currentDb();
    Stmt s = SetCode.empty()
                 ? db.prepare(std::string(kAccountColumns) + "ORDER BY set_code, as_code")
                 : db.prepare(std::string(kAccountColumns) + "WHERE set_code = ? ORDER BY as_code");
    if (!SetCode.empty()) s.bind(1, SetCode);
    while (s.step()) items_.push_back(readAccount(s));
    loaded_ = true;
    loadedFor_ = SetCode;
}

int TBankAccountManage::GetCount() {
    ensureLoaded();
    return static_cast<int>(items_.size());
}

BankAccountPtr TBankAccountManage::GetDetail(int index) {
    ensureLoaded();
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return items_[index];
}

BankAccountPtr TBankAccountManage::DetailByName(const std::string& accountNo) {
    if (accountNo.empty()) return nullptr;
    ensureLoaded();
    for (auto& a : items_)
        if (a->AccountNo == accountNo) return a;
    return nullptr;
}

BankAccountPtr TBankAccountManage::DetailByDispName(const std::string& name) {
    if (name.empty()) return nullptr;
    ensureLoaded();
    for (auto& a : items_)
        if (a->AccountName == name) return a;
    return nullptr;
}

BankAccountPtr TBankAccountManage::DetailByCode(const std::string& setCode,
                                                const std::string& asCode) {
    return DetailByCode(currentDb(), setCode, asCode);
}

BankAccountPtr TBankAccountManage::DetailByCode(Database& db, const std::string& setCode,
                                                const std::string& asCode) {
    Stmt s = db.prepare(std::string(kAccountColumns) + "WHERE set_code = ? AND as_code = ?");
    s.bind(1, setCode).bind(2, asCode);
    return s.step() ? readAccount(s) : nullptr;
}

BankAccountPtr accountForRows(Database& db, const std::string& setCode, const std::string& asCode) {
    if (asCode.empty()) return nullptr;
    if (auto a = TBankAccountManage::DetailByCode(db, setCode, asCode)) return a;
    if (auto book = TBookSet::load(db, setCode); book && !book->ManageSetCode.empty())
        return TBankAccountManage::DetailByCode(db, book->ManageSetCode, asCode);
    return nullptr;
}

void TBankAccountManage::ClearObjects() {
    items_.clear();
    loaded_ = false;
}

// ---- book sets ----

std::optional<TBookSet> TBookSet::load(Database& db, const std::string& code) {
    // The books began in the earliest year carried forward, else this one.
    Stmt s = db.prepare(
        "SELECT code, disp_code, year, name, entry_locked, init_confirmed, manage_flag, "
        "manage_set_code, start_month, closed, (SELECT MIN(c.year) FROM closed_years c WHERE "
        "c.set_code = b.code) FROM book_sets b WHERE code = ?");
    s.bind(1, code);
    if (!s.step()) return std::nullopt;
    TBookSet b;
    b.Code = s.text(0);
    b.DispCode = s.text(1);
    b.Year = s.i32(2);
    b.Name = s.text(3);
    b.EntryLocked = s.i32(4) != 0;
    b.InitConfirmed = s.i32(5) != 0;
    b.ManageFlag = s.i32(6);
    b.ManageSetCode = s.text(7);
    b.StartMonth = s.i32(8);
    b.Closed = s.i32(9) != 0;
    b.StartYear = s.isNull(10) ? b.Year : s.i32(10);
    return b;
}

void TBookSetMng::ensureLoaded() {
    if (loaded_) return;
    items_.clear();
    Database& db = currentDb();
    Stmt s = db.prepare(
        "SELECT set_code FROM user_book_sets WHERE user_code = ? ORDER BY position, set_code");
    s.bind(1, userCode_);
    while (s.step())
        if (auto b = TBookSet::load(db, s.text(0)))
            items_.push_back(std::make_unique<TBookSet>(*b));
    loaded_ = true;
}

int TBookSetMng::GetCount() {
    ensureLoaded();
    return static_cast<int>(items_.size());
}

TBookSet* TBookSetMng::GetDetail(int index) {
    ensureLoaded();
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return items_[index].get();
}

// ---- users ----

TUser::TUser(const std::string& code) : Code(code) {
    if (code.empty() || !DBManage) return;
    Stmt s = currentDb().prepare("SELECT name FROM users WHERE code = ?");
    s.bind(1, code);
    if (s.step()) Name = s.text(0);
}

TUserManage::TUserManage(const std::string& userCode) : bookSets_(userCode) {}

void TUserManage::ensureLoaded() {
    if (loaded_) return;
    users_.clear();
    Stmt s = currentDb().prepare("SELECT code, name FROM users ORDER BY code");
    while (s.step()) users_.push_back(std::make_unique<TUser>(s.text(0), s.text(1)));
    loaded_ = true;
}

int TUserManage::GetUserCount() {
    ensureLoaded();
    return static_cast<int>(users_.size());
}

TUser* TUserManage::GetUsers(int index) {
    ensureLoaded();
    if (index < 0 || index >= static_cast<int>(users_.size())) return nullptr;
    return users_[index].get();
}

// ---- base information ----

TBaseInfoManage::TBaseInfoManage(std::string kind) : kind_(std::move(kind)) {}

void TBaseInfoManage::ensureLoaded() {
    if (loaded_) return;
    items_.clear();
    byInCode_.clear();
    Stmt s = currentDb().prepare(
        "SELECT in_code, code, name FROM base_info WHERE kind = ? ORDER BY position, code");
    s.bind(1, kind_);
    while (s.step()) {
        items_.push_back(
            std::make_unique<TBaseInfoItem>(TBaseInfoItem{s.text(0), s.text(1), s.text(2)}));
        byInCode_.emplace(items_.back()->InCode, items_.back().get());
    }
    loaded_ = true;
}

int TBaseInfoManage::GetBaseInfoCount() {
    ensureLoaded();
    return static_cast<int>(items_.size());
}

TBaseInfoItem* TBaseInfoManage::GetBaseInfo(int index) {
    ensureLoaded();
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return items_[index].get();
}

TBaseInfoItem* TBaseInfoManage::GetOfInCode(const std::string& inCode) {
    if (inCode.empty()) return nullptr;
    ensureLoaded();
    auto it = byInCode_.find(inCode);
    return it == byInCode_.end() ? nullptr : it->second;
}

TBaseInfoItem* TBaseInfoManage::GetOfCode(const std::string& code) {
    if (code.empty()) return nullptr;
    ensureLoaded();
    for (auto& i : items_)
        if (i->Code == code) return i.get();
    return nullptr;
}

std::string TBaseInfoManage::GetDisplayName(const std::string& inCode, int) {
    TBaseInfoItem* i = GetOfInCode(inCode);
    return i ? i->Name : std::string();
}

std::string TBaseInfoManage::GetDispNameByInCode(const std::string& inCode) {
    return GetDisplayName(inCode, 0);
}

TBaseInfoManage* TBasisManageFactory::GetBaseInfoManage(const std::string& kind) {
    for (auto& m : managers_)
        if (m->Kind() == kind) return m.get();
    managers_.push_back(std::make_unique<TBaseInfoManage>(kind));
    return managers_.back().get();
}

// ---- voucher types ----

const std::vector<TVoucherType>& TVDefineManage::types() {
    if (!loaded_) {
        cache_.clear();
        Stmt s = currentDb().prepare(
            "SELECT id, name FROM voucher_types WHERE set_code = ? ORDER BY id");
        s.bind(1, setCode_);
        while (s.step()) cache_.push_back({s.i32(0), s.text(1)});
        loaded_ = true;
    }
    return cache_;
}

std::vector<TVoucherType> TVDefineManage::GetAllVoucherType() {
    return types();
}

std::string TVDefineManage::GetDefineNameByID(std::int32_t id) {
    for (const auto& t : types())
        if (t.Id == id) return t.Name;
    return {};
}

// ---- options, time ----

std::string TBookSetOptionManage::GetOptionValueByName(const std::string& setCode,
                                                       const std::string& name) {
    std::string code = setCode == "-1" || setCode.empty() ? currentBookSet().Code : setCode;
    Stmt s =
        currentDb().prepare("SELECT value FROM book_set_options WHERE set_code = ? AND name = ?");
    s.bind(1, code).bind(2, name);
    return s.step() ? s.text(0) : std::string();
}

// The database server's clock on a server, so that every workstation dates
// alike; the machine's own for a file.
QDateTime TDBManage::GetDBTime() const {
    if (FixedTime) return *FixedTime;
    auto& db = const_cast<Database&>(db_);
    if (db.engine() == Database::Engine::PostgreSQL) {
        const QDateTime t = QDateTime::fromString(QString::fromStdString(db.serverTime()),
                                                  QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (t.isValid()) return t;
    }
    return QDateTime::currentDateTime();
}

// ---- cashier routines ----

std::string GetFlagString(const std::string& text, const std::string& sep, int index) {
    if (index < 0) return {};
    auto pieces = splitKeepingEmpty(text, sep);
    return index < static_cast<int>(pieces.size()) ? pieces[index] : std::string();
}

std::string GetVoucher_id(const std::string& setCode, int year, int month, int day,
                          std::int32_t voucherClass, std::int64_t number) {
    if (number <= 0 || year <= 0) return {};
    Database& db = currentDb();
    std::string from, to;
    char buf[32];
    if (month >= 1 && month <= 12) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-01", year, month);
        from = buf;
        std::snprintf(buf, sizeof buf, "%04d-%02d-31", year, month);
        to = buf;
    } else {
        std::snprintf(buf, sizeof buf, "%04d-01-01", year);
        from = buf;
        std::snprintf(buf, sizeof buf, "%04d-12-31", year);
        to = buf;
    }
    Stmt s = db.prepare(
        "SELECT id FROM vouchers WHERE set_code = ? AND voucher_class = ? AND voucher_no = ? "
        "AND vdate BETWEEN ? AND ? ORDER BY vdate, id LIMIT 1");
    s.bind(1, setCode).bind(2, voucherClass).bind(3, number).bind(4, from).bind(5, to);
    return s.step() ? std::to_string(s.i64(0)) : std::string();
}

bool voucherInMonth(const std::string& setCode, const std::string& voucherId, int year, int month) {
    std::int64_t id = 0;
    const auto [end, ec] =
        std::from_chars(voucherId.data(), voucherId.data() + voucherId.size(), id);
    if (ec != std::errc() || end != voucherId.data() + voucherId.size() || id <= 0) return false;
    char from[16], to[16];
    std::snprintf(from, sizeof from, "%04d-%02d-01", year, month);
    std::snprintf(to, sizeof to, "%04d-%02d-31", year, month);
    Stmt s = currentDb().prepare(
        "SELECT 1 FROM vouchers WHERE id = ? AND set_code = ? AND vdate BETWEEN ? AND ?");
    s.bind(1, id).bind(2, setCode).bind(3, std::string(from)).bind(4, std::string(to));
    return s.step();
}

}  // namespace ledgerhost
