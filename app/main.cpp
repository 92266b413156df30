#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "NIConfig.hpp"
#include "app/Application.hpp"
#include "app/MainWindow.hpp"
#include "conversion/AppDelegate.hpp"

namespace {

constexpr int kUsage = 2;

// The command line, read before any window exists: the exit status when the
// program stops here (help, version, usage error), else the folder to convert
// at start, if any.
struct CommandLine {
    std::optional<int> exitStatus;
    std::optional<std::filesystem::path> folder;
};

CommandLine parseCommandLine(int argc, char** argv) {
    // A QCoreApplication needs no display, unlike the QApplication made afterwards.
    int coreArgc = argc;
    const QCoreApplication core(coreArgc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Turn a Notara export folder into Inkvale sheets in a window: drop the folder on the\n"
                       "window, or name it here to convert it at once."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOptions({help, version});
    // Qt's own options, which the QApplication takes out of the arguments later.
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
          "qwindowtitle", "session", "display", "geometry", "style", "stylesheet", "qmljsdebugger"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("A Notara export folder, or the export zipped, to convert."),
                                 QStringLiteral("[FOLDER]"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

    const auto usageError = [](const QString& message) {
        std::fprintf(stderr, "notara2inkvale: %s\nTry 'notara2inkvale --help' for more information.\n",
                     qUtf8Printable(message));
        return CommandLine{kUsage, std::nullopt};
    };
    if (!parser.parse(QCoreApplication::arguments())) return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return {EXIT_SUCCESS, std::nullopt};
    }
    if (parser.isSet(version)) {
        std::printf("notara2inkvale %s\n", ni::config::kVersion);
        return {EXIT_SUCCESS, std::nullopt};
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1)
        return usageError(QStringLiteral("%1 folders given; name one at most").arg(folders.size()));
    if (folders.isEmpty()) return {};
    // The raw bytes, not the decoded text: a name that isn't valid UTF-8 must still be found.
    for (int index = argc - 1; index > 0; --index)
        if (QString::fromLocal8Bit(argv[index]) == folders.front()) return {std::nullopt, argv[index]};
    return {std::nullopt, std::filesystem::path(folders.front().toStdString())};
}

bool hasDisplay(int argc, char** argv) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') return true;
    for (int index = 1; index < argc; ++index)
        if (qstrcmp(argv[index], "-platform") == 0 || qstrcmp(argv[index], "--platform") == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.exitStatus) return *commandLine.exitStatus;
    // Qt would abort with a core dump; say what is missing instead.
    if (!hasDisplay(argc, argv)) {
        std::fputs(
            "notara2inkvale: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset).\n"
            "notara2inkvale-cli converts an export without one.\n",
            stderr);
        return EXIT_FAILURE;
    }

    ni::Application application(argc, argv);
    ni::MainWindow window;
    ni::AppDelegate appDelegate(&window);
    window.setAppDelegate(&appDelegate);
    window.show();
    if (commandLine.folder) window.convertFolderAtStart(*commandLine.folder);
    return application.exec();
}
