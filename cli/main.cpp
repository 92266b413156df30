// notara2inkvale-cli: converts a Notara export folder into Inkvale sheets in
// one call, through the same controller as the desktop window.

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "NIConfig.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/FolderConversion.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/Report.hpp"
#include "conversion/UserInterface.hpp"
#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"
#include "platform/FileManager.hpp"
#include "utilities/TemporaryFiles.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "notara2inkvale-cli";

// Why the first flush of standard output failed: errno is long overwritten by
// the time standard output is closed and the failure reported.
int standardOutputErrno = 0;

void flushStandardOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 && standardOutputErrno == 0) standardOutputErrno = errno;
}

enum ExitStatus { kConverted = 0, kFailed = 1, kUsage = 2, kNothingToConvert = 3, kStrictNotices = 4 };

void printUsage(std::ostream& out) {
    out << "Usage: " << kProgram << " [OPTION]... EXPORT_FOLDER\n"
        << "Convert every note of a Notara export folder into an Inkvale sheet and put the\n"
        << "folder \"Notara Export\" holding them into the output folder. EXPORT_FOLDER may\n"
        << "also be the export zipped (a file named *.zip); it is read without unpacking it.\n\n"
        << "  -o, --output DIR   put \"Notara Export\" into DIR (default: the current folder);\n"
        << "                     DIR is created when missing\n"
        << "  -n, --dry-run      read every note and list the sheets that would be written;\n"
        << "                     write nothing\n"
        << "  -q, --quiet        no progress and no summary (errors and warnings are still printed)\n"
        << "      --report FILE  write a JSON report of the run to FILE (\"-\": standard output)\n"
        << "      --strict       fail when anything was left out or changed; move nothing\n"
        << "      --keep-going   leave out notes that can't be read (each one a warning) and\n"
        << "                     convert the others\n"
        << "      --portable-names\n"
        << "                     names every disk takes (made so anyway on FAT, exFAT, NTFS, SMB)\n"
        << "      --fallback-encoding NAME\n"
        << "                     read notes that aren't UTF-8 in this encoding (e.g. windows-1252)\n"
        << "      --date-locale LOCALE\n"
        << "                     read Created and Modified dates in this locale (e.g. en_US)\n"
        << "                     instead of LC_ALL, LC_TIME or LANG\n"
        << "  -h, --help         show this help and exit\n"
        << "  -V, --version      show the version and exit\n\n"
        << "The moved folder's path is printed on standard output; progress, warnings about\n"
        << "what was left out or changed, and the summary go to standard error.\n\n"
        << "Exit status: 0 converted, 1 a note or folder couldn't be read or written,\n"
        << "2 wrong usage, 3 nothing to convert, 4 warnings with --strict.\n";
}

// What the controller needs of the command line: alerts, errors and progress on stderr.
class CommandLineInterface : public ni::UserInterface {
public:
    explicit CommandLineInterface(bool quiet)
        : quiet_(quiet), showProgress_(!quiet && ::isatty(STDERR_FILENO)) {}

    int runAlert(const ni::Alert& alert) override {
        endProgressLine();
        std::cerr << kProgram << ": " << alert.messageText << ". " << alert.informativeText << "\n";
        return 0;
    }
    void presentError(const ni::Error& error) override {
        endProgressLine();
        std::cerr << kProgram << ": " << error.message() << "\n";
    }
    void conversionProgress(ni::ConversionPhase phase, std::size_t done, std::size_t total) override {
        if (!showProgress_) return;
        const char* what = phase == ni::ConversionPhase::ReadingNotes ? "Reading notes" : "Writing packages";
        // Redrawing for every note would cost more than the note on a slow terminal.
        if (done != total && done % 64 != 0) return;
        std::fprintf(stderr, "\r%s: %zu of %zu\033[K", what, done, total);
        progressLineOpen_ = true;
    }

    void moveProgress(const ni::MoveProgress& progress) override {
        if (!showProgress_) return;
        const std::string line = "Copying sheets: " + std::to_string(progress.unitsDone) + " of " +
                                 std::to_string(progress.unitsTotal) + " (" +
                                 ni::sizeText(progress.bytesDone) + " of " +
                                 ni::sizeText(progress.bytesTotal) + ")";
        // Told a few thousand times in a copy: redrawn only when the line changes.
        if (line == lastLine_) return;
        lastLine_ = line;
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        progressLineOpen_ = true;
    }

