#include "conversion/FolderConversion.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>

#include "conversion/ArchiveExport.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/Notice.hpp"
#include "conversion/PackageNames.hpp"
#include "conversion/SheetContent.hpp"
#include "conversion/SheetPackage.hpp"
#include "conversion/UserInterface.hpp"
#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"
#include "platform/FileDescriptor.hpp"
#include "platform/FileManager.hpp"
#include "platform/FileMove.hpp"
#include "platform/FolderListing.hpp"
#include "platform/Resources.hpp"
#include "platform/UTF8.hpp"
#include "utilities/StringPathUtilities.hpp"
#include "utilities/TemporaryFiles.hpp"
#include "utilities/TypeIdentifiers.hpp"
#include "utilities/URLPathUtilities.hpp"
#include "utilities/UniqueIdentifier.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

using EntryKind = FolderEntry::Kind;

// The visible entries of a folder: hidden ones are no notes and no groups.
std::optional<std::vector<FolderEntry>> listFolder(const FolderScan& scan, const fs::path& url,
                                                   Error* error) {
    auto entries = scan.tree().list(url, error);
    if (entries)
        std::erase_if(*entries, [](const FolderEntry& entry) { return entry.name.starts_with('.'); });
    return entries;
}

// The failures of a parallel run: the one that counts is the first in index
// order, as one thread going through the list would report it.
class Failures {
public:
    explicit Failures(std::size_t total) : first_(total) {}
    void add(std::size_t i, Error error) {
        const std::lock_guard lock(mutex_);
        errors_.emplace(i, std::move(error));
        std::size_t first = first_.load();
        while (i < first && !first_.compare_exchange_weak(first, i)) {
        }
    }
    // Whether an item before i failed already, which ends the run there.
    bool before(std::size_t i) const { return first_.load() < i; }
    const Error* first() const { return errors_.empty() ? nullptr : &errors_.at(first_.load()); }

private:
    std::atomic<std::size_t> first_;
    std::mutex mutex_;
    std::map<std::size_t, Error> errors_;
};

// Runs run(false) on up to seven helper threads, one per further core, and
// run(true) on the calling thread, and waits for them all.
template <typename Run>
void onEveryCore(std::size_t total, const Run& run) {
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t helpers = std::min({cores - 1, std::size_t{7}, total / 8});
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < helpers; ++k) {
        try {
            threads.emplace_back(run, false);
        } catch (const std::system_error&) {
            break;  // fewer threads only means a slower run
        }
    }
    run(true);
    for (std::thread& thread : threads) thread.join();
}

// Calls work(i, error, state) for every i below total, on every core. The
// calling thread takes part and alone reports progress, a few hundred times at
// most (each report is a trip through a window's event loop). When items fail,
// the error is the first failing item's in index order. A cancel request ends
// the run between items. Each thread has a State of its own for work to keep
// things in; itemURL(i) names item i when memory runs out on it.
template <typename State, typename ItemURL, typename Work>
bool forEachInParallel(std::size_t total, ConversionPhase phase, UserInterface* progress,
                       const fs::path& cancelledURL, Error* error, const ItemURL& itemURL, const Work& work) {
    std::atomic<std::size_t> next{0}, done{0};
    Failures failures(total);
    constexpr std::size_t kReports = 200;
    onEveryCore(total, [&](bool reportsProgress) {
        std::size_t reported = 0;
        State state{};
        for (std::size_t i = next++; i < total && !failures.before(i); i = next++) {
            if (cancellationRequested()) return failures.add(i, Error(ErrorKind::Cancelled, cancelledURL));
            Error itemError;
            bool worked = false;
            // Memory running out is that item's failure, named, never an abort:
            // an exception must not leave a helper thread.
            try {
                worked = work(i, &itemError, state);
            } catch (const std::bad_alloc&) {
                itemError = Error(ErrorKind::OutOfMemory, itemURL(i));
            }
            if (!worked) failures.add(i, std::move(itemError));
            const std::size_t finished = ++done;
            if (reportsProgress && progress != nullptr && finished * kReports / total > reported) {
                reported = finished * kReports / total;
                progress->conversionProgress(phase, finished, total);
            }
        }
    });
    // A stop asked for while items failed is still a stop: the caller ends as a cancelled run.
    if (cancellationRequested()) return setError(error, Error(ErrorKind::Cancelled, cancelledURL));
    if (const Error* failure = failures.first()) return setError(error, *failure);
    if (progress != nullptr) progress->conversionProgress(phase, total, total);
    return true;
}

