// The platform layer: error messages, moving and removing trees, writing packages.

#include <cerrno>
#include <chrono>
#include <ctime>

#include "TestSupport.hpp"
#include "platform/Cancellation.hpp"
#include "platform/FileManager.hpp"
#include "platform/FileMove.hpp"
#include "platform/FileWrapper.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using namespace test;

TEST(Error, MessagesNameTheFileAndTheCause) {
    EXPECT_FALSE(Error());
    EXPECT_EQ(Error(ErrorKind::ReadFailed, "/x/a.txt", EACCES).message(),
              "The file “/x/a.txt” couldn’t be read: Permission denied.");
    EXPECT_EQ(Error(ErrorKind::NotRegularFile, "pipe.txt").message(),
              "The file “pipe.txt” couldn’t be read because it isn’t a regular file.");
    // Every kind has its own sentence naming the path.
    for (int kind = static_cast<int>(ErrorKind::FileNotFound);
         kind <= static_cast<int>(ErrorKind::ArchiveUnreadable); ++kind) {
        const std::string message = Error(static_cast<ErrorKind>(kind), "/some/where").message();
        EXPECT_NE(message.find("“/some/where”"), std::string::npos) << message;
    }
    // Paths that aren't UTF-8 are shown with escaped bytes.
    EXPECT_EQ(displayPath("/a/caf\xE9/\xC3\xA9\xFF.txt"), "/a/caf\\xE9/é\\xFF.txt");
    EXPECT_EQ(displayPath("\xED\xA0\x80"), "\\xED\\xA0\\x80");  // an encoded surrogate isn't UTF-8
}

// Faults are cleared after each test.
class FileMoveTest : public ScratchTest {
protected:
    // An export-like tree with what a move must keep: modes, dates, links as links, a named pipe.
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
        ASSERT_EQ(::mkfifo((source / "pipe").c_str(), 0600), 0);
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

    // A package holding a text file and a reference to picture.
    std::unique_ptr<FileWrapper> package(const fs::path& picture) {
        FileWrapper::Children media;
        media.emplace("p.png", FileWrapper::fileReference(picture));
        FileWrapper::Children children;
        children.emplace("Text.txt", FileWrapper::regularFile("text"));
        children.emplace("Media", FileWrapper::directory(std::move(media)));
        return FileWrapper::directory(std::move(children));
    }

    fs::path source, outside, chosen;
    std::string before;
};

TEST_F(FileMoveTest, AcrossFileSystemsCopiesTheTreeWholeOrLeavesNoPartialCopy) {
    // Across file systems the rename fails; a copy that fails part-way (the disk
    // full at its third file) is removed.
    Error error;
    sys::injectFault(sys::Operation::Rename, EXDEV);
    sys::injectFault(sys::Operation::Write, ENOSPC, 2);
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

    // Without the no-replace rename a folder's new name is claimed with mkdir, then renamed over.
    sys::clearFaults();
    sys::injectFault(sys::Operation::RenameNoReplace, EINVAL);
    ASSERT_TRUE(moveItemAtURL(source, chosen / "Moved", &error)) << error.message();
    EXPECT_EQ(fingerprint(chosen / "Moved"), before);
    // Nor hard links: a file is renamed once nothing is found at its new name.
    sys::injectFault(sys::Operation::Link, EPERM);
    EXPECT_FALSE(moveItemAtURL(chosen / "Moved" / "a.txt", chosen / "File" / "Notara Export", &error));
    EXPECT_EQ(error.kind(), ErrorKind::AlreadyExists);
    ASSERT_TRUE(moveItemAtURL(chosen / "Moved" / "a.txt", chosen / "a.txt", &error)) << error.message();
    EXPECT_EQ(readFile(chosen / "a.txt"), "alpha");
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

using FileWrapperWrite = FileMoveTest;

TEST_F(FileWrapperWrite, CopiesReferencedFilesWithTheirTimesAndNeverOverwrites) {
    const auto picture = root() / "in" / "p.png";
    writeFile(picture, std::string(300000, 'x'));
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, picture.c_str(), old, 0);
    ASSERT_TRUE(package(picture)->writeToURL(root() / "out.inkvale", nullptr));
    EXPECT_EQ(readFile(root() / "out.inkvale" / "Media" / "p.png"), readFile(picture));
    EXPECT_EQ(modified(root() / "out.inkvale" / "Media" / "p.png"), 1000000000);

    // Failures name the item and never overwrite.
    writeFile(root() / "taken", "mine");
    Error error;
    EXPECT_FALSE(FileWrapper::regularFile("new")->writeToURL(root() / "taken", &error));
    EXPECT_EQ(error.kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(readFile(root() / "taken"), "mine");

    // A dangling link in the way is not written through.
    fs::create_symlink(root() / "target-outside", root() / "dangling");
    EXPECT_FALSE(FileWrapper::regularFile("x")->writeToURL(root() / "dangling", &error));
    EXPECT_FALSE(fs::exists(root() / "target-outside"));

    sys::injectFault(sys::Operation::Copy, EFBIG);
    EXPECT_FALSE(package(picture)->writeToURL(root() / "big.inkvale", &error));
    EXPECT_EQ(error.osError(), EFBIG);
    EXPECT_EQ(error.path(), root() / "big.inkvale" / "Media" / "p.png");

    sys::clearFaults();
    EXPECT_FALSE(FileWrapper::regularFile("x")->writeToURL(root() / std::string(300, 'n'), &error));
    EXPECT_EQ(error.kind(), ErrorKind::NameTooLong);
    // A picture that has become a link by the time it is copied is not followed.
    fs::remove(picture);
    fs::create_symlink(root() / "taken", picture);
    EXPECT_FALSE(package(picture)->writeToURL(root() / "swapped.inkvale", &error));
    EXPECT_EQ(error.kind(), ErrorKind::NotRegularFile);
}

TEST_F(FileWrapperWrite, DatesAreAppliedExactlyOrNotAtAll) {
    using namespace std::chrono;
    // Past 2262, where nanoseconds since 1970 end; before what the file system holds; before 1970; too late.
    const std::pair<sys_days, bool> cases[] = {{2300y / January / 5, true},
                                               {1600y / January / 5, false},
                                               {1969y / July / 20, true},
                                               {9999y / December / 31, false}};
    for (const auto& [day, applied] : cases) {
        const auto url = root() / ("dated" + std::to_string(int(day.time_since_epoch().count())));
        auto folder = FileWrapper::directory({});
        folder->modificationDate = Date(day + 15h + 4min);
        Error error;
        ASSERT_TRUE(folder->writeToURL(url, &error)) << error.message();
        const auto seconds = duration_cast<std::chrono::seconds>((day + 15h + 4min).time_since_epoch()).count();
        EXPECT_EQ(modified(url) == seconds, applied) << url;
        EXPECT_EQ(folder->modificationDateWasLeftOut(), !applied);
        // Unapplied means the time the item got when written, not a clamped one.
        EXPECT_TRUE(applied || std::abs(modified(url) - ::time(nullptr)) < 3600) << modified(url);
    }
}

}  // namespace
}  // namespace ni
