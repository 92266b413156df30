#include <pwd.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <random>

#include "TestSupport.hpp"
#include "utilities/StringPathUtilities.hpp"

namespace {

using namespace ni;
using Names = std::vector<std::u16string>;
using NameSet = std::unordered_set<std::u16string>;

// Normalization Form D, lower-cased for the comparison key; computed apart from the code under test.
std::u16string decomposed(const std::u16string& text, bool lower = false) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString s = icu::Normalizer2::getNFDInstance(status)->normalize(
        icu::UnicodeString(text.data(), static_cast<int32_t>(text.size())), status);
    if (lower) s.toLower(icu::Locale::getRoot());
    return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

// Some of the pieces, at random.
std::u16string joined(std::mt19937& random, const Names& pieces, int count) {
    std::u16string text;
    while (count-- > 0) text += pieces[random() % pieces.size()];
    return text;
}

// Both collection kinds must choose alike.
std::optional<std::u16string> chosen(const std::optional<std::u16string>& preferred,
                                     const std::optional<std::u16string>& current, const Names& taken) {
    const NameSet takenSet(taken.begin(), taken.end());
    auto fromVector = filenameForPrefererredName(preferred, current, &taken);
    EXPECT_EQ(fromVector, filenameForPrefererredName(preferred, current, &takenSet));
    return fromVector;
}

TEST(StringPathFilename, CollisionsIgnoreCaseAndCompositionAndAreNumberedInTheStem) {
    // Only the last extension is split off.
    EXPECT_EQ(chosen(u"archive.tar.gz", std::nullopt, {u"Archive.tar.gz"}), u"archive.tar - 2.gz");
    // Suffixes never pile up, and the counter passes 9 as a plain number.
    Names taken{u"a.txt", u"a - 10.txt"};
    for (char i = '2'; i <= '9'; ++i) taken.push_back(std::u16string(u"a - ") + char16_t(i) + u".txt");
    EXPECT_EQ(chosen(u"a.txt", std::nullopt, taken), u"a - 11.txt");
    // Length-changing case maps: "İ" lowers to two units, "ß" stays one.
    EXPECT_EQ(chosen(u"\u0130x", std::nullopt, {u"i\u0307X"}), u"I\u0307x - 2");
    EXPECT_EQ(chosen(u"Stra\u00dfe", std::nullopt, {u"STRASSE"}), u"Stra\u00dfe");
    // The result is decomposed; surrogate pairs pass through whole.
    EXPECT_EQ(chosen(u"Caf\u00e9", std::nullopt, {u"CAF\u00c9"}), u"Cafe\u0301 - 2");
    EXPECT_EQ(chosen(u"\U0001F600.txt", std::nullopt, {u"\U0001F600.TXT"}), u"\U0001F600 - 2.txt");
    // Hidden and dot-ended names have no extension.
    EXPECT_EQ(chosen(u".profile", std::nullopt, {u".profile"}), u".profile - 2");
    EXPECT_EQ(chosen(u"Notes.", std::nullopt, {u"notes."}), u"Notes. - 2");
    EXPECT_EQ(chosen(u"..x", std::nullopt, {u"..X"}), u". - 2.x");
    EXPECT_EQ(chosen(u"", std::nullopt, {u""}), u" - 2");
    EXPECT_EQ(chosen(u"dir.d/name", std::nullopt, {u"dir.d/name"}), u"dir.d/name - 2");
    // Renaming to a hidden name keeps the current extension.
    EXPECT_EQ(chosen(u".profile", u"old.txt", {}), u".profile.txt");
}

TEST(StringPathFilename, CurrentNameSuppliesExtensionAndNeverCollidesWithItself) {
    EXPECT_EQ(chosen(u"Notes.md", u"old.txt", {}), u"Notes.txt");
    EXPECT_EQ(chosen(u"Notes", u"old.txt", {}), u"Notes.txt");
    EXPECT_EQ(chosen(u"Notes.md", u"old", {}), u"Notes.md");
    EXPECT_EQ(chosen(u"Report.txt", u"REPORT.txt", {u"REPORT.txt"}), u"Report.txt");
    EXPECT_EQ(chosen(u"Cafe\u0301", u"caf\u00e9", {u"caf\u00e9"}), u"Cafe\u0301");
    // A current name that is not taken still counts as its own; its extension comes over as written.
    EXPECT_EQ(chosen(u"Report.txt", u"report - 3.TXT", {u"Report.txt", u"Report - 2.txt"}),
              u"Report - 3.TXT");
    // Absent inputs; no collection of taken names at all.
    const Names taken{u"a"};
    EXPECT_EQ(filenameForPrefererredName(std::nullopt, u"a", &taken), std::nullopt);
    EXPECT_EQ(filenameForPrefererredName(u"a", std::nullopt, static_cast<const Names*>(nullptr)), u"a");
    EXPECT_EQ(filenameForPrefererredName(u"a", std::nullopt, static_cast<const NameSet*>(nullptr)), u"a");
}

TEST(StringPathFilename, ChosenKeyIsFreeOrTheCurrentNamesForGeneratedNames) {
    const Names pieces = {u"a", u"A", u".",          u".txt",   u".TXT",  u" - 2", u" - 3",
                          u"é", u"É", u"e\u0301",    u"\u0130", u"i",     u"ß",    u"SS",
                          u"/", u" ", u"\U0001F600", u"\u2126", u"\u03a9"};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        Names taken;
        for (int n = random() % 8; n > 0; --n) taken.push_back(joined(random, pieces, random() % 4 + 1));
        std::optional<std::u16string> current;
        if (random() % 3 == 0)
            current = random() % 2 && !taken.empty() ? taken[random() % taken.size()]
                                                     : joined(random, pieces, random() % 4 + 1);
        const auto result = chosen(joined(random, pieces, random() % 4 + 1), current, taken);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(decomposed(*result), *result);
        const std::u16string key = decomposed(*result, true);
        if (current && key == decomposed(*current, true)) continue;
        for (const std::u16string& t : taken) ASSERT_NE(key, decomposed(t, true)) << round;
    }
}

