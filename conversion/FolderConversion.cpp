#include "conversion/FolderConversion.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include "conversion/NoteFile.hpp"
#include "conversion/Notice.hpp"
#include "conversion/PackageNames.hpp"
#include "conversion/SheetPackage.hpp"
#include "platform/Error.hpp"
#include "platform/FileManager.hpp"
#include "conversion/UserInterface.hpp"
#include "utilities/StringPathUtilities.hpp"
#include "utilities/TemporaryFiles.hpp"
#include "utilities/TypeIdentifiers.hpp"
#include "utilities/URLPathUtilities.hpp"
#include "platform/UTF8.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

enum class EntryKind { Directory, SymbolicLink, Other };

struct Entry {
    std::string name;
    EntryKind kind;
};

// The visible entries of a folder in byte order of their names, so that two
// runs over one export agree. A folder that can't be listed is an error:
// treating it as empty would report success with notes missing.
std::optional<std::vector<Entry>> listFolder(const fs::path& url, Error* error) {
    DIR* dir = ::opendir(url.c_str());
    if (dir == nullptr) {
        setError(error,
                 Error(errno == ENOTDIR ? ErrorKind::NotDirectory : ErrorKind::ListFailed, url, errno));
        return std::nullopt;
    }
    std::vector<Entry> entries;
    // readdir reports its errors only through errno; the fstatat below may set it too.
    errno = 0;
    for (const dirent* item = ::readdir(dir); item != nullptr; errno = 0, item = ::readdir(dir)) {
        if (item->d_name[0] == '.') continue;  // hidden, "." and ".."
        EntryKind kind = EntryKind::Other;
        unsigned char type = item->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_DIR) kind = EntryKind::Directory;
        if (type == DT_LNK) kind = EntryKind::SymbolicLink;
        entries.push_back({item->d_name, kind});
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        setError(error, Error(ErrorKind::ListFailed, url, readError));
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

struct PendingNote {
    std::string relative;  // the note's path from the export folder
    std::vector<std::unique_ptr<FileWrapper>>* destination;
    PackageNames* names;
    std::unique_ptr<NoteFacts> facts;  // only for notes that give a notice
    std::size_t tags = 0;
};

bool worthANotice(const NoteFacts& facts) {
    return facts.pictureProblem != PictureProblem::None || facts.unreadCreated || facts.unreadModified ||
           facts.charactersLeftOut > 0 || !facts.mediaName.empty();
}

// Builds every pending note's sheet, on every core: reading and parsing notes
// is most of a run's work. The calling thread takes part and alone reports
// progress. When notes fail, the error is the first failing note's in listing
// order, as one thread going through the list would report it.
std::optional<std::vector<std::unique_ptr<FileWrapper>>> buildSheets(const fs::path& folderURL,
                                                                     std::vector<PendingNote>& pending,
                                                                     Error* error, UserInterface* progress) {
    const std::size_t total = pending.size();
    std::vector<std::unique_ptr<FileWrapper>> sheets(total);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::atomic<std::size_t> firstFailure{total};
    std::mutex failuresMutex;
    std::map<std::size_t, Error> failures;

    const auto work = [&](bool reportsProgress) {
        for (std::size_t i = next++; i < total; i = next++) {
            if (i > firstFailure.load()) break;  // an earlier note already ended the run
            Error noteError;
            NoteFacts facts;
            if (auto sheet = createSheetFromFileAtURL(folderURL / pending[i].relative, &noteError, &facts)) {
                sheets[i] = std::move(sheet);
                pending[i].tags = facts.tags;
                if (worthANotice(facts)) pending[i].facts = std::make_unique<NoteFacts>(std::move(facts));
            } else {
                const std::lock_guard lock(failuresMutex);
                failures.emplace(i, std::move(noteError));
                if (i < firstFailure.load()) firstFailure = i;
            }
            const std::size_t finished = ++done;
            if (reportsProgress && progress != nullptr)
                progress->conversionProgress(ConversionPhase::ReadingNotes, finished, total);
        }
    };

    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t helpers = std::min({cores - 1, std::size_t{7}, total / 8});
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < helpers; ++k) {
        try {
            threads.emplace_back(work, false);
        } catch (const std::system_error&) {
            break;  // fewer threads only means a slower run
        }
    }
    work(true);
    for (std::thread& thread : threads) thread.join();

    if (firstFailure.load() < total) {
        setError(error, failures.at(firstFailure.load()));
        return std::nullopt;
    }
    return sheets;
}

}  // namespace

