#pragma once

#include <cstdint>
#include <typeinfo>

#include "LhApi.h"

namespace ledgerhost {

// 32-bit handles for object references that cross the plug-in boundary, whose
// slots are 32 bits wide even on a 64-bit machine. 0 is no object. A handle
// remembers the type it was issued for; resolving it as another type gives
// nothing, so a wrong slot cannot be taken for a valid object.
LH_API std::uint32_t handleAdd(void* object, const std::type_info& type);
LH_API void* handleGet(std::uint32_t handle, const std::type_info& type);
LH_API void handleRemove(std::uint32_t handle);
// The handle already issued for this object and type, or 0.
LH_API std::uint32_t handleFind(const void* object, const std::type_info& type);

template <class T>
std::uint32_t registerHandle(T* object) {
    if (!object) return 0;
    if (std::uint32_t h = handleFind(object, typeid(T))) return h;
    return handleAdd(object, typeid(T));
}

template <class T>
T* resolveHandle(std::uint32_t handle) {
    return static_cast<T*>(handleGet(handle, typeid(T)));
}

}  // namespace ledgerhost
