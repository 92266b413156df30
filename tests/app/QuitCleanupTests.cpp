#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <chrono>
#include <thread>

#include "TestSupport.hpp"

namespace ni {
namespace {

namespace fs = std::filesystem;

// The installed-style program, started on a folder, then told to stop the way
// a logout or Ctrl+C would.
class QuitCleanupTest : public test::ScratchTest {
protected:
    fs::path exportFolderIn(const fs::path& container) {
        std::error_code error;
        for (const auto& unique : fs::directory_iterator(container, error)) {
            if (fs::is_directory(unique.path() / "Notara Export")) return unique.path() / "Notara Export";
        }
        return {};
    }
};

TEST_F(QuitCleanupTest, TerminationSignalsRemoveThePendingExport) {
    const fs::path notes = root() / "Notes";
    test::writeFile(notes / "Groceries.txt", "Groceries\n\nMilk.\n");
    const fs::path container = tmp() / NI_APP_ID;
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), QString::fromStdString(tmp().string()));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(NI_APP_EXECUTABLE), {QString::fromStdString(notes.string())});
        ASSERT_TRUE(program.waitForStarted());

        fs::path exportFolder;
        for (int wait = 0; wait < 600 && exportFolder.empty(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            exportFolder = exportFolderIn(container);
        }
        ASSERT_FALSE(exportFolder.empty()) << program.readAllStandardError().toStdString();

        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished());
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_FALSE(fs::exists(exportFolder));
        EXPECT_FALSE(fs::exists(exportFolder.parent_path()));
        EXPECT_TRUE(fs::exists(notes / "Groceries.txt"));
    }
}

}  // namespace
}  // namespace ni
