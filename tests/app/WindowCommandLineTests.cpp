#include <QProcess>
#include <QProcessEnvironment>

#include "NIConfig.hpp"
#include "TestSupport.hpp"

namespace ni {
namespace {

// The window's command line is read before any window exists: none of these
// may need a display, so the program runs with none at all.
TEST(WindowCommandLine, AnswersWithoutADisplay) {
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* out;  // expected in standard output
        const char* err;  // expected in standard error
    };
    const std::string version = std::string("notara2inkvale ") + config::kVersion + "\n";
    const Case cases[] = {
        {{QStringLiteral("--version")}, 0, version.c_str(), ""},
        {{QStringLiteral("-V")}, 0, version.c_str(), ""},
        {{QStringLiteral("--help")}, 0, "[FOLDER]", ""},
        {{QStringLiteral("-h")}, 0, "--version", ""},
        {{QStringLiteral("one"), QStringLiteral("two")}, 2, "", "2 folders given"},
        {{QStringLiteral("--frobnicate")}, 2, "", "Unknown option 'frobnicate'"},
        {{QStringLiteral("-x"), QStringLiteral("folder")}, 2, "", "Unknown option 'x'"},
        {{QStringLiteral("-style")}, 2, "", "Missing value after '-style'"},
        // Past the command line, a window needs a display: a message, not an abort.
        {{QStringLiteral("folder")}, 1, "", "no display"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(variable));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.arguments.join(QLatin1Char(' ')).toStdString());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(NI_APP_EXECUTABLE), test.arguments);
        ASSERT_TRUE(program.waitForFinished());
        const std::string out = program.readAllStandardOutput().toStdString();
        const std::string err = program.readAllStandardError().toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), test.exitCode) << err;
        EXPECT_NE(out.find(test.out), std::string::npos) << out;
        EXPECT_NE(err.find(test.err), std::string::npos) << err;
        if (test.exitCode == 2) {
            EXPECT_TRUE(out.empty()) << out;
            EXPECT_NE(err.find("Try 'notara2inkvale --help'"), std::string::npos) << err;
        }
    }
}

}  // namespace
}  // namespace ni