std::u16string sanitized(std::u16string_view text) {
    return stringByReplacingUnallowedFilenameCharacters(text);
}

TEST(StringPathSanitizing, Examples) {
    // Reserved characters become hyphens and trailing ones go; hyphens that were in the text stay.
    EXPECT_EQ(sanitized(u"  My: notes?  "), u"My- notes");
    EXPECT_EQ(sanitized(u"a/b\\c<*>\"|x"), u"a-b-c-----x");
    EXPECT_EQ(sanitized(u"???"), u"-");
    EXPECT_EQ(sanitized(u"a-?"), u"a-");
    // Dots at the ends never leave a hidden name, also where a character turned to a space was cut.
    EXPECT_EQ(sanitized(u".profile"), u"_profile");
    EXPECT_EQ(sanitized(u"..x"), u"_.x");
    EXPECT_EQ(sanitized(u"..."), u"_");
    EXPECT_EQ(sanitized(u"a ."), u"a");
    EXPECT_EQ(sanitized(u"Version 2.?"), u"Version 2.");
    EXPECT_EQ(sanitized(u"\U0001F600.x"), u"_x");
    EXPECT_EQ(sanitized(u"\U0001F600..?"), u"_.");
    // Tab and LF are blanks; CR and other controls are kept inside, only the end's blanks go.
    EXPECT_EQ(sanitized(u"one\ttwo \t \n  three"), u"one two three");
    EXPECT_EQ(sanitized(u"a\rb\u0001c\r?"), u"a\rb\u0001c\r");
    EXPECT_EQ(sanitized(u"a\u00a0\u00a0b\u2028"), u"a\u00a0\u00a0b");
    EXPECT_EQ(sanitized(u""), u"");
    EXPECT_EQ(sanitized(u"   \n "), u"");
    // Characters beyond the plane become one space each; composition is kept.
    EXPECT_EQ(sanitized(u"\U0001F600 \uFFFF"), u"");
    EXPECT_EQ(sanitized(u"a\U0001F600b\U0001D400c"), u"a b c");
    EXPECT_EQ(sanitized(u"Caf\u00e9 Cafe\u0301?"), u"Caf\u00e9 Cafe\u0301");
    // The replaced span follows the shortened text: a prefix that turns to
    // spaces changes nothing about the hyphens at the end.
    EXPECT_EQ(sanitized(u"\U0001F600a:"), u"a");
    EXPECT_EQ(sanitized(u"\U0001F600 \U0001F600a-?"), u"a-");
    // A lone surrogate is no character beyond the plane and stays.
    EXPECT_EQ(sanitized(std::u16string(u"a") + char16_t(0xDC00)), std::u16string(u"a") + char16_t(0xDC00));
    // Long text is cut to 100 units at a word start, or inside a pair where there is none.
    std::u16string words;
    while (words.size() < 300) words += u"lorem ipsum ";
    EXPECT_EQ(sanitized(words), words.substr(0, 95));
    const std::u16string a99(99, u'a');
    EXPECT_EQ(sanitized(a99 + u"?"), a99);
    EXPECT_EQ(sanitized(std::u16string(101, u'?')), u"-");
    EXPECT_EQ(sanitized(a99 + u"\U0001D400\U0001D400"), a99 + char16_t(0xD835));
}

bool isHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

