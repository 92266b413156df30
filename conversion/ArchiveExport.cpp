#include "conversion/ArchiveExport.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <sys/stat.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

#include "platform/Cancellation.hpp"
#include "platform/Error.hpp"
#include "platform/FileDescriptor.hpp"
#include "platform/UTF8.hpp"
#include "utilities/TypeIdentifiers.hpp"
#include "utilities/URLPathUtilities.hpp"

namespace ni {

namespace fs = std::filesystem;

namespace {

// libarchive turns entry names into the thread's locale; in C.UTF-8 a name
// flagged as UTF-8 comes through as it is, whatever locale the user runs in.
class UTF8Names {
public:
    UTF8Names() {
        static const locale_t utf8 = ::newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
        if (utf8 != nullptr) previous_ = ::uselocale(utf8);
    }
    ~UTF8Names() {
        if (previous_ != nullptr) ::uselocale(previous_);
    }
    UTF8Names(const UTF8Names&) = delete;
    UTF8Names& operator=(const UTF8Names&) = delete;

private:
    locale_t previous_ = nullptr;
};

std::string libarchiveWords(struct archive* archive) {
    const char* words = archive_error_string(archive);
    std::string text = words != nullptr ? words : "unknown error";
    text.erase(text.find_last_not_of(" \n") + 1);
    return text;
}

// A reader of zip archives, on url; nothing when it can't be opened, with why.
struct archive* openArchive(const fs::path& url, std::string& why) {
    struct archive* archive = archive_read_new();
    archive_read_support_format_zip(archive);
    if (archive_read_open_filename(archive, url.c_str(), std::size_t{1} << 16) == ARCHIVE_OK) return archive;
    // libarchive tells a file that isn't an archive it knows by EILSEQ.
    const int osError = archive_errno(archive);
    why = osError == EILSEQ               ? "it isn’t a zip archive"
          : osError > 0 && osError < 4096 ? std::strerror(osError)
                                          : libarchiveWords(archive);
    archive_read_free(archive);
    return nullptr;
}

// An entry's name as UTF-8: as stored when it is (flagged or not), else read
// as code page 437, what zip tools wrote before names were flagged. Nothing
// when libarchive couldn't give a name at all.
std::optional<std::string> entryName(struct archive_entry* entry) {
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr) return std::nullopt;
    const std::string bytes(name);
    if (utf16FromUTF8(bytes)) return bytes;
    const icu::UnicodeString text(bytes.data(), static_cast<int32_t>(bytes.size()), "ibm-437");
    std::string converted;
    text.toUTF8String(converted);
    return converted;
}

// The entry's path as a key ("Group/Note.txt"): empty and "." components
// dropped. Nothing when it is absolute or has a ".." component: such an entry
// is never used, however harmless it looks.
std::optional<std::string> keyOfName(const std::string& name) {
    // "/x" and a drive's "C:/x" or "C:\x"; a name such as "A: list.txt" is a name.
    const bool drive = name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
                       (name[2] == '/' || name[2] == '\\');
    if (name.starts_with('/') || drive) return std::nullopt;
    std::string key;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string_view component(name.data() + start, end - start);
        if (component == "..") return std::nullopt;
        if (!component.empty() && component != ".") {
            if (!key.empty()) key += '/';
            key += component;
        }
        start = end + 1;
    }
    return key;
}

mode_t typeOf(struct archive_entry* entry) {
    const mode_t type = archive_entry_filetype(entry);
    return type == AE_IFDIR || type == AE_IFLNK || type == AE_IFREG ? type : S_IFIFO;
}

std::string inQuotes(std::string_view text) { return "“" + std::string(text) + "”"; }

// The first component of key, and whether anything lies below it.
std::pair<std::string, bool> topLevelOf(const std::string& key) {
    const std::size_t slash = key.find('/');
    return {key.substr(0, slash), slash != std::string::npos};
}

