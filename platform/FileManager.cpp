#include "platform/FileManager.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/Error.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

// Removes name inside the open folder dirFd. Folders are opened with
// O_NOFOLLOW and entered by descriptor, so a link planted anywhere in the tree
// is unlinked itself and nothing it points to is touched.
bool removeAt(int dirFd, const std::string& name, const fs::path& url, Error* error) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return true;
        return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
    }
    if (S_ISDIR(st.st_mode)) {
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
        // A read-only folder of ours (a copied tree can hold one) can't be
        // emptied until we may write to it again.
        if ((st.st_mode & S_IWUSR) == 0 && st.st_uid == ::geteuid())
            ::fchmod(fd, (st.st_mode & 07777) | S_IRWXU);
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            const int saved = errno;
            ::close(fd);
            return setError(error, Error(ErrorKind::RemoveFailed, url, saved));
        }
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string child = entry->d_name;
            if (child != "." && child != "..") names.push_back(child);
        }
        bool ok = true;
        for (const std::string& child : names) {
            if (!removeAt(::dirfd(dir), child, url / child, error)) {
                ok = false;
                break;
            }
        }
        ::closedir(dir);
        if (!ok) return false;
        if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
        return true;
    }
    if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT)
        return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
    return true;
}

}  // namespace

bool createDirectoryAtURL(const fs::path& url, Error* error) {
    if (const int injected = sys::injectedFault(sys::Operation::CreateDirectory))
        return setError(error, Error(ErrorKind::WriteFailed, url, injected));
    std::error_code ec;
    fs::create_directories(url, ec);
    if (ec) return setError(error, Error(ErrorKind::WriteFailed, url, ec.value()));
    if (!fs::is_directory(fs::symlink_status(url, ec)))
        return setError(error, Error(ErrorKind::WriteFailed, url, ENOTDIR));
    return true;
}

bool removeItemInFolder(int parentFd, const std::string& name, const fs::path& url, Error* error) {
    return removeAt(parentFd, name, url, error);
}

bool removeItemAtURL(const fs::path& url, Error* error) {
    const fs::path parent = url.has_parent_path() ? url.parent_path() : fs::path(".");
    const int parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) {
        if (errno == ENOENT) return true;
        return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
    }
    const bool ok = removeAt(parentFd, url.filename().native(), url, error);
    ::close(parentFd);
    return ok;
}

}  // namespace ni
