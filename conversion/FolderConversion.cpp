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
std::optional<std::vector<FolderEntry>> listFolder(const fs::path& url, Error* error) {
    auto entries = listFolderAtURL(url, error);
    if (entries)
        std::erase_if(*entries, [](const FolderEntry& entry) { return entry.name.starts_with('.'); });
    return entries;
}

// Calls work(i, error) for every i below total, on every core. The calling
// thread takes part and alone reports progress, a few hundred times at most
// (each report is a trip through a window's event loop). When items fail, the
// error is the first failing item's in index order, as one thread going
// through the list would report it. A cancel request ends the run between items.
// Each thread has a State of its own for work to keep things in.
template <typename State, typename ItemURL, typename Work>
bool forEachInParallel(std::size_t total, ConversionPhase phase, UserInterface* progress,
                       const fs::path& cancelledURL, Error* error, const ItemURL& itemURL, const Work& work) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::atomic<std::size_t> firstFailure{total};
    std::mutex failuresMutex;
    std::map<std::size_t, Error> failures;
    const auto fail = [&](std::size_t i, Error itemError) {
        const std::lock_guard lock(failuresMutex);
        failures.emplace(i, std::move(itemError));
        std::size_t first = firstFailure.load();
        while (i < first && !firstFailure.compare_exchange_weak(first, i)) {
        }
    };

    constexpr std::size_t kReports = 200;
    const auto run = [&](bool reportsProgress) {
        std::size_t reported = 0;
        State state{};
        for (std::size_t i = next++; i < total; i = next++) {
            if (i > firstFailure.load()) break;  // an earlier item already ended the run
            if (cancellationRequested()) {
                fail(i, Error(ErrorKind::Cancelled, cancelledURL));
                break;
            }
            Error itemError;
            bool worked = false;
            // Memory running out is that item's failure, named, never an abort:
            // an exception must not leave a helper thread.
            try {
                worked = work(i, &itemError, state);
            } catch (const std::bad_alloc&) {
                itemError = Error(ErrorKind::OutOfMemory, itemURL(i));
            }
            if (!worked) fail(i, std::move(itemError));
            const std::size_t finished = ++done;
            if (reportsProgress && progress != nullptr && finished * kReports / total > reported) {
                reported = finished * kReports / total;
                progress->conversionProgress(phase, finished, total);
            }
        }
    };

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

    // A stop asked for while items failed is still a stop: the caller ends as a cancelled run.
    if (cancellationRequested()) return setError(error, Error(ErrorKind::Cancelled, cancelledURL));
    if (firstFailure.load() < total) {
        setError(error, failures.at(firstFailure.load()));
        return false;
    }
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

}  // namespace

bool isNoteName(const std::string& name) {
    static const std::vector<std::string> plainText = {std::string(kUTTypePlainText)};
    return pathExtensionConformsToTypes(pathExtension(name), plainText);
}

