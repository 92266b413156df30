#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace ni {

class Error;

// The system temporary folder: $TMPDIR when set and absolute, else /tmp.
std::filesystem::path temporaryDirectory();

// The per-user container's name, "APPID-UID": users of one machine never share one.
std::string temporaryContainerName();

// TMP/APPID-UID, or TMP/APPID-UID/CONTEXT; nothing is created or examined.
std::filesystem::path temporaryContainerURLForContext(const std::optional<std::string>& context);

// A new, empty folder (mode 0700) named by a unique identifier in the container.
// The container is made 0700 on the way; one that is a link, not a folder or
// not ours is never written into (see createUniqueTemporaryDirectory). Nothing, with the error set, on
// failure. The folder is locked while this process lives, or until released or removed below: a later run's
// sweep then knows it for a live run's.
std::optional<std::filesystem::path> createUniqueTemporaryDirectoryWithContext(const std::optional<std::string>& context,
                                                                              Error* error);
std::optional<std::filesystem::path> createUniqueTemporaryDirectoryWithError(Error* error);

// A container that wasn't this user's own (a link, not a folder, another user's)
// and why: it was left alone and the folder made in a private one beside it.
struct RefusedContainer {
    std::filesystem::path url;
    std::string reason;  // "it belongs to another user", …
};
// The same, telling what was planted: a planted container never stops a run,
// the unique folder is made in a new private folder beside it instead (mkdtemp,
// APPID-UID.XXXXXX), which goes again with the unique folder. refused, when not
// null, is set when that happened.
std::optional<std::filesystem::path> createUniqueTemporaryDirectory(const std::optional<std::string>& context,
                                                                    std::optional<RefusedContainer>* refused,
                                                                    Error* error);

// An empty file (an empty folder for a package type) alone in a new unique folder;
// nothing, with the error set, when the unique folder can't be made. When the
// file itself can't be made its location is still returned (callers may not
// examine the outcome) and the failure goes to error.
std::optional<std::filesystem::path> createTemporaryFileWithPathExtension(const std::string& extension,
                                                                          Error* error = nullptr);
std::optional<std::filesystem::path> createTemporaryFileWithTypeIdentifier(const std::string& identifier,
                                                                           Error* error = nullptr);

// Removes the context's container (all of ours with no context); errors are ignored.
void removeTemporaryItemsForContext(const std::optional<std::string>& context);

// Removes a unique folder made by this process, with everything in it, and
// lets go of its lock. False with the error set when something stays.
bool removeUniqueTemporaryDirectory(const std::filesystem::path& url, Error* error);
// Lets go of the lock on a unique folder of this process's that is gone or no longer needs it.
void releaseUniqueTemporaryDirectory(const std::filesystem::path& url);

// Removes the unique folders in the container (no context) that runs which
// ended without cleaning up (killed, a power loss) left: a real folder of the
// current user, named as a unique folder, whose lock is free. Links, other
// names, other users' items and live runs' folders are left alone. The number removed.
std::size_t removeAbandonedTemporaryDirectories();

}  // namespace ni
