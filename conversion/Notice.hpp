#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/DateReading.hpp"
#include "conversion/NoteFile.hpp"
#include "platform/FileWrapper.hpp"

namespace ni {

// What a run left out or changed without failing, so that nobody has to diff
// an export by hand to find it.
enum class NoticeKind {
    TooDeep,            // notes below a sub-folder's sub-folder, not converted
    Picture,            // a Picture value that gave no picture
    UnreadDate,         // a Created or Modified value that isn't a date in the date locale
    DateLocaleHint,     // those values all read as dates in one other locale
    Renamed,            // a package or media name numbered or shortened
    CharactersLeftOut,  // characters XML can't hold, left out of Content.xml
    SkippedFiles,       // files of a folder that aren't notes
    SkippedLinks,       // symbolic links of a folder, never followed
    EmptySubFolders,    // sub-folders that hold no notes at all
    TemporaryArea,      // the temporary container was planted by someone else; the run worked beside it
    NotConverted,       // a note that couldn't be read, left out of a run that keeps going
    Encoding,           // a note read as UTF-16 or in the fallback encoding
    ArchiveEntry,       // an entry of a zipped export never used: its name leads out, or isn't text
};

struct Notice {
    NoticeKind kind;
    std::string path;  // relative to the export folder; empty for the export folder itself
    std::string message;
};

// The kind's identifier in reports ("too-deep", "picture", …).
std::string_view noticeKindName(NoticeKind kind);
// The kind in a few words, for a table column ("Not converted", "No picture", …).
std::string_view noticeKindTitle(NoticeKind kind);

// One converted note, for reports; paths relative to the export folder
// (note, picture) or to "Notara Export" (package).
struct SheetRecord {
    std::string note;
    std::string package;
    std::optional<std::string> picture;
    std::size_t tags = 0;
    std::optional<Date> created, modified;
};

// What building one sheet found worth a notice.
struct NoteFacts {
    PictureProblem pictureProblem = PictureProblem::None;
    std::string pictureValue;
    std::vector<std::string> pictureCandidates;  // the entries an ambiguous value could mean
    std::optional<std::string> unreadCreated, unreadModified;
    std::size_t charactersLeftOut = 0;
    std::string encoding;                    // what the note was read as, when it isn't UTF-8
    std::string mediaNameWanted, mediaName;  // set when the picture's name was shortened or made portable
    bool mediaNamePortable = false;          // made portable (else shortened)
    std::size_t tags = 0;
};

// What the walk skipped in one folder: files by kind, and symbolic links.
struct SkippedEntries {
    enum Kind { Pictures, CSV, HTML, RTF, PDF, Videos, Other, KindCount };
    std::array<std::size_t, KindCount> files{};
    std::size_t links = 0;

    void addFile(std::string_view name);
    bool empty() const;
};

// How a package name came out of PackageNames::assign.
struct NameChange {
    bool numbered = false;   // another package of the folder had the name
    bool shortened = false;  // the name was longer than a file name can be
    bool portable = false;   // characters some disks refuse were replaced
};

// The notices for the facts of one part of the walk, appended to notices.
// folder is relative to the export folder ("" for the export folder itself).
void appendSkippedNotices(const std::string& folder, const SkippedEntries& skipped,
                          std::vector<Notice>& notices);
void appendTooDeepNotice(const std::string& folder, std::size_t notes, std::vector<Notice>& notices);
void appendRenameNotice(const std::string& notePath, const std::string& wanted, const std::string& chosen,
                        const NameChange& change, std::vector<Notice>& notices);
void appendNoteNotices(const std::string& notePath, const NoteFacts& facts, const std::string& dateLocale,
                       std::vector<Notice>& notices);
// subFolders: the export's sub-folders' names; none of them holds a note.
// "Pictures" is left out (an export may always have one); nothing when no other is left.
void appendEmptySubFoldersNotice(const std::vector<std::string>& subFolders, std::vector<Notice>& notices);

// The notice for a sheet whose Modified date the file system can't hold.
Notice undatedPackageNotice(const std::string& notePath, Date modified);
// The notice for a temporary container that wasn't this user's own.
Notice temporaryAreaNotice(const std::filesystem::path& planted, const std::string& reason);

// When every value in unread reads as a date in one locale other than
// dateLocale (ICU's available locales, medium date + short time), the hint
// naming it and the setting that reads in it; nothing otherwise or when unread
// is empty.
// source says which setting chose dateLocale, so that the hint names the one that wins.
std::optional<Notice> dateLocaleHint(const std::vector<std::string>& unread, const std::string& dateLocale,
                                     DateLocaleSource source);

// The notes (files with a note's extension) anywhere below folder, hidden
// entries and symbolic links left out; what can't be listed counts as empty.
// tree: where folder is.
std::size_t countNotesBelow(const std::filesystem::path& folder, const EntryTree& tree = fileSystemTree());

}  // namespace ni
