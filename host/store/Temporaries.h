#pragma once

// The hidden temporary files the store makes beside a database or a backup
// while it writes one (a new database, a backup, a restore), each named
// ".<name>.ledger-<kind>-XXXXXX" and held with an advisory lock (flock) for as
// long as its writer runs. A writer killed halfway leaves its temporary
// behind; the next writer of the same kind removes such leftovers, by their
// name and only when no program holds them. A held restore temporary also
// tells other programs that the database is being restored.

#include <sys/types.h>
#include <string>

#include "LhApi.h"

namespace ledgerhost {

class LH_API HeldTemporary {
  public:
    // Makes ".<name of path>.ledger-<kind>-XXXXXX" beside `path` with `mode`
    // (less the umask), first removing the leftovers of earlier writers of the
    // kind in that folder (of any name, or of this name only when `ownName`).
    // Throws StoreError with `what` in front of the reason.
    HeldTemporary(const std::string& path, const char* kind, mode_t mode, const std::string& what,
                  bool ownName = false);
    // Removes the file and the side files SQLite may have left beside it,
    // unless it was given its final name (kept()).
    ~HeldTemporary();
    HeldTemporary(const HeldTemporary&) = delete;
    HeldTemporary& operator=(const HeldTemporary&) = delete;

    const std::string& name() const { return name_; }
    // The file now has its final name: nothing to remove.
    void kept() { kept_ = true; }

  private:
    std::string name_;
    int fd_ = -1;
    bool kept_ = false;
};

// True while a restore of the database file `dbPath` runs (its temporary is
// held).
LH_API bool restoreRunning(const std::string& dbPath);

}  // namespace ledgerhost
