#include "platform/FolderListing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Error.hpp"

namespace ni {

namespace {

Error listingError(int errnoValue, const std::filesystem::path& url) {
    return Error(errnoValue == ENOTDIR ? ErrorKind::NotDirectory : ErrorKind::ListFailed, url, errnoValue);
}

// Reads the entries of dir and closes it.
std::optional<std::vector<FolderEntry>> readEntries(DIR* dir, const std::filesystem::path& url,
                                                    Error* error) {
    std::vector<FolderEntry> entries;
    // readdir reports its errors only through errno; the fstatat below may set it too.
    errno = 0;
    for (const dirent* item = ::readdir(dir); item != nullptr; errno = 0, item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name == "." || name == "..") continue;
        unsigned char type = item->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        const auto kind = type == DT_DIR   ? FolderEntry::Kind::Directory
                          : type == DT_LNK ? FolderEntry::Kind::SymbolicLink
                                           : FolderEntry::Kind::Other;
        entries.push_back({std::string(name), kind});
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        setError(error, Error(ErrorKind::ListFailed, url, readError));
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

}  // namespace

std::optional<std::vector<FolderEntry>> listFolderAtURL(const std::filesystem::path& url, Error* error) {
    DIR* dir = ::opendir(url.c_str());
    if (dir == nullptr) {
        setError(error, listingError(errno, url));
        return std::nullopt;
    }
    return readEntries(dir, url, error);
}

std::optional<std::vector<FolderEntry>> listFolderAt(int folderFd, const std::filesystem::path& url,
                                                     Error* error) {
    // fdopendir takes over the descriptor it is given: a duplicate leaves the caller's open.
    const int fd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        const int saved = errno;
        if (fd >= 0) ::close(fd);
        setError(error, listingError(saved, url));
        return std::nullopt;
    }
    // The duplicate shares the caller's position in the folder, which may be past its start.
    ::rewinddir(dir);
    return readEntries(dir, url, error);
}

const EntryTree& fileSystemTree() {
    struct FileSystemTree final : EntryTree {
        std::optional<std::vector<FolderEntry>> list(const std::filesystem::path& url,
                                                     Error* error) const override {
            return listFolderAtURL(url, error);
        }
        std::optional<mode_t> typeAt(const std::filesystem::path& url) const override {
            struct stat st {};
            if (::lstat(url.c_str(), &st) != 0) return std::nullopt;
            return st.st_mode & S_IFMT;
        }
    };
    static const FileSystemTree tree;
    return tree;
}

}  // namespace ni
