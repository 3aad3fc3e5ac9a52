// The module "银行对账": the same four exports as the journal modules; its
// window works on the current book set's bank accounts.
#include <QWidget>
#include <cstdint>
#include <memory>

#include "PluginApi.h"
#include "PluginBinding.h"
#include "ReconcileWindow.h"
#include "Records.h"
#include "Seams.h"

#define LEDGER_EXPORT extern "C" __attribute__((visibility("default")))

LEDGER_EXPORT void PluginName(ledgerhost::HostStr* var);
LEDGER_EXPORT void PluginDetail(ledgerhost::HostStr* var);
LEDGER_EXPORT void PluginType(ledgerhost::HostStr* var);
LEDGER_EXPORT std::int32_t PluginRun(std::uint32_t appWindow, ledgerhost::PluginHostBlock* block);

using namespace ledgerhost;

void PluginName(HostStr* var) {
    storePluginText(var, "银行对账");
}
void PluginDetail(HostStr* var) {
    storePluginText(var, "银行对账（银行日记账与银行对账单勾对，余额调节表）");
}
void PluginType(HostStr* var) {
    storePluginText(var, "出纳");
}

// Binds the host's managers from the block and opens the window. No exception
// leaves this function: a failure is reported through the host's error
// message, answers -1 and leaves the block unwritten.
std::int32_t PluginRun(std::uint32_t appWindow, PluginHostBlock* block) {
    return runPluginWindow(appWindow, block, "没有初始化确认，不能进行银行对账！",
                           [](QWidget* owner) {
                               return std::make_unique<TFrmBankReconcile>(
                                   owner, DBManage->Db(), currentBookSet().Code, User->Code);
                           });
}