std::optional<FolderScan> scanFolderAtURL(const fs::path& folderURL, Error* error, UserInterface* progress,
                                          bool recordSheets, std::size_t keptNoteBytes) {
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
    scan.folderURL = folderURL;
    scan.sheetTemplate = loadSheetTemplate(error);
    if (!scan.sheetTemplate) return std::nullopt;

    // Notices of the listing, each after the notes listed before it, so that
    // they keep the order of the walk once the notes' own are added.
    std::vector<std::pair<std::size_t, Notice>> listingNotices;
    const auto addListingNotices = [&](std::vector<Notice> notices) {
        for (Notice& notice : notices) listingNotices.emplace_back(scan.sheets.size(), std::move(notice));
    };
    SkippedEntries skippedAtTop;
    std::vector<std::string> groupsWithoutNotes;

    // The walk: entries in name order, a sub-folder's notes where the sub-folder comes.
    for (const FolderEntry& entry : *entries) {
        if (entry.kind == EntryKind::SymbolicLink) {
            ++scan.summary.skippedLinks;  // never followed out of the export
            ++skippedAtTop.links;
        } else if (entry.kind == EntryKind::Directory) {
            scan.groups.push_back(entry.name);
            const auto folder = static_cast<std::uint32_t>(scan.groups.size());
            const fs::path url = folderURL / entry.name;
            const auto children = listFolder(url, error);
            if (!children) return std::nullopt;
            const std::size_t notesBefore = scan.sheets.size();
            SkippedEntries skipped;
            std::vector<Notice> notices;
            for (const FolderEntry& child : *children) {
                if (child.kind == EntryKind::SymbolicLink) {
                    ++scan.summary.skippedLinks;
                    ++skipped.links;
                } else if (child.kind == EntryKind::Directory) {
                    appendTooDeepNotice(entry.name + "/" + child.name, countNotesBelow(url / child.name),
                                        notices);
                } else if (isNoteName(child.name)) {
                    PlannedSheet& sheet = scan.sheets.emplace_back();
                    sheet.folder = folder;
                    sheet.noteName = child.name;
                } else if (entry.name != "Pictures") {  // a picture in a Pictures folder is where it belongs
                    skipped.addFile(child.name);
                }
            }
            appendSkippedNotices(entry.name, skipped, notices);
            addListingNotices(std::move(notices));
            if (scan.sheets.size() == notesBefore) groupsWithoutNotes.push_back(entry.name);
        } else if (isNoteName(entry.name)) {
            scan.sheets.emplace_back().noteName = entry.name;
        } else {
            skippedAtTop.addFile(entry.name);
        }
    }
    std::vector<Notice> closing;
    appendSkippedNotices("", skippedAtTop, closing);
    if (!scan.groups.empty() && groupsWithoutNotes.size() == scan.groups.size())
        appendEmptySubFoldersNotice(groupsWithoutNotes, closing);
    addListingNotices(std::move(closing));

    // What the first reading found for the notices and the report; facts only
    // for the notes that give a notice, so memory stays with the names.
    struct FirstReading {
        std::unique_ptr<NoteFacts> facts;
        std::size_t tags = 0;
    };
    std::vector<FirstReading> readings(scan.sheets.size());

    // Every note is read and checked before anything is written; only what
    // the writing can't find again is kept.
    struct Stateless {};
    std::atomic<std::size_t> keptBytes{0};
    const std::vector<fs::path> noteFolders = scan.folders(folderURL);
    const bool read = forEachInParallel<Stateless>(
        scan.sheets.size(), ConversionPhase::ReadingNotes, progress, folderURL, error,
        [&](std::size_t i) { return noteFolders[scan.sheets[i].folder] / scan.sheets[i].noteName; },
        [&](std::size_t i, Error* noteError, Stateless&) {
            PlannedSheet& sheet = scan.sheets[i];
            const fs::path& noteFolder = noteFolders[sheet.folder];
            const fs::path noteURL = noteFolder / sheet.noteName;
            auto bytes = readNoteBytes(noteURL, noteError);
            if (!bytes) return false;
            const auto note = noteFromBytes(*bytes, noteURL, noteError);
            if (!note) return false;
            // An export of ordinary size is read only once.
            if (keptBytes.fetch_add(bytes->size()) + bytes->size() <= keptNoteBytes)
                sheet.noteBytes = std::make_unique<const std::string>(std::move(*bytes));
            else
                keptBytes.fetch_sub(bytes->size());
            sheet.creationDate = note->creationDate;
            sheet.modificationDate = note->modificationDate;
            NoteFacts facts;
            if (note->pictureURL) {
                sheet.picturePath = note->pictureURL->lexically_relative(noteFolder).native();
                sheet.pictureIdentifier = newUniqueIdentifier();
                sheet.mediaName = mediaNameForPicture(note->pictureURL->native(), sheet.pictureIdentifier);
                const std::string wanted = note->pictureURL->filename().native();
                if (!sheet.mediaName.starts_with(lastPathComponentDeletingPathExtension(wanted) + ".")) {
                    facts.mediaNameWanted = wanted;  // its stem was cut to fit the name limit
                    facts.mediaName = sheet.mediaName;
                }
            }
            facts.pictureProblem = note->pictureProblem;
            facts.pictureValue = utf8FromUTF16(note->pictureValue);
            facts.pictureCandidates = note->pictureCandidates;
            if (note->unreadCreated) facts.unreadCreated = utf8FromUTF16(*note->unreadCreated);
            if (note->unreadModified) facts.unreadModified = utf8FromUTF16(*note->unreadModified);
            facts.charactersLeftOut = charactersXMLCantHold(*note);
            facts.tags = note->tagCount();
            readings[i].tags = facts.tags;
            if (facts.pictureProblem != PictureProblem::None || facts.unreadCreated || facts.unreadModified ||
                facts.charactersLeftOut > 0 || !facts.mediaName.empty())
                readings[i].facts = std::make_unique<NoteFacts>(std::move(facts));
            return true;
        });
    if (!read) return std::nullopt;

    // Naming follows the walk, so the same export always gets the same names.
    // Group folders are written first into the export folder, so their names
    // are taken before any top-level sheet is named.
    std::vector<PackageNames> names(scan.groups.size() + 1);
    for (const std::string& group : scan.groups) names[0].take(group);
    const std::string dateLocale = dateLocaleName();
    std::vector<Notice>& notices = scan.summary.notices;
    std::vector<std::string> unreadDates;
    auto listed = listingNotices.begin();
    for (std::size_t i = 0; i < scan.sheets.size(); ++i) {
        for (; listed != listingNotices.end() && listed->first <= i; ++listed)
            notices.push_back(std::move(listed->second));
        PlannedSheet& sheet = scan.sheets[i];
        // Paths from the export folder, for notices and the report.
        const std::string folderPrefix =
            sheet.folder == 0 ? std::string() : scan.groups[sheet.folder - 1] + "/";
        const std::string notePath = scan.notePath(sheet);
        const std::string wanted = lastPathComponentDeletingPathExtension(sheet.noteName) + ".inkvale";
        NameChange change;
        sheet.packageName = names[sheet.folder].assign(wanted, &change);
        appendRenameNotice(notePath, wanted, sheet.packageName, change, notices);
        if (const auto& facts = readings[i].facts) {
            appendNoteNotices(notePath, *facts, dateLocale, notices);
            for (const auto& value : {facts->unreadCreated, facts->unreadModified})
                if (value) unreadDates.push_back(*value);
        }
        if (recordSheets) {
            SheetRecord& record = scan.summary.sheets.emplace_back();
            record.note = notePath;
            record.package = folderPrefix + sheet.packageName;
            if (!sheet.picturePath.empty()) record.picture = folderPrefix + sheet.picturePath;
            record.tags = readings[i].tags;
            record.created = sheet.creationDate;
            record.modified = sheet.modificationDate;
        }
        readings[i] = FirstReading();  // its memory goes to the next notes
        scan.summary.pictures += !sheet.picturePath.empty();
    }
    for (; listed != listingNotices.end(); ++listed) notices.push_back(std::move(listed->second));
    if (auto hint = dateLocaleHint(unreadDates, dateLocale)) notices.push_back(std::move(*hint));
    scan.summary.notes = scan.sheets.size();
    scan.summary.subFolders = scan.groups.size();
    scan.summary.source = folderURL;
    scan.summary.dateLocale = dateLocale;
    return scan;
}

