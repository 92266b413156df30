// The controller: converting a folder, keeping the export pending until it is saved, and what a run tells.

#include <regex>
#include <sstream>

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/UserInterface.hpp"
#include "platform/Cancellation.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using namespace test;

// A front end that records what the controller and the conversion asked of it.
class RecordingUserInterface : public UserInterface {
public:
    std::vector<std::string> statusTexts;
    std::vector<Alert> alerts;
    std::vector<Error> errors;
    std::vector<fs::path> revealed;
    std::vector<PanelPresentation> panels;
    std::vector<bool> pendingChanges;
    // What the next folder panel answers; nothing means cancel.
    std::optional<fs::path> panelAnswer;
    // Runs once, just before the first package is written.
    std::function<void()> beforeWriting;

    bool hasWindow() const override { return true; }
    void setStatusText(const std::string& text) override { statusTexts.push_back(text); }
    // What the next alerts answer, in turn; then the first button.
    std::vector<int> alertAnswers;
    int runAlert(const Alert& alert) override {
        alerts.push_back(alert);
        return alertAnswers.empty()
                   ? 0
                   : std::exchange(alertAnswers, {alertAnswers.begin() + 1, alertAnswers.end()})[0];
    }
    void presentError(const Error& error) override { errors.push_back(error); }
    void chooseFolder(PanelPresentation presentation,
                      std::function<void(std::optional<fs::path>)> completion) override {
        panels.push_back(presentation);
        completion(panelAnswer);
    }
    void revealInFileViewer(const fs::path& url) override { revealed.push_back(url); }
    void pendingExportChanged(bool pending) override { pendingChanges.push_back(pending); }
    std::vector<MoveProgress> moves;
    std::function<void(const MoveProgress&)> onMove;
    void moveProgress(const MoveProgress& progress) override {
        moves.push_back(progress);
        if (onMove) onMove(progress);
    }
    void conversionProgress(ConversionPhase phase, std::size_t done, std::size_t) override {
        if (phase == ConversionPhase::WritingPackages && done == 0 && beforeWriting)
            std::exchange(beforeWriting, {})();
    }
};

class Conversion : public ExportTest {
protected:
    // Converts folder through the open panel; the new pending export.
    fs::path convert(const fs::path& folder) {
        ui.panelAnswer = folder;
        controller.openFolder();
        EXPECT_TRUE(controller.exportURL());
        return controller.exportURL().value_or(fs::path());
    }

    RecordingUserInterface ui;
    AppDelegate controller{&ui};
};

