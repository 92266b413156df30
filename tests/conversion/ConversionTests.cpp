// The controller: converting a folder, keeping the export pending until it is saved, and what a run tells.

#include <sys/stat.h>

#include <cerrno>
#include <climits>

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "conversion/NoteFile.hpp"
#include "platform/Cancellation.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using namespace test;

// Every path below root, relative, sorted; "/" marks folders.
Names tree(const fs::path& root) {
    Names entries;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        entries.push_back(fs::relative(entry.path(), root).string() +
                          (entry.is_directory() && !entry.is_symlink() ? "/" : ""));
    std::sort(entries.begin(), entries.end());
    return entries;
}

class Conversion : public ScratchTest {
protected:
    void TearDown() override {
        sys::clearFaults();
        setDateLocaleOverride(std::nullopt);
        ScratchTest::TearDown();
    }
    fs::path notes() const { return root() / "Notes"; }
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

TEST_F(Conversion, WritesOneGroupPerSubFolderAndSkipsWhatIsNoNoteOrALink) {
    writeFile(notes() / "Top.txt", "Top\nbody");
    writeFile(notes() / "Readme.MD", "Readme");
    writeFile(notes() / "photo.png", "png");
    writeFile(notes() / "table.csv", "a,b");
    writeFile(notes() / ".hidden.txt", "hidden");
    writeFile(notes() / ".Hidden Folder" / "x.txt", "x");
    writeFile(notes() / "Work" / "Plan.txt", "Plan");
    writeFile(notes() / "Work" / "Deep" / "Ignored.txt", "two levels down");
    writeFile(notes() / "Work" / "image.jpg", "jpg");
    fs::create_directories(notes() / "Empty");
    writeFile(root() / "outside" / "Secret.txt", "secret");
    fs::create_symlink(root() / "outside" / "Secret.txt", notes() / "Link.txt");
    fs::create_directory_symlink(root() / "outside", notes() / "LinkedFolder");
    fs::create_symlink(root() / "missing.txt", notes() / "Empty" / "Dangling.txt");
    fs::create_directory_symlink(notes(), notes() / "Work" / "Loop");
    const auto before = tree(notes());

    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    ASSERT_TRUE(controller.exportURL());
    EXPECT_EQ(controller.exportURL()->filename(), "Notara Export");
    EXPECT_EQ(ui.statusTexts.back(), kLabelExportPending);
    EXPECT_GT(ui.progressCalls, 0u);
    EXPECT_EQ(tree(*controller.exportURL()),
              (Names{"Empty/", "Readme.inkvale/", "Readme.inkvale/Content.xml", "Readme.inkvale/Text.txt",
                     "Top.inkvale/", "Top.inkvale/Content.xml", "Top.inkvale/Text.txt", "Work/",
                     "Work/Plan.inkvale/", "Work/Plan.inkvale/Content.xml", "Work/Plan.inkvale/Text.txt"}));
    const auto& summary = controller.lastConversionSummary();
    EXPECT_EQ(summary.notes, 3u);
    EXPECT_EQ(summary.subFolders, 2u);
    EXPECT_EQ(summary.skippedLinks, 4u);
    EXPECT_EQ(tree(notes()), before);  // the source is only read
}

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
    EXPECT_EQ(ui.alerts[0].buttons, Names{"OK"});
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

    // A bad note fails the run before anything is written, a cancelled run shows nothing;
    // either leaves the pending export as it was.
    writeFile(root() / "Broken" / "Good.txt", "Good");
    writeFile(root() / "Broken" / "Sub" / "Bad.txt", "Bad \xFF");
    EXPECT_EQ(controller.runFolderConversionAtURL(root() / "Broken"), ConversionOutcome::Failed);
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].kind(), ErrorKind::InvalidUTF8);
    EXPECT_EQ(ui.errors[0].path(), root() / "Broken" / "Sub" / "Bad.txt");
    requestCancellation();
    EXPECT_EQ(controller.runFolderConversionAtURL(notes()), ConversionOutcome::Cancelled);
    clearCancellation();
    EXPECT_EQ(ui.errors.size(), 1u);
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
    EXPECT_EQ(ui.panels.size(), 6u);
    controller.applicationWillTerminate();
    controller.applicationWillTerminate();
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
    EXPECT_TRUE(fs::exists(notes() / "Groceries.txt"));
}

