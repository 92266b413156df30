#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "utilities/Range.hpp"

namespace ni {

// A file name for an item wanted under preferredName that collides with none of
// takenNames (letter case and Unicode composition ignored), numbered
// "Name - 2.ext", "Name - 3.ext"... when needed; the item's own currentName never
// counts as taken. In Normalization Form D; nothing when preferredName is absent.
std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName,
                                                         const std::vector<std::u16string>* takenNames);
std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName,
                                                         const std::unordered_set<std::u16string>* takenNames);
// The same with no names taken.
std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName);

// Any text made safe as a file name: at most 100 code units, possibly empty.
std::u16string stringByReplacingUnallowedFilenameCharacters(std::u16string_view string);

// The path with "." and ".." resolved; nothing when ".." climbs above its start or root.
std::optional<std::u16string> stringByStandardizingVirtualPath(std::u16string_view path);

// The path less the base, when the base is a whole leading run of its components; else nothing.
std::optional<std::u16string> pathRelativeToBasePath(std::u16string_view path,
                                                     const std::optional<std::u16string>& basePath);

// The path with the user's home directory at its start replaced by "~", or unchanged.
std::u16string stringByAbbreviatingUserDirectoryInPath(std::u16string_view path);

}  // namespace ni
