#include <pwd.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "TestSupport.hpp"
#include "utilities/StringPathUtilities.hpp"

namespace {

using ni::filenameForPrefererredName;
using Names = std::vector<std::u16string>;
using NameSet = std::unordered_set<std::u16string>;

// The comparison form of a name, computed independently of the code under test.
std::u16string keyOf(const std::u16string& name) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text(name.data(), static_cast<int32_t>(name.size()));
    icu::UnicodeString nfd = icu::Normalizer2::getNFDInstance(status)->normalize(text, status);
    nfd.toLower(icu::Locale::getRoot());
    EXPECT_TRUE(U_SUCCESS(status));
    return std::u16string(nfd.getBuffer(), static_cast<std::size_t>(nfd.length()));
}

bool isNfd(const std::u16string& text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString s(text.data(), static_cast<int32_t>(text.size()));
    return icu::Normalizer2::getNFDInstance(status)->isNormalized(s, status) && U_SUCCESS(status);
}

// Both collection kinds must choose alike.
std::optional<std::u16string> chosen(const std::optional<std::u16string>& preferred,
                                     const std::optional<std::u16string>& current, const Names& taken) {
    const NameSet takenSet(taken.begin(), taken.end());
    auto fromVector = filenameForPrefererredName(preferred, current, &taken);
    EXPECT_EQ(fromVector, filenameForPrefererredName(preferred, current, &takenSet));
    return fromVector;
}

TEST(StringPathFilename, CollisionsIgnoreCaseAndNumberFromTheStem) {
    EXPECT_EQ(chosen(u"Report.txt", std::nullopt, {u"report.TXT"}), u"Report - 2.txt");
    EXPECT_EQ(chosen(u"Report.txt", std::nullopt, {u"Report.txt", u"REPORT - 2.txt"}), u"Report - 3.txt");
    EXPECT_EQ(chosen(u"Report", std::nullopt, {u"report"}), u"Report - 2");
    // Only the last extension is split off.
    EXPECT_EQ(chosen(u"archive.tar.gz", std::nullopt, {u"Archive.tar.gz"}), u"archive.tar - 2.gz");
    // Suffixes never pile up, and the counter passes 9 as a plain number.
    Names taken{u"a.txt"};
    for (char i = '2'; i <= '9'; ++i) taken.push_back(std::u16string(u"a - ") + char16_t(i) + u".txt");
    taken.push_back(u"a - 10.txt");
    EXPECT_EQ(chosen(u"a.txt", std::nullopt, taken), u"a - 11.txt");
    // Length-changing case maps: "İ" lowers to two units, "ß" stays one.
    EXPECT_EQ(chosen(u"\u0130x", std::nullopt, {u"i\u0307X"}), u"I\u0307x - 2");
    EXPECT_EQ(chosen(u"Stra\u00dfe", std::nullopt, {u"STRASSE"}), u"Stra\u00dfe");
}

TEST(StringPathFilename, HiddenAndDotEndedNamesHaveNoExtension) {
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
    EXPECT_EQ(chosen(u"Report.txt", u"Report - 2.txt", {u"Report.txt", u"Report - 2.txt"}),
              u"Report - 2.txt");
    // A current name that is not taken still counts as its own; its extension comes over as written.
    EXPECT_EQ(chosen(u"Report.txt", u"report - 3.TXT", {u"Report.txt", u"Report - 2.txt"}),
              u"Report - 3.TXT");
}

TEST(StringPathFilename, ResultIsDecomposedAndCompositionIsIgnored) {
    const std::u16string composed = u"Caf\u00e9";
    const std::u16string decomposedName = u"Cafe\u0301";
    EXPECT_EQ(filenameForPrefererredName(composed, std::nullopt), decomposedName);
    EXPECT_EQ(chosen(composed, std::nullopt, {u"CAF\u00c9"}), u"Cafe\u0301 - 2");
    EXPECT_EQ(chosen(composed, std::nullopt, {u"CAFE\u0301"}), u"Cafe\u0301 - 2");
    EXPECT_EQ(chosen(decomposedName, u"caf\u00e9", {u"caf\u00e9"}), decomposedName);
    // Surrogate pairs pass through whole.
    EXPECT_EQ(chosen(u"\U0001F600.txt", std::nullopt, {u"\U0001F600.TXT"}), u"\U0001F600 - 2.txt");
}

