#include <sys/stat.h>

#include "TestSupport.hpp"
#include "platform/Error.hpp"
#include "utilities/TemporaryFiles.hpp"
#include "utilities/UniqueIdentifier.hpp"

namespace ni {
namespace {

class TemporaryFiles : public test::ProcessTest {
protected:
    static unsigned mode(const test::fs::path& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
};

TEST_F(TemporaryFiles, UniqueFoldersArePrivateSideBySideAndNeverInAHijackedContainer) {
    // Identifiers: 32 lower-case hex digits that don't repeat.
    const std::string id = newUniqueIdentifier();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    EXPECT_NE(id, newUniqueIdentifier());

    EXPECT_EQ(temporaryContainerURLForContext(std::nullopt), temporaryContainer());
    EXPECT_EQ(temporaryContainerURLForContext("ctx"), temporaryContainer() / "ctx");
    EXPECT_FALSE(test::fs::exists(temporaryContainer()));  // asking creates nothing

    Error error;
    const auto first = createUniqueTemporaryDirectoryWithError(&error);
    const auto second = createUniqueTemporaryDirectoryWithError(&error);
    ASSERT_TRUE(first && second) << error.message();
    EXPECT_NE(*first, *second);
    EXPECT_EQ(first->parent_path(), temporaryContainer());
    EXPECT_EQ(mode(temporaryContainer()), 0700u);
    EXPECT_EQ(mode(*first), 0700u);
    const auto inContext = createUniqueTemporaryDirectoryWithContext("ctx", &error);
    ASSERT_TRUE(inContext);
    EXPECT_EQ(inContext->parent_path(), temporaryContainer() / "ctx");

    removeTemporaryItemsForContext("ctx");
    EXPECT_FALSE(test::fs::exists(temporaryContainer() / "ctx"));
    EXPECT_TRUE(test::fs::exists(*first));
    removeTemporaryItemsForContext("never-made");  // nothing there, nothing reported
    removeTemporaryItemsForContext(std::nullopt);
    EXPECT_FALSE(test::fs::exists(temporaryContainer()));

    // A container of ours left open to others is tightened before use.
    test::fs::create_directories(temporaryContainer());
    ::chmod(temporaryContainer().c_str(), 0777);
    ASSERT_TRUE(createUniqueTemporaryDirectoryWithError(nullptr));
    EXPECT_EQ(mode(temporaryContainer()), 0700u);
    test::fs::remove_all(temporaryContainer());

    // A hijacked container is refused and never written into.
    test::fs::create_directories(root() / "attacker");
    test::fs::create_directory_symlink(root() / "attacker", temporaryContainer());
    EXPECT_FALSE(createUniqueTemporaryDirectoryWithError(&error));
    EXPECT_EQ(error.kind(), ErrorKind::UnsafeTemporaryArea);
    EXPECT_NE(error.message().find("symbolic link"), std::string::npos);
    EXPECT_TRUE(test::fs::is_empty(root() / "attacker"));

    test::fs::remove(temporaryContainer());
    test::writeFile(temporaryContainer(), "a file");
    EXPECT_FALSE(createUniqueTemporaryDirectoryWithError(&error));
    EXPECT_EQ(error.kind(), ErrorKind::UnsafeTemporaryArea);

    // A container that belongs to someone else (root's, seen from "nobody").
    const test::SharedScratch shared;
    test::fs::create_directories(shared.tmp() / config::kAppId);
    ASSERT_TRUE(shared.reachedUnprivileged());
    const int status =
        test::runUnprivileged([&] { return createUniqueTemporaryDirectoryWithError(nullptr) ? 1 : 0; });
    EXPECT_EQ(status, test::runningAsRoot() ? 0 : 1);
}

TEST_F(TemporaryFiles, TemporaryFilesAreEmptyFilesOrPackageFoldersUnderTMPDIR) {
    const auto text = createTemporaryFileWithPathExtension("txt");
    ASSERT_TRUE(text);
    EXPECT_TRUE(test::fs::is_regular_file(*text));
    EXPECT_EQ(test::fs::file_size(*text), 0u);
    EXPECT_EQ(text->extension(), ".txt");
    EXPECT_EQ(text->parent_path().parent_path(), temporaryContainer());
    const auto package = createTemporaryFileWithTypeIdentifier("net.inkvale.sheet");
    ASSERT_TRUE(package);
    EXPECT_TRUE(test::fs::is_directory(*package));
    EXPECT_EQ(package->extension(), ".inkvale");
    // An item that can't be made is reported (the location still comes back).
    Error error;
    const auto tooLong = createTemporaryFileWithPathExtension(std::string(300, 'x'), &error);
    ASSERT_TRUE(tooLong);
    std::error_code ec;
    EXPECT_FALSE(test::fs::exists(*tooLong, ec));
    EXPECT_EQ(error.kind(), ErrorKind::WriteFailed);
    EXPECT_EQ(error.osError(), ENAMETOOLONG);

    // The temporary area comes from an absolute TMPDIR, and a missing one is never made.
    ::setenv("TMPDIR", "relative/path", 1);
    EXPECT_EQ(temporaryDirectory(), "/tmp");
    ::setenv("TMPDIR", (root() / "missing").c_str(), 1);
    EXPECT_FALSE(createUniqueTemporaryDirectoryWithError(&error));
    EXPECT_EQ(error.kind(), ErrorKind::UnsafeTemporaryArea);
    EXPECT_EQ(error.path(), root() / "missing");
    EXPECT_FALSE(test::fs::exists(root() / "missing"));
}

}  // namespace
}  // namespace ni
