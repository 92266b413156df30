#include "utilities/StringPathUtilities.hpp"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <string>

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

// The form in which names are compared: letter case and composition ignored.
std::u16string nameKey(std::u16string_view name) { return lowercased(decomposed(name)); }

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
        currentName ? std::optional<std::u16string>(nameKey(*currentName)) : std::nullopt;

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
    for (const std::u16string& name : *takenNames) keys.insert(nameKey(name));
    return keys;
}

}  // namespace

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

std::optional<std::u16string> filenameForPrefererredName(const std::optional<std::u16string>& preferredName,
                                                         const std::optional<std::u16string>& currentName) {
    return chooseFilename(preferredName, currentName, [](const std::u16string&) { return false; });
}

}  // namespace ni