std::shared_ptr<const SheetTemplate> loadSheetTemplate(Error* error) {
    const auto templateURL = URLForResource("Sheet Template", "inkvale", error);
    if (!templateURL) return nullptr;
    auto sheetTemplate = std::make_shared<SheetTemplate>();
    if (!loadTemplateContent(*templateURL, *sheetTemplate, error)) return nullptr;
    return sheetTemplate;
}

// ----- Walk: which entries are notes, which folders are groups, what is skipped.

// A notice of the walk with the number of notes walked before it: once the
// notes' own notices join them, they keep the order of the walk.
struct WalkNotice {
    std::size_t notesBefore;
    Notice notice;
};

struct Walk {
    std::vector<WalkNotice> notices;
    std::vector<std::string> groupsWithoutNotes;

    void add(FolderScan& scan, std::vector<Notice> found) {
        for (Notice& notice : found) notices.push_back({scan.sheets.size(), std::move(notice)});
    }
};

// One sub-folder: its notes become the group's sheets; deeper folders only
// counted, links and other files skipped.
bool walkGroup(FolderScan& scan, const std::string& name, Walk& walk, Error* error) {
    scan.groups.push_back(name);
    const auto folder = static_cast<std::uint32_t>(scan.groups.size());
    const fs::path url = scan.folderURL / name;
    const auto children = listFolder(scan, url, error);
    if (!children) return false;
    const std::size_t notesBefore = scan.sheets.size();
    SkippedEntries skipped;
    std::vector<Notice> notices;
    for (const FolderEntry& child : *children) {
        if (child.kind == EntryKind::SymbolicLink) {
            ++scan.summary.skippedLinks;  // never followed out of the export
            ++skipped.links;
        } else if (child.kind == EntryKind::Directory) {
            appendTooDeepNotice(name + "/" + child.name, countNotesBelow(url / child.name, scan.tree()),
                                notices);
        } else if (isNoteName(child.name)) {
            PlannedSheet& sheet = scan.sheets.emplace_back();
            sheet.folder = folder;
            sheet.noteName = child.name;
        } else if (name != "Pictures") {  // a picture in a Pictures folder is where it belongs
            skipped.addFile(child.name);
        }
    }
    appendSkippedNotices(name, skipped, notices);
    walk.add(scan, std::move(notices));
    if (scan.sheets.size() == notesBefore) walk.groupsWithoutNotes.push_back(name);
    return true;
}

// The export folder's entries in name order, a sub-folder's notes where the sub-folder comes.
bool walkExport(FolderScan& scan, Walk& walk, Error* error) {
    const auto entries = listFolder(scan, scan.folderURL, error);
    if (!entries) return false;
    SkippedEntries skipped;
    for (const FolderEntry& entry : *entries) {
        if (entry.kind == EntryKind::SymbolicLink) {
            ++scan.summary.skippedLinks;
            ++skipped.links;
        } else if (entry.kind == EntryKind::Directory) {
            if (!walkGroup(scan, entry.name, walk, error)) return false;
        } else if (isNoteName(entry.name)) {
            scan.sheets.emplace_back().noteName = entry.name;
        } else {
            skipped.addFile(entry.name);
        }
    }
    std::vector<Notice> closing;
    appendSkippedNotices("", skipped, closing);
    if (!scan.groups.empty() && walk.groupsWithoutNotes.size() == scan.groups.size())
        appendEmptySubFoldersNotice(walk.groupsWithoutNotes, closing);
    walk.add(scan, std::move(closing));
    return true;
}

// ----- Plan: the first reading of every note settles its sheet.

// What a note read for the first time settles of its sheet, and its facts for
// the notices when it gives any.
void planSheet(PlannedSheet& sheet, const NINote& note, const fs::path& noteFolder, bool portableNames) {
    sheet.creationDate = note.creationDate;
    sheet.modificationDate = note.modificationDate;
    sheet.tags = note.tagCount();
    NoteFacts facts;
    if (note.pictureURL) {
        sheet.picturePath = note.pictureURL->lexically_relative(noteFolder).native();
        sheet.pictureIdentifier = newUniqueIdentifier();
        const std::string wanted = note.pictureURL->filename().native();
        const std::string safe = portableNames ? portableName(wanted) : wanted;
        sheet.mediaName = mediaNameForPicture(safe, sheet.pictureIdentifier);
        if (!sheet.mediaName.starts_with(lastPathComponentDeletingPathExtension(wanted) + ".")) {
            facts.mediaNameWanted = wanted;  // its stem was cut to fit the name limit, or made portable
            facts.mediaNamePortable = safe != wanted;
            facts.mediaName = sheet.mediaName;
        }
    }
    facts.pictureProblem = note.pictureProblem;
    facts.pictureValue = utf8FromUTF16(note.pictureValue);
    facts.pictureCandidates = note.pictureCandidates;
    if (note.unreadCreated) facts.unreadCreated = utf8FromUTF16(*note.unreadCreated);
    if (note.unreadModified) facts.unreadModified = utf8FromUTF16(*note.unreadModified);
    facts.charactersLeftOut = charactersXMLCantHold(note);
    facts.encoding = note.encoding;
    facts.tags = sheet.tags;
    if (facts.pictureProblem != PictureProblem::None || facts.unreadCreated || facts.unreadModified ||
        facts.charactersLeftOut > 0 || !facts.mediaName.empty() || !facts.encoding.empty())
        sheet.facts = std::make_unique<NoteFacts>(std::move(facts));
}

