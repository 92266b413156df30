#pragma once

// A zipped export, read without ever being unpacked to disk: an index of its
// entries from their headers, and passes that stream the entries' data.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "conversion/Notice.hpp"
#include "platform/FolderListing.hpp"

struct archive;
struct archive_entry;

namespace ni {

class Error;

// An archive holding more than this, unpacked, is refused however small it is.
inline constexpr std::uint64_t kLargestUnpackedArchive = std::uint64_t{16} << 30;
// Nor may it unpack to more than this many times its own size (a zip bomb).
inline constexpr std::uint64_t kLargestUnpackRatio = 100;

// Whether url is to be read as a zipped export: a name ending in ".zip", any letter case.
bool isArchiveName(const std::filesystem::path& url);

// The entries of a zipped export as a tree under the archive's own path
// ("export.zip/Group/Note.txt"), so that the walk and the picture lookup read
// it as they read a folder. An archive whose only top-level entry is a folder
// (how people zip a folder) holds that folder's export. Entries whose names
// lead out of the archive or aren't text are never used; each gives a notice.
class ArchiveIndex final : public EntryTree {
public:
    // Reads every entry's header, and no data. Nothing, with the error naming
    // the archive and the entry, when it can't be read, holds an encrypted
    // entry or declares more than may be unpacked.
    static std::unique_ptr<ArchiveIndex> read(const std::filesystem::path& archiveURL, Error* error);

    std::optional<std::vector<FolderEntry>> list(const std::filesystem::path& url,
                                                 Error* error) const override;
    std::optional<mode_t> typeAt(const std::filesystem::path& url) const override;

    const std::filesystem::path& url() const noexcept { return url_; }
    const std::vector<Notice>& notices() const noexcept { return notices_; }

private:
    friend class ArchivePass;
    struct Header;
    explicit ArchiveIndex(std::filesystem::path url) : url_(std::move(url)) {}
    // Takes in the entries' headers, in the archive's order.
    void index(const std::vector<Header>& headers);
    // Adds an item and the folders it implies; false when a file is in the way.
    bool add(const std::string& key, mode_t type);
    // The key of url in items_: its path below the archive, "" for the export itself.
    std::optional<std::string> keyOf(const std::filesystem::path& url) const;

    std::filesystem::path url_;
    std::uint64_t unpackLimit_ = 0;
    std::map<std::string, mode_t> items_;  // below the export's own folder: each item's type
    std::vector<std::string> used_;      // per entry: its key, or "" when unused
    std::vector<std::string> names_;     // per entry: its name, to find a changed archive
    std::vector<Notice> notices_;
};

// One reading of an archive's entries, start to end, streamed. Every entry
// read is checked against what the index found and against the limits on
// unpacking; a failure names the archive and the entry.
class ArchivePass {
public:
    // Nothing, with the error set, when the archive can't be opened.
    static std::unique_ptr<ArchivePass> open(const ArchiveIndex& index, Error* error);
    ~ArchivePass();
    ArchivePass(const ArchivePass&) = delete;
    ArchivePass& operator=(const ArchivePass&) = delete;

    // Moves to the next entry the export uses and sets path to its path
    // below the export ("Group/Note.txt"). False at the end, or with the error
    // set when the archive fails.
    bool next(std::string& path, Error* error);
    // The size the current entry declares, when it does.
    std::optional<std::uint64_t> declaredSize() const;
    // The current entry's bytes, or its first limit + 1 when it holds more.
    std::optional<std::string> readAll(std::uint64_t limit, Error* error);
    // Writes the current entry's bytes to fd; target names it in errors.
    bool copyTo(int fd, const std::filesystem::path& target, Error* error);
    // The current entry's modification time.
    struct timespec modificationTime() const;

private:
    explicit ArchivePass(const ArchiveIndex& index) : index_(index) {}
    // Calls chunk(data, size) for every block of the current entry; false with the error set.
    template <typename Chunk>
    bool readBlocks(const Chunk& chunk, Error* error);
    Error failure(const std::string& why) const;

    const ArchiveIndex& index_;
    struct archive* archive_ = nullptr;
    struct archive_entry* entry_ = nullptr;
    std::uint64_t ordinal_ = 0;  // of the next entry
    std::string name_;           // the current entry's name in the archive
    std::uint64_t unpacked_ = 0;
};

}  // namespace ni
