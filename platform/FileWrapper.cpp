#include "platform/FileWrapper.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Error.hpp"
#include "platform/FileDescriptor.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

// An item's path, made only when an error names it: building paths for every
// file written would cost more than the writing in a large export.
struct ItemURL {
    const fs::path& folder;
    const std::string& path;
    operator fs::path() const { return folder / path; }
};

Error writeError(const fs::path& url, int osError) {
    if (osError == EEXIST) return Error(ErrorKind::AlreadyExists, url, osError);
    if (osError == ENAMETOOLONG) return Error(ErrorKind::NameTooLong, url, osError);
    return Error(ErrorKind::WriteFailed, url, osError);
}

bool writeAll(int fd, const char* data, std::size_t size, const ItemURL& url, Error* error) {
    if (const int failed = writeAllBytes(fd, data, size)) return setError(error, writeError(url, failed));
    return true;
}

// Copies the open regular file `from` into `to`, in the kernel where it can.
bool copyContents(int from, int to, off_t size, const ItemURL& url, Error* error) {
    off_t copied = 0;
    bool kernelCopy = true;
    char buffer[1 << 16];
    while (copied < size || !kernelCopy) {
        if (kernelCopy) {
            const ssize_t n = sys::copyFileRange(from, to, static_cast<std::size_t>(size - copied));
            if (n > 0) {
                copied += n;
                continue;
            }
            if (n == 0) break;  // the source shrank while we copied
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                kernelCopy = false;
                continue;
            }
            return setError(error, writeError(url, errno));
        }
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return setError(error, Error(ErrorKind::ReadFailed, url, errno));
        }
        if (n == 0) break;
        if (!writeAll(to, buffer, static_cast<std::size_t>(n), url, error)) return false;
    }
    return true;
}

timespec toTimespec(Date date) {
    const auto since = date.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

// applyDate's answer for a date the file system can't hold: left unapplied.
constexpr int kDateNotStored = -1;

// Sets the access and modification times of `path` beneath `folderFd` (of
// folderFd itself when path is empty) to when, exactly or not at all: a file
// system clamps a time it can't hold to its limits without a word, which would
// date the item wrongly. Links are never followed. 0, kDateNotStored or the errno.
int applyDate(int folderFd, const std::string& path, Date when) {
    const timespec time = toTimespec(when);
    const timespec times[2] = {time, time};
    const char* name = path.empty() ? nullptr : path.c_str();
    const auto setTimes = [&](const timespec* to) {
        return ::utimensat(folderFd, name, to, name ? AT_SYMLINK_NOFOLLOW : 0);
    };
    const auto stat = [&](struct stat* st) {
        return ::fstatat(folderFd, path.c_str(), st, AT_SYMLINK_NOFOLLOW | (name ? 0 : AT_EMPTY_PATH));
    };
    // 1980 to 2037 every file system in use holds (FAT's start, 32-bit time's
    // end): those dates need no reading back, which saves two calls a package.
    if (time.tv_sec >= 315532800 && time.tv_sec < 2145916800) return setTimes(times) == 0 ? 0 : errno;
    struct stat before {};
    if (stat(&before) != 0) return errno;
    if (setTimes(times) != 0) return errno == EINVAL || errno == EOVERFLOW ? kDateNotStored : errno;
    struct stat after {};
    if (stat(&after) != 0) return errno;
    if (after.st_mtim.tv_sec == time.tv_sec && after.st_mtim.tv_nsec == time.tv_nsec) return 0;
    // A coarser clock (whole seconds, two seconds) rounds; only a clamp far away counts.
    if (after.st_mtim.tv_sec - time.tv_sec <= 2 && time.tv_sec - after.st_mtim.tv_sec <= 2) return 0;
    const timespec previous[2] = {before.st_atim, before.st_mtim};
    return setTimes(previous) == 0 ? kDateNotStored : errno;
}

}  // namespace

std::unique_ptr<FileWrapper> FileWrapper::directory(Children children) {
    std::unique_ptr<FileWrapper> node(new FileWrapper(Kind::Directory));
    node->children_ = std::move(children);
    return node;
}

