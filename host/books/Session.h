#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LhApi.h"
#include "Records.h"

namespace ledgerhost {

// A signed-in session of the host: the book-set database, the current book set
// and user, and the global managers, bound to the global references while the
// session lives. Throws StoreError when the book set or the user is unknown.
class LH_API HostSession {
  public:
    HostSession(const std::string& dbPath, const std::string& bookCode,
                const std::string& userCode);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Points the global references at this session's managers.
    void bind();
    // Runs `close` when the session ends, before its managers go (the plug-in
    // boundary drops the handles it issued for them).
    void atClose(std::function<void()> close) { closers_.push_back(std::move(close)); }

    TDBManage& dbManage() { return *db_; }
    TBookSet& bookSet() { return *books_->BookSet; }
    TUser& user() { return *user_; }

    // The managers, in the order of the host block's slots.
    TUserManage& userManage() { return *users_; }
    TUserRole& userRole() { return *role_; }
    TTableManage& tableManage() { return *tables_; }
    TFieldManage& fieldManage() { return *fields_; }
    TBookManage& bookManage() { return *books_; }
    TVDefineManage& vdefineManage() { return *vdefine_; }
    TVRestrictManage& vrestrictManage() { return *vrestrict_; }
    TBasisManageFactory& basisManageFactory() { return *basis_; }
    TInputCtrl& inputCtrl() { return *input_; }

  private:
    std::unique_ptr<TDBManage> db_;
    std::unique_ptr<TUser> user_;
    std::unique_ptr<TUserManage> users_;
    std::unique_ptr<TUserRole> role_;
    std::unique_ptr<TTableManage> tables_;
    std::unique_ptr<TFieldManage> fields_;
    std::unique_ptr<TBookManage> books_;
    std::unique_ptr<TVDefineManage> vdefine_;
    std::unique_ptr<TVRestrictManage> vrestrict_;
    std::unique_ptr<TBasisManageFactory> basis_;
    std::unique_ptr<TInputCtrl> input_;
    std::vector<std::function<void()>> closers_;
};

}  // namespace ledgerhost
