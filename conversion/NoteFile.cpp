#include "conversion/NoteFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/datefmt.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uchar.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/Error.hpp"
#include "platform/SystemCalls.hpp"
#include "platform/UTF8.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

constexpr char16_t kLF = u'\n';
constexpr char16_t kCR = u'\r';
constexpr char16_t kParagraphSeparator = u'\u2029';

bool isParagraphSeparator(char16_t c) {
    return c <= kCR ? c == kLF || c == kCR : c == kParagraphSeparator;  // one comparison for most
}

// The metadata keys, and where each last begins a line.
struct KeyPositions {
    std::optional<std::size_t> picture, tags, created, modified;
};

// One backward pass over the line starts finds the last occurrence of each key
// that begins a line. A key inside a sentence is text: cutting there would
// drop the lines after it and invent a value.
KeyPositions lastKeyPositions(std::u16string_view text) {
    KeyPositions found;
    struct Key {
        std::u16string_view name;
        std::optional<std::size_t>* slot;
    };
    const Key keys[] = {{u"Picture: ", &found.picture},
                        {u"Tags: ", &found.tags},
                        {u"Created: ", &found.created},
                        {u"Modified: ", &found.modified}};
    std::size_t missing = std::size(keys);
    for (std::size_t start = text.size() + 1; start-- > 0 && missing > 0;) {
        // Back eight units at a time where none of them ends a line.
        while (start >= 8) {
            const Units8 units = loadUnits(text.data() + start - 8);
            if (anyLane((units <= unit(kCR)) | (units == unit(kParagraphSeparator)))) break;
            start -= 8;
        }
        if (start > 0 && !isParagraphSeparator(text[start - 1])) continue;
        const std::u16string_view line = text.substr(start);
        for (const Key& key : keys) {
            if (!*key.slot && line.starts_with(key.name)) {
                *key.slot = start;
                --missing;
            }
        }
    }
    return found;
}

// The rest of the key's line: its paragraph less the key and the line end.
// Whatever ends the line (LF, CR LF, CR, U+2029) is never part of a value.
std::u16string_view valueAt(std::u16string_view text, std::size_t position, std::size_t keyLength) {
    std::size_t end = position + keyLength;
    while (end < text.size() && !isParagraphSeparator(text[end])) ++end;
    return text.substr(position + keyLength, end - position - keyLength);
}

std::vector<std::u16string> splitTags(std::u16string_view value) {
    std::vector<std::u16string> names;
    std::size_t start = 0;
    while (true) {
        const std::size_t separator = value.find(u", ", start);
        std::u16string name(value.substr(
            start, separator == std::u16string_view::npos ? std::u16string_view::npos : separator - start));
        for (char16_t& c : name) {
            if (c == u',') c = u' ';
        }
        names.push_back(std::move(name));
        if (separator == std::u16string_view::npos) break;
        start = separator + 2;
    }
    return names;
}

// The picture named by value inside the note's "Pictures" folder, when it is a
// regular file reached through real folders. An absolute value, a ".."
// component or a symbolic link on the way gives no picture: a crafted export
// must not pull files from elsewhere into a sheet. problem says why there is none.
std::optional<fs::path> pictureLocation(const fs::path& noteURL, std::u16string_view value,
                                        PictureProblem& problem) {
    const auto none = [&problem](PictureProblem why) {
        problem = why;
        return std::nullopt;
    };
    if (value.empty()) return none(PictureProblem::Empty);
    if (value.front() == u'/') return none(PictureProblem::OutsidePictures);
    if (value.find(u'\0') != std::u16string_view::npos) return none(PictureProblem::Missing);
    const fs::path relative(utf8FromUTF16(value));
    fs::path location = noteURL.parent_path() / "Pictures";
    struct stat st {};
    if (::lstat(location.c_str(), &st) != 0) return none(PictureProblem::Missing);
    if (S_ISLNK(st.st_mode)) return none(PictureProblem::SymbolicLink);
    if (!S_ISDIR(st.st_mode)) return none(PictureProblem::Missing);
    std::vector<fs::path> components(relative.begin(), relative.end());
    while (!components.empty() && components.back().empty()) components.pop_back();  // "a.jpg/"
    if (components.empty()) return none(PictureProblem::Empty);
    for (const fs::path& component : components) {
        if (component == "..") return none(PictureProblem::OutsidePictures);
    }
    for (std::size_t i = 0; i < components.size(); ++i) {
        const fs::path& component = components[i];
        if (component.empty() || component == ".") continue;
        location /= component;
        if (::lstat(location.c_str(), &st) != 0) return none(PictureProblem::Missing);
        if (S_ISLNK(st.st_mode)) return none(PictureProblem::SymbolicLink);
        const bool last = i + 1 == components.size();
        if (last && !S_ISREG(st.st_mode)) return none(PictureProblem::NotRegularFile);
        if (!last && !S_ISDIR(st.st_mode)) return none(PictureProblem::Missing);
    }
    return location;
}

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