TEST(StringPathSanitizing, GeneratedTextAlwaysGivesAUsableName) {
    // Words, blanks, punctuation, the nine reserved characters, controls, dots, pairs and combining marks.
    Names pieces = {
        u"word", u"Ab9", u"..", u"e\u0301", u"\U0001F600", u"\U0001D400", u"\U0001F44D\U0001F3FD"};
    for (char16_t unit : std::u16string_view(u" ,'!-\\/:?*<>\"|\t\r\n.\u0301\u00e9\u00a0\u3000\u0001"))
        pieces.emplace_back(1, unit);
    std::mt19937 random(7);
    for (int round = 0; round < 4000; ++round) {
        const std::u16string text = joined(random, pieces, random() % 90);
        const std::u16string name = sanitized(text);
        SCOPED_TRACE(round);
        ASSERT_LE(name.size(), 100u);
        EXPECT_EQ(name.find_first_of(u"\\/:?*<>\"|\t\n"), std::u16string::npos);
        EXPECT_EQ(name.find(u"  "), std::u16string::npos);
        EXPECT_FALSE(!name.empty() && name.front() == u'.');
        // Only the cut at 100 units may split a pair, leaving its first half last.
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (isHigh(name[i]) ? i + 1 == name.size() || !isLow(name[i + 1])
                                : isLow(name[i]) && (i == 0 || !isHigh(name[i - 1]))) {
                EXPECT_TRUE(text.size() > 100 && i + 1 == name.size() && isHigh(name[i]));
            }
        }
    }
}

TEST(StringPathVirtualPaths, StandardizingResolvesDotComponentsWithinTheStart) {
    const auto standardized = [](std::u16string_view path) { return stringByStandardizingVirtualPath(path); };
    EXPECT_EQ(standardized(u"a/./b/../c"), u"a/c");
    EXPECT_EQ(standardized(u"a/.."), u"");
    EXPECT_EQ(standardized(u""), u"");
    EXPECT_EQ(standardized(u"a/.../.x/..y"), u"a/.../.x/..y");
    EXPECT_EQ(standardized(u"e\u0301/../\U0001F600"), u"\U0001F600");
    EXPECT_EQ(standardized(u"../a"), std::nullopt);
    EXPECT_EQ(standardized(u"a/../.."), std::nullopt);
    // One leading "/" for an absolute path, none at the end; the root can't be climbed out of.
    EXPECT_EQ(standardized(u"/a/./b"), u"/a/b");
    EXPECT_EQ(standardized(u"a/b/"), u"a/b");
    EXPECT_EQ(standardized(u"///a//b//"), u"/a/b");
    EXPECT_EQ(standardized(u"/a/.."), u"/");
    EXPECT_EQ(standardized(u"/.."), std::nullopt);
}

TEST(StringPathVirtualPaths, GeneratedPathsStandardizeToPlainComponents) {
    const Names parts = {u"a/", u"b/", u"./", u"../", u"/", u".x/"};
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        std::u16string path = (random() % 2 ? u"/" : u"") + joined(random, parts, random() % 7);
        if (random() % 2 && !path.empty()) path.pop_back();
        const std::optional<std::u16string> result = stringByStandardizingVirtualPath(path);
        if (!result) continue;
        SCOPED_TRACE(round);
        const std::u16string wrapped = u"/" + *result + u"/";
        EXPECT_TRUE(wrapped.find(u"/./") == wrapped.npos && wrapped.find(u"/../") == wrapped.npos &&
                    result->find(u"//") == wrapped.npos);
        EXPECT_EQ(path.starts_with(u'/'), result->starts_with(u'/'));
        EXPECT_TRUE(*result == u"/" || !result->ends_with(u'/'));
    }
}

TEST(StringPathVirtualPaths, RelativePathNeedsTheWholeBaseAsLeadingComponents) {
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user/Notes/a.txt", u"/Users/user/"), u"Notes/a.txt");
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user", u"/Users/user"), u"");
    EXPECT_EQ(pathRelativeToBasePath(u"/x/y", u"/"), u"x/y");
    EXPECT_EQ(pathRelativeToBasePath(u"a//b/", u"a"), u"b");
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user", u"/Users/user/Notes"), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"docs/a", std::nullopt), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"docs/a", u""), std::nullopt);
    // A base that only partly matches, or matches as text but not by component, is not a prefix.
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user/Music/x", u"/Users/user/Notes"), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user/x", u"/users/user"), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"ab/c", u"a"), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"/a/b", u"a"), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"a/b", u"/a"), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"Cafe\u0301/x", u"Caf\u00e9"), std::nullopt);
}

TEST(StringPathVirtualPaths, HomeDirectoryIsAbbreviatedOnlyAsWholeComponents) {
    const passwd* entry = ::getpwuid(::getuid());
    std::string bytes = entry && entry->pw_dir ? entry->pw_dir : "";
    while (bytes.ends_with('/')) bytes.pop_back();
    if (bytes.empty() || std::any_of(bytes.begin(), bytes.end(), [](unsigned char c) { return c > 127; }))
        GTEST_SKIP() << "needs an ASCII home directory other than /";
    const std::u16string home(bytes.begin(), bytes.end());
    const auto abbreviated = [](const std::u16string& path) {
        return stringByAbbreviatingUserDirectoryInPath(path);
    };
    EXPECT_EQ(abbreviated(home), u"~");
    EXPECT_EQ(abbreviated(home + u"/"), u"~/");
    EXPECT_EQ(abbreviated(home + u"/Caf\u00e9/\U0001F600"), u"~/Caf\u00e9/\U0001F600");
    for (const std::u16string& path : Names{home + u"name/x", u"/x" + home, u"~/x", u"Notes", u""})
        EXPECT_EQ(abbreviated(path), path);
}

}  // namespace
