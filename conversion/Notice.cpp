#include "conversion/Notice.hpp"

#include <sys/stat.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <numeric>

#include "platform/Error.hpp"
#include "platform/UTF8.hpp"
#include "utilities/TypeIdentifiers.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

std::string inQuotes(std::string_view text) { return "“" + std::string(text) + "”"; }

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& parts) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    return text;
}

std::string where(const std::string& folder) { return folder.empty() ? "at the top level" : "in this folder"; }

// The note's "Pictures" folder, relative to the export folder.
std::string picturesFolderOf(const std::string& notePath) {
    return (fs::path(notePath).parent_path() / "Pictures").native();
}

// A date as the locale writes it in its medium date and short time, to show what it expects.
std::string exampleDate(const std::string& localeName) {
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kShort, icu::Locale(localeName.c_str())));
    if (!format) return {};
    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString(u"GMT")));
    icu::UnicodeString text;
    format->format(1704467040000.0, text);  // 2024-01-05 15:04 GMT
    std::string bytes;
    text.toUTF8String(bytes);
    return bytes;
}

std::string unreadDateMessage(std::string_view key, const std::string& value, const std::string& dateLocale,
                              std::string_view consequence) {
    std::string message = std::string(key) + " " + inQuotes(value) + " isn’t a date in " + dateLocale;
    if (const std::string example = exampleDate(dateLocale); !example.empty())
        message += " (like " + inQuotes(example) + ")";
    return message + "; " + std::string(consequence);
}

// Among locales that all read the dates, the one a person most likely wrote
// them in: the user's own language first, then a language's main region
// (en_US of the en_* locales), then any with a region, then name order.
std::string likeliestLocale(const std::vector<std::string>& candidates, const std::string& dateLocale) {
    const std::string ownLanguage = icu::Locale(dateLocale.c_str()).getLanguage();
    const auto rank = [&ownLanguage](const std::string& name) {
        const icu::Locale locale(name.c_str());
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale maximized(locale);
        maximized.addLikelySubtags(status);
        icu::Locale main(locale.getLanguage());
        main.addLikelySubtags(status);
        const bool hasRegion = *locale.getCountry() != '\0';
        const bool mainRegion = U_SUCCESS(status) && hasRegion &&
                                std::string_view(maximized.getCountry()) == main.getCountry() &&
                                std::string_view(maximized.getScript()) == main.getScript() &&
                                *locale.getVariant() == '\0';
        return (ownLanguage == locale.getLanguage() ? 0 : 4) + (mainRegion ? 0 : 2) + (hasRegion ? 0 : 1);
    };
    return *std::min_element(candidates.begin(), candidates.end(), [&rank](const auto& a, const auto& b) {
        const int ra = rank(a), rb = rank(b);
        return ra != rb ? ra < rb : a < b;
    });
}

}  // namespace

std::string_view noticeKindName(NoticeKind kind) {
    switch (kind) {
        case NoticeKind::TooDeep: return "too-deep";
        case NoticeKind::Picture: return "picture";
        case NoticeKind::UnreadDate: return "date";
        case NoticeKind::DateLocaleHint: return "date-locale";
        case NoticeKind::Renamed: return "renamed";
        case NoticeKind::CharactersLeftOut: return "characters-left-out";
        case NoticeKind::SkippedFiles: return "skipped-files";
        case NoticeKind::SkippedLinks: return "skipped-links";
        case NoticeKind::EmptySubFolders: return "empty-sub-folders";
        case NoticeKind::TemporaryArea:
            return "temporary-area";
        case NoticeKind::NotConverted:
            return "not-converted";
        case NoticeKind::Encoding:
            return "encoding";
        case NoticeKind::ArchiveEntry:
            return "archive-entry";
    }
    return "unknown";
}

std::string_view noticeKindTitle(NoticeKind kind) {
    switch (kind) {
        case NoticeKind::TooDeep: return "Not converted";
        case NoticeKind::Picture: return "No picture";
        case NoticeKind::UnreadDate: return "Date not read";
        case NoticeKind::DateLocaleHint: return "Date locale";
        case NoticeKind::Renamed: return "Renamed";
        case NoticeKind::CharactersLeftOut: return "Characters left out";
        case NoticeKind::SkippedFiles: return "Skipped files";
        case NoticeKind::SkippedLinks: return "Skipped links";
        case NoticeKind::EmptySubFolders: return "Empty sub-folders";
        case NoticeKind::TemporaryArea:
            return "Temporary folder";
        case NoticeKind::NotConverted:
            return "Note left out";
        case NoticeKind::Encoding:
            return "Encoding";
        case NoticeKind::ArchiveEntry:
            return "Archive entry";
    }
    return "Unknown";
}

void SkippedEntries::addFile(std::string_view name) {
    const auto conforms = [extension = pathExtension(name)](std::string_view type) {
        return pathExtensionConformsToTypes(extension, {std::string(type)});
    };
    Kind kind = Other;
    if (conforms("public.image"))
        kind = Pictures;
    else if (conforms("public.comma-separated-values-text"))
        kind = CSV;
    else if (conforms("public.html"))
        kind = HTML;
    else if (conforms("public.rtf"))
        kind = RTF;
    else if (conforms("public.pdf"))
        kind = PDF;
    else if (conforms("public.audiovisual-content"))
        kind = Videos;
    ++files[kind];
}