TEST_F(Conversion, OnePendingExportAtATimeKeptUntilAMoveSucceeds) {
    controller.openFolder();  // cancelled
    writeFile(root() / "Empty" / "budget.csv", "1,2\n");
    writeFile(root() / "Empty" / ".hidden.txt", "x");
    EXPECT_EQ(controller.runFolderConversionAtURL(root() / "Empty"), ConversionOutcome::NothingToConvert);
    Error error(ErrorKind::ReadFailed, "untouched");
    EXPECT_FALSE(controller.convertFolderAtURL(root() / "Empty", &error));
    EXPECT_EQ(error.kind(), ErrorKind::ReadFailed);  // left as it was
    ASSERT_EQ(ui.alerts.size(), 2u);
    EXPECT_EQ(ui.alerts[0].messageText, "No files found");
    EXPECT_EQ(ui.alerts[0].informativeText, "No importable files were found in “Empty”.");
    EXPECT_TRUE(ui.errors.empty() && ui.statusTexts.empty() && !controller.exportURL());
    EXPECT_TRUE(leftInTemporaryArea().empty());

    writeFile(notes() / "Groceries.txt", "Groceries\n\nMilk and bread.\n");
    const fs::path first = convert(notes());
    EXPECT_EQ(ui.statusTexts, Names{std::string(kLabelExportPending)});
    EXPECT_EQ(ui.pendingChanges, std::vector<bool>{true});
    EXPECT_EQ(ui.panels.back(), PanelPresentation::WindowModalSheet);
    // The replaced export could no longer be saved: it is gone, its unique folder too.
    const fs::path exportURL = convert(notes());
    ASSERT_NE(first, exportURL);
    EXPECT_FALSE(fs::exists(first.parent_path()));

    // A bad note fails the run before anything is written: the first in name order, of notes read
    // on several threads, named in an alert that offers to go on (declined: OK). The pending
    // export stays as it was.
    for (int i = 100; i < 400; ++i)
        writeFile(root() / "Broken" / (std::to_string(i) + ".txt"), i % 150 == 20 ? "\xFF" : "ok");
    EXPECT_EQ(controller.runFolderConversionAtURL(root() / "Broken"), ConversionOutcome::Failed);
    ASSERT_EQ(ui.alerts.size(), 3u);
    EXPECT_EQ(ui.alerts[2].messageText,
              Error(ErrorKind::InvalidUTF8, root() / "Broken" / "170.txt", 0, "0").message());
    EXPECT_EQ(ui.alerts[2].buttons, (Names{"OK", "Convert the Others", "Read as Windows-1252"}));
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_EQ(controller.exportURL(), exportURL);
    EXPECT_EQ(leftInTemporaryArea(), Names{exportURL.parent_path().filename()});

    ui.panelAnswer.reset();
    controller.saveFiles();  // cancelled
    EXPECT_EQ(controller.exportURL(), exportURL);
    // An existing export at the destination: an error, and the export stays pending for another folder.
    const fs::path chosen = root() / "Chosen";
    writeFile(chosen / "Notara Export" / "mine.txt", "keep");
    ui.panelAnswer = chosen;
    controller.saveFiles();
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(readFile(chosen / "Notara Export" / "mine.txt"), "keep");
    EXPECT_EQ(controller.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts.back(), kLabelExportPending);
    EXPECT_EQ(ui.pendingChanges.back(), true);
    EXPECT_TRUE(ui.revealed.empty());
    // Never into the export folder, which is only ever read: refused, and the export stays pending.
    ui.panelAnswer = notes() / "Inside";
    controller.saveFiles();
    ASSERT_EQ(ui.errors.size(), 2u);
    EXPECT_EQ(ui.errors[1].kind(), ErrorKind::InsideExport);
    EXPECT_EQ(controller.exportURL(), exportURL);

    ui.panelAnswer = root() / "Elsewhere";
    fs::create_directories(*ui.panelAnswer);
    controller.saveFiles();
    const fs::path moved = root() / "Elsewhere" / "Notara Export";
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
    EXPECT_EQ(ui.revealed, std::vector<fs::path>{moved});
    EXPECT_FALSE(controller.exportURL());
    EXPECT_EQ(ui.statusTexts.back(), kLabelIdle);
    EXPECT_EQ(ui.pendingChanges.back(), false);
    EXPECT_FALSE(fs::exists(exportURL.parent_path()));

    // Nothing pending: saving does nothing and quitting leaves the moved export and the notes alone.
    const std::size_t panels = ui.panels.size();
    controller.saveFiles();
    EXPECT_EQ(ui.panels.size(), panels);
    controller.applicationWillTerminate();
    controller.applicationWillTerminate();
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
    EXPECT_TRUE(fs::exists(notes() / "Groceries.txt"));
}

// A note that stops a conversion: the window's user may convert the others without it, or read
// notes that aren't UTF-8 as Windows-1252; a second bad note asks again, with what is left to offer.
TEST_F(Conversion, ANoteThatStopsTheRunCanBeLeftOutOrReadAsWindows1252) {
    writeFile(notes() / "good.txt", "Good\n");
    writeFile(notes() / "latin.txt", "Caf\xE9\n");
    ASSERT_EQ(::mkfifo((notes() / "pipe.txt").c_str(), 0600), 0);
    const struct {
        std::vector<int> answers;
        ConversionOutcome outcome;
        std::vector<NoticeKind> notices;
    } cases[] = {
        {{0}, ConversionOutcome::Failed, {}},
        {{1}, ConversionOutcome::Converted, {NoticeKind::NotConverted, NoticeKind::NotConverted}},
        {{2, 1}, ConversionOutcome::Converted, {NoticeKind::Encoding, NoticeKind::NotConverted}},
    };
    for (const auto& c : cases) {
        ui.alertAnswers = c.answers;
        ui.alerts.clear();
        EXPECT_EQ(controller.runFolderConversionAtURL(notes()), c.outcome);
        EXPECT_EQ(ui.alerts.size(), c.answers.size());
        if (c.outcome != ConversionOutcome::Converted) continue;
        std::vector<NoticeKind> kinds;
        for (const Notice& notice : controller.lastConversionSummary().notices) kinds.push_back(notice.kind);
        EXPECT_EQ(kinds, c.notices);
        EXPECT_EQ(controller.conversionOptions().fallbackEncoding, "");  // chosen for one run only
    }
    EXPECT_TRUE(ui.errors.empty());
    controller.discardExport();
}

