#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include "TestSupport.hpp"
#include "platform/Error.hpp"
#include "platform/FileWrapper.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

class FileWrapperWrite : public test::ScratchTest {
protected:
    void TearDown() override {
        sys::clearFaults();
        test::ScratchTest::TearDown();
    }
    std::unique_ptr<FileWrapper> package(const test::fs::path& picture) {
        FileWrapper::Children media;
        media.emplace("p.png", FileWrapper::fileReference(picture));
        FileWrapper::Children children;
        children.emplace("Text.txt", FileWrapper::regularFile("text"));
        children.emplace("Media", FileWrapper::directory(std::move(media)));
        return FileWrapper::directory(std::move(children));
    }
};

TEST_F(FileWrapperWrite, CopiesReferencedFilesWithTheirTimesAndNeverOverwrites) {
    const auto picture = root() / "in" / "p.png";
    test::writeFile(picture, std::string(300000, 'x'));
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, picture.c_str(), old, 0);
    ASSERT_TRUE(package(picture)->writeToURL(root() / "out.inkvale", nullptr));
    EXPECT_EQ(test::readFile(root() / "out.inkvale" / "Text.txt"), "text");
    EXPECT_EQ(test::readFile(root() / "out.inkvale" / "Media" / "p.png"), test::readFile(picture));
    struct stat st {};
    ::stat((root() / "out.inkvale" / "Media" / "p.png").c_str(), &st);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);

    // Failures name the item and never overwrite.
    test::writeFile(root() / "taken", "mine");
    Error error;
    EXPECT_FALSE(FileWrapper::regularFile("new")->writeToURL(root() / "taken", &error));
    EXPECT_EQ(error.kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(test::readFile(root() / "taken"), "mine");

    // A dangling link in the way is not written through.
    test::fs::create_symlink(root() / "target-outside", root() / "dangling");
    EXPECT_FALSE(FileWrapper::regularFile("x")->writeToURL(root() / "dangling", &error));
    EXPECT_FALSE(test::fs::exists(root() / "target-outside"));

    sys::injectFault(sys::Operation::Copy, EFBIG);
    EXPECT_FALSE(package(picture)->writeToURL(root() / "big.inkvale", &error));
    EXPECT_EQ(error.osError(), EFBIG);
    EXPECT_EQ(error.path(), root() / "big.inkvale" / "Media" / "p.png");

    sys::clearFaults();
    ASSERT_EQ(::mkfifo((root() / "in" / "fifo.png").c_str(), 0600), 0);
    EXPECT_FALSE(package(root() / "in" / "fifo.png")->writeToURL(root() / "fifo.inkvale", &error));
    EXPECT_EQ(error.kind(), ErrorKind::NotRegularFile);

    const std::string longName(300, 'n');
    EXPECT_FALSE(FileWrapper::regularFile("x")->writeToURL(root() / longName, &error));
    EXPECT_EQ(error.kind(), ErrorKind::NameTooLong);
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
        struct stat st {};
        ::stat(url.c_str(), &st);
        const auto seconds = duration_cast<std::chrono::seconds>((day + 15h + 4min).time_since_epoch()).count();
        // Unapplied means the time the item got when written, not a clamped one.
        EXPECT_EQ(st.st_mtim.tv_sec, applied ? seconds : st.st_mtim.tv_sec) << url;
        if (!applied) {
            EXPECT_LT(std::abs(st.st_mtim.tv_sec - ::time(nullptr)), 3600);
        }
    }
}

}  // namespace
}  // namespace ni
