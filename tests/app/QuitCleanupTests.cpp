#include <signal.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <thread>

#include "NIConfig.hpp"
#include "TestSupport.hpp"
#include "app/MainWindow.hpp"
#include "app/NIDragView.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/Cancellation.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

using QuitCleanupTest = test::ProcessTest;

// The program (with TMPDIR in the scratch folder) started on a folder, then told to stop the way a logout or
// Ctrl+C would.
TEST_F(QuitCleanupTest, TerminationSignalsRemoveThePendingExport) {
    const fs::path notes = root() / "Notes";
    test::writeFile(notes / "Groceries.txt", "Groceries\n\nMilk.\n");
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        QProcess program;
        program.start(QStringLiteral(NI_APP_EXECUTABLE), {QString::fromStdString(notes.string())});
        ASSERT_TRUE(program.waitForStarted());

        // tmp/<application>/<unique>/Notara Export
        fs::path exportFolder;
        for (int wait = 0; wait < 600 && exportFolder.empty(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::error_code error;
            for (const auto& unique : fs::directory_iterator(temporaryContainer(), error))
                if (fs::is_directory(unique.path() / "Notara Export"))
                    exportFolder = unique.path() / "Notara Export";
        }
        ASSERT_FALSE(exportFolder.empty()) << program.readAllStandardError().toStdString();

        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished());
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_EQ(leftInTemporaryArea(), test::Names{});
        EXPECT_TRUE(fs::exists(notes / "Groceries.txt"));
    }
}

// The export folder of the first unique folder in the temporary area; empty while there is none.
fs::path pendingExportIn(const fs::path& container) {
    std::error_code error;
    for (const auto& unique : fs::directory_iterator(container, error))
        if (fs::is_directory(unique.path() / "Notara Export")) return unique.path() / "Notara Export";
    return {};
}

// Started as under nohup, the window keeps ignoring SIGHUP (and still quits cleanly on SIGTERM).
TEST_F(QuitCleanupTest, AHangupIgnoredAtStartStaysIgnored) {
    const fs::path notes = root() / "Notes";
    test::writeFile(notes / "Groceries.txt", "Groceries\n\nMilk.\n");
    QProcess program;
    program.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), QStringLiteral("trap '' HUP; exec \"$0\" \"$1\""),
                   QStringLiteral(NI_APP_EXECUTABLE), QString::fromStdString(notes.string())});
    ASSERT_TRUE(program.waitForStarted());
    fs::path exportFolder;
    for (int wait = 0; wait < 600 && exportFolder.empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        exportFolder = pendingExportIn(tmp() / config::kAppId);
    }
    ASSERT_FALSE(exportFolder.empty()) << program.readAllStandardError().toStdString();
    std::ifstream status("/proc/" + std::to_string(program.processId()) + "/status");
    unsigned long long ignored = 0;
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigIgn:")) ignored = std::stoull(line.substr(7), nullptr, 16);
    EXPECT_TRUE(ignored & (1ull << (SIGHUP - 1))) << std::hex << ignored;
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished());
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_FALSE(fs::exists(exportFolder.parent_path()));
}

// Cancel in the progress dialog stops the conversion, removes what it wrote and
// leaves the window as it was: the earlier export pending, the label unchanged.
TEST_F(QuitCleanupTest, CancelInTheProgressDialogLeavesTheWindowAsItWas) {
    const fs::path small = root() / "Small", big = root() / "Big";
    test::writeFile(small / "One.txt", "One\n");
    for (int i = 0; i < 3000; ++i)
        test::writeFile(big / ("Note " + std::to_string(i) + ".txt"), "Note\nText.\n");

    MainWindow window;
    AppDelegate appDelegate(&window);
    window.setAppDelegate(&appDelegate);
    const auto convert = [&](const fs::path& folder) {
        // The conversion runs inside the event loop pass that delivers the drop.
        window.dragView()->delegate()->dragViewDidReceiveURL(folder);
        QCoreApplication::processEvents();
    };
    convert(small);
    const auto pending = appDelegate.exportURL();
    ASSERT_TRUE(pending);
    const QString label = window.findChild<QLabel*>(QStringLiteral("statusLabel"))->text();

    // Clicks Cancel once the dialog is up; an error box would be a fault, and is closed.
    bool clicked = false, errorShown = false;
    std::function<void()> clickCancel = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            errorShown = true;
            box->close();
        }
        if (auto* dialog = window.findChild<QProgressDialog*>(); dialog != nullptr && !clicked) {
            for (auto* button : dialog->findChildren<QPushButton*>()) button->click();
            clicked = true;
        }
        if (!clicked && window.isBusy()) QTimer::singleShot(0, &window, clickCancel);
    };
    window.setProgressDelay(0);
    window.dragView()->delegate()->dragViewDidReceiveURL(big);
    QTimer::singleShot(0, &window, clickCancel);  // runs once the conversion shows its progress
    QCoreApplication::processEvents();

    EXPECT_TRUE(clicked);
    EXPECT_FALSE(errorShown);
    EXPECT_EQ(appDelegate.exportURL(), pending);
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("statusLabel"))->text(), label);
    EXPECT_EQ(test::entriesOf(tmp() / config::kAppId), test::Names{pending->parent_path().filename()});
    EXPECT_FALSE(cancellationRequested());
    appDelegate.applicationWillTerminate();
}

}  // namespace
}  // namespace ni
