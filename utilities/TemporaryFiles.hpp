#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace ni {

class Error;

// The system temporary folder: $TMPDIR when set and absolute, else /tmp.
std::filesystem::path temporaryDirectory();

// TMP/APPID, or TMP/APPID/CONTEXT; nothing is created or examined.
std::filesystem::path temporaryContainerURLForContext(const std::optional<std::string>& context);

// A new, empty folder (mode 0700) named by a unique identifier in the container.
// The container is made 0700 on the way; one that is a link, not a folder or
// not ours is refused and never written into. Nothing, with the error set, on failure.
std::optional<std::filesystem::path> createUniqueTemporaryDirectoryWithContext(const std::optional<std::string>& context,
                                                                              Error* error);
std::optional<std::filesystem::path> createUniqueTemporaryDirectoryWithError(Error* error);

// An empty file (an empty folder for a package type) alone in a new unique folder;
// nothing when the unique folder can't be made.
std::optional<std::filesystem::path> createTemporaryFileWithPathExtension(const std::string& extension);
std::optional<std::filesystem::path> createTemporaryFileWithTypeIdentifier(const std::string& identifier);

// Removes the context's container (all of ours with no context); errors are ignored.
void removeTemporaryItemsForContext(const std::optional<std::string>& context);

}  // namespace ni
