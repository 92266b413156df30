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
// The longest leading part of bytes that has at most limit bytes and doesn't
// end inside a UTF-8 sequence; bytes itself when short enough.
std::string_view utf8Prefix(std::string_view bytes, std::size_t limit);

}  // namespace ni
