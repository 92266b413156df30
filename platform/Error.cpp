#include "platform/Error.hpp"

#include <cstring>

namespace ni {

namespace {

// Decodes one UTF-8 sequence at i; returns its length, or 0 when invalid.
std::size_t validSequenceLength(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t length = 0;
    char32_t value = 0;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
        value = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        value = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        value = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < minimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

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
            return "The folder " + name + " couldn’t be moved" + because("");
        case ErrorKind::RemoveFailed:
            return "The item " + name + " couldn’t be removed" + because("");
    }
    return "Unknown error.";
}

bool setError(Error* error, Error value) {
    if (error != nullptr) *error = std::move(value);
    return false;
}

std::string displayPath(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    std::string out;
    out.reserve(bytes.size());
    static constexpr char hex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = validSequenceLength(bytes, i);
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
