#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace ni {

// The one place where text changes between UTF-8 (files, names) and UTF-16
// (what notes are parsed and named in).

// Decodes the UTF-8 sequence that starts at bytes[i] into value and returns its
// length in bytes; 0 when it isn't valid UTF-8 (overlong forms, encoded
// surrogates and values past U+10FFFF included).
inline std::size_t decodeUTF8(std::string_view bytes, std::size_t i, char32_t& value) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char c = byte(i);
    std::size_t length;
    if (c < 0x80) {
        value = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        value = c & 0x07;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size() || (byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

// UTF-8 bytes to UTF-16; nothing, with badOffset set to the first bad byte, when invalid.
std::optional<std::u16string> utf16FromUTF8(std::string_view bytes, std::size_t* badOffset = nullptr);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUTF16(std::u16string_view text);

// File-system bytes as UTF-16 for names and messages; bytes that aren't UTF-8 become U+FFFD.
std::u16string lossyUTF16(std::string_view bytes);

// The longest leading part of bytes that has at most limit bytes and doesn't
// end inside a UTF-8 sequence; bytes itself when short enough.
std::string_view utf8Prefix(std::string_view bytes, std::size_t limit);

// Eight UTF-16 units at a time, for scans that skip ahead while no unit needs
// a closer look (the compiler's own vector types, on any processor):
//   const Units8 v = loadUnits(p);
//   if (!anyLane((v < unit(0x20)) | (v == unit(u'&')))) ...
using Units8 = std::uint16_t __attribute__((vector_size(16)));
using Lanes8 = std::int16_t __attribute__((vector_size(16)));

// A scalar compared with Units8 is given their element type: clang 14 fails on others.
constexpr std::uint16_t unit(char16_t c) { return c; }

inline Units8 loadUnits(const char16_t* p) {
    Units8 units;
    std::memcpy(&units, p, sizeof units);
    return units;
}

inline bool anyLane(Lanes8 lanes) {
    std::uint64_t words[2];
    std::memcpy(words, &lanes, sizeof words);
    return (words[0] | words[1]) != 0;
}

// Writes eight units below U+0080 as their eight bytes.
inline void narrowASCII(const char16_t* from, char* to) {
    using Bytes8 = unsigned char __attribute__((vector_size(8)));
    const Bytes8 bytes = __builtin_convertvector(loadUnits(from), Bytes8);
    std::memcpy(to, &bytes, sizeof bytes);
}

// The code point at text[i], a surrogate pair that ends before `end` taken
// whole (i then moves onto its second half); a lone surrogate as it is.
inline char32_t codePointAt(std::u16string_view text, std::size_t& i, std::size_t end) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < end && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
        return 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    return c;
}

// Writes c (no surrogate) as UTF-8 at out; where it ends.
inline char* writeUTF8(char32_t c, char* out) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Where a slice of at most `length` units from start ends without splitting a
// surrogate pair, for work done a slice at a time in room of a fixed size.
inline std::size_t sliceEnd(std::u16string_view text, std::size_t start, std::size_t length) {
    const std::size_t end = std::min(text.size(), start + length);
    return end < text.size() && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF ? end - 1 : end;
}

}  // namespace ni
