#include <QProcess>
#include <QProcessEnvironment>

#include "NIConfig.hpp"
#include "TestSupport.hpp"

namespace ni {
namespace {

// The window's command line is read before any window exists: none of these
// may need a display, so the program runs with none at all.
TEST(WindowCommandLine, AnswersWithoutADisplay) {
    const std::string version = std::string("notara2inkvale ") + config::kVersion + "\n";
    // Arguments, exit code, and what standard output and standard error hold.
    const std::tuple<QStringList, int, const char*, const char*> cases[] = {
        {{"--version"}, 0, version.c_str(), ""},
        {{"-V"}, 0, version.c_str(), ""},
        {{"--help"}, 0, "[FOLDER]", ""},
        {{"-h"}, 0, "--version", ""},
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
        EXPECT_TRUE(test::has(out, expectedOut) && (exitCode != 2 || out.empty())) << out;
        EXPECT_TRUE(test::has(err, expectedErr) && (exitCode != 2 || test::has(err, "Try 'notara2inkvale --help'")))
            << err;
    }
}

}  // namespace
}  // namespace ni
