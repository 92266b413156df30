#include "TestSupport.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {
namespace {

class URLPathUtilities : public test::ScratchTest {};

TEST_F(URLPathUtilities, ValuesAreReadFreshFromTheItemItself) {
    const auto item = root() / "item";
    test::writeFile(item, "file");
    EXPECT_FALSE(isDirectoryURL(item));
    test::fs::remove(item);
    test::fs::create_directory(item);
    EXPECT_TRUE(isDirectoryURL(item));  // the same location asked again sees the new item

    test::fs::create_directories(root() / "Sheet.inkvale");
    const auto values = uncachedResourceValuesForKeys(
        root() / "Sheet.inkvale", {std::string(kURLIsDirectoryKey), std::string(kURLIsPackageKey), "Unknown"},
        nullptr);
    ASSERT_TRUE(values);
    EXPECT_EQ(*values, (ResourceValues{{"IsDirectory", true}, {"IsPackage", true}}));
    EXPECT_TRUE(isDirectoryURL(root() / "Sheet.inkvale"));
    EXPECT_EQ(uncachedResourceValueForKey(item, kURLIsPackageKey, nullptr), false);

    test::fs::create_directory_symlink(item, root() / "link");
    EXPECT_FALSE(isDirectoryURL(root() / "link"));
    EXPECT_EQ(uncachedResourceValueForKey(root() / "link", kURLIsSymbolicLinkKey, nullptr), true);
}

TEST_F(URLPathUtilities, MissingItemsReportThroughTheErrorSlot) {
    Error error;
    EXPECT_FALSE(
        uncachedResourceValuesForKeys(root() / "missing", {std::string(kURLIsDirectoryKey)}, &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    EXPECT_FALSE(uncachedResourceValueForKey(root() / "missing", kURLIsDirectoryKey, nullptr));
    EXPECT_FALSE(isDirectoryURL(root() / "missing"));
    // A later success clears an earlier error; an empty key list is a successful read of nothing.
    const auto none = uncachedResourceValuesForKeys(root(), {}, &error);
    EXPECT_TRUE(none && none->empty());
    EXPECT_FALSE(error);
}

TEST(PathExtension, LastComponentOnly) {
    EXPECT_EQ(pathExtension("a/b.c/name.tar.gz"), "gz");
    EXPECT_EQ(pathExtension("a/b.c/name"), "");
    EXPECT_EQ(pathExtension(".profile"), "");
    EXPECT_EQ(pathExtension("dir.d/"), "d");
    EXPECT_EQ(lastPathComponentDeletingPathExtension("/x/a.b.txt"), "a.b");
    EXPECT_EQ(lastPathComponentDeletingPathExtension("README"), "README");
    EXPECT_EQ(lastPathComponentDeletingPathExtension(".profile"), ".profile");
}

}  // namespace
}  // namespace ni
