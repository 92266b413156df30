#include "conversion/NoteFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/Error.hpp"
#include "platform/FolderListing.hpp"
#include "platform/SystemCalls.hpp"
#include "platform/UTF8.hpp"
#include "utilities/TypeIdentifiers.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

constexpr char16_t kLF = u'\n';
constexpr char16_t kCR = u'\r';
constexpr char16_t kParagraphSeparator = u'\u2029';

bool isParagraphSeparator(char16_t c) {
    return c <= kCR ? c == kLF || c == kCR : c == kParagraphSeparator;  // one comparison for most
}

// The metadata keys, and where each last begins a line of the metadata block.
struct KeyPositions {
    std::optional<std::size_t> picture, tags, created, modified;
};

// Where the line that ends at end begins: just after the line end before it.
std::size_t lineStart(std::u16string_view text, std::size_t end) {
    std::size_t start = end;
    while (start > 0 && !isParagraphSeparator(text[start - 1])) {
        // Back eight units at a time where none of them ends a line.
        while (start >= 8) {
            const Units8 units = loadUnits(text.data() + start - 8);
            if (anyLane((units <= unit(kCR)) | (units == unit(kParagraphSeparator)))) break;
            start -= 8;
        }
        if (start > 0 && !isParagraphSeparator(text[start - 1])) --start;
    }
    return start;
}

bool isBlankLine(std::u16string_view line) {
    return line.find_first_not_of(u" \t") == std::u16string_view::npos;
}

