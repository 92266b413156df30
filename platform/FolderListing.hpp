#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ni {

class Error;

// One entry of a folder, as the folder itself records it: a link is a link,
// never what it points to.
struct FolderEntry {
    enum class Kind { Directory, SymbolicLink, Other };
    std::string name;
    Kind kind = Kind::Other;
};

// The entries of the folder at url but "." and "..", in byte order of their
// names, so that two runs over one folder agree. Nothing, with the error set
// (NotDirectory or ListFailed), when it can't be listed: treating such a
// folder as empty would report success with items missing.
std::optional<std::vector<FolderEntry>> listFolderAtURL(const std::filesystem::path& url, Error* error);
// The same for the open folder folderFd, which stays open and is read from its
// start; url names it in errors.
std::optional<std::vector<FolderEntry>> listFolderAt(int folderFd, const std::filesystem::path& url,
                                                     Error* error);

// Folders and files to look things up in by path, links never followed: the
// file system, or the entries of an archive under the archive's own path.
class EntryTree {
public:
    virtual ~EntryTree() = default;
    // As listFolderAtURL.
    virtual std::optional<std::vector<FolderEntry>> list(const std::filesystem::path& url,
                                                         Error* error) const = 0;
    // The type of the item at url (S_IFDIR, S_IFREG, S_IFLNK, …), as lstat
    // gives it; nothing when there is no item there.
    virtual std::optional<mode_t> typeAt(const std::filesystem::path& url) const = 0;
};

// The file system as an EntryTree.
const EntryTree& fileSystemTree();

}  // namespace ni
