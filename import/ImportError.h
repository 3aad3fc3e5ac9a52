#pragma once

// The error the file readers and importers throw: one message, in the words the
// user is shown, that names the file and says what went wrong.

#include <stdexcept>
#include <string>

class ImportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
