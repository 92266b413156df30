// The utilities layer: file names and paths, word cuts, type identifiers, item
// values and the temporary area.

#include <pwd.h>

#include <array>
#include <limits>
#include <unordered_set>

#include "TestSupport.hpp"
#include "utilities/CreationConvenience.hpp"
#include "utilities/StringPathUtilities.hpp"
#include "utilities/TemporaryFiles.hpp"
#include "utilities/TypeIdentifiers.hpp"
#include "utilities/URLPathUtilities.hpp"
#include "utilities/UniqueIdentifier.hpp"

namespace ni {
namespace {

using namespace test;
using std::nullopt;

TEST(StringPathFilename, ChoosesAFreeDecomposedNameNumberedInTheStem) {
    const struct {
        std::optional<std::u16string> preferred, current;
        std::vector<std::u16string> taken;
        std::optional<std::u16string> expected;
    } cases[] = {
        // Only the last extension is split off.
        {u"archive.tar.gz", nullopt, {u"Archive.tar.gz"}, u"archive.tar - 2.gz"},
        // Suffixes never pile up, and the counter passes 9 as a plain number.
        {u"a.txt",
         nullopt,
         {u"a.txt", u"a - 2.txt", u"a - 3.txt", u"a - 4.txt", u"a - 5.txt", u"a - 6.txt", u"a - 7.txt",
          u"a - 8.txt", u"a - 9.txt", u"a - 10.txt"},
         u"a - 11.txt"},
        // Case and composition: length-changing case maps ("İ" lowers to two units, "ß" stays
        // one), canonical equivalents (the ohm sign is an omega); the result is decomposed.
        {u"\u0130x", nullopt, {u"i\u0307X"}, u"I\u0307x - 2"},
        {u"Stra\u00dfe", nullopt, {u"STRASSE"}, u"Stra\u00dfe"},
        {u"\u2126", nullopt, {u"\u03c9"}, u"\u03a9 - 2"},
        {u"Caf\u00e9", nullopt, {u"CAF\u00c9"}, u"Cafe\u0301 - 2"},
        {u"Caf\u00e9", nullopt, {}, u"Cafe\u0301"},
        {u"x.caf\u00e9", nullopt, {u"X.CAF\u00c9"}, u"x - 2.cafe\u0301"},
        {u"\U0001F600.txt", nullopt, {u"\U0001F600.TXT"}, u"\U0001F600 - 2.txt"},
        // Hidden and dot-ended names have no extension.
        {u".profile", nullopt, {u".profile"}, u".profile - 2"},
        {u"Notes.", nullopt, {u"notes."}, u"Notes. - 2"},
        {u"..x", nullopt, {u"..X"}, u". - 2.x"},
        // A current name supplies the extension and never collides with itself.
        {u".profile", u"old.txt", {}, u".profile.txt"},
        {u"Notes.md", u"old.txt", {}, u"Notes.txt"},
        {u"Notes.md", u"old", {}, u"Notes.md"},
        {u"Report.txt", u"REPORT.txt", {u"REPORT.txt"}, u"Report.txt"},
        {u"Cafe\u0301", u"caf\u00e9", {u"caf\u00e9"}, u"Cafe\u0301"},
        // A current name that is not taken still counts as its own; its extension comes over as written.
        {u"Report.txt", u"report - 3.TXT", {u"Report.txt", u"Report - 2.txt"}, u"Report - 3.TXT"},
        {nullopt, u"a", {u"a"}, nullopt},
    };
    for (const auto& [preferred, current, taken, expected] : cases) {
        const std::u16string label = preferred.value_or(u"(none)");
        SCOPED_TRACE(std::string(label.begin(), label.end()));
        const std::unordered_set<std::u16string> takenSet(taken.begin(), taken.end());
        EXPECT_EQ(filenameForPrefererredName(preferred, current, &taken), expected);
        EXPECT_EQ(filenameForPrefererredName(preferred, current, &takenSet), expected);
    }
    EXPECT_EQ(filenameForPrefererredName(u"a", nullopt), u"a");  // no collection of taken names at all
}

TEST(StringPathSanitizing, GivesAUsableFileName) {
    const std::u16string a99(99, u'a');
    std::u16string words;
    while (words.size() < 300) words += u"lorem ipsum ";
    const std::pair<std::u16string, std::u16string> cases[] = {
        // Reserved characters become hyphens and trailing ones go; hyphens that were in the text stay.
        {u"  My: notes?  ", u"My- notes"},
        {u"a/b\\c<*>\"|x", u"a-b-c-----x"},
        {u"a-?", u"a-"},
        // Dots at the ends never leave a hidden name, also where a character turned to a space was cut.
        {u".profile", u"_profile"},
        {u"..x", u"_.x"},
        {u"...", u"_"},
        {u"\U0001F600.x", u"_x"},
        // Tab and LF are blanks; CR and other controls are kept inside, only the end's blanks go.
        {u"one\ttwo \t \n  three", u"one two three"},
        {u"a\rb\u0001c\r?", u"a\rb\u0001c\r"},
        {u"a\u00a0\u00a0b\u2028", u"a\u00a0\u00a0b"},
        {u"   \n ", u""},
        // Characters beyond the plane become one space each; composition is kept.
        {u"\U0001F600 \uFFFF", u""},
        {u"a\U0001F600b\U0001D400c", u"a b c"},
        {u"Caf\u00e9 Cafe\u0301?", u"Caf\u00e9 Cafe\u0301"},
        // The replaced span follows the shortened text: a prefix that turns to
        // spaces changes nothing about the hyphens at the end.
        {u"\U0001F600a:", u"a"},
        {u"\U0001F600 \U0001F600a-?", u"a-"},
        // A lone surrogate is no character beyond the plane and stays.
        {std::u16string(u"a") + char16_t(0xDC00), std::u16string(u"a") + char16_t(0xDC00)},
        // Long text is cut to 100 units at a word start, or inside a pair where there is none.
        {words, words.substr(0, 95)},
        {std::u16string(101, u'?'), u"-"},
        {a99 + u"\U0001D400\U0001D400", a99 + char16_t(0xD835)},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(stringByReplacingUnallowedFilenameCharacters(text), expected) << text.size() << " units";
}

TEST(StringPathVirtualPaths, StandardizingResolvesDotComponentsWithinTheStart) {
    const std::pair<std::u16string, std::optional<std::u16string>> cases[] = {
        {u"a/./b/../c", u"a/c"},
        {u"a/..", u""},
        {u"a/.../.x/..y", u"a/.../.x/..y"},
        {u"../a", nullopt},
        {u"a/../..", nullopt},
        // One leading "/" for an absolute path, none at the end; the root can't be climbed out of.
        {u"/a/./b", u"/a/b"},
        {u"///a//b//", u"/a/b"},
        {u"/a/..", u"/"},
        {u"/..", nullopt},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(stringByStandardizingVirtualPath(path), expected) << std::string(path.begin(), path.end());
}

TEST(StringPathVirtualPaths, RelativePathNeedsTheWholeBaseAsLeadingComponents) {
    const struct {
        std::u16string path;
        std::optional<std::u16string> base, expected;
    } cases[] = {
        {u"/Users/user/Notes/a.txt", u"/Users/user/", u"Notes/a.txt"},
        {u"/Users/user", u"/Users/user", u""},
        {u"/x/y", u"/", u"x/y"},
        {u"a//b/", u"a", u"b"},
        {u"docs/a", nullopt, nullopt},
        // A base that only partly matches, or matches as text but not by component, is not a prefix.
        {u"/Users/user/Music/x", u"/Users/user/Notes", nullopt},
        {u"/Users/user/x", u"/users/user", nullopt},
        {u"ab/c", u"a", nullopt},
        {u"a/b", u"/a", nullopt},
        {u"Cafe\u0301/x", u"Caf\u00e9", nullopt},
    };
    for (const auto& [path, base, expected] : cases)
        EXPECT_EQ(pathRelativeToBasePath(path, base), expected) << std::string(path.begin(), path.end());
}

TEST(StringPathVirtualPaths, HomeDirectoryIsAbbreviatedOnlyAsWholeComponents) {
    const passwd* entry = ::getpwuid(::getuid());
    std::string bytes = entry && entry->pw_dir ? entry->pw_dir : "";
    while (bytes.ends_with('/')) bytes.pop_back();
    if (bytes.empty() || std::any_of(bytes.begin(), bytes.end(), [](unsigned char c) { return c > 127; }))
        GTEST_SKIP() << "needs an ASCII home directory other than /";
    const std::u16string home(bytes.begin(), bytes.end());
    const std::pair<std::u16string, std::u16string> cases[] = {
        {home, u"~"}, {home + u"/", u"~/"}, {home + u"/Caf\u00e9/\U0001F600", u"~/Caf\u00e9/\U0001F600"},
        {home + u"name/x", home + u"name/x"}, {u"/x" + home, u"/x" + home}, {u"~/x", u"~/x"}, {u"", u""}};
    for (const auto& [path, expected] : cases) EXPECT_EQ(stringByAbbreviatingUserDirectoryInPath(path), expected);
}

std::u16string repeated(std::u16string_view piece, int times) {
    std::u16string text;
    while (times-- > 0) text += piece;
    return text;
}

TEST(CreationConvenience, TextIsTrimmedAndCutAtTheLastWordStartInTheRange) {
    const std::u16string exact = repeated(u"ab ", 33) + u"c";       // 100 units, a word at its very end
    const std::u16string words = repeated(u"word ", 26);            // words start every 5 units
    const std::u16string head = repeated(u"a", 90) + u" bcdefgh ";  // 99 units
    const std::u16string accented = repeated(u"cafe\u0301 ", 25);   // words of 6 units
    const std::u16string text = u"one two three four";              // words start at 0, 4, 8 and 14
    const auto huge = std::numeric_limits<std::size_t>::max();
    const struct {
        std::u16string text;
        Range range;
        std::u16string expected;
    } cases[] = {
        {exact, {0, 100}, exact},
        // Z separators, tab to CR and NEL go; other controls and format characters stay.
        {u"\t\r\n\u0085\u00a0\u2028a b\u2029\u3000\v\f", {0, 100}, u"a b"},
        {u"\u0001a\u200b", {0, 100}, u"\u0001a\u200b"},
        // The word at 95 would end at 100, so the cut is at 95.
        {words, {0, 100}, words.substr(0, 94)},
        {head + u"z" + repeated(u"y ", 10), {0, 100}, head.substr(0, 98)},
        // A word starting at 100 is past the limit; the cut falls back to the word before.
        {head + u" z" + repeated(u"y ", 10), {0, 100}, head.substr(0, 90)},
        // Combining marks stay with their letters.
        {accented, {0, 100}, accented.substr(0, 95)},
        // With no word start before the limit the cut falls at it, even inside a surrogate pair.
        {repeated(u"a", 99) + repeated(u"\U0001D400", 5), {0, 100}, repeated(u"a", 99) + char16_t(0xD835)},
        // Other ranges cut within their own bounds.
        {text, {0, 10}, u"one two"},
        {text, {4, 10}, u"two"},
        {text, {9, 3}, u"hre"},  // inside a word, with no later word start: a hard cut
        {text, {40, 5}, u""},
        {text, {4, huge}, u"two three four"},
        {text, {huge, huge}, u""},
    };
    for (const auto& [input, range, expected] : cases)
        EXPECT_EQ(stringByTruncatingToFullWordsInRange(input, range), expected)
            << input.size() << " units from " << range.location << ", " << range.length;
}

const std::vector<std::string> kPlainText = {std::string(kUTTypePlainText)};

TEST(TypeIdentifiers, NotesAreToldApartByExtensionInAnyCaseAlongTheHierarchy) {
    for (const char* note : {"txt", "TXT", "Txt", "text", "md", "MD", "markdown", "log", "cpp", "py", "ts"})
        EXPECT_TRUE(pathExtensionConformsToTypes(note, kPlainText)) << note;
    for (const char* other : {"png", "jpg", "csv", "html", "rtf", "pdf", "json", "inkvale", "", "unknown"})
        EXPECT_FALSE(pathExtensionConformsToTypes(other, kPlainText)) << other;
    // Conformance follows the hierarchy and stops at the first match.
    EXPECT_TRUE(typeIdentifierConformsToType("public.c-plus-plus-source", "public.plain-text"));
    EXPECT_FALSE(typeIdentifierConformsToType("public.rtf", "public.plain-text"));
    EXPECT_TRUE(typeIdentifierConformsToTypes("public.png", {"public.text", "public.image"}));
    // "ts" is claimed first by a video type: the second claimant still makes it text (above).
    EXPECT_EQ(preferredTypeIdentifierForPathExtension("ts"), "public.mpeg-2-transport-stream");
    EXPECT_TRUE(
        typeIdentifierConformsToType(*preferredTypeIdentifierForPathExtension("inkvale"), kUTTypePackage));
    // Preferred tags and identifiers.
    EXPECT_EQ(preferredPathExtensionForTypeIdentifier("public.jpeg"), "jpg");
    EXPECT_EQ(preferredTypeIdentifierForMIMEType("TEXT/PLAIN"), "public.plain-text");
    EXPECT_EQ(preferredMIMETypeForPathExtension("JPEG"), "image/jpeg");
    // Only the last component's extension counts, not a dot in a folder name.
    EXPECT_EQ(preferredTypeIdentifierForPath("/a.png/notes.md"), "public.markdown");
    EXPECT_EQ(preferredTypeIdentifierForPath("/a.png/notes"), std::nullopt);
    EXPECT_EQ(preferredTypeIdentifierForPath(".txt"), std::nullopt);  // a hidden name, not an extension
    EXPECT_EQ(preferredMimeTypeForPath("x/y.HTML"), "text/html");
}

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
    EXPECT_EQ(uncachedResourceValueForKey(root() / "Sheet.inkvale", "Unknown", nullptr), std::nullopt);
    // Missing items report through the error slot.
    Error error;
    EXPECT_FALSE(uncachedResourceValuesForKeys(root() / "missing", keys, &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    EXPECT_EQ(error.path(), root() / "missing");
}

class TemporaryFiles : public ScratchTest {
protected:
    fs::path container() const { return tmp() / temporaryContainerName(); }
};

fs::perms mode(const fs::path& path) { return fs::symlink_status(path).permissions(); }

TEST_F(TemporaryFiles, UniqueFoldersArePrivateSideBySideAndNeverInAHijackedContainer) {
    // Identifiers: 32 lower-case hex digits that don't repeat.
    const std::string id = newUniqueIdentifier();
    EXPECT_TRUE(id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos) << id;
    EXPECT_NE(id, newUniqueIdentifier());
    EXPECT_FALSE(fs::exists(container()));  // asking creates nothing

    Error error;
    const auto first = createUniqueTemporaryDirectoryWithError(&error);
    const auto second = createUniqueTemporaryDirectoryWithError(&error);
    ASSERT_TRUE(first && second) << error.message();
    EXPECT_EQ(first->parent_path(), container());
    EXPECT_EQ(mode(container()), fs::perms::owner_all);
    EXPECT_EQ(mode(*first), fs::perms::owner_all);
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
    EXPECT_EQ(mode(container()), fs::perms::owner_all);
    fs::remove_all(container());

    // A planted container (a link, a file, another user's folder) is never written into and never
    // stops a run: the run works in a private folder beside it, which goes with the run's own.
    EXPECT_EQ(container().filename(), std::string(config::kAppId) + "-" + std::to_string(::geteuid()));
    fs::create_directories(root() / "attacker");
    fs::create_directory_symlink(root() / "attacker", container());
    std::optional<RefusedContainer> refused;
    auto beside = createUniqueTemporaryDirectory(std::nullopt, &refused, &error);
    ASSERT_TRUE(beside && refused) << error.message();
    EXPECT_EQ(refused->url, container());
    EXPECT_EQ(refused->reason, "it is a symbolic link");
    EXPECT_TRUE(beside->parent_path().filename().native().starts_with(container().filename().native() + "."));
    EXPECT_EQ(mode(beside->parent_path()), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(root() / "attacker"));
    EXPECT_TRUE(removeUniqueTemporaryDirectory(*beside, &error));
    EXPECT_FALSE(fs::exists(beside->parent_path()));

    fs::remove(container());
    writeFile(container(), "a file");
    refused.reset();
    beside = createUniqueTemporaryDirectory(std::nullopt, &refused, &error);
    ASSERT_TRUE(beside && refused);
    EXPECT_EQ(refused->reason, "it isn’t a folder");
    EXPECT_EQ(readFile(container()), "a file");
    removeUniqueTemporaryDirectory(*beside, nullptr);

    // Another user's run ("nobody", when the tests run as root) has a container of its own
    // and isn't stopped by one of that name planted by someone else (root, here).
    fs::remove(container());
    ASSERT_TRUE(shareWithUnprivileged());
    const bool plants = runningAsRoot();
    if (plants) fs::create_directories(tmp() / (std::string(config::kAppId) + "-65534"));
    const int status = runUnprivileged([&] {
        std::optional<RefusedContainer> planted;
        const auto made = createUniqueTemporaryDirectory(std::nullopt, &planted, nullptr);
        return made && planted.has_value() == plants ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(TemporaryFiles, TemporaryFilesAreEmptyFilesOrPackageFoldersUnderTMPDIR) {
    Error error;
    const auto text = createTemporaryFileWithPathExtension("txt", &error);
    ASSERT_TRUE(text && !error) << error.message();
    EXPECT_TRUE(fs::is_regular_file(*text) && fs::is_empty(*text) && text->extension() == ".txt");
    EXPECT_EQ(text->parent_path().parent_path(), container());
    const auto package = createTemporaryFileWithTypeIdentifier("net.inkvale.sheet");
    EXPECT_TRUE(package && fs::is_directory(*package) && package->extension() == ".inkvale");
    // An item that can't be made is reported (the location still comes back).
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