NINote noteFromText(std::u16string_view text, const fs::path& url, NoteParts parts) {
    NINote note;
    if (!text.empty() && text.front() == u'\uFEFF')
        text.remove_prefix(1);  // a byte-order mark isn't title text

    const auto [picture, tags, created, modified] = lastKeyPositions(text);

    const std::size_t cut = picture ? *picture : tags ? *tags : created ? *created : text.size();
    std::u16string_view head = text.substr(0, cut);
    // The blank line before the metadata, with LF or CR LF line ends.
    const auto dropLineEnd = [](std::u16string_view s) -> std::optional<std::u16string_view> {
        if (s.empty() || s.back() != kLF) return std::nullopt;
        s.remove_suffix(1);
        if (!s.empty() && s.back() == kCR) s.remove_suffix(1);
        return s;
    };
    if (const auto once = dropLineEnd(head)) {
        if (const auto twice = dropLineEnd(*once)) head = *twice;
    }

    if (const std::size_t lf = head.find(kLF); lf != std::u16string_view::npos) {
        std::u16string_view title = head.substr(0, lf);
        if (!title.empty() && title.back() == kCR) title.remove_suffix(1);
        note.title = title;
        note.body = head.substr(lf + 1);
    } else {
        note.body = head;
    }

    if (tags) note.tagNames = splitTags(valueAt(text, *tags, 6));
    if (parts == NoteParts::TextOnly) return note;
    if (picture) {
        const std::u16string_view value = valueAt(text, *picture, 9);
        note.pictureURL = pictureLocation(url, value, note.pictureProblem);
        if (!note.pictureURL) note.pictureValue = value;
    }
    // A value that isn't a date is kept for the run's notices: it is cut from the body either way.
    const auto readDate = [&text](std::size_t position, std::size_t keyLength, std::optional<Date>& date,
                                  std::optional<std::u16string>& unread) {
        const std::u16string_view value = valueAt(text, position, keyLength);
        date = dateFromString(value);
        if (!date) unread = std::u16string(value);
    };
    if (modified) readDate(*modified, 10, note.modificationDate, note.unreadModified);
    if (created) readDate(*created, 9, note.creationDate, note.unreadCreated);
    return note;
}

std::optional<std::string> readNoteBytes(const fs::path& url, Error* error) {
    // O_NONBLOCK: a FIFO with a note's name must never stall the run.
    const int fd = ::open(url.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int saved = errno;
        if (saved == ENOENT)
            setError(error, Error(ErrorKind::FileNotFound, url, saved));
        else if (saved == ELOOP)
            setError(error, Error(ErrorKind::NotRegularFile, url));
        else
            setError(error, Error(ErrorKind::ReadFailed, url, saved));
        return std::nullopt;
    }
    struct stat st {};
    int statError = sys::injectedFault(sys::Operation::Stat);
    if (statError == 0 && ::fstat(fd, &st) != 0) statError = errno;
    if (statError != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        // A failed fstat says nothing about the kind of file: it is a read error.
        setError(error, statError != 0 ? Error(ErrorKind::ReadFailed, url, statError)
                                       : Error(ErrorKind::NotRegularFile, url));
        return std::nullopt;
    }
    // One byte more than fstat said: a read that comes back with exactly the
    // size found the end, and saves the call that would return 0.
    const auto size = static_cast<std::size_t>(st.st_size);
    std::string bytes;
    bytes.resize(size + 1);
    std::size_t filled = 0;
    while (true) {
        if (filled == bytes.size()) bytes.resize(bytes.size() + 4096);  // the file grew since fstat
        const std::size_t wanted = bytes.size() - filled;
        const int injected = sys::injectedFault(sys::Operation::Read);
        const ssize_t n = injected != 0 ? (errno = injected, -1) : ::read(fd, bytes.data() + filled, wanted);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int saved = errno;
            ::close(fd);
            setError(error, Error(ErrorKind::ReadFailed, url, saved));
            return std::nullopt;
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
        if (filled == size && static_cast<std::size_t>(n) < wanted) break;
    }
    ::close(fd);
    bytes.resize(filled);
    return bytes;
}

std::optional<NINote> noteFromBytes(std::string_view content, const fs::path& url, Error* error,
                                    NoteParts parts) {
    std::size_t offsetBase = 0;
    if (content.starts_with("\xEF\xBB\xBF")) {
        content.remove_prefix(3);
        offsetBase = 3;
    }
    std::size_t bad = 0;
    auto text = utf16FromUTF8(content, &bad);
    if (!text) {
        setError(error, Error(ErrorKind::InvalidUTF8, url, 0, std::to_string(bad + offsetBase)));
        return std::nullopt;
    }
    return noteFromText(*text, url, parts);
}

std::optional<NINote> readNoteAtURL(const fs::path& url, Error* error, NoteParts parts) {
    const auto bytes = readNoteBytes(url, error);
    if (!bytes) return std::nullopt;
    return noteFromBytes(*bytes, url, error, parts);
}

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
