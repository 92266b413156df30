#include <cerrno>

#include "TestSupport.hpp"
#include "platform/Cancellation.hpp"
#include "platform/FileManager.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using namespace test;

class FileMoveTest : public ScratchTest {
protected:
    // An export-like tree with what a move must keep: modes, dates, links as links.
    void SetUp() override {
        ScratchTest::SetUp();
        fs::create_directories(chosen = root() / "Chosen");
        source = tmp() / "unique" / "Notara Export";
        outside = root() / "outside";
        writeFile(source / "a.txt", "alpha");
        writeFile(source / "Group" / "b.txt", "beta");
        writeFile(source / "ReadOnly" / "c.txt", "gamma");
        writeFile(outside / "secret.txt", "not part of the export");
        fs::create_symlink("a.txt", source / "relative-link");
        fs::create_symlink(outside, source / "outside-link");
        const struct timespec times[2] = {{978307200, 0}, {978307200, 0}};
        for (const char* each : {"a.txt", "Group/b.txt", "Group", "ReadOnly"})
            ::utimensat(AT_FDCWD, (source / each).c_str(), times, 0);
        ::chmod((source / "a.txt").c_str(), 0640);
        ::chmod((source / "Group").c_str(), 0750);
        ::chmod((source / "ReadOnly").c_str(), 0555);
        before = fingerprint(source);
    }
    void TearDown() override {
        sys::clearFaults();
        ScratchTest::TearDown();
    }

    fs::path source, outside, chosen;
    std::string before;
};

TEST_F(FileMoveTest, AcrossFileSystemsCopiesTheTreeWholeOrLeavesNoPartialCopy) {
    // Across file systems the rename fails; a copy that fails part-way is removed.
    Error error;
    sys::injectFault(sys::Operation::Rename, EXDEV);
    sys::injectFault(sys::Operation::Copy, ENOSPC, 3);
    EXPECT_FALSE(moveItemAtURL(source, chosen / "Notara Export", &error));
    EXPECT_EQ(error.kind(), ErrorKind::MoveFailed);
    EXPECT_EQ(error.osError(), ENOSPC);
    EXPECT_EQ(entriesOf(chosen), Names{});
    EXPECT_EQ(fingerprint(source), before);

    sys::clearFaults();
    sys::injectFault(sys::Operation::Rename, EXDEV);
    ASSERT_TRUE(moveItemAtURL(source, chosen / "Notara Export", &error)) << error.message();
    EXPECT_EQ(fingerprint(chosen / "Notara Export"), before);
    EXPECT_EQ(entriesOf(chosen), Names{"Notara Export"});
    // Removing the source unlinked its link to a folder outside and left that folder alone.
    EXPECT_FALSE(fs::exists(fs::symlink_status(source)));
    EXPECT_EQ(readFile(outside / "secret.txt"), "not part of the export");
}

TEST_F(FileMoveTest, FailuresNeverReplaceOrMergeNameTheDestinationAndUndoHalfMadeMoves) {
    writeFile(chosen / "Folder" / "Notara Export" / "mine.txt", "keep me");
    writeFile(chosen / "File" / "Notara Export", "keep me too");
    fs::create_directories(chosen / "Link");
    fs::create_symlink(root() / "nowhere", chosen / "Link" / "Notara Export");
    const auto existing = fingerprint(chosen);
    for (const bool acrossFileSystems : {false, true}) {
        if (acrossFileSystems) sys::injectFault(sys::Operation::Rename, EXDEV);
        for (const char* place : {"Folder", "File", "Link"}) {
            SCOPED_TRACE(std::string(place) + (acrossFileSystems ? " across file systems" : ""));
            Error error;
            EXPECT_FALSE(moveItemAtURL(source, chosen / place / "Notara Export", &error));
            EXPECT_EQ(error.kind(), ErrorKind::AlreadyExists);
        }
    }
    EXPECT_EQ(fingerprint(chosen), existing);
    EXPECT_EQ(fingerprint(source), before);

    // A rename refused: the error names the place the user chose, not our temporary one.
    sys::clearFaults();
    Error error;
    sys::injectFault(sys::Operation::Rename, EACCES);
    EXPECT_FALSE(moveItemAtURL(source, chosen / "Notara Export", &error));
    EXPECT_EQ(error.kind(), ErrorKind::MoveFailed);
    EXPECT_EQ(error.message(), "The folder couldn’t be moved to “" + (chosen / "Notara Export").native() +
                                   "”: Permission denied.");

    // A file system without the no-replace rename, where the old name won't go
    // after link(): the move fails and the item keeps only its old name.
    sys::clearFaults();
    sys::injectFault(sys::Operation::RenameNoReplace, EINVAL);
    sys::injectFault(sys::Operation::Unlink, EPERM);
    EXPECT_FALSE(moveItemAtURL(source / "a.txt", chosen / "a.txt", &error));
    EXPECT_EQ(error.osError(), EPERM);
    EXPECT_FALSE(fs::exists(chosen / "a.txt"));

    // A cancel during a copy across file systems: no partial copy, the source as it was.
    sys::clearFaults();
    sys::injectFault(sys::Operation::Rename, EXDEV);
    requestCancellation();
    EXPECT_FALSE(moveItemAtURL(source, chosen / "Notara Export", &error));
    clearCancellation();
    EXPECT_EQ(error.kind(), ErrorKind::Cancelled);
    EXPECT_EQ(entriesOf(chosen), (Names{"File", "Folder", "Link"}));
    EXPECT_EQ(fingerprint(source), before);
}

TEST_F(FileMoveTest, RemovalEmptiesReadOnlyFoldersOfOursWithoutRoot) {
    const fs::path tree = root() / "tree";
    writeFile(tree / "locked" / "file", "x");
    ::chmod((tree / "locked").c_str(), 0555);
    ASSERT_TRUE(!runningAsRoot() || run({"chown", "-R", "65534:65534", tree.native()}).status == 0);
    ASSERT_TRUE(shareWithUnprivileged());
    EXPECT_EQ(runUnprivileged([&] { return removeItemAtURL(tree, nullptr) ? 0 : 1; }), 0);
    EXPECT_FALSE(fs::exists(tree));
}

}  // namespace
}  // namespace ni
