#pragma once
// What a plug-in module's PluginRun does first: take the host's global
// managers out of the block it was handed.

#include <cstdint>

#include "LhApi.h"
#include "PluginApi.h"

namespace ledgerhost {

// Sets the application window and every global manager from the block's
// handles. Throws std::runtime_error naming the first object the block does
// not provide (a missing block included); the globals set before it stay set.
LH_API void bindHostBlock(std::uint32_t appWindow, const PluginHostBlock* block);

}  // namespace ledgerhost
