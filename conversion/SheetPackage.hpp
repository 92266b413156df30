#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileDescriptor.hpp"
#include "platform/FileWrapper.hpp"

namespace ni {

class Error;
struct NINote;
struct SheetTemplate;

// A note's picture as its sheet holds it: the identifier that the sheet's file
// attachment and the media name share, and the file to copy.
struct SheetPicture {
    std::string identifier;
    std::string mediaName;     // "photo.<identifier>.jpg"
    std::filesystem::path source;  // for messages
    FileDescriptor opened{-1};     // the picture, opened and checked; none: Media is written apart
};

// "photo.<identifier>.jpg" for the picture at picturePath; a picture name near
// the limit gives way in its stem, so the media name can still be written.
std::string mediaNameForPicture(const std::string& picturePath, const std::string& identifier);

// Opens the note's picture beneath the note's "Pictures" folder, following no
// link on the way. Nothing, with the error naming the picture, when it isn't
// there as a regular file any more.
std::optional<SheetPicture> openSheetPicture(const std::filesystem::path& noteURL,
                                             const std::filesystem::path& pictureURL, std::string identifier,
                                             Error* error);

// The package tree for a note read already: Content.xml, Text.txt and, with a
// picture, Media/ holding it. Its dates are the note's; its name is left to the caller.
std::unique_ptr<FileWrapper> sheetForNote(const NINote& note, const SheetTemplate& sheetTemplate,
                                          std::optional<SheetPicture> picture, std::size_t* leftOut = nullptr);

// The sheet builder. A new package tree for the note file, or nothing with the error set.
std::unique_ptr<FileWrapper> createSheetFromFileAtURL(const std::filesystem::path& url, Error* error);

}  // namespace ni
