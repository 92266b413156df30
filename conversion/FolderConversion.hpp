#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "conversion/AppDelegate.hpp"
#include "platform/FileWrapper.hpp"
#include "conversion/UserInterface.hpp"

namespace ni {

class Error;

// One source sub-folder and the sheets built from its notes, in name order.
struct SheetGroup {
    std::string name;  // the sub-folder's own name (file-system bytes)
    std::vector<std::unique_ptr<FileWrapper>> sheets;
};

// Everything phase one builds in memory before anything is written.
struct FolderScan {
    std::vector<SheetGroup> groups;                            // in name order
    std::vector<std::unique_ptr<FileWrapper>> topLevelSheets;  // in name order
    ConversionSummary summary;

    bool empty() const noexcept { return groups.empty() && topLevelSheets.empty(); }
};

// Reads every note of the folder and of its sub-folders into sheet trees,
// with colliding package names made unique, and notes in the summary what was
// left out or changed (and, with recordSheets, a record of every sheet).
// Nothing, with the error set, when a folder can't be listed or a note can't
// be read. progress may be null.
std::optional<FolderScan> scanFolderAtURL(const std::filesystem::path& folderURL, Error* error,
                                          UserInterface* progress = nullptr, bool recordSheets = false);

// Whether a file of this name is a note: a plain-text extension, any letter case.
bool isNoteName(const std::string& name);

// The alert for a folder that holds nothing to convert, naming the folder.
Alert noFilesFoundAlert(const std::filesystem::path& folderURL);

// Writes the scan into exportURL (which must not exist yet). False, with the
// error set, at the first failure.
bool writeFolderScan(const FolderScan& scan, const std::filesystem::path& exportURL, Error* error,
                     UserInterface* progress = nullptr);

}  // namespace ni
