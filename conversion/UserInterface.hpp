#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileMove.hpp"

namespace ni {

class Error;

// A message of the program's own, shown modally with its buttons.
struct Alert {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
};

enum class PanelPresentation { WindowModalSheet, ApplicationModal };
enum class ConversionPhase { ReadingNotes, WritingPackages };

// What the controller and the conversion need of a front end: alerts, errors
// and progress, and in a window its status label, the folder panel and the
// file viewer. The desktop window, the command line and the tests each supply one.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    // Runs until dismissed; returns the index of the button pressed.
    virtual int runAlert(const Alert& alert) = 0;
    virtual void presentError(const Error& error) = 0;

    // The window's side; a front end without one (the command line) leaves them be.
    // The window exists (the folder panel can be a sheet on it).
    virtual bool hasWindow() const { return false; }
    virtual void setStatusText(const std::string& text) { (void)text; }
    // Lets the user pick a folder; the completion gets it, or nothing on cancel.
    virtual void chooseFolder(PanelPresentation presentation,
                              std::function<void(std::optional<std::filesystem::path>)> completion) {
        (void)presentation;
        completion(std::nullopt);
    }
    virtual void revealInFileViewer(const std::filesystem::path& url) { (void)url; }
    // An export is waiting to be moved (the second command is available).
    virtual void pendingExportChanged(bool pending) { (void)pending; }
    // Progress of a running conversion; done of total in the phase.
    virtual void conversionProgress(ConversionPhase phase, std::size_t done, std::size_t total) {
        (void)phase, (void)done, (void)total;
    }
    // Progress of a move that copies the export to another file system: bytes
    // and sheets (units) copied of the totals. A front end's Cancel calls
    // requestCancellation(), as during a conversion: the copy stops and is removed.
    virtual void moveProgress(const MoveProgress& progress) { (void)progress; }
};

}  // namespace ni
