#pragma once

#include <stdexcept>

#include "LhApi.h"

namespace ledgerhost {

// A failure whose message is written for the user (in Chinese, naming what
// went wrong and where) and is shown as it stands. Every failure type that
// carries such a message derives from it, so a caller that only reports can
// catch this one type.
class LH_API UserError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace ledgerhost
