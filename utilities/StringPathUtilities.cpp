#include "utilities/StringPathUtilities.hpp"

#include <pwd.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "utilities/CharacterSets.hpp"
#include "utilities/CreationConvenience.hpp"

namespace ni {

namespace {

icu::UnicodeString toIcu(std::u16string_view text) {
    return icu::UnicodeString(text.data(), static_cast<int32_t>(text.size()));
}

std::u16string fromIcu(const icu::UnicodeString& text) {
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

// Canonical decomposition. Should ICU fail (it does not for valid input, and
// lone surrogates pass through), the text is kept as it is.
std::u16string decomposed(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return std::u16string(text);
    icu::UnicodeString result = nfd->normalize(toIcu(text), status);
    if (U_FAILURE(status)) return std::u16string(text);
    return fromIcu(result);
}

// The full lower-case mapping without locale rules; may change the length ("İ" gives two units).
std::u16string lowercased(std::u16string_view text) {
    icu::UnicodeString result = toIcu(text);
    result.toLower(icu::Locale::getRoot());
    return fromIcu(result);
}

// Where the extension's "." stands, or npos when the name has none. The
// extension is the text after the last "." of the last path component; a "."
// that starts the component (".profile") marks a hidden name, not an
// extension, and an empty text after the "." ("Notes.") is no extension. A
// name ending in "/" has an empty last component, hence no extension.
std::size_t extensionDot(std::u16string_view name) {
    const std::size_t slash = name.rfind(u'/');
    const std::size_t componentStart = slash == std::u16string_view::npos ? 0 : slash + 1;
    const std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos || dot <= componentStart || dot + 1 == name.size())
        return std::u16string_view::npos;
    return dot;
}

std::u16string_view pathExtension(std::u16string_view name) {
    const std::size_t dot = extensionDot(name);
    return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
}

// The name less its last extension and its "."; unchanged when it has none.
std::u16string_view deletingPathExtension(std::u16string_view name) {
    const std::size_t dot = extensionDot(name);
    return dot == std::u16string_view::npos ? name : name.substr(0, dot);
}

std::u16string decimal(std::uint64_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// The choice itself, whatever holds the taken keys: isTaken(key) answers membership.
template <typename IsTaken>
std::optional<std::u16string> chooseFilename(const std::optional<std::u16string>& preferredName,
                                             const std::optional<std::u16string>& currentName,
                                             const IsTaken& isTaken) {
    if (!preferredName) return std::nullopt;

    // An item being renamed keeps the kind of file it is.
    std::u16string working = *preferredName;
    if (currentName) {
        const std::u16string_view currentExtension = pathExtension(*currentName);
        if (!currentExtension.empty()) {
            working = std::u16string(deletingPathExtension(working));
            working += u'.';
            working += currentExtension;
        }
    }
    const std::u16string extension(pathExtension(working));
    const std::u16string base = decomposed(working);
    const std::optional<std::u16string> currentKey =
        currentName ? std::optional<std::u16string>(filenameKey(*currentName)) : std::nullopt;

    // Candidates are in NFD already, so their lower-case form is their key.
    std::u16string candidate = base;
    std::u16string key = lowercased(candidate);
    if (key == currentKey) return candidate;

    // Numbered names always start again from base, so suffixes never pile up.
    const std::u16string stem(extension.empty() ? std::u16string_view(base) : deletingPathExtension(base));
    for (std::uint64_t counter = 2;; ++counter) {
        if (!isTaken(key)) return candidate;
        std::u16string numbered = stem + u" - " + decimal(counter);
        if (!extension.empty()) numbered += u'.' + extension;
        candidate = decomposed(numbered);
        key = lowercased(candidate);
        if (key == currentKey) return candidate;
    }
}

// Keys are hashed whatever collection the names came in: each candidate then
// costs one lookup, so a long run of numbered names stays linear.
template <typename Names>
std::unordered_set<std::u16string> takenKeys(const Names* takenNames) {
    std::unordered_set<std::u16string> keys;
    if (!takenNames) return keys;
    keys.reserve(takenNames->size());
    for (const std::u16string& name : *takenNames) keys.insert(filenameKey(name));
    return keys;
}

// --- Sanitising -------------------------------------------------------------

icu::UnicodeSet frozenSet(const char16_t* pattern) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeSet set(icu::UnicodeString(pattern), status);
    if (U_FAILURE(status)) set.clear();
    set.freeze();
    return set;
}

// The nine characters that file systems or shells reserve.
const icu::UnicodeSet& unallowedFilenameCharacters() {
    static const icu::UnicodeSet set = frozenSet(u"[\\\\/:?*<>\\\"|]");
    return set;
}

// Tab, line feed, U+FFFF and everything beyond the Basic Multilingual Plane.
// Lone surrogates are BMP code points here and stay.
const icu::UnicodeSet& spaceReplacementCharacters() {
    static const icu::UnicodeSet set = [] {
        icu::UnicodeSet built(0x0000, 0xFFFE);
        built.complement();
        built.add(0x0009).add(0x000A);
        built.freeze();
        return built;
    }();
    return set;
}

const icu::UnicodeSet& whitespace() {
    static const icu::UnicodeSet set = frozenSet(u"[[:Zs:]\\u0009]");
    return set;
}

// Null only if ICU cannot compile it; callers fall back to removing the dots by hand.
const icu::RegexPattern* trailingDots() {
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexPattern> compiled(
            icu::RegexPattern::compile(icu::UnicodeString(u"[\\.]+$"), 0, status));
        return U_SUCCESS(status) ? std::move(compiled) : nullptr;
    }();
    return pattern.get();
}

void removeTrailingDots(std::u16string& text) {
    if (const icu::RegexPattern* pattern = trailingDots()) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString input = toIcu(text);
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
        if (U_SUCCESS(status) && matcher) {
            const icu::UnicodeString result = matcher->replaceAll(icu::UnicodeString(), status);
            if (U_SUCCESS(status)) {
                text = fromIcu(result);
                return;
            }
        }
    }
    while (!text.empty() && text.back() == u'.') text.pop_back();
}