bool isNoteName(const std::string& name) {
    static const std::vector<std::string> plainText = {std::string(kUTTypePlainText)};
    return pathExtensionConformsToTypes(pathExtension(name), plainText);
}

std::optional<FolderScan> scanFolderAtURL(const fs::path& folderURL, Error* error, UserInterface* progress,
                                          bool recordSheets) {
    struct stat st {};
    if (::stat(folderURL.c_str(), &st) != 0) {
        const int saved = errno;
        setError(error,
                 Error(saved == ENOENT ? ErrorKind::FileNotFound : ErrorKind::ReadFailed, folderURL, saved));
        return std::nullopt;
    }
    if (!S_ISDIR(st.st_mode)) {
        setError(error, Error(ErrorKind::NotDirectory, folderURL));
        return std::nullopt;
    }
    const auto entries = listFolder(folderURL, error);
    if (!entries) return std::nullopt;

    FolderScan scan;
    std::vector<PendingNote> pending;
    // Notices of the listing, each after the notes listed before it, so that
    // they keep the order of the walk once the notes' own are added.
    std::vector<std::pair<std::size_t, Notice>> listingNotices;
    const auto addListingNotices = [&](std::vector<Notice> notices) {
        for (Notice& notice : notices) listingNotices.emplace_back(pending.size(), std::move(notice));
    };
    // Group folders are written first into the export folder, so their names
    // are taken before any top-level sheet is named.
    std::size_t groupCount = 0;
    for (const Entry& entry : *entries) groupCount += entry.kind == EntryKind::Directory;
    scan.groups.reserve(groupCount);
    std::vector<PackageNames> groupNames(groupCount);
    PackageNames topLevelNames;
    SkippedEntries skippedAtTop;
    std::vector<std::string> groupsWithoutNotes;

    for (const Entry& entry : *entries) {
        const fs::path url = folderURL / entry.name;
        if (entry.kind == EntryKind::SymbolicLink) {
            ++scan.summary.skippedLinks;  // never followed out of the export
            ++skippedAtTop.links;
        } else if (entry.kind == EntryKind::Directory) {
            SheetGroup& group = scan.groups.emplace_back();
            group.name = entry.name;
            topLevelNames.take(entry.name);
            PackageNames* names = &groupNames[scan.groups.size() - 1];
            const auto children = listFolder(url, error);
            if (!children) return std::nullopt;
            const std::size_t notesBefore = pending.size();
            SkippedEntries skipped;
            std::vector<Notice> notices;
            for (const Entry& child : *children) {
                const std::string relative = entry.name + "/" + child.name;
                if (child.kind == EntryKind::SymbolicLink) {
                    ++scan.summary.skippedLinks;
                    ++skipped.links;
                } else if (child.kind == EntryKind::Directory) {
                    appendTooDeepNotice(relative, countNotesBelow(url / child.name), notices);
                } else if (isNoteName(child.name)) {
                    pending.push_back({relative, &group.sheets, names, nullptr, 0});
                } else if (entry.name != "Pictures") {  // a picture in a Pictures folder is where it belongs
                    skipped.addFile(child.name);
                }
            }
            appendSkippedNotices(entry.name, skipped, notices);
            addListingNotices(std::move(notices));
            if (pending.size() == notesBefore) groupsWithoutNotes.push_back(entry.name);
        } else if (isNoteName(entry.name)) {
            pending.push_back({entry.name, &scan.topLevelSheets, &topLevelNames, nullptr, 0});
        } else {
            skippedAtTop.addFile(entry.name);
        }
    }
    std::vector<Notice> closing;
    appendSkippedNotices("", skippedAtTop, closing);
    if (!scan.groups.empty() && groupsWithoutNotes.size() == scan.groups.size())
        appendEmptySubFoldersNotice(groupsWithoutNotes, closing);
    addListingNotices(std::move(closing));

    const std::size_t total = pending.size();
    auto sheets = buildSheets(folderURL, pending, error, progress);
    if (!sheets) return std::nullopt;
    const std::string dateLocale = dateLocaleName();
    std::vector<Notice>& notices = scan.summary.notices;
    std::vector<std::string> unreadDates;
    auto listed = listingNotices.begin();
    // Naming follows listing order, so the same export always gets the same names.
    for (std::size_t i = 0; i < total; ++i) {
        for (; listed != listingNotices.end() && listed->first <= i; ++listed) notices.push_back(std::move(listed->second));
        auto& sheet = (*sheets)[i];
        const auto media = sheet->children().find("Media");
        if (media != sheet->children().end()) ++scan.summary.pictures;
        NameChange change;
        const std::string wanted = sheet->filename();
        sheet->setFilename(pending[i].names->assign(wanted, &change));
        appendRenameNotice(pending[i].relative, wanted, sheet->filename(), change, notices);
        if (const auto& facts = pending[i].facts) {
            appendNoteNotices(pending[i].relative, *facts, dateLocale, notices);
            for (const auto& value : {facts->unreadCreated, facts->unreadModified})
                if (value) unreadDates.push_back(*value);
        }
        if (recordSheets) {
            SheetRecord& record = scan.summary.sheets.emplace_back();
            record.note = pending[i].relative;
            const std::size_t slash = record.note.find('/');
            record.package = slash == std::string::npos ? sheet->filename()
                                                        : record.note.substr(0, slash + 1) + sheet->filename();
            if (media != sheet->children().end() && !media->second->children().empty())
                record.picture =
                    media->second->children().begin()->second->source().lexically_relative(folderURL).native();
            record.tags = pending[i].tags;
            record.created = sheet->creationDate;
            record.modified = sheet->modificationDate;
        }
        pending[i].destination->push_back(std::move(sheet));
        pending[i] = PendingNote();  // its memory goes to the next sheets
    }
    for (; listed != listingNotices.end(); ++listed) notices.push_back(std::move(listed->second));
    if (auto hint = dateLocaleHint(unreadDates, dateLocale)) notices.push_back(std::move(*hint));
    if (progress != nullptr) progress->conversionProgress(ConversionPhase::ReadingNotes, total, total);
    scan.summary.notes = total;
    scan.summary.subFolders = scan.groups.size();
    scan.summary.source = folderURL;
    scan.summary.dateLocale = dateLocale;
    return scan;
}

