#include "conversion/SheetPackage.hpp"

#include <climits>

#include "conversion/NoteFile.hpp"
#include "conversion/SheetContent.hpp"
#include "platform/Error.hpp"
#include "platform/FileManager.hpp"
#include "platform/Resources.hpp"
#include "platform/UTF8.hpp"
#include "utilities/URLPathUtilities.hpp"
#include "utilities/UniqueIdentifier.hpp"

namespace ni {

namespace fs = std::filesystem;

std::string mediaNameForPicture(const std::string& picturePath, const std::string& identifier) {
    const std::string extension = pathExtension(picturePath);
    std::string suffix = "." + identifier;
    if (!extension.empty()) suffix += "." + extension;
    const std::string stem = lastPathComponentDeletingPathExtension(picturePath);
    std::string mediaName(utf8Prefix(stem, NAME_MAX > suffix.size() ? NAME_MAX - suffix.size() : 0));
    return mediaName + suffix;
}

std::optional<SheetPicture> openSheetPicture(const fs::path& noteURL, const fs::path& pictureURL,
                                             std::string identifier, Error* error) {
    // The picture was found beneath "Pictures" when the note was read; what
    // lies between may have changed since, so the walk is made again, in one go.
    // The walk starts at the note's folder, so "Pictures" itself turned into a link is refused too.
    const fs::path noteFolder = noteURL.parent_path();
    const int fd = openRegularFileBeneath(noteFolder, pictureURL.lexically_relative(noteFolder), error);
    if (fd < 0) return std::nullopt;
    SheetPicture picture;
    picture.mediaName = mediaNameForPicture(pictureURL.native(), identifier);
    picture.identifier = std::move(identifier);
    picture.source = pictureURL;
    picture.opened = FileDescriptor(fd);
    return picture;
}

std::unique_ptr<FileWrapper> sheetForNote(const NINote& note, const SheetTemplate& sheetTemplate,
                                          std::optional<SheetPicture> picture, std::size_t* leftOut) {
    FileWrapper::Children children;
    std::optional<std::string> identifier;
    if (picture) identifier = picture->identifier;
    if (picture && picture->opened.get() >= 0) {
        auto reference = FileWrapper::fileReference(picture->source, std::move(picture->opened));
        reference->setPreferredFilename(picture->mediaName);
        FileWrapper::Children media;
        media.emplace(picture->mediaName, std::move(reference));
        children.emplace("Media", FileWrapper::directory(std::move(media)));
    }
    children.emplace("Content.xml", FileWrapper::regularFile(sheetContent(sheetTemplate, note, identifier, leftOut)));

    std::u16string plainText;
    plainText.reserve(note.title.size() + note.body.size() + 3);
    if (!note.title.empty()) plainText.append(u"# ").append(note.title).append(u"\n");
    plainText += note.body;
    children.emplace("Text.txt", FileWrapper::regularFile(utf8FromUTF16(plainText)));

    auto root = FileWrapper::directory(std::move(children));
    root->modificationDate = note.modificationDate;
    root->creationDate = note.creationDate;
    return root;
}

std::unique_ptr<FileWrapper> createSheetFromFileAtURL(const fs::path& url, Error* error) {
    const auto templateURL = URLForResource("Sheet Template", "inkvale", error);
    if (!templateURL) return nullptr;
    SheetTemplate sheetTemplate;
    if (!loadTemplateContent(*templateURL, sheetTemplate, error)) return nullptr;
    auto note = readNoteAtURL(url, error);
    if (!note) return nullptr;
    std::optional<SheetPicture> picture;
    if (note->pictureURL) {
        picture = openSheetPicture(url, *note->pictureURL, newUniqueIdentifier(), error);
        if (!picture) return nullptr;
    }
    auto root = sheetForNote(*note, sheetTemplate, std::move(picture));
    root->setFilename(lastPathComponentDeletingPathExtension(url.native()) + ".inkvale");
    return root;
}

}  // namespace ni
