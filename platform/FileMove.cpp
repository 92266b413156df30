#include "platform/FileMove.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"
#include "platform/FileDescriptor.hpp"
#include "platform/FileManager.hpp"
#include "platform/FolderListing.hpp"
#include "platform/FolderLock.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {

namespace {

namespace fs = std::filesystem;

bool itemExists(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// rename(2) that never replaces: 0 or the errno. attempt makes the first try,
// with the no-replace flag.
int renameNoReplace(const fs::path& from, const fs::path& to,
                    int (*attempt)(const char*, const char*) = sys::renameNoReplace) {
    if (attempt(from.c_str(), to.c_str()) == 0) return 0;
    const int error = errno;
    // Older kernels and some file systems (network, FUSE) don't know the flag.
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return error;

    struct stat status {};
    if (::lstat(from.c_str(), &status) != 0) return errno;
    if (S_ISDIR(status.st_mode)) {
        // mkdir claims the name atomically; rename then only ever replaces that empty folder of ours.
        if (::mkdir(to.c_str(), 0700) != 0) return errno;
        if (::rename(from.c_str(), to.c_str()) == 0) return 0;
        const int renameError = errno;
        ::rmdir(to.c_str());
        return renameError;
    }
    // link(2) never replaces (and doesn't follow a link); then drop the old name.
    if (sys::link(from.c_str(), to.c_str()) == 0) {
        if (sys::unlink(from.c_str()) == 0) return 0;
        const int unlinkError = errno;
        // The item now has both names: take the new one back rather than report a move half made.
        ::unlink(to.c_str());
        return unlinkError;
    }
    const int linkError = errno;
    if (linkError == EEXIST || linkError == EXDEV || linkError == ENOENT) return linkError;
    // No hard links here: the check and the rename are as close as this file system allows.
    if (itemExists(to)) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

struct CopyFailure {
    fs::path path;
    int error = 0;
};

std::uintmax_t thousandths(std::uintmax_t done, std::uintmax_t total) {
    return total == 0 ? 0 : done * 1000 / total;
}

bool isUnit(const fs::path& folder, const MoveObserver& observer) {
    return !observer.unitSuffix.empty() && folder.filename().native().ends_with(observer.unitSuffix);
}

// A copy under way: where it failed, and how far it has got for its observer.
struct Copy {
    CopyFailure failure;
    const MoveObserver* observer = nullptr;
    MoveProgress progress;
    std::uintmax_t told = 0;  // thousandths of the bytes and of the units, added, last told

    bool fail(const fs::path& path, int error) {
        failure = {path, error};
        return false;
    }
    void tell() const {
        if (observer != nullptr && observer->progressChanged) observer->progressChanged(progress);
    }
    // Counts what was just copied; tells the observer once another thousandth is done.
    void advance(std::uintmax_t bytes, std::size_t units) {
        if (observer == nullptr) return;
        progress.bytesDone += bytes;
        progress.unitsDone += units;
        const std::uintmax_t now = thousandths(progress.bytesDone, progress.bytesTotal) +
                                   thousandths(progress.unitsDone, progress.unitsTotal);
        if (now > told) {
            told = now;
            tell();
        }
    }
};

// Adds the bytes of the files at or below path, and the units among its
// folders, to totals: what copying it will do. What can't be looked at counts
// as nothing here; the copy itself fails on it, naming it.
void measure(const fs::path& path, const MoveObserver& observer, MoveProgress& totals) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return;
    if (S_ISREG(status.st_mode)) totals.bytesTotal += static_cast<std::uintmax_t>(status.st_size);
    if (!S_ISDIR(status.st_mode)) return;
    totals.unitsTotal += isUnit(path, observer);
    if (const auto entries = listFolderAtURL(path, nullptr))
        for (const FolderEntry& entry : *entries) measure(path / entry.name, observer, totals);
}

// A link copied as a link: its target text, and its date where the file system can hold one.
bool copyLink(const fs::path& from, const fs::path& to, const struct stat& status, Copy& copy) {
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    const auto target = readLinkTarget(from);
    if (!target) return copy.fail(from, errno);
    if (::symlink(target->c_str(), to.c_str()) != 0) return copy.fail(to, errno);
    // Some file systems can't date a link; its target text is what matters.
    ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return true;
}

// A regular file copied byte for byte, with its mode and times.
bool copyFile(const fs::path& from, const fs::path& to, const struct stat& status, Copy& copy) {
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    const mode_t mode = status.st_mode & 07777;
    FileDescriptor input(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (input.get() < 0) return copy.fail(from, errno);
    FileDescriptor output(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (output.get() < 0) return copy.fail(to, errno);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(input.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return copy.fail(from, errno);
        }
        if (got == 0) break;
        if (const int failed = writeAllBytes(output.get(), buffer.data(), static_cast<std::size_t>(got)))
            return copy.fail(to, failed);
        copy.advance(static_cast<std::uintmax_t>(got), 0);
        if (cancellationRequested()) return copy.fail(to, ECANCELED);  // a big file needn't be finished
    }
    if (::fchmod(output.get(), mode) != 0) return copy.fail(to, errno);
    if (::futimens(output.get(), times) != 0) return copy.fail(to, errno);
    if (const int failed = output.close()) return copy.fail(to, failed);
    return true;
}

// Copies one item to `to`, which must not exist: folders with their contents,
// links as links, files with their bytes. Modes and modification times are kept;
// a folder's own are set after its contents, which would change them.
// toExists: `to` is a folder made (and locked) by the caller.
bool copyItem(const fs::path& from, const fs::path& to, Copy& copy, bool toExists = false) {
    // A stop asked for by the user or a signal ends the copy between two files.
    if (cancellationRequested()) return copy.fail(to, ECANCELED);
    struct stat status {};
    if (::lstat(from.c_str(), &status) != 0) return copy.fail(from, errno);

    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    const mode_t mode = status.st_mode & 07777;

    if (S_ISDIR(status.st_mode)) {
        if (!toExists && ::mkdir(to.c_str(), 0700) != 0) return copy.fail(to, errno);
        Error listError;
        const auto entries = listFolderAtURL(from, &listError);
        if (!entries) return copy.fail(from, listError.osError());
        for (const FolderEntry& entry : *entries) {
            if (!copyItem(from / entry.name, to / entry.name, copy)) return false;
        }
        if (::chmod(to.c_str(), mode) != 0) return copy.fail(to, errno);
        if (::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return copy.fail(to, errno);
        if (copy.observer != nullptr) copy.advance(0, isUnit(from, *copy.observer));
        return true;
    }

    if (S_ISLNK(status.st_mode)) return copyLink(from, to, status, copy);

    if (S_ISFIFO(status.st_mode)) {
        if (::mkfifo(to.c_str(), mode) != 0) return copy.fail(to, errno);
        if (::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return copy.fail(to, errno);
        return true;
    }

    if (!S_ISREG(status.st_mode)) return copy.fail(from, ENOTSUP);

    return copyFile(from, to, status, copy);
}

// A partial copy may hold folders already made read-only; open them up so it can go.
void removePartialCopy(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(path, error))) {
        ::chmod(path.c_str(), 0700);
        for (fs::recursive_directory_iterator it(path, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error)) ::chmod(it->path().c_str(), 0700);
        }
    }
    removeItemAtURL(path, nullptr);
}

constexpr const char* kPartialCopyMark = ".moving-";

// ".<destination's name><mark>": what a partial copy's hidden name starts with.
std::string partialCopyPrefix(const fs::path& destination) {
    std::string prefix(1, '.');
    prefix += destination.filename().native();
    prefix += kPartialCopyMark;
    return prefix;
}

// A hidden name in destination's folder that nothing holds yet.
fs::path temporarySiblingName(const fs::path& destination) {
    static std::mt19937_64 generator{std::random_device{}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(generator()));
    return destination.parent_path() / (partialCopyPrefix(destination) + suffix);
}

bool isPartialCopyName(std::string_view name, const fs::path& destination) {
    const std::string prefix = partialCopyPrefix(destination);
    return name.size() == prefix.size() + 16 && name.starts_with(prefix) &&
           name.find_first_not_of("0123456789abcdef", prefix.size()) == std::string_view::npos;
}

// Partial copies of earlier runs into the same destination that ended without
// cleaning up (their lock is free); live runs' copies stay.
void removeAbandonedPartialCopies(const fs::path& destination) {
    const fs::path folder = destination.parent_path();
    FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) return;
    removeAbandonedFolders(folderFd.get(), folder,
                           [&](std::string_view name) { return isPartialCopyName(name, destination); });
}

// Makes the folder a copy goes into, under a name no sweep looks at until it
// is locked; then gives it the staging name. The lock's descriptor (-1 when
// locks aren't available there), or the errno in failure.
int claimStagingFolder(const fs::path& staging, CopyFailure& failure) {
    const fs::path folder = staging.parent_path();
    FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) {
        failure = {folder, errno};
        return -1;
    }
    const std::string claim = staging.filename().string() + ".claim";
    const std::string name = staging.filename();
    if (::mkdirat(folderFd.get(), claim.c_str(), 0700) != 0) {
        failure = {staging, errno};
        return -1;
    }
    const int lockFd = openAndLockFolder(folderFd.get(), claim);
    if (::renameat2(folderFd.get(), claim.c_str(), folderFd.get(), name.c_str(), RENAME_NOREPLACE) != 0 &&
        (errno != EINVAL || ::renameat(folderFd.get(), claim.c_str(), folderFd.get(), name.c_str()) != 0)) {
        failure = {staging, errno};
        if (lockFd >= 0) ::close(lockFd);
        ::unlinkat(folderFd.get(), claim.c_str(), AT_REMOVEDIR);
        return -1;
    }
    return lockFd;
}

