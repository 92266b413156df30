#include <limits>

#include "TestSupport.hpp"
#include "utilities/CreationConvenience.hpp"

namespace {

using ni::Range;

std::u16string repeated(std::u16string_view piece, int times) {
    std::u16string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

std::u16string cut(std::u16string_view text, Range range = {0, 100}) {
    return ni::stringByTruncatingToFullWordsInRange(text, range);
}

TEST(CreationConvenience, SingleCharacterStrings) {
    EXPECT_EQ(ni::stringWithCharacter(u'\0'), std::u16string(1, u'\0'));
    EXPECT_EQ(ni::stringWithCharacter(char16_t(0xD83D)), std::u16string(1, char16_t(0xD83D)));
    EXPECT_EQ(ni::attachmentCharacter(), u"\uFFFC");
    EXPECT_EQ(&ni::attachmentCharacter(), &ni::attachmentCharacter());
}

TEST(CreationConvenience, TextIsTrimmedAndCutToOneHundredUnits) {
    EXPECT_EQ(cut(u""), u"");
    const std::u16string exact = repeated(u"ab ", 33) + u"c";  // 100 units, a word at its very end
    EXPECT_EQ(cut(exact), exact);
    // Z separators, tab to CR and NEL go; other controls and format characters stay.
    EXPECT_EQ(cut(u"\t\r\n\u0085\u00a0\u2028a b\u2029\u3000\v\f"), u"a b");
    EXPECT_EQ(cut(u"\u0001a\u200b"), u"\u0001a\u200b");
    // Longer text is cut at the last word start before the limit.
    // Words start every 5 units; the one at 95 would end at 100, so the cut is at 95.
    const std::u16string words = repeated(u"word ", 26);
    EXPECT_EQ(cut(words), words.substr(0, 94));
    const std::u16string head = repeated(u"a", 90) + u" bcdefgh ";  // 99 units
    EXPECT_EQ(cut(head + u"z" + repeated(u"y ", 10)), head.substr(0, 98));
    // A word starting at 100 is past the limit; the cut falls back to the word before.
    EXPECT_EQ(cut(head + u" z" + repeated(u"y ", 10)), head.substr(0, 90));
    // Combining marks stay with their letters: words of 6 units start at multiples of 6.
    const std::u16string accented = repeated(u"cafe\u0301 ", 25);
    EXPECT_EQ(cut(accented), accented.substr(0, 95));
    // With no word start before the limit the cut falls at it, even inside a surrogate pair.
    EXPECT_EQ(cut(repeated(u"x", 120) + u" end"), repeated(u"x", 100));
    EXPECT_EQ(cut(repeated(u"a", 99) + repeated(u"\U0001D400", 5)), repeated(u"a", 99) + char16_t(0xD835));
}

TEST(CreationConvenience, OtherRangesCutWithinTheirOwnBounds) {
    const std::u16string text = u"one two three four";  // words start at 0, 4, 8 and 14
    EXPECT_EQ(cut(text, {0, 10}), u"one two");
    EXPECT_EQ(cut(text, {0, 8}), u"one");
    EXPECT_EQ(cut(text, {4, 10}), u"two");
    // Starting inside a word and finding no later word start: a hard cut.
    EXPECT_EQ(cut(text, {9, 3}), u"hre");
    EXPECT_EQ(cut(text, {4, 0}), u"");
    EXPECT_EQ(cut(text, {40, 5}), u"");
    const auto huge = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(cut(text, {4, huge}), u"two three four");
    EXPECT_EQ(cut(text, {huge, huge}), u"");
}

}  // namespace
