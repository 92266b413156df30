#include "platform/FolderListing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/Error.hpp"

namespace ni {

std::optional<std::vector<FolderEntry>> listFolderAtURL(const std::filesystem::path& url, Error* error) {
    DIR* dir = ::opendir(url.c_str());
    if (dir == nullptr) {
        setError(error,
                 Error(errno == ENOTDIR ? ErrorKind::NotDirectory : ErrorKind::ListFailed, url, errno));
        return std::nullopt;
    }
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

}  // namespace ni
