#include "conversion/DateReading.hpp"

#include <unicode/basictz.h>
#include <unicode/datefmt.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uchar.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

namespace ni {

namespace {

// "de_DE.UTF-8" and "de_DE@euro" name the ICU locale "de_DE"; C and POSIX the
// POSIX variant of English.
std::string icuLocaleName(std::string name) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return "en_US_POSIX";
    return name;
}

// TZ as set, or nothing when unset (the host's zone then).
std::optional<std::string> timeZoneName() {
    const char* tz = std::getenv("TZ");
    if (tz == nullptr) return std::nullopt;
    return std::string(tz);
}

// The zone TZ names as ICU knows it (the host's when TZ is unset); nothing
// where only the C library reads TZ: POSIX rules such as
// "CET-1CEST,M3.5.0,M10.5.0/3", zone files named by path.
std::unique_ptr<icu::BasicTimeZone> icuTimeZone(const std::optional<std::string>& tz) {
    std::unique_ptr<icu::TimeZone> zone;
    if (!tz) {
        zone.reset(icu::TimeZone::detectHostTimeZone());
    } else {
        const std::string name = tz->starts_with(':') ? tz->substr(1) : *tz;
        if (!name.empty()) zone.reset(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(name)));
    }
    icu::UnicodeString id;
    auto* basic = dynamic_cast<icu::BasicTimeZone*>(zone.get());
    if (basic == nullptr || basic->getID(id) == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) return nullptr;
    zone.release();
    return std::unique_ptr<icu::BasicTimeZone>(basic);
}

// The C library's offset from UTC at when, in seconds; nothing out of its range.
std::optional<long> cLibraryOffset(time_t when) {
    std::tm parts{};
    if (::localtime_r(&when, &parts) == nullptr) return std::nullopt;
    return parts.tm_gmtoff;
}

// The instant a wall time names (both in milliseconds since 1970, the wall
// time read as if in UTC) in zone, or in the C library's zone when zone is
// null. A wall time the clocks passed twice is the earlier instant; one they
// skipped reads with the offset before the change, so 2:30 in a gap from 2:00
// to 3:00 is 3:30, as mktime reads it. Either way a zone's name and its POSIX
// rule give the same instant.
std::optional<UDate> instantOfWallTime(UDate wall, const icu::BasicTimeZone* zone) {
    if (zone != nullptr) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t rawOffset = 0, dstOffset = 0;
        zone->getOffsetFromLocal(wall, UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_FORMER, rawOffset, dstOffset,
                                 status);
        if (U_FAILURE(status)) return std::nullopt;
        return wall - rawOffset - dstOffset;
    }
    const double seconds = std::floor(wall / 1000);
    const auto local = static_cast<time_t>(seconds);
    // The offsets a day before and after: a change of offset near the wall
    // time lies between them, and each reading of it uses one of them.
    const auto before = cLibraryOffset(local - 86400), after = cLibraryOffset(local + 86400);
    if (!before || !after) return std::nullopt;
    std::optional<time_t> earliest;
    for (const long offset : {*before, *after}) {
        const time_t when = local - offset;
        if (cLibraryOffset(when) == offset && (!earliest || when < *earliest)) earliest = when;
    }
    return static_cast<UDate>(earliest.value_or(local - *before)) * 1000 + (wall - seconds * 1000);
}

// No-break spaces read as ordinary spaces, in patterns and in values alike:
// newer locale data writes U+202F or U+00A0 where older exports have a space.
void unifySpaces(icu::UnicodeString& text) {
    text.findAndReplace(icu::UnicodeString(static_cast<UChar>(0x202F)), icu::UnicodeString(u' '));
    text.findAndReplace(icu::UnicodeString(static_cast<UChar>(0x00A0)), icu::UnicodeString(u' '));
}

