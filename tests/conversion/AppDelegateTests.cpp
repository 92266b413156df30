#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"

namespace ni {
namespace {

using test::writeFile;
namespace fs = std::filesystem;

class AppDelegateTest : public test::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        notes = root() / "Notes";
        writeFile(notes / "Groceries.txt", "Groceries\n\nMilk and bread.\n");
    }
    // Converts the notes through the open panel; the new pending export.
    fs::path convert() {
        ui.panelAnswer = notes;
        appDelegate.openFolder();
        EXPECT_TRUE(appDelegate.exportURL());
        return appDelegate.exportURL().value_or(fs::path());
    }

    fs::path notes;
    test::RecordingUserInterface ui;
    AppDelegate appDelegate{&ui};
};

TEST_F(AppDelegateTest, OpeningCancelsConvertsOrAlerts) {
    appDelegate.openFolder();  // cancelled

    writeFile(root() / "Empty" / "budget.csv", "1,2\n");
    EXPECT_EQ(appDelegate.runFolderConversionAtURL(root() / "Empty"), ConversionOutcome::NothingToConvert);
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].messageText, "No files found");
    EXPECT_EQ(ui.alerts[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(ui.errors.empty() && ui.statusTexts.empty() && !appDelegate.exportURL());

    const fs::path exportURL = convert();
    EXPECT_EQ(ui.statusTexts, std::vector<std::string>{std::string(kLabelExportPending)});
    EXPECT_EQ(ui.pendingChanges, std::vector<bool>{true});

    // A failed conversion shows its error and keeps the earlier export pending.
    writeFile(root() / "Broken" / "bad.txt", "Title\n\xff\xfe\n");
    EXPECT_EQ(appDelegate.runFolderConversionAtURL(root() / "Broken"), ConversionOutcome::Failed);
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].kind(), ErrorKind::InvalidUTF8);
    EXPECT_EQ(appDelegate.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts.size(), 1u);
    EXPECT_EQ(ui.panels.back(), PanelPresentation::WindowModalSheet);
}

TEST_F(AppDelegateTest, SavingKeepsTheExportUntilAMoveSucceedsThenRevealsAndClearsIt) {
    const fs::path exportURL = convert();
    ui.panelAnswer.reset();
    appDelegate.saveFiles();  // cancelled
    EXPECT_EQ(appDelegate.exportURL(), exportURL);

    // An existing export at the destination: an error, and the export stays pending for another folder.
    const fs::path chosen = root() / "Chosen";
    writeFile(chosen / "Notara Export" / "mine.txt", "keep");
    ui.panelAnswer = chosen;
    appDelegate.saveFiles();
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(test::readFile(chosen / "Notara Export" / "mine.txt"), "keep");
    EXPECT_EQ(appDelegate.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts.back(), kLabelExportPending);
    EXPECT_EQ(ui.pendingChanges.back(), true);
    EXPECT_TRUE(ui.revealed.empty());

    ui.panelAnswer = root() / "Elsewhere";
    fs::create_directories(*ui.panelAnswer);
    appDelegate.saveFiles();
    const fs::path moved = root() / "Elsewhere" / "Notara Export";
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
    EXPECT_EQ(ui.revealed, std::vector<fs::path>{moved});
    EXPECT_FALSE(appDelegate.exportURL());
    EXPECT_EQ(ui.statusTexts.back(), kLabelIdle);
    EXPECT_EQ(ui.pendingChanges.back(), false);
    EXPECT_FALSE(fs::exists(exportURL.parent_path()));

    // Nothing pending: saving does nothing and quitting leaves the moved export alone.
    appDelegate.saveFiles();
    EXPECT_EQ(ui.panels.size(), 4u);
    appDelegate.applicationWillTerminate();
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
}

TEST_F(AppDelegateTest, AConversionReplacingAPendingExportRemovesItAndACancelledOneKeepsIt) {
    const fs::path first = convert();
    const fs::path second = convert();
    ASSERT_NE(first, second);
    // The replaced export could no longer be saved: it is gone, its unique folder too.
    EXPECT_FALSE(fs::exists(first.parent_path()));
    EXPECT_TRUE(fs::is_directory(second / "Groceries.inkvale"));

    // A cancelled conversion shows nothing and leaves the pending export as it was.
    requestCancellation();
    EXPECT_EQ(appDelegate.runFolderConversionAtURL(notes), ConversionOutcome::Cancelled);
    clearCancellation();
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_EQ(appDelegate.exportURL(), second);
    EXPECT_EQ(test::entriesOf(tmp() / config::kAppId), test::Names{second.parent_path().filename()});

    appDelegate.applicationWillTerminate();
    EXPECT_FALSE(fs::exists(second.parent_path()));
    EXPECT_FALSE(appDelegate.exportURL());
    EXPECT_TRUE(fs::exists(notes / "Groceries.txt"));
    appDelegate.applicationWillTerminate();  // twice is harmless
}

}  // namespace
}  // namespace ni
