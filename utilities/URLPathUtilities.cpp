#include "utilities/URLPathUtilities.hpp"

#include <sys/stat.h>

#include <cerrno>

#include "platform/Error.hpp"
#include "utilities/TypeIdentifiers.hpp"

namespace ni {

namespace {

std::string_view lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string pathExtension(std::string_view path) {
    const std::string_view name = lastComponent(path);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return std::string(name.substr(dot + 1));
}

std::string lastPathComponentDeletingPathExtension(std::string_view path) {
    const std::string_view name = lastComponent(path);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(name);
    return std::string(name.substr(0, dot));
}

std::optional<ResourceValues> uncachedResourceValuesForKeys(const std::filesystem::path& url,
                                                            const std::vector<std::string>& keys,
                                                            Error* error) {
    // Nothing is remembered between calls: every call asks the file system.
    struct stat st {};
    if (::lstat(url.c_str(), &st) != 0) {
        const int saved = errno;
        setError(error, Error(saved == ENOENT ? ErrorKind::FileNotFound : ErrorKind::ReadFailed, url, saved));
        return std::nullopt;
    }
    ResourceValues values;
    const bool isDirectory = S_ISDIR(st.st_mode);
    for (const std::string& key : keys) {
        if (key == kURLIsDirectoryKey) {
            values[key] = isDirectory;
        } else if (key == kURLIsRegularFileKey) {
            values[key] = S_ISREG(st.st_mode);
        } else if (key == kURLIsSymbolicLinkKey) {
            values[key] = S_ISLNK(st.st_mode);
        } else if (key == kURLIsHiddenKey) {
            values[key] = url.filename().native().starts_with('.');
        } else if (key == kURLIsPackageKey) {
            const auto type = preferredTypeIdentifierForPathExtension(pathExtension(url.native()));
            values[key] = isDirectory && type && typeIdentifierConformsToType(*type, kUTTypePackage);
        }
    }
    if (error != nullptr) *error = Error();
    return values;
}

std::optional<bool> uncachedResourceValueForKey(const std::filesystem::path& url, std::string_view key,
                                                Error* error) {
    const auto values = uncachedResourceValuesForKeys(url, {std::string(key)}, error);
    if (!values) return std::nullopt;
    const auto found = values->find(key);
    if (found == values->end()) return std::nullopt;
    return found->second;
}

bool isDirectoryURL(const std::filesystem::path& url) {
    return uncachedResourceValueForKey(url, kURLIsDirectoryKey, nullptr).value_or(false);
}

}  // namespace ni