// The same in the names a date is written with ("a.\u00A0m." in Spanish of the
// Americas): a value whose spaces were unified must still find them.
void unifySpaces(icu::SimpleDateFormat& parser) {
    icu::DateFormatSymbols symbols(*parser.getDateFormatSymbols());
    const auto unified = [](const icu::UnicodeString* names, int32_t count) {
        std::vector<icu::UnicodeString> copies(names, names + count);
        for (icu::UnicodeString& name : copies) unifySpaces(name);
        return copies;
    };
    int32_t count = 0;
    const icu::UnicodeString* names = symbols.getAmPmStrings(count);
    const auto amPm = unified(names, count);
    symbols.setAmPmStrings(amPm.data(), count);
    using Symbols = icu::DateFormatSymbols;
    for (const auto width : {Symbols::WIDE, Symbols::ABBREVIATED}) {
        names = symbols.getMonths(count, Symbols::FORMAT, width);
        const auto months = unified(names, count);
        symbols.setMonths(months.data(), count, Symbols::FORMAT, width);
    }
    parser.setDateFormatSymbols(symbols);
}

// The date parser's numbers: a run of ASCII digits is read here, anything
// else by the locale's own number format. ICU's general number parser costs
// more than the rest of a date together, and a date's numbers are plain
// digits. Used only where the locale writes ASCII digits and no field has a
// number format of its own, so that every date reads as ICU alone reads it.
class ASCIIDigitsFormat : public icu::NumberFormat {
public:
    explicit ASCIIDigitsFormat(const icu::DecimalFormat& localeFormat)
        : localeFormat_(localeFormat.clone()),
          exponent_(localeFormat.getDecimalFormatSymbols()->getConstSymbol(
              icu::DecimalFormatSymbols::kExponentialSymbol)) {}
    ASCIIDigitsFormat(const ASCIIDigitsFormat& other)
        : icu::NumberFormat(other), localeFormat_(other.localeFormat_->clone()), exponent_(other.exponent_) {}

    void parse(const icu::UnicodeString& text, icu::Formattable& result,
               icu::ParsePosition& position) const override {
        const int32_t start = position.getIndex();
        int32_t end = start;
        int32_t value = 0;
        while (end < text.length() && end - start < 9 && text[end] >= u'0' && text[end] <= u'9')
            value = value * 10 + (text[end++] - u'0');
        // Past nine digits, or followed by a digit of another script or what
        // may start an exponent ("3E1" reads as 30): the locale's format decides.
        if (end == start || (end < text.length() &&
                             (u_isdigit(text.char32At(end)) || text[end] == u'E' || text[end] == u'e' ||
                              (!exponent_.isEmpty() && text.caseCompare(end, exponent_.length(), exponent_,
                                                                        U_FOLD_CASE_DEFAULT) == 0)))) {
            localeFormat_->parse(text, result, position);
            return;
        }
        result.setLong(value);
        position.setIndex(end);
    }
    icu::UnicodeString& format(double number, icu::UnicodeString& appendTo,
                               icu::FieldPosition& position) const override {
        return localeFormat_->format(number, appendTo, position);
    }
    icu::UnicodeString& format(int32_t number, icu::UnicodeString& appendTo,
                               icu::FieldPosition& position) const override {
        return localeFormat_->format(number, appendTo, position);
    }
    icu::UnicodeString& format(int64_t number, icu::UnicodeString& appendTo,
                               icu::FieldPosition& position) const override {
        return localeFormat_->format(number, appendTo, position);
    }
    ASCIIDigitsFormat* clone() const override { return new ASCIIDigitsFormat(*this); }
    UClassID getDynamicClassID() const override {
        static char classID = 0;
        return &classID;
    }

private:
    std::unique_ptr<icu::NumberFormat> localeFormat_;
    icu::UnicodeString exponent_;  // "E" in most locales, "×10^" in some
};

