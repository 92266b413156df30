// Hostile input and real and injected file-system faults, run against the real converter.

#include <sys/resource.h>

#include <cerrno>

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"

namespace ni {
namespace {

using namespace test;
using namespace std::string_literals;

using HostileInput = ExportTest;

TEST_F(HostileInput, OddNotesAndNamesConvertWholeToSheetsEveryParserAccepts) {
    const std::string controls = "Ctl\x01\x02\nNUL\0in\x1F body\x7F\xEF\xBF\xBE\xEF\xBF\xBF end\x0B\x0C"s;
    writeFile(notes() / "Text" / "Controls.txt", controls);
    // Tag lists, notes and lines larger than the XML library's memory page (32 KiB) and its
    // output buffer: they take the paths of text that has to be stored and written in pieces.
    std::string tags = "Tags: t0", joined = "t0";
    for (int i = 1; i < 8000; ++i) tags += ", t" + std::to_string(i), joined += ",t" + std::to_string(i);
    writeFile(notes() / "Text" / "ManyTags.txt", "Many\n\n" + tags + "\n");
    // Lines with keys inside sentences, and a line without a line end.
    std::string big = "Big\n", line;
    for (int i = 0; big.size() < (64u << 10); ++i)
        big += "Line " + std::to_string(i) + " remember Tags: milk, a Picture: x.png & <b> \"q\"\n";
    while (line.size() < (64u << 10)) line += "one line Picture: never Tags: none \xC3\xA9 ";
    writeFile(notes() / "Text" / "Big.txt", big + "\nTags: big\n");
    writeFile(notes() / "Text" / "Line.txt", line);
    // A byte order mark, a title alone, and CR alone as the line end.
    writeFile(notes() / "Text" / "Bom.txt", "\xEF\xBB\xBFHi\nthere");
    writeFile(notes() / "Text" / "Title.txt", "Title\n");
    writeFile(notes() / "Text" / "Mac.txt", "Old Mac\rline one\r\rTags: a, b\r");
    // Names that aren't UTF-8: "x\xFE" and "x\xFF" both read as "x\uFFFD", the later one is numbered.
    writeFile(notes() / "dir\xC3" / "in.txt", "inside");
    writeFile(notes() / "bad\xFF\xFE.txt", "bad name");
    writeFile(notes() / "x\xFE.txt", "fe");
    writeFile(notes() / "x\xFF.txt", "ff");
    // Folders whose names differ only in case or composition stay apart.
    for (const std::string folder : {"Caf\xC3\xA9", "Cafe\xCC\x81", "Work", "work"})
        writeFile(notes() / folder / "n.txt", folder);
    freezeNotes();

    auto result = cli({"-o", (root() / "out").native(), notes().native()});
    ASSERT_EQ(result.status, 0) << result.err;
    const fs::path sheets = root() / "out" / "Notara Export";
    // Text.txt keeps the note's text as it was; the markup holds what XML can (xmllint parses it below).
    const auto text = [&](const std::string& name) { return readFile(sheets / name / "Text.txt"); };
    const auto content = [&](const std::string& name) { return readFile(sheets / name / "Content.xml"); };
    EXPECT_EQ(text("Text/Controls.inkvale"), "# " + controls);
    EXPECT_TRUE(has(content("Text/Controls.inkvale"), "<p>NULin body\x7F end</p>"));
    EXPECT_TRUE(has(content("Text/ManyTags.inkvale"), "<attachment type=\"keywords\">" + joined + "</"));
    EXPECT_EQ(text("Text/Big.inkvale"), "# " + big.substr(0, big.size() - 1));
    EXPECT_TRUE(has(content("Text/Big.inkvale"), "<attachment type=\"keywords\">big</"));
    EXPECT_EQ(text("Text/Line.inkvale"), line);
    EXPECT_EQ(text("Text/Bom.inkvale"), "# Hi\nthere");
    EXPECT_EQ(text("Text/Title.inkvale"), "# Title\n");
    EXPECT_EQ(text("Text/Mac.inkvale"), "Old Mac\rline one\r\r");

    EXPECT_EQ(entriesOf(sheets),
              (Names{"Cafe\xCC\x81", "Caf\xC3\xA9", "Text", "Work", "bad\xFF\xFE.inkvale", "dir\xC3",
                     "work", "x\xEF\xBF\xBD - 2.inkvale", "x\xFE.inkvale"}));
    for (const std::string folder : {"Caf\xC3\xA9", "Cafe\xCC\x81", "Work", "work"})
        EXPECT_EQ(text(folder + "/n.inkvale"), folder);
    EXPECT_EQ(text("dir\xC3/in.inkvale"), "inside");
    EXPECT_EQ(text("x\xEF\xBF\xBD - 2.inkvale"), "ff");

    // An error about a file with such a name names it with the bad bytes escaped.
    writeFile(root() / "Bad\xC3" / "worse\xFF.txt", "\xFF");
    result = cli({"-n", (root() / "Bad\xC3").native()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(has(result.err,
                    "Bad\\xC3/worse\\xFF.txt” couldn’t be read because it isn’t valid UTF-8 text (byte 0)"))
        << result.err;
    EXPECT_FALSE(has(result.err, "\xFF"));

    Names lint = {"/usr/bin/xmllint", "--noout"};
    for (const auto& entry : fs::recursive_directory_iterator(sheets))
        if (entry.path().filename() == "Content.xml") lint.push_back(entry.path().native());
    EXPECT_EQ(lint.size(), 2u + 15);
    const auto linted = run(lint);
    EXPECT_EQ(linted.status, 0) << linted.err;
}

using Faults = SmallExport;

TEST_F(Faults, UnreadableNoteOrPictureOrUnlistableFolderFailsTheRunNamingIt) {
    const fs::path copy = notes();
    ASSERT_TRUE(shareWithUnprivileged());
    for (const auto& [locked, kind] : {std::pair{copy / "Work" / "Plan.txt", ErrorKind::ReadFailed},
                                       {copy / "Pictures" / "photo.png", ErrorKind::ReadFailed},
                                       {copy / "Work", ErrorKind::ListFailed}}) {
        SCOPED_TRACE(locked);
        const auto mode = fs::status(locked).permissions();
        fs::permissions(locked, fs::perms::none);
        EXPECT_EQ(runUnprivileged([&] {
                      AppDelegate controller(nullptr);
                      Error error;
                      const bool failed = !controller.convertFolderAtURL(copy, &error);
                      return int(!failed || error.path() != locked || error.osError() != EACCES ||
                                 error.kind() != kind);
                  }),
                  0);
        fs::permissions(locked, mode);
    }
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

TEST_F(Faults, FileSizeLimitAndFullDiskFailTheRunNamingTheFileAndCleanUp) {
    // Several megabytes: past a 1 MiB file-size limit and a 1 MiB file system.
    std::string big = "Big\n";
    while (big.size() < (3u << 20)) big += "all work and no play makes a long note\n";
    writeFile(notes() / "Big.txt", big);
    freezeNotes();
    const fs::path out = root() / "out";
    const auto expectFailure = [&](const Outcome& result, const std::string& reason) {
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(has(result.err, "/Notara Export/Big.inkvale/Content.xml” couldn’t be written: " + reason))
            << result.err;
        EXPECT_FALSE(fs::exists(out / "Notara Export"));
    };
    const auto limited = [] {
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    expectFailure(cli({"-o", out.native(), notes().native()}, limited), "File too large.");
    EXPECT_TRUE(leftInTemporaryArea().empty());

    // A 1 MiB tmpfs as the temporary area, in a private user and mount namespace;
    // afterwards the container on it is listed on stderr, from inside.
    const fs::path mount = root() / "small";
    fs::create_directories(mount);
    const auto full =
        run({"unshare", "-Urm", "sh", "-c",
             "mount -t tmpfs -o size=1m tmpfs \"$0\" || exit 77; TMPDIR=\"$0\" \"$1\" -o \"$2\" \"$3\"; "
             "status=$?; echo \"left: $(ls -A \"$0\"/net.notara2inkvale.converter)\" >&2; exit $status",
             mount.native(), kCli(), out.native(), notes().native()});
    expectFailure(full, "No space left on device.");
    EXPECT_TRUE(full.err.ends_with("left: \n")) << full.err;
}

}  // namespace
}  // namespace ni
