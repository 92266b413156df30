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

// The ICU locale dates are read in unless a run chooses one: LC_ALL, else
// LC_TIME, else LANG ("de_DE" of "de_DE.UTF-8"); C and POSIX read as en_US_POSIX.
std::string dateLocaleName();
// Which setting chose a date locale.
enum class DateLocaleSource {
    Override,          // the run's own choice (--date-locale)
    AllVariable,       // LC_ALL
    TimeVariable,      // LC_TIME
    LanguageVariable,  // LANG
    Default,           // none: en_US_POSIX
};
// Which variable chose dateLocaleName().
DateLocaleSource dateLocaleSource();
// A locale name as the environment writes it ("en_US.UTF-8") as ICU knows it
// ("en_US"); nothing when ICU has no date formats for it or the name is empty.
std::optional<std::string> knownDateLocale(const std::string& name);

}  // namespace ni