// The notices' texts and order are pinned end to end by the golden cases; here what only the
// controller adds: a planted temporary folder, told after the walk's notices, and the records.
TEST_F(Conversion, APlantedTemporaryFolderIsToldAndEverySheetRecorded) {
    writeFile(notes() / "a.txt", "a\n\nTags: x, y\n");
    writeFile(notes() / "Work" / "b.txt", "b\n\nPicture: p.png\n");
    writeFile(notes() / "Work" / "Pictures" / "p.png", "png");
    writeFile(notes() / "table.csv", "1,2");
    writeFile(tmp() / temporaryContainerName(), "planted by someone else");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const ConversionSummary& summary = controller.lastConversionSummary();
    ASSERT_EQ(summary.notices.size(), 2u);
    EXPECT_EQ(summary.notices[1].kind, NoticeKind::TemporaryArea);
    EXPECT_TRUE(has(summary.notices[1].message,
                    "“" + (tmp() / temporaryContainerName()).native() + "” isn’t yours (it isn’t a folder)"));
    EXPECT_EQ(readFile(tmp() / temporaryContainerName()), "planted by someone else");
    ASSERT_EQ(summary.sheets.size(), 2u);  // in walk order: the group's first
    EXPECT_EQ(summary.sheets[0].package, "Work/b.inkvale");
    EXPECT_EQ(summary.sheets[0].picture, "Work/Pictures/p.png");
    EXPECT_EQ(summary.sheets[1].tags, 2u);
    controller.discardExport();
    EXPECT_TRUE(entriesOf(tmp()) == Names{temporaryContainerName()})
        << testing::PrintToString(entriesOf(tmp()));
}

