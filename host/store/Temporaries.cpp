#include "Temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "Store.h"

namespace ledgerhost {

namespace {

std::string folderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

std::string marker(const char* kind) {
    return std::string(".ledger-") + kind + "-";
}

// ".<base>.ledger-<kind>-XXXXXX" with mkstemp's six characters (of `base`
// only, unless it is empty).
bool isTemporaryOf(const std::string& entry, const std::string& base, const char* kind) {
    const std::string mark = marker(kind);
    if (entry.size() < 2 + mark.size() + 6 || entry[0] != '.') return false;
    const std::size_t at = entry.size() - 6 - mark.size();
    if (entry.compare(at, mark.size(), mark) != 0) return false;
    return base.empty() || entry.compare(1, at - 1, base) == 0;
}

// The file is not held by a writer: its lock can be had at once.
bool unheld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

void removeWithSideFiles(const std::string& path) {
    for (const char* side : kStoreSideFiles) ::unlink((path + side).c_str());
}

// Removes a temporary that no program holds, keeping its lock while it does:
// a program that has just made the file and is about to lock it then finds
// its name gone once it has the lock, and makes another (see HeldTemporary).
void removeIfUnheld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) removeWithSideFiles(path);
    ::close(fd);
}

// The descriptor is still the file under `name`.
bool stillNamed(int fd, const std::string& name) {
    struct stat mine {
    }, named{};
    return ::fstat(fd, &mine) == 0 && ::lstat(name.c_str(), &named) == 0 &&
           mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

// The temporaries of `kind` in the folder (of `base` only, unless empty).
template <class Fn>
void eachTemporary(const std::string& folder, const std::string& base, const char* kind, Fn fn) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string entry = e->d_name;
        if (isTemporaryOf(entry, base, kind)) fn(folder + "/" + entry);
    }
}

}  // namespace

HeldTemporary::HeldTemporary(const std::string& path, const char* kind, mode_t mode,
                             const std::string& what, bool ownName) {
    const std::string folder = folderOf(path);
    const std::string base = std::filesystem::path(path).filename().string();
    eachTemporary(folder, ownName ? base : std::string(), kind, removeIfUnheld);
    // Between making the file and locking it, another program's sweep may
    // take it for a stale one and remove it: then a new one is made.
    for (int attempt = 0;; ++attempt) {
        name_ = folder + "/." + base + marker(kind) + "XXXXXX";
        fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            const int err = errno;
            throw StoreError(what +
                             (err == EROFS || err == EACCES || err == EPERM
                                  ? "文件夹 " + folder + " 是只读的（" + systemReason(err) + "）"
                                  : systemReason(err)));
        }
        ::flock(fd_, LOCK_EX);
        if (stillNamed(fd_, name_)) break;
        ::close(fd_);
        fd_ = -1;
        if (attempt == 100) throw StoreError(what + "临时文件总被别的程序删除。");
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, mode & ~mask);
}

HeldTemporary::~HeldTemporary() {
    if (!kept_) removeWithSideFiles(name_);
    // Closed last: SQLite's connections to the file are gone by now, so this
    // descriptor's close drops none of their locks.
    if (fd_ >= 0) ::close(fd_);
}

bool restoreRunning(const std::string& dbPath) {
    bool running = false;
    eachTemporary(folderOf(dbPath), std::filesystem::path(dbPath).filename().string(), "restore",
                  [&](const std::string& t) { running = running || !unheld(t); });
    return running;
}

}  // namespace ledgerhost
