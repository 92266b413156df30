#include "conversion/AppDelegate.hpp"

#include <unistd.h>

#include <string>
#include <utility>

#include "platform/Error.hpp"
#include "platform/FileManager.hpp"
#include "conversion/UserInterface.hpp"

namespace ni {

namespace {

// The unique temporary folder that held an export; rmdir leaves it when anything else is inside.
void removeEmptyParentOf(const std::filesystem::path& exportURL) {
    const std::filesystem::path parent = exportURL.parent_path();
    if (!parent.empty()) ::rmdir(parent.c_str());
}

}  // namespace

AppDelegate::AppDelegate(UserInterface* userInterface) : userInterface_(userInterface) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::setExportURL(std::optional<std::filesystem::path> url) {
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
        const std::filesystem::path source = *exportURL_;
        const std::filesystem::path destination = *folder / source.filename();
        Error error;
        if (!moveItemAtURL(source, destination, &error)) {
            // The export stays pending, so another folder can be tried.
            userInterface_->presentError(error);
            return;
        }
        removeEmptyParentOf(source);
        userInterface_->revealInFileViewer(destination);
        setExportURL(std::nullopt);
    });
}

void AppDelegate::dragViewDidReceiveURL(const std::filesystem::path& url) { runFolderConversionAtURL(url); }

ConversionOutcome AppDelegate::runFolderConversionAtURL(const std::filesystem::path& url) {
    Error error;
    if (convertFolderAtURL(url, &error)) return ConversionOutcome::Converted;
    if (!error) return ConversionOutcome::NothingToConvert;  // the conversion showed its own alert
    if (userInterface_ != nullptr) userInterface_->presentError(error);
    return ConversionOutcome::Failed;
}

void AppDelegate::applicationWillTerminate() {
    if (!exportURL_) return;
    const std::filesystem::path url = std::move(*exportURL_);
    // The window may be gone by now: forget the export without touching the label.
    exportURL_.reset();
    removeItemAtURL(url, nullptr);
    removeEmptyParentOf(url);
}

}  // namespace ni