    void endProgressLine() {
        if (progressLineOpen_) std::fputs("\r\033[K", stderr);
        progressLineOpen_ = false;
    }
    bool quiet() const { return quiet_; }

private:
    bool quiet_;
    bool showProgress_;
    bool progressLineOpen_ = false;
    std::string lastLine_;
};

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void printSummary(const ni::ConversionSummary& summary, const std::string& where, bool dryRun) {
    std::cerr << (dryRun ? "Would convert " : "Converted ") << plural(summary.notes, "note", "notes") << " ("
              << plural(summary.pictures, "picture", "pictures") << ", "
              << plural(summary.subFolders, "sub-folder", "sub-folders") << ")"
              << (dryRun ? "" : " into “" + where + "”") << ".";
    if (summary.skippedLinks > 0)
        std::cerr << " Skipped " << plural(summary.skippedLinks, "symbolic link", "symbolic links") << ".";
    if (!summary.notices.empty()) std::cerr << " " << plural(summary.notices.size(), "warning", "warnings") << ".";
    std::cerr << "\n";
}

// One line per notice, in the order of the walk.
void printNotices(const std::vector<ni::Notice>& notices) {
    for (const ni::Notice& notice : notices) {
        std::cerr << kProgram << ": warning: ";
        if (!notice.path.empty()) std::cerr << "“" << ni::displayPath(notice.path) << "”: ";
        std::cerr << notice.message << "\n";
    }
}

// Where --report goes: nothing for no report, "-" for standard output.
struct ReportRequest {
    std::optional<fs::path> file;
    bool dryRun = false;

    // Writes the report of summary; false after printing why it couldn't.
    bool write(const ni::ConversionSummary& summary, const std::optional<fs::path>& destination) const {
        if (!file) return true;
        const std::string text = ni::conversionReport(summary, destination, dryRun);
        if (*file == "-") {
            std::cout << text;
            flushStandardOutput();
            return true;
        }
        ni::Error error;
        if (ni::writeReportToURL(text, *file, &error)) return true;
        std::cerr << kProgram << ": " << error.message() << "\n";
        return false;
    }
};

void printSheet(const ni::FolderScan& scan, const ni::PlannedSheet& sheet, const std::string& indent) {
    std::cout << indent << sheet.packageName << "\n";
    if (!sheet.picturePath.empty())
        std::cout << indent << "    Media/" << sheet.mediaName << "  (from "
                  << ni::displayPath(scan.noteFolder(sheet) / sheet.picturePath) << ")\n";
}

// A run stopped by a signal ends as that signal would have ended it, once what
// it wrote is gone (a completed move stays).
[[noreturn]] void stopForSignal() {
    const int signalNumber = ni::cancellationSignal();
    ni::dieOfSignal(signalNumber != 0 ? signalNumber : SIGTERM);
}

// Each group with its sheets, then the export folder's own sheets, as they would be written.
void printTree(const ni::FolderScan& scan) {
    std::cout << ni::kExportFolderName << "/\n";
    std::vector<std::vector<const ni::PlannedSheet*>> byFolder(scan.groups.size() + 1);
    for (const ni::PlannedSheet& sheet : scan.sheets) byFolder[sheet.folder].push_back(&sheet);
    for (std::size_t g = 0; g < scan.groups.size(); ++g) {
        std::cout << "    " << scan.exportGroups[g] << "/\n";
        for (const ni::PlannedSheet* sheet : byFolder[g + 1]) printSheet(scan, *sheet, "        ");
    }
    for (const ni::PlannedSheet* sheet : byFolder[0]) printSheet(scan, *sheet, "    ");
    flushStandardOutput();
}

// Whether --strict fails the run. What another user planted in the temporary
// area says nothing of the sheets: it must not be a way to fail someone's runs.
std::size_t strictWarnings(const ni::ConversionSummary& summary) {
    return static_cast<std::size_t>(
        std::count_if(summary.notices.begin(), summary.notices.end(),
                      [](const ni::Notice& notice) { return notice.kind != ni::NoticeKind::TemporaryArea; }));
}

