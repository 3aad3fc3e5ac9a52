#include "PluginMain.h"

#include <QWidget>
#include <memory>

#include "PluginBinding.h"
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

}  // namespace

void PluginName(HostStr* var) {
    storePluginText(var, kModule.name);
}
void PluginDetail(HostStr* var) {
    storePluginText(var, kModule.detail);
}
void PluginType(HostStr* var) {
    storePluginText(var, kPluginType);
}

// Binds the host's managers from the block and creates the journal window. No
// exception leaves this function: a failure is reported through the host's
// error message, answers -1 and leaves the block unwritten.
std::int32_t PluginRun(std::uint32_t appWindow, PluginHostBlock* block) {
    return runPluginWindow(appWindow, block, kModule.refusal, [](QWidget* owner) {
        return std::make_unique<TFrmCashGlide>(owner, kModule.subjectKind, kModule.journalKind);
    });
}