// The error for a copy that failed at failure: a stop asked for, a problem
// with the destination (named), or one reading the export.
Error copyError(const CopyFailure& failure, const fs::path& source, const fs::path& destination) {
    if (failure.error == ECANCELED && cancellationRequested())
        return Error(ErrorKind::Cancelled, destination);
    const std::string& from = source.native();
    const std::string& at = failure.path.native();
    if (at.size() >= from.size() && at.compare(0, from.size(), from) == 0)
        return Error(ErrorKind::ReadFailed, failure.path, failure.error);
    return Error(ErrorKind::MoveFailed, destination, failure.error);
}

// Across file systems: copy beside the destination, rename into place, then drop the source.
// The partial copy is locked while it is made, so a later run into the same
// folder can tell one abandoned by a killed run from a live one.
bool copyThenRename(const fs::path& source, const fs::path& destination, Error* error,
                    const MoveObserver* observer) {
    removeAbandonedPartialCopies(destination);
    struct stat status {};
    if (::lstat(source.c_str(), &status) != 0)
        return setError(error, Error(ErrorKind::ReadFailed, source, errno));
    const bool folder = S_ISDIR(status.st_mode);
    Copy copy;
    if (observer != nullptr) {
        copy.observer = observer;
        measure(source, *observer, copy.progress);
        copy.tell();
    }
    fs::path staging;
    int lockFd = -1;
    for (int attempt = 0;; ++attempt) {
        staging = temporarySiblingName(destination);
        copy.failure = {};
        bool copied = false;
        if (folder) {
            lockFd = claimStagingFolder(staging, copy.failure);
            copied = copy.failure.error == 0 && copyItem(source, staging, copy, true);
        } else {
            copied = copyItem(source, staging, copy);
        }
        if (copied) break;
        // Only a name taken before we got to it is worth another try.
        const CopyFailure& failure = copy.failure;
        const bool nameTaken = failure.error == EEXIST && failure.path == staging && !itemExists(destination);
        if (!nameTaken) removePartialCopy(staging);
        if (lockFd >= 0) ::close(lockFd);
        lockFd = -1;
        if (!nameTaken || attempt >= 8) return setError(error, copyError(failure, source, destination));
    }
    FileDescriptor lock(lockFd);
    if (cancellationRequested()) {
        removePartialCopy(staging);
        return setError(error, Error(ErrorKind::Cancelled, destination));
    }
    copy.tell();
    if (const int renameError = renameNoReplace(staging, destination)) {
        removePartialCopy(staging);
        if (renameError == EEXIST || renameError == ENOTEMPTY) {
            return setError(error, Error(ErrorKind::AlreadyExists, destination, EEXIST));
        }
        return setError(error, Error(ErrorKind::MoveFailed, destination, renameError));
    }
    // The sheets are safe at their new place; a source that won't go is only left-over space.
    removeItemAtURL(source, nullptr);
    return true;
}

}  // namespace