bool writeFolderScan(const FolderScan& scan, const fs::path& exportURL, Error* error, UserInterface* progress,
                     std::vector<Notice>* notices) {
    // Written under a hidden name beside its own and renamed once whole, so the
    // export never shows up in part. Messages name the export's own paths.
    const fs::path stagingURL = exportURL.parent_path() / ("." + exportURL.filename().native() + ".partial");
    const std::vector<fs::path> noteFolders = scan.folders(scan.folderURL);
    const std::vector<fs::path> exportFolders = scan.folders(exportURL);
    const std::vector<fs::path> stagingFolders = scan.folders(stagingURL);
    const auto fail = [&](Error failure) {
        removeItemAtURL(stagingURL, nullptr);
        return setError(error, std::move(failure));
    };
    if (progress != nullptr)
        progress->conversionProgress(ConversionPhase::WritingPackages, 0, scan.sheets.size());
    Error written;
    if (!FileWrapper::directory({})->writeToURL(stagingURL, &written)) {
        // Something left in the way is named as the export itself.
        return setError(error, Error(written.kind(), exportURL, written.osError(), written.detail()));
    }
    {
        FileDescriptor stagingFd(::open(stagingURL.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (stagingFd.get() < 0) return fail(Error(ErrorKind::WriteFailed, exportURL, errno));
        for (std::uint32_t g = 1; g <= scan.groups.size(); ++g) {
            if (!FileWrapper::directory({})->writeInFolder(stagingFd.get(), exportURL, scan.groups[g - 1],
                                                           &written))
                return fail(std::move(written));
        }
    }

    // Each thread keeps the folder it wrote into last open: consecutive sheets
    // share a folder, and an open per sheet would cost a path lookup each.
    struct OpenFolder {
        std::uint32_t folder = UINT32_MAX;
        FileDescriptor fd{-1};
    };
    // Sheets whose date the file system couldn't hold; one element per sheet, so threads never share one.
    std::vector<char> undated(scan.sheets.size(), 0);
    const bool wrote = forEachInParallel<OpenFolder>(
        scan.sheets.size(), ConversionPhase::WritingPackages, progress, scan.folderURL, &written,
        [&](std::size_t i) { return noteFolders[scan.sheets[i].folder] / scan.sheets[i].noteName; },
        [&](std::size_t i, Error* sheetError, OpenFolder& openFolder) {
            const PlannedSheet& planned = scan.sheets[i];
            const fs::path& noteFolder = noteFolders[planned.folder];
            const fs::path noteURL = noteFolder / planned.noteName;
            std::optional<std::string> bytes;
            if (!planned.noteBytes) {
                bytes = readNoteBytes(noteURL, sheetError);
                if (!bytes) return false;
            }
            auto note =
                noteFromBytes(bytes ? *bytes : *planned.noteBytes, noteURL, sheetError, NoteParts::TextOnly);
            if (!note) return false;
            note->creationDate = planned.creationDate;
            note->modificationDate = planned.modificationDate;
            std::optional<SheetPicture> picture;
            if (!planned.picturePath.empty()) {
                picture = openSheetPicture(noteURL, noteFolder / planned.picturePath,
                                           planned.pictureIdentifier, sheetError);
                if (!picture) return false;
            }
            const auto sheet = sheetForNote(*note, *scan.sheetTemplate, std::move(picture));
            if (openFolder.folder != planned.folder) {
                openFolder.fd = FileDescriptor(::open(stagingFolders[planned.folder].c_str(),
                                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (openFolder.fd.get() < 0)
                    return setError(sheetError,
                                    Error(ErrorKind::WriteFailed, exportFolders[planned.folder], errno));
                openFolder.folder = planned.folder;
            }
            if (!sheet->writeInFolder(openFolder.fd.get(), exportFolders[planned.folder], planned.packageName,
                                      sheetError))
                return false;
            undated[i] = sheet->modificationDateWasLeftOut();
            return true;
        });
    if (!wrote) return fail(std::move(written));
    if (!moveItemAtURL(stagingURL, exportURL, &written)) return fail(std::move(written));
    // Found only by writing, so told after what reading the notes found.
    for (std::size_t i = 0; i < undated.size() && notices != nullptr; ++i) {
        if (undated[i])
            notices->push_back(
                undatedPackageNotice(scan.notePath(scan.sheets[i]), *scan.sheets[i].modificationDate));
    }
    return true;
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
    std::optional<RefusedContainer> planted;
    const auto temporaryDirectory = createUniqueTemporaryDirectory(std::nullopt, &planted, error);
    if (!temporaryDirectory) return false;
    if (planted) scan->summary.notices.push_back(temporaryAreaNotice(planted->url, planted->reason));
    const fs::path exportURL = *temporaryDirectory / kExportFolderName;
    if (!writeFolderScan(*scan, exportURL, error, userInterface_, &scan->summary.notices)) {
        // A failed run leaves nothing behind in the temporary area.
        removeUniqueTemporaryDirectory(*temporaryDirectory, nullptr);
        return false;
    }
    summary_ = std::move(scan->summary);
    setExportURL(exportURL);
    return true;
}

}  // namespace ni