bool writeFolderScan(const FolderScan& scan, const fs::path& exportURL, Error* error,
                     UserInterface* progress) {
    std::size_t total = scan.topLevelSheets.size();
    for (const SheetGroup& group : scan.groups) total += group.sheets.size();
    std::size_t written = 0;
    const auto report = [&] {
        if (progress != nullptr)
            progress->conversionProgress(ConversionPhase::WritingPackages, written, total);
    };
    // Writes the sheets into the folder at url, opened once for all of them.
    const auto writeSheets = [&](const fs::path& url,
                                 const std::vector<std::unique_ptr<FileWrapper>>& sheets) {
        const int folderFd = ::open(url.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folderFd < 0) return setError(error, Error(ErrorKind::WriteFailed, url, errno));
        bool ok = true;
        for (const auto& sheet : sheets) {
            ok = sheet->writeInFolder(folderFd, sheet->filename(), url / sheet->filename(), error);
            if (!ok) break;
            ++written;
            report();
        }
        ::close(folderFd);
        return ok;
    };
    report();
    // The export folder exists before anything goes into it, groups or not;
    // its own sheets come after every group's.
    if (!FileWrapper::directory({})->writeToURL(exportURL, error)) return false;
    for (const SheetGroup& group : scan.groups) {
        const fs::path groupURL = exportURL / group.name;
        if (!FileWrapper::directory({})->writeToURL(groupURL, error) || !writeSheets(groupURL, group.sheets))
            return false;
    }
    return writeSheets(exportURL, scan.topLevelSheets);
}

Alert noFilesFoundAlert(const fs::path& folderURL) {
    const fs::path named = folderURL.has_filename() ? folderURL : folderURL.parent_path();
    return {"No files found",
            "No importable files were found in “" + displayPath(named.filename()) + "”.",
            {"OK"}};
}

bool AppDelegate::convertFolderAtURL(const fs::path& folderURL, Error* error) {
    auto scan = scanFolderAtURL(folderURL, error, userInterface_, recordsSheets_);
    if (!scan) return false;
    if (scan->empty()) {
        if (userInterface_ != nullptr) userInterface_->runAlert(noFilesFoundAlert(folderURL));
        return false;
    }
    const auto temporaryDirectory = createUniqueTemporaryDirectoryWithError(error);
    if (!temporaryDirectory) return false;
    const fs::path exportURL = *temporaryDirectory / kExportFolderName;
    if (!writeFolderScan(*scan, exportURL, error, userInterface_)) {
        // A failed run leaves nothing behind in the temporary area.
        removeItemAtURL(*temporaryDirectory, nullptr);
        return false;
    }
    summary_ = std::move(scan->summary);
    setExportURL(exportURL);
    return true;
}

}  // namespace ni
