#include "utilities/CreationConvenience.hpp"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "utilities/CharacterSets.hpp"

namespace ni {

namespace {

// Trimmed of white space and newlines at both ends.
std::u16string_view trimmed(std::u16string_view text) {
    const icu::UnicodeSet& set = whitespaceAndNewlines();
    while (!text.empty() && set.contains(text.front())) text.remove_prefix(1);
    while (!text.empty() && set.contains(text.back())) text.remove_suffix(1);
    return text;
}

// Where the cut falls: the start of the last word, bar the first one, that lies
// after begin and before end (a word's enclosing range runs to the next word's
// start, so that is where it ends); end itself when there is none.
std::size_t wordCut(std::u16string_view string, std::size_t begin, std::size_t end) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> words(
        icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !words) return end;
    // The iterator keeps a reference to the text: it must outlive the walk.
    const icu::UnicodeString text(string.data(), static_cast<int32_t>(string.size()));
    words->setText(text);

    std::size_t cut = end;
    bool seenWord = false;
    int32_t start = words->first();
    for (int32_t stop = words->next(); stop != icu::BreakIterator::DONE; start = stop, stop = words->next()) {
        const auto wordStart = static_cast<std::size_t>(start);
        if (wordStart >= end) break;
        if (words->getRuleStatus() == UBRK_WORD_NONE) continue;
        if (seenWord && wordStart > begin) cut = wordStart;
        seenWord = true;
    }
    return cut;
}

}  // namespace

std::u16string stringWithCharacter(char16_t character) { return std::u16string(1, character); }

const std::u16string& attachmentCharacter() {
    static const std::u16string attachment = stringWithCharacter(u'\uFFFC');
    return attachment;
}

std::u16string stringByTruncatingToFullWordsInRange(std::u16string_view string, Range range) {
    const std::size_t begin = std::min(range.location, string.size());
    const std::size_t end = begin + std::min(range.length, string.size() - begin);
    if (end == string.size()) return std::u16string(trimmed(string.substr(begin)));
    const std::size_t cut = wordCut(string, begin, end);
    return std::u16string(trimmed(string.substr(begin, cut - begin)));
}

}  // namespace ni