TEST(StringPathFilename, AbsentInputs) {
    const Names taken{u"a"};
    EXPECT_EQ(filenameForPrefererredName(std::nullopt, u"a", &taken), std::nullopt);
    EXPECT_EQ(filenameForPrefererredName(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(filenameForPrefererredName(u"a", std::nullopt, static_cast<const Names*>(nullptr)), u"a");
    EXPECT_EQ(filenameForPrefererredName(u"a", std::nullopt, static_cast<const NameSet*>(nullptr)), u"a");
    EXPECT_EQ(filenameForPrefererredName(u"a", std::nullopt), u"a");
    EXPECT_EQ(chosen(u"a", std::nullopt, {}), u"a");
}

TEST(StringPathFilename, ChosenKeyIsFreeOrTheCurrentNamesForGeneratedNames) {
    const std::u16string pieces[] = {u"a",    u"A", u"b",          u".",      u".txt",   u".TXT", u" - 2",
                                     u" - 3", u"é", u"e\u0301",    u"É",      u"\u0130", u"i",    u"ß",
                                     u"SS",   u"/", u"\U0001F600", u"\u2126", u"\u03a9", u" "};
    std::mt19937 random(20240611);
    auto name = [&] {
        std::u16string text;
        for (int n = random() % 4 + 1; n > 0; --n) text += pieces[random() % std::size(pieces)];
        return text;
    };
    for (int round = 0; round < 3000; ++round) {
        Names taken;
        for (int n = random() % 8; n > 0; --n) taken.push_back(name());
        const std::u16string preferred = name();
        std::optional<std::u16string> current;
        if (random() % 3 == 0)
            current = random() % 2 && !taken.empty() ? taken[random() % taken.size()] : name();
        const std::optional<std::u16string> result = chosen(preferred, current, taken);
        ASSERT_TRUE(result.has_value());
        EXPECT_TRUE(isNfd(*result));
        const std::u16string key = keyOf(*result);
        if (current && key == keyOf(*current)) continue;
        for (const std::u16string& t : taken) ASSERT_NE(key, keyOf(t)) << round;
    }
}

}  // namespace

namespace {

using ni::pathRelativeToBasePath;
using ni::stringByAbbreviatingUserDirectoryInPath;
using ni::stringByReplacingUnallowedFilenameCharacters;
using ni::stringByStandardizingVirtualPath;

std::u16string sanitized(std::u16string_view text) {
    return stringByReplacingUnallowedFilenameCharacters(text);
}

TEST(StringPathSanitizing, ReservedCharactersBecomeHyphensAndTrailingOnesGo) {
    EXPECT_EQ(sanitized(u"  My: notes?  "), u"My- notes");
    EXPECT_EQ(sanitized(u"Why?"), u"Why");
    EXPECT_EQ(sanitized(u"a/b\\c"), u"a-b-c");
    EXPECT_EQ(sanitized(u"<*>\"|x"), u"-----x");
    EXPECT_EQ(sanitized(u"???"), u"-");
    // Hyphens that were in the text are not replaced characters.
    EXPECT_EQ(sanitized(u"a:-"), u"a--");
    EXPECT_EQ(sanitized(u"x-"), u"x-");
    EXPECT_EQ(sanitized(u"a-?"), u"a-");
}

TEST(StringPathSanitizing, DotsAtTheEndsNeverLeaveAHiddenName) {
    EXPECT_EQ(sanitized(u".profile"), u"_profile");
    EXPECT_EQ(sanitized(u"..x"), u"_.x");
    EXPECT_EQ(sanitized(u"."), u"_");
    EXPECT_EQ(sanitized(u"..."), u"_");
    EXPECT_EQ(sanitized(u"Report..."), u"Report");
    EXPECT_EQ(sanitized(u"a ."), u"a");
    EXPECT_EQ(sanitized(u"Version 2.?"), u"Version 2.");
    // A character that turns into a space in front of the dot must not leave one at the start.
    EXPECT_EQ(sanitized(u"\U0001F600.x"), u"_x");
    EXPECT_EQ(sanitized(u"\U0001F600..?"), u"_.");
    EXPECT_EQ(sanitized(u"\t.x"), u"_x");
}

TEST(StringPathSanitizing, BlanksAndControlCharacters) {
    EXPECT_EQ(sanitized(u"one\ttwo\nthree"), u"one two three");
    EXPECT_EQ(sanitized(u"a    b"), u"a b");
    EXPECT_EQ(sanitized(u"a \t \n b"), u"a b");
    // Carriage return and other controls are kept inside; only the end's blank goes.
    EXPECT_EQ(sanitized(u"a\rb\u0001c"), u"a\rb\u0001c");
    EXPECT_EQ(sanitized(u"a\r?"), u"a\r");
    EXPECT_EQ(sanitized(u"a\u00a0\u00a0b\u2028"), u"a\u00a0\u00a0b");
    EXPECT_EQ(sanitized(u""), u"");
    EXPECT_EQ(sanitized(u"   \n "), u"");
    EXPECT_EQ(sanitized(u"\U0001F600 \uFFFF"), u"");
}

TEST(StringPathSanitizing, SurrogatePairsBecomeOneSpaceAndCompositionIsKept) {
    EXPECT_EQ(sanitized(u"Smile \U0001F600"), u"Smile");
    EXPECT_EQ(sanitized(u"a\U0001F600b\U0001D400c"), u"a b c");
    EXPECT_EQ(sanitized(u"Cafe\u0301?"), u"Cafe\u0301");
    EXPECT_EQ(sanitized(u"Caf\u00e9?"), u"Caf\u00e9");
    // The replaced span follows the shortened text: a prefix that turns to
    // spaces changes nothing about the hyphens at the end.
    EXPECT_EQ(sanitized(u"\U0001F600a:"), u"a");
    EXPECT_EQ(sanitized(u"\U0001F600 \U0001F600a:"), u"a");
    EXPECT_EQ(sanitized(u"\U0001F600\U0001F600\U0001F600a-?"), u"a-");
    // A lone surrogate is no character beyond the plane and stays.
    EXPECT_EQ(sanitized(std::u16string(u"a") + char16_t(0xDC00)), std::u16string(u"a") + char16_t(0xDC00));
}

TEST(StringPathSanitizing, LongTextIsCutToOneHundredUnits) {
    std::u16string words;
    while (words.size() < 300) words += u"lorem ipsum ";
    const std::u16string cut = sanitized(words);
    EXPECT_LE(cut.size(), 100u);
    EXPECT_EQ(cut, words.substr(0, cut.size()));
    EXPECT_EQ(words[cut.size()], u' ');  // ends with a whole word
    EXPECT_EQ(sanitized(std::u16string(99, u'a') + u"?"), std::u16string(99, u'a'));
    EXPECT_EQ(sanitized(std::u16string(101, u'?')), u"-");
    const std::u16string split = sanitized(std::u16string(99, u'a') + u"\U0001D400\U0001D400");
    EXPECT_EQ(split, std::u16string(99, u'a') + char16_t(0xD835));
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

TEST(StringPathSanitizing, GeneratedTextAlwaysGivesAUsableName) {
    const std::u16string pieces[] = {
        u"word",       u"Ab",     u"zz9",     u" ",          u"  ",
        u",",          u"!",      u"'",       u"-",          u"\\",
        u"/",          u":",      u"?",       u"*",          u"<",
        u">",          u"\"",     u"|",       u"\t",         u"\r",
        u"\n",         u".",      u"..",      u"\U0001F600", u"\U0001F44D\U0001F3FD",
        u"\U0001D400", u"\u0301", u"e\u0301", u"\u00e9",     u"\u00a0",
        u"\u3000",     u"\u0001"};
    std::mt19937 random(7);
    for (int round = 0; round < 4000; ++round) {
        std::u16string text;
        for (int n = random() % 60; n > 0; --n) text += pieces[random() % std::size(pieces)];
        const std::u16string name = sanitized(text);
        SCOPED_TRACE(round);
        ASSERT_LE(name.size(), 100u);
        EXPECT_EQ(name.find_first_of(u"\\/:?*<>\"|\t\n"), std::u16string::npos);
        EXPECT_EQ(name.find(u"  "), std::u16string::npos);
        EXPECT_FALSE(!name.empty() && name.front() == u'.');
        for (std::size_t i = 0; i < name.size(); ++i) {
            const bool paired = isHighSurrogate(name[i])  ? i + 1 < name.size() && isLowSurrogate(name[i + 1])
                                : isLowSurrogate(name[i]) ? i > 0 && isHighSurrogate(name[i - 1])
                                                          : true;
            // Only the cut at 100 units may split a pair, leaving its first half last.
            if (!paired) {
                EXPECT_TRUE(text.size() > 100 && i + 1 == name.size() && isHighSurrogate(name[i]));
            }
        }
    }
}

TEST(StringPathVirtualPaths, StandardizingResolvesDotComponents) {
    EXPECT_EQ(stringByStandardizingVirtualPath(u"a/./b/../c"), u"a/c");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"a//b"), u"a/b");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"a/.."), u"");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"."), u"");
    EXPECT_EQ(stringByStandardizingVirtualPath(u""), u"");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"a/.../.x/..y"), u"a/.../.x/..y");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"e\u0301/../\U0001F600"), u"\U0001F600");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"../a"), std::nullopt);
    EXPECT_EQ(stringByStandardizingVirtualPath(u"a/../.."), std::nullopt);
    // One leading "/" for an absolute path, none at the end; the root can't be climbed out of.
    EXPECT_EQ(stringByStandardizingVirtualPath(u"/a/./b"), u"/a/b");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"a/b/"), u"a/b");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"///a//b//"), u"/a/b");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"/"), u"/");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"//"), u"/");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"/a/.."), u"/");
    EXPECT_EQ(stringByStandardizingVirtualPath(u"/.."), std::nullopt);
}

