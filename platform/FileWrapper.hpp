#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileDescriptor.hpp"

namespace ni {

class Error;

// Microseconds: nanoseconds since 1970 end in 2262, and notes may be dated later.
using Date = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;

// One node of a package tree built in memory and written out in one go:
// a directory of named children, a file with bytes, or a reference to an
// existing file whose bytes are copied only when the tree is written.
class FileWrapper {
public:
    enum class Kind { Directory, RegularFile, FileReference };
    using Children = std::map<std::string, std::unique_ptr<FileWrapper>>;

    static std::unique_ptr<FileWrapper> directory(Children children);
    static std::unique_ptr<FileWrapper> regularFile(std::string contents);
    static std::unique_ptr<FileWrapper> fileReference(std::filesystem::path source);
    // A reference to a file already opened (and checked) as opened; source names it in errors.
    static std::unique_ptr<FileWrapper> fileReference(std::filesystem::path source, FileDescriptor opened);

    Kind kind() const noexcept { return kind_; }
    const Children& children() const noexcept { return children_; }
    // A regular file's bytes.
    const std::string& contents() const noexcept { return contents_; }
    // The file a reference copies from.
    std::filesystem::path source() const { return kind_ == Kind::FileReference ? contents_ : std::string(); }

    // Names are file-system bytes (UTF-8 for names we make).
    const std::string& filename() const noexcept { return filename_; }
    void setFilename(std::string name) { filename_ = std::move(name); }
    const std::string& preferredFilename() const noexcept { return preferredFilename_; }
    void setPreferredFilename(std::string name) { preferredFilename_ = std::move(name); }

    // Dates applied to the written item after its contents. Linux records no
    // creation date, so only the modification date reaches the disk. A date the
    // file system can't hold (it would store another) is left unapplied.
    std::optional<Date> creationDate;
    std::optional<Date> modificationDate;
    // Whether the last write left modificationDate unapplied for that reason.
    bool modificationDateWasLeftOut() const noexcept { return modificationDateLeftOut_; }

    // Writes the node at url, which must not exist: nothing is ever written
    // over an existing item. False with the error set on failure; a failed
    // write leaves what it wrote so far for the caller to remove.
    bool writeToURL(const std::filesystem::path& url, Error* error) const;
    // The same, as `path` beneath the open folder folderFd, whose own path
    // folderURL serves errors: saves a path lookup per item when many are
    // written into one folder.
    bool writeInFolder(int folderFd, const std::filesystem::path& folderURL, const std::string& path,
                       Error* error) const;

    // Sets the modification and access time of `path` beneath folderFd to
    // when, as writing a tree does. False with the error set; leftOut: the file
    // system couldn't hold the date, which is left unapplied.
    static bool applyModificationDate(int folderFd, const std::filesystem::path& folderURL,
                                      const std::string& path, Date when, bool& leftOut, Error* error);

private:
    explicit FileWrapper(Kind kind) : kind_(kind) {}

    Kind kind_;
    Children children_;
    std::string contents_;       // a file's bytes, or the path a reference copies from
    FileDescriptor opened_{-1};  // what a reference copies from, when opened already
    std::string filename_;
    std::string preferredFilename_;
    mutable bool modificationDateLeftOut_ = false;  // an outcome of writing, not part of the tree
};

}  // namespace ni
