#include "platform/UTF8.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ni {

namespace {

// Notes are mostly ASCII: eight bytes at a time while they are.
bool asciiBytes(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080u) == 0;
}

void widenASCII(const char* from, char16_t* to) {
    using Bytes8 = unsigned char __attribute__((vector_size(8)));
    Bytes8 bytes;
    std::memcpy(&bytes, from, sizeof bytes);
    const Units8 units = __builtin_convertvector(bytes, Units8);
    std::memcpy(to, &units, sizeof units);
}

}  // namespace

std::optional<std::u16string> utf16FromUTF8(std::string_view bytes, std::size_t* badOffset) {
    std::u16string text(bytes.size(), u'\0');  // never more units than bytes
    char16_t* out = text.data();
    for (std::size_t i = 0; i < bytes.size();) {
        for (; i + 8 <= bytes.size() && asciiBytes(bytes.data() + i); i += 8, out += 8)
            widenASCII(bytes.data() + i, out);
        if (i == bytes.size()) break;
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            *out++ = static_cast<unsigned char>(bytes[i++]);
            continue;
        }
        char32_t value = 0;
        const std::size_t length = decodeUTF8(bytes, i, value);
        if (length == 0) {
            if (badOffset != nullptr) *badOffset = i;
            return std::nullopt;
        }
        if (value >= 0x10000) {
            value -= 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (value >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            *out++ = static_cast<char16_t>(value);
        }
        i += length;
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

std::string utf8FromUTF16(std::u16string_view text) {
    // Encoded a slice at a time into room on the stack (a unit takes at most
    // three bytes), so that no room is cleared only to be written over.
    constexpr std::size_t kSlice = 1024;
    char room[kSlice * 3];
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = sliceEnd(text, start, kSlice);
        char* out = room;
        for (std::size_t i = start; i < end; ++i) {
            for (; i + 8 <= end && !anyLane(loadUnits(text.data() + i) >= unit(0x80)); i += 8, out += 8)
                narrowASCII(text.data() + i, out);
            if (i == end) break;
            const char32_t c = codePointAt(text, i, end);
            out = writeUTF8(c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c, out);
        }
        bytes.append(room, static_cast<std::size_t>(out - room));
        start = end;
    }
    return bytes;
}

std::string_view utf8Prefix(std::string_view bytes, std::size_t limit) {
    if (bytes.size() <= limit) return bytes;
    // Back over at most three continuation bytes: a longer run isn't one character anyway.
    std::size_t end = limit;
    for (int steps = 0; steps < 3 && end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80;
         ++steps)
        --end;
    return bytes.substr(0, end);
}

std::u16string lossyUTF16(std::string_view bytes) {
    std::u16string text;
    while (!bytes.empty()) {
        std::size_t bad = 0;
        if (auto whole = utf16FromUTF8(bytes, &bad)) return text + *whole;
        text += *utf16FromUTF8(bytes.substr(0, bad));
        text += u'\uFFFD';
        bytes.remove_prefix(bad + 1);
    }
    return text;
}

}  // namespace ni