std::unique_ptr<FileWrapper> FileWrapper::regularFile(std::string contents) {
    std::unique_ptr<FileWrapper> node(new FileWrapper(Kind::RegularFile));
    node->contents_ = std::move(contents);
    return node;
}

std::unique_ptr<FileWrapper> FileWrapper::fileReference(fs::path source) {
    std::unique_ptr<FileWrapper> node(new FileWrapper(Kind::FileReference));
    node->contents_ = std::move(source).native();
    return node;
}

std::unique_ptr<FileWrapper> FileWrapper::fileReference(fs::path source, FileDescriptor opened) {
    std::unique_ptr<FileWrapper> node = fileReference(std::move(source));
    node->opened_ = std::move(opened);
    return node;
}

bool FileWrapper::applyModificationDate(int folderFd, const fs::path& folderURL, const std::string& path,
                                        Date when, bool& leftOut, Error* error) {
    const int failed = applyDate(folderFd, path, when);
    leftOut = failed == kDateNotStored;
    if (failed > 0) return setError(error, writeError(ItemURL{folderURL, path}, failed));
    return true;
}

bool FileWrapper::writeToURL(const fs::path& url, Error* error) const {
    const fs::path parent = url.parent_path();  // empty for a name alone
    FileDescriptor parentFd(
        ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parentFd.get() < 0) return setError(error, writeError(parent.empty() ? "." : parent, errno));
    return writeInFolder(parentFd.get(), parent, url.filename().native(), error);
}

// `path` is relative to folderFd (whose own path is folderURL) and may go down
// through folders this tree has just made: a folder's items are made through
// its path rather than through a descriptor of its own, which saves an open
// and a close a folder.
bool FileWrapper::writeInFolder(int folderFd, const fs::path& folderURL, const std::string& path,
                                Error* error) const {
    const ItemURL url{folderURL, path};
    if (kind_ == Kind::Directory) {
        if (sys::mkdirat(folderFd, path.c_str(), 0755) != 0) return setError(error, writeError(url, errno));
        for (const auto& [childName, child] : children_) {
            if (!child->writeInFolder(folderFd, folderURL, path + "/" + childName, error)) return false;
        }
        // Applied last, after everything inside is written; access time likewise.
        modificationDateLeftOut_ = false;
        if (modificationDate) {
            const int failed = applyDate(folderFd, path, *modificationDate);
            modificationDateLeftOut_ = failed == kDateNotStored;
            if (failed > 0) return setError(error, writeError(url, failed));
        }
        return true;
    }

    FileDescriptor item(
        ::openat(folderFd, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (item.get() < 0) return setError(error, writeError(url, errno));
    if (kind_ == Kind::RegularFile) {
        if (!writeAll(item.get(), contents_.data(), contents_.size(), url, error)) return false;
    } else {
        // Only a regular file is copied; a picture that vanished or turned into
        // something else since the note was read is an error naming it.
        const fs::path sourcePath = source();
        FileDescriptor reopened(
            opened_.get() >= 0 ? -1
                               : ::open(sourcePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        const FileDescriptor& from = opened_.get() >= 0 ? opened_ : reopened;
        if (from.get() < 0) return setError(error, errorForErrno(errno, sourcePath, ErrorKind::ReadFailed));
        struct stat st {};
        if (::fstat(from.get(), &st) != 0)
            return setError(error, Error(ErrorKind::ReadFailed, sourcePath, errno));
        if (!S_ISREG(st.st_mode)) return setError(error, Error(ErrorKind::NotRegularFile, sourcePath, 0));
        if (opened_.get() >= 0) ::lseek(opened_.get(), 0, SEEK_SET);  // a tree written again copies it whole
        if (!copyContents(from.get(), item.get(), st.st_size, url, error)) return false;
        // The copy keeps the picture's own modification time.
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(item.get(), times);
    }
    modificationDateLeftOut_ = false;
    if (modificationDate) {
        const int failed = applyDate(item.get(), {}, *modificationDate);
        modificationDateLeftOut_ = failed == kDateNotStored;
        if (failed > 0) return setError(error, writeError(url, failed));
    }
    if (const int closeError = item.close()) return setError(error, writeError(url, closeError));
    return true;
}

}  // namespace ni