// What the first reading of a note's bytes settles of its sheet; the bytes
// are kept for the writing while the run's budget lasts.
bool readSheet(PlannedSheet& sheet, std::optional<std::string> bytes, const fs::path& url,
               const fs::path& noteFolder, const NoteReading& reading, const ConversionOptions& options,
               std::atomic<std::size_t>& keptBytes, Error* error) {
    const auto note = bytes ? noteFromBytes(*bytes, url, error, reading) : std::nullopt;
    if (!note && options.keepGoing) {
        sheet.leftOut = std::make_unique<Error>(std::move(*error));  // told in walk order, later
        return true;
    }
    if (!note) return false;
    // An export of ordinary size is read only once.
    if (keptBytes.fetch_add(bytes->size()) + bytes->size() <= options.keptNoteBytes)
        sheet.noteBytes = std::make_unique<const std::string>(std::move(*bytes));
    else
        keptBytes.fetch_sub(bytes->size());
    planSheet(sheet, *note, noteFolder, options.portableNames);
    return true;
}

// Every note is read and checked before anything is written; only what the
// writing can't find again is kept, and the bytes while the budget lasts.
bool readNotes(FolderScan& scan, const ConversionOptions& options, const NoteReading& reading, Error* error) {
    struct Stateless {};
    std::atomic<std::size_t> keptBytes{0};
    const std::vector<fs::path> noteFolders = scan.folders(scan.folderURL);
    const auto noteURL = [&](std::size_t i) {
        return noteFolders[scan.sheets[i].folder] / scan.sheets[i].noteName;
    };
    return forEachInParallel<Stateless>(
        scan.sheets.size(), ConversionPhase::ReadingNotes, options.progress, scan.folderURL, error, noteURL,
        [&](std::size_t i, Error* noteError, Stateless&) {
            const fs::path url = noteURL(i);
            return readSheet(scan.sheets[i], readNoteBytes(url, noteError), url,
                             noteFolders[scan.sheets[i].folder], reading, options, keptBytes, noteError);
        });
}

// A note's bytes from the archive pass standing at its entry; nothing with
// noteError set when the note can't be read, or with archiveError set when
// the archive fails (which ends any run).
std::optional<std::string> archiveNoteBytes(ArchivePass& pass, const ArchiveIndex& index, const fs::path& url,
                                            Error& noteError, Error& archiveError) {
    if (index.typeAt(url) != S_IFREG) {
        noteError = Error(ErrorKind::NotRegularFile, url);
        return std::nullopt;
    }
    if (const auto declared = pass.declaredSize(); declared && *declared > kLargestNote) {
        noteError = tooLargeNoteError(url, *declared);
        return std::nullopt;
    }
    auto bytes = pass.readAll(kLargestNote, &archiveError);
    if (bytes && bytes->size() > kLargestNote) {
        noteError = tooLargeNoteError(url, bytes->size());
        return std::nullopt;
    }
    return bytes;
}

