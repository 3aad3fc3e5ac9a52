// The module "资金日报表": the same four exports as the journal modules; its
// window reports the current book set's cash and bank accounts.
#include <QWidget>
#include <cstdint>
#include <memory>

#include "FundsWindow.h"
#include "PluginApi.h"
#include "PluginBinding.h"
#include "Records.h"
#include "Seams.h"

#define LEDGER_EXPORT extern "C" __attribute__((visibility("default")))

LEDGER_EXPORT void PluginName(ledgerhost::HostStr* var);
LEDGER_EXPORT void PluginDetail(ledgerhost::HostStr* var);
LEDGER_EXPORT void PluginType(ledgerhost::HostStr* var);
LEDGER_EXPORT std::int32_t PluginRun(std::uint32_t appWindow, ledgerhost::PluginHostBlock* block);

using namespace ledgerhost;

void PluginName(HostStr* var) {
    storePluginText(var, "资金日报表");
}
void PluginDetail(HostStr* var) {
    storePluginText(var, "资金日报表（各现金、银行账户的余额、收支及余额走势图）");
}
void PluginType(HostStr* var) {
    storePluginText(var, "出纳");
}

// Binds the host's managers from the block and opens the window. No exception
// leaves this function: a failure is reported through the host's error
// message, answers -1 and leaves the block unwritten.
std::int32_t PluginRun(std::uint32_t appWindow, PluginHostBlock* block) {
    return runPluginWindow(
        appWindow, block, "没有初始化确认，不能查看资金日报表！", [](QWidget* owner) {
            return std::make_unique<TFrmFundsDaily>(owner, DBManage->Db(), currentBookSet().Code,
                                                    User->Code, User->Name);
        });
}
