#include "Session.h"

namespace ledgerhost {

HostSession::HostSession(const std::string& dbPath, const std::string& bookCode,
                         const std::string& userCode)
    : db_(std::make_unique<TDBManage>(dbPath)) {
    auto book = TBookSet::load(db_->Db(), bookCode);
    if (!book) throw StoreError("账套 " + bookCode + " 不存在。");
    if (book->Closed)
        throw StoreError("账套 " + bookCode + "（" + book->Name + "）已关闭，不能使用。");
    {
        Stmt s = db_->Db().prepare("SELECT name FROM users WHERE code = ?");
        s.bind(1, userCode);
        if (!s.step()) throw StoreError("用户 " + userCode + " 不存在。");
        user_ = std::make_unique<TUser>(userCode, s.text(0));
    }
    {
        // A user works only in the book sets assigned to them.
        Stmt s =
            db_->Db().prepare("SELECT 1 FROM user_book_sets WHERE user_code = ? AND set_code = ?");
        s.bind(1, userCode).bind(2, bookCode);
        if (!s.step())
            throw StoreError("用户 " + userCode + "（" + user_->Name + "）没有使用账套 " +
                             bookCode + "（" + book->Name + "）的权限。");
    }
    users_ = std::make_unique<TUserManage>(userCode);
    role_ = std::make_unique<TUserRole>();
    tables_ = std::make_unique<TTableManage>();
    fields_ = std::make_unique<TFieldManage>();
    books_ = std::make_unique<TBookManage>(*book);
    vdefine_ = std::make_unique<TVDefineManage>(book->Code);
    vrestrict_ = std::make_unique<TVRestrictManage>();
    basis_ = std::make_unique<TBasisManageFactory>();
    input_ = std::make_unique<TInputCtrl>();
    bind();
}

HostSession::~HostSession() {
    for (auto& close : closers_) close();
    if (DBManage == db_.get()) {
        DBManage = nullptr;
        User = nullptr;
        UserManage = nullptr;
        UserRole = nullptr;
        TableManage = nullptr;
        FieldManage = nullptr;
        BookManage = nullptr;
        VDefineManage = nullptr;
        VRestrictManage = nullptr;
        BasisManageFactory = nullptr;
        InputCtrl = nullptr;
    }
}

void HostSession::bind() {
    DBManage = db_.get();
    User = user_.get();
    UserManage = users_.get();
    UserRole = role_.get();
    TableManage = tables_.get();
    FieldManage = fields_.get();
    BookManage = books_.get();
    VDefineManage = vdefine_.get();
    VRestrictManage = vrestrict_.get();
    BasisManageFactory = basis_.get();
    InputCtrl = input_.get();
}

}  // namespace ledgerhost
