#include <sys/stat.h>

#include "TestSupport.hpp"
#include "conversion/SheetPackage.hpp"
#include "platform/FileWrapper.hpp"
#include "platform/Resources.hpp"

namespace ni {
namespace {

using namespace test;

class SheetPackage : public ScratchTest {
protected:
    std::unique_ptr<FileWrapper> build(const std::string& name, std::string_view bytes) {
        writeFile(root() / "export" / name, bytes);
        Error error;
        auto sheet = createSheetFromFileAtURL(root() / "export" / name, &error);
        EXPECT_TRUE(sheet) << error.message();
        return sheet;
    }
};

TEST_F(SheetPackage, NamesAndPlainText) {
    const struct {
        std::string file, bytes, package, text;
    } cases[] = {
        {"Groceries.txt", "Groceries\nMilk\nEggs\n\nTags: home, errands\n", "Groceries.inkvale",
         "# Groceries\nMilk\nEggs"},
        {"a.b.txt", "", "a.b.inkvale", ""},
        {"README", "", "README.inkvale", ""},
        {"TitleOnly.txt", "Title\n", "TitleOnly.inkvale", "# Title\n"},
        {"Bom.txt", "\xEF\xBB\xBFHi\nthere", "Bom.inkvale", "# Hi\nthere"},
    };
    for (const auto& c : cases) {
        const auto sheet = build(c.file, c.bytes);
        ASSERT_TRUE(sheet) << c.file;
        EXPECT_EQ(sheet->filename(), c.package);
        Names children;
        for (const auto& [name, child] : sheet->children()) children.push_back(name);
        EXPECT_EQ(children, (Names{"Content.xml", "Text.txt"}));
        EXPECT_EQ(sheet->children().at("Text.txt")->contents(), c.text);
        EXPECT_FALSE(sheet->modificationDate || sheet->creationDate);
    }
}

TEST_F(SheetPackage, PictureIsCopiedUnderItsIdentifierAndTheDateAppliedLast) {
    ScopedEnvironment env{{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}};
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
    EXPECT_TRUE(has(sheet->children().at("Content.xml")->contents(), "<attachment type=\"file\">" + identifier));

    const fs::path target = root() / "Trip.inkvale";
    ASSERT_TRUE(sheet->writeToURL(target, nullptr));
    EXPECT_EQ(readFile(target / "Media" / mediaName), "JPEGDATA");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1704467040);  // set after the contents, access time alike
    EXPECT_EQ(st.st_atim.tv_sec, 1704467040);
}

TEST(Resources, MissingTemplateNamesWhereItLooked) {
    Error error;
    EXPECT_FALSE(URLForResource("No Such Template", "inkvale", &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateMissing);
    EXPECT_TRUE(has(error.message(), "No Such Template.inkvale") && has(error.message(), "/bin/resources”"))
        << error.message();
}

}  // namespace
}  // namespace ni
