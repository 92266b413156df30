// The command-line converter's contract: what goes to which stream, exit
// statuses, warnings, the JSON report, and that failures and dry runs write
// nothing; hostile input and file-system faults, run against the real converter.

#include <sys/resource.h>

#include <nlohmann/json.hpp>

#include "TestSupport.hpp"

namespace ni {
namespace {

using namespace test;
using json = nlohmann::json;
using namespace std::string_literals;
using CommandLine = SmallExport;

TEST_F(CommandLine, DryRunAndFailuresWriteNothingExitWithTheirStatusAndCheckTheOutputFirst) {
    const fs::path out = root() / "out";
    auto result = cli({"--dry-run", "-o", out.native(), notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(
        result.out.starts_with("Notara Export/\n    Pictures/\n    Work/\n        Plan.inkvale\n    "
                               "Note.inkvale\n        Media/photo."))
        << result.out;
    EXPECT_TRUE(
        result.err.ends_with("Would convert 2 notes (1 picture, 2 sub-folders). Skipped 1 symbolic link. "
                             "1 warning.\n"))
        << result.err;
    EXPECT_TRUE(entriesOf(tmp()).empty());
    // Nothing to convert: 3; a note that can't be read, a missing export folder or one that is a
    // file: 1; usage errors: 2. Each the same in a dry run as in a real one, with nothing on stdout.
    const std::string empty = root() / "Empty", broken = root() / "Broken", nowhere = root() / "Nowhere";
    fs::create_directory_symlink(notes() / "Work", root() / "via");  // "via/.." is the export
    const std::string huge = root() / "Huge";
    writeFile(fs::path(huge) / "huge.log", "");
    fs::resize_file(fs::path(huge) / "huge.log", std::uintmax_t{1} << 40);
    writeFile(root() / "Empty" / "photo.png", "png");
    writeFile(root() / "Broken" / "Bad.txt", "ok\n\xC3(");
    const std::string badNote = "notara2inkvale-cli: The file “" + broken +
                                "/Bad.txt” couldn’t be read because it isn’t valid UTF-8 text (byte 3).\n";
    const std::tuple<Names, int, std::string> failures[] = {
        {{"-n", "-o", out, empty}, 3, "No importable files were found in “Empty”"},
        {{"-o", out, empty}, 3, "No importable files were found in “Empty”"},
        {{"-n", "-q", broken}, 1, badNote},
        {{"-q", "-o", out, broken}, 1, badNote},
        {{"-o", out, nowhere}, 1, "“" + nowhere + "”"},
        // Too large to be a note: named with its size before a byte is read.
        {{"-n", huge}, 1, "huge.log” couldn’t be read because it is 1.0 TiB; a note can be at most 256 MiB."},
        // Nothing is ever written inside the export, however the folder is named.
        {{"-o", notes(), notes()}, 2, "lies inside the export folder"},
        {{"-n", "-o", notes() / "out", notes()}, 2, "lies inside the export folder"},
        {{"-o", root() / "via" / "..", notes()}, 2, "lies inside the export folder"},
        {{"-n", notes() / "Note.txt"}, 1, "Note.txt”"},
        {{}, 2, "--help"},
        {{"a", "b"}, 2, "--help"},
        {{"--no-such-option", notes()}, 2, "--help"},
        {{"-o"}, 2, "--help"},
    };
    for (const auto& [args, status, words] : failures) {
        result = cli(args);
        EXPECT_EQ(result.status, status) << testing::PrintToString(args);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(words == badNote ? result.err == badNote : has(result.err, words)) << result.err;
    }
    EXPECT_FALSE(fs::exists(out));

    // An output folder that can't take the export fails before any note is read: every
    // note is unreadable, so an error about a note means the notes were read first.
    writeFile(root() / "file", "a file");
    writeFile(root() / "full" / "Notara Export" / "mine.txt", "keep");
    fs::create_directories(root() / "locked");
    ::chmod((root() / "locked").c_str(), 0555);
    // The read-only folder is tried without root's privileges (root may write anywhere), by
    // a copy of the program that such a run can reach: the build tree may sit in a 0700 home.
    ASSERT_TRUE(shareWithUnprivileged());
    const std::string program = root() / "notara2inkvale-cli";
    fs::copy_file(kCli(), program);
    const struct {
        fs::path output;
        std::string named, cause;
    } cases[] = {
        {root() / "file", root() / "file", "isn’t a folder"},
        {root() / "file" / "sub", root() / "file" / "sub", "isn’t a folder"},
        {root() / "full", root() / "full" / "Notara Export", "already exists"},
        {root() / "locked", root() / "locked", "can’t be written into"},
        {root() / "locked" / "new", root() / "locked" / "new", "can’t be written into"},
    };
    for (const auto& [output, named, cause] : cases) {
        for (const char* mode : {"-q", "-n"}) {
            SCOPED_TRACE(output.native() + " " + mode);
            result =
                run({program, mode, "-o", output.native(), broken}, [unprivileged = has(output, "locked")] {
                    if (unprivileged) dropPrivileges();
                });
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(has(result.err, "“" + named + "”") && has(result.err, cause)) << result.err;
        }
    }
    EXPECT_EQ(readFile(root() / "full" / "Notara Export" / "mine.txt"), "keep");
    EXPECT_EQ(entriesOf(root() / "locked"), Names{});
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

TEST_F(CommandLine, AFailedWriteToStandardOutputIsAnError) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    const std::tuple<std::function<void()>, std::string> sinks[] = {
        {[] { ::dup2(::open("/dev/full", O_WRONLY), 1); }, ": No space left on device"},
        {[] { ::close(1); }, ": Bad file descriptor"},
        {[&] { ::dup2(pipeFds[1], 1); }, ": Broken pipe"},  // SIGPIPE at its default
    };
    const fs::path out = root() / "out";
    for (const Names& args : std::vector<Names>{
             {"-o", out.native(), notes().native()}, {"-n", notes().native()}, {"--help"}, {"--version"}}) {
        for (const auto& [setUp, reason] : sinks) {
            SCOPED_TRACE(testing::PrintToString(args) + reason);
            const Outcome result = cli(args, setUp);
            EXPECT_EQ(result.status, 1);
            EXPECT_TRUE(has(result.err, "notara2inkvale-cli: write error on standard output" + reason))
                << result.err;
            fs::remove_all(out);
        }
    }
    ::close(pipeFds[1]);
}

using CommandLineNotices = ExportTest;

TEST_F(CommandLineNotices, WarningsGoToStderrAndTheReportStrictFailsAndDateLocaleReadsDates) {
    writeFile(notes() / "Trip.txt", "Trip\nGo.\n\nPicture: gone.jpg\nCreated: Jan 5, 2024, 3:04 PM\n");
    writeFile(notes() / "table.csv", "1,2");
    writeFile(notes() / "Work" / "Plan.txt", "Plan\n\nTags: a, b\n");
    freezeNotes();
    const fs::path out = root() / "out", report = root() / "report.json";
    // An en_US date read under de_DE: it fails and the hint names en_US.
    const ScopedEnvironment german{{"LC_ALL", "de_DE.UTF-8"}, {"TZ", "UTC"}};
    auto result = cli({"-q", "--report", report.native(), "-o", out.native(), notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, (out / "Notara Export").native() + "\n");
    const std::string warned = "notara2inkvale-cli: warning: ";
    const std::string warnings =
        warned + "“Trip.txt”: Picture “gone.jpg” isn’t in “Pictures”; the sheet has no picture.\n" + warned +
        "“Trip.txt”: Created “Jan 5, 2024, 3:04 PM” isn’t a date in de_DE (like “05.01.2024, 15:04”); it is "
        "left out.\n" +
        warned + "Skipped 1 CSV file at the top level: it isn’t a note.\n" + warned +
        "The date above that isn’t a date in de_DE reads as a date in en_US: run with LC_ALL=en_US.UTF-8 "
        "(or, "
        "on the command line, with --date-locale en_US).\n";
    EXPECT_EQ(result.err, warnings);  // --quiet keeps the warnings alone
    // The documented fields, in the documented order; each notice's message is its warning's.
    json expected = json::parse(R"({"version": 1, "source": "", "destination": "", "dryRun": false,
        "dateLocale": "de_DE",
        "counts": {"notes": 2, "pictures": 0, "subFolders": 1, "skippedLinks": 0, "notices": 4},
        "sheets": [
          {"note": "Trip.txt", "package": "Trip.inkvale", "picture": null, "tags": 0, "created": null,
           "modified": null},
          {"note": "Work/Plan.txt", "package": "Work/Plan.inkvale", "picture": null, "tags": 2,
           "created": null, "modified": null}],
        "notices": [{"kind": "picture", "path": "Trip.txt"}, {"kind": "date", "path": "Trip.txt"},
          {"kind": "skipped-files", "path": ""}, {"kind": "date-locale", "path": ""}]})");
    expected["source"] = notes().native();
    expected["destination"] = (out / "Notara Export").native();
    json written = json::parse(readFile(report));
    for (json& notice : written["notices"]) {
        EXPECT_TRUE(has(warnings, notice["message"].get<std::string>() + "\n")) << notice;
        notice.erase("message");
    }
    EXPECT_EQ(written, expected);

    // A dry run tells the same; --date-locale reads the date and takes its notices away.
    EXPECT_TRUE(cli({"-n", notes().native()}).err.starts_with(warnings));
    // The hint names the setting that wins: the option over LC_ALL over LC_TIME.
    EXPECT_TRUE(has(cli({"-n", "--date-locale", "de_DE", notes().native()}).err,
                    "in en_US: run with --date-locale en_US.\n"));
    {
        const ScopedEnvironment timeOnly{{"LC_ALL", ""}, {"LC_TIME", "de_DE.UTF-8"}};
        EXPECT_TRUE(has(cli({"-n", notes().native()}).err,
                        "in en_US: run with LC_TIME=en_US.UTF-8 (or, on the command line, with --date-locale "
                        "en_US).\n"));
    }
    result = cli({"-n", "--date-locale", "en_US.UTF-8", "--report", "-", notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    const json dry = json::parse(result.out);  // the report replaces the tree on stdout
    EXPECT_EQ(dry["dryRun"], true);
    EXPECT_TRUE(dry["destination"].is_null());
    EXPECT_EQ(dry["sheets"][0]["created"], "2024-01-05T15:04:00Z");
    EXPECT_EQ(dry["notices"].size(), 2u);
    EXPECT_TRUE(result.err.ends_with("Would convert 2 notes (0 pictures, 1 sub-folder). 2 warnings.\n"))
        << result.err;

    // --strict: exit 4 and nothing moved, the report still written.
    const fs::path strictOut = root() / "strict";
    result = cli({"--strict", "--report", report.native(), "-o", strictOut.native(), notes().native()});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(has(result.err, "nothing was moved: 4 warnings with --strict")) << result.err;
    EXPECT_TRUE(json::parse(readFile(report))["destination"].is_null());
    EXPECT_FALSE(fs::exists(strictOut));
    EXPECT_EQ(cli({"-n", "--strict", notes().native()}).status, 4);
    EXPECT_TRUE(leftInTemporaryArea().empty());

    // Usage errors: an unknown or empty locale, a report inside the export.
    for (const std::string locale : {"xx_NOWHERE", ""}) {
        result = cli({"--date-locale", locale, notes().native()});
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(has(result.err, "unknown date locale “" + locale + "”")) << result.err;
    }
    // A report inside the export, also through a dangling link, is refused; one whose folder is
    // missing fails at once: both before a note is read, so nothing is moved.
    fs::create_symlink(notes() / "new.json", root() / "link.json");
    for (const auto& [path, status] : {std::pair{notes() / "Work" / "r.json", 2},
                                       {root() / "link.json", 2},
                                       {root() / "nowhere" / "r.json", 1}}) {
        result = cli({"--report", path.native(), "-o", out.native(), notes().native()});
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(has(result.err, status == 2 ? "inside the export folder" : "nowhere”")) << result.err;
    }
    EXPECT_FALSE(fs::exists(notes() / "new.json"));

    // A run without notices prints what it always has, also with --strict: stdout only the moved
    // path, stderr the summary; pictures folders, at the top and in sub-folders, are neither
    // groups to report nor skipped files. A missing output folder is made with its parents.
    const fs::path plain = root() / "Plain";
    writeFile(plain / "Trip.txt", "Trip\nGo.\n\nPicture: beach.jpg\n");
    writeFile(plain / "Pictures" / "beach.jpg", "jpg");
    writeFile(plain / "Travel" / "Plan.txt", "Plan");
    writeFile(plain / "Travel" / "Pictures" / "map.png", "png");
    const fs::path plainOut = root() / "new" / "nested" / "out";
    result = cli({"--strict", "-o", plainOut.native(), plain.native()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, (plainOut / "Notara Export").native() + "\n");
    EXPECT_EQ(result.err, "Converted 2 notes (1 picture, 2 sub-folders) into “" +
                              (plainOut / "Notara Export").native() + "”.\n");
}

using HostileInput = ExportTest;

TEST_F(HostileInput, OddNotesAndNamesConvertWholeToSheetsEveryParserAccepts) {
    const std::string controls = "Ctl\x01\x02\nNUL\0in\x1F body\x7F\xEF\xBF\xBE\xEF\xBF\xBF end\x0B\x0C"s;
    writeFile(notes() / "Text" / "Controls.txt", controls);
    // Long tag lists and notes, written in many slices; keys inside sentences.
    std::string tags = "Tags: t0", joined = "t0";
    for (int i = 1; i < 8000; ++i) tags += ", t" + std::to_string(i), joined += ",t" + std::to_string(i);
    writeFile(notes() / "Text" / "ManyTags.txt", "Many\n\n" + tags + "\n");
    std::string big = "Big\n";
    for (int i = 0; big.size() < (64u << 10); ++i)
        big += "Line " + std::to_string(i) + " remember Tags: milk, a Picture: x.png & <b> \"q\"\n";
    writeFile(notes() / "Text" / "Big.txt", big + "\nTags: big\n");
    writeFile(notes() / "Text" / "Bom.txt", "\xEF\xBB\xBFHi\nthere");  // a byte order mark
    // Names that aren't UTF-8: "x\xFE" and "x\xFF" both read as "x\uFFFD", the later one is numbered.
    writeFile(notes() / "x\xFE.txt", "fe");
    writeFile(notes() / "x\xFF.txt", "ff");
    // Folders whose names differ only in case or composition stay apart; one isn't UTF-8, one is
    // named like a package: it keeps its name, and the note of that name is numbered.
    const Names groups = {"Caf\xC3\xA9", "Cafe\xCC\x81", "Work", "work", "dir\xC3", "n.inkvale"};
    for (std::size_t i = 0; i < 6; ++i) writeFile(notes() / groups[i] / "n.txt", std::to_string(i));
    writeFile(notes() / "n.txt", "top");
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
    EXPECT_EQ(text("Text/Bom.inkvale"), "# Hi\nthere");

    EXPECT_EQ(entriesOf(sheets),
              (Names{"Cafe\xCC\x81", "Caf\xC3\xA9", "Text", "Work", "dir\xC3", "n - 2.inkvale", "n.inkvale",
                     "work", "x\xEF\xBF\xBD - 2.inkvale", "x\xFE.inkvale"}));
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(text(groups[i] + "/n.inkvale"), std::to_string(i));
    EXPECT_EQ(text("n - 2.inkvale"), "top");
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
    EXPECT_EQ(lint.size(), 2u + 13);
    const auto linted = run(lint);
    EXPECT_EQ(linted.status, 0) << linted.err;
}

TEST_F(CommandLine, FileSizeLimitAndFullDiskFailTheRunNamingTheFileAndCleanUp) {
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
    // afterwards the container on it is listed on stderr, from inside. Containers
    // and chroots often refuse user namespaces: that is the machine, not a fault.
    if (const Outcome probe = run({"unshare", "-Urm", "true"}); probe.status != 0)
        GTEST_SKIP() << "a full disk needs a private mount, and unshare -Urm is refused here: " << probe.err;
    const fs::path mount = root() / "small";
    fs::create_directories(mount);
    const auto full = run(
        {"unshare", "-Urm", "sh", "-c",
         "mount -t tmpfs -o size=1m tmpfs \"$0\" || exit 77; TMPDIR=\"$0\" \"$1\" -o \"$2\" \"$3\"; "
         "status=$?; echo \"left: $(ls -A \"$0\"/net.notara2inkvale.converter-$(id -u))\" >&2; exit $status",
         mount.native(), kCli(), out.native(), notes().native()});
    expectFailure(full, "No space left on device.");
    EXPECT_TRUE(full.err.ends_with("left: \n")) << full.err;
}

}  // namespace
}  // namespace ni
