#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "LhApi.h"
#include "PluginApi.h"
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
    // A host block with this session's handles and the owner's.
    PluginHostBlock makeBlock(QWidget* owner);

    TDBManage& dbManage() { return *db_; }
    TBookSet& bookSet() { return *books_->BookSet; }
    TUser& user() { return *user_; }

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
    std::vector<std::uint32_t> handles_;
};

}  // namespace ledgerhost
