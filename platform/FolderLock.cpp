#include "platform/FolderLock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/FileManager.hpp"
#include "platform/FolderListing.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

std::mutex locksMutex;
std::map<fs::path, int>& heldLocks() {
    static std::map<fs::path, int> locks;
    return locks;
}

int openFolder(int parentFd, const std::string& name) {
    return ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

int openAndLockFolder(int parentFd, const std::string& name) {
    const int fd = openFolder(parentFd, name);
    if (fd < 0) return -1;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EINTR) {
    }
    return fd;
}

void holdFolderLock(const fs::path& url, int fd) {
    if (fd < 0) return;
    const std::lock_guard lock(locksMutex);
    auto [it, inserted] = heldLocks().emplace(url, fd);
    if (!inserted) {
        ::close(it->second);
        it->second = fd;
    }
}

void releaseFolderLock(const fs::path& url) {
    const std::lock_guard lock(locksMutex);
    const auto it = heldLocks().find(url);
    if (it == heldLocks().end()) return;
    ::close(it->second);
    heldLocks().erase(it);
}

bool removeFolderIfAbandoned(int parentFd, const std::string& name, const fs::path& url) {
    struct stat named {};
    if (::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(named.st_mode) ||
        named.st_uid != ::geteuid())
        return false;
    const int fd = openFolder(parentFd, name);
    if (fd < 0) return false;
    struct stat opened {};
    bool removed = false;
    // The lock is taken on what was checked, and held while the folder goes, so
    // that two programs starting at once don't both remove it.
    if (::fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        removed = removeItemInFolder(parentFd, name, url, nullptr);
    ::close(fd);
    return removed;
}

std::size_t removeAbandonedFolders(int folderFd, const fs::path& url,
                                   const std::function<bool(std::string_view name)>& isSwept) {
    const auto entries = listFolderAt(folderFd, url, nullptr);
    if (!entries) return 0;
    std::size_t removed = 0;
    for (const FolderEntry& entry : *entries) {
        if (isSwept(entry.name)) removed += removeFolderIfAbandoned(folderFd, entry.name, url / entry.name);
    }
    return removed;
}

}  // namespace ni
