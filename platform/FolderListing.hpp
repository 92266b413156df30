#pragma once

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

}  // namespace ni