// Gives parser the ASCII digit reader where that changes no result.
void useASCIIDigits(icu::SimpleDateFormat& parser, const icu::UnicodeString& pattern) {
    const icu::NumberFormat* own = parser.getNumberFormat();
    const auto* decimal = dynamic_cast<const icu::DecimalFormat*>(own);
    if (decimal == nullptr || decimal->getDecimalFormatSymbols()->getConstSymbol(
                                  icu::DecimalFormatSymbols::kZeroDigitSymbol) != u"0")
        return;
    for (int32_t i = 0; i < pattern.length(); ++i) {
        const char16_t c = pattern[i];
        if (((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) &&
            parser.getNumberFormatForField(c) != own)
            return;
    }
    parser.adoptNumberFormat(new ASCIIDigitsFormat(*decimal));
}

// The first of LC_ALL, LC_TIME and LANG that is set and not empty, and its
// value; Default and "" when none is.
std::pair<DateLocaleSource, const char*> localeVariable() {
    for (const auto& [name, source] : {std::pair{"LC_ALL", DateLocaleSource::AllVariable},
                                       std::pair{"LC_TIME", DateLocaleSource::TimeVariable},
                                       std::pair{"LANG", DateLocaleSource::LanguageVariable}}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return {source, value};
    }
    return {DateLocaleSource::Default, ""};
}

// A locale's date format, read strictly in UTC so that it gives the wall
// time's fields as written (a time the clocks skipped is still a time), and
// the zone that makes them an instant.
struct DateParser {
    std::string key;
    std::unique_ptr<icu::SimpleDateFormat> format;
    std::unique_ptr<icu::BasicTimeZone> zone;  // null: the C library's
};

// One parser per thread, made again only when the locale or time zone changes.
const DateParser* dateParser(const std::string& locale) {
    thread_local DateParser parser;
    const std::optional<std::string> tz = timeZoneName();
    const std::string key = locale + "|" + (tz ? "=" + *tz : std::string());
    if (parser.format && parser.key == key) return &parser;
    parser.format.reset();
    parser.key = key;
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kShort, icu::Locale(locale.c_str())));
    auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
    if (simple == nullptr) return nullptr;
    format.release();
    parser.format.reset(simple);
    icu::UnicodeString pattern;
    simple->toPattern(pattern);
    unifySpaces(pattern);
    simple->applyPattern(pattern);
    unifySpaces(*simple);
    useASCIIDigits(*simple, pattern);
    simple->setLenient(false);
    simple->adoptTimeZone(icu::TimeZone::getGMT()->clone());
    parser.zone = icuTimeZone(tz);
    if (!parser.zone) ::tzset();  // localtime_r reads TZ once unless told it changed
    return &parser;
}

}  // namespace

std::string dateLocaleName() { return icuLocaleName(localeVariable().second); }

DateLocaleSource dateLocaleSource() { return localeVariable().first; }

std::optional<std::string> knownDateLocale(const std::string& name) {
    // An empty name is no choice (the environment reads it as C; an option doesn't).
    if (name.substr(0, name.find_first_of(".@")).empty()) return std::nullopt;
    const std::string wanted = icuLocaleName(name);
    if (wanted == "en_US_POSIX") return wanted;
    int32_t count = 0;
    const icu::Locale* locales = icu::DateFormat::getAvailableLocales(count);
    for (int32_t i = 0; i < count; ++i) {
        if (wanted == locales[i].getName()) return wanted;
    }
    return std::nullopt;
}

std::optional<Date> dateFromString(std::u16string_view string) {
    return dateFromString(string, dateLocaleName());
}

std::optional<Date> dateFromString(std::u16string_view string, const std::string& localeName) {
    const DateParser* parser = dateParser(localeName);
    if (parser == nullptr || string.empty()) return std::nullopt;
    icu::UnicodeString text(string.data(), static_cast<int32_t>(string.size()));
    unifySpaces(text);
    icu::ParsePosition position(0);
    const UDate wall = parser->format->parse(text, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != text.length()) return std::nullopt;
    // Beyond some 290,000 years a date has no microsecond count (a day's
    // offset either way still has one).
    if (!(std::abs(wall) < 9.2e15)) return std::nullopt;
    const std::optional<UDate> when = instantOfWallTime(wall, parser->zone.get());
    if (!when) return std::nullopt;
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double, std::milli>(*when)));
}

}  // namespace ni
