#include <cstdint>
#include <limits>

#include "TestSupport.hpp"
#include "utilities/CreationConvenience.hpp"

namespace {

using ni::Range;
using ni::stringByTruncatingToFullWordsInRange;

std::u16string repeated(std::u16string_view piece, int times) {
    std::u16string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

TEST(CreationConvenience, SingleCharacterStrings) {
    EXPECT_EQ(ni::stringWithCharacter(u'A'), u"A");
    EXPECT_EQ(ni::stringWithCharacter(u'\0'), std::u16string(1, u'\0'));
    EXPECT_EQ(ni::stringWithCharacter(char16_t(0xD83D)), std::u16string(1, char16_t(0xD83D)));
    EXPECT_EQ(ni::attachmentCharacter(), u"\uFFFC");
    EXPECT_EQ(&ni::attachmentCharacter(), &ni::attachmentCharacter());
}

TEST(CreationConvenience, TextWithinTheLimitIsOnlyTrimmed) {
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(u"  Hello world  ", {0, 100}), u"Hello world");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(u"", {0, 100}), u"");
    const std::u16string words = repeated(u"word ", 26);
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(words, {0, 200}), words.substr(0, 129));
    const std::u16string exact = repeated(u"ab ", 33) + u"c";  // 100 units, a word at its very end
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(exact, {0, 100}), exact);
    // Z separators, tab to CR and NEL go; other controls and format characters stay.
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(u"\t\r\n\u0085\u00a0\u2028a b\u2029\u3000\v\f", {0, 100}),
              u"a b");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(u"\u0001a\u200b", {0, 100}), u"\u0001a\u200b");
}

TEST(CreationConvenience, LongTextIsCutAtTheLastWordStartBeforeTheLimit) {
    // Words start every 5 units; the one at 95 would end at 100, so the cut is at 95.
    const std::u16string words = repeated(u"word ", 26);
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(words, {0, 100}), words.substr(0, 94));

    const std::u16string head = repeated(u"a", 90) + u" bcdefgh ";  // 99 units
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(head + u"z" + repeated(u"y ", 10), {0, 100}),
              head.substr(0, 98));
    // A word starting at 100 is past the limit; the cut falls back to the word before.
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(head + u" z" + repeated(u"y ", 10), {0, 100}),
              head.substr(0, 90));

    // Combining marks stay with their letters: words of 6 units start at multiples of 6.
    const std::u16string accented = repeated(u"cafe\u0301 ", 25);
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(accented, {0, 100}), accented.substr(0, 95));
}

TEST(CreationConvenience, WithoutAWordBoundaryTheCutFallsAtTheLimit) {
    const std::u16string letters = repeated(u"x", 150);
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(letters, {0, 100}), letters.substr(0, 100));
    // Bold mathematical letters are one word of surrogate pairs; the cut splits one.
    const std::u16string bold = repeated(u"a", 99) + repeated(u"\U0001D400", 5);
    const std::u16string cut = stringByTruncatingToFullWordsInRange(bold, {0, 100});
    ASSERT_EQ(cut.size(), 100u);
    EXPECT_EQ(cut.back(), char16_t(0xD835));
    // A long first word followed by spaces and more text: still no earlier word start.
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(repeated(u"x", 120) + u" end", {0, 100}),
              letters.substr(0, 100));
}

TEST(CreationConvenience, OtherRangesCutWithinTheirOwnBounds) {
    const std::u16string text = u"one two three four";  // words start at 0, 4, 8 and 14
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {0, 10}), u"one two");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {0, 8}), u"one");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {0, 3}), u"one");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {4, 10}), u"two");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {4, 100}), u"two three four");
    // Starting inside a word and finding no later word start: a hard cut.
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {9, 3}), u"hre");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {4, 0}), u"");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {40, 5}), u"");
    const auto huge = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {4, huge}), u"two three four");
    EXPECT_EQ(stringByTruncatingToFullWordsInRange(text, {huge, huge}), u"");
}

}  // namespace
