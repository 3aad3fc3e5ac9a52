#pragma once

// The store's one place of waiting for a person to notice: an operation that
// meets another program's lock on the database waits for it and says so
// through this hook. The store only declares it; what the waiting looks like
// is up to the program: a window shows a note (forms' showWaitsInWindows), a
// command-line program prints a line. Without one, the store waits silently.

#include <functional>

#include "LhApi.h"

namespace ledgerhost::seams {

// Reported repeatedly with `waiting` true and the time waited so far, then
// once with `waiting` false when the wait ends (the lock was had, or the
// deadline passed and the operation fails).
struct Wait {
    bool waiting = false;
    int waitedMs = 0;
    int deadlineMs = 0;
};

// Called from inside the store's busy handler: it must not use the database.
using WaitHook = std::function<void(const Wait&)>;

LH_API WaitHook& waitHook();

}  // namespace ledgerhost::seams
