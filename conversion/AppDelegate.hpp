#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/ConversionSummary.hpp"
#include "conversion/FolderConversion.hpp"
#include "conversion/NIDragViewDelegate.hpp"

namespace ni {

class Error;
class UserInterface;

inline constexpr std::string_view kExportFolderName = "Notara Export";
inline constexpr std::string_view kLabelIdle = "DRAG NOTARA FOLDER HERE";
inline constexpr std::string_view kLabelExportPending = "IMPORT SUCCESSFUL";

// Cancelled: the user or a signal stopped it; nothing of it is left and nothing is shown.
enum class ConversionOutcome { Converted, NothingToConvert, Failed, Cancelled };

// Whether "Notara Export" of exportFolder can go into folder: an existing folder
// that may be written into and doesn't hold one yet, or a missing one whose
// nearest existing parent may be written into (it is made then); never the
// export folder or a folder inside it (InsideExport), which is only ever read.
// False, with the error naming the folder, otherwise. Checked before any note
// is read; the move checks again.
bool checkExportDestination(const std::filesystem::path& folder, const std::filesystem::path& exportFolder,
                            Error* error);
// Whether a report of exportFolder can be written to reportURL: never inside
// the export folder (InsideExport), links followed, and into a folder that
// exists and may be written into. Checked before any note is read, so that a
// bad report path can't fail a run after its export was moved.
bool checkReportDestination(const std::filesystem::path& reportURL, const std::filesystem::path& exportFolder,
                            Error* error);

// The application controller: runs a conversion for a dropped or chosen folder,
// keeps the resulting export folder until it is moved, and removes it at quit.
// It reaches the window only through UserInterface, so both front ends use it.
class AppDelegate : public NIDragViewDelegate {
public:
    explicit AppDelegate(UserInterface* userInterface);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The export folder waiting to be moved; nothing when none is pending.
    const std::optional<std::filesystem::path>& exportURL() const noexcept { return exportURL_; }
    // Records the pending export and sets the status label to match. A pending
    // export that a new one replaces is removed: it could no longer be saved.
    void setExportURL(std::optional<std::filesystem::path> url);

    // User commands.
    void openFolder();
    void saveFiles();

    void dragViewDidReceiveURL(const std::filesystem::path& url) override;
    ConversionOutcome runFolderConversionAtURL(const std::filesystem::path& url);

    // The controller's operations, the same for the window and the command line.

    // Converts every note of folderURL into "Notara Export" in a new unique
    // temporary folder and makes it the pending export. False with the error set
    // on failure (the temporary folder is removed again); false with the error
    // untouched after the "No files found" alert.
    bool convertFolderAtURL(const std::filesystem::path& folderURL, Error* error);
    // Reads and checks every note of folderURL as a conversion would, and writes
    // nothing: what a dry run shows. Nothing, with the error set, on failure.
    std::optional<FolderScan> scanFolderForDryRun(const std::filesystem::path& folderURL, Error* error);
    // Moves the pending export into folder (made, with its parents, when missing)
    // after checkExportDestination; it is no longer pending then. Where it went,
    // or nothing with the error set, the export still pending. Onto a disk that
    // refuses some names, an export converted without portable names gets them
    // first, each change a notice in the summary. A copy to another file system
    // tells the front end its progress and stops when cancelled.
    std::optional<std::filesystem::path> moveExportToFolder(const std::filesystem::path& folder,
                                                            Error* error);
    // Removes the pending export, and its emptied temporary folder.
    void discardExport();

    const ConversionSummary& lastConversionSummary() const noexcept { return summary_; }
    // How conversions run: the date locale and whether summaries keep a record
    // of every sheet, for reports (the window keeps them: it can save a report).
    const ConversionOptions& conversionOptions() const noexcept { return options_; }
    void setConversionOptions(ConversionOptions options) { options_ = std::move(options); }

    // Removes a pending export (and its emptied temporary folder) at quit,
    // without touching the window, which may be gone.
    void applicationWillTerminate();

private:
    // After a note stopped a conversion, lets a window's user convert the others
    // without it, or read notes that aren't UTF-8 as Windows-1252; the outcome of
    // what was chosen, or nothing when there was nothing to offer.
    std::optional<ConversionOutcome> offerToGoOn(const std::filesystem::path& url, const Error& error);

    UserInterface* userInterface_;
    std::optional<std::filesystem::path> exportURL_;
    bool exportHasPortableNames_ = false;
    ConversionSummary summary_;
    ConversionOptions options_;
};

}  // namespace ni
