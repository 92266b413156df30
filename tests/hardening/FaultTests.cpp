#include <cerrno>

#include "HardeningSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

class Faults : public test::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        writeFile(notes() / "Note.txt", "Note\nbody\n\nPicture: photo.png\n");
        writeFile(notes() / "Pictures" / "photo.png", "png bytes");
        writeFile(notes() / "Work" / "Plan.txt", "Plan\nsteps");
    }
    void TearDown() override {
        sys::clearFaults();
        ScratchTest::TearDown();
    }
    fs::path notes() const { return root() / "Notes"; }
    std::vector<std::string> leftInTemporaryArea() const {
        return test::entriesOf(test::temporaryContainer(tmp()));
    }
};

// Runs a hook when the conversion starts writing, after every note was read.
class HookedInterface : public test::RecordingUserInterface {
public:
    std::function<void()> beforeWriting;
    void conversionProgress(ConversionPhase phase, std::size_t done, std::size_t total) override {
        RecordingUserInterface::conversionProgress(phase, done, total);
        if (phase == ConversionPhase::WritingPackages && done == 0 && beforeWriting)
            std::exchange(beforeWriting, {})();
    }
};

TEST_F(Faults, PictureVanishingBeforeItIsCopiedFailsTheRunWithNothingPending) {
    HookedInterface ui;
    ui.beforeWriting = [&] { fs::remove(notes() / "Pictures" / "photo.png"); };
    AppDelegate controller(&ui);
    Error error;
    EXPECT_FALSE(controller.convertFolderAtURL(notes(), &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    EXPECT_EQ(error.path(), notes() / "Pictures" / "photo.png");
    EXPECT_FALSE(controller.exportURL());
    EXPECT_TRUE(ui.statusTexts.empty());
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

TEST_F(Faults, UnreadableNoteOrPictureFailsTheRunNamingIt) {
    ::chmod(tmp().c_str(), 0777);  // the unprivileged run makes its own container here
    const auto attempt = [&](const fs::path& locked) {
        ::chmod(locked.c_str(), 0);
        const int result = test::runUnprivileged([&] {
            AppDelegate controller(nullptr);
            Error error;
            if (controller.convertFolderAtURL(notes(), &error)) return 1;
            if (error.path() != locked) return 2;
            if (error.osError() != EACCES) return 3;
            return error.kind() == ErrorKind::ReadFailed ? 0 : 4;
        });
        ::chmod(locked.c_str(), 0644);
        return result;
    };
    const int note = attempt(notes() / "Work" / "Plan.txt");
    if (note == 255) GTEST_SKIP() << "couldn't drop privileges";
    EXPECT_EQ(note, 0);
    EXPECT_EQ(attempt(notes() / "Pictures" / "photo.png"), 0);
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

class RealFaults : public Faults {
protected:
    void SetUp() override {
        Faults::SetUp();
        // Several megabytes: past a 1 MiB file-size limit and a 1 MiB file system.
        std::string big = "Big\n";
        while (big.size() < (3u << 20)) big += "all work and no play makes a long note\n";
        writeFile(notes() / "Big.txt", big);
        before = test::treeFingerprint(notes());
    }
    void TearDown() override {
        EXPECT_EQ(test::treeFingerprint(notes()), before);
        Faults::TearDown();
    }
    std::vector<std::string> before;
};

TEST_F(RealFaults, FileSizeLimitFailsTheRunNamingTheFileAndCleansUp) {
    const fs::path out = root() / "out";
    const auto run = test::runProgram({"/bin/sh", "-c", "ulimit -f 1024 && exec \"$0\" \"$@\"", test::kCli,
                                       "-o", out.native(), notes().native()},
                                      root());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("/Notara Export/Big.inkvale/Content.xml” couldn’t be written: File too large."),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(leftInTemporaryArea().empty());
    EXPECT_FALSE(fs::exists(out / "Notara Export"));
}

TEST_F(RealFaults, FullDiskFailsTheRunNamingTheFileAndCleansUp) {
    const fs::path mount = root() / "small";
    fs::create_directories(mount);
    // A 1 MiB tmpfs as the temporary area, in a private user and mount namespace;
    // afterwards the container on it is listed on stderr, from inside.
    const auto run =
        test::runProgram({"unshare", "-Urm", "sh", "-c",
                          "mount -t tmpfs -o size=1m tmpfs \"$0\" || exit 77; TMPDIR=\"$0\" \"$1\" -o \"$2\" "
                          "\"$3\"; status=$?; "
                          "echo \"left: $(ls -A \"$0\"/net.notara2inkvale.converter)\" >&2; exit $status",
                          mount.native(), test::kCli, (root() / "out").native(), notes().native()},
                         root());
    if (run.status == -1 || run.status == 77 || run.err.starts_with("unshare:"))
        GTEST_SKIP() << "no tmpfs in a private namespace here: " << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(
        run.err.find("/Notara Export/Big.inkvale/Content.xml” couldn’t be written: No space left on device."),
        std::string::npos)
        << run.err;
    EXPECT_TRUE(run.err.ends_with("left: \n")) << run.err;
    EXPECT_FALSE(fs::exists(root() / "out" / "Notara Export"));
}

TEST_F(Faults, DestinationFailingMidMoveKeepsTheExportPendingAndWhole) {
    test::RecordingUserInterface ui;
    AppDelegate controller(&ui);
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const fs::path exportURL = *controller.exportURL();
    const auto exported = test::treeFingerprint(exportURL);
    const fs::path chosen = root() / "Chosen";
    fs::create_directories(chosen);
    ui.panelAnswer = chosen;

    // Another file system that turns read-only or goes away part-way through the copy.
    sys::injectFault(sys::Operation::Rename, EXDEV);
    for (const int fault : {EROFS, ENOENT, EIO}) {
        sys::injectFault(sys::Operation::Copy, fault, 3);
        controller.saveFiles();
        ASSERT_FALSE(ui.errors.empty());
        EXPECT_EQ(ui.errors.back().kind(), ErrorKind::MoveFailed);
        EXPECT_EQ(ui.errors.back().osError(), fault);
        EXPECT_EQ(controller.exportURL(), exportURL);
        EXPECT_EQ(test::treeFingerprint(exportURL), exported);
        EXPECT_TRUE(test::entriesOf(chosen).empty()) << "a partial copy was left";
    }
    sys::clearFaults();

    // A chosen folder that is really gone by the time of the move.
    fs::remove(chosen);
    controller.saveFiles();
    EXPECT_EQ(ui.errors.back().kind(), ErrorKind::MoveFailed);
    EXPECT_EQ(controller.exportURL(), exportURL);
    EXPECT_EQ(ui.statusTexts.back(), kLabelExportPending);

    fs::create_directories(chosen);
    controller.saveFiles();
    EXPECT_FALSE(controller.exportURL());
    EXPECT_EQ(test::treeFingerprint(chosen / "Notara Export"), exported);
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

TEST_F(Faults, QuitCleanUpRemovesPlantedLinksNotWhatTheyPointTo) {
    AppDelegate controller(nullptr);
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const fs::path exportURL = *controller.exportURL();
    const fs::path outside = root() / "Outside";
    writeFile(outside / "keep.txt", "keep");
    writeFile(outside / "Folder" / "keep.txt", "keep");
    const auto kept = test::treeFingerprint(outside);
    const auto notesBefore = test::treeFingerprint(notes());
    fs::create_directory_symlink(outside, exportURL / "planted-folder");
    fs::create_symlink(outside / "keep.txt", exportURL / "Work" / "planted-file");
    fs::create_directory_symlink(notes(), exportURL / "Work" / "Plan.inkvale" / "planted-source");
    fs::remove_all(exportURL / "Note.inkvale" / "Media");
    fs::create_directory_symlink(outside / "Folder", exportURL / "Note.inkvale" / "Media");

    controller.applicationWillTerminate();
    EXPECT_FALSE(fs::exists(fs::symlink_status(exportURL.parent_path())));
    EXPECT_EQ(test::treeFingerprint(outside), kept);
    EXPECT_EQ(test::treeFingerprint(notes()), notesBefore);
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

}  // namespace
}  // namespace ni
