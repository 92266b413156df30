#pragma once

#include <cstddef>
#include <string_view>

namespace ni {

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

}  // namespace ni
