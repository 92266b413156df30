#include <array>
#include <tuple>

#include "TestSupport.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {
namespace {

using URLPathUtilities = test::ScratchTest;

TEST_F(URLPathUtilities, ValuesDescribeTheItemItselfNeverALinksTarget) {
    test::writeFile(root() / "note.txt", "note");
    test::writeFile(root() / ".hidden", "");
    test::writeFile(root() / "File.inkvale", "a file with a package's extension");
    test::fs::create_directories(root() / "Sheet.inkvale");
    test::fs::create_directories(root() / "Folder");
    test::fs::create_directory_symlink(root() / "Folder", root() / "link");
    const std::vector<std::string> keys = {
        std::string(kURLIsDirectoryKey),    std::string(kURLIsRegularFileKey),
        std::string(kURLIsSymbolicLinkKey), std::string(kURLIsHiddenKey),
        std::string(kURLIsPackageKey),      "Unknown"};
    // Directory, regular file, symbolic link, hidden, package; unknown keys give nothing.
    const std::pair<const char*, std::array<bool, 5>> cases[] = {
        {"note.txt", {false, true, false, false, false}},
        {".hidden", {false, true, false, true, false}},
        {"File.inkvale", {false, true, false, false, false}},
        {"Sheet.inkvale", {true, false, false, false, true}},
        {"Folder", {true, false, false, false, false}},
        {"link", {false, false, true, false, false}},
    };
    for (const auto& [name, flags] : cases) {
        SCOPED_TRACE(name);
        ResourceValues expected;
        for (std::size_t i = 0; i < flags.size(); ++i) expected[keys[i]] = flags[i];
        EXPECT_EQ(uncachedResourceValuesForKeys(root() / name, keys, nullptr), expected);
        EXPECT_EQ(uncachedResourceValueForKey(root() / name, kURLIsPackageKey, nullptr), flags[4]);
        EXPECT_EQ(isDirectoryURL(root() / name), flags[0]);
    }
    EXPECT_EQ(uncachedResourceValueForKey(root() / "note.txt", "Unknown", nullptr), std::nullopt);

    // Missing items report through the error slot.
    Error error;
    EXPECT_FALSE(
        uncachedResourceValuesForKeys(root() / "missing", {std::string(kURLIsDirectoryKey)}, &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    EXPECT_EQ(error.path(), root() / "missing");
    EXPECT_FALSE(uncachedResourceValueForKey(root() / "missing", kURLIsDirectoryKey, nullptr));
    EXPECT_FALSE(isDirectoryURL(root() / "missing"));
    // A later success clears an earlier error; an empty key list is a successful read of nothing.
    const auto none = uncachedResourceValuesForKeys(root(), {}, &error);
    EXPECT_TRUE(none && none->empty());
    EXPECT_FALSE(error);
}

TEST(PathExtension, LastComponentOnly) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        // path, its extension, its last component less the extension
        {"a/b.c/name.tar.gz", "gz", "name.tar"},
        {"a/b.c/name", "", "name"},
        {".profile", "", ".profile"},
        {"/x/a.b.txt", "txt", "a.b"},
        {"dir.d/", "d", "dir"},
    };
    for (const auto& [path, extension, stem] : cases) {
        EXPECT_EQ(pathExtension(path), extension) << path;
        EXPECT_EQ(lastPathComponentDeletingPathExtension(path), stem) << path;
    }
}

}  // namespace
}  // namespace ni