// A zipped export's notes, read in the order the archive holds them and
// parsed on every core a batch at a time, so that memory stays with a batch.
bool readArchiveNotes(FolderScan& scan, const ConversionOptions& options, const NoteReading& reading,
                      Error* error) {
    struct Stateless {};
    constexpr std::size_t kBatchBytes = std::size_t{8} << 20, kBatchNotes = 1024;
    const ArchiveIndex& index = *scan.archive;
    std::unordered_map<std::string, std::size_t> sheetOfNote;
    for (std::size_t i = 0; i < scan.sheets.size(); ++i)
        sheetOfNote.emplace(scan.notePath(scan.sheets[i]), i);
    const std::vector<fs::path> noteFolders = scan.folders(scan.folderURL);
    std::atomic<std::size_t> keptBytes{0};
    std::vector<std::pair<std::size_t, std::string>> batch;
    std::size_t batchBytes = 0, read = 0;
    const auto urlOf = [&](std::size_t k) {
        return index.url() / scan.notePath(scan.sheets[batch[k].first]);
    };
    const auto parseBatch = [&] {
        const bool parsed = forEachInParallel<Stateless>(
            batch.size(), ConversionPhase::ReadingNotes, nullptr, scan.folderURL, error, urlOf,
            [&](std::size_t k, Error* noteError, Stateless&) {
                PlannedSheet& sheet = scan.sheets[batch[k].first];
                return readSheet(sheet, std::move(batch[k].second), urlOf(k), noteFolders[sheet.folder],
                                 reading, options, keptBytes, noteError);
            });
        read += batch.size();
        if (options.progress != nullptr)
            options.progress->conversionProgress(ConversionPhase::ReadingNotes, read, scan.sheets.size());
        batch.clear();
        batchBytes = 0;
        return parsed;
    };
    auto pass = ArchivePass::open(index, error);
    if (!pass) return false;
    std::string path;
    Error archiveError;
    while (pass->next(path, &archiveError)) {
        const auto found = sheetOfNote.find(path);
        if (found == sheetOfNote.end()) continue;
        const fs::path url = index.url() / path;
        Error noteError;
        auto bytes = archiveNoteBytes(*pass, index, url, noteError, archiveError);
        if (archiveError) break;
        if (!bytes && !options.keepGoing) return setError(error, std::move(noteError));
        if (!bytes) {
            scan.sheets[found->second].leftOut = std::make_unique<Error>(std::move(noteError));
            continue;
        }
        batchBytes += bytes->size();
        batch.emplace_back(found->second, std::move(*bytes));
        if ((batchBytes >= kBatchBytes || batch.size() >= kBatchNotes) && !parseBatch()) return false;
    }
    if (archiveError) return setError(error, std::move(archiveError));
    return parseBatch();
}

// The groups' folder names in the export, taken before any top-level sheet is
// named. As they are, or made portable: then letter case no longer tells two
// apart either (such disks fold it), so a clash is numbered, with a notice.
void nameGroups(FolderScan& scan, PackageNames& topLevel, bool portableNames, std::vector<Notice>& notices) {
    scan.exportGroups.clear();
    for (const std::string& group : scan.groups) {
        if (!portableNames) {
            topLevel.take(group);
            scan.exportGroups.push_back(group);
            continue;
        }
        const std::string safe = portableName(group);
        NameChange change;
        scan.exportGroups.push_back(topLevel.assign(safe, &change));
        change.portable = safe != group;
        appendRenameNotice(group, group, scan.exportGroups.back(), change, notices);
    }
}

// The report's record of a planned sheet.
SheetRecord recordOf(const FolderScan& scan, const PlannedSheet& sheet) {
    const std::string folderPrefix = sheet.folder == 0 ? std::string() : scan.groups[sheet.folder - 1] + "/";
    const std::string exportPrefix =
        sheet.folder == 0 ? std::string() : scan.exportGroups[sheet.folder - 1] + "/";
    SheetRecord record{scan.notePath(sheet), exportPrefix + sheet.packageName,
                       std::nullopt,         sheet.tags,
                       sheet.creationDate,   sheet.modificationDate};
    if (!sheet.picturePath.empty()) record.picture = folderPrefix + sheet.picturePath;
    return record;
}

