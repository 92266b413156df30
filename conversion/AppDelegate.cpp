#include "conversion/AppDelegate.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <utility>

#include "conversion/FolderConversion.hpp"
#include "conversion/PortableNames.hpp"
#include "conversion/UserInterface.hpp"
#include "platform/Error.hpp"
#include "platform/FileManager.hpp"
#include "platform/FileMove.hpp"
#include "utilities/TemporaryFiles.hpp"

namespace ni {

namespace {

// The unique temporary folder that held an export; rmdir leaves it when anything else is inside.
void removeEmptyParentOf(const std::filesystem::path& exportURL) {
    const std::filesystem::path parent = exportURL.parent_path();
    if (parent.empty()) return;
    ::rmdir(parent.c_str());
    releaseUniqueTemporaryDirectory(parent);
}

void removeExport(const std::filesystem::path& exportURL) {
    removeItemAtURL(exportURL, nullptr);
    removeEmptyParentOf(exportURL);
}

// Whether folder is a folder this user may make items in; the error names `named`.
bool checkFolderTakesItems(const std::filesystem::path& folder, const std::filesystem::path& named,
                           Error* error) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return setError(error, Error(ErrorKind::NotDirectory, named));
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return setError(error, Error(ErrorKind::FolderNotWritable, named, errno));
    return true;
}

}  // namespace

bool checkExportDestination(const std::filesystem::path& folder, const std::filesystem::path& exportFolder,
                            Error* error) {
    if (isInsideFolder(folder, exportFolder))
        return setError(error, Error(ErrorKind::InsideExport, folder, 0, displayPath(exportFolder)));
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (!checkFolderTakesItems(folder, folder, error)) return false;
        const std::filesystem::path target = folder / kExportFolderName;
        if (::lstat(target.c_str(), &st) == 0)
            return setError(error, Error(ErrorKind::AlreadyExists, target, EEXIST));
        return true;
    }
    if (errno == ENOTDIR) return setError(error, Error(ErrorKind::NotDirectory, folder));
    if (errno != ENOENT) return setError(error, Error(ErrorKind::FolderNotWritable, folder, errno));
    // Missing: made with its parents, inside the nearest folder that exists.
    std::filesystem::path ancestor = folder.lexically_normal();
    for (;;) {
        const std::filesystem::path parent = ancestor.parent_path();
        ancestor = parent.empty() ? std::filesystem::path(".") : parent;
        if (::stat(ancestor.c_str(), &st) == 0 || errno != ENOENT || ancestor == "." ||
            ancestor == ancestor.root_path())
            break;
    }
    return checkFolderTakesItems(ancestor, folder, error);
}

bool checkReportDestination(const std::filesystem::path& reportURL, const std::filesystem::path& exportFolder,
                            Error* error) {
    if (isInsideFolder(reportURL, exportFolder))
        return setError(error, Error(ErrorKind::InsideExport, reportURL, 0, displayPath(exportFolder)));
    const std::filesystem::path folder = resolvedLocation(reportURL).value_or(reportURL).parent_path();
    if (struct stat st{}; ::stat(folder.c_str(), &st) != 0) {
        const int saved = errno;
        return setError(error, Error(saved == ENOENT ? ErrorKind::FileNotFound : ErrorKind::FolderNotWritable,
                                     folder, saved));
    }
    return checkFolderTakesItems(folder, folder, error);
}

