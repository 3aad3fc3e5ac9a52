#pragma once

// The boundary between the host application and a plug-in module.

#include <cstddef>
#include <cstdint>

#include "HostString.h"

namespace ledgerhost {

// The block of host references handed to PluginRun. Its layout is shared with
// separately built code and is fixed byte for byte: 32-bit little-endian slots,
// each a handle from the host's handle table (0 = none).
#pragma pack(push, 1)
struct PluginHostBlock {
    std::uint32_t DBManage;            // 0
    std::uint32_t User;                // 4
    std::uint32_t UserManage;          // 8
    std::uint32_t UserRole;            // 12
    std::uint32_t Reserved16;          // 16, not taken by the plug-in
    std::uint32_t TableManage;         // 20
    std::uint32_t FieldManage;         // 24
    std::uint32_t BookManage;          // 28
    std::uint32_t VDefineManage;       // 32
    std::uint32_t VRestrictManage;     // 36
    std::uint32_t BasisManageFactory;  // 40
    std::uint32_t InputCtrl;           // 44
    std::uint32_t Reserved48;          // 48, not taken by the plug-in
    std::uint32_t Window;              // 52, written: the created window
    std::uint32_t Owner;               // 56, the component that owns the window
    std::uint8_t Reserved60[8];        // 60..67, left untouched
    std::uint8_t Flag;                 // 68, written: 0 on success
    std::uint8_t Reserved69[3];
};
#pragma pack(pop)

static_assert(offsetof(PluginHostBlock, DBManage) == 0);
static_assert(offsetof(PluginHostBlock, User) == 4);
static_assert(offsetof(PluginHostBlock, UserManage) == 8);
static_assert(offsetof(PluginHostBlock, UserRole) == 12);
static_assert(offsetof(PluginHostBlock, Reserved16) == 16);
static_assert(offsetof(PluginHostBlock, TableManage) == 20);
static_assert(offsetof(PluginHostBlock, FieldManage) == 24);
static_assert(offsetof(PluginHostBlock, BookManage) == 28);
static_assert(offsetof(PluginHostBlock, VDefineManage) == 32);
static_assert(offsetof(PluginHostBlock, VRestrictManage) == 36);
static_assert(offsetof(PluginHostBlock, BasisManageFactory) == 40);
static_assert(offsetof(PluginHostBlock, InputCtrl) == 44);
static_assert(offsetof(PluginHostBlock, Reserved48) == 48);
static_assert(offsetof(PluginHostBlock, Window) == 52);
static_assert(offsetof(PluginHostBlock, Owner) == 56);
static_assert(offsetof(PluginHostBlock, Reserved60) == 60);
static_assert(offsetof(PluginHostBlock, Flag) == 68);
static_assert(sizeof(PluginHostBlock) == 72);

// The exports of a plug-in module.
extern "C" {
using PluginTextFn = void (*)(HostStr* var);
using PluginRunFn = std::int32_t (*)(std::uint32_t appWindow, PluginHostBlock* block);
}

}  // namespace ledgerhost