// Naming follows the walk, so the same export always gets the same names, and
// the notices come in the order of the walk. Group folders are written first
// into the export folder, so their names are taken before any top-level sheet.
void nameSheets(FolderScan& scan, Walk& walk, const ConversionOptions& options,
                const std::string& dateLocale) {
    std::vector<PackageNames> names(scan.groups.size() + 1);
    std::vector<Notice>& notices = scan.summary.notices;
    nameGroups(scan, names[0], options.portableNames, notices);
    std::vector<std::string> unreadDates;
    auto listed = walk.notices.begin();
    for (std::size_t i = 0; i < scan.sheets.size(); ++i) {
        for (; listed != walk.notices.end() && listed->notesBefore <= i; ++listed)
            notices.push_back(std::move(listed->notice));
        PlannedSheet& sheet = scan.sheets[i];
        const std::string notePath = scan.notePath(sheet);
        if (sheet.leftOut) {
            notices.push_back({NoticeKind::NotConverted, notePath, sheet.leftOut->message()});
            continue;
        }
        const std::string wanted = lastPathComponentDeletingPathExtension(sheet.noteName) + ".inkvale";
        const std::string safe = options.portableNames ? portableName(wanted) : wanted;
        NameChange change;
        sheet.packageName = names[sheet.folder].assign(safe, &change);
        change.portable = safe != wanted;
        appendRenameNotice(notePath, wanted, sheet.packageName, change, notices);
        if (sheet.facts) {
            appendNoteNotices(notePath, *sheet.facts, dateLocale, notices);
            for (const auto& value : {sheet.facts->unreadCreated, sheet.facts->unreadModified})
                if (value) unreadDates.push_back(*value);
            sheet.facts.reset();  // told: its memory goes to the next notes
        }
        if (options.recordSheets) scan.summary.sheets.push_back(recordOf(scan, sheet));
        scan.summary.pictures += !sheet.picturePath.empty();
    }
    for (; listed != walk.notices.end(); ++listed) notices.push_back(std::move(listed->notice));
    std::erase_if(scan.sheets, [](const PlannedSheet& sheet) { return sheet.leftOut != nullptr; });
    const DateLocaleSource source = options.dateLocale ? DateLocaleSource::Override : dateLocaleSource();
    if (auto hint = dateLocaleHint(unreadDates, dateLocale, source)) notices.push_back(std::move(*hint));
}

// ----- Write: the second reading builds each sheet and writes it.

// The folder a thread wrote into last, kept open: consecutive sheets share a
// folder, and an open per sheet would cost a path lookup each.
struct OpenFolder {
    std::uint32_t folder = UINT32_MAX;
    FileDescriptor fd{-1};
};

// Where the sheets go while they are written, and the names errors give them.
struct WriteTargets {
    std::vector<fs::path> noteFolders, exportFolders, stagingFolders;
};

