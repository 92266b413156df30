// The filename sanitiser on arbitrary text: whatever goes in, what comes out
// is usable as one file name.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "utilities/StringPathUtilities.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses one byte per unit (dense in ASCII, where the
    // reserved characters are) or two bytes per unit (any UTF-16 at all).
    std::u16string text;
    if (data[0] & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    } else {
        for (std::size_t i = 1; i < size; ++i) text.push_back(data[i]);
    }

    const std::u16string name = ni::stringByReplacingUnallowedFilenameCharacters(text);
    if (name.size() > 100) fail("longer than 100 units");
    if (!name.empty() && name.front() == u'.') fail("hidden name");
    if (name.find(u"  ") != std::u16string::npos) fail("double space");
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (std::u16string_view(u"\\/:?*<>\"|").find(c) != std::u16string_view::npos)
            fail("reserved character");
        if (c == u'\t' || c == u'\n' || c == 0xFFFF) fail("tab, line feed or U+FFFF");
        if (isHigh(c) && i + 1 < name.size() && isLow(name[i + 1])) fail("character beyond the BMP");
    }
    if (!name.empty() && (name.front() == u' ' || name.back() == u' ')) fail("outer blank");
    if (text.size() <= 100 && text.find_first_of(u"\\/:?*<>\"|") == std::u16string::npos) {
        // Short text with nothing reserved loses no letters: only blanks and dots change.
        std::size_t letters = 0;
        for (const char16_t c : text) letters += (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        std::size_t kept = 0;
        for (const char16_t c : name) kept += (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (kept != letters) fail("letters lost from short text");
    }
    return 0;
}
