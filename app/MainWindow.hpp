#pragma once

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

class QLabel;
class QProgressDialog;
class QPushButton;

namespace Ui {
class MainWindow;
}

namespace ni {

class AppDelegate;
class NIDragView;

// The main window: the drop view with the status label, the File menu, and
// the window side of AppDelegate (alerts, folder panels, progress, revealing).
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
    void setProgressDelay(qint64 milliseconds);

protected:
    // Recolours the notices line whenever the drop view beneath it changes palette.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void dragViewDidReceiveURL(const std::filesystem::path& url) override;
    void showAbout();
    // Runs work with input turned away and a progress dialog once it takes a while.
    void runBusy(const std::function<void()>& work);
    // Shows the line under the status label when the pending export's conversion
    // left anything out or changed it; hides it otherwise.
    void updateNoticesLine(bool pending);
    // Gives the notices line the amber that reads best on what the drop view paints beneath it.
    void updateNoticesColour();
    void showNoticesDialog();

    std::unique_ptr<Ui::MainWindow> ui_;
    AppDelegate* appDelegate_ = nullptr;
    bool busy_ = false;
    QElapsedTimer busyTimer_;
    QPointer<QProgressDialog> progress_;
    qint64 progressDelay_;
    qint64 lastProgressUpdate_ = 0;
    QWidget* noticesLine_ = nullptr;
    QLabel* noticesLabel_ = nullptr;
    QPushButton* detailsButton_ = nullptr;
};

}  // namespace ni
