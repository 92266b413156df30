// notara2inkvale-cli: converts a Notara export folder into Inkvale sheets in
// one call, through the same controller as the desktop window.

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "NIConfig.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/FolderConversion.hpp"
#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"
#include "platform/FileManager.hpp"
#include "conversion/UserInterface.hpp"
#include "utilities/TemporaryFiles.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "notara2inkvale-cli";

enum ExitStatus { kConverted = 0, kFailed = 1, kUsage = 2, kNothingToConvert = 3 };

void printUsage(std::ostream& out) {
    out << "Usage: " << kProgram << " [OPTION]... EXPORT_FOLDER\n"
        << "Convert every note of a Notara export folder into an Inkvale sheet and put the\n"
        << "folder \"Notara Export\" holding them into the output folder.\n\n"
        << "  -o, --output DIR   put \"Notara Export\" into DIR (default: the current folder);\n"
        << "                     DIR is created when missing\n"
        << "  -n, --dry-run      read every note and list the sheets that would be written;\n"
        << "                     write nothing\n"
        << "  -q, --quiet        no progress and no summary (errors are still printed)\n"
        << "  -h, --help         show this help and exit\n"
        << "  -V, --version      show the version and exit\n\n"
        << "The moved folder's path is printed on standard output; progress and the summary\n"
        << "go to standard error.\n\n"
        << "Exit status: 0 converted, 1 a note or folder couldn't be read or written,\n"
        << "2 wrong usage, 3 nothing to convert.\n";
}

// The command line's side of the window: alerts and errors on stderr, the
// folder panel answered with the output folder, the file viewer with stdout.
class CommandLineInterface : public ni::UserInterface {
public:
    CommandLineInterface(fs::path outputFolder, bool quiet)
        : outputFolder_(std::move(outputFolder)),
          quiet_(quiet),
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
        std::cout << url.native() << "\n" << std::flush;
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
    std::cerr << "\n";
}

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

int dryRun(const fs::path& folder, CommandLineInterface& ui) {
    ni::Error error;
    const auto scan = ni::scanFolderAtURL(folder, &error, &ui);
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
    std::cout << ni::kExportFolderName << "/\n";
    // Each group with its sheets, then the export folder's own sheets, as written.
    std::vector<std::vector<const ni::PlannedSheet*>> byFolder(scan->groups.size() + 1);
    for (const ni::PlannedSheet& sheet : scan->sheets) byFolder[sheet.folder].push_back(&sheet);
    for (std::size_t g = 0; g < scan->groups.size(); ++g) {
        std::cout << "    " << scan->groups[g] << "/\n";
        for (const ni::PlannedSheet* sheet : byFolder[g + 1]) printSheet(*scan, *sheet, "        ");
    }
    for (const ni::PlannedSheet* sheet : byFolder[0]) printSheet(*scan, *sheet, "    ");
    if (!ui.quiet()) printSummary(scan->summary, "", true);
    return kConverted;
}

// Standard output is checked once everything is written to it, as a full
// disk or a closed pipe may only show then: that is a failed run. The exit status.
int closeStandardOutput(int status) {
    errno = 0;
    bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    int reason = errno;
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
    static const option options[] = {
        {"output", required_argument, nullptr, 'o'}, {"dry-run", no_argument, nullptr, 'n'},
        {"quiet", no_argument, nullptr, 'q'},        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},      {nullptr, 0, nullptr, 0}};
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
    std::error_code ec;
    fs::path absoluteOutput = fs::absolute(output, ec).lexically_normal();
    if (ec) absoluteOutput = output;
    if (!absoluteOutput.has_filename() && absoluteOutput.has_parent_path() && absoluteOutput != "/")
        absoluteOutput = absoluteOutput.parent_path();
    // Runs killed earlier (or cut by a power loss) left their temporary folders.
    ni::removeAbandonedTemporaryDirectories();
    CommandLineInterface ui(absoluteOutput, quiet);
    // A destination that can't take the export fails the run before any note is read.
    if (ni::Error error; !ni::checkExportDestination(absoluteOutput, &error)) {
        ui.presentError(error);
        return kFailed;
    }
    if (dry) return dryRun(folder, ui);

    ni::AppDelegate controller(&ui);
    const ni::ConversionOutcome outcome = controller.runFolderConversionAtURL(folder);
    ui.endProgressLine();
    if (ni::cancellationRequested()) {
        controller.applicationWillTerminate();
        stopForSignal();
    }
    if (outcome == ni::ConversionOutcome::NothingToConvert) return kNothingToConvert;
    if (outcome == ni::ConversionOutcome::Failed) return kFailed;

    ni::Error error;
    if (!ni::createDirectoryAtURL(output, &error)) {
        ui.presentError(error);
        controller.applicationWillTerminate();
        return kFailed;
    }
    controller.saveFiles();
    // An export that wasn't moved doesn't outlive the run.
    controller.applicationWillTerminate();
    if (ni::cancellationRequested()) stopForSignal();
    if (!ui.movedTo()) return kFailed;
    if (!quiet) printSummary(controller.lastConversionSummary(), ni::displayPath(*ui.movedTo()), false);
    return kConverted;
}

}  // namespace

int main(int argc, char* argv[]) { return closeStandardOutput(run(argc, argv)); }