// Every item below folder, a folder's path ending in "/", the picture identifier masked.
Names treeNames(const fs::path& folder) {
    Names names{"Notara Export/"};
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string path = "Notara Export/" + entry.path().lexically_relative(folder).native();
        names.push_back(std::regex_replace(path, std::regex("[0-9a-f]{32}"), "@ID1@") +
                        (entry.is_directory() ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Save Sheets… onto a disk that refuses some names (FAT, the statfs seam says) names the sheets as a
// conversion for that disk names them: the golden case's tree and warnings. A copy to another disk
// tells its progress, never backwards, up to its totals; a cancel midway shows no error, leaves
// nothing at the destination and the export whole and pending.
TEST_F(Conversion, SavingOntoADiskThatRefusesSomeNamesRenamesAsAConversionForItWould) {
    const fs::path golden = NI_TEST_DATA_DIR "/golden/portable_names";
    fs::copy(golden / "export", notes(), fs::copy_options::recursive);
    Names expectedTree, expectedWarnings;
    std::istringstream tree(readFile(golden / "tree")), warnings(readFile(golden / "stderr"));
    for (std::string line; std::getline(tree, line);)
        if (!line.starts_with("  |")) expectedTree.push_back(line.substr(0, line.find("  (")));
    for (std::string line; std::getline(warnings, line);)
        if (line.starts_with("notara2inkvale-cli: warning: ")) expectedWarnings.push_back(line.substr(29));
    const fs::path exportURL = convert(notes());
    ASSERT_TRUE(controller.lastConversionSummary().notices.empty());
    sys::injectFileSystemType(0x4d44);
    sys::injectFault(sys::Operation::Rename, EXDEV);
    ui.panelAnswer = root() / "Stick";
    ui.onMove = [](const MoveProgress& progress) {
        if (progress.unitsDone == 2) requestCancellation();
    };
    controller.saveFiles();
    clearCancellation();
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_EQ(entriesOf(root() / "Stick"), Names{});
    EXPECT_EQ(controller.exportURL(), exportURL);
    EXPECT_EQ(treeNames(exportURL), expectedTree);

    ui.moves.clear();
    ui.onMove = {};
    controller.saveFiles();
    sys::clearFaults();
    EXPECT_EQ(treeNames(root() / "Stick" / "Notara Export"), expectedTree);
    Names told;
    for (const Notice& notice : controller.lastConversionSummary().notices)
        told.push_back(std::regex_replace("“" + notice.path + "”: " + notice.message,
                                          std::regex("[0-9a-f]{32}"), "@ID1@"));
    EXPECT_EQ(told, expectedWarnings);
    EXPECT_EQ(controller.lastConversionSummary().sheets[3].package, "work - 2/n.inkvale");
    ASSERT_GT(ui.moves.size(), 2u);
    EXPECT_EQ(ui.moves.front().bytesDone + ui.moves.front().unitsDone, 0u);
    for (std::size_t i = 1; i < ui.moves.size(); ++i)
        EXPECT_TRUE(ui.moves[i].bytesDone >= ui.moves[i - 1].bytesDone &&
                    ui.moves[i].unitsDone >= ui.moves[i - 1].unitsDone);
    const MoveProgress& last = ui.moves.back();
    EXPECT_EQ(std::tie(last.bytesDone, last.unitsDone, last.unitsTotal),
              std::tie(last.bytesTotal, last.unitsTotal, ui.moves.front().unitsTotal));
    EXPECT_EQ(last.unitsTotal, 4u);
}

// Faults met by the controller on the small export.
using ControllerFaults = SmallExport;

TEST_F(ControllerFaults, PictureVanishingOrSwappedForALinkBeforeItIsCopiedFailsTheRunWithNothingPending) {
    // Between reading the notes and writing the sheets, the picture goes, or
    // its Pictures folder becomes a link to a folder outside holding a file of
    // the same name: nothing from outside may reach a sheet.
    writeFile(root() / "Outside" / "photo.png", "not from the export");
    const fs::path pictures = notes() / "Pictures", real = notes() / "Pictures.real";
    before.reset();
    // Both ways of opening beneath a folder: openat2, and one component at a time without it.
    for (const auto& [swap, withoutOpenat2] :
         {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        SCOPED_TRACE(std::string(swap ? "swapped" : "removed") + (withoutOpenat2 ? " without openat2" : ""));
        if (withoutOpenat2) sys::injectFault(sys::Operation::OpenBeneath, ENOSYS);
        RecordingUserInterface ui;
        ui.beforeWriting = [&, swap] {
            if (!swap) return void(fs::remove(pictures / "photo.png"));
            fs::rename(pictures, real);
            fs::create_directory_symlink("../Outside", pictures);
        };
        AppDelegate controller(&ui);
        Error error;
        EXPECT_FALSE(controller.convertFolderAtURL(notes(), &error));
        EXPECT_EQ(error.kind(), swap ? ErrorKind::NotRegularFile : ErrorKind::FileNotFound);
        EXPECT_EQ(error.path(), pictures / "photo.png");
        EXPECT_FALSE(controller.exportURL());
        EXPECT_TRUE(leftInTemporaryArea().empty());
        sys::clearFaults();
        if (swap) {
            fs::remove(pictures);
            fs::rename(real, pictures);
        }
        writeFile(pictures / "photo.png", "png bytes");
    }
}

TEST_F(ControllerFaults, UnreadableNoteOrPictureOrUnlistableFolderFailsTheRunNamingIt) {
    const fs::path copy = notes();
    ASSERT_TRUE(shareWithUnprivileged());
    for (const auto& [locked, kind] : {std::pair{copy / "Work" / "Plan.txt", ErrorKind::ReadFailed},
                                       {copy / "Pictures" / "photo.png", ErrorKind::ReadFailed},
                                       {copy / "Work", ErrorKind::ListFailed}}) {
        SCOPED_TRACE(locked);
        const auto mode = fs::status(locked).permissions();
        fs::permissions(locked, fs::perms::none);
        EXPECT_EQ(runUnprivileged([&] {
                      AppDelegate controller(nullptr);
                      Error error;
                      const bool failed = !controller.convertFolderAtURL(copy, &error);
                      return int(!failed || error.path() != locked || error.osError() != EACCES ||
                                 error.kind() != kind);
                  }),
                  0);
        fs::permissions(locked, mode);
    }
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

}  // namespace
}  // namespace ni
