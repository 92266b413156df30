#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ni {

class Error;

// Resource keys: what kind of item a location holds, read from the item itself
// (a symbolic link is a link, never what it points to).
inline constexpr std::string_view kURLIsDirectoryKey = "IsDirectory";
inline constexpr std::string_view kURLIsPackageKey = "IsPackage";
inline constexpr std::string_view kURLIsRegularFileKey = "IsRegularFile";
inline constexpr std::string_view kURLIsSymbolicLinkKey = "IsSymbolicLink";
inline constexpr std::string_view kURLIsHiddenKey = "IsHidden";

using ResourceValues = std::map<std::string, bool, std::less<>>;

// The values for keys, read fresh from the file system on every call; unknown
// keys get no entry. Nothing, with the error set, when the item can't be read;
// on success a given error slot is cleared.
std::optional<ResourceValues> uncachedResourceValuesForKeys(const std::filesystem::path& url,
                                                            const std::vector<std::string>& keys,
                                                            Error* error);
// One value; nothing when it can't be read or the item lacks it.
std::optional<bool> uncachedResourceValueForKey(const std::filesystem::path& url, std::string_view key,
                                                Error* error);
// The extension of a path's last component, without the dot; empty when it has
// none (a name whose only dot is its first character, like ".profile", has none).
std::string pathExtension(std::string_view path);
// The last component less its extension ("a.b.txt" gives "a.b").
std::string lastPathComponentDeletingPathExtension(std::string_view path);

// The item itself is a directory (packages included, links not). False when it can't be read.
bool isDirectoryURL(const std::filesystem::path& url);

}  // namespace ni