// The indexes [begin, end) that the reserved-character pass replaced, kept in
// step with the text as later passes delete code units in front of or inside it.
struct ReplacedSpan {
    std::size_t begin = 0;
    std::size_t end = 0;

    bool contains(std::size_t index) const { return begin <= index && index < end; }
};

void eraseUnits(std::u16string& text, std::size_t at, std::size_t count, std::optional<ReplacedSpan>& span) {
    text.erase(at, count);
    if (!span) return;
    auto shifted = [at, count](std::size_t index) {
        if (index <= at) return index;
        return index - std::min(count, index - at);
    };
    span->begin = shifted(span->begin);
    span->end = shifted(span->end);
}

// --- Paths ------------------------------------------------------------------

// A path split at "/", empty components (doubled or trailing separators) dropped.
struct PathComponents {
    bool absolute = false;
    std::vector<std::u16string_view> names;
};

PathComponents splitPath(std::u16string_view path) {
    PathComponents components;
    components.absolute = !path.empty() && path.front() == u'/';
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find(u'/', start);
        if (slash == std::u16string_view::npos) slash = path.size();
        if (slash > start) components.names.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return components;
}

std::u16string joined(std::vector<std::u16string_view>::const_iterator first,
                      std::vector<std::u16string_view>::const_iterator last) {
    std::u16string path;
    for (auto it = first; it != last; ++it) {
        if (it != first) path += u'/';
        path += *it;
    }
    return path;
}

// The home directory of the real user, or nothing when it can't be read or isn't UTF-8.
std::optional<std::u16string> userHomeDirectory() {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    constexpr std::size_t kMaximumBuffer = std::size_t{1} << 20;
    passwd entry{};
    passwd* found = nullptr;
    for (;;) {
        const int result = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (result == EINTR) continue;
        if (result == ERANGE && buffer.size() < kMaximumBuffer) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result != 0 || !found || !found->pw_dir) return std::nullopt;
        break;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, found->pw_dir, -1, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
    std::u16string home(static_cast<std::size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8(home.data(), length, nullptr, found->pw_dir, -1, &status);
    if (U_FAILURE(status)) return std::nullopt;
    return home;
}

}  // namespace

std::u16string filenameKey(std::u16string_view name) { return lowercased(decomposed(name)); }

std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName,
                                                         const std::vector<std::u16string>* takenNames) {
    if (!preferredName) return std::nullopt;
    const std::unordered_set<std::u16string> keys = takenKeys(takenNames);
    return chooseFilename(preferredName, currentName,
                          [&keys](const std::u16string& key) { return keys.contains(key); });
}

std::optional<std::u16string> filenameForPrefererredName(
    const std::optional<std::u16string>& preferredName, const std::optional<std::u16string>& currentName,
    const std::unordered_set<std::u16string>* takenNames) {
    if (!preferredName) return std::nullopt;
    const std::unordered_set<std::u16string> keys = takenKeys(takenNames);
    return chooseFilename(preferredName, currentName,
                          [&keys](const std::u16string& key) { return keys.contains(key); });
}

