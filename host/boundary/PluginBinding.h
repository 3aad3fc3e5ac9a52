#pragma once
// What a plug-in module's PluginRun does first: take the host's global
// managers out of the block it was handed.

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

#include "LhApi.h"
#include "PluginApi.h"

namespace ledgerhost {

class HostSession;

// A host block with the session's managers and the owner, each slot a handle
// of the handle table; the handles go when the session ends.
LH_API PluginHostBlock makeHostBlock(HostSession& session, QWidget* owner);

// Sets the application window and every global manager from the block's
// handles. Throws std::runtime_error naming the first object the block does
// not provide (a missing block included); the globals set before it stay set.
LH_API void bindHostBlock(std::uint32_t appWindow, const PluginHostBlock* block);

// A module's PluginName, PluginDetail or PluginType answer: `utf8` stored
// into the host's string in the host's encoding (GBK); nothing without one.
LH_API void storePluginText(HostStr* var, const char* utf8);

// The whole of a module's PluginRun: binds the block, refuses with `refusal`
// when the current book set's cashier set-up is not confirmed, makes the
// window under the block's owner and hands its handle back through the block
// (the owner frees the window; its handle goes with it). No exception leaves:
// a failure is reported through the host's error message, answers -1 and
// leaves the block unwritten.
LH_API std::int32_t runPluginWindow(
    std::uint32_t appWindow, PluginHostBlock* block, const char* refusal,
    const std::function<std::unique_ptr<QWidget>(QWidget* owner)>& makeWindow);

}  // namespace ledgerhost