// The folder every used entry lies in when the archive holds nothing else at
// its top ("Export/"); "" otherwise. Hidden entries (".DS_Store") don't count.
std::string exportRoot(const std::vector<std::optional<std::string>>& keys,
                       const std::vector<mode_t>& types) {
    std::set<std::string> tops;
    bool folder = false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!keys[i] || keys[i]->empty()) continue;
        const auto [top, below] = topLevelOf(*keys[i]);
        if (top.starts_with('.')) continue;
        tops.insert(top);
        folder = folder || below || types[i] == S_IFDIR;
    }
    return tops.size() == 1 && folder ? *tops.begin() + "/" : std::string();
}

// Why an archive is refused once its entries up to `entry` pass limit.
std::string tooMuchToUnpack(std::uint64_t limit, const std::string& entry) {
    return std::string("it would unpack to more than ") +
           (limit == kLargestUnpackedArchive ? "16 GiB" : "100 times its size") + " (entry " + entry + ")";
}

}  // namespace

// One entry of the archive as its header tells it.
struct ArchiveIndex::Header {
    std::optional<std::string> name;
    mode_t type = 0;
};

bool isArchiveName(const fs::path& url) {
    static const std::vector<std::string> zip = {"public.zip-archive"};
    return pathExtensionConformsToTypes(pathExtension(url.filename().native()), zip);
}

std::unique_ptr<ArchiveIndex> ArchiveIndex::read(const fs::path& archiveURL, Error* error) {
    struct stat st {};
    if (::stat(archiveURL.c_str(), &st) != 0) {
        setError(error, errorForErrno(errno, archiveURL, ErrorKind::ReadFailed));
        return nullptr;
    }
    std::unique_ptr<ArchiveIndex> index(new ArchiveIndex(archiveURL));
    index->unpackLimit_ =
        std::min(kLargestUnpackedArchive, static_cast<std::uint64_t>(st.st_size) * kLargestUnpackRatio);
    const UTF8Names names;
    const auto fail = [&](const std::string& why) {
        setError(error, Error(ErrorKind::ArchiveUnreadable, archiveURL, 0, why));
        return nullptr;
    };
    std::string why;
    std::unique_ptr<struct archive, int (*)(struct archive*)> archive(openArchive(archiveURL, why),
                                                                      archive_read_free);
    if (!archive) return fail(why);
    std::vector<Header> headers;
    std::uint64_t declared = 0;
    for (;;) {
        struct archive_entry* entry = nullptr;
        const int result = archive_read_next_header(archive.get(), &entry);
        if (result == ARCHIVE_EOF) break;
        const std::string after = headers.empty() || !headers.back().name
                                      ? std::string()
                                      : " after its entry " + inQuotes(*headers.back().name);
        if (result < ARCHIVE_WARN) {
            if (headers.empty() && archive_errno(archive.get()) == EILSEQ)
                return fail("it isn’t a zip archive");
            return fail("it is damaged" + after + " (" + libarchiveWords(archive.get()) + ")");
        }
        Header& header = headers.emplace_back(Header{entryName(entry), typeOf(entry)});
        const std::string named =
            header.name ? inQuotes(*header.name) : "number " + std::to_string(headers.size());
        if (archive_entry_is_encrypted(entry))
            return fail("its entry " + named + " is encrypted; unzip it first");
        if (archive_entry_size_is_set(entry))
            declared += static_cast<std::uint64_t>(archive_entry_size(entry));
        if (declared > index->unpackLimit_) return fail(tooMuchToUnpack(index->unpackLimit_, named));
    }
    index->index(headers);
    return index;
}

