#include "platform/Error.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/UTF8.hpp"

namespace ni {

Error::Error(ErrorKind kind, std::filesystem::path path, int osError, std::string detail)
    : kind_(kind), path_(std::move(path)), osError_(osError), detail_(std::move(detail)) {}

std::string Error::reason() const {
    return osError_ != 0 ? std::string(std::strerror(osError_)) : std::string();
}

std::string Error::message() const {
    const std::string name = "“" + displayPath(path_) + "”";
    // The OS's words, or our own detail, close the sentence.
    const auto because = [&](const std::string& fallback) {
        if (!detail_.empty()) return " because " + detail_ + ".";
        if (osError_ != 0) return ": " + reason() + ".";
        return fallback.empty() ? std::string(".") : " because " + fallback + ".";
    };
    switch (kind_) {
        case ErrorKind::None:
            return "No error.";
        case ErrorKind::FileNotFound:
            return "The file " + name + " couldn’t be opened because there is no such file or folder.";
        case ErrorKind::ReadFailed:
            return "The file " + name + " couldn’t be read" + because("");
        case ErrorKind::InvalidUTF8:
            return "The file " + name + " couldn’t be read because it isn’t valid UTF-8 text" +
                   (detail_.empty() ? std::string(".") : " (byte " + detail_ + ").");
        case ErrorKind::NotRegularFile:
            return "The file " + name + " couldn’t be read because it isn’t a regular file.";
        case ErrorKind::NotDirectory:
            return "The folder " + name + " couldn’t be opened because it isn’t a folder.";
        case ErrorKind::ListFailed:
            return "The folder " + name + " couldn’t be listed" + because("");
        case ErrorKind::WriteFailed:
            return "The file " + name + " couldn’t be written" + because("");
        case ErrorKind::AlreadyExists:
            return "The item " + name + " couldn’t be created because an item with that name already exists.";
        case ErrorKind::NameTooLong:
            return "The file " + name +
                   " couldn’t be written because its name is longer than the file system allows.";
        case ErrorKind::TemplateMissing:
            return "The sheet template " + name + " couldn’t be found" +
                   (detail_.empty() ? std::string(".") : " (looked in " + detail_ + ").");
        case ErrorKind::TemplateInvalid:
            return "The sheet template " + name + " couldn’t be read" +
                   because("it isn’t a valid sheet template");
        case ErrorKind::UnsafeTemporaryArea:
            return "The temporary folder " + name + " can’t be used" + because("");
        case ErrorKind::MoveFailed:
            return "The folder couldn’t be moved to " + name + because("");
        case ErrorKind::FolderNotWritable:
            return "The folder " + name + " can’t be written into" + because("");
        case ErrorKind::RemoveFailed:
            return "The item " + name + " couldn’t be removed" + because("");
        case ErrorKind::Cancelled:
            return "The conversion of " + name + " was cancelled.";
        case ErrorKind::TooLarge:
            return "The file " + name + " couldn’t be read" + because("it is too large to be a note");
        case ErrorKind::OutOfMemory:
            return "The file " + name + " couldn’t be converted because memory ran out.";
        case ErrorKind::InsideExport:
            return "Nothing can be written to " + name + " because it lies inside the export folder" +
                   (detail_.empty() ? std::string() : " “" + detail_ + "”") + ", which is only ever read.";
        case ErrorKind::ArchiveUnreadable:
            return "The archive " + name + " couldn’t be read" + because("it isn’t a zip archive");
    }
    return "Unknown error.";
}

bool setError(Error* error, Error value) {
    if (error != nullptr) *error = std::move(value);
    return false;
}

Error errorForErrno(int errnoValue, const std::filesystem::path& path, ErrorKind otherwise) {
    switch (errnoValue) {
        case ENOENT:
            return Error(ErrorKind::FileNotFound, path, errnoValue);
        case ELOOP:
            return Error(ErrorKind::NotRegularFile, path);
        default:
            return Error(otherwise, path, errnoValue);
    }
}

std::string sizeText(std::uintmax_t bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    for (; value >= 1024 && unit + 1 < std::size(kUnits); ++unit) value /= 1024;
    char text[32];
    std::snprintf(text, sizeof text, value < 100 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string displayPath(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    std::string out;
    out.reserve(bytes.size());
    static constexpr char hex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t value = 0;
        const std::size_t length = decodeUTF8(bytes, i, value);
        if (length == 0) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

}  // namespace ni