TEST(StringPathVirtualPaths, GeneratedPathsStandardizeToPlainComponents) {
    const std::u16string parts[] = {u"a", u"b", u".", u"..", u"", u".x"};
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        std::u16string path = random() % 2 ? u"/" : u"";
        for (int n = random() % 7; n > 0; --n) path += parts[random() % std::size(parts)] + u"/";
        if (random() % 2 && !path.empty()) path.pop_back();
        const std::optional<std::u16string> result = stringByStandardizingVirtualPath(path);
        if (!result) continue;
        SCOPED_TRACE(round);
        const std::u16string wrapped = u"/" + *result + u"/";
        EXPECT_EQ(wrapped.find(u"/./"), std::u16string::npos);
        EXPECT_EQ(wrapped.find(u"/../"), std::u16string::npos);
        EXPECT_EQ(result->find(u"//"), std::u16string::npos);
        EXPECT_EQ(!path.empty() && path[0] == u'/', !result->empty() && (*result)[0] == u'/');
        EXPECT_TRUE(*result == u"/" || result->empty() || result->back() != u'/');
    }
}

TEST(StringPathVirtualPaths, RelativePathNeedsTheWholeBaseAsLeadingComponents) {
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user/Notes/a.txt", u"/Users/user"), u"Notes/a.txt");
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user/Notes/a.txt", u"/Users/user/"), u"Notes/a.txt");
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user", u"/Users/user"), u"");
    EXPECT_EQ(pathRelativeToBasePath(u"/x/y", u"/"), u"x/y");
    EXPECT_EQ(pathRelativeToBasePath(u"a//b/", u"a"), u"b");
    EXPECT_EQ(pathRelativeToBasePath(u"/Users/user", u"/Users/user/Notes"), std::nullopt);
    EXPECT_EQ(pathRelativeToBasePath(u"docs/a", u"misc"), std::nullopt);
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
    ASSERT_NE(entry, nullptr);
    std::string homeBytes = entry->pw_dir ? entry->pw_dir : "";
    while (!homeBytes.empty() && homeBytes.back() == '/') homeBytes.pop_back();
    if (homeBytes.empty() || std::any_of(homeBytes.begin(), homeBytes.end(),
                                         [](char c) { return static_cast<unsigned char>(c) > 127; }))
        GTEST_SKIP() << "needs an ASCII home directory other than /";
    const std::u16string home(homeBytes.begin(), homeBytes.end());

    EXPECT_EQ(stringByAbbreviatingUserDirectoryInPath(home + u"/Notes"), u"~/Notes");
    EXPECT_EQ(stringByAbbreviatingUserDirectoryInPath(home), u"~");
    EXPECT_EQ(stringByAbbreviatingUserDirectoryInPath(home + u"/"), u"~/");
    EXPECT_EQ(stringByAbbreviatingUserDirectoryInPath(home + u"/Caf\u00e9/\U0001F600"),
              u"~/Caf\u00e9/\U0001F600");
    for (const std::u16string& path : Names{home + u"name/x", u"/x" + home, u"~/x", u"Notes", u""})
        EXPECT_EQ(stringByAbbreviatingUserDirectoryInPath(path), path);
}

}  // namespace