void ArchiveIndex::index(const std::vector<Header>& headers) {
    std::vector<std::optional<std::string>> keys;
    std::vector<mode_t> types;
    for (const Header& header : headers) {
        keys.push_back(header.name ? keyOfName(*header.name) : std::nullopt);
        types.push_back(header.type);
        // A Mac's zip keeps its resource forks in "__MACOSX": the archiver's, not the export's.
        if (keys.back() && topLevelOf(*keys.back()).first == "__MACOSX") keys.back() = std::string();
    }
    const std::string root = exportRoot(keys, types);
    used_.assign(headers.size(), std::string());
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const std::optional<std::string>& name = headers[i].name;
        names_.push_back(name.value_or(std::string()));
        if (!name) {
            notices_.push_back(Notice{
                NoticeKind::ArchiveEntry, "",
                "Left out the archive’s entry number " + std::to_string(i + 1) + ": its name isn’t text."});
        } else if (!keys[i]) {
            notices_.push_back(
                Notice{NoticeKind::ArchiveEntry, *name, "Left out: its name leads out of the archive."});
        } else if (keys[i]->starts_with(root) && keys[i]->size() > root.size()) {
            // Anything else outside the export's folder is the archiver's own.
            std::string key = keys[i]->substr(root.size());
            if (add(key, headers[i].type))
                used_[i] = std::move(key);
            else
                notices_.push_back(Notice{NoticeKind::ArchiveEntry, key,
                                          "Left out: an earlier entry of the archive has this name, or "
                                          "its folder’s."});
        }
    }
}

bool ArchiveIndex::add(const std::string& key, mode_t type) {
    // Archives often leave folders out and name only the files inside.
    for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
        const auto [folder, made] = items_.try_emplace(key.substr(0, slash), S_IFDIR);
        if (folder->second != S_IFDIR) return false;
    }
    const auto [item, made] = items_.try_emplace(key, type);
    return made || (type == S_IFDIR && item->second == S_IFDIR);
}

std::optional<std::string> ArchiveIndex::keyOf(const fs::path& url) const {
    const std::string& path = url.native();
    const std::string& own = url_.native();
    if (path == own) return std::string();
    if (path.size() <= own.size() || !path.starts_with(own) || path[own.size()] != '/') return std::nullopt;
    return path.substr(own.size() + 1);
}