int dryRun(ni::AppDelegate& controller, const fs::path& folder, CommandLineInterface& ui,
           const ReportRequest& report, bool strict) {
    ni::Error error;
    const auto scan = controller.scanFolderForDryRun(folder, &error);
    ui.endProgressLine();
    if (ni::cancellationRequested()) stopForSignal();
    if (!scan) {
        ui.presentError(error);
        return kFailed;
    }
    if (scan->empty()) {
        ui.runAlert(ni::noFilesFoundAlert(folder));
        return kNothingToConvert;
    }
    if (report.file != "-") printTree(*scan);  // a report on standard output takes the tree's place
    printNotices(scan->summary.notices);
    if (!ui.quiet()) printSummary(scan->summary, "", true);
    if (!report.write(scan->summary, std::nullopt)) return kFailed;
    return strict && strictWarnings(scan->summary) > 0 ? kStrictNotices : kConverted;
}

int convert(ni::AppDelegate& controller, const fs::path& folder, const fs::path& output,
            CommandLineInterface& ui, const ReportRequest& report, bool strict) {
    const ni::ConversionOutcome outcome = controller.runFolderConversionAtURL(folder);
    ui.endProgressLine();
    if (ni::cancellationRequested()) {
        controller.discardExport();
        stopForSignal();
    }
    if (outcome == ni::ConversionOutcome::NothingToConvert) return kNothingToConvert;
    if (outcome == ni::ConversionOutcome::Failed) return kFailed;
    const ni::ConversionSummary& summary = controller.lastConversionSummary();
    printNotices(summary.notices);
    if (const std::size_t warnings = strictWarnings(summary); strict && warnings > 0) {
        std::cerr << kProgram << ": nothing was moved: " << plural(warnings, "warning", "warnings")
                  << " with --strict\n";
        controller.discardExport();
        return report.write(summary, std::nullopt) ? kStrictNotices : kFailed;
    }
    ni::Error error;
    const auto moved = controller.moveExportToFolder(output, &error);
    ui.endProgressLine();
    controller.discardExport();  // an export that wasn't moved doesn't outlive the run
    if (ni::cancellationRequested()) stopForSignal();
    if (!moved) {
        if (error.kind() != ni::ErrorKind::Cancelled) ui.presentError(error);
        return kFailed;
    }
    if (report.file != "-") {  // a report on standard output takes the path's place
        std::cout << moved->native() << "\n";
        flushStandardOutput();
    }
    if (!ui.quiet()) printSummary(summary, ni::displayPath(*moved), false);
    return report.write(summary, moved) ? kConverted : kFailed;
}

// Standard output is checked once everything is written to it, as a full
// disk or a closed pipe may only show then: that is a failed run. The exit status.
int closeStandardOutput(int status) {
    errno = 0;
    bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    int reason = standardOutputErrno != 0 ? standardOutputErrno : errno;
    if (std::fclose(stdout) != 0 && !failed) {
        failed = true;
        reason = errno;
    }
    if (!failed) return status;
    std::cerr << kProgram << ": write error on standard output"
              << (reason != 0 ? std::string(": ") + std::strerror(reason) : std::string()) << "\n";
    return status == kUsage ? kUsage : kFailed;
}

// The command line as given.
struct Arguments {
    fs::path folder;
    fs::path output = ".";
    bool quiet = false;
    bool dryRun = false;
    bool strict = false;
    ReportRequest report;
    std::optional<std::string> dateLocale;
    bool keepGoing = false;
    bool portableNames = false;
    std::string fallbackEncoding;
};

int usageError(const std::string& message) {
    if (!message.empty()) std::cerr << kProgram << ": " << message << "\n";
    std::cerr << "Try '" << kProgram << " --help' for more information.\n";
    return kUsage;
}

