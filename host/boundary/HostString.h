#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "LhApi.h"

namespace ledgerhost {

// The host's reference-counted 8-bit string. A variable of this type points at
// the first character of a block allocated by this library; a header with the
// reference count and the length sits just before it, and the characters are
// followed by a NUL. A null pointer is the empty string. Host and plug-in
// allocate and free these only through the functions below, so there is one
// allocator for both sides.
using HostStr = char*;

// A new string holding a copy of the bytes, with one reference.
LH_API HostStr hostStrNew(std::string_view bytes);
// One more reference to the same block; returns s.
LH_API HostStr hostStrAddRef(HostStr s);
// Drops the variable's reference (freeing the block with the last one) and
// leaves the variable empty.
LH_API void hostStrRelease(HostStr* var);
// Releases the variable's previous value and stores a new copy of the bytes.
LH_API void hostStrAssign(HostStr* var, std::string_view bytes);
LH_API std::size_t hostStrLength(HostStr s);
LH_API int hostStrRefCount(HostStr s);
LH_API std::string hostStrValue(HostStr s);

}  // namespace ledgerhost
