#include "platform/FileManager.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Error.hpp"
#include "platform/FileDescriptor.hpp"
#include "platform/FolderListing.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

bool removeAt(int dirFd, const std::string& name, const fs::path& url, Error* error);

// Removes everything inside the folder name in dirFd, whose status is st. A
// folder that can't be listed can't be emptied: that fails rather than leave
// items behind unreported.
bool removeContents(int dirFd, const std::string& name, const struct stat& st, const fs::path& url,
                    Error* error) {
    const FileDescriptor folder(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0) return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
    // A read-only folder of ours (a copied tree can hold one) can't be
    // emptied until we may write to it again.
    if ((st.st_mode & S_IWUSR) == 0 && st.st_uid == ::geteuid())
        ::fchmod(folder.get(), (st.st_mode & 07777) | S_IRWXU);
    Error listError;
    const auto entries = listFolderAt(folder.get(), url, &listError);
    if (!entries) return setError(error, Error(ErrorKind::RemoveFailed, url, listError.osError()));
    for (const FolderEntry& entry : *entries) {
        if (!removeAt(folder.get(), entry.name, url / entry.name, error)) return false;
    }
    return true;
}

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
        if (!removeContents(dirFd, name, st, url, error)) return false;
        if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
        return true;
    }
    if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT)
        return setError(error, Error(ErrorKind::RemoveFailed, url, errno));
    return true;
}

// openat2 where the kernel has it (5.6 and later): the whole walk is checked in the kernel.
int openBeneathInKernel(int folderFd, const char* relative) {
    open_how how{};
    how.flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return sys::openat2(folderFd, relative, how);
}

// The same one component at a time, for older kernels and sandboxes that refuse openat2.
int openBeneathByComponent(int folderFd, const std::filesystem::path& relative) {
    FileDescriptor current(::dup(folderFd));
    if (current.get() < 0) return -1;
    std::vector<std::filesystem::path> components;
    for (const auto& component : relative) {
        if (component.empty() || component == ".") continue;
        if (component == "..") {
            errno = EXDEV;
            return -1;
        }
        components.push_back(component);
    }
    if (components.empty()) {
        errno = EISDIR;
        return -1;
    }
    for (std::size_t i = 0; i < components.size(); ++i) {
        const bool last = i + 1 == components.size();
        const int flags = last ? O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC
                               : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        FileDescriptor next(::openat(current.get(), components[i].c_str(), flags));
        if (next.get() < 0) return -1;
        current = std::move(next);
    }
    return current.release();
}
}  // namespace

bool createDirectoryAtURL(const fs::path& url, Error* error) {
    std::error_code ec;
    sys::createDirectories(url, ec);
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

int openRegularFileBeneath(const std::filesystem::path& folder, const std::filesystem::path& relative,
                           Error* error) {
    const std::filesystem::path url = folder / relative;
    FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int fd = folderFd.get() < 0 ? -1 : openBeneathInKernel(folderFd.get(), relative.c_str());
    if (folderFd.get() >= 0 && fd < 0 && (errno == ENOSYS || errno == EPERM))
        fd = openBeneathByComponent(folderFd.get(), relative);
    if (fd < 0) {
        const int saved = errno;
        // Besides a link on the way (ELOOP): a way out of folder (EXDEV), a
        // folder or something else where a file should be.
        if (saved == EXDEV || saved == ENOTDIR || saved == EISDIR)
            return setError(error, Error(ErrorKind::NotRegularFile, url)), -1;
        return setError(error, errorForErrno(saved, url, ErrorKind::ReadFailed)), -1;
    }
    FileDescriptor file(fd);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return setError(error, Error(ErrorKind::ReadFailed, url, errno)), -1;
    if (!S_ISREG(st.st_mode)) return setError(error, Error(ErrorKind::NotRegularFile, url)), -1;
    return file.release();
}

std::optional<std::string> readLinkTarget(const fs::path& link) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
        if (length < 0) return std::nullopt;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);  // longer than the buffer: read again
    }
}

std::optional<fs::path> resolvedLocation(const fs::path& url) {
    std::error_code ec;
    fs::path pending = fs::absolute(url, ec);
    if (ec) return std::nullopt;
    // Each hop follows one link, or settles a ".." after a missing folder.
    for (int hop = 0; hop < 64; ++hop) {
        const std::vector<fs::path> components(std::next(pending.begin()), pending.end());
        fs::path existing = pending.root_path();  // resolved so far: real folders, no links
        fs::path missing;
        std::optional<fs::path> next;
        for (std::size_t i = 0; i < components.size() && !next; ++i) {
            const fs::path& component = components[i];
            if (component.empty() || component == ".") continue;  // "a//b", "a/./b", a trailing "/"
            if (!missing.empty()) {
                missing /= component;  // all that follows a missing item is missing too
                continue;
            }
            if (component == "..") {
                existing = existing.parent_path();  // existing has no links: its parent is real
                continue;
            }
            const fs::path candidate = existing / component;
            struct stat st {};
            if (::lstat(candidate.c_str(), &st) != 0) {
                missing = component;
            } else if (S_ISLNK(st.st_mode)) {
                const auto target = readLinkTarget(candidate);
                if (!target) return std::nullopt;
                fs::path followed = existing / *target;  // an absolute target replaces existing
                for (std::size_t j = i + 1; j < components.size(); ++j) followed /= components[j];
                next = followed;
            } else {
                existing = candidate;
            }
        }
        if (next) {
            pending = *next;
            continue;
        }
        const fs::path location = missing.empty() ? existing : (existing / missing).lexically_normal();
        // ".." below a missing folder lands somewhere that may exist: look again.
        if (std::find(missing.begin(), missing.end(), "..") == missing.end()) return location;
        pending = location;
    }
    return std::nullopt;  // links in a loop
}

bool refusesSomeNames(const fs::path& folder) {
    // The kernel's magic numbers of the file systems that refuse \ : * ? " < > |
    // or names ending in a dot or a space.
    static constexpr unsigned long kRestrictive[] = {
        0x4d44,      // FAT (msdos, vfat)
        0x2011BAB0,  // exFAT
        0x5346544e,  // NTFS (ntfs, ntfs3)
        0x517B,      // SMB
        0xFF534D42,  // CIFS
        0xFE534D42,  // SMB2
    };
    fs::path existing = resolvedLocation(folder).value_or(folder);
    struct statfs info {};
    while (sys::statfs(existing.c_str(), &info) != 0) {
        if (!existing.has_relative_path()) return false;
        existing = existing.parent_path();
    }
    const auto type = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFul;
    return std::find(std::begin(kRestrictive), std::end(kRestrictive), type) != std::end(kRestrictive);
}

bool isInsideFolder(const fs::path& url, const fs::path& folder) {
    struct stat container {};
    if (::stat(folder.c_str(), &container) != 0) return false;
    const auto location = resolvedLocation(url);
    if (!location) return false;
    // Device and inode, not names: a second path to the folder (a bind mount,
    // a link resolved another way) is still the folder.
    for (fs::path ancestor = *location;; ancestor = ancestor.parent_path()) {
        struct stat st {};
        if (::stat(ancestor.c_str(), &st) == 0 && st.st_dev == container.st_dev &&
            st.st_ino == container.st_ino)
            return true;
        if (ancestor == ancestor.root_path() || ancestor.empty()) return false;
    }
}

}  // namespace ni
