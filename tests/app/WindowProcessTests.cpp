// The window program as a process: its command line, answered without a
// display, and termination signals, which remove the pending export.

#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <fstream>
#include <thread>

#include "TestSupport.hpp"

namespace ni {
namespace {

using namespace test;

// The window's command line is read before any window exists: none of these
// may need a display, so the program runs with none at all.
TEST(WindowCommandLine, AnswersWithoutADisplay) {
    const std::string version = std::string("notara2inkvale ") + config::kVersion + "\n";
    // Arguments, exit code, and what standard output and standard error hold.
    const std::tuple<QStringList, int, const char*, const char*> cases[] = {
        {{"--version"}, 0, version.c_str(), ""},
        {{"--help"}, 0, "[FOLDER]", ""},
        {{"one", "two"}, 2, "", "2 folders given"},
        {{"--frobnicate"}, 2, "", "Unknown option 'frobnicate'"},
        {{"-x", "folder"}, 2, "", "Unknown option 'x'"},
        {{"-style"}, 2, "", "Missing value after '-style'"},
        // Past the command line, a window needs a display: a message, not an abort.
        {{"folder"}, 1, "", "no display"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(variable));
    for (const auto& [arguments, exitCode, expectedOut, expectedErr] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(NI_APP_EXECUTABLE), arguments);
        ASSERT_TRUE(program.waitForFinished());
        const std::string out = program.readAllStandardOutput().toStdString();
        const std::string err = program.readAllStandardError().toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), exitCode) << err;
        EXPECT_TRUE(has(out, expectedOut) && (exitCode != 2 || out.empty())) << out;
        EXPECT_TRUE(has(err, expectedErr) && (exitCode != 2 || has(err, "Try 'notara2inkvale --help'"))) << err;
    }
}

using QuitCleanupTest = ScratchTest;

// The program started on a folder (its name not UTF-8: it is found by its bytes), stopped the way a
// logout or Ctrl+C would; started as under nohup, it keeps ignoring SIGHUP and still quits cleanly.
TEST_F(QuitCleanupTest, TerminationSignalsRemoveThePendingExport) {
    const fs::path notes = root() / "Notes\xFF";
    writeFile(notes / "Groceries.txt", "Groceries\n\nMilk.\n");
    for (const auto& [signal, hangupIgnored] : {std::pair{SIGTERM, false}, {SIGINT, false}, {SIGTERM, true}}) {
        SCOPED_TRACE(std::to_string(signal) + (hangupIgnored ? " under nohup" : ""));
        const std::string log = (root() / "window").native();
        const pid_t pid = spawn({NI_APP_EXECUTABLE, notes.native()}, log, [ignore = hangupIgnored] {
            if (ignore) ::signal(SIGHUP, SIG_IGN);
        });
        bool pending = false;
        for (int wait = 0; wait < 600 && !pending; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (const std::string& unique : leftInTemporaryArea())
                pending = pending || fs::is_directory(tmp() / config::kAppId / unique / "Notara Export");
        }
        ASSERT_TRUE(pending) << readFile(log + ".err");
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        unsigned long long ignored = 0;
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("SigIgn:")) ignored = std::stoull(line.substr(7), nullptr, 16);
        EXPECT_EQ((ignored >> (SIGHUP - 1)) & 1, hangupIgnored) << std::hex << ignored;
        ::kill(pid, signal);
        EXPECT_EQ(finish(pid, log).status, 0);
        EXPECT_EQ(leftInTemporaryArea(), Names{});
        EXPECT_TRUE(fs::exists(notes / "Groceries.txt"));
    }
}

}  // namespace
}  // namespace ni
