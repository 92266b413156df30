#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace ni {

// What went wrong; each kind maps to one sentence in Error::message().
enum class ErrorKind {
    None,
    FileNotFound,         // the item doesn't exist
    ReadFailed,           // a file couldn't be read
    InvalidUTF8,          // a note isn't valid UTF-8 (detail: the byte offset)
    NotRegularFile,       // a FIFO, socket or device where a file was expected
    NotDirectory,         // a folder was expected
    ListFailed,           // a folder couldn't be listed
    WriteFailed,          // a file or folder couldn't be written
    AlreadyExists,        // something is in the way and must not be replaced
    NameTooLong,          // a name longer than the file system allows
    TemplateMissing,      // the bundled sheet template wasn't found (detail: where we looked)
    TemplateInvalid,      // the sheet template couldn't be parsed (detail: the parser's words)
    UnsafeTemporaryArea,  // the temporary area is a link, not ours, or not a folder (detail: why)
    MoveFailed,           // the export couldn't be moved (path: where it was to go)
    FolderNotWritable,    // nothing can be created in the chosen folder
    RemoveFailed,         // an item couldn't be removed
    Cancelled,            // the user or a signal stopped the run
    TooLarge,             // a note larger than a note can be (detail: its size)
    OutOfMemory,          // memory ran out while the file was being read or converted
    InsideExport,         // a destination inside the export folder, which is only ever read
    ArchiveUnreadable,    // a zipped export that can't be read safely (detail: the entry and why)
};

// The error out-parameter of every fallible operation: a kind, the path concerned,
// the OS error where there is one and a few words of detail. Default-constructed
// it holds no error.
class Error {
public:
    Error() = default;
    Error(ErrorKind kind, std::filesystem::path path, int osError = 0, std::string detail = {});

    ErrorKind kind() const noexcept { return kind_; }
    const std::filesystem::path& path() const noexcept { return path_; }
    int osError() const noexcept { return osError_; }
    const std::string& detail() const noexcept { return detail_; }

    // One plain sentence naming the file and the cause, e.g.
    // "The file “Notes/a.txt” couldn’t be read because it isn’t valid UTF-8 text (byte 12)."
    std::string message() const;
    // The OS's own words for osError(); empty when there is no OS error.
    std::string reason() const;

    explicit operator bool() const noexcept { return kind_ != ErrorKind::None; }

private:
    ErrorKind kind_ = ErrorKind::None;
    std::filesystem::path path_;
    int osError_ = 0;
    std::string detail_;
};

// Stores value in *error when error isn't null. Returns false so that a failing
// operation can end with `return setError(error, ...);`.
bool setError(Error* error, Error value);

// The error for errnoValue from opening or examining path without following a
// link at its end: FileNotFound for ENOENT, NotRegularFile for ELOOP (a link
// where the item should be; the kind says it all, so no OS error), otherwise
// with the errno for anything else.
Error errorForErrno(int errnoValue, const std::filesystem::path& path, ErrorKind otherwise);

// "1.0 TiB", "256 MiB", "12 bytes": a size in binary units to three figures, as a person reads it.
std::string sizeText(std::uintmax_t bytes);

// A path as UTF-8 text for messages: bytes that aren't valid UTF-8 appear as \xNN.
std::string displayPath(const std::filesystem::path& path);

}  // namespace ni
