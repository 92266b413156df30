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

// How much of a note to resolve: everything, or only its text (title, body and
// tags) when its picture and dates were settled by an earlier reading.
enum class NoteParts { All, TextOnly };

// Reads the note file at url (a regular file, UTF-8). Nothing, with the error
// set, when it can't be read or isn't UTF-8.
std::optional<NINote> readNoteAtURL(const std::filesystem::path& url, Error* error,
                                    NoteParts parts = NoteParts::All);

// The date a note's Created or Modified value denotes (the user's locale,
// medium date and short time, in the user's time zone); nothing when it doesn't parse.
std::optional<Date> dateFromString(std::u16string_view string);

// Splits a note's text into its parts; url is where the note lives (for its
// picture). Never fails.
NINote noteFromText(std::u16string_view text, const std::filesystem::path& url,
                    NoteParts parts = NoteParts::All);

}  // namespace ni
