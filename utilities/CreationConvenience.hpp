#pragma once

#include <string>
#include <string_view>

#include "utilities/Range.hpp"

namespace ni {

// A string of the one code unit given (a lone surrogate half stays as it is).
std::u16string stringWithCharacter(char16_t character);

// U+FFFC, the character that stands where an attachment is; one instance per process.
const std::u16string& attachmentCharacter();

// The string cut after its last whole word that ends within the range, then
// trimmed of white space and newlines at both ends.
std::u16string stringByTruncatingToFullWordsInRange(std::u16string_view string, Range range);

}  // namespace ni
