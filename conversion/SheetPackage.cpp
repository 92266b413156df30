#include "conversion/SheetPackage.hpp"

#include <climits>

#include "conversion/NoteFile.hpp"
#include "conversion/Notice.hpp"
#include "conversion/SheetContent.hpp"
#include "platform/Error.hpp"
#include "platform/Resources.hpp"
#include "utilities/URLPathUtilities.hpp"
#include "utilities/UniqueIdentifier.hpp"
#include "platform/UTF8.hpp"

namespace ni {

namespace fs = std::filesystem;

std::unique_ptr<FileWrapper> createSheetFromFileAtURL(const fs::path& url, Error* error, NoteFacts* facts) {
    const auto templateURL = URLForResource("Sheet Template", "inkvale", error);
    if (!templateURL) return nullptr;
    pugi::xml_document document;
    if (!loadTemplateContent(*templateURL, document, error)) return nullptr;

    auto note = readNoteAtURL(url, error);
    if (!note) return nullptr;

    std::optional<std::string> pictureIdentifier;
    if (note->pictureURL) pictureIdentifier = newUniqueIdentifier();
    const std::size_t charactersLeftOut = fillSheet(document, *note, pictureIdentifier);
    if (facts != nullptr) {
        facts->pictureProblem = note->pictureProblem;
        facts->pictureValue = utf8FromUTF16(note->pictureValue);
        if (note->unreadCreated) facts->unreadCreated = utf8FromUTF16(*note->unreadCreated);
        if (note->unreadModified) facts->unreadModified = utf8FromUTF16(*note->unreadModified);
        facts->charactersLeftOut = charactersLeftOut;
        facts->tags = note->tagCount();
    }

    FileWrapper::Children children;
    if (note->pictureURL) {
        // "photo.<identifier>.jpg": the same identifier as the sheet's file attachment.
        const std::string& picturePath = note->pictureURL->native();
        const std::string extension = pathExtension(picturePath);
        std::string suffix = "." + *pictureIdentifier;
        if (!extension.empty()) suffix += "." + extension;
        // A picture name near the limit would make the media name too long to write: its stem gives way.
        const std::string stem = lastPathComponentDeletingPathExtension(picturePath);
        std::string mediaName(utf8Prefix(stem, NAME_MAX > suffix.size() ? NAME_MAX - suffix.size() : 0));
        const bool shortened = mediaName.size() < stem.size();
        mediaName += suffix;
        if (shortened && facts != nullptr) {
            facts->mediaNameWanted = note->pictureURL->filename().native();
            facts->mediaName = mediaName;
        }
        auto picture = FileWrapper::fileReference(*note->pictureURL);
        picture->setPreferredFilename(mediaName);
        FileWrapper::Children media;
        media.emplace(mediaName, std::move(picture));
        children.emplace("Media", FileWrapper::directory(std::move(media)));
    }
    children.emplace("Content.xml", FileWrapper::regularFile(serializedSheet(document)));
    document.reset();

    std::u16string plainText;
    if (!note->title.empty()) plainText += u"# " + note->title + u"\n";
    plainText += note->body;
    children.emplace("Text.txt", FileWrapper::regularFile(utf8FromUTF16(plainText)));

    auto root = FileWrapper::directory(std::move(children));
    root->modificationDate = note->modificationDate;
    root->creationDate = note->creationDate;
    root->setFilename(lastPathComponentDeletingPathExtension(url.native()) + ".inkvale");
    return root;
}

}  // namespace ni
