// The controller: converting a folder, keeping the export pending until it is saved, and what a run tells.

#include <array>
#include <tuple>

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/UserInterface.hpp"
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
    int runAlert(const Alert& alert) override { return alerts.push_back(alert), 0; }
    void presentError(const Error& error) override { errors.push_back(error); }
    void chooseFolder(PanelPresentation presentation,
                      std::function<void(std::optional<fs::path>)> completion) override {
        panels.push_back(presentation);
        completion(panelAnswer);
    }
    void revealInFileViewer(const fs::path& url) override { revealed.push_back(url); }
    void pendingExportChanged(bool pending) override { pendingChanges.push_back(pending); }
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
    // on several threads. The pending export stays as it was.
    for (int i = 100; i < 400; ++i)
        writeFile(root() / "Broken" / (std::to_string(i) + ".txt"), i % 150 == 20 ? "\xFF" : "ok");
    EXPECT_EQ(controller.runFolderConversionAtURL(root() / "Broken"), ConversionOutcome::Failed);
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].kind(), ErrorKind::InvalidUTF8);
    EXPECT_EQ(ui.errors[0].path(), root() / "Broken" / "170.txt");
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
    ASSERT_EQ(ui.errors.size(), 2u);
    EXPECT_EQ(ui.errors[1].kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(readFile(chosen / "Notara Export" / "mine.txt"), "keep");
    EXPECT_EQ(controller.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts.back(), kLabelExportPending);
    EXPECT_EQ(ui.pendingChanges.back(), true);
    EXPECT_TRUE(ui.revealed.empty());
    // Never into the export folder, which is only ever read: refused, and the export stays pending.
    ui.panelAnswer = notes() / "Inside";
    controller.saveFiles();
    ASSERT_EQ(ui.errors.size(), 3u);
    EXPECT_EQ(ui.errors[2].kind(), ErrorKind::InsideExport);
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
    controller.saveFiles();
    EXPECT_EQ(ui.panels.size(), 7u);
    controller.applicationWillTerminate();
    controller.applicationWillTerminate();
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
    EXPECT_TRUE(fs::exists(notes() / "Groceries.txt"));
}

