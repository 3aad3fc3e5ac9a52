#pragma once

// The digest by which the import log knows a file's content.

#include <string>
#include <string_view>

#include "LhApi.h"

namespace ledgerhost {

// Lower-case hex SHA-256 of the bytes.
LH_API std::string contentDigest(std::string_view bytes);

}  // namespace ledgerhost
