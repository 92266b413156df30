#include <limits>

#include "TestSupport.hpp"
#include "utilities/CreationConvenience.hpp"

namespace {

using ni::Range;

std::u16string repeated(std::u16string_view piece, int times) {
    std::u16string text;
    while (times-- > 0) text += piece;
    return text;
}

TEST(CreationConvenience, TextIsTrimmedAndCutAtTheLastWordStartInTheRange) {
    EXPECT_EQ(ni::stringWithCharacter(u'\0'), std::u16string(1, u'\0'));
    EXPECT_EQ(ni::stringWithCharacter(char16_t(0xD83D)), std::u16string(1, char16_t(0xD83D)));
    EXPECT_EQ(ni::attachmentCharacter(), u"\uFFFC");
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
        {u"", {0, 100}, u""},
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
        {repeated(u"x", 120) + u" end", {0, 100}, repeated(u"x", 100)},
        {repeated(u"a", 99) + repeated(u"\U0001D400", 5), {0, 100}, repeated(u"a", 99) + char16_t(0xD835)},
        // Other ranges cut within their own bounds.
        {text, {0, 10}, u"one two"},
        {text, {0, 8}, u"one"},
        {text, {4, 10}, u"two"},
        {text, {9, 3}, u"hre"},  // inside a word, with no later word start: a hard cut
        {text, {4, 0}, u""},
        {text, {40, 5}, u""},
        {text, {4, huge}, u"two three four"},
        {text, {huge, huge}, u""},
    };
    for (const auto& [input, range, expected] : cases)
        EXPECT_EQ(ni::stringByTruncatingToFullWordsInRange(input, range), expected)
            << input.size() << " units from " << range.location << ", " << range.length;
}

}  // namespace
