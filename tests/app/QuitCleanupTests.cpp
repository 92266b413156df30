#include <signal.h>

#include <QProcess>
#include <chrono>
#include <thread>

#include "TestSupport.hpp"

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

}  // namespace
}  // namespace ni
