#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "utilities/Range.hpp"

namespace ni {

// The form in which file names are compared: Normalization Form D, then the
// locale-independent full lower-case mapping.
std::u16string filenameKey(std::u16string_view name);

// A file name for an item wanted under preferredName that collides with none of
// takenNames (letter case and Unicode composition ignored), numbered
// "Name - 2.ext", "Name - 3.ext"... when needed; the item's own currentName never
// counts as taken. In Normalization Form D; nothing when preferredName is absent.
// The extension is the text after the last "." of the last "/"-component; a name
// whose only "." comes first (".profile") or ends in "." or "/" has none.
std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName,
                                                         const std::vector<std::u16string>* takenNames);
std::optional<std::u16string> filenameForPrefererredName(
    const std::optional<std::u16string>& preferredName, const std::optional<std::u16string>& currentName,
    const std::unordered_set<std::u16string>* takenNames);
// The same where isTakenKey(key) tells whether the key of a name (see filenameKey)
// is taken: for callers that keep the taken keys themselves.
std::optional<std::u16string> filenameForPrefererredName(
    const std::optional<std::u16string>& preferredName, const std::optional<std::u16string>& currentName,
    const std::function<bool(const std::u16string& key)>& isTakenKey);
// The same with no names taken.
std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName);

// Any text made safe as a file name, possibly empty: cut to whole words within 100
// code units, the nine reserved characters \ / : ? * < > " | turned into "-" (those
// at the end dropped, bar a lone one), tabs, line feeds and characters beyond the
// Basic Multilingual Plane into single spaces, dots at the end removed (one bared
// by dropped hyphens stays), outer blanks removed, and never a leading ".". A cut
// inside a surrogate pair leaves its first half.
std::u16string stringByReplacingUnallowedFilenameCharacters(std::u16string_view string);

// The path with "." and ".." resolved and empty components dropped: an absolute
// path keeps one leading "/" ("/" stays "/"), a trailing "/" goes; nothing when
// ".." climbs above the root or the start.
std::optional<std::u16string> stringByStandardizingVirtualPath(std::u16string_view path);

// The path less the base, when the base's components (compared exactly, trailing "/"
// ignored) are a whole leading run of the path's; "" for the base itself. Nothing
// otherwise, and for an absent or empty base.
std::optional<std::u16string> pathRelativeToBasePath(std::u16string_view path,
                                                     const std::optional<std::u16string>& basePath);

// The path with the user's home directory at its start, followed by "/" or the end,
// replaced by "~"; unchanged otherwise, when the home is "/" or can't be read.
std::u16string stringByAbbreviatingUserDirectoryInPath(std::u16string_view path);

}  // namespace ni