// Reads the options; an exit status when the run ends here (help, version, wrong usage).
std::optional<int> parseArguments(int argc, char* argv[], Arguments& arguments) {
    enum LongOnly { kReport = 256, kStrict, kDateLocale, kKeepGoing, kFallbackEncoding, kPortableNames };
    static const option options[] = {{"output", required_argument, nullptr, 'o'},
                                     {"dry-run", no_argument, nullptr, 'n'},
                                     {"quiet", no_argument, nullptr, 'q'},
                                     {"help", no_argument, nullptr, 'h'},
                                     {"version", no_argument, nullptr, 'V'},
                                     {"report", required_argument, nullptr, kReport},
                                     {"strict", no_argument, nullptr, kStrict},
                                     {"date-locale", required_argument, nullptr, kDateLocale},
                                     {"keep-going", no_argument, nullptr, kKeepGoing},
                                     {"portable-names", no_argument, nullptr, kPortableNames},
                                     {"fallback-encoding", required_argument, nullptr, kFallbackEncoding},
                                     {nullptr, 0, nullptr, 0}};
    for (int option = 0; (option = ::getopt_long(argc, argv, "o:nqhV", options, nullptr)) != -1;) {
        switch (option) {
            case 'o':
                arguments.output = optarg;
                break;
            case 'n':
                arguments.dryRun = arguments.report.dryRun = true;
                break;
            case 'q':
                arguments.quiet = true;
                break;
            case kReport:
                arguments.report.file = optarg;
                break;
            case kStrict:
                arguments.strict = true;
                break;
            case kDateLocale:
                // An explicit choice wins over the environment, for dates only.
                arguments.dateLocale = ni::knownDateLocale(optarg);
                if (!arguments.dateLocale)
                    return usageError(std::string("unknown date locale “") + optarg + "”");
                break;
            case kKeepGoing:
                arguments.keepGoing = true;
                break;
            case kPortableNames:
                arguments.portableNames = true;
                break;
            case kFallbackEncoding:
                arguments.fallbackEncoding = ni::knownEncoding(optarg).value_or("");
                if (arguments.fallbackEncoding.empty())
                    return usageError(std::string("unknown encoding “") + optarg + "”");
                break;
            case 'h':
                printUsage(std::cout);
                return kConverted;
            case 'V':
                std::cout << kProgram << " " << ni::config::kVersion << "\n";
                return kConverted;
            default:
                return usageError("");
        }
    }
    if (argc - optind != 1)
        return usageError(argc - optind == 0 ? "missing EXPORT_FOLDER" : "too many arguments");
    arguments.folder = argv[optind];
    return std::nullopt;
}

int run(int argc, char* argv[]) {
    // A file-size limit shows up as a write error naming the file, not as a killed process;
    // a closed pipe on standard output as a write error too.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // Ctrl-C, a closed terminal or a kill stop the run between two files; what it wrote goes.
    ni::requestCancellationOnTerminationSignals();
    Arguments arguments;
    if (const auto status = parseArguments(argc, argv, arguments)) return *status;

    // Destinations are checked before any note is read; nothing is ever
    // written inside the export folder: asking for it is a usage error.
    const auto refused = [](const ni::Error& error) {
        std::cerr << kProgram << ": " << error.message() << "\n";
        return error.kind() == ni::ErrorKind::InsideExport ? kUsage : kFailed;
    };
    const std::optional<fs::path>& reportFile = arguments.report.file;
    if (ni::Error error; reportFile && *reportFile != "-" &&
                         !ni::checkReportDestination(*reportFile, arguments.folder, &error))
        return refused(error);
    // Where the system's own resolution of links and ".." leads, so that what is
    // checked, made, moved into and printed is one folder.
    const fs::path output = ni::resolvedLocation(arguments.output).value_or(arguments.output);
    if (ni::Error error; !ni::checkExportDestination(output, arguments.folder, &error)) return refused(error);

    // Runs killed earlier (or cut by a power loss) left their temporary folders.
    ni::removeAbandonedTemporaryDirectories();
    CommandLineInterface ui(arguments.quiet);
    ni::AppDelegate controller(&ui);
    ni::ConversionOptions options;
    options.dateLocale = arguments.dateLocale;
    options.recordSheets = reportFile.has_value();
    options.keepGoing = arguments.keepGoing;
    // A disk that refuses some names gets names it takes, as asked for anywhere with --portable-names.
    options.portableNames = arguments.portableNames || ni::refusesSomeNames(output);
    options.fallbackEncoding = arguments.fallbackEncoding;
    controller.setConversionOptions(options);
    if (arguments.dryRun) return dryRun(controller, arguments.folder, ui, arguments.report, arguments.strict);
    return convert(controller, arguments.folder, output, ui, arguments.report, arguments.strict);
}

}  // namespace

int main(int argc, char* argv[]) {
    int status = kFailed;
    // Memory running out outside a note's own reading ends the run with a message, not an abort.
    try {
        status = run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << kProgram << ": memory ran out before the conversion could finish\n";
    }
    return closeStandardOutput(status);
}
