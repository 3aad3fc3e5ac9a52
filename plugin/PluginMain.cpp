#include "PluginMain.h"

#include <QWidget>
#include <memory>
#include <stdexcept>

#include "Codec.h"
#include "Guard.h"
#include "Handles.h"
#include "Records.h"
#include "Seams.h"
#include "Unt_CashGlideForm.h"

using namespace ledgerhost;

namespace {

// What this module keeps, fixed when it is compiled.
struct ModuleKind {
    const char* name;
    const char* detail;
    std::int32_t subjectKind;
    std::int32_t journalKind;
    const char* refusal;
};

#if defined(LEDGER_PLUGIN_CASH)
constexpr ModuleKind kModule{"现金日记账", "现金日记账", 2, jkCash,
                             "没有初始化确认，不能进行现金日记账录入！"};
#elif defined(LEDGER_PLUGIN_BANK)
constexpr ModuleKind kModule{"银行日记账", "银行日记账", 1, jkBank,
                             "没有初始化确认，不能进行银行日记账录入！"};
#else
constexpr ModuleKind kModule{"银行对账单", "银行对账单", 1, jkStatement,
                             "没有初始化确认，不能进行对账单录入！"};
#endif

constexpr const char* kPluginType = "出纳";

void storeText(HostStr* var, const char* utf8) {
    if (var) hostStrAssign(var, utf8ToGbk(utf8));
}

template <class T>
T* bindSlot(std::uint32_t handle, const char* what) {
    T* object = resolveHandle<T>(handle);
    if (!object) throw std::runtime_error(std::string("主程序没有提供") + what + "。");
    return object;
}

}  // namespace

void PluginName(HostStr* var) {
    storeText(var, kModule.name);
}
void PluginDetail(HostStr* var) {
    storeText(var, kModule.detail);
}
void PluginType(HostStr* var) {
    storeText(var, kPluginType);
}

// Binds the host's managers from the block and creates the journal window. No
// exception leaves this function: a failure is reported through the host's
// error message, answers -1 and leaves the block unwritten.
std::int32_t PluginRun(std::uint32_t appWindow, PluginHostBlock* block) {
    std::int32_t result = -1;
    try {
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

        if (!currentBookSet().InitConfirmed) {
            CmmObj->MsgBox(kModule.refusal);
            return result;
        }
        QWidget* owner = resolveHandle<QWidget>(block->Owner);
        auto window =
            std::make_unique<TFrmCashGlide>(owner, kModule.subjectKind, kModule.journalKind);
        std::uint32_t handle = handleAdd(static_cast<QWidget*>(window.get()), typeid(QWidget));
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
