#pragma once

#include <filesystem>

namespace ni {

class Error;

// Moves source to destination, never replacing an existing item (a dangling
// link counts as existing). Across file systems the tree is copied under a
// temporary name beside destination, keeping modes and modification times,
// renamed into place, and only then the source is removed; a failed copy
// removes its partial copy and leaves the source as it was.
bool moveItemAtURL(const std::filesystem::path& source, const std::filesystem::path& destination, Error* error);

}  // namespace ni