AppDelegate::AppDelegate(UserInterface* userInterface) : userInterface_(userInterface) {
    options_.recordSheets = true;  // the window can save a report of any conversion
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::setExportURL(std::optional<std::filesystem::path> url) {
    if (url && exportURL_ && *url != *exportURL_) removeExport(*exportURL_);
    exportURL_ = std::move(url);
    if (userInterface_ == nullptr) return;
    userInterface_->setStatusText(std::string(exportURL_ ? kLabelExportPending : kLabelIdle));
    userInterface_->pendingExportChanged(exportURL_.has_value());
}

void AppDelegate::openFolder() {
    if (userInterface_ == nullptr) return;
    const PanelPresentation presentation = userInterface_->hasWindow() ? PanelPresentation::WindowModalSheet
                                                                       : PanelPresentation::ApplicationModal;
    userInterface_->chooseFolder(presentation, [this](std::optional<std::filesystem::path> folder) {
        if (folder) runFolderConversionAtURL(*folder);
    });
}

void AppDelegate::saveFiles() {
    // The command is disabled without a pending export; a stray call changes nothing.
    if (userInterface_ == nullptr || !exportURL_) return;
    const PanelPresentation presentation = userInterface_->hasWindow() ? PanelPresentation::WindowModalSheet
                                                                       : PanelPresentation::ApplicationModal;
    userInterface_->chooseFolder(presentation, [this](std::optional<std::filesystem::path> folder) {
        if (!folder || !exportURL_) return;
        Error error;
        const auto moved = moveExportToFolder(*folder, &error);
        // Failed, the export stays pending, so another folder can be tried.
        if (!moved && error.kind() != ErrorKind::Cancelled) userInterface_->presentError(error);
        if (moved) userInterface_->revealInFileViewer(*moved);
    });
}

bool AppDelegate::convertFolderAtURL(const std::filesystem::path& folderURL, Error* error) {
    ConversionOptions options = options_;
    options.progress = userInterface_;
    auto scan = scanFolderAtURL(folderURL, options, error);
    if (!scan) return false;
    if (scan->empty()) {
        if (userInterface_ != nullptr) userInterface_->runAlert(noFilesFoundAlert(folderURL));
        return false;
    }
    std::optional<RefusedContainer> planted;
    const auto temporaryDirectory = createUniqueTemporaryDirectory(std::nullopt, &planted, error);
    if (!temporaryDirectory) return false;
    if (planted) scan->summary.notices.push_back(temporaryAreaNotice(planted->url, planted->reason));
    const std::filesystem::path exportURL = *temporaryDirectory / kExportFolderName;
    if (!writeFolderScan(*scan, exportURL, options, error)) {
        // A failed run leaves nothing behind in the temporary area.
        removeUniqueTemporaryDirectory(*temporaryDirectory, nullptr);
        return false;
    }
    summary_ = std::move(scan->summary);
    exportHasPortableNames_ = options.portableNames;
    setExportURL(exportURL);
    return true;
}

std::optional<FolderScan> AppDelegate::scanFolderForDryRun(const std::filesystem::path& folderURL,
                                                           Error* error) {
    ConversionOptions options = options_;
    options.progress = userInterface_;
    options.keptNoteBytes = 0;  // nothing is written, so no note's bytes are kept for the writing
    return scanFolderAtURL(folderURL, options, error);
}

std::optional<std::filesystem::path> AppDelegate::moveExportToFolder(const std::filesystem::path& folder,
                                                                     Error* error) {
    if (!exportURL_) return std::nullopt;
    const std::filesystem::path source = *exportURL_;
    const std::filesystem::path destination = folder / source.filename();
    if (!checkExportDestination(folder, summary_.source, error) || !createDirectoryAtURL(folder, error))
        return std::nullopt;
    // The window converts before it knows the disk: names such a disk refuses change here, as a
    // conversion for it would have changed them.
    if (!exportHasPortableNames_ && refusesSomeNames(folder)) {
        const bool renamed = makeExportNamesPortable(source, summary_, error);
        exportHasPortableNames_ = renamed;
        if (userInterface_ != nullptr) userInterface_->pendingExportChanged(true);  // with its new notices
        if (!renamed) return std::nullopt;
    }
    const MoveObserver observer{".inkvale", [this](const MoveProgress& progress) {
                                    if (userInterface_ != nullptr) userInterface_->moveProgress(progress);
                                }};
    if (!moveItemAtURL(source, destination, error, &observer)) return std::nullopt;
    removeEmptyParentOf(source);
    setExportURL(std::nullopt);
    return destination;
}

void AppDelegate::discardExport() {
    if (!exportURL_) return;
    removeExport(*exportURL_);
    setExportURL(std::nullopt);
}

void AppDelegate::dragViewDidReceiveURL(const std::filesystem::path& url) { runFolderConversionAtURL(url); }

ConversionOutcome AppDelegate::runFolderConversionAtURL(const std::filesystem::path& url) {
    Error error;
    bool converted = false;
    // The front ends' boundary: memory running out anywhere else in a run is
    // an error naming the export, not an aborted program.
    try {
        converted = convertFolderAtURL(url, &error);
    } catch (const std::bad_alloc&) {
        error = Error(ErrorKind::OutOfMemory, url);
    }
    if (converted) return ConversionOutcome::Converted;
    if (!error) return ConversionOutcome::NothingToConvert;  // the conversion showed its own alert
    if (error.kind() == ErrorKind::Cancelled) return ConversionOutcome::Cancelled;
    if (const auto retried = offerToGoOn(url, error)) return *retried;
    if (userInterface_ != nullptr) userInterface_->presentError(error);
    return ConversionOutcome::Failed;
}

std::optional<ConversionOutcome> AppDelegate::offerToGoOn(const std::filesystem::path& url,
                                                          const Error& error) {
    // Only a note that couldn't be read, and only in a window: the command line has its options.
    const ErrorKind kind = error.kind();
    const bool noteProblem = kind == ErrorKind::InvalidUTF8 || kind == ErrorKind::ReadFailed ||
                             kind == ErrorKind::TooLarge || kind == ErrorKind::NotRegularFile;
    if (userInterface_ == nullptr || !userInterface_->hasWindow() || !noteProblem || options_.keepGoing)
        return std::nullopt;
    // Most notes that aren't UTF-8 come from Windows: offered as one button, not a list of encodings.
    const bool windows1252 = kind == ErrorKind::InvalidUTF8 && options_.fallbackEncoding.empty();
    Alert alert{
        error.message(), "The other notes can be converted without this one.", {"OK", "Convert the Others"}};
    if (windows1252) {
        alert.informativeText =
            "The other notes can be converted without this one, or notes that aren’t UTF-8 "
            "read as Windows-1252.";
        alert.buttons.push_back("Read as Windows-1252");
    }
    const int choice = userInterface_->runAlert(alert);
    if (choice != 1 && !(choice == 2 && windows1252)) return ConversionOutcome::Failed;
    const ConversionOptions asBefore = options_;
    if (choice == 1) options_.keepGoing = true;
    if (choice == 2) options_.fallbackEncoding = "windows-1252";
    const ConversionOutcome outcome = runFolderConversionAtURL(url);  // another bad note asks again
    options_ = asBefore;
    return outcome;
}

void AppDelegate::applicationWillTerminate() {
    if (!exportURL_) return;
    const std::filesystem::path url = std::move(*exportURL_);
    // The window may be gone by now: forget the export without touching the label.
    exportURL_.reset();
    removeExport(url);
}

}  // namespace ni
