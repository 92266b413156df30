#include <sys/stat.h>

#include "TestSupport.hpp"
#include "conversion/SheetPackage.hpp"
#include "platform/FileWrapper.hpp"
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
        auto sheet = createSheetFromFileAtURL(root() / "export" / name, &error);
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
}

TEST_F(SheetPackage, NamesAndPlainText) {
    EXPECT_EQ(build("a.b.txt", "")->filename(), "a.b.inkvale");
    EXPECT_EQ(build("README", "")->filename(), "README.inkvale");
    EXPECT_EQ(build("Empty.txt", "")->children().at("Text.txt")->contents(), "");
    EXPECT_EQ(build("TitleOnly.txt", "Title\n")->children().at("Text.txt")->contents(), "# Title\n");
    EXPECT_EQ(build("Bom.txt", "\xEF\xBB\xBFHi\nthere")->children().at("Text.txt")->contents(),
              "# Hi\nthere");
}

TEST_F(SheetPackage, PictureIsCopiedUnderItsIdentifierAndTheDateAppliedLast) {
    test::ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}};
    writeFile(root() / "export" / "Pictures" / "sun set.jpg", "JPEGDATA");
    auto sheet = build("Trip.txt",
                       "Trip\nBeach\n\nPicture: sun set.jpg\nCreated: not a date\n"
                       "Modified: Jan 5, 2024, 3:04 PM\n");
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->creationDate);
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
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1704467040);  // set after the contents, access time alike
    EXPECT_EQ(st.st_atim.tv_sec, 1704467040);
}

TEST_F(SheetPackage, MissingTemplateNamesWhereItLooked) {
    Error error;
    EXPECT_FALSE(URLForResource("No Such Template", "inkvale", &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateMissing);
    EXPECT_NE(error.message().find("No Such Template.inkvale"), std::string::npos);
    EXPECT_NE(error.message().find("/bin/resources”"), std::string::npos) << error.message();
}

}  // namespace
}  // namespace ni
