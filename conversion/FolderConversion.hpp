#pragma once

// The conversion of an export folder, in stages: walk the folder, plan every
// sheet from a first reading of its note, write the sheets from a second
// reading, and rename the finished folder into place.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "conversion/ConversionSummary.hpp"
#include "conversion/Notice.hpp"
#include "conversion/UserInterface.hpp"
#include "platform/Error.hpp"
#include "platform/FileWrapper.hpp"

namespace ni {

class ArchiveIndex;
class EntryTree;
class Error;
struct SheetTemplate;

// How much of the notes' bytes a run keeps from the first reading for the
// writing: a fixed amount, so that memory doesn't grow with the export.
inline constexpr std::size_t kKeptNoteBytes = std::size_t{32} << 20;

// How a conversion runs.
struct ConversionOptions {
    std::optional<std::string> dateLocale;       // an ICU locale; nothing: LC_ALL, LC_TIME, LANG
    bool recordSheets = false;                   // a SheetRecord per sheet in the summary, for reports
    std::size_t keptNoteBytes = kKeptNoteBytes;  // 0: keep none (a dry run writes nothing)
    UserInterface* progress = nullptr;           // told how far the run is; may be null
    bool keepGoing = false;                      // a note that can't be read is left out, with a notice
    std::string fallbackEncoding;                // an ICU converter for notes that aren't UTF-8
    bool portableNames = false;                  // names every disk takes (FAT, exFAT, NTFS, SMB)
};

// One sheet to write: where its note is, the package's name, and what the
// first reading settled that the second can't change.
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
    std::size_t tags = 0;
    // What the first reading found worth a notice; only for notes that give
    // one, and gone once told, so that memory stays with the names.
    std::unique_ptr<NoteFacts> facts;
    // Why the note was left out, when the run keeps going past notes that can't be read.
    std::unique_ptr<Error> leftOut;
    // The note's bytes as the first reading found them, kept while a fixed
    // budget for the run lasts, so that writing needn't read them again.
    std::unique_ptr<const std::string> noteBytes;
};

// What the first pass keeps of an export: the names and settled facts of
// every sheet, never whole sheets, so memory grows with the names alone.
struct FolderScan {
    std::filesystem::path folderURL;              // an export folder, or a zipped one
    std::shared_ptr<const ArchiveIndex> archive;  // a zipped export's entries
    // Where the export's folders and files are: the file system, or the archive's entries.
    const EntryTree& tree() const;
    std::vector<std::string> groups;   // the sub-folders' own names, in name order
    std::vector<std::string> exportGroups;  // their folders' names in the export (made portable, numbered)
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
    // base and then base/group for every group, in the order of PlannedSheet::folder:
    // the groups' own names, or with inExport their names in the export.
    std::vector<std::filesystem::path> folders(const std::filesystem::path& base,
                                               bool inExport = false) const {
        std::vector<std::filesystem::path> paths{base};
        for (const std::string& group : inExport ? exportGroups : groups) paths.push_back(base / group);
        return paths;
    }
};

// Walks the folder (or the zipped folder: a file named *.zip) and its sub-folders, reads and checks every
// note and names their packages (colliding names made unique), and notes in the summary what was left out or
// changed. Nothing, with the error set, when a folder can't be listed, a note can't be read or the sheet
// template is missing.
std::optional<FolderScan> scanFolderAtURL(const std::filesystem::path& folderURL,
                                          const ConversionOptions& options, Error* error);

// The alert for a folder that holds nothing to convert, naming the folder.
Alert noFilesFoundAlert(const std::filesystem::path& folderURL);

// Writes the scan's sheets into exportURL (which must not exist yet), reading
// each note again. The folder appears under its name only once whole. False,
// with the error set, at the first failure; what was written is removed again.
// What only writing finds (a date the file system can't hold) joins the scan's notices.
bool writeFolderScan(FolderScan& scan, const std::filesystem::path& exportURL,
                     const ConversionOptions& options, Error* error);

}  // namespace ni
