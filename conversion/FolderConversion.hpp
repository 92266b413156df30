#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "conversion/AppDelegate.hpp"
#include "conversion/UserInterface.hpp"
#include "platform/FileWrapper.hpp"

namespace ni {

class Error;
struct SheetTemplate;

// One sheet to write, settled by reading its note: where the note is, the
// package's name, and what the second reading can't change.
struct PlannedSheet {
    std::uint32_t folder = 0;  // 0: the export folder itself; g + 1: group folder g
    std::string noteName;      // the note's file name in its folder
    std::string packageName;   // unique in the folder it is written to
    std::optional<Date> creationDate;
    std::optional<Date> modificationDate;
    // A note with a picture: its path below the note's folder, and its media name
    // ("photo.<identifier>.jpg", the identifier being the one in Content.xml).
    std::string picturePath;
    std::string mediaName;
    std::string pictureIdentifier;
    // The note's bytes as the first reading found them, kept while a fixed
    // budget for the run lasts, so that writing needn't read them again.
    std::unique_ptr<const std::string> noteBytes;
};

// What the first pass keeps of an export: the names and settled facts of
// every sheet, never whole sheets, so memory grows with the names alone.
struct FolderScan {
    std::filesystem::path folderURL;
    std::vector<std::string> groups;   // the sub-folders' own names, in name order
    std::vector<PlannedSheet> sheets;  // in the order of the walk
    std::shared_ptr<const SheetTemplate> sheetTemplate;
    ConversionSummary summary;

    bool empty() const noexcept { return groups.empty() && sheets.empty(); }
    // The source folder of a sheet's note.
    std::filesystem::path noteFolder(const PlannedSheet& sheet) const {
        return sheet.folder == 0 ? folderURL : folderURL / groups[sheet.folder - 1];
    }
    // The note's path from the export folder ("Group/Note.txt"), for notices and reports.
    std::string notePath(const PlannedSheet& sheet) const {
        return sheet.folder == 0 ? sheet.noteName : groups[sheet.folder - 1] + "/" + sheet.noteName;
    }
    // base and then base/group for every group, in the order of PlannedSheet::folder.
    std::vector<std::filesystem::path> folders(const std::filesystem::path& base) const {
        std::vector<std::filesystem::path> paths{base};
        for (const std::string& group : groups) paths.push_back(base / group);
        return paths;
    }
};

// Reads and checks every note of the folder and of its sub-folders and names
// their packages (colliding names made unique), and notes in the summary what
// was left out or changed (and, with recordSheets, a record of every sheet).
// Nothing, with the error set, when a folder can't be listed, a note can't be
// read or the sheet template is missing. progress may be null.
// keptNoteBytes bounds the notes' bytes the scan keeps for the writing (a
// fixed amount, so that memory doesn't grow with the export).
inline constexpr std::size_t kKeptNoteBytes = std::size_t{32} << 20;
std::optional<FolderScan> scanFolderAtURL(const std::filesystem::path& folderURL, Error* error,
                                          UserInterface* progress = nullptr, bool recordSheets = false,
                                          std::size_t keptNoteBytes = kKeptNoteBytes);

// Whether a file of this name is a note: a plain-text extension, any letter case.
bool isNoteName(const std::string& name);

// The alert for a folder that holds nothing to convert, naming the folder.
Alert noFilesFoundAlert(const std::filesystem::path& folderURL);

// Writes the scan's sheets into exportURL (which must not exist yet), reading
// each note again. The folder appears under its name only once whole. False,
// with the error set, at the first failure; what was written is removed again.
// notices, when not null, gets what only writing finds (a date the file system can't hold).
bool writeFolderScan(const FolderScan& scan, const std::filesystem::path& exportURL, Error* error,
                     UserInterface* progress = nullptr, std::vector<Notice>* notices = nullptr);

}  // namespace ni
