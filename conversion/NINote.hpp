#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileWrapper.hpp"

namespace ni {

class Error;

// The parts of one note file.
struct NINote {
    std::u16string title;  // empty: no title
    std::u16string body;   // paragraph separators as in the file
    std::optional<std::vector<std::u16string>> tagNames;
    std::optional<std::filesystem::path> pictureURL;  // a regular file inside the note's "Pictures"
    std::optional<Date> creationDate;
    std::optional<Date> modificationDate;
};

// Reads the note file at url (a regular file, UTF-8). Nothing, with the error
// set, when it can't be read or isn't UTF-8.
std::optional<NINote> readNoteAtURL(const std::filesystem::path& url, Error* error);

// Splits a note's text into its parts; url is where the note lives (for its
// picture). Never fails.
NINote noteFromText(std::u16string_view text, const std::filesystem::path& url);

// UTF-8 bytes to UTF-16; nothing, with badOffset set to the first bad byte, when invalid.
std::optional<std::u16string> utf16FromUTF8(std::string_view bytes, std::size_t* badOffset = nullptr);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUTF16(std::u16string_view text);

// The same, keeping only the characters for which keep(c) holds.
template <typename Keep>
std::string utf8FromUTF16(std::u16string_view text, Keep keep) {
    std::string bytes(text.size() * 3, '\0');  // a unit never takes more than three bytes
    char* out = bytes.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c < 0x80) {
            if (keep(c)) *out++ = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (!keep(c)) continue;
            c = 0xFFFD;
        }
        if (!keep(c)) continue;
        if (c < 0x800) {
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
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}
// The longest leading part of bytes that has at most limit bytes and doesn't
// end inside a UTF-8 sequence; bytes itself when short enough.
std::string_view utf8Prefix(std::string_view bytes, std::size_t limit);

}  // namespace ni
