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
        << "folder \"Notara Export\" holding them into the output folder.\n\n"
        << "  -o, --output DIR   put \"Notara Export\" into DIR (default: the current folder);\n"
        << "                     DIR is created when missing\n"
        << "  -n, --dry-run      read every note and list the sheets that would be written;\n"
        << "                     write nothing\n"
        << "  -q, --quiet        no progress and no summary (errors and warnings are still printed)\n"
        << "      --report FILE  write a JSON report of the run to FILE (\"-\": standard output)\n"
        << "      --strict       fail when anything was left out or changed; move nothing\n"
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

// The command line's side of the window: alerts and errors on stderr, the
// folder panel answered with the output folder, the file viewer with stdout.
class CommandLineInterface : public ni::UserInterface {
public:
    CommandLineInterface(fs::path outputFolder, bool quiet, bool printsMovedPath)
        : outputFolder_(std::move(outputFolder)),
          quiet_(quiet),
          printsMovedPath_(printsMovedPath),
          showProgress_(!quiet && ::isatty(STDERR_FILENO)) {}

    bool hasWindow() const override { return false; }
    void setStatusText(const std::string&) override {}
    int runAlert(const ni::Alert& alert) override {
        endProgressLine();
        std::cerr << kProgram << ": " << alert.messageText << ". " << alert.informativeText << "\n";
        return 0;
    }
    void presentError(const ni::Error& error) override {
        endProgressLine();
        std::cerr << kProgram << ": " << error.message() << "\n";
    }
    void chooseFolder(ni::PanelPresentation,
                      std::function<void(std::optional<fs::path>)> completion) override {
        completion(outputFolder_);
    }
    void revealInFileViewer(const fs::path& url) override {
        movedTo_ = url;
        if (!printsMovedPath_) return;
        std::cout << url.native() << "\n";
        flushStandardOutput();
    }
    void conversionProgress(ni::ConversionPhase phase, std::size_t done, std::size_t total) override {
        if (!showProgress_) return;
        const char* what = phase == ni::ConversionPhase::ReadingNotes ? "Reading notes" : "Writing packages";
        // Redrawing for every note would cost more than the note on a slow terminal.
        if (done != total && done % 64 != 0) return;
        std::fprintf(stderr, "\r%s: %zu of %zu\033[K", what, done, total);
        progressLineOpen_ = true;
    }

