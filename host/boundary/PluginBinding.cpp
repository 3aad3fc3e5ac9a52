#include "PluginBinding.h"

#include <QWidget>
#include <stdexcept>
#include <string>
#include <vector>

#include "Codec.h"
#include "CommonObj.h"
#include "Guard.h"
#include "Handles.h"
#include "Records.h"
#include "Seams.h"
#include "Session.h"

namespace ledgerhost {
namespace {

template <class T>
T* bindSlot(std::uint32_t handle, const char* what) {
    T* object = resolveHandle<T>(handle);
    if (!object) throw std::runtime_error(std::string("主程序没有提供") + what + "。");
    return object;
}

}  // namespace

PluginHostBlock makeHostBlock(HostSession& session, QWidget* owner) {
    PluginHostBlock b{};
    std::vector<std::uint32_t> issued;
    auto reg = [&](auto& object) {
        const std::uint32_t h = registerHandle(&object);
        issued.push_back(h);
        return h;
    };
    b.DBManage = reg(session.dbManage());
    b.User = reg(session.user());
    b.UserManage = reg(session.userManage());
    b.UserRole = reg(session.userRole());
    b.TableManage = reg(session.tableManage());
    b.FieldManage = reg(session.fieldManage());
    b.BookManage = reg(session.bookManage());
    b.VDefineManage = reg(session.vdefineManage());
    b.VRestrictManage = reg(session.vrestrictManage());
    b.BasisManageFactory = reg(session.basisManageFactory());
    b.InputCtrl = reg(session.inputCtrl());
    b.Owner = owner ? registerHandle(owner) : 0;
    session.atClose([issued] {
        for (std::uint32_t h : issued) handleRemove(h);
    });
    return b;
}

void bindHostBlock(std::uint32_t appWindow, const PluginHostBlock* block) {
    if (!block) throw std::runtime_error("主程序没有提供插件参数。");
    setApplicationWindow(resolveHandle<QWidget>(appWindow));
    DBManage = bindSlot<TDBManage>(block->DBManage, "数据库管理对象");
    User = bindSlot<TUser>(block->User, "当前用户");
    UserManage = bindSlot<TUserManage>(block->UserManage, "用户管理对象");
    UserRole = bindSlot<TUserRole>(block->UserRole, "用户角色");
    TableManage = bindSlot<TTableManage>(block->TableManage, "表管理对象");
    FieldManage = bindSlot<TFieldManage>(block->FieldManage, "字段管理对象");
    BookManage = bindSlot<TBookManage>(block->BookManage, "账套管理对象");
    VDefineManage = bindSlot<TVDefineManage>(block->VDefineManage, "凭证定义管理对象");
    VRestrictManage = bindSlot<TVRestrictManage>(block->VRestrictManage, "凭证限制管理对象");
    BasisManageFactory =
        bindSlot<TBasisManageFactory>(block->BasisManageFactory, "基础资料管理对象");
    InputCtrl = bindSlot<TInputCtrl>(block->InputCtrl, "录入控制对象");
}

std::int32_t runPluginWindow(
    std::uint32_t appWindow, PluginHostBlock* block, const char* refusal,
    const std::function<std::unique_ptr<QWidget>(QWidget* owner)>& makeWindow) {
    std::int32_t result = -1;
    try {
        bindHostBlock(appWindow, block);
        if (!currentBookSet().InitConfirmed) {
            CmmObj->MsgBox(refusal);
            return result;
        }
        std::unique_ptr<QWidget> window = makeWindow(resolveHandle<QWidget>(block->Owner));
        std::uint32_t handle = handleAdd(window.get(), typeid(QWidget));
        QObject::connect(window.get(), &QObject::destroyed, [handle] {
            guarded(nullptr, "关闭窗口", [handle] { handleRemove(handle); });
        });
        block->Window = handle;
        block->Flag = 0;
        static_cast<void>(window.release());  // owned by its owner from now on
        result = 0;
    } catch (const std::exception& e) {
        CmmObj->MsgError(e.what());
    } catch (...) {
        CmmObj->MsgError("插件启动时发生未知错误。");
    }
    return result;
}

void storePluginText(HostStr* var, const char* utf8) {
    if (var) hostStrAssign(var, utf8ToGbk(utf8));
}

}  // namespace ledgerhost
