#include <pwd.h>
#include <unistd.h>

#include <unordered_set>

#include "TestSupport.hpp"
#include "utilities/StringPathUtilities.hpp"

namespace {

using namespace ni;
using Names = std::vector<std::u16string>;
using std::nullopt;

TEST(StringPathFilename, ChoosesAFreeDecomposedNameNumberedInTheStem) {
    const struct {
        std::optional<std::u16string> preferred, current;
        Names taken;
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
        {u"", nullopt, {u""}, u" - 2"},
        {u"dir.d/name", nullopt, {u"dir.d/name"}, u"dir.d/name - 2"},
        // A current name supplies the extension and never collides with itself.
        {u".profile", u"old.txt", {}, u".profile.txt"},
        {u"Notes.md", u"old.txt", {}, u"Notes.txt"},
        {u"Notes", u"old.txt", {}, u"Notes.txt"},
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
    // No collection of taken names at all.
    EXPECT_EQ(filenameForPrefererredName(u"a", nullopt, static_cast<const Names*>(nullptr)), u"a");
    EXPECT_EQ(filenameForPrefererredName(u"a", nullopt), u"a");
}

TEST(StringPathSanitizing, GivesAUsableFileName) {
    const std::u16string a99(99, u'a');
    std::u16string words;
    while (words.size() < 300) words += u"lorem ipsum ";
    const std::pair<std::u16string, std::u16string> cases[] = {
        // Reserved characters become hyphens and trailing ones go; hyphens that were in the text stay.
        {u"  My: notes?  ", u"My- notes"},
        {u"a/b\\c<*>\"|x", u"a-b-c-----x"},
        {u"???", u"-"},
        {u"a-?", u"a-"},
        // Dots at the ends never leave a hidden name, also where a character turned to a space was cut.
        {u".profile", u"_profile"},
        {u"..x", u"_.x"},
        {u"...", u"_"},
        {u"a .", u"a"},
        {u"Version 2.?", u"Version 2."},
        {u"\U0001F600.x", u"_x"},
        {u"\U0001F600..?", u"_."},
        // Tab and LF are blanks; CR and other controls are kept inside, only the end's blanks go.
        {u"one\ttwo \t \n  three", u"one two three"},
        {u"a\rb\u0001c\r?", u"a\rb\u0001c\r"},
        {u"a\u00a0\u00a0b\u2028", u"a\u00a0\u00a0b"},
        {u"", u""},
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
        {a99 + u"?", a99},
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
        {u"", u""},
        {u"a/.../.x/..y", u"a/.../.x/..y"},
        {u"e\u0301/../\U0001F600", u"\U0001F600"},
        {u"../a", nullopt},
        {u"a/../..", nullopt},
        // One leading "/" for an absolute path, none at the end; the root can't be climbed out of.
        {u"/a/./b", u"/a/b"},
        {u"a/b/", u"a/b"},
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
        {u"/Users/user", u"/Users/user/Notes", nullopt},
        {u"docs/a", nullopt, nullopt},
        {u"docs/a", u"", nullopt},
        // A base that only partly matches, or matches as text but not by component, is not a prefix.
        {u"/Users/user/Music/x", u"/Users/user/Notes", nullopt},
        {u"/Users/user/x", u"/users/user", nullopt},
        {u"ab/c", u"a", nullopt},
        {u"/a/b", u"a", nullopt},
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

}  // namespace
