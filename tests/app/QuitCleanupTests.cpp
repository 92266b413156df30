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

// The program started on a folder, stopped the way a logout or Ctrl+C would; started as under
// nohup, it keeps ignoring SIGHUP and still quits cleanly.
TEST_F(QuitCleanupTest, TerminationSignalsRemoveThePendingExport) {
    const fs::path notes = root() / "Notes";
    test::writeFile(notes / "Groceries.txt", "Groceries\n\nMilk.\n");
    for (const auto& [signal, hangupIgnored] : {std::pair{SIGTERM, false}, {SIGINT, false}, {SIGTERM, true}}) {
        SCOPED_TRACE(std::to_string(signal) + (hangupIgnored ? " under nohup" : ""));
        QProcess program;
        program.start(QStringLiteral("sh"),
                      {QStringLiteral("-c"),
                       hangupIgnored ? QStringLiteral("trap '' HUP; exec \"$0\" \"$1\"")
                                     : QStringLiteral("exec \"$0\" \"$1\""),
                       QStringLiteral(NI_APP_EXECUTABLE), QString::fromStdString(notes.string())});
        ASSERT_TRUE(program.waitForStarted());
        bool pending = false;
        for (int wait = 0; wait < 600 && !pending; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (const std::string& unique : leftInTemporaryArea())
                pending = pending || fs::is_directory(temporaryContainer() / unique / "Notara Export");
        }
        ASSERT_TRUE(pending) << program.readAllStandardError().toStdString();
        std::ifstream status("/proc/" + std::to_string(program.processId()) + "/status");
        unsigned long long ignored = 0;
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("SigIgn:")) ignored = std::stoull(line.substr(7), nullptr, 16);
        if (hangupIgnored) {
            EXPECT_TRUE(ignored & (1ull << (SIGHUP - 1))) << std::hex << ignored;
        }
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished());
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_EQ(leftInTemporaryArea(), test::Names{});
        EXPECT_TRUE(fs::exists(notes / "Groceries.txt"));
    }
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
    // The conversion runs inside the event loop pass that delivers the drop.
    window.dragView()->delegate()->dragViewDidReceiveURL(small);
    QCoreApplication::processEvents();
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
