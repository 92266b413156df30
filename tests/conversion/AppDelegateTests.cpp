#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/Error.hpp"

namespace ni {
namespace {

using test::writeFile;
namespace fs = std::filesystem;

const std::string kIdle(kLabelIdle);
const std::string kPending(kLabelExportPending);

class AppDelegateTest : public test::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        notes = root() / "Notes";
        writeFile(notes / "Groceries.txt", "Groceries\n\nMilk and bread.\n");
        chosen = root() / "Chosen";
        fs::create_directories(chosen);
    }

    // Converts the notes through the open panel; the new pending export.
    fs::path convert() {
        ui.panelAnswer = notes;
        appDelegate.openFolder();
        EXPECT_TRUE(appDelegate.exportURL().has_value());
        return appDelegate.exportURL().value_or(fs::path());
    }

    fs::path notes, chosen;
    test::RecordingUserInterface ui;
    AppDelegate appDelegate{&ui};
};

TEST_F(AppDelegateTest, OpenedOrDroppedFolderBecomesThePendingExport) {
    const fs::path exportURL = convert();
    EXPECT_EQ(ui.panels, std::vector<PanelPresentation>{PanelPresentation::WindowModalSheet});
    EXPECT_EQ(exportURL.filename(), "Notara Export");
    EXPECT_EQ(exportURL.parent_path().parent_path().parent_path(), tmp());
    EXPECT_TRUE(fs::is_directory(exportURL / "Groceries.inkvale"));
    EXPECT_EQ(ui.statusTexts, std::vector<std::string>{kPending});
    EXPECT_EQ(ui.pendingChanges, std::vector<bool>{true});
    EXPECT_TRUE(ui.alerts.empty());
    EXPECT_TRUE(ui.errors.empty());

    // Without a window the panel runs on its own; a drop takes the same road.
    test::RecordingUserInterface windowless;
    windowless.window = false;
    windowless.panelAnswer = notes;
    AppDelegate other(&windowless);
    other.openFolder();
    EXPECT_EQ(windowless.panels, std::vector<PanelPresentation>{PanelPresentation::ApplicationModal});
    EXPECT_TRUE(other.exportURL().has_value());
    other.dragViewDidReceiveURL(notes);
    EXPECT_EQ(windowless.statusTexts, (std::vector<std::string>{kPending, kPending}));
}

TEST_F(AppDelegateTest, CancelledPanelsChangeNothing) {
    appDelegate.openFolder();
    EXPECT_EQ(ui.panels.size(), 1u);
    EXPECT_FALSE(appDelegate.exportURL());
    EXPECT_TRUE(ui.statusTexts.empty());

    const fs::path exportURL = convert();
    ui.panelAnswer.reset();
    appDelegate.saveFiles();
    EXPECT_EQ(appDelegate.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts.back(), kPending);
    EXPECT_TRUE(fs::is_directory(exportURL));
    EXPECT_TRUE(ui.revealed.empty());
}

TEST_F(AppDelegateTest, NothingToConvertShowsOnlyTheNoFilesFoundAlert) {
    const fs::path empty = root() / "Empty";
    writeFile(empty / "budget.csv", "1,2\n");
    EXPECT_EQ(appDelegate.runFolderConversionAtURL(empty), ConversionOutcome::NothingToConvert);
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].messageText, "No files found");
    EXPECT_EQ(ui.alerts[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_FALSE(appDelegate.exportURL());
    EXPECT_TRUE(ui.statusTexts.empty());
}

TEST_F(AppDelegateTest, FailedConversionShowsItsErrorAndKeepsThePendingExport) {
    const fs::path exportURL = convert();
    const fs::path broken = root() / "Broken";
    writeFile(broken / "bad.txt", "Title\n\xff\xfe\n");
    EXPECT_EQ(appDelegate.runFolderConversionAtURL(broken), ConversionOutcome::Failed);
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].kind(), ErrorKind::InvalidUTF8);
    EXPECT_TRUE(ui.alerts.empty());
    EXPECT_EQ(appDelegate.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts, std::vector<std::string>{kPending});
}

TEST_F(AppDelegateTest, SaveMovesRevealsAndClearsThePendingExport) {
    const fs::path exportURL = convert();
    ui.panelAnswer = chosen;
    appDelegate.saveFiles();
    const fs::path moved = chosen / "Notara Export";
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
    EXPECT_EQ(ui.revealed, std::vector<fs::path>{moved});
    EXPECT_FALSE(appDelegate.exportURL());
    EXPECT_EQ(ui.statusTexts.back(), kIdle);
    EXPECT_EQ(ui.pendingChanges.back(), false);
    EXPECT_TRUE(ui.errors.empty());
    // The emptied unique temporary folder went with it.
    EXPECT_FALSE(fs::exists(exportURL.parent_path()));

    appDelegate.applicationWillTerminate();
    EXPECT_TRUE(fs::is_directory(moved / "Groceries.inkvale"));
    // Nothing pending: the command does nothing at all.
    appDelegate.saveFiles();
    EXPECT_EQ(ui.panels.size(), 2u);
}

TEST_F(AppDelegateTest, FailedMoveKeepsTheExportPendingForAnotherFolder) {
    const fs::path exportURL = convert();
    writeFile(chosen / "Notara Export" / "mine.txt", "keep");
    ui.panelAnswer = chosen;
    appDelegate.saveFiles();
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(test::readFile(chosen / "Notara Export" / "mine.txt"), "keep");
    EXPECT_FALSE(fs::exists(chosen / "Notara Export" / "Groceries.inkvale"));
    EXPECT_EQ(appDelegate.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts.back(), kPending);
    EXPECT_EQ(ui.pendingChanges.back(), true);
    EXPECT_TRUE(ui.revealed.empty());

    ui.panelAnswer = root() / "Elsewhere";
    fs::create_directories(*ui.panelAnswer);
    appDelegate.saveFiles();
    EXPECT_TRUE(fs::is_directory(root() / "Elsewhere" / "Notara Export" / "Groceries.inkvale"));
    EXPECT_FALSE(appDelegate.exportURL());
}

TEST_F(AppDelegateTest, QuitRemovesOnlyThePendingExportAndItsEmptyFolder) {
    appDelegate.applicationWillTerminate();  // idle: nothing to do
    const fs::path first = convert();
    const fs::path second = convert();
    ASSERT_NE(first, second);
    writeFile(tmp() / "unrelated.txt", "not ours to remove");

    appDelegate.applicationWillTerminate();
    EXPECT_FALSE(fs::exists(second.parent_path()));
    EXPECT_FALSE(appDelegate.exportURL());
    // An earlier export is no longer referenced and stays where it was.
    EXPECT_TRUE(fs::is_directory(first / "Groceries.inkvale"));
    EXPECT_EQ(test::readFile(tmp() / "unrelated.txt"), "not ours to remove");
    EXPECT_TRUE(fs::is_directory(notes) && fs::exists(notes / "Groceries.txt"));
    appDelegate.applicationWillTerminate();  // twice is harmless
}

}  // namespace
}  // namespace ni
