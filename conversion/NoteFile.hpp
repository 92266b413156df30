#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/DateReading.hpp"
#include "platform/FileWrapper.hpp"
#include "platform/FolderListing.hpp"

namespace ni {

class Error;

// Why a Picture value gave no picture.
enum class PictureProblem { None, Empty, Missing, NotRegularFile, SymbolicLink, OutsidePictures, Ambiguous };

// The parts of one note file.
struct NINote {
    std::u16string title;  // empty: no title
    std::u16string body;   // paragraph separators as in the file
    std::optional<std::vector<std::u16string>> tagNames;
    std::optional<std::filesystem::path> pictureURL;  // a regular file inside the note's "Pictures"
    std::optional<Date> creationDate;
    std::optional<Date> modificationDate;

    // What the note asked for and didn't get, for the run's notices.
    PictureProblem pictureProblem = PictureProblem::None;  // set when a Picture value gave no picture
    std::u16string pictureValue;                           // that value
    std::vector<std::string> pictureCandidates;            // Ambiguous: the entries it could mean
    std::optional<std::u16string> unreadCreated;           // a Created value that isn't a date
    std::optional<std::u16string> unreadModified;          // a Modified value that isn't a date
    std::string encoding;  // the encoding the text was read in when it isn't UTF-8 ("UTF-16LE", …)
    std::size_t tagCount() const { return tagNames ? tagNames->size() : 0; }
};

// How much of a note to resolve: everything, or only its text (title, body and
// tags) when its picture and dates were settled by an earlier reading.
enum class NoteParts { All, TextOnly };

// A note file larger than this fails (TooLarge) before it is read.
inline constexpr std::uintmax_t kLargestNote = std::uintmax_t{256} << 20;

// The error for a note file of size bytes, over kLargestNote.
Error tooLargeNoteError(const std::filesystem::path& url, std::uintmax_t size);

// Reads the note file at url (a regular file, UTF-8). Nothing, with the error
// set, when it can't be read or isn't UTF-8.
std::optional<NINote> readNoteAtURL(const std::filesystem::path& url, Error* error,
                                    NoteParts parts = NoteParts::All);
// The same in two steps: the file's bytes, and the note they make (url names
// the file in errors and locates its picture).
std::optional<std::string> readNoteBytes(const std::filesystem::path& url, Error* error);
// How a note's bytes are read.
struct NoteReading {
    NoteParts parts = NoteParts::All;
    std::string dateLocale;        // the ICU locale dates are read in; empty: dateLocaleName()
    std::string fallbackEncoding;  // an ICU converter for notes that aren't UTF-8; empty: none
    const EntryTree* tree = nullptr;  // where pictures are looked up; null: the file system
};
// A note starting with a UTF-16 byte-order mark is read as UTF-16; one that
// isn't valid UTF-8 in the fallback encoding when there is one (note.encoding
// says which), else it fails.
std::optional<NINote> noteFromBytes(std::string_view bytes, const std::filesystem::path& url, Error* error,
                                    const NoteReading& reading = {});
// The standard name of an encoding ICU can read ("windows-1252" of "cp1252");
// nothing when ICU has no converter of that name.
std::optional<std::string> knownEncoding(const std::string& name);

// Splits a note's text into its parts; url is where the note lives in tree
// (for its picture). Never fails.
NINote noteFromText(std::u16string_view text, const std::filesystem::path& url,
                    NoteParts parts = NoteParts::All, const std::string& dateLocale = {},
                    const EntryTree& tree = fileSystemTree());

// Whether a file of this name is a note: a plain-text extension, any letter case.
bool isNoteName(const std::string& name);

}  // namespace ni
