#include "conversion/PortableNames.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "conversion/Notice.hpp"
#include "conversion/PackageNames.hpp"
#include "conversion/SheetPackage.hpp"
#include "platform/Error.hpp"
#include "platform/FileMove.hpp"
#include "platform/FolderListing.hpp"

namespace ni {

namespace {

namespace fs = std::filesystem;

// What an item of an export is; only groups, packages and pictures are renamed.
enum class Level { Export, Group, Package, MediaFolder, Picture, Other };

Level levelOf(Level folder, const FolderEntry& entry) {
    const bool directory = entry.kind == FolderEntry::Kind::Directory;
    const bool package = directory && entry.name.ends_with(".inkvale");
    switch (folder) {
        case Level::Export:
            return package ? Level::Package : directory ? Level::Group : Level::Other;
        case Level::Group:
            return package ? Level::Package : Level::Other;
        case Level::Package:
            return directory && entry.name == "Media" ? Level::MediaFolder : Level::Other;
        case Level::MediaFolder:
            return entry.kind == FolderEntry::Kind::Other ? Level::Picture : Level::Other;
        default:
            return Level::Other;
    }
}

// A picture in Media/ is "photo.<identifier>.jpg": its own name ("photo.jpg")
// is made portable as a conversion makes it, and the identifier stays, the
// last part of 32 lower-case hexadecimal digits.
struct MediaName {
    std::string picture, portable;
};

std::optional<MediaName> portableMediaName(const std::string& name) {
    for (std::size_t end = name.size(); end > 1;) {
        const std::size_t dot = name.rfind('.', end - 1);
        if (dot == std::string::npos || dot == 0) break;
        const std::string identifier = name.substr(dot + 1, end - dot - 1);
        if (identifier.size() == 32 &&
            identifier.find_first_not_of("0123456789abcdef") == std::string::npos) {
            const std::string picture = name.substr(0, dot) + name.substr(end);
            return MediaName{picture, mediaNameForPicture(portableName(picture), identifier)};
        }
        end = dot;
    }
    return std::nullopt;
}

struct Entry {
    std::string name, chosen;
    Level level = Level::Other;
    NameChange change;
    std::string picture;  // a picture's own name, for its notice
    bool renamed = false;
};

// Where a folder is: its path in the export before and after the renaming, and
// the note its notices name (a package's, for its pictures).
struct Place {
    std::string before, after, note;
};

std::string below(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

class Renaming {
public:
    Renaming(const fs::path& exportURL, ConversionSummary& summary)
        : exportURL_(exportURL), summary_(summary) {
        for (const SheetRecord& record : summary.sheets) notes_.emplace(record.package, record.note);
    }

    // Renames the entries of the folder at place, then those below them.
    bool renameIn(Level level, const Place& place, Error* error) {
        const fs::path folder = exportURL_ / place.after;
        auto listed = listFolderAtURL(folder, error);
        if (!listed) return false;
        std::vector<Entry> entries;
        for (FolderEntry& listedEntry : *listed) {
            Entry& entry = entries.emplace_back();
            entry.level = levelOf(level, listedEntry);
            entry.name = std::move(listedEntry.name);
        }
        // Group folders are named before packages, as a conversion names them.
        std::stable_partition(entries.begin(), entries.end(),
                              [](const Entry& entry) { return entry.level == Level::Group; });
        chooseNames(entries);
        // Every rename made is told, also after a failure.
        bool renamed = applyNames(folder, entries, error);
        for (const Entry& entry : entries) {
            const std::string before = below(place.before, entry.name);
            const Place inside{before, below(place.after, entry.chosen),
                               entry.level == Level::Package ? notePath(before) : place.note};
            if (entry.renamed) tell(entry, inside);
            if (entry.level == Level::Package && inside.before != inside.after)
                packages_.emplace(inside.before, inside.after);
            const bool holdsRenamed = entry.level == Level::Group || entry.level == Level::Package ||
                                      entry.level == Level::MediaFolder;
            if (renamed && holdsRenamed) renamed = renameIn(entry.level, inside, error);
        }
        return renamed;
    }

    // The report's records name the packages where they are now.
    void updateRecords() {
        for (SheetRecord& record : summary_.sheets)
            if (const auto moved = packages_.find(record.package); moved != packages_.end())
                record.package = moved->second;
    }

private:
    // Items that aren't renamed keep their names, and no renamed one takes them.
    static void chooseNames(std::vector<Entry>& entries) {
        PackageNames names;
        for (Entry& entry : entries)
            if (entry.level == Level::Other) names.take(entry.chosen = entry.name);
        for (Entry& entry : entries) {
            if (entry.level == Level::Other) continue;
            std::string safe = portableName(entry.name);
            entry.picture = entry.name;
            if (entry.level == Level::Picture)
                if (const auto media = portableMediaName(entry.name)) {
                    safe = media->portable;
                    entry.picture = media->picture;
                }
            entry.chosen = names.assign(safe, &entry.change);
            entry.change.portable = safe != entry.name;
        }
    }

    // Gives each entry its chosen name; one whose new name another entry still
    // holds waits until that one has taken its own. The folder keeps its dates,
    // which the copy carries over.
    static bool applyNames(const fs::path& folder, std::vector<Entry>& entries, Error* error) {
        struct stat dates {};
        const bool dated = ::stat(folder.c_str(), &dates) == 0;
        Error waiting;
        for (bool progress = true; progress;) {
            progress = false;
            waiting = Error();
            for (Entry& entry : entries) {
                if (entry.renamed || entry.chosen == entry.name) continue;
                Error renameError;
                if (renameItemAtURL(folder / entry.name, folder / entry.chosen, &renameError)) {
                    entry.renamed = progress = true;
                } else if (renameError.kind() == ErrorKind::AlreadyExists) {
                    waiting = std::move(renameError);
                } else {
                    waiting = std::move(renameError);
                    progress = false;
                    break;
                }
            }
        }
        const struct timespec times[2] = {dates.st_atim, dates.st_mtim};
        if (dated) ::utimensat(AT_FDCWD, folder.c_str(), times, 0);
        return !waiting || setError(error, std::move(waiting));
    }

    // A group is named by its own path, a package and its pictures by the note's.
    void tell(const Entry& entry, const Place& inside) {
        const std::string& path = entry.level == Level::Group ? inside.before : inside.note;
        if (entry.level != Level::Picture)
            return appendRenameNotice(path, entry.name, entry.chosen, entry.change, summary_.notices);
        NoteFacts facts;
        facts.mediaNameWanted = entry.picture;
        facts.mediaName = entry.chosen;
        facts.mediaNamePortable = true;
        appendNoteNotices(path, facts, {}, summary_.notices);
    }

    // The note a package was converted from, when the summary records it; else the package.
    std::string notePath(const std::string& package) const {
        const auto note = notes_.find(package);
        return note != notes_.end() ? note->second : package;
    }

    fs::path exportURL_;
    ConversionSummary& summary_;
    std::unordered_map<std::string, std::string> notes_;     // a package's path → its note's
    std::unordered_map<std::string, std::string> packages_;  // a package's old path → its new one
};

}  // namespace

bool makeExportNamesPortable(const fs::path& exportURL, ConversionSummary& summary, Error* error) {
    Renaming renaming(exportURL, summary);
    const bool renamed = renaming.renameIn(Level::Export, {}, error);
    renaming.updateRecords();
    return renamed;
}

}  // namespace ni