std::optional<std::u16string> filenameForPrefererredName(
    const std::optional<std::u16string>& preferredName, const std::optional<std::u16string>& currentName,
    const std::function<bool(const std::u16string& key)>& isTakenKey) {
    return chooseFilename(preferredName, currentName, isTakenKey);
}

std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName) {
    return chooseFilename(preferredName, currentName, [](const std::u16string&) { return false; });
}

std::u16string stringByReplacingUnallowedFilenameCharacters(std::u16string_view string) {
    std::u16string name = stringByTruncatingToFullWordsInRange(string, Range{0, 100});

    if (!name.empty() && name.front() == u'.') name.front() = u'_';
    if (!name.empty() && name.back() == u'.') removeTrailingDots(name);

    std::optional<ReplacedSpan> span;
    const icu::UnicodeSet& unallowed = unallowedFilenameCharacters();
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (!unallowed.contains(name[i])) continue;
        name[i] = u'-';
        if (!span) span = ReplacedSpan{i, i + 1};
        span->end = i + 1;
    }

    const icu::UnicodeSet& toSpace = spaceReplacementCharacters();
    for (std::size_t i = 0; i < name.size(); ++i) {
        std::size_t next = i;
        UChar32 character;
        U16_NEXT(name.data(), next, name.size(), character);
        if (!toSpace.contains(character)) continue;
        name[i] = u' ';
        if (next - i == 2) eraseUnits(name, i + 1, 1, span);
    }

    for (std::size_t pair = name.find(u"  "); pair != std::u16string::npos; pair = name.find(u"  ", pair))
        eraseUnits(name, pair + 1, 1, span);

    if (!name.empty() && whitespaceAndNewlines().contains(name.back()))
        eraseUnits(name, name.size() - 1, 1, span);

    // Hyphens at the end that stand for replaced characters say nothing; a lone one stays.
    while (span && name.size() >= 2 && span->contains(name.size() - 1) && name.back() == u'-')
        name.pop_back();

    const icu::UnicodeSet& blank = whitespace();
    std::size_t first = 0;
    std::size_t last = name.size();
    while (first < last && blank.contains(name[first])) ++first;
    while (last > first && blank.contains(name[last - 1])) --last;
    name = name.substr(first, last - first);

    // Trimming can bring a "." to the front again; a file name must not turn hidden.
    if (!name.empty() && name.front() == u'.') name.front() = u'_';
    return name;
}

std::optional<std::u16string> stringByStandardizingVirtualPath(std::u16string_view path) {
    const PathComponents components = splitPath(path);
    std::vector<std::u16string_view> kept;
    for (std::u16string_view name : components.names) {
        if (name == u".") continue;
        if (name == u"..") {
            if (kept.empty()) return std::nullopt;
            kept.pop_back();
            continue;
        }
        kept.push_back(name);
    }
    std::u16string standardized = components.absolute ? u"/" : u"";
    standardized += joined(kept.begin(), kept.end());
    return standardized;
}

std::optional<std::u16string> pathRelativeToBasePath(std::u16string_view path,
                                                     const std::optional<std::u16string>& basePath) {
    if (!basePath) return std::nullopt;
    const PathComponents receiver = splitPath(path);
    const PathComponents base = splitPath(*basePath);
    // The root is the first component of an absolute path: it must match like any other.
    if (receiver.absolute != base.absolute) return std::nullopt;
    const std::size_t shared = base.names.size() + (base.absolute ? 1 : 0);
    if (shared == 0 || receiver.names.size() < base.names.size()) return std::nullopt;
    if (!std::equal(base.names.begin(), base.names.end(), receiver.names.begin())) return std::nullopt;
    return joined(receiver.names.begin() + static_cast<std::ptrdiff_t>(base.names.size()),
                  receiver.names.end());
}

std::u16string stringByAbbreviatingUserDirectoryInPath(std::u16string_view path) {
    std::optional<std::u16string> home = userHomeDirectory();
    if (!home) return std::u16string(path);
    while (!home->empty() && home->back() == u'/') home->pop_back();
    // A root home would turn every absolute path into "~..."; abbreviate nothing then.
    if (home->empty()) return std::u16string(path);
    // Only a whole component: "/home/username" is not inside "/home/user".
    if (!path.starts_with(*home) || (path.size() > home->size() && path[home->size()] != u'/'))
        return std::u16string(path);
    return u"~" + std::u16string(path.substr(home->size()));
}

}  // namespace ni
