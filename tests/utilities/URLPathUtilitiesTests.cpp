#include <array>
#include <tuple>

#include "TestSupport.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {
namespace {

using namespace test;
using URLPathUtilities = ScratchTest;

// Plain folders, files and missing items are what the drop view's table tries.
TEST_F(URLPathUtilities, ValuesDescribeTheItemItselfNeverALinksTarget) {
    writeFile(root() / ".hidden", "");
    writeFile(root() / "File.inkvale", "a file with a package's extension");
    fs::create_directories(root() / "Sheet.inkvale");
    fs::create_directory_symlink(root() / "Sheet.inkvale", root() / "link");
    const std::vector<std::string> keys = {std::string(kURLIsDirectoryKey), std::string(kURLIsRegularFileKey),
                                           std::string(kURLIsSymbolicLinkKey), std::string(kURLIsHiddenKey),
                                           std::string(kURLIsPackageKey)};
    // Directory, regular file, symbolic link, hidden, package.
    const std::pair<const char*, std::array<bool, 5>> cases[] = {
        {".hidden", {false, true, false, true, false}},
        {"File.inkvale", {false, true, false, false, false}},
        {"Sheet.inkvale", {true, false, false, false, true}},
        {"link", {false, false, true, false, false}},
    };
    for (const auto& [name, flags] : cases) {
        ResourceValues expected;
        for (std::size_t i = 0; i < flags.size(); ++i) expected[keys[i]] = flags[i];
        EXPECT_EQ(uncachedResourceValuesForKeys(root() / name, keys, nullptr), expected) << name;
    }
    EXPECT_EQ(uncachedResourceValueForKey(root() / "Sheet.inkvale", kURLIsPackageKey, nullptr), true);
    EXPECT_EQ(uncachedResourceValueForKey(root() / "Sheet.inkvale", "Unknown", nullptr), std::nullopt);
    // Missing items report through the error slot; a later success clears it.
    Error error;
    EXPECT_FALSE(uncachedResourceValuesForKeys(root() / "missing", keys, &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    EXPECT_EQ(error.path(), root() / "missing");
    EXPECT_TRUE(uncachedResourceValuesForKeys(root(), {}, &error));
    EXPECT_FALSE(error);
}

TEST(PathExtension, LastComponentOnly) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        // path, its extension, its last component less the extension
        {"a/b.c/name.tar.gz", "gz", "name.tar"},
        {"a/b.c/name", "", "name"},
        {".profile", "", ".profile"},
        {"dir.d/", "d", "dir"},
    };
    for (const auto& [path, extension, stem] : cases) {
        EXPECT_EQ(pathExtension(path), extension) << path;
        EXPECT_EQ(lastPathComponentDeletingPathExtension(path), stem) << path;
    }
}

}  // namespace
}  // namespace ni