bool moveItemAtURL(const fs::path& source, const fs::path& destination, Error* error,
                   const MoveObserver* observer) {
    if (!itemExists(source)) return setError(error, Error(ErrorKind::FileNotFound, source, ENOENT));
    if (itemExists(destination)) return setError(error, Error(ErrorKind::AlreadyExists, destination, EEXIST));

    if (cancellationRequested()) return setError(error, Error(ErrorKind::Cancelled, destination));

    const int renameError = renameNoReplace(source, destination, sys::moveNoReplace);
    if (renameError == 0) return true;
    if (renameError == EXDEV) return copyThenRename(source, destination, error, observer);
    if (renameError == EEXIST || renameError == ENOTEMPTY) {
        return setError(error, Error(ErrorKind::AlreadyExists, destination, EEXIST));
    }
    // The user knows the place they chose, not our temporary one: name that.
    return setError(error, Error(ErrorKind::MoveFailed, destination, renameError));
}

bool renameItemAtURL(const fs::path& source, const fs::path& destination, Error* error) {
    const int renameError = renameNoReplace(source, destination);
    if (renameError == 0) return true;
    const bool taken = renameError == EEXIST || renameError == ENOTEMPTY;
    return setError(
        error, Error(taken ? ErrorKind::AlreadyExists : ErrorKind::MoveFailed, destination, renameError));
}

}  // namespace ni