// The staging folder of a sheet's folder, open; -1 with the error set.
int openFolder(OpenFolder& open, const WriteTargets& targets, std::uint32_t folder, Error* error) {
    if (open.folder != folder) {
        open.fd = FileDescriptor(
            ::open(targets.stagingFolders[folder].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        open.folder = open.fd.get() < 0 ? UINT32_MAX : folder;
        if (open.fd.get() < 0)
            setError(error, Error(ErrorKind::WriteFailed, targets.exportFolders[folder], errno));
    }
    return open.fd.get();
}

// Writes sheet i; dateLeftOut tells whether the file system couldn't hold its date.
bool writeSheet(const FolderScan& scan, std::size_t i, const WriteTargets& targets,
                const NoteReading& reading, OpenFolder& open, char& dateLeftOut, Error* error) {
    const PlannedSheet& planned = scan.sheets[i];
    const fs::path& noteFolder = targets.noteFolders[planned.folder];
    const fs::path noteURL = noteFolder / planned.noteName;
    std::optional<std::string> bytes;
    if (!planned.noteBytes && !(bytes = readNoteBytes(noteURL, error))) return false;
    auto note = noteFromBytes(bytes ? *bytes : *planned.noteBytes, noteURL, error, reading);
    if (!note) return false;
    note->creationDate = planned.creationDate;
    note->modificationDate = planned.modificationDate;
    std::optional<SheetPicture> picture;
    if (!planned.picturePath.empty()) {
        picture =
            openSheetPicture(noteURL, noteFolder / planned.picturePath, planned.pictureIdentifier, error);
        if (!picture) return false;
        picture->mediaName = planned.mediaName;  // as planned: made portable when asked
    }
    const auto sheet = sheetForNote(*note, *scan.sheetTemplate, std::move(picture));
    const int folderFd = openFolder(open, targets, planned.folder, error);
    if (folderFd < 0 ||
        !sheet->writeInFolder(folderFd, targets.exportFolders[planned.folder], planned.packageName, error))
        return false;
    dateLeftOut = sheet->modificationDateWasLeftOut();
    return true;
}

// ----- Write, from a zipped export: a package's picture may come before or
// after its note in the archive, so a package is made by whichever comes
// first, and dated once all of it is there.

// The package folder of sheet i, made once.
bool makePackage(const FolderScan& scan, std::size_t i, const WriteTargets& targets, int folderFd,
                 std::vector<char>& made, Error* error) {
    const PlannedSheet& planned = scan.sheets[i];
    if (made[i]) return true;
    if (!FileWrapper::directory({})->writeInFolder(folderFd, targets.exportFolders[planned.folder],
                                                   planned.packageName, error))
        return false;
    made[i] = 1;
    return true;
}

// Content.xml and Text.txt of sheet i from its note's bytes; its picture goes into Media apart.
bool writeSheetText(const FolderScan& scan, std::size_t i, std::string_view bytes,
                    const WriteTargets& targets, const NoteReading& reading, OpenFolder& open,
                    std::vector<char>& made, Error* error) {
    const PlannedSheet& planned = scan.sheets[i];
    auto note = noteFromBytes(bytes, targets.noteFolders[planned.folder] / planned.noteName, error, reading);
    if (!note) return false;
    std::optional<SheetPicture> picture;
    if (!planned.picturePath.empty())
        picture = SheetPicture{planned.pictureIdentifier, planned.mediaName, {}};
    const auto sheet = sheetForNote(*note, *scan.sheetTemplate, std::move(picture));
    const int folderFd = openFolder(open, targets, planned.folder, error);
    if (folderFd < 0 || !makePackage(scan, i, targets, folderFd, made, error)) return false;
    for (const auto& [name, child] : sheet->children()) {
        if (!child->writeInFolder(folderFd, targets.exportFolders[planned.folder],
                                  planned.packageName + "/" + name, error))
            return false;
    }
    return true;
}

// A picture into the Media folder of every sheet that shows it: fill writes
// the first copy, the others copy that one.
template <typename Fill>
bool writeArchivePicture(const FolderScan& scan, const std::vector<std::size_t>& showing,
                         const WriteTargets& targets, const Fill& fill, std::vector<char>& made,
                         Error* error) {
    fs::path first;
    for (const std::size_t i : showing) {
        const PlannedSheet& planned = scan.sheets[i];
        OpenFolder open;
        const int folderFd = openFolder(open, targets, planned.folder, error);
        if (folderFd < 0 || !makePackage(scan, i, targets, folderFd, made, error)) return false;
        const fs::path& exportFolder = targets.exportFolders[planned.folder];
        const std::string media = planned.packageName + "/Media";
        if (!FileWrapper::directory({})->writeInFolder(folderFd, exportFolder, media, error)) return false;
        const std::string path = media + "/" + planned.mediaName;
        if (!first.empty()) {
            if (!FileWrapper::fileReference(first)->writeInFolder(folderFd, exportFolder, path, error))
                return false;
            continue;
        }
        FileDescriptor file(
            ::openat(folderFd, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (file.get() < 0) return setError(error, Error(ErrorKind::WriteFailed, exportFolder / path, errno));
        if (!fill(file.get(), exportFolder / path, error)) return false;
        if (const int closeError = file.close())
            return setError(error, Error(ErrorKind::WriteFailed, exportFolder / path, closeError));
        first = targets.stagingFolders[planned.folder] / path;
    }
    return true;
}

// The archive pass of the writing: every picture a sheet shows, and the
// notes whose bytes weren't kept. Sheets whose text it wrote are marked in
// written; progress is told the packages made, as pictures can take long.
bool writeFromArchive(const FolderScan& scan, const WriteTargets& targets, const NoteReading& reading,
                      UserInterface* progress, std::vector<char>& made, std::vector<char>& written,
                      Error* error) {
    std::unordered_map<std::string, std::vector<std::size_t>> showing;  // a picture's entry: its sheets
    std::unordered_map<std::string, std::size_t> unkept;                // a note's entry: its sheet
    for (std::size_t i = 0; i < scan.sheets.size(); ++i) {
        const PlannedSheet& sheet = scan.sheets[i];
        const std::string folder = sheet.folder == 0 ? std::string() : scan.groups[sheet.folder - 1] + "/";
        if (!sheet.picturePath.empty()) showing[folder + sheet.picturePath].push_back(i);
        if (!sheet.noteBytes) unkept.emplace(folder + sheet.noteName, i);
    }
    if (showing.empty() && unkept.empty()) return true;
    auto pass = ArchivePass::open(*scan.archive, error);
    if (!pass) return false;
    OpenFolder open;
    std::string path;
    Error passError;
    std::size_t done = 0, reported = 0;  // packages made so far, and in progress reports (of 200)
    const auto tell = [&](std::size_t sheet, char wasMade) {
        done += made[sheet] && !wasMade;
        if (progress != nullptr && done * 200 / made.size() > reported) {
            reported = done * 200 / made.size();
            progress->conversionProgress(ConversionPhase::WritingPackages, done, made.size());
        }
    };
    while (pass->next(path, &passError)) {
        const auto note = unkept.find(path);
        const auto picture = showing.find(path);
        // An entry can be both: a note in a "Pictures" group that another note shows.
        std::optional<std::string> bytes;
        if (note != unkept.end()) {
            if (!(bytes = pass->readAll(kLargestNote, error))) return false;
            if (bytes->size() > kLargestNote)  // grown since it was first read
                return setError(error, tooLargeNoteError(scan.archive->url() / path, bytes->size()));
            const char wasMade = made[note->second];
            if (!writeSheetText(scan, note->second, *bytes, targets, reading, open, made, error))
                return false;
            written[note->second] = 1;
            tell(note->second, wasMade);
        }
        if (picture == showing.end()) continue;
        const auto fill = [&](int fd, const fs::path& target, Error* fillError) {
            if (!bytes) {
                // The picture keeps its own date, as a copy from a folder does.
                const timespec times[2] = {pass->modificationTime(), pass->modificationTime()};
                return pass->copyTo(fd, target, fillError) && (::futimens(fd, times), true);
            }
            if (const int failed = writeAllBytes(fd, bytes->data(), bytes->size()))
                return setError(fillError, Error(ErrorKind::WriteFailed, target, failed));
            return true;
        };
        std::vector<char> wasMade;
        for (const std::size_t sheet : picture->second) wasMade.push_back(made[sheet]);
        if (!writeArchivePicture(scan, picture->second, targets, fill, made, error)) return false;
        for (std::size_t k = 0; k < wasMade.size(); ++k) tell(picture->second[k], wasMade[k]);
    }
    return !passError || setError(error, std::move(passError));
}

// A zipped export's sheets: the archive pass, then the sheets of kept notes
// on every core, and every package dated last. Progress is the pass's when
// there was one: counting again from nothing would run it backwards.
bool writeArchiveSheets(const FolderScan& scan, const WriteTargets& targets, const NoteReading& reading,
                        UserInterface* progress, std::vector<char>& undated, Error* error) {
    std::vector<char> made(scan.sheets.size(), 0), written(scan.sheets.size(), 0);
    if (!writeFromArchive(scan, targets, reading, progress, made, written, error)) return false;
    const bool streamed = std::find(made.begin(), made.end(), 1) != made.end();
    const bool wrote = forEachInParallel<OpenFolder>(
        scan.sheets.size(), ConversionPhase::WritingPackages, streamed ? nullptr : progress, scan.folderURL,
        error,
        [&](std::size_t i) { return targets.noteFolders[scan.sheets[i].folder] / scan.sheets[i].noteName; },
        [&](std::size_t i, Error* sheetError, OpenFolder& open) {
            const PlannedSheet& planned = scan.sheets[i];
            if (!written[i] &&
                !writeSheetText(scan, i, *planned.noteBytes, targets, reading, open, made, sheetError))
                return false;
            if (!planned.modificationDate) return true;
            const int folderFd = openFolder(open, targets, planned.folder, sheetError);
            bool leftOut = false;
            if (folderFd < 0 || !FileWrapper::applyModificationDate(
                                    folderFd, targets.exportFolders[planned.folder], planned.packageName,
                                    *planned.modificationDate, leftOut, sheetError))
                return false;
            undated[i] = leftOut;
            return true;
        });
    if (wrote && streamed && progress != nullptr)
        progress->conversionProgress(ConversionPhase::WritingPackages, made.size(), made.size());
    return wrote;
}

// A folder for every group in the staging folder.
bool makeGroupFolders(const FolderScan& scan, const fs::path& stagingURL, const fs::path& exportURL,
                      Error* error) {
    FileDescriptor stagingFd(::open(stagingURL.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (stagingFd.get() < 0) return setError(error, Error(ErrorKind::WriteFailed, exportURL, errno));
    for (const std::string& group : scan.exportGroups) {
        if (!FileWrapper::directory({})->writeInFolder(stagingFd.get(), exportURL, group, error))
            return false;
    }
    return true;
}

}  // namespace

std::optional<FolderScan> scanFolderAtURL(const fs::path& folderURL, const ConversionOptions& options,
                                          Error* error) {
    struct stat st {};
    if (::stat(folderURL.c_str(), &st) != 0) {
        const int saved = errno;
        setError(error,
                 Error(saved == ENOENT ? ErrorKind::FileNotFound : ErrorKind::ReadFailed, folderURL, saved));
        return std::nullopt;
    }
    const bool zipped = S_ISREG(st.st_mode) && isArchiveName(folderURL);
    if (!S_ISDIR(st.st_mode) && !zipped) {
        setError(error, Error(ErrorKind::NotDirectory, folderURL));
        return std::nullopt;
    }
    FolderScan scan;
    scan.folderURL = folderURL;
    Walk walk;
    if (zipped && !(scan.archive = ArchiveIndex::read(folderURL, error))) return std::nullopt;
    if (zipped) walk.add(scan, scan.archive->notices());
    if (!walkExport(scan, walk, error)) return std::nullopt;
    scan.sheetTemplate = loadSheetTemplate(error);
    if (!scan.sheetTemplate) return std::nullopt;
    const std::string dateLocale = options.dateLocale.value_or(dateLocaleName());
    const NoteReading reading{NoteParts::All, dateLocale, options.fallbackEncoding, &scan.tree()};
    if (!(zipped ? readArchiveNotes : readNotes)(scan, options, reading, error)) return std::nullopt;
    // Keeping going past every note there is would report success with nothing converted.
    const auto leftOut = [](const PlannedSheet& sheet) { return sheet.leftOut != nullptr; };
    if (!scan.sheets.empty() && scan.groups.empty() &&
        std::all_of(scan.sheets.begin(), scan.sheets.end(), leftOut))
        return setError(error, *scan.sheets.front().leftOut), std::nullopt;
    nameSheets(scan, walk, options, dateLocale);
    scan.summary.notes = scan.sheets.size();
    scan.summary.subFolders = scan.groups.size();
    scan.summary.source = folderURL;
    scan.summary.dateLocale = dateLocale;
    return scan;
}

bool writeFolderScan(FolderScan& scan, const fs::path& exportURL, const ConversionOptions& options,
                     Error* error) {
    // Written under a hidden name beside its own and renamed once whole, so the
    // export never shows up in part. Messages name the export's own paths.
    const fs::path stagingURL = exportURL.parent_path() / ("." + exportURL.filename().native() + ".partial");
    const WriteTargets targets{scan.folders(scan.folderURL), scan.folders(exportURL, true),
                               scan.folders(stagingURL, true)};
    const auto fail = [&](Error failure) {
        removeItemAtURL(stagingURL, nullptr);
        return setError(error, std::move(failure));
    };
    if (options.progress != nullptr)
        options.progress->conversionProgress(ConversionPhase::WritingPackages, 0, scan.sheets.size());
    Error written;
    if (!FileWrapper::directory({})->writeToURL(stagingURL, &written)) {
        // Something left in the way is named as the export itself, and isn't ours to remove.
        return setError(error, Error(written.kind(), exportURL, written.osError(), written.detail()));
    }
    if (!makeGroupFolders(scan, stagingURL, exportURL, &written)) return fail(std::move(written));
    // Text only: the picture and dates were settled by the first reading.
    const NoteReading reading{NoteParts::TextOnly, scan.summary.dateLocale, options.fallbackEncoding,
                              &scan.tree()};
    // One element per sheet, so that threads never share one.
    std::vector<char> undated(scan.sheets.size(), 0);
    const bool wrote =
        scan.archive ? writeArchiveSheets(scan, targets, reading, options.progress, undated, &written)
                     : forEachInParallel<OpenFolder>(
                           scan.sheets.size(), ConversionPhase::WritingPackages, options.progress,
                           scan.folderURL, &written,
                           [&](std::size_t i) {
                               return targets.noteFolders[scan.sheets[i].folder] / scan.sheets[i].noteName;
                           },
                           [&](std::size_t i, Error* sheetError, OpenFolder& open) {
                               return writeSheet(scan, i, targets, reading, open, undated[i], sheetError);
                           });
    if (!wrote) return fail(std::move(written));
    // Finish: the whole folder takes its name at once.
    if (!moveItemAtURL(stagingURL, exportURL, &written)) return fail(std::move(written));
    // Found only by writing, so told after what reading the notes found.
    for (std::size_t i = 0; i < undated.size(); ++i) {
        if (undated[i])
            scan.summary.notices.push_back(
                undatedPackageNotice(scan.notePath(scan.sheets[i]), *scan.sheets[i].modificationDate));
    }
    return true;
}

const EntryTree& FolderScan::tree() const { return archive ? *archive : fileSystemTree(); }

Alert noFilesFoundAlert(const fs::path& folderURL) {
    const fs::path named = folderURL.has_filename() ? folderURL : folderURL.parent_path();
    return {"No files found",
            "No importable files were found in “" + displayPath(named.filename()) + "”.",
            {"OK"}};
}

}  // namespace ni
