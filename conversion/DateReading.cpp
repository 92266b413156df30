#include "conversion/DateReading.hpp"

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
#include <vector>

namespace ni {

namespace {

std::optional<std::string>& dateLocaleOverride() {
    static std::optional<std::string> name;
    return name;
}

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

// The time zone the C library works in, offset by offset: it honours every
// form of TZ (POSIX rules such as "CET-1CEST,M3.5.0,M10.5.0/3", zone files
// named by path) where ICU knows only zone names.
class CLibraryTimeZone : public icu::TimeZone {
public:
    CLibraryTimeZone() : icu::TimeZone(icu::UnicodeString(u"C library")) {
        ::tzset();
        rawOffset_ = static_cast<int32_t>(-::timezone * 1000);
    }

    void getOffset(UDate date, UBool local, int32_t& rawOffset, int32_t& dstOffset,
                   UErrorCode& status) const override {
        if (U_FAILURE(status)) return;
        const double seconds = std::floor(date / 1000.0);
        if (!(std::abs(seconds) < 1e15)) {
            status = U_ILLEGAL_ARGUMENT_ERROR;
            return;
        }
        auto when = static_cast<time_t>(seconds);
        std::tm parts{};
        if (local) {
            // The wall time read as the C library reads it (mktime decides gaps and repeats).
            if (::gmtime_r(&when, &parts) == nullptr) {
                status = U_ILLEGAL_ARGUMENT_ERROR;
                return;
            }
            parts.tm_isdst = -1;
            const time_t universal = ::mktime(&parts);
            when = universal;
        }
        if (::localtime_r(&when, &parts) == nullptr) {
            status = U_ILLEGAL_ARGUMENT_ERROR;
            return;
        }
        const auto total = static_cast<int32_t>(parts.tm_gmtoff * 1000);
        rawOffset = parts.tm_isdst > 0 ? rawOffset_ : total;
        dstOffset = total - rawOffset;
    }
    int32_t getOffset(uint8_t, int32_t year, int32_t month, int32_t day, uint8_t, int32_t millis,
                      UErrorCode& status) const override {
        int32_t raw = 0, dst = 0;
        getOffset(localMillis(year, month, day, millis), true, raw, dst, status);
        return raw + dst;
    }
    int32_t getOffset(uint8_t era, int32_t year, int32_t month, int32_t day, uint8_t dayOfWeek,
                      int32_t millis, int32_t, UErrorCode& status) const override {
        return getOffset(era, year, month, day, dayOfWeek, millis, status);
    }
    void setRawOffset(int32_t offset) override { rawOffset_ = offset; }
    int32_t getRawOffset() const override { return rawOffset_; }
    UBool useDaylightTime() const override { return ::daylight != 0; }
    UBool inDaylightTime(UDate date, UErrorCode& status) const override {
        int32_t raw = 0, dst = 0;
        getOffset(date, false, raw, dst, status);
        return dst != 0;
    }
    icu::TimeZone* clone() const override { return new CLibraryTimeZone(*this); }
    UClassID getDynamicClassID() const override {
        static char classID = 0;
        return &classID;
    }

private:
    // Milliseconds since 1970 of a proleptic Gregorian wall time (days from civil).
    static UDate localMillis(int32_t year, int32_t month, int32_t day, int32_t millis) {
        const int64_t y = year - (month < 2);
        const int64_t era = (y >= 0 ? y : y - 399) / 400;
        const int64_t yearOfEra = y - era * 400;
        const int64_t m = month + 1;
        const int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
        const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
        const int64_t days = era * 146097 + dayOfEra - 719468;
        return static_cast<UDate>(days) * 86400000.0 + millis;
    }

    int32_t rawOffset_ = 0;
};

// The zone dates are read in: the host's when TZ is unset, ICU's zone of that
// name where ICU knows it, else the C library's reading of TZ.
icu::TimeZone* createDateTimeZone(const std::optional<std::string>& tz) {
    if (!tz) return icu::TimeZone::detectHostTimeZone();
    const std::string name = (*tz)[0] == ':' ? tz->substr(1) : *tz;
    if (!name.empty()) {
        icu::TimeZone* zone = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(name));
        icu::UnicodeString id;
        if (zone != nullptr && zone->getID(id) != icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) return zone;
        delete zone;
    }
    return new CLibraryTimeZone();
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

struct DateParser {
    std::string key;
    std::unique_ptr<icu::SimpleDateFormat> format;
};

// One parser per thread, made again only when the locale or time zone changes.
icu::SimpleDateFormat* dateParser(const std::string& locale) {
    thread_local DateParser parser;
    const std::optional<std::string> zone = timeZoneName();
    const std::string key = locale + "|" + (zone ? "=" + *zone : std::string());
    if (parser.format && parser.key == key) return parser.format.get();
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
    simple->adoptTimeZone(createDateTimeZone(zone));
    return simple;
}

}  // namespace

std::string dateLocaleName() {
    if (const auto& chosen = dateLocaleOverride()) return *chosen;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return icuLocaleName(value);
    }
    return icuLocaleName("");
}

void setDateLocaleOverride(std::optional<std::string> localeName) {
    dateLocaleOverride() = std::move(localeName);
}

std::optional<std::string> knownDateLocale(const std::string& name) {
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
    icu::SimpleDateFormat* parser = dateParser(localeName);
    if (parser == nullptr || string.empty()) return std::nullopt;
    icu::UnicodeString text(string.data(), static_cast<int32_t>(string.size()));
    unifySpaces(text);
    icu::ParsePosition position(0);
    const UDate when = parser->parse(text, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != text.length()) return std::nullopt;
    // Beyond some 290,000 years a date has no microsecond count.
    if (!(std::abs(when) < 9.2e15)) return std::nullopt;
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double, std::milli>(when)));
}

}  // namespace ni
