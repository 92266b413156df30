// Hostile input and real and injected file-system faults, run against the real converter.

#include <cerrno>
#include <pugixml.hpp>

#include "TestSupport.hpp"
#include "conversion/AppDelegate.hpp"
#include "platform/SystemCalls.hpp"

namespace ni {
namespace {

using namespace test;
using namespace std::string_literals;

// The paragraphs (heading included) and the keywords of a sheet, as a parser reads them back.
std::pair<Names, std::string> parsed(const fs::path& sheet) {
    pugi::xml_document document;
    document.load_file((sheet / "Content.xml").c_str());
    std::pair<Names, std::string> result;
    for (pugi::xml_node p : document.child("sheet").child("string").children("p"))
        result.first.push_back(p.text().get());
    result.second =
        document.child("sheet").find_child_by_attribute("attachment", "type", "keywords").text().get();
    return result;
}

using HostileInput = ExportTest;

TEST_F(HostileInput, OddNotesAndNamesConvertWholeToSheetsEveryParserAccepts) {
    writeFile(notes() / "Text" / "Mac.txt", "Old Mac\rline one\rline two\r\rTags: a, b\r");
    const std::string controls = "Ctl\x01\x02\nNUL\0in\x1F body\x7F\xEF\xBF\xBE\xEF\xBF\xBF end\x0B\x0C"s;
    writeFile(notes() / "Text" / "Controls.txt", controls);
    writeFile(notes() / "Text" / "Keys.txt", "Picture: \nTags: \nCreated: \nModified: \n");
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
    // Names that aren't UTF-8: "x\xFE" and "x\xFF" both read as "x\uFFFD", the later one is numbered.
    writeFile(notes() / "dir\xC3" / "in.txt", "inside");
    writeFile(notes() / "bad\xFF\xFE.txt", "bad name");
    writeFile(notes() / "x\xFE.txt", "fe");
    writeFile(notes() / "x\xFF.txt", "ff");
    // Folders whose names differ only in case or composition stay apart; link loops are skipped.
    for (const std::string folder : {"Caf\xC3\xA9", "Cafe\xCC\x81", "Work", "work"})
        writeFile(notes() / folder / "n.txt", folder);
    fs::create_directory_symlink("Loop", notes() / "Loop");
    fs::create_directory_symlink("..", notes() / "dir\xC3" / "Up");
    freezeNotes();

    auto result = cli({"-o", (root() / "out").native(), notes().native()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(has(result.err, "Skipped 2 symbolic links.")) << result.err;
    const fs::path sheets = root() / "out" / "Notara Export";
    // Text.txt keeps the note's text as it was; the markup holds what XML can.
    const auto text = [&](const std::string& name) { return readFile(sheets / name / "Text.txt"); };
    EXPECT_EQ(text("Text/Mac.inkvale"), "Old Mac\rline one\rline two\r\r");
    EXPECT_EQ(parsed(sheets / "Text" / "Mac.inkvale"),
              std::pair(Names{"Old Mac", "line one", "line two", ""}, "a,b"s));
    EXPECT_EQ(text("Text/Controls.inkvale"), "# " + controls);
    EXPECT_EQ(parsed(sheets / "Text" / "Controls.inkvale").first, (Names{"Ctl", "NULin body\x7F end"}));
    EXPECT_EQ(text("Text/Keys.inkvale"), "");
    EXPECT_EQ(parsed(sheets / "Text" / "Keys.inkvale"), std::pair(Names{}, ""s));
    EXPECT_EQ(parsed(sheets / "Text" / "ManyTags.inkvale").second, joined);
    EXPECT_EQ(text("Text/Big.inkvale"), "# " + big.substr(0, big.size() - 1));
    EXPECT_EQ(parsed(sheets / "Text" / "Big.inkvale").second, "big");
    EXPECT_EQ(text("Text/Line.inkvale"), line);

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

    if (::access("/usr/bin/xmllint", X_OK) != 0) GTEST_SKIP() << "xmllint (libxml2-utils) isn't installed";
    Names lint = {"/usr/bin/xmllint", "--noout"};
    for (const auto& entry : fs::recursive_directory_iterator(sheets))
        if (entry.path().filename() == "Content.xml") lint.push_back(entry.path().native());
    EXPECT_EQ(lint.size(), 2u + 6 + 8);
    const auto linted = run(lint);
    EXPECT_EQ(linted.status, 0) << linted.err;
}

class Faults : public SmallExport {
protected:
    void TearDown() override {
        sys::clearFaults();
        SmallExport::TearDown();
    }
};

TEST_F(Faults, PictureVanishingOrSwappedForALinkBeforeItIsCopiedFailsTheRunWithNothingPending) {
    // Between reading the notes and writing the sheets, the picture goes, or
    // its Pictures folder becomes a link to a folder outside holding a file of
    // the same name: nothing from outside may reach a sheet.
    writeFile(root() / "Outside" / "photo.png", "not from the export");
    for (const bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "removed");
        struct : RecordingUserInterface {
            void conversionProgress(ConversionPhase phase, std::size_t done, std::size_t) override {
                if (phase != ConversionPhase::WritingPackages || done != 0 || changed) return;
                changed = true;
                if (!swap) {
                    fs::remove(pictures / "photo.png");
                    return;
                }
                fs::rename(pictures, pictures.parent_path() / "Pictures.real");
                fs::create_directory_symlink("../Outside", pictures);
            }
            fs::path pictures;
            bool swap = false, changed = false;
        } ui;
        ui.pictures = notes() / "Pictures";
        ui.swap = swap;
        before.reset();
        AppDelegate controller(&ui);
        Error error;
        EXPECT_FALSE(controller.convertFolderAtURL(notes(), &error));
        EXPECT_EQ(error.kind(), swap ? ErrorKind::NotRegularFile : ErrorKind::FileNotFound);
        EXPECT_EQ(error.path(), notes() / "Pictures" / "photo.png");
        EXPECT_FALSE(controller.exportURL());
        EXPECT_TRUE(leftInTemporaryArea().empty());
        if (swap) {  // put the export back as it was for the source check
            fs::remove(notes() / "Pictures");
            fs::rename(notes() / "Pictures.real", notes() / "Pictures");
        } else {
            writeFile(notes() / "Pictures" / "photo.png", "png bytes");
        }
    }
}

TEST_F(Faults, UnreadableNoteOrPictureFailsTheRunNamingIt) {
    const SharedScratch shared;
    const fs::path copy = shared.path() / "Notes";
    fs::copy(notes(), copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    ASSERT_TRUE(shared.reachedUnprivileged());
    const auto attempt = [&](const fs::path& locked) {
        ::chmod(locked.c_str(), 0);
        const int result = runUnprivileged([&] {
            AppDelegate controller(nullptr);
            Error error;
            const bool failed = !controller.convertFolderAtURL(copy, &error);
            return int(!failed || error.path() != locked || error.osError() != EACCES ||
                       error.kind() != ErrorKind::ReadFailed);
        });
        ::chmod(locked.c_str(), 0644);
        return result;
    };
    EXPECT_EQ(attempt(copy / "Work" / "Plan.txt"), 0);
    EXPECT_EQ(attempt(copy / "Pictures" / "photo.png"), 0);
    EXPECT_TRUE(shared.leftInTemporaryArea().empty());
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
    expectFailure(run({"/bin/sh", "-c", "ulimit -f 1024 && exec \"$0\" \"$@\"", kCli(), "-o", out.native(),
                       notes().native()}),
                  "File too large.");
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
    if (full.status == 127 || full.status == 77 || full.err.starts_with("unshare:"))
        GTEST_SKIP() << "no tmpfs in a private namespace here: " << full.err;
    expectFailure(full, "No space left on device.");
    EXPECT_TRUE(full.err.ends_with("left: \n")) << full.err;
}

TEST_F(Faults, DestinationFailingMidMoveKeepsTheExportPendingAndWhole) {
    RecordingUserInterface ui;
    AppDelegate controller(&ui);
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const fs::path exportURL = *controller.exportURL();
    const auto exported = fingerprint(exportURL);
    const fs::path chosen = root() / "Chosen";
    fs::create_directories(chosen);
    ui.panelAnswer = chosen;
    // Another file system that turns read-only or goes away part-way through the copy.
    sys::injectFault(sys::Operation::Rename, EXDEV);
    for (const int fault : {EROFS, ENOENT}) {
        sys::injectFault(sys::Operation::Copy, fault, 3);
        controller.saveFiles();
        ASSERT_FALSE(ui.errors.empty());
        EXPECT_EQ(ui.errors.back().kind(), ErrorKind::MoveFailed);
        EXPECT_EQ(ui.errors.back().osError(), fault);
        EXPECT_EQ(controller.exportURL(), exportURL);
        EXPECT_EQ(fingerprint(exportURL), exported);
        EXPECT_TRUE(entriesOf(chosen).empty()) << "a partial copy was left";
    }
}

TEST_F(Faults, QuitCleanUpRemovesPlantedLinksNotWhatTheyPointTo) {
    AppDelegate controller(nullptr);
    Error error;
    ASSERT_TRUE(controller.convertFolderAtURL(notes(), &error)) << error.message();
    const fs::path exportURL = *controller.exportURL();
    const fs::path outside = root() / "Outside";
    writeFile(outside / "keep.txt", "keep");
    writeFile(outside / "Folder" / "keep.txt", "keep");
    const auto kept = fingerprint(outside);
    fs::create_directory_symlink(outside, exportURL / "planted-folder");
    fs::create_symlink(outside / "keep.txt", exportURL / "Work" / "planted-file");
    fs::create_directory_symlink(notes(), exportURL / "Work" / "Plan.inkvale" / "planted-source");
    fs::remove_all(exportURL / "Note.inkvale" / "Media");
    fs::create_directory_symlink(outside / "Folder", exportURL / "Note.inkvale" / "Media");

    controller.applicationWillTerminate();
    EXPECT_FALSE(controller.exportURL());
    EXPECT_FALSE(fs::exists(fs::symlink_status(exportURL.parent_path())));
    EXPECT_EQ(fingerprint(outside), kept);
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

}  // namespace
}  // namespace ni
