// The string and path utilities on arbitrary text. The first byte picks the
// operation; what comes out must keep the promises each one makes, checked
// here by plain rules (and ICU itself) rather than by the code under test.
//   0  sanitising a file name, one byte per code unit (dense in ASCII, where the reserved characters are)
//   1  sanitising a file name, two bytes per code unit (any UTF-16 at all)
//   2  standardising and relating virtual paths: a 0xFF byte splits path from base
//   3  choosing a free file name: 0xFF bytes split preferred, current and taken names

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "utilities/StringPathUtilities.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void checkSanitized(const std::u16string& text) {
    const std::u16string name = ni::stringByReplacingUnallowedFilenameCharacters(text);
    if (name.size() > 100) fail("longer than 100 units");
    if (!name.empty() && name.front() == u'.') fail("hidden name");
    if (name.find(u"  ") != std::u16string::npos) fail("double space");
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (std::u16string_view(u"\\/:?*<>\"|").find(c) != std::u16string_view::npos)
            fail("reserved character");
        if (c == u'\t' || c == u'\n' || c == 0xFFFF) fail("tab, line feed or U+FFFF");
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)
            fail("character beyond the BMP");
    }
    if (!name.empty() && (name.front() == u' ' || name.back() == u' ')) fail("outer blank");
    if (text.size() <= 100 && text.find_first_of(u"\\/:?*<>\"|") == std::u16string::npos) {
        // Short text with nothing reserved loses no letters: only blanks and dots change.
        const auto letters = [](const std::u16string& s) {
            return std::count_if(s.begin(), s.end(), [](char16_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; });
        };
        if (letters(name) != letters(text)) fail("letters lost from short text");
    }
}

std::vector<std::u16string> components(std::u16string_view path) {
    std::vector<std::u16string> names;
    for (std::size_t start = 0, slash; start <= path.size(); start = slash + 1) {
        slash = std::min(path.find(u'/', start), path.size());
        if (slash > start) names.emplace_back(path.substr(start, slash - start));
    }
    return names;
}

void checkStandardized(std::u16string_view path) {
    const auto standardized = ni::stringByStandardizingVirtualPath(path);
    if (!standardized) return;
    const bool absolute = !path.empty() && path.front() == u'/';
    if (absolute != (!standardized->empty() && standardized->front() == u'/')) fail("absoluteness changed");
    if (*standardized != u"/" && !standardized->empty() && standardized->back() == u'/')
        fail("trailing slash");
    if (standardized->find(u"//") != std::u16string::npos) fail("empty component");
    for (const auto& name : components(*standardized))
        if (name == u"." || name == u"..") fail("dot component left");
    if (ni::stringByStandardizingVirtualPath(*standardized) != standardized) fail("not idempotent");
}

void checkRelative(std::u16string_view path, const std::u16string& base) {
    const auto relative = ni::pathRelativeToBasePath(path, base);
    const bool pathAbsolute = !path.empty() && path.front() == u'/';
    const bool baseAbsolute = !base.empty() && base.front() == u'/';
    const auto pathNames = components(path);
    const auto baseNames = components(base);
    const bool expected = pathAbsolute == baseAbsolute && (baseAbsolute || !baseNames.empty()) &&
                          pathNames.size() >= baseNames.size() &&
                          std::equal(baseNames.begin(), baseNames.end(), pathNames.begin());
    if (relative.has_value() != expected) fail("relation disagrees with the components");
    if (!relative) return;
    if (components(*relative) != std::vector(pathNames.begin() + std::ssize(baseNames), pathNames.end()))
        fail("relative path isn't the rest of the path");
    if (!relative->empty() && (relative->front() == u'/' || relative->back() == u'/')) fail("outer slash");
    // Every path is relative to itself as nothing at all.
    if ((pathAbsolute || !pathNames.empty()) && ni::pathRelativeToBasePath(path, std::u16string(path)) != u"")
        fail("path not relative to itself");
}

// Canonical decomposition, lower-cased for a comparison key when asked.
std::u16string decomposed(const std::u16string& text, bool lower = false) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString s = icu::Normalizer2::getNFDInstance(status)->normalize(
        icu::UnicodeString(text.data(), static_cast<int32_t>(text.size())), status);
    if (U_FAILURE(status)) fail("ICU couldn't decompose");
    if (lower) s.toLower(icu::Locale::getRoot());
    return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

void checkChosen(const std::vector<std::u16string>& fields) {
    const std::u16string& preferred = fields[0];
    const std::optional<std::u16string> current =
        fields.size() > 1 && !fields[1].empty() ? std::optional(fields[1]) : std::nullopt;
    const std::vector<std::u16string> taken(fields.begin() + std::min<std::ptrdiff_t>(2, fields.size()),
                                            fields.end());
    const std::unordered_set<std::u16string> takenSet(taken.begin(), taken.end());
    const auto chosen = ni::filenameForPrefererredName(preferred, current, &taken);
    if (!chosen) fail("no name chosen");
    if (chosen != ni::filenameForPrefererredName(preferred, current, &takenSet))
        fail("a set of taken names chooses differently from a list");
    if (decomposed(*chosen) != *chosen) fail("chosen name isn't decomposed");
    const std::u16string key = decomposed(*chosen, true);
    if (current && key == decomposed(*current, true)) return;  // an item keeps its own name
    for (const std::u16string& name : taken)
        if (key == decomposed(name, true)) fail("chosen name collides with a taken one");
}

// Bytes from 0x80 up stand for characters whose case or composition make names collide.
char16_t nameUnit(std::uint8_t byte) {
    static constexpr char16_t kTricky[] = {u'\u00E9', u'\u00C9', u'\u0301', u'\u0130', u'\u0307', u'\u00DF',
                                           u'\u2126', u'\u03A9', u'\u03C9', u'\u212A', u'\u1E9E', u'\u03A3',
                                           u'\u03C2', 0xD83D,    0xDE00,    u'\u0069'};
    return byte < 0x80 ? byte : kTricky[byte & 15];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* bytes = data + 1;
    const std::size_t count = size - 1;
    switch (data[0] % 4) {
        case 0:
            checkSanitized(std::u16string(bytes, bytes + count));
            break;
        case 1: {
            std::u16string text;
            for (std::size_t i = 0; i + 1 < count; i += 2) text.push_back(char16_t(bytes[i] | bytes[i + 1] << 8));
            checkSanitized(text);
            break;
        }
        case 2: {
            // One byte per unit keeps "/" and "." frequent; high bytes give lone surrogates.
            std::u16string path, base;
            bool inBase = false;
            for (std::size_t i = 0; i < count; ++i) {
                if (bytes[i] == 0xFF && !inBase)
                    inBase = true;
                else
                    (inBase ? base : path).push_back(bytes[i] >= 0xF0 ? char16_t(0xD800 + bytes[i]) : bytes[i]);
            }
            checkStandardized(path);
            if (inBase) {
                checkRelative(path, base);
                checkStandardized(base);
            }
            if (ni::pathRelativeToBasePath(path, std::nullopt)) fail("relative to no base");
            break;
        }
        default: {
            std::vector<std::u16string> fields(1);
            for (std::size_t i = 0; i < count && fields.size() <= 16; ++i) {
                if (bytes[i] == 0xFF)
                    fields.emplace_back();
                else
                    fields.back().push_back(nameUnit(bytes[i]));
            }
            checkChosen(fields);
        }
    }
    return 0;
}
