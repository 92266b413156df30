#include <pugixml.hpp>

#include "TestSupport.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/SheetContent.hpp"

namespace ni {
namespace {

class SheetContent : public test::ScratchTest {
protected:
    // Fills a template whose string element holds `existing` and returns the serialised sheet.
    std::string sheetFor(const NINote& note, const std::optional<std::string>& picture = std::nullopt,
                         std::string_view existing = "", std::size_t* leftOut = nullptr) {
        test::writeFile(root() / "T.inkvale" / "Content.xml",
                        std::string("<?xml version=\"1.0\"?><sheet a=\"1\"><string>") +
                            std::string(existing) + "</string><extra/></sheet>");
        SheetTemplate sheetTemplate;
        Error error;
        EXPECT_TRUE(loadTemplateContent(root() / "T.inkvale", sheetTemplate, &error)) << error.message();
        return sheetContent(sheetTemplate, note, picture, leftOut);
    }
};

TEST_F(SheetContent, WorkedExampleNodeSequence) {
    NINote note;
    note.title = u"Groceries";
    note.body = u"Milk\nEggs";
    note.tagNames = std::vector<std::u16string>{u"home", u"errands"};
    EXPECT_EQ(sheetFor(note),
              "<?xml version=\"1.0\"?><sheet a=\"1\"><string>\n"
              "<p><tags><tag kind=\"heading1\"># </tag></tags>Groceries</p>\n"
              "<p>Milk</p>\n<p>Eggs</p>\n</string><extra/>"
              "<attachment type=\"keywords\">home,errands</attachment>\n</sheet>");
}

TEST_F(SheetContent, ParagraphsAttachmentsAndExistingChildren) {
    NINote empty;
    EXPECT_NE(sheetFor(empty).find("<string>\n</string>"), std::string::npos);

    NINote note;
    note.body = u"\nA\r\nB\rC\u2029D\n";  // every separator kind; a final one adds nothing
    note.tagNames = std::vector<std::u16string>{u""};
    const std::string sheet = sheetFor(note, std::string(32, 'a'), "<p>kept</p>");
    EXPECT_NE(sheet.find("<string><p>kept</p>\n<p></p>\n<p>A</p>\n<p>B</p>\n<p>C</p>\n<p>D</p>\n</string>"),
              std::string::npos)
        << sheet;
    EXPECT_NE(sheet.find("<attachment type=\"keywords\"></attachment>\n<attachment type=\"file\">" +
                         std::string(32, 'a') + "</attachment>\n</sheet>"),
              std::string::npos)
        << sheet;
}

TEST_F(SheetContent, TextIsEscapedAndSurvivesAParser) {
    NINote note;
    note.title = u"a < b & \"c\"\rd";
    using namespace std::literals;
    note.body = u"nul\u0000 bell\u0007 tab\t ok\uFFFE\uFFFF \xD800 lone"s;
    std::size_t leftOut = 0;
    const std::string sheet = sheetFor(note, std::nullopt, "", &leftOut);
    EXPECT_EQ(leftOut, 5u);  // NUL, BEL, U+FFFE, U+FFFF and the lone surrogate
    pugi::xml_document reparsed;
    ASSERT_TRUE(reparsed.load_string(sheet.c_str()));
    const auto string = reparsed.child("sheet").child("string");
    auto paragraph = string.child("p");
    EXPECT_STREQ(paragraph.last_child().value(), "a < b & \"c\"\rd");  // the CR comes back as a CR
    paragraph = paragraph.next_sibling("p");
    EXPECT_STREQ(paragraph.text().get(), "nul bell tab\t ok  lone");

    // Long text is escaped in slices; a surrogate pair across a slice's end stays whole.
    NINote longNote;
    longNote.body = std::u16string(4095, u'x') + u"\U0001F600&" + std::u16string(5000, u'<');
    ASSERT_TRUE(reparsed.load_string(sheetFor(longNote).c_str()));
    EXPECT_EQ(std::string(reparsed.child("sheet").child("string").child("p").text().get()),
              std::string(4095, 'x') + "\xF0\x9F\x98\x80&" + std::string(5000, '<'));
}

TEST_F(SheetContent, BrokenTemplateIsAnErrorNamingIt) {
    test::writeFile(root() / "Bad.inkvale" / "Content.xml", "<sheet><string></sheet>");
    SheetTemplate document;
    Error error;
    EXPECT_FALSE(loadTemplateContent(root() / "Bad.inkvale", document, &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateInvalid);
    EXPECT_NE(error.message().find("Bad.inkvale/Content.xml"), std::string::npos);
    EXPECT_FALSE(loadTemplateContent(root() / "None.inkvale", document, &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateMissing);
}

}  // namespace
}  // namespace ni
