#pragma once

#include <cstdint>

#include "PluginApi.h"

// The module's exports. Each module built from these sources keeps one journal
// (chosen when it is compiled) and exports exactly these four functions.
#define LEDGER_EXPORT extern "C" __attribute__((visibility("default")))

LEDGER_EXPORT void PluginName(ledgerhost::HostStr* var);
LEDGER_EXPORT void PluginDetail(ledgerhost::HostStr* var);
LEDGER_EXPORT void PluginType(ledgerhost::HostStr* var);
LEDGER_EXPORT std::int32_t PluginRun(std::uint32_t appWindow, ledgerhost::PluginHostBlock* block);