// Keys count only in the metadata block: the run of lines at the end of the
// note each of which is blank or begins with a key. A key line with body text
// after it is text, so "Tags: how I sort my notes" followed by more lines
// neither cuts the note nor makes up a tag. One backward pass over the block
// finds the last occurrence of each key.
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
    for (std::size_t end = text.size(); missing > 0;) {
        const std::size_t start = lineStart(text, end);
        const std::u16string_view line = text.substr(start, end - start);
        bool isKeyLine = false;
        for (const Key& key : keys) {
            if (!line.starts_with(key.name)) continue;
            isKeyLine = true;
            if (!*key.slot) {
                *key.slot = start;
                --missing;
            }
        }
        if ((!isKeyLine && !isBlankLine(line)) || start == 0) break;
        end = start - 1;  // the line end before this line; CR LF is one
        if (text[end] == kLF && end > 0 && text[end - 1] == kCR) --end;
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

std::u16string_view withoutTrailingBlanks(std::u16string_view value) {
    const std::size_t end = value.find_last_not_of(u" \t");
    return value.substr(0, end == std::u16string_view::npos ? 0 : end + 1);
}

// The one entry of folder that a person would take name to mean when no entry
// has it exactly. An export written on a Mac stores names decomposed, and the
// Mac's file system finds "photo.JPG" for "photo.jpg"; trailing blanks are
// invisible in a note. Each step compares more loosely: the names in Unicode
// NFC, then without the value's trailing blanks, then case-folded as well. The
// first step that finds exactly one entry wins; one that finds several gives
// none, and their names go to ambiguous.
std::optional<std::string> looseMatch(const EntryTree& tree, const fs::path& folder, std::u16string_view name,
                                      std::vector<std::string>& ambiguous) {
    const auto entries = tree.list(folder, nullptr);
    if (!entries) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::nullopt;
    const auto composed = [nfc](std::u16string_view text) {
        UErrorCode normalized = U_ZERO_ERROR;
        icu::UnicodeString result =
            nfc->normalize(icu::UnicodeString(text.data(), static_cast<int32_t>(text.size())), normalized);
        return U_SUCCESS(normalized) ? result : icu::UnicodeString();
    };
    struct Candidate {
        const std::string* name;
        icu::UnicodeString composed, folded;
    };
    std::vector<Candidate> candidates;
    for (const FolderEntry& entry : *entries) {
        const auto text = utf16FromUTF8(entry.name);
        if (!text) continue;  // a name that isn't text can't be what a note names
        Candidate& candidate = candidates.emplace_back(Candidate{&entry.name, composed(*text), {}});
        candidate.folded = icu::UnicodeString(candidate.composed).foldCase();
    }
    const icu::UnicodeString whole = composed(name), trimmed = composed(withoutTrailingBlanks(name));
    const icu::UnicodeString folded = icu::UnicodeString(trimmed).foldCase();
    const std::pair<const icu::UnicodeString*, icu::UnicodeString Candidate::*> steps[] = {
        {&whole, &Candidate::composed}, {&trimmed, &Candidate::composed}, {&folded, &Candidate::folded}};
    for (const auto& [wanted, field] : steps) {
        if (wanted->isEmpty()) continue;
        std::vector<std::string> found;
        for (const Candidate& candidate : candidates) {
            if (candidate.*field == *wanted) found.push_back(*candidate.name);
        }
        if (found.size() == 1) return found.front();
        if (found.size() > 1) {
            ambiguous = std::move(found);
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// The picture named by value inside the note's "Pictures" folder, when it is a
// regular file reached through real folders. An absolute value, a ".."
// component or a symbolic link on the way gives no picture: a crafted export
// must not pull files from elsewhere into a sheet. problem says why there is none;
// ambiguous, which entries a loose match found.
std::optional<fs::path> pictureLocation(const EntryTree& tree, const fs::path& noteURL,
                                        std::u16string_view value, PictureProblem& problem,
                                        std::vector<std::string>& ambiguous) {
    const auto none = [&problem](PictureProblem why) {
        problem = why;
        return std::nullopt;
    };
    if (value.empty()) return none(PictureProblem::Empty);
    if (value.front() == u'/') return none(PictureProblem::OutsidePictures);
    if (value.find(u'\0') != std::u16string_view::npos) return none(PictureProblem::Missing);
    const fs::path relative(utf8FromUTF16(value));
    fs::path location = noteURL.parent_path() / "Pictures";
    auto type = tree.typeAt(location);
    if (!type) return none(PictureProblem::Missing);
    if (*type == S_IFLNK) return none(PictureProblem::SymbolicLink);
    if (*type != S_IFDIR) return none(PictureProblem::Missing);
    std::vector<fs::path> components(relative.begin(), relative.end());
    while (!components.empty() && components.back().empty()) components.pop_back();  // "a.jpg/"
    if (components.empty()) return none(PictureProblem::Empty);
    for (const fs::path& component : components) {
        if (component == "..") return none(PictureProblem::OutsidePictures);
    }
    for (std::size_t i = 0; i < components.size(); ++i) {
        const fs::path& component = components[i];
        if (component.empty() || component == ".") continue;
        const bool last = i + 1 == components.size();
        location /= component;
        type = tree.typeAt(location);
        if (!type && last) {
            const auto entry = looseMatch(tree, location.parent_path(),
                                          utf16FromUTF8(component.native()).value_or(u""), ambiguous);
            if (!ambiguous.empty()) return none(PictureProblem::Ambiguous);
            if (entry) type = tree.typeAt(location.replace_filename(*entry));
        }
        if (!type) return none(PictureProblem::Missing);
        if (*type == S_IFLNK) return none(PictureProblem::SymbolicLink);
        if (last && *type != S_IFREG) return none(PictureProblem::NotRegularFile);
        if (!last && *type != S_IFDIR) return none(PictureProblem::Missing);
    }
    return location;
}

}  // namespace

Error tooLargeNoteError(const fs::path& url, std::uintmax_t size);

namespace {

std::optional<std::string> tooLarge(const fs::path& url, std::uintmax_t size, Error* error) {
    setError(error, tooLargeNoteError(url, size));
    return std::nullopt;
}

// Text after a UTF-16 byte-order mark, in the order it gives; encoding says
// which. An odd last byte and unpaired surrogates become U+FFFD: never lost silently.
std::optional<std::u16string> utf16FromBytes(std::string_view bytes, std::string& encoding) {
    const bool little = bytes.front() == '\xFF';
    encoding = little ? "UTF-16LE" : "UTF-16BE";
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]),
                   second = static_cast<unsigned char>(bytes[i + 1]);
        text.push_back(static_cast<char16_t>(little ? first | second << 8 : first << 8 | second));
    }
    if (bytes.size() % 2 != 0) text.push_back(u'\uFFFD');
    return lossyUTF16(utf8FromUTF16(text));  // unpaired surrogates become U+FFFD
}

// Bytes in an ICU converter's encoding as UTF-16; nothing when ICU can't convert them.
std::optional<std::u16string> fromEncoding(std::string_view bytes, const std::string& encoding) {
    const icu::UnicodeString text(bytes.data(), static_cast<int32_t>(bytes.size()), encoding.c_str());
    if (text.isBogus()) return std::nullopt;
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

}  // namespace

Error tooLargeNoteError(const fs::path& url, std::uintmax_t size) {
    return Error(ErrorKind::TooLarge, url, 0,
                 "it is " + sizeText(size) + "; a note can be at most " + sizeText(kLargestNote));
}

NINote noteFromText(std::u16string_view text, const fs::path& url, NoteParts parts,
                    const std::string& dateLocale, const EntryTree& tree) {
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
        note.pictureURL = pictureLocation(tree, url, value, note.pictureProblem, note.pictureCandidates);
        if (!note.pictureURL) note.pictureValue = value;
    }
    // A value that isn't a date is kept for the run's notices: it is cut from the body either way.
    const std::string locale = dateLocale.empty() ? dateLocaleName() : dateLocale;
    const auto readDate = [&text, &locale](std::size_t position, std::size_t keyLength,
                                           std::optional<Date>& date, std::optional<std::u16string>& unread) {
        // Trailing blanks are invisible in a note and no part of a date.
        const std::u16string_view value = withoutTrailingBlanks(valueAt(text, position, keyLength));
        date = dateFromString(value, locale);
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
        setError(error, errorForErrno(errno, url, ErrorKind::ReadFailed));
        return std::nullopt;
    }
    struct stat st {};
    const int statError = sys::fstat(fd, &st) == 0 ? 0 : errno;
    if (statError != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        // A failed fstat says nothing about the kind of file: it is a read error.
        setError(error, statError != 0 ? Error(ErrorKind::ReadFailed, url, statError)
                                       : Error(ErrorKind::NotRegularFile, url));
        return std::nullopt;
    }
    // Decided before a byte is read: a huge file with a note's extension (a
    // disk image, a log) must fail with its name, not exhaust memory.
    if (static_cast<std::uintmax_t>(st.st_size) > kLargestNote) {
        ::close(fd);
        return tooLarge(url, static_cast<std::uintmax_t>(st.st_size), error);
    }
    // One byte more than fstat said: a read that comes back with exactly the
    // size found the end, and saves the call that would return 0.
    const auto size = static_cast<std::size_t>(st.st_size);
    std::string bytes;
    bytes.resize(size + 1);
    std::size_t filled = 0;
    while (true) {
        if (filled == bytes.size()) {  // the file grew since fstat
            if (filled > kLargestNote) {
                ::close(fd);
                return tooLarge(url, filled, error);
            }
            bytes.resize(bytes.size() + 4096);
        }
        const std::size_t wanted = bytes.size() - filled;
        const ssize_t n = sys::read(fd, bytes.data() + filled, wanted);
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
                                    const NoteReading& reading) {
    std::string encoding;
    std::size_t bad = 0;
    auto text = content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF")
                    ? utf16FromBytes(content, encoding)
                    : utf16FromUTF8(content, &bad);
    if (!text && !reading.fallbackEncoding.empty() &&
        (text = fromEncoding(content, reading.fallbackEncoding)))
        encoding = reading.fallbackEncoding;
    if (!text) {
        setError(error, Error(ErrorKind::InvalidUTF8, url, 0, std::to_string(bad)));
        return std::nullopt;
    }
    NINote note = noteFromText(*text, url, reading.parts, reading.dateLocale,
                               reading.tree != nullptr ? *reading.tree : fileSystemTree());
    note.encoding = std::move(encoding);
    return note;
}

std::optional<std::string> knownEncoding(const std::string& name) {
    if (name.empty()) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status) || converter == nullptr) return std::nullopt;
    const char* own = ucnv_getName(converter, &status);
    // The name people know it by ("windows-1252"), not ICU's table name.
    std::string known = name;
    for (const char* standard : {"MIME", "IANA"}) {
        UErrorCode found = U_ZERO_ERROR;
        const char* alias = U_SUCCESS(status) ? ucnv_getStandardName(own, standard, &found) : nullptr;
        if (U_SUCCESS(found) && alias != nullptr) {
            known = alias;
            break;
        }
    }
    ucnv_close(converter);
    return known;
}

bool isNoteName(const std::string& name) {
    static const std::vector<std::string> plainText = {std::string(kUTTypePlainText)};
    return pathExtensionConformsToTypes(pathExtension(name), plainText);
}

std::optional<NINote> readNoteAtURL(const fs::path& url, Error* error, NoteParts parts) {
    const auto bytes = readNoteBytes(url, error);
    if (!bytes) return std::nullopt;
    NoteReading reading;
    reading.parts = parts;
    return noteFromBytes(*bytes, url, error, reading);
}

}  // namespace ni
