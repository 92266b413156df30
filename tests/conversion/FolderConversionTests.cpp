#include <sys/stat.h>

#include <cerrno>

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using test::writeFile;
using test::fs::path;

// Every path below root, relative, sorted; "/" marks folders.
std::vector<std::string> tree(const path& root) {
    std::vector<std::string> entries;
    for (const auto& entry : test::fs::recursive_directory_iterator(root)) {
        std::string relative = test::fs::relative(entry.path(), root).string();
        if (entry.is_directory() && !entry.is_symlink()) relative += "/";
        entries.push_back(relative);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

class FolderConversion : public test::ScratchTest {
protected:
    void TearDown() override {
        sys::clearFaults();
        test::ScratchTest::TearDown();
    }
    path source() const { return root() / "Notes"; }
    // The temporary area holds nothing of ours but the pending export's folder.
    std::size_t temporaryFolders() const {
        const path container = tmp() / "net.notara2inkvale.converter";
        if (!test::fs::exists(container)) return 0;
        return static_cast<std::size_t>(std::distance(test::fs::directory_iterator(container), {}));
    }

    test::RecordingUserInterface ui;
    AppDelegate controller{&ui};
};

TEST_F(FolderConversion, WritesOneGroupPerSubFolderAndSkipsWhatIsNoNote) {
    writeFile(source() / "Top.txt", "Top\nbody");
    writeFile(source() / "Readme.MD", "Readme");
    writeFile(source() / "photo.png", "png");
    writeFile(source() / "table.csv", "a,b");
    writeFile(source() / ".hidden.txt", "hidden");
    writeFile(source() / ".Hidden Folder" / "x.txt", "x");
    writeFile(source() / "Work" / "Plan.txt", "Plan");
    writeFile(source() / "Work" / "Deep" / "Ignored.txt", "two levels down");
    writeFile(source() / "Work" / "image.jpg", "jpg");
    test::fs::create_directories(source() / "Empty");
    const auto before = tree(source());

    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(source(), &error)) << error.message();
    ASSERT_TRUE(controller.exportURL());
    EXPECT_EQ(controller.exportURL()->filename(), "Notara Export");
    EXPECT_EQ(ui.statusTexts.back(), "IMPORT SUCCESSFUL");
    EXPECT_GT(ui.progressCalls, 0u);
    EXPECT_EQ(tree(*controller.exportURL()),
              (std::vector<std::string>{"Empty/", "Readme.inkvale/", "Readme.inkvale/Content.xml",
                                        "Readme.inkvale/Text.txt", "Top.inkvale/", "Top.inkvale/Content.xml",
                                        "Top.inkvale/Text.txt", "Work/", "Work/Plan.inkvale/",
                                        "Work/Plan.inkvale/Content.xml", "Work/Plan.inkvale/Text.txt"}));
    const auto& summary = controller.lastConversionSummary();
    EXPECT_EQ(summary.notes, 3u);
    EXPECT_EQ(summary.subFolders, 2u);
    EXPECT_EQ(tree(source()), before);  // the source is only read
}

TEST_F(FolderConversion, NothingToConvertShowsTheAlertOnly) {
    writeFile(source() / ".hidden.txt", "x");
    writeFile(source() / "picture.png", "png");
    Error error(ErrorKind::ReadFailed, "untouched");
    EXPECT_FALSE(controller.convertFolderAtURL(source(), &error));
    EXPECT_EQ(error.kind(), ErrorKind::ReadFailed);  // left as it was
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].messageText, "No files found");
    EXPECT_EQ(ui.alerts[0].informativeText, "No importable files were found in “Notes”.");
    EXPECT_EQ(ui.alerts[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(temporaryFolders(), 0u);
    EXPECT_FALSE(controller.exportURL());
}

TEST_F(FolderConversion, OneBadNoteFailsTheRunBeforeAnythingIsWritten) {
    writeFile(source() / "Good.txt", "Good");
    writeFile(source() / "Sub" / "Bad.txt", "Bad \xFF");
    Error error;
    EXPECT_FALSE(controller.convertFolderAtURL(source(), &error));
    EXPECT_EQ(error.kind(), ErrorKind::InvalidUTF8);
    EXPECT_EQ(error.path(), source() / "Sub" / "Bad.txt");
    EXPECT_EQ(temporaryFolders(), 0u);
    EXPECT_TRUE(ui.statusTexts.empty());
}

TEST_F(FolderConversion, TheFirstBadNoteInNameOrderIsReported) {
    // Enough notes to be read on several threads; two of them bad.
    for (int i = 100; i < 400; ++i)
        writeFile(source() / (std::to_string(i) + ".txt"), i % 150 == 20 ? "\xFF" : "ok");
    Error error;
    EXPECT_FALSE(controller.convertFolderAtURL(source(), &error));
    EXPECT_EQ(error.path(), source() / "170.txt");
    EXPECT_EQ(temporaryFolders(), 0u);
}

TEST_F(FolderConversion, CollidingNamesAreNumberedInNameOrder) {
    writeFile(source() / "a.txt", "1");
    writeFile(source() / "a.md", "2");
    writeFile(source() / "A.TXT", "3");
    writeFile(source() / "Caf\xC3\xA9.txt", "nfc");
    writeFile(source() / "Cafe\xCC\x81.txt", "nfd");
    writeFile(source() / "x.inkvale" / "n.txt", "a folder that looks like a package");
    writeFile(source() / "x.txt", "x");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(source(), &error)) << error.message();
    const path out = *controller.exportURL();
    EXPECT_EQ(test::readFile(out / "A.inkvale" / "Text.txt"), "3");
    EXPECT_EQ(test::readFile(out / "a - 2.inkvale" / "Text.txt"), "2");
    EXPECT_EQ(test::readFile(out / "a - 3.inkvale" / "Text.txt"), "1");
    // The decomposed name sorts first and keeps its name; the later one is numbered (decomposed).
    EXPECT_EQ(test::readFile(out / "Cafe\xCC\x81.inkvale" / "Text.txt"), "nfd");
    EXPECT_EQ(test::readFile(out / "Cafe\xCC\x81 - 2.inkvale" / "Text.txt"), "nfc");
    EXPECT_TRUE(test::fs::exists(out / "x.inkvale" / "n.inkvale"));
    EXPECT_EQ(test::readFile(out / "x - 2.inkvale" / "Text.txt"), "x");
}

