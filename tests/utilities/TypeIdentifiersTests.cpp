#include "TestSupport.hpp"
#include "utilities/TypeIdentifiers.hpp"

namespace ni {
namespace {

const std::vector<std::string> kPlainText = {std::string(kUTTypePlainText)};

TEST(TypeIdentifiers, NotesAreToldApartByExtensionInAnyCaseAlongTheHierarchy) {
    for (const char* note : {"txt", "TXT", "Txt", "text", "md", "MD", "markdown", "log", "cpp", "py", "ts"})
        EXPECT_TRUE(pathExtensionConformsToTypes(note, kPlainText)) << note;
    for (const char* other : {"png", "jpg", "csv", "html", "rtf", "pdf", "json", "inkvale", "", "unknown"})
        EXPECT_FALSE(pathExtensionConformsToTypes(other, kPlainText)) << other;
    EXPECT_FALSE(pathExtensionConformsToTypes("txt", {}));
    // Conformance follows the hierarchy and stops at the first match.
    EXPECT_TRUE(typeIdentifierConformsToType("public.c-plus-plus-source", "public.plain-text"));
    EXPECT_TRUE(typeIdentifierConformsToType("public.plain-text", "public.plain-text"));
    EXPECT_FALSE(typeIdentifierConformsToType("public.rtf", "public.plain-text"));
    EXPECT_FALSE(typeIdentifierConformsToType("no.such.type", "public.item"));
    EXPECT_TRUE(typeIdentifierConformsToTypes("public.png", {"public.text", "public.image"}));
    EXPECT_FALSE(typeIdentifierConformsToTypes("public.png", {}));
    // "ts" is claimed first by a video type: the second claimant still makes it text.
    EXPECT_EQ(preferredTypeIdentifierForPathExtension("ts"), "public.mpeg-2-transport-stream");
    EXPECT_TRUE(pathExtensionConformsToTypes("ts", kPlainText));
    EXPECT_TRUE(
        typeIdentifierConformsToType(*preferredTypeIdentifierForPathExtension("inkvale"), kUTTypePackage));
    // Preferred tags and identifiers.
    EXPECT_EQ(preferredPathExtensionForTypeIdentifier("public.jpeg"), "jpg");
    EXPECT_EQ(preferredPathExtensionForTypeIdentifier("public.folder"), std::nullopt);
    EXPECT_EQ(preferredTypeIdentifierForMIMEType("TEXT/PLAIN"), "public.plain-text");
    EXPECT_EQ(preferredMIMETypeForPathExtension("JPEG"), "image/jpeg");
    EXPECT_EQ(preferredMIMETypeForPathExtension("inkvale"), std::nullopt);  // a type without a MIME type
    EXPECT_EQ(preferredMIMETypeForPathExtension("nope"), std::nullopt);
    // Only the last component's extension counts, not a dot in a folder name.
    EXPECT_EQ(preferredTypeIdentifierForPath("/a.png/notes.md"), "public.markdown");
    EXPECT_EQ(preferredTypeIdentifierForPath("/a.png/notes"), std::nullopt);
    EXPECT_EQ(preferredTypeIdentifierForPath(".txt"), std::nullopt);  // a hidden name, not an extension
    EXPECT_EQ(preferredMimeTypeForPath("x/y.HTML"), "text/html");
}

}  // namespace
}  // namespace ni