bool SkippedEntries::empty() const {
    return links == 0 && std::all_of(files.begin(), files.end(), [](std::size_t n) { return n == 0; });
}

void appendSkippedNotices(const std::string& folder, const SkippedEntries& skipped,
                          std::vector<Notice>& notices) {
    static constexpr std::string_view kNames[SkippedEntries::KindCount][2] = {
        {"picture", "pictures"}, {"CSV file", "CSV files"}, {"HTML file", "HTML files"},
        {"RTF file", "RTF files"}, {"PDF file", "PDF files"}, {"video", "videos"},
        {"other file", "other files"}};
    std::vector<std::string> parts;
    for (std::size_t kind = 0; kind < SkippedEntries::KindCount; ++kind) {
        if (skipped.files[kind] > 0)
            parts.push_back(counted(skipped.files[kind], kNames[kind][0], kNames[kind][1]));
    }
    const std::size_t files = std::accumulate(skipped.files.begin(), skipped.files.end(), std::size_t{0});
    if (files > 0)
        notices.push_back({NoticeKind::SkippedFiles, folder,
                           "Skipped " + listed(parts) + " " + where(folder) +
                               (files == 1 ? ": it isn’t a note." : ": they aren’t notes.")});
    if (skipped.links > 0)
        notices.push_back({NoticeKind::SkippedLinks, folder,
                           "Skipped " + counted(skipped.links, "symbolic link", "symbolic links") + " " +
                               where(folder) + ": links are never followed out of the export."});
}

void appendTooDeepNotice(const std::string& folder, std::size_t notes, std::vector<Notice>& notices) {
    if (notes == 0) return;
    notices.push_back({NoticeKind::TooDeep, folder,
                       "Not converted: this folder holds " + counted(notes, "note", "notes") +
                           ", and only notes at the top level or one sub-folder down become sheets."});
}

void appendRenameNotice(const std::string& notePath, const std::string& wanted, const std::string& chosen,
                        const NameChange& change, std::vector<Notice>& notices) {
    if (!change.numbered && !change.shortened && !change.portable) return;
    const std::string tooLong = "the name is longer than a file name can be (" + std::to_string(NAME_MAX) + " bytes)";
    const std::string taken = "another note or folder in the same place has the name";
    std::string why = change.shortened && change.numbered ? tooLong + ", and " + taken + " shortened"
                      : change.shortened                  ? tooLong
                                                          : taken;
    if (change.portable)
        why =
            "the name has characters, or a length, that disks such as FAT, exFAT, NTFS and network shares "
            "refuse" +
            (change.numbered ? ", and " + taken + " made safe" : std::string());
    notices.push_back(
        {NoticeKind::Renamed, notePath, "Renamed " + inQuotes(wanted) + " → " + inQuotes(chosen) + ": " + why + "."});
}

void appendNoteNotices(const std::string& notePath, const NoteFacts& facts, const std::string& dateLocale,
                       std::vector<Notice>& notices) {
    if (facts.encoding.starts_with("UTF-16"))
        notices.push_back({NoticeKind::Encoding, notePath,
                           "Read as UTF-16 (" +
                               std::string(facts.encoding.ends_with("LE") ? "little" : "big") +
                               "-endian): the note starts with a UTF-16 byte-order mark."});
    else if (!facts.encoding.empty())
        notices.push_back({NoticeKind::Encoding, notePath,
                           "Read as " + facts.encoding + ": the note isn’t valid UTF-8 text."});
    if (facts.pictureProblem != PictureProblem::None) {
        const std::string picture = "Picture " + inQuotes(facts.pictureValue);
        const std::string pictures = inQuotes(picturesFolderOf(notePath));
        std::string message;
        switch (facts.pictureProblem) {
            case PictureProblem::None:
            case PictureProblem::Empty: message = "The Picture line names no file"; break;
            case PictureProblem::Missing: message = picture + " isn’t in " + pictures; break;
            case PictureProblem::NotRegularFile:
                message = picture + " in " + pictures + " isn’t a regular file";
                break;
            case PictureProblem::SymbolicLink:
                message = picture + " is reached through a symbolic link, and links are never followed";
                break;
            case PictureProblem::OutsidePictures:
                message = picture + " points outside " + pictures;
                break;
            case PictureProblem::Ambiguous: {
                std::vector<std::string> names;
                for (const std::string& name : facts.pictureCandidates) names.push_back(inQuotes(name));
                message = picture + " could be any of " + listed(names) + " in " + pictures;
                break;
            }
        }
        notices.push_back({NoticeKind::Picture, notePath, message + "; the sheet has no picture."});
    }
    if (facts.unreadCreated)
        notices.push_back({NoticeKind::UnreadDate, notePath,
                           unreadDateMessage("Created", *facts.unreadCreated, dateLocale, "it is left out.")});
    if (facts.unreadModified)
        notices.push_back({NoticeKind::UnreadDate, notePath,
                           unreadDateMessage("Modified", *facts.unreadModified, dateLocale,
                                             "it is left out, so the package is dated now.")});
    if (facts.charactersLeftOut > 0)
        notices.push_back({NoticeKind::CharactersLeftOut, notePath,
                           "Left " + counted(facts.charactersLeftOut, "character", "characters") +
                               " out of Content.xml: XML can’t hold control characters, U+FFFE or U+FFFF. "
                               "Text.txt keeps the note as it was."});
    if (!facts.mediaName.empty())
        notices.push_back(
            {NoticeKind::Renamed, notePath,
             "Renamed the picture " + inQuotes(facts.mediaNameWanted) + " → " +
                 inQuotes("Media/" + facts.mediaName) +
                 (facts.mediaNamePortable
                      ? ": the name has characters that disks such as FAT, exFAT, NTFS and network "
                        "shares refuse."
                      : ": the name is too long to keep whole beside the sheet’s identifier.")});
}

