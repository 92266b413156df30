#include <sys/stat.h>

#include <climits>
#include <set>

#include "TestSupport.hpp"
#include "conversion/Notice.hpp"
#include "conversion/PackageNames.hpp"
#include "conversion/SheetPackage.hpp"
#include "platform/FileWrapper.hpp"
#include "platform/Resources.hpp"
#include "platform/UTF8.hpp"
#include "utilities/StringPathUtilities.hpp"

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
        {"Mac.txt", "Old Mac\rline one\rline two\r\rTags: a, b\r", "Mac.inkvale", "Old Mac\rline one\rline two\r\r"},
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

TEST(PackageNames, CollisionsAreNumberedAndLongNamesCutToUniqueNamesThatFit) {
    std::string e125, hangul82;
    for (int i = 0; i < 125; ++i) e125 += "\xC3\xA9";         // é, two bytes each
    for (int i = 0; i < 82; ++i) hangul82 += "\xED\x95\x9C";  // three bytes, nine decomposed
    const std::string n = ".inkvale";
    const struct {
        std::string preferred, expected;  // expected empty: any name that fits
        bool numbered, shortened;
    } cases[] = {
        {"x" + n, "x - 2" + n, true, false},  // a group folder has the name
        {"A" + n, "A" + n, false, false},
        {"a" + n, "a - 2" + n, true, false},
        {"a" + n, "a - 3" + n, true, false},
        {"Cafe\xCC\x81" + n, "Cafe\xCC\x81" + n, false, false},
        {"Caf\xC3\xA9" + n, "Cafe\xCC\x81 - 2" + n, true, false},
        // Names that aren't UTF-8 stay byte for byte until they collide.
        {"x\xFE" + n, "x\xFE" + n, false, false},
        {"x\xFF" + n, "x\xEF\xBF\xBD - 2" + n, true, false},
        // A cut keeps as much as fits and never splits a character.
        {std::string(251, 'n') + n, std::string(247, 'n') + n, false, true},
        {std::string(252, 'n') + n, "", false, true},
        {e125 + "x" + n, e125.substr(0, 246) + n, false, true},
        {hangul82 + "ab" + n, hangul82 + "a" + n, false, true},
        {hangul82 + "ab" + n, "", false, true},  // decomposed and numbered it would not fit
        // Σ lower-cases to ς at a word's end only.
        {"ΟΔΟΣ" + n, "ΟΔΟΣ" + n, false, false},
        {"ΟΔΟΣ" + n, "", true, false},
        {"ΟΔΟΣ ΟΔΟΣ" + n, "ΟΔΟΣ ΟΔΟΣ" + n, false, false},
        {"ΟΔΟΣ ΟΔΟΣ" + n, "", true, false},
    };
    PackageNames names;
    names.take("x" + n);
    std::set<std::u16string> keys;
    for (const auto& c : cases) {
        NameChange change;
        const std::string chosen = names.assign(c.preferred, &change);
        SCOPED_TRACE(chosen);
        if (!c.expected.empty()) {
            EXPECT_EQ(chosen, c.expected);
        }
        EXPECT_LE(chosen.size(), std::size_t{NAME_MAX});
        EXPECT_EQ(change.numbered, c.numbered);
        EXPECT_EQ(change.shortened, c.shortened);
        EXPECT_TRUE(keys.insert(filenameKey(lossyUTF16(chosen))).second) << "given out twice";
    }
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
