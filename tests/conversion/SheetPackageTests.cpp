#include <sys/stat.h>

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/Resources.hpp"

namespace ni {
namespace {

using test::readFile;
using test::writeFile;
using test::fs::path;

class SheetPackage : public test::ScratchTest {
protected:
    std::unique_ptr<FileWrapper> build(const std::string& name, std::string_view bytes) {
        writeFile(root() / "export" / name, bytes);
        Error error;
        auto sheet = AppDelegate::createSheetFromFileAtURL(root() / "export" / name, &error);
        EXPECT_TRUE(sheet) << error.message();
        return sheet;
    }
    static std::vector<std::string> names(const FileWrapper& directory) {
        std::vector<std::string> result;
        for (const auto& [name, child] : directory.children()) result.push_back(name);
        return result;
    }
};

TEST_F(SheetPackage, WorkedExampleWrittenToDisk) {
    auto sheet = build("Groceries.txt", "Groceries\nMilk\nEggs\n\nTags: home, errands\n");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->filename(), "Groceries.inkvale");
    EXPECT_EQ(names(*sheet), (std::vector<std::string>{"Content.xml", "Text.txt"}));
    EXPECT_FALSE(sheet->modificationDate || sheet->creationDate);
    const path target = root() / "out" / "Groceries.inkvale";
    test::fs::create_directories(target.parent_path());
    ASSERT_TRUE(sheet->writeToURL(target, nullptr));
    EXPECT_EQ(readFile(target / "Text.txt"), "# Groceries\nMilk\nEggs");
    EXPECT_NE(
        readFile(target / "Content.xml").find("<attachment type=\"keywords\">home,errands</attachment>"),
        std::string::npos);
    // Nothing is ever written over an existing item.
    Error error;
    EXPECT_FALSE(sheet->writeToURL(target, &error));
    EXPECT_EQ(error.kind(), ErrorKind::AlreadyExists);
}

TEST_F(SheetPackage, NamesAndPlainText) {
    EXPECT_EQ(build("a.b.txt", "")->filename(), "a.b.inkvale");
    EXPECT_EQ(build("README", "")->filename(), "README.inkvale");
    EXPECT_EQ(build("Empty.txt", "")->children().at("Text.txt")->contents(), "");
    EXPECT_EQ(build("TitleOnly.txt", "Title\n")->children().at("Text.txt")->contents(), "# Title\n");
    EXPECT_EQ(build("Bom.txt", "\xEF\xBB\xBFHi\nthere")->children().at("Text.txt")->contents(),
              "# Hi\nthere");
}

TEST_F(SheetPackage, PictureIsCopiedUnderItsIdentifierAndDatesApplied) {
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    ::setenv("TZ", "UTC", 1);
    writeFile(root() / "export" / "Pictures" / "sun set.jpg", "JPEGDATA");
    auto sheet =
        build("Trip.txt",
              "Trip\nBeach\n\nPicture: sun set.jpg\nCreated: Jan 5, 2024, 3:04 PM\nModified: not a date\n");
    ::unsetenv("LC_ALL");
    ::unsetenv("TZ");
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->creationDate);
    EXPECT_FALSE(sheet->modificationDate);
    const auto& media = sheet->children().at("Media");
    ASSERT_EQ(media->children().size(), 1u);
    const std::string mediaName = media->children().begin()->first;
    ASSERT_EQ(mediaName.size(), std::string("sun set.").size() + 32 + 4);
    const std::string identifier = mediaName.substr(8, 32);
    EXPECT_EQ(mediaName, "sun set." + identifier + ".jpg");
    EXPECT_NE(sheet->children().at("Content.xml")->contents().find("<attachment type=\"file\">" + identifier),
              std::string::npos);

    const path target = root() / "Trip.inkvale";
    ASSERT_TRUE(sheet->writeToURL(target, nullptr));
    EXPECT_EQ(readFile(target / "Media" / mediaName), "JPEGDATA");
}

TEST_F(SheetPackage, ModificationDateIsAppliedLast) {
    ::setenv("LC_ALL", "C", 1);
    ::setenv("TZ", "UTC", 1);
    auto sheet = build("Dated.txt", "Dated\n\nModified: Jan 5, 2024, 3:04 PM\n");
    ::unsetenv("LC_ALL");
    ::unsetenv("TZ");
    ASSERT_TRUE(sheet && sheet->modificationDate);
    ASSERT_TRUE(sheet->writeToURL(root() / "Dated.inkvale", nullptr));
    struct stat st {};
    ASSERT_EQ(::stat((root() / "Dated.inkvale").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1704467040);
    EXPECT_EQ(st.st_atim.tv_sec, 1704467040);
}

TEST_F(SheetPackage, PictureRemovedBeforeWritingIsAnErrorNamingIt) {
    writeFile(root() / "export" / "Pictures" / "gone.png", "png");
    auto sheet = build("Gone.txt", "Gone\n\nPicture: gone.png\n");
    ASSERT_TRUE(sheet);
    test::fs::remove(root() / "export" / "Pictures" / "gone.png");
    Error error;
    EXPECT_FALSE(sheet->writeToURL(root() / "Gone.inkvale", &error));
    EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
    EXPECT_NE(error.message().find("Pictures/gone.png"), std::string::npos);
}

TEST_F(SheetPackage, MissingTemplateNamesWhereItLooked) {
    writeFile(root() / "n.txt", "x");
    ::setenv("NI_RESOURCE_DIR", (root() / "nothing-here").c_str(), 1);
    // The build tree's own resources would still be found; this checks the override comes first.
    const auto found = URLForResource("Sheet Template", "inkvale", nullptr);
    ::unsetenv("NI_RESOURCE_DIR");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->parent_path().filename(), "resources");
    Error error;
    EXPECT_FALSE(URLForResource("No Such Template", "inkvale", &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateMissing);
    EXPECT_NE(error.message().find("No Such Template.inkvale"), std::string::npos);
    EXPECT_NE(error.message().find("resources"), std::string::npos);
}

}  // namespace
}  // namespace ni
