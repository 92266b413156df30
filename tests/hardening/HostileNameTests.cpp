#include <climits>

#include "HardeningSupport.hpp"
#include "conversion/AppDelegate.hpp"

namespace ni {
namespace {

using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

class HostileNames : public test::ScratchTest {
protected:
    fs::path notes() const { return root() / "Notes"; }
};

TEST_F(HostileNames, NamesThatArentUTF8AreKeptAndShownEscaped) {
    writeFile(notes() / "dir\xC3" / "in.txt", "inside");
    writeFile(notes() / "bad\xFF\xFE.txt", "bad name");
    // Both read as "x\uFFFD": the later one is numbered, in valid UTF-8.
    writeFile(notes() / "x\xFE.txt", "fe");
    writeFile(notes() / "x\xFF.txt", "ff");
    // Folders whose names differ only in case or composition stay apart.
    writeFile(notes() / "Caf\xC3\xA9" / "n.txt", "nfc");
    writeFile(notes() / "Cafe\xCC\x81" / "n.txt", "nfd");
    writeFile(notes() / "Work" / "n.txt", "upper");
    writeFile(notes() / "work" / "n.txt", "lower");
    fs::create_directory_symlink("Loop", notes() / "Loop");
    fs::create_directory_symlink("..", notes() / "dir\xC3" / "Up");
    const auto before = test::treeFingerprint(notes());

    const fs::path out = root() / "out";
    auto run = test::runCli({"-o", out.native(), notes().native()}, root());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Skipped 2 symbolic links."), std::string::npos) << run.err;
    const fs::path sheets = out / "Notara Export";
    EXPECT_EQ(test::entriesOf(sheets),
              (std::vector<std::string>{"Cafe\xCC\x81", "Caf\xC3\xA9", "Work", "bad\xFF\xFE.inkvale",
                                        "dir\xC3", "work", "x\xEF\xBF\xBD - 2.inkvale", "x\xFE.inkvale"}));
    for (const auto& [folder, text] : std::vector<std::pair<std::string, std::string>>{
             {"Caf\xC3\xA9", "nfc"}, {"Cafe\xCC\x81", "nfd"}, {"Work", "upper"}, {"work", "lower"}})
        EXPECT_EQ(readFile(sheets / folder / "n.inkvale" / "Text.txt"), text);
    EXPECT_EQ(readFile(sheets / "dir\xC3" / "in.inkvale" / "Text.txt"), "inside");
    EXPECT_EQ(readFile(sheets / "x\xEF\xBF\xBD - 2.inkvale" / "Text.txt"), "ff");
    EXPECT_EQ(test::treeFingerprint(notes()), before);

    // An error about such a file names it with the bad bytes escaped.
    writeFile(notes() / "dir\xC3" / "worse\xFF.txt", "\xFF");
    run = test::runCli({"-o", (root() / "out2").native(), notes().native()}, root());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.err.find("dir\\xC3/worse\\xFF.txt” couldn’t be read because it isn’t valid UTF-8 text (byte 0)"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find('\xFF'), std::string::npos);
}

TEST_F(HostileNames, NamesAtTheLengthLimitAreShortenedAndStayUnique) {
    const std::string n251(251, 'n');
    std::string e125;
    for (int i = 0; i < 125; ++i) e125 += "\xC3\xA9";  // é, two bytes each
    std::string hangul82;
    for (int i = 0; i < 82; ++i) hangul82 += "\xED\x95\x9C";  // three bytes, nine decomposed
    writeFile(notes() / (n251 + ".txt"), "n txt");
    writeFile(notes() / (n251 + "n.md"), "n md");
    writeFile(notes() / (e125 + "x.txt"), "e");
    writeFile(notes() / (hangul82 + "ab.txt"), "hangul txt");
    writeFile(notes() / (hangul82 + "ab.md"), "hangul md");
    const std::string picture = std::string(246, 'p') + ".png";
    writeFile(notes() / "Pictures" / picture, "png bytes");
    writeFile(notes() / "Pictured.txt", "Pictured\nbody\n\nPicture: " + picture + "\n");

    test::RecordingUserInterface ui;
    AppDelegate controller(&ui);
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const fs::path sheets = *controller.exportURL();
    std::vector<std::string> texts;
    for (const std::string& name : test::entriesOf(sheets)) {
        EXPECT_LE(name.size(), std::size_t{NAME_MAX}) << name;
        EXPECT_TRUE(name == "Pictures" || name.ends_with(".inkvale")) << name;
        if (name != "Pictures") texts.push_back(readFile(sheets / name / "Text.txt"));
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"# Pictured\nbody", "e", "hangul md", "hangul txt", "n md",
                                               "n txt"}));
    // The first keeps as much of its name as fits; a cut never splits a character.
    EXPECT_TRUE(fs::is_directory(sheets / (std::string(247, 'n') + ".inkvale")));
    EXPECT_TRUE(fs::is_directory(sheets / (e125.substr(0, 246) + ".inkvale")));
    const auto media = test::entriesOf(sheets / "Pictured.inkvale" / "Media");
    ASSERT_EQ(media.size(), 1u);
    EXPECT_LE(media[0].size(), std::size_t{NAME_MAX});
    EXPECT_TRUE(media[0].starts_with("ppp") && media[0].ends_with(".png")) << media[0];
    EXPECT_EQ(readFile(sheets / "Pictured.inkvale" / "Media" / media[0]), "png bytes");
}

}  // namespace
}  // namespace ni