TEST_F(FolderConversion, SymbolicLinksAreNeverFollowed) {
    writeFile(root() / "outside" / "Secret.txt", "secret");
    writeFile(source() / "Real.txt", "real");
    test::fs::create_directories(source() / "Sub");
    test::fs::create_symlink(root() / "outside" / "Secret.txt", source() / "Link.txt");
    test::fs::create_directory_symlink(root() / "outside", source() / "LinkedFolder");
    test::fs::create_symlink(root() / "missing.txt", source() / "Sub" / "Dangling.txt");
    test::fs::create_directory_symlink(source(), source() / "Sub" / "Loop");
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(source(), &error)) << error.message();
    EXPECT_EQ(tree(*controller.exportURL()),
              (std::vector<std::string>{"Real.inkvale/", "Real.inkvale/Content.xml", "Real.inkvale/Text.txt",
                                        "Sub/"}));
    EXPECT_EQ(controller.lastConversionSummary().skippedLinks, 4u);
}

TEST_F(FolderConversion, WriteFailureRemovesTheRunsTemporaryFolder) {
    writeFile(source() / "One.txt", "1");
    writeFile(source() / "Two.txt", "2");
    sys::injectFault(sys::Operation::Write, ENOSPC, 1);
    Error error;
    EXPECT_FALSE(controller.convertFolderAtURL(source(), &error));
    EXPECT_EQ(error.kind(), ErrorKind::WriteFailed);
    EXPECT_EQ(error.osError(), ENOSPC);
    EXPECT_NE(error.message().find("No space left on device"), std::string::npos) << error.message();
    EXPECT_EQ(temporaryFolders(), 0u);
    EXPECT_FALSE(controller.exportURL());
    EXPECT_TRUE(ui.statusTexts.empty());
}

TEST_F(FolderConversion, UnlistableFolderFailsTheRun) {
    const test::SharedScratch shared;
    const path notes = shared.path() / "Notes";
    writeFile(notes / "Locked" / "n.txt", "n");
    ::chmod((notes / "Locked").c_str(), 0);
    ASSERT_TRUE(shared.reachedUnprivileged());
    const int kind = test::runUnprivileged([&] {
        Error error;
        if (controller.convertFolderAtURL(notes, &error)) return 0;
        return error.path() == notes / "Locked" ? static_cast<int>(error.kind()) : 100;
    });
    EXPECT_EQ(kind, static_cast<int>(ErrorKind::ListFailed));
    EXPECT_TRUE(shared.leftInTemporaryArea().empty());
}

}  // namespace
}  // namespace ni