TEST_F(Conversion, TheFirstBadNoteInNameOrderIsReported) {
    // Enough notes to be read on several threads; two of them bad.
    for (int i = 100; i < 400; ++i) writeFile(notes() / (std::to_string(i) + ".txt"), i % 150 == 20 ? "\xFF" : "ok");
    Error error;
    EXPECT_FALSE(controller.convertFolderAtURL(notes(), &error));
    EXPECT_EQ(error.path(), notes() / "170.txt");
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

// How names collide is PackageNames' table; here, that the walk gives them out in byte order.
TEST_F(Conversion, CollidingNamesAreNumberedInNameOrder) {
    writeFile(notes() / "a.txt", "1");
    writeFile(notes() / "a.md", "2");
    writeFile(notes() / "A.TXT", "3");
    writeFile(notes() / "x.inkvale" / "n.txt", "a folder that looks like a package");
    writeFile(notes() / "x.txt", "x");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const fs::path out = *controller.exportURL();
    const auto text = [&](const std::string& package) { return readFile(out / package / "Text.txt"); };
    EXPECT_EQ(text("A.inkvale"), "3");
    EXPECT_EQ(text("a - 2.inkvale"), "2");
    EXPECT_EQ(text("a - 3.inkvale"), "1");
    EXPECT_TRUE(fs::exists(out / "x.inkvale" / "n.inkvale"));
    EXPECT_EQ(text("x - 2.inkvale"), "x");
}

TEST_F(Conversion, WriteFailureRemovesTheRunsTemporaryFolder) {
    writeFile(notes() / "One.txt", "1");
    writeFile(notes() / "Two.txt", "2");
    sys::injectFault(sys::Operation::Write, ENOSPC, 1);
    Error error;
    EXPECT_FALSE(controller.convertFolderAtURL(notes(), &error));
    EXPECT_EQ(error.kind(), ErrorKind::WriteFailed);
    EXPECT_EQ(error.osError(), ENOSPC);
    EXPECT_TRUE(leftInTemporaryArea().empty());
    EXPECT_FALSE(controller.exportURL());
    EXPECT_TRUE(ui.statusTexts.empty());
}

TEST_F(Conversion, UnlistableFolderFailsTheRun) {
    const SharedScratch shared;
    const fs::path notes = shared.path() / "Notes";
    writeFile(notes / "Locked" / "n.txt", "n");
    ::chmod((notes / "Locked").c_str(), 0);
    ASSERT_TRUE(shared.reachedUnprivileged());
    const int kind = runUnprivileged([&] {
        Error error;
        if (controller.convertFolderAtURL(notes, &error)) return 0;
        return error.path() == notes / "Locked" ? static_cast<int>(error.kind()) : 100;
    });
    EXPECT_EQ(kind, static_cast<int>(ErrorKind::ListFailed));
    EXPECT_TRUE(shared.leftInTemporaryArea().empty());
}

TEST_F(Conversion, EveryNoticeKindIsToldOnceInWalkOrderAndTheSheetsAreRecorded) {
    const auto expected = writeExportWithEveryNotice(notes());
    setDateLocaleOverride("de_DE");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const ConversionSummary& summary = controller.lastConversionSummary();
    ASSERT_EQ(summary.notices.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Notice& notice = summary.notices[i];
        SCOPED_TRACE(notice.message);
        EXPECT_EQ(noticeKindName(notice.kind), expected[i].kind);
        EXPECT_EQ(notice.path, expected[i].path);
        EXPECT_TRUE(has(notice.message, expected[i].words)) << expected[i].words;
    }
    EXPECT_EQ(summary.dateLocale, "de_DE");
    EXPECT_EQ(summary.source, notes());
    // One record per sheet in walk order; dates that weren't read are none.
    ASSERT_EQ(summary.sheets.size(), summary.notes);
    EXPECT_EQ(summary.sheets[4].note, "Long picture.txt");
    EXPECT_EQ(summary.sheets[4].picture, "Pictures/" + std::string(246, 'p') + ".jpg");
    const SheetRecord& top = summary.sheets[6];
    EXPECT_EQ(top.note, "Top.txt");
    EXPECT_EQ(top.package, "Top.inkvale");
    EXPECT_FALSE(top.picture || top.created || top.modified);
    EXPECT_EQ(summary.sheets[8].package, "a - 2.inkvale");
    // The picture with a name at the limit is copied whole under a name that fits.
    const fs::path media = *controller.exportURL() / "Long picture.inkvale" / "Media";
    ASSERT_EQ(entriesOf(media).size(), 1u);
    const std::string copied = entriesOf(media)[0];
    EXPECT_TRUE(copied.size() <= NAME_MAX && copied.starts_with("ppp") && copied.ends_with(".jpg")) << copied;
    EXPECT_EQ(readFile(media / copied), "jpg");

    // Read in the notes' own locale, the dates give no notice and carry their dates.
    setDateLocaleOverride("en_US");
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    for (const Notice& notice : controller.lastConversionSummary().notices)
        EXPECT_NE(notice.kind, NoticeKind::UnreadDate) << notice.message;
    EXPECT_TRUE(controller.lastConversionSummary().sheets[6].modified);
}

TEST_F(Conversion, AnOrdinaryExportGivesNoNotice) {
    writeFile(notes() / "Trip.txt", "Trip\nGo.\n\nPicture: beach.jpg\nTags: a, b\n");
    writeFile(notes() / "Pictures" / "beach.jpg", "jpg");
    writeFile(notes() / "Travel" / "Plan.txt", "Plan");
    writeFile(notes() / "Travel" / "Pictures" / "map.png", "png");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    EXPECT_TRUE(controller.lastConversionSummary().notices.empty());
    EXPECT_EQ(controller.lastConversionSummary().sheets.at(1).tags, 2u);
}

}  // namespace
}  // namespace ni
