#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

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