    void endProgressLine() {
        if (progressLineOpen_) std::fputs("\r\033[K", stderr);
        progressLineOpen_ = false;
    }
    const std::optional<fs::path>& movedTo() const { return movedTo_; }
    bool quiet() const { return quiet_; }

private:
    fs::path outputFolder_;
    bool quiet_;
    bool printsMovedPath_;
    bool showProgress_;
    bool progressLineOpen_ = false;
    std::optional<fs::path> movedTo_;
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

int dryRun(const fs::path& folder, CommandLineInterface& ui, const ReportRequest& report, bool strict) {
    ni::Error error;
    // Nothing is written, so no note's bytes are kept for the writing.
    const auto scan = ni::scanFolderAtURL(folder, &error, &ui, report.file.has_value(), 0);
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
    // A report on standard output takes the tree's place there.
    if (report.file != "-") {
        std::cout << ni::kExportFolderName << "/\n";
        // Each group with its sheets, then the export folder's own sheets, as written.
        std::vector<std::vector<const ni::PlannedSheet*>> byFolder(scan->groups.size() + 1);
        for (const ni::PlannedSheet& sheet : scan->sheets) byFolder[sheet.folder].push_back(&sheet);
        for (std::size_t g = 0; g < scan->groups.size(); ++g) {
            std::cout << "    " << scan->groups[g] << "/\n";
            for (const ni::PlannedSheet* sheet : byFolder[g + 1]) printSheet(*scan, *sheet, "        ");
        }
        for (const ni::PlannedSheet* sheet : byFolder[0]) printSheet(*scan, *sheet, "    ");
        flushStandardOutput();
    }
    printNotices(scan->summary.notices);
    if (!ui.quiet()) printSummary(scan->summary, "", true);
    if (!report.write(scan->summary, std::nullopt)) return kFailed;
    return strict && !scan->summary.notices.empty() ? kStrictNotices : kConverted;
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

int run(int argc, char* argv[]) {
    // A file-size limit shows up as a write error naming the file, not as a killed process;
    // a closed pipe on standard output as a write error too.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // Ctrl-C, a closed terminal or a kill stop the run between two files; what it wrote goes.
    ni::requestCancellationOnTerminationSignals();

    fs::path output = ".";
    bool quiet = false;
    bool dry = false;
    bool strict = false;
    ReportRequest report;
    enum LongOnly { kReport = 256, kStrict, kDateLocale };
    static const option options[] = {
        {"output", required_argument, nullptr, 'o'},       {"dry-run", no_argument, nullptr, 'n'},
        {"quiet", no_argument, nullptr, 'q'},              {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},            {"report", required_argument, nullptr, kReport},
        {"strict", no_argument, nullptr, kStrict},         {"date-locale", required_argument, nullptr, kDateLocale},
        {nullptr, 0, nullptr, 0}};
    int option = 0;
    while ((option = ::getopt_long(argc, argv, "o:nqhV", options, nullptr)) != -1) {
        switch (option) {
            case 'o':
                output = optarg;
                break;
            case 'n':
                dry = true;
                break;
            case 'q':
                quiet = true;
                break;
            case kReport:
                report.file = optarg;
                break;
            case kStrict:
                strict = true;
                break;
            case kDateLocale:
                // An explicit choice wins over the environment, for dates only.
                if (const auto locale = ni::knownDateLocale(optarg)) {
                    ni::setDateLocaleOverride(*locale);
                    break;
                }
                std::cerr << kProgram << ": unknown date locale “" << optarg << "”\n"
                          << "Try '" << kProgram << " --help' for more information.\n";
                return kUsage;
            case 'h':
                printUsage(std::cout);
                return kConverted;
            case 'V':
                std::cout << kProgram << " " << ni::config::kVersion << "\n";
                return kConverted;
            default:
                std::cerr << "Try '" << kProgram << " --help' for more information.\n";
                return kUsage;
        }
    }
    if (argc - optind != 1) {
        std::cerr << kProgram << ": " << (argc - optind == 0 ? "missing EXPORT_FOLDER" : "too many arguments")
                  << "\n"
                  << "Try '" << kProgram << " --help' for more information.\n";
        return kUsage;
    }
    const fs::path folder = argv[optind];
    // Nothing is ever written inside the export folder: asking for it is a usage error.
    const auto refused = [](const ni::Error& error) {
        std::cerr << kProgram << ": " << error.message() << "\n";
        return error.kind() == ni::ErrorKind::InsideExport ? kUsage : kFailed;
    };
    if (ni::Error error;
        report.file && *report.file != "-" && !ni::checkReportDestination(*report.file, folder, &error))
        return refused(error);
    report.dryRun = dry;
    // Where the system's own resolution of links and ".." leads, so that what is
    // checked, made, moved into and printed is one folder.
    const fs::path absoluteOutput = ni::resolvedLocation(output).value_or(output);
    // Runs killed earlier (or cut by a power loss) left their temporary folders.
    ni::removeAbandonedTemporaryDirectories();
    CommandLineInterface ui(absoluteOutput, quiet, report.file != "-");
    // A destination that can't take the export fails the run before any note is read.
    if (ni::Error error; !ni::checkExportDestination(absoluteOutput, folder, &error)) {
        ui.endProgressLine();
        return refused(error);
    }
    if (dry) return dryRun(folder, ui, report, strict);

    ni::AppDelegate controller(&ui);
    controller.setRecordsSheets(report.file.has_value());
    const ni::ConversionOutcome outcome = controller.runFolderConversionAtURL(folder);
    ui.endProgressLine();
    if (ni::cancellationRequested()) {
        controller.applicationWillTerminate();
        stopForSignal();
    }
    if (outcome == ni::ConversionOutcome::NothingToConvert) return kNothingToConvert;
    if (outcome == ni::ConversionOutcome::Failed) return kFailed;
    const ni::ConversionSummary& summary = controller.lastConversionSummary();
    printNotices(summary.notices);
    // What another user planted in the temporary area says nothing of the sheets:
    // it must not be a way to fail someone else's strict runs.
    const auto aboutTheSheets =
        std::count_if(summary.notices.begin(), summary.notices.end(),
                      [](const ni::Notice& n) { return n.kind != ni::NoticeKind::TemporaryArea; });
    if (strict && aboutTheSheets > 0) {
        std::cerr << kProgram << ": nothing was moved: "
                  << plural(static_cast<std::size_t>(aboutTheSheets), "warning", "warnings")
                  << " with --strict\n";
        controller.applicationWillTerminate();
        return report.write(summary, std::nullopt) ? kStrictNotices : kFailed;
    }

    ni::Error error;
    if (!ni::createDirectoryAtURL(absoluteOutput, &error)) {
        ui.presentError(error);
        controller.applicationWillTerminate();
        return kFailed;
    }
    controller.saveFiles();
    // An export that wasn't moved doesn't outlive the run.
    controller.applicationWillTerminate();
    if (ni::cancellationRequested()) stopForSignal();
    if (!ui.movedTo()) return kFailed;
    if (!quiet) printSummary(summary, ni::displayPath(*ui.movedTo()), false);
    return report.write(summary, ui.movedTo()) ? kConverted : kFailed;
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
