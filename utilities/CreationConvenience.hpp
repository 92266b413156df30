#pragma once

#include <string>
#include <string_view>

#include "utilities/Range.hpp"

namespace ni {

// A string of the one code unit given (a lone surrogate half stays as it is).
std::u16string stringWithCharacter(char16_t character);

// U+FFFC, the character that stands where an attachment is; one instance per process.
const std::u16string& attachmentCharacter();

// The part of the string within the range (clamped to the string), trimmed of
// white space (tab included) and newlines at both ends. When the string goes on
// past the range, it is first cut at the start of the last word that begins after
// the range's location and before its end: a word stays only when it and the
// separators after it end before the range's end. With no such word the cut falls
// at the range's end, even inside a word or a surrogate pair. Words are found in
// the whole string; (0, 100) is the range file names are cut to.
std::u16string stringByTruncatingToFullWordsInRange(std::u16string_view string, Range range);

}  // namespace ni
