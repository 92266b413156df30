#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "conversion/NIDragViewDelegate.hpp"
#include "conversion/UserInterface.hpp"

class QCloseEvent;
class QMessageBox;
class QProgressDialog;

namespace Ui {
class MainWindow;
}

namespace ni {

class AppDelegate;
class NIDragView;

// The main window: the drop view with the status label and the line under it
// (what is pending, or where it was saved), the File menu, and the window side
// of AppDelegate (alerts, folder panels, progress, revealing). Quitting, closing
// or converting another folder while an export is pending asks first whether
// to save it.
class MainWindow : public QMainWindow, public UserInterface, private NIDragViewDelegate {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Connects the commands, the drop view and the quit clean-up to appDelegate
    // (not owned; it must outlive the event loop).
    void setAppDelegate(AppDelegate* appDelegate);
    // Converts folder (named on the command line) once the event loop runs.
    void convertFolderAtStart(const std::filesystem::path& folder);

    NIDragView* dragView() const;
    // A conversion or move is running; commands and drops are turned away.
    bool isBusy() const { return busy_; }

    bool hasWindow() const override { return true; }
    void setStatusText(const std::string& text) override;
    int runAlert(const Alert& alert) override;
    void presentError(const Error& error) override;
    void chooseFolder(PanelPresentation presentation,
                      std::function<void(std::optional<std::filesystem::path>)> completion) override;
    void revealInFileViewer(const std::filesystem::path& url) override;
    void pendingExportChanged(bool pending) override;
    // Shows the progress, with a Cancel button, once a conversion runs longer than the delay.
    void conversionProgress(ConversionPhase phase, std::size_t done, std::size_t total) override;
    // The same for a move that copies to another disk; a rename within one disk shows none.
    void moveProgress(const MoveProgress& progress) override;
    void setProgressDelay(qint64 milliseconds);
    // The bus the file manager is asked on; the session bus until set.
    void setFileManagerBus(const QDBusConnection& bus) { fileManagerBus_ = bus; }

protected:
    // Recolours the text whenever the drop view beneath it changes palette.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Asks about a pending export first; the end of a session doesn't come here (see Application).
    void closeEvent(QCloseEvent* event) override;

private:
    void dragViewDidReceiveURL(const std::filesystem::path& url) override;
    void showAbout();
    void openFolder();
    // Moves the pending export where the user chooses; afterMove runs only once it is moved.
    void saveSheets(std::function<void()> afterMove = {});
    // Runs proceed at once without a pending export; otherwise asks question with Save Sheets…,
    // Discard and Cancel, and runs it once the export is saved or discarded, never on Cancel.
    void askAboutPendingExport(const QString& question, std::function<void()> proceed);
    // Runs work with input turned away and a progress dialog once it takes a while.
    void runBusy(const std::function<void()>& work);
    // A conversion starts: where the last export was saved is no longer news.
    void runConversion(const std::function<void()>& work);
    void revealSavedExport();
    // The line under the status label: the pending export's sheets and notices, or
    // where the last one went; hidden when there is neither.
    void updateSummaryLine();
    // Gives the status label and the line colours that read on what the drop view paints beneath them.
    void updateTextColours();
    void showNoticesDialog();
    // Whether the progress dialog is to be brought up to date now: it is made, titled title, once
    // the work has run longer than the delay, and updated at most every interval.
    bool progressDue(const QString& title);
    void showProgress(const QString& text, std::uintmax_t done, std::uintmax_t total);

    std::unique_ptr<Ui::MainWindow> ui_;
    AppDelegate* appDelegate_ = nullptr;
    bool busy_ = false;
    QElapsedTimer busyTimer_;
    QPointer<QProgressDialog> progress_;
    qint64 progressDelay_;
    qint64 lastProgressUpdate_ = 0;
    QPointer<QMessageBox> question_;
    // The next folder panel is the save panel; what waits for its move.
    bool choosingSaveFolder_ = false;
    std::function<void()> afterMove_;
    // Where the save panel starts: the folder last saved to in this run.
    std::optional<std::filesystem::path> lastSaveFolder_;
    // The export saved since the last conversion, its sheets, and whether a file manager showed it.
    std::optional<std::filesystem::path> savedExport_;
    std::size_t savedSheets_ = 0;
    bool savedExportShown_ = true;
    // The line reports something that needs a look: it is amber then.
    bool summaryWarns_ = false;
    std::optional<QDBusConnection> fileManagerBus_;
};

}  // namespace ni