std::optional<std::vector<FolderEntry>> ArchiveIndex::list(const fs::path& url, Error* error) const {
    const auto key = keyOf(url);
    const auto item = key ? items_.find(*key) : items_.end();
    if (!key || (!key->empty() && (item == items_.end() || item->second != S_IFDIR))) {
        setError(error, Error(ErrorKind::NotDirectory, url));
        return std::nullopt;
    }
    const std::string prefix = key->empty() ? std::string() : *key + "/";
    std::vector<FolderEntry> entries;
    for (auto it = items_.lower_bound(prefix); it != items_.end() && it->first.starts_with(prefix); ++it) {
        const std::string_view name = std::string_view(it->first).substr(prefix.size());
        if (name.empty() || name.find('/') != std::string_view::npos) continue;
        const auto kind = it->second == S_IFDIR   ? FolderEntry::Kind::Directory
                          : it->second == S_IFLNK ? FolderEntry::Kind::SymbolicLink
                                                       : FolderEntry::Kind::Other;
        entries.push_back({std::string(name), kind});
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<mode_t> ArchiveIndex::typeAt(const fs::path& url) const {
    const auto key = keyOf(url);
    if (!key) return std::nullopt;
    if (key->empty()) return S_IFDIR;
    const auto item = items_.find(*key);
    if (item == items_.end()) return std::nullopt;
    return item->second;
}

std::unique_ptr<ArchivePass> ArchivePass::open(const ArchiveIndex& index, Error* error) {
    std::unique_ptr<ArchivePass> pass(new ArchivePass(index));
    const UTF8Names names;
    std::string why;
    pass->archive_ = openArchive(index.url(), why);
    if (pass->archive_ == nullptr) {
        setError(error, pass->failure(why));
        return nullptr;
    }
    return pass;
}

ArchivePass::~ArchivePass() {
    if (archive_ != nullptr) archive_read_free(archive_);
}

Error ArchivePass::failure(const std::string& why) const {
    return Error(ErrorKind::ArchiveUnreadable, index_.url(), 0, why);
}

bool ArchivePass::next(std::string& path, Error* error) {
    const UTF8Names names;
    for (;;) {
        const int result = archive_read_next_header(archive_, &entry_);
        if (result == ARCHIVE_EOF) {
            entry_ = nullptr;
            if (ordinal_ != index_.names_.size())
                return setError(error, failure("it changed while it was read"));
            return false;
        }
        if (result < ARCHIVE_WARN) {
            entry_ = nullptr;
            const std::string after = name_.empty() ? std::string() : " after its entry " + inQuotes(name_);
            return setError(error, failure("it is damaged" + after + " (" + libarchiveWords(archive_) + ")"));
        }
        const std::uint64_t ordinal = ordinal_++;
        name_ = entryName(entry_).value_or(std::string());
        // The index and this pass must see the same archive, or a note could take another's place.
        if (ordinal >= index_.names_.size() || name_ != index_.names_[ordinal])
            return setError(error, failure("it changed while it was read"));
        if (!index_.used_[ordinal].empty()) {
            path = index_.used_[ordinal];
            return true;
        }
    }
}

template <typename Chunk>
bool ArchivePass::readBlocks(const Chunk& chunk, Error* error) {
    const UTF8Names names;
    const std::uint64_t declared =
        archive_entry_size_is_set(entry_) ? archive_entry_size(entry_) : UINT64_MAX;
    std::uint64_t read = 0;
    for (;;) {
        if (cancellationRequested()) return setError(error, Error(ErrorKind::Cancelled, index_.url()));
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int result = archive_read_data_block(archive_, &block, &size, &offset);
        if (result == ARCHIVE_EOF) return true;
        // A bad checksum or a size that doesn't match is only a warning to libarchive; here it ends the run.
        if (result != ARCHIVE_OK)
            return setError(error, failure("its entry " + inQuotes(name_) + " is damaged (" +
                                           libarchiveWords(archive_) + ")"));
        read += size;
        unpacked_ += size;
        // What headers declare is what the limits were checked against; more is a crafted archive.
        if (read > declared)
            return setError(error, failure("its entry " + inQuotes(name_) + " holds more than the " +
                                           std::to_string(declared) + " bytes it declares"));
        if (unpacked_ > index_.unpackLimit_)
            return setError(error, failure(tooMuchToUnpack(index_.unpackLimit_, inQuotes(name_))));
        if (!chunk(static_cast<const char*>(block), size)) return false;
    }
}

std::optional<std::uint64_t> ArchivePass::declaredSize() const {
    if (entry_ == nullptr || !archive_entry_size_is_set(entry_)) return std::nullopt;
    return static_cast<std::uint64_t>(archive_entry_size(entry_));
}

std::optional<std::string> ArchivePass::readAll(std::uint64_t limit, Error* error) {
    std::string bytes;
    if (const auto declared = declaredSize()) bytes.reserve(std::min(*declared, limit));
    bool full = false;
    const bool read = readBlocks(
        [&](const char* data, std::size_t size) {
            bytes.append(data, std::min<std::uint64_t>(size, limit + 1 - bytes.size()));
            full = bytes.size() > limit;
            return !full;
        },
        error);
    if (!read && !full) return std::nullopt;
    return bytes;
}

bool ArchivePass::copyTo(int fd, const fs::path& target, Error* error) {
    return readBlocks(
        [&](const char* data, std::size_t size) {
            if (const int failed = writeAllBytes(fd, data, size))
                return setError(error, Error(ErrorKind::WriteFailed, target, failed));
            return true;
        },
        error);
}

struct timespec ArchivePass::modificationTime() const {
    return timespec{archive_entry_mtime(entry_), archive_entry_mtime_nsec(entry_)};
}

}  // namespace ni