void appendEmptySubFoldersNotice(const std::vector<std::string>& subFolders, std::vector<Notice>& notices) {
    std::vector<std::string> named;
    for (const std::string& name : subFolders) {
        if (name != "Pictures") named.push_back(inQuotes(name));
    }
    if (named.empty()) return;
    notices.push_back({NoticeKind::EmptySubFolders, "",
                       named.size() == 1 ? "The sub-folder " + named[0] + " holds no notes: it is written as an empty folder."
                                         : "The sub-folders " + listed(named) +
                                               " hold no notes: they are written as empty folders."});
}

namespace {

// How to read dates in locale, naming the setting that would win: LC_ALL
// overrides LC_TIME, and the command line's choice overrides both.
std::string dateLocaleAdvice(const std::string& locale, DateLocaleSource source) {
    const std::string option = "--date-locale " + locale;
    switch (source) {
        case DateLocaleSource::Override:
            return option;
        case DateLocaleSource::AllVariable:
            return "LC_ALL=" + locale + ".UTF-8 (or, on the command line, with " + option + ")";
        default:
            return "LC_TIME=" + locale + ".UTF-8 (or, on the command line, with " + option + ")";
    }
}

}  // namespace

Notice undatedPackageNotice(const std::string& notePath, Date modified) {
    const std::chrono::year_month_day day(std::chrono::floor<std::chrono::days>(modified));
    char text[40];
    std::snprintf(text, sizeof text, "%d-%02u-%02u", int(day.year()), unsigned(day.month()),
                  unsigned(day.day()));
    return {NoticeKind::UnreadDate, notePath,
            "Modified " + inQuotes(text) +
                " can’t be stored as the package’s date on this disk; the package is dated now."};
}

Notice temporaryAreaNotice(const fs::path& planted, const std::string& reason) {
    return {NoticeKind::TemporaryArea, "",
            "The temporary folder " + inQuotes(displayPath(planted)) + " isn’t yours (" + reason +
                "): it was left alone, and the sheets were made in a private folder beside it."};
}

std::optional<Notice> dateLocaleHint(const std::vector<std::string>& unread, const std::string& dateLocale,
                                     DateLocaleSource source) {
    if (unread.empty()) return std::nullopt;
    std::vector<std::u16string> values;
    for (const std::string& value : unread) {
        if (auto text = utf16FromUTF8(value)) values.push_back(std::move(*text));
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    std::vector<std::string> matching;
    int32_t count = 0;
    const icu::Locale* locales = icu::DateFormat::getAvailableLocales(count);
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = locales[i].getName();
        if (name == dateLocale) continue;
        if (std::all_of(values.begin(), values.end(),
                        [&name](const std::u16string& value) { return dateFromString(value, name).has_value(); }))
            matching.push_back(name);
    }
    if (matching.empty()) return std::nullopt;
    const std::string best = likeliestLocale(matching, dateLocale);
    const std::string what =
        unread.size() == 1
            ? "The date above that isn’t a date in " + dateLocale + " reads as a date in " + best
            : "The " + std::to_string(unread.size()) + " dates above that aren’t dates in " + dateLocale +
                  " all read as dates in " + best;
    return Notice{NoticeKind::DateLocaleHint, "",
                  what + ": run with " + dateLocaleAdvice(best, source) + "."};
}

std::size_t countNotesBelow(const fs::path& folder, const EntryTree& tree) {
    std::size_t notes = 0;
    const auto entries = tree.list(folder, nullptr);
    for (const FolderEntry& entry : entries ? *entries : std::vector<FolderEntry>()) {
        if (entry.name.starts_with('.')) continue;
        if (entry.kind == FolderEntry::Kind::Directory)
            notes += countNotesBelow(folder / entry.name, tree);  // links aren't followed, so this ends
        else if (entry.kind == FolderEntry::Kind::Other && isNoteName(entry.name) &&
                 tree.typeAt(folder / entry.name) == S_IFREG)
            ++notes;
    }
    return notes;
}

}  // namespace ni
