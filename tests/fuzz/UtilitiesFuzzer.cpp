// The string and path utilities on arbitrary text. The first byte picks the
// operation; what comes out must keep the promises each one makes, checked
// here by plain rules rather than by the code under test (the collision key aside).
//   0  sanitising a file name, one byte per code unit (dense in ASCII, where the reserved characters are)
//   1  sanitising a file name, two bytes per code unit (any UTF-16 at all)
//   2  standardising and relating virtual paths: a 0xFF byte splits path from base
//   3  choosing a free file name: 0xFF bytes split preferred, current and taken names

#include <cstdio>
#include <cstdlib>

#include "utilities/StringPathUtilities.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void checkSanitized(const std::u16string& text) {
    const std::u16string name = ni::stringByReplacingUnallowedFilenameCharacters(text);
    if (name.size() > 100) fail("longer than 100 units");
    if (!name.empty() && (name.front() == u'.' || name.front() == u' ' || name.back() == u' '))
        fail("hidden name or outer blank");
    if (name.find_first_of(u"\\/:?*<>\"|\t\n\uFFFF") != std::u16string::npos) fail("reserved character");
}

void checkChosen(const std::vector<std::u16string>& fields) {
    const auto current = fields.size() > 1 && !fields[1].empty() ? std::optional(fields[1]) : std::nullopt;
    const std::vector<std::u16string> taken(fields.begin() + std::min<std::ptrdiff_t>(2, fields.size()),
                                            fields.end());
    const auto chosen = ni::filenameForPrefererredName(fields[0], current, &taken);
    if (!chosen) fail("no name chosen");
    // Names collide when their keys (decomposed, lower-cased) are equal; an item keeps its own name.
    if (current && ni::filenameKey(*chosen) == ni::filenameKey(*current)) return;
    for (const std::u16string& name : taken)
        if (ni::filenameKey(*chosen) == ni::filenameKey(name)) fail("chosen name collides with a taken one");
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
    const int mode = data[0] % 4;
    std::vector<std::u16string> fields(1);
    for (std::size_t i = 0; i < count && fields.size() <= 16; ++i) {
        if (mode == 1 && i + 1 < count) {
            fields.back().push_back(char16_t(bytes[i] | bytes[i + 1] << 8));
            ++i;
        } else if (mode >= 2 && bytes[i] == 0xFF) {
            fields.emplace_back();
        } else if (mode == 3) {
            fields.back().push_back(nameUnit(bytes[i]));
        } else {
            // For paths one byte per unit keeps "/" and "." frequent; high bytes give lone surrogates.
            fields.back().push_back(mode == 2 && bytes[i] >= 0xF0 ? char16_t(0xD800 + bytes[i]) : bytes[i]);
        }
    }
    if (mode < 2) return checkSanitized(fields[0]), 0;
    if (mode == 3) return checkChosen(fields), 0;
    // Standardising is idempotent; a path is relative to itself as nothing at all, to no base never.
    const auto standardized = ni::stringByStandardizingVirtualPath(fields[0]);
    if (standardized && ni::stringByStandardizingVirtualPath(*standardized) != standardized)
        fail("standardising isn't idempotent");
    if (fields.size() > 1) (void)ni::pathRelativeToBasePath(fields[0], fields[1]);
    if (ni::pathRelativeToBasePath(fields[0], std::nullopt)) fail("relative to no base");
    if (standardized && !standardized->empty() &&
        ni::pathRelativeToBasePath(*standardized, *standardized) != u"")
        fail("path not relative to itself");
    return 0;
}
