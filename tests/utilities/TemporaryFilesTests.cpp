#include <sys/stat.h>

#include "TestSupport.hpp"
#include "platform/Error.hpp"
#include "utilities/TemporaryFiles.hpp"
#include "utilities/UniqueIdentifier.hpp"

namespace ni {
namespace {

using namespace test;

class TemporaryFiles : public ScratchTest {
protected:
    static unsigned mode(const fs::path& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    fs::path container() const { return tmp() / config::kAppId; }
};

TEST_F(TemporaryFiles, UniqueFoldersArePrivateSideBySideAndNeverInAHijackedContainer) {
    // Identifiers: 32 lower-case hex digits that don't repeat.
    const std::string id = newUniqueIdentifier();
    EXPECT_TRUE(id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos) << id;
    EXPECT_NE(id, newUniqueIdentifier());
    EXPECT_EQ(temporaryContainerURLForContext(std::nullopt), container());
    EXPECT_EQ(temporaryContainerURLForContext("ctx"), container() / "ctx");
    EXPECT_FALSE(fs::exists(container()));  // asking creates nothing

    Error error;
    const auto first = createUniqueTemporaryDirectoryWithError(&error);
    const auto second = createUniqueTemporaryDirectoryWithError(&error);
    ASSERT_TRUE(first && second) << error.message();
    EXPECT_NE(*first, *second);
    EXPECT_EQ(first->parent_path(), container());
    EXPECT_EQ(mode(container()), 0700u);
    EXPECT_EQ(mode(*first), 0700u);
    const auto inContext = createUniqueTemporaryDirectoryWithContext("ctx", &error);
    ASSERT_TRUE(inContext);
    EXPECT_EQ(inContext->parent_path(), container() / "ctx");

    removeTemporaryItemsForContext("ctx");
    EXPECT_FALSE(fs::exists(container() / "ctx"));
    EXPECT_TRUE(fs::exists(*first));
    removeTemporaryItemsForContext("never-made");  // nothing there, nothing reported
    removeTemporaryItemsForContext(std::nullopt);
    EXPECT_FALSE(fs::exists(container()));

    // A container of ours left open to others is tightened before use.
    fs::create_directories(container());
    ::chmod(container().c_str(), 0777);
    ASSERT_TRUE(createUniqueTemporaryDirectoryWithError(nullptr));
    EXPECT_EQ(mode(container()), 0700u);
    fs::remove_all(container());

    // A hijacked container is refused and never written into.
    fs::create_directories(root() / "attacker");
    fs::create_directory_symlink(root() / "attacker", container());
    EXPECT_FALSE(createUniqueTemporaryDirectoryWithError(&error));
    EXPECT_EQ(error.kind(), ErrorKind::UnsafeTemporaryArea);
    EXPECT_TRUE(has(error.message(), "symbolic link"));
    EXPECT_TRUE(fs::is_empty(root() / "attacker"));

    fs::remove(container());
    writeFile(container(), "a file");
    EXPECT_FALSE(createUniqueTemporaryDirectoryWithError(&error));
    EXPECT_EQ(error.kind(), ErrorKind::UnsafeTemporaryArea);

    // A container that belongs to someone else (root's, seen from "nobody").
    fs::remove(container());
    fs::create_directories(container());
    ASSERT_TRUE(shareWithUnprivileged());
    const int status =
        runUnprivileged([&] { return createUniqueTemporaryDirectoryWithError(nullptr) ? 1 : 0; });
    EXPECT_EQ(status, runningAsRoot() ? 0 : 1);
}

TEST_F(TemporaryFiles, TemporaryFilesAreEmptyFilesOrPackageFoldersUnderTMPDIR) {
    const auto text = createTemporaryFileWithPathExtension("txt");
    ASSERT_TRUE(text);
    EXPECT_TRUE(fs::is_regular_file(*text) && fs::is_empty(*text) && text->extension() == ".txt");
    EXPECT_EQ(text->parent_path().parent_path(), container());
    const auto package = createTemporaryFileWithTypeIdentifier("net.inkvale.sheet");
    EXPECT_TRUE(package && fs::is_directory(*package) && package->extension() == ".inkvale");
    // An item that can't be made is reported (the location still comes back).
    Error error;
    const auto tooLong = createTemporaryFileWithPathExtension(std::string(300, 'x'), &error);
    ASSERT_TRUE(tooLong);
    std::error_code ec;
    EXPECT_FALSE(fs::exists(*tooLong, ec));
    EXPECT_EQ(error.kind(), ErrorKind::WriteFailed);
    EXPECT_EQ(error.osError(), ENAMETOOLONG);

    // The temporary area comes from an absolute TMPDIR, and a missing one is never made.
    ::setenv("TMPDIR", "relative/path", 1);
    EXPECT_EQ(temporaryDirectory(), "/tmp");
    ::setenv("TMPDIR", (root() / "missing").c_str(), 1);
    EXPECT_FALSE(createUniqueTemporaryDirectoryWithError(&error));
    EXPECT_EQ(error.kind(), ErrorKind::UnsafeTemporaryArea);
    EXPECT_EQ(error.path(), root() / "missing");
    EXPECT_FALSE(fs::exists(root() / "missing"));
}

}  // namespace
}  // namespace ni
