#include <pugixml.hpp>

#include "TestSupport.hpp"
#include "conversion/NoteFile.hpp"
#include "conversion/SheetContent.hpp"

namespace ni {
namespace {

using namespace std::string_literals;

class SheetContent : public test::ScratchTest {
protected:
    // Fills a template whose string element holds `existing` and returns the serialised sheet.
    std::string sheetFor(const NINote& note, const std::optional<std::string>& picture = std::nullopt,
                         std::string_view existing = "", std::size_t* leftOut = nullptr) {
        test::writeFile(root() / "T.inkvale" / "Content.xml",
                        "<?xml version=\"1.0\"?><sheet a=\"1\"><string>"s + std::string(existing) +
                            "</string><extra/></sheet>");
        SheetTemplate sheetTemplate;
        Error error;
        EXPECT_TRUE(loadTemplateContent(root() / "T.inkvale", sheetTemplate, &error)) << error.message();
        return sheetContent(sheetTemplate, note, picture, leftOut);
    }
};

TEST_F(SheetContent, ParagraphsAttachmentsAndExistingChildren) {
    const struct {
        std::u16string title, body;
        std::optional<std::vector<std::u16string>> tags;
        std::optional<std::string> picture;
        std::string existing, expected;
    } cases[] = {
        {u"Groceries", u"Milk\nEggs", std::vector<std::u16string>{u"home", u"errands"}, {}, "",
         "<?xml version=\"1.0\"?><sheet a=\"1\"><string>\n"
         "<p><tags><tag kind=\"heading1\"># </tag></tags>Groceries</p>\n"
         "<p>Milk</p>\n<p>Eggs</p>\n</string><extra/>"
         "<attachment type=\"keywords\">home,errands</attachment>\n</sheet>"},
        {u"", u"", {}, {}, "", "<string>\n</string><extra/></sheet>"},
        // Every separator kind; a final one adds nothing.
        {u"", u"\nA\r\nB\rC\u2029D\n", std::vector<std::u16string>{u""}, std::string(32, 'a'), "<p>kept</p>",
         "<string><p>kept</p>\n<p></p>\n<p>A</p>\n<p>B</p>\n<p>C</p>\n<p>D</p>\n</string><extra/>"
         "<attachment type=\"keywords\"></attachment>\n<attachment type=\"file\">" +
             std::string(32, 'a') + "</attachment>\n</sheet>"},
    };
    for (const auto& c : cases) {
        NINote note;
        note.title = c.title, note.body = c.body, note.tagNames = c.tags;
        const std::string sheet = sheetFor(note, c.picture, c.existing);
        EXPECT_TRUE(test::has(sheet, c.expected)) << sheet;
    }
}

TEST_F(SheetContent, TextIsEscapedAndSurvivesAParser) {
    NINote note;
    note.title = u"a < b & \"c\"\rd";
    note.body = u"nul\u0000 bell\u0007 tab\t ok\uFFFE\uFFFF \xD800 lone"s;
    std::size_t leftOut = 0;
    const std::string sheet = sheetFor(note, std::nullopt, "", &leftOut);
    EXPECT_EQ(leftOut, 5u);  // NUL, BEL, U+FFFE, U+FFFF and the lone surrogate
    pugi::xml_document reparsed;
    ASSERT_TRUE(reparsed.load_string(sheet.c_str()));
    auto paragraph = reparsed.child("sheet").child("string").child("p");
    EXPECT_STREQ(paragraph.last_child().value(), "a < b & \"c\"\rd");  // the CR comes back as a CR
    EXPECT_STREQ(paragraph.next_sibling("p").text().get(), "nul bell tab\t ok  lone");

    // Long text is escaped in slices; a surrogate pair across a slice's end stays whole.
    note = {};
    note.body = std::u16string(4095, u'x') + u"\U0001F600&" + std::u16string(5000, u'<');
    ASSERT_TRUE(reparsed.load_string(sheetFor(note).c_str()));
    EXPECT_EQ(reparsed.child("sheet").child("string").child("p").text().get(),
              std::string(4095, 'x') + "\xF0\x9F\x98\x80&" + std::string(5000, '<'));
}

TEST_F(SheetContent, BrokenOrMissingTemplateIsAnErrorNamingIt) {
    test::writeFile(root() / "Bad.inkvale" / "Content.xml", "<sheet><string></sheet>");
    SheetTemplate document;
    Error error;
    EXPECT_FALSE(loadTemplateContent(root() / "Bad.inkvale", document, &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateInvalid);
    EXPECT_TRUE(test::has(error.message(), "Bad.inkvale/Content.xml"));
    EXPECT_FALSE(loadTemplateContent(root() / "None.inkvale", document, &error));
    EXPECT_EQ(error.kind(), ErrorKind::TemplateMissing);
}

}  // namespace
}  // namespace ni
