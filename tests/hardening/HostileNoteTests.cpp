#include <pugixml.hpp>

#include "HardeningSupport.hpp"
#include "conversion/AppDelegate.hpp"

namespace ni {
namespace {

using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

// The text of each paragraph of a sheet, heading included, as a parser reads it back.
std::vector<std::string> paragraphsOf(const fs::path& sheet) {
    pugi::xml_document document;
    const std::string xml = readFile(sheet / "Content.xml");
    if (!document.load_buffer(xml.data(), xml.size())) return {"<unparsable>"};
    std::vector<std::string> texts;
    for (pugi::xml_node p : document.child("sheet").child("string").children("p"))
        texts.push_back(p.text().get());
    return texts;
}

std::string keywordsOf(const fs::path& sheet) {
    pugi::xml_document document;
    document.load_file((sheet / "Content.xml").c_str());
    return document.child("sheet").find_child_by_attribute("attachment", "type", "keywords").text().get();
}

class HostileNotes : public test::ScratchTest {
protected:
    fs::path notes() const { return root() / "Notes"; }
};

TEST_F(HostileNotes, OddTextConvertsToSheetsEveryParserAccepts) {
    using namespace std::string_literals;
    writeFile(notes() / "Mac.txt", "Old Mac\rline one\rline two\r\rTags: a, b\r");
    writeFile(notes() / "Mixed.txt", "Title\r\nline\rcr\nlf\xE2\x80\xA9ps\r\n\r\nTags: x\r\n");
    writeFile(notes() / "Controls.txt",
              "Ctl\x01\x02\nNUL\0in\x1F body\x7F\xEF\xBF\xBE\xEF\xBF\xBF end\x0B\x0C"s);
    writeFile(notes() / "Empty.txt", "");
    writeFile(notes() / "Keys.txt", "Picture: \nTags: \nCreated: \nModified: \n");
    writeFile(notes() / "Repeated.txt", "R\nbody\n\nTags: a\nTags: b, c\nModified: x\nModified: y\n");
    std::string tags = "Tags: ";
    std::string joined;
    for (int i = 0; i < 100000; ++i) {
        tags += (i ? ", t" : "t") + std::to_string(i);
        joined += (i ? ",t" : "t") + std::to_string(i);
    }
    writeFile(notes() / "Sub" / "ManyTags.txt", "Many\n\n" + tags + "\n");
    const auto before = test::treeFingerprint(notes());

    const fs::path out = root() / "out";
    const auto run = test::runCli({"-q", "-o", out.native(), notes().native()}, root());
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path sheets = out / "Notara Export";
    EXPECT_EQ(test::treeFingerprint(notes()), before);

    // Text.txt keeps the note's text as it was; the markup holds what XML can.
    EXPECT_EQ(readFile(sheets / "Mac.inkvale" / "Text.txt"), "Old Mac\rline one\rline two\r\r");
    EXPECT_EQ(paragraphsOf(sheets / "Mac.inkvale"),
              (std::vector<std::string>{"Old Mac", "line one", "line two", ""}));
    EXPECT_EQ(keywordsOf(sheets / "Mac.inkvale"), "a,b");
    EXPECT_EQ(readFile(sheets / "Mixed.inkvale" / "Text.txt"), "# Title\nline\rcr\nlf\xE2\x80\xA9ps");
    EXPECT_EQ(paragraphsOf(sheets / "Mixed.inkvale"),
              (std::vector<std::string>{"Title", "line", "cr", "lf", "ps"}));
    EXPECT_EQ(readFile(sheets / "Controls.inkvale" / "Text.txt"),
              "# Ctl\x01\x02\nNUL\0in\x1F body\x7F\xEF\xBF\xBE\xEF\xBF\xBF end\x0B\x0C"s);
    EXPECT_EQ(paragraphsOf(sheets / "Controls.inkvale"),
              (std::vector<std::string>{"Ctl", "NULin body\x7F end"}));
    EXPECT_EQ(readFile(sheets / "Empty.inkvale" / "Text.txt"), "");
    EXPECT_TRUE(paragraphsOf(sheets / "Empty.inkvale").empty());
    EXPECT_EQ(readFile(sheets / "Keys.inkvale" / "Text.txt"), "");
    EXPECT_EQ(keywordsOf(sheets / "Keys.inkvale"), "");
    EXPECT_FALSE(fs::exists(sheets / "Keys.inkvale" / "Media"));
    // The last Tags line is the value; an earlier one is text and isn't lost.
    EXPECT_EQ(keywordsOf(sheets / "Repeated.inkvale"), "b,c");
    EXPECT_EQ(readFile(sheets / "Repeated.inkvale" / "Text.txt"), "# R\nbody\n\nTags: a\n");
    EXPECT_EQ(keywordsOf(sheets / "Sub" / "ManyTags.inkvale"), joined);

    if (!test::haveXmllint()) GTEST_SKIP() << "xmllint (libxml2-utils) isn't installed";
    EXPECT_EQ(test::xmllintComplaints(sheets, root()), "");
}

TEST_F(HostileNotes, HugeNotesAndLinesConvertWhole) {
    // About 50 MB of lines, keys inside sentences included, and 5 MB without a line end.
    std::string big = "Big\n";
    big.reserve(52u << 20);
    for (int i = 0; big.size() < (50u << 20); ++i)
        big += "Line " + std::to_string(i) + " remember Tags: milk, a Picture: x.png & <b> \"q\"\n";
    std::string line;
    line.reserve(5u << 20);
    while (line.size() < (5u << 20)) line += "one line Picture: never Tags: none \xC3\xA9 ";
    writeFile(notes() / "Big.txt", big + "\nTags: big\n");
    writeFile(notes() / "Line.txt", line);

    test::RecordingUserInterface ui;
    AppDelegate controller(&ui);
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const fs::path sheets = *controller.exportURL();
    EXPECT_EQ(readFile(sheets / "Big.inkvale" / "Text.txt"), "# " + big.substr(0, big.size() - 1));
    EXPECT_EQ(keywordsOf(sheets / "Big.inkvale"), "big");
    EXPECT_EQ(readFile(sheets / "Line.inkvale" / "Text.txt"), line);
    EXPECT_EQ(paragraphsOf(sheets / "Line.inkvale").size(), 1u);

    if (!test::haveXmllint()) GTEST_SKIP() << "xmllint (libxml2-utils) isn't installed";
    EXPECT_EQ(test::xmllintComplaints(sheets, root()), "");
}

}  // namespace
}  // namespace ni
