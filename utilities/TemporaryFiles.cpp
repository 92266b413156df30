#include "utilities/TemporaryFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "NIConfig.hpp"
#include "platform/Error.hpp"
#include "platform/FileManager.hpp"
#include "platform/FolderLock.hpp"
#include "utilities/TypeIdentifiers.hpp"
#include "utilities/UniqueIdentifier.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

constexpr const char* kApplicationIdentifier = config::kAppId;

bool validContext(const std::optional<std::string>& context) {
    return !context || (!context->empty() && *context != "." && *context != ".." &&
                        context->find('/') == std::string::npos);
}

// Opens (making it when missing) a private container inside parentFd. A
// container that is a link, not a folder or not ours is refused; one of ours
// that others can read is tightened to 0700 before anything goes into it.
int openPrivateContainer(int parentFd, const std::string& name, const fs::path& url, Error* error) {
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
        setError(error, Error(ErrorKind::WriteFailed, url, errno));
        return -1;
    }
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int saved = errno;
        const bool hijacked = saved == ELOOP || saved == ENOTDIR;
        struct stat link {};
        const bool isLink =
            ::fstatat(parentFd, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode);
        setError(error, hijacked ? Error(ErrorKind::UnsafeTemporaryArea, url, 0,
                                         isLink ? "it is a symbolic link" : "it isn’t a folder")
                                 : Error(ErrorKind::WriteFailed, url, saved));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        setError(error, Error(ErrorKind::WriteFailed, url, errno));
        ::close(fd);
        return -1;
    }
    if (st.st_uid != ::geteuid()) {
        setError(error, Error(ErrorKind::UnsafeTemporaryArea, url, 0, "it belongs to another user"));
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        setError(error, Error(ErrorKind::UnsafeTemporaryArea, url, errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

// 32 lower-case hexadecimal digits: the name of a unique folder.
bool isUniqueIdentifier(std::string_view name) {
    return name.size() == 32 && name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Opens this user's container in tmp (containerURL says where it is). One
// planted by someone else (another user's folder, a link, a file) is never
// written into and is no reason to stop the run: a private folder beside it
// serves the run instead, and refused says what was there. -1, with the error set, on failure.
int openUserContainer(const fs::path& tmp, fs::path& containerURL, std::optional<RefusedContainer>* refused,
                      Error* error) {
    const int tmpFd = ::open(tmp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmpFd < 0) {
        const int saved = errno;
        if (saved == ENOENT || saved == ENOTDIR)
            setError(error, Error(ErrorKind::UnsafeTemporaryArea, tmp, 0,
                                  saved == ENOENT ? "it doesn’t exist" : "it isn’t a folder"));
        else
            setError(error, Error(ErrorKind::UnsafeTemporaryArea, tmp, saved));
        return -1;
    }
    const std::string containerName = temporaryContainerName();
    containerURL = tmp / containerName;
    Error containerError;
    int containerFd = openPrivateContainer(tmpFd, containerName, containerURL, &containerError);
    if (containerFd < 0 && containerError.kind() == ErrorKind::UnsafeTemporaryArea) {
        std::string fallback = (tmp / (containerName + ".XXXXXX")).native();
        if (::mkdtemp(fallback.data()) != nullptr) {
            if (refused != nullptr) *refused = RefusedContainer{containerURL, containerError.detail()};
            containerURL = fallback;
            containerFd = openPrivateContainer(tmpFd, containerURL.filename(), containerURL, &containerError);
        } else {
            containerError = Error(ErrorKind::WriteFailed, fallback, errno);
        }
    }
    ::close(tmpFd);
    if (containerFd < 0) setError(error, std::move(containerError));
    return containerFd;
}

// makeLockedFolder's answer when the folder couldn't be made.
constexpr int kNotMade = -2;

// Makes the folder name in containerFd, locked: made under a hidden name and
// locked before it gets its own, so that another program's sweep for abandoned
// folders never sees it unlocked. The lock's descriptor (-1: no lock could be
// taken), or kNotMade with the error naming url.
int makeLockedFolder(int containerFd, const std::string& name, const fs::path& url, Error* error) {
    const std::string hidden = "." + name;
    if (::mkdirat(containerFd, hidden.c_str(), 0700) != 0)
        return setError(error, Error(ErrorKind::WriteFailed, url, errno)), kNotMade;
    const int lockFd = openAndLockFolder(containerFd, hidden);
    if (::renameat(containerFd, hidden.c_str(), containerFd, name.c_str()) != 0) {
        const int saved = errno;
        if (lockFd >= 0) ::close(lockFd);
        ::unlinkat(containerFd, hidden.c_str(), AT_REMOVEDIR);
        return setError(error, Error(ErrorKind::WriteFailed, url, saved)), kNotMade;
    }
    return lockFd;
}

}  // namespace

fs::path temporaryDirectory() {
    if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && tmpdir[0] == '/')
        return fs::path(tmpdir);
    return fs::path("/tmp");
}

std::string temporaryContainerName() {
    return std::string(kApplicationIdentifier) + "-" + std::to_string(::geteuid());
}

fs::path temporaryContainerURLForContext(const std::optional<std::string>& context) {
    fs::path container = temporaryDirectory() / temporaryContainerName();
    if (context) container /= *context;
    return container;
}

std::optional<fs::path> createUniqueTemporaryDirectoryWithContext(const std::optional<std::string>& context,
                                                                  Error* error) {
    return createUniqueTemporaryDirectory(context, nullptr, error);
}

std::optional<fs::path> createUniqueTemporaryDirectory(const std::optional<std::string>& context,
                                                       std::optional<RefusedContainer>* refused,
                                                       Error* error) {
    const fs::path tmp = temporaryDirectory();
    if (!validContext(context)) {
        setError(error,
                 Error(ErrorKind::UnsafeTemporaryArea, tmp / temporaryContainerName() / context.value_or(""),
                       0, "its name isn’t a single folder name"));
        return std::nullopt;
    }
    fs::path containerURL;
    int containerFd = openUserContainer(tmp, containerURL, refused, error);
    if (containerFd < 0) return std::nullopt;
    if (context) {
        const int parentFd = containerFd;
        containerURL /= *context;
        containerFd = openPrivateContainer(parentFd, *context, containerURL, error);
        ::close(parentFd);
        if (containerFd < 0) return std::nullopt;
    }
    const std::string identifier = newUniqueIdentifier();
    const fs::path url = containerURL / identifier;
    const int lockFd = makeLockedFolder(containerFd, identifier, url, error);
    ::close(containerFd);
    if (lockFd == kNotMade) return std::nullopt;
    holdFolderLock(url, lockFd);
    return url;
}

std::optional<fs::path> createUniqueTemporaryDirectoryWithError(Error* error) {
    return createUniqueTemporaryDirectoryWithContext(std::nullopt, error);
}

std::optional<fs::path> createTemporaryFileWithPathExtension(const std::string& extension, Error* error) {
    const auto directory = createUniqueTemporaryDirectoryWithContext(std::nullopt, error);
    if (!directory) return std::nullopt;
    std::string name = newUniqueIdentifier();
    if (!extension.empty()) name += "." + extension;
    const fs::path url = *directory / name;
    const auto type = preferredTypeIdentifierForPathExtension(extension);
    int failed = 0;
    if (type && typeIdentifierConformsToType(*type, kUTTypePackage)) {
        if (::mkdir(url.c_str(), 0700) != 0) failed = errno;
    } else {
        const int fd = ::open(url.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) failed = errno;
        if (fd >= 0 && ::close(fd) != 0) failed = errno;
    }
    // The location is returned even when the item couldn't be made, as callers
    // that don't examine the outcome expect; the failure goes to error.
    if (failed != 0) setError(error, Error(ErrorKind::WriteFailed, url, failed));
    return url;
}

std::optional<fs::path> createTemporaryFileWithTypeIdentifier(const std::string& identifier, Error* error) {
    return createTemporaryFileWithPathExtension(
        preferredPathExtensionForTypeIdentifier(identifier).value_or(""), error);
}

void removeTemporaryItemsForContext(const std::optional<std::string>& context) {
    if (!validContext(context)) return;
    removeItemAtURL(temporaryContainerURLForContext(context), nullptr);
}

bool removeUniqueTemporaryDirectory(const fs::path& url, Error* error) {
    // Removed while still locked, so no sweep of another program's takes part.
    const bool removed = removeItemAtURL(url, error);
    releaseUniqueTemporaryDirectory(url);
    return removed;
}

void releaseUniqueTemporaryDirectory(const fs::path& url) {
    releaseFolderLock(url);
    // A private folder made beside a planted container served this run alone:
    // it goes once empty (rmdir leaves it otherwise).
    const fs::path container = url.parent_path();
    if (container.filename().native().starts_with(temporaryContainerName() + ".")) ::rmdir(container.c_str());
}

std::size_t removeAbandonedTemporaryDirectories() {
    const fs::path tmp = temporaryDirectory();
    const std::string containerName = temporaryContainerName();
    const fs::path containerURL = tmp / containerName;
    const int tmpFd = ::open(tmp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmpFd < 0) return 0;
    const int containerFd =
        ::openat(tmpFd, containerName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(tmpFd);
    if (containerFd < 0) return 0;
    std::size_t removed = 0;
    struct stat st {};
    // Only a container of ours is looked into; what it holds is checked name by name.
    if (::fstat(containerFd, &st) == 0 && st.st_uid == ::geteuid())
        removed = removeAbandonedFolders(containerFd, containerURL, isUniqueIdentifier);
    ::close(containerFd);
    return removed;
}

}  // namespace ni