TEST_F(Conversion, EveryNoticeKindIsToldOnceInWalkOrderAndTheSheetsAreRecorded) {
    const fs::path notes = ExportTest::notes();
    const std::string longStem(251, 'x'), longPicture(246, 'p');
    writeFile(notes / "Control.txt",
              "Control\nA\x01"
              "B\x02"
              "C\n");
    writeFile(notes / "Dup picture.txt", "Dup\n\nPicture: DUP.png\n");
    writeFile(notes / "Empty picture.txt", "Empty\n\nPicture: \n");
    writeFile(notes / "Far future.txt", "Far\n\nModified: 31.12.9999, 15:04\n");
    writeFile(notes / "Folder picture.txt", "Folder\n\nPicture: album\n");
    writeFile(notes / "Link picture.txt", "Link\n\nPicture: link.jpg\n");
    writeFile(notes / "Long picture.txt", "Long\n\nPicture: " + longPicture + ".jpg\n");
    writeFile(notes / "Outside.txt", "Outside\n\nPicture: ../Top.txt\n");
    writeFile(notes / "Pictures" / (longPicture + ".jpg"), "jpg");
    writeFile(notes / "Pictures" / "Dup.png", "1");
    writeFile(notes / "Pictures" / "dup.png", "2");
    fs::create_directories(notes / "Pictures" / "album");
    fs::create_symlink(longPicture + ".jpg", notes / "Pictures" / "link.jpg");
    writeFile(notes / "Recipes" / "Deeper" / "Too deep.txt", "Deep");
    writeFile(notes / "Recipes" / "Deeper" / "Even" / "deeper.md", "Deeper");
    writeFile(notes / "Recipes" / "prices.csv", "a,b");
    writeFile(notes / "Top.txt",
              "Top\nbody\n\nPicture: gone.jpg\nCreated: Jan 5, 2024, 3:04 PM\n"
              "Modified: Jan 6, 2024, 10:00 AM\n");
    writeFile(notes / "a.md", "a");
    writeFile(notes / "a.txt", "a");
    writeFile(notes / "photo.png", "png");
    writeFile(notes / "table.csv", "1,2");
    writeFile(notes / (longStem + ".txt"), "long");
    writeFile(notes / ".hidden.png", "hidden entries stay unmentioned");
    writeFile(notes / ".Hidden Folder" / "x.txt", "x");
    fs::create_directory_symlink("Recipes", notes / "Linked");
    // Each notice in walk order: its kind's report name, its path and words of its message.
    const std::tuple<std::string, std::string, std::string> expected[] = {
        {"characters-left-out", "Control.txt", "Left 2 characters out of Content.xml"},
        {"picture", "Dup picture.txt", "“DUP.png” could be any of “Dup.png” and “dup.png” in “Pictures”"},
        {"picture", "Empty picture.txt", "The Picture line names no file"},
        {"picture", "Folder picture.txt", "“album” in “Pictures” isn’t a regular file"},
        {"picture", "Link picture.txt", "“link.jpg” is reached through a symbolic link"},
        {"renamed", "Long picture.txt", "Renamed the picture “" + longPicture + ".jpg” → “Media/"},
        {"picture", "Outside.txt", "“../Top.txt” points outside “Pictures”"},
        {"skipped-links", "Pictures", "Skipped 1 symbolic link in this folder"},
        {"too-deep", "Recipes/Deeper", "this folder holds 2 notes"},
        {"skipped-files", "Recipes", "Skipped 1 CSV file in this folder"},
        {"picture", "Top.txt", "“gone.jpg” isn’t in “Pictures”"},
        {"date", "Top.txt", "Created “Jan 5, 2024, 3:04 PM” isn’t a date in de_DE"},
        {"date", "Top.txt", "the package is dated now"},
        {"renamed", "a.txt", "Renamed “a.inkvale” → “a - 2.inkvale”"},
        {"renamed", longStem + ".txt", "the name is longer than a file name can be"},
        {"skipped-files", "", "Skipped 1 picture and 1 CSV file at the top level"},
        {"skipped-links", "", "Skipped 1 symbolic link at the top level"},
        {"empty-sub-folders", "", "The sub-folder “Recipes” holds no notes"},
        {"date-locale", "",
         "The 2 dates above that aren’t dates in de_DE all read as dates in en_US: run with --date-locale"},
        {"temporary-area", "",
         "“" + (tmp() / temporaryContainerName()).native() + "” isn’t yours (it isn’t a folder)"},
        // Found only when written: a date past what the file system holds.
        {"date", "Far future.txt", "Modified “9999-12-31” can’t be stored as the package’s date"},
    };
    writeFile(tmp() / temporaryContainerName(), "planted by someone else");
    ConversionOptions options = controller.conversionOptions();
    options.dateLocale = "de_DE";
    controller.setConversionOptions(options);
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes, &error)) << error.message();
    const ConversionSummary& summary = controller.lastConversionSummary();
    ASSERT_EQ(summary.notices.size(), std::size(expected));
    for (std::size_t i = 0; i < summary.notices.size(); ++i) {
        const Notice& notice = summary.notices[i];
        const auto& [kind, path, words] = expected[i];
        SCOPED_TRACE(notice.message);
        EXPECT_EQ(noticeKindName(notice.kind), kind);
        EXPECT_EQ(notice.path, path);
        EXPECT_TRUE(has(notice.message, words)) << words;
    }
    // One group per sub-folder, hidden items and what lies deeper left out; one record per
    // sheet in walk order (the report's fields are pinned by the command line's tests).
    const fs::path exported = *controller.exportURL();
    EXPECT_EQ(entriesOf(exported).size(), 14u);
    EXPECT_EQ(entriesOf(exported / "Recipes"), Names{});
    EXPECT_EQ((std::array{summary.notes, summary.subFolders, summary.skippedLinks}),
              (std::array<std::size_t, 3>{12, 2, 2}));
    ASSERT_EQ(summary.sheets.size(), summary.notes);
    EXPECT_EQ(summary.sheets[6].picture, "Pictures/" + longPicture + ".jpg");
    // The picture with a name at the limit is copied under a name that fits.
    EXPECT_EQ(entriesOf(exported / "Long picture.inkvale" / "Media").size(), 1u);
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
