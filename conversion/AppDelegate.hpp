#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/NIDragViewDelegate.hpp"
#include "conversion/Notice.hpp"

namespace ni {

class Error;
class UserInterface;

inline constexpr std::string_view kExportFolderName = "Notara Export";
inline constexpr std::string_view kLabelIdle = "DRAG NOTARA FOLDER HERE";
inline constexpr std::string_view kLabelExportPending = "IMPORT SUCCESSFUL";

// What the last conversion found, for summaries.
struct ConversionSummary {
    std::size_t notes = 0;
    std::size_t pictures = 0;
    std::size_t subFolders = 0;
    std::size_t skippedLinks = 0;

    std::filesystem::path source;     // the export folder
    std::string dateLocale;           // the ICU locale dates were read in
    std::vector<Notice> notices;      // in the order of the walk
    std::vector<SheetRecord> sheets;  // in the order of the walk; kept only when asked for
};

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

    // Converts every note of folderURL into "Notara Export" in a new unique
    // temporary folder and makes it the pending export. False with the error set
    // on failure (the temporary folder is removed again); false with the error
    // untouched after the "No files found" alert.
    bool convertFolderAtURL(const std::filesystem::path& folderURL, Error* error);
    const ConversionSummary& lastConversionSummary() const noexcept { return summary_; }
    // Whether conversions keep a record of every sheet in their summary, for reports.
    void setRecordsSheets(bool records) noexcept { recordsSheets_ = records; }

    // Removes a pending export (and its emptied temporary folder) at quit.
    void applicationWillTerminate();

private:
    UserInterface* userInterface_;
    std::optional<std::filesystem::path> exportURL_;
    ConversionSummary summary_;
    bool recordsSheets_ = true;
};

}  // namespace ni
