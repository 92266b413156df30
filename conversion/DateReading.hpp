#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/FileWrapper.hpp"

namespace ni {

// The date a note's Created or Modified value denotes (the date locale,
// medium date and short time, in the user's time zone); nothing when it doesn't parse.
std::optional<Date> dateFromString(std::u16string_view string);
// The same in the ICU locale named localeName.
std::optional<Date> dateFromString(std::u16string_view string, const std::string& localeName);

// The ICU locale dates are read in: the override when one is set, else LC_ALL,
// else LC_TIME, else LANG ("de_DE" of "de_DE.UTF-8"); C and POSIX read as en_US_POSIX.
std::string dateLocaleName();
// Which of those chose dateLocaleName().
enum class DateLocaleSource {
    Override,
    AllVariable,       // LC_ALL
    TimeVariable,      // LC_TIME
    LanguageVariable,  // LANG
    Default,           // none: en_US_POSIX
};
DateLocaleSource dateLocaleSource();
// Makes dates read in localeName (for all threads) until reset with nothing.
// Set it before a run starts, not during one.
void setDateLocaleOverride(std::optional<std::string> localeName);
// A locale name as the environment writes it ("en_US.UTF-8") as ICU knows it
// ("en_US"); nothing when ICU has no date formats for it or the name is empty.
std::optional<std::string> knownDateLocale(const std::string& name);

}  // namespace ni
