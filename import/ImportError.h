#pragma once

// The error the file readers and importers throw: one message, in the words the
// user is shown, that names the file and says what went wrong.

#include <string>

#include "UserError.h"

class ImportError : public ledgerhost::UserError {
  public:
    using ledgerhost::UserError::UserError;
};
