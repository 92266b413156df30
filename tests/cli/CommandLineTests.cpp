// The command-line converter's contract where a run needs more than files to set
// up: exit statuses of failures and refused destinations, failed writes, names
// that aren't UTF-8 and file-system faults, run against the real converter. What
// a run prints and writes for an export is pinned by the golden cases (GoldenTests.cpp).

#include <sys/resource.h>

#include "TestSupport.hpp"

namespace ni {
namespace {

using namespace test;
using CommandLine = SmallExport;

TEST_F(CommandLine, DryRunAndFailuresWriteNothingExitWithTheirStatusAndCheckTheOutputFirst) {
    const fs::path out = root() / "out";
    auto result = cli({"--dry-run", "-o", out.native(), notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(entriesOf(tmp()).empty());  // not even the temporary container
    // A missing export folder or one that is a file, a note too large, a report whose folder is
    // missing: 1; usage errors, a report inside the export (also through a dangling link): 2. Each
    // the same in a dry run as in a real one, with nothing on stdout. Nothing to convert and a
    // note that isn't UTF-8 are golden cases.
    const std::string broken = root() / "Broken", nowhere = root() / "Nowhere";
    fs::create_directory_symlink(notes() / "Work", root() / "via");  // "via/.." is the export
    fs::create_symlink(notes() / "new.json", root() / "link.json");
    const std::string huge = root() / "Huge";
    writeFile(fs::path(huge) / "huge.log", "");
    fs::resize_file(fs::path(huge) / "huge.log", std::uintmax_t{1} << 40);
    writeFile(root() / "Broken" / "Bad.txt", "ok\n\xC3(");
    const std::tuple<Names, int, std::string> failures[] = {
        {{"-o", out, nowhere}, 1, "“" + nowhere + "”"},
        // Too large to be a note: named with its size before a byte is read.
        {{"-n", huge}, 1, "huge.log” couldn’t be read because it is 1.0 TiB; a note can be at most 256 MiB."},
        // Nothing is ever written inside the export, however the folder is named.
        {{"-o", notes(), notes()}, 2, "lies inside the export folder"},
        {{"-n", "-o", notes() / "out", notes()}, 2, "lies inside the export folder"},
        {{"-o", root() / "via" / "..", notes()}, 2, "lies inside the export folder"},
        {{"-n", notes() / "Note.txt"}, 1, "Note.txt”"},
        {{"--report", notes() / "Work" / "r.json", "-o", out, notes()}, 2, "inside the export folder"},
        {{"--report", root() / "link.json", "-o", out, notes()}, 2, "inside the export folder"},
        {{"--report", root() / "nowhere" / "r.json", "-o", out, notes()}, 1, "nowhere”"},
        {{}, 2, "--help"},
        {{"a", "b"}, 2, "--help"},
        {{"--no-such-option", notes()}, 2, "--help"},
        {{"-o"}, 2, "--help"},
    };
    for (const auto& [args, status, words] : failures) {
        result = cli(args);
        EXPECT_EQ(result.status, status) << testing::PrintToString(args);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(has(result.err, words)) << result.err;
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

using HostileInput = ExportTest;

TEST_F(HostileInput, NamesThatArentUTF8ConvertAndAreNamedWithTheirBytesEscaped) {
    // "x\xFE" and "x\xFF" both read as "x\uFFFD": the later one is numbered; a folder keeps its name.
    writeFile(notes() / "x\xFE.txt", "fe");
    writeFile(notes() / "x\xFF.txt", "ff");
    writeFile(notes() / "dir\xC3" / "n.txt", "in dir");
    freezeNotes();
    auto result = cli({"-o", (root() / "out").native(), notes().native()});
    ASSERT_EQ(result.status, 0) << result.err;
    const fs::path sheets = root() / "out" / "Notara Export";
    EXPECT_EQ(entriesOf(sheets), (Names{"dir\xC3", "x\xEF\xBF\xBD - 2.inkvale", "x\xFE.inkvale"}));
    EXPECT_EQ(readFile(sheets / "dir\xC3" / "n.inkvale" / "Text.txt"), "in dir");
    EXPECT_EQ(readFile(sheets / "x\xEF\xBF\xBD - 2.inkvale" / "Text.txt"), "ff");

    // An error about a file with such a name names it with the bad bytes escaped.
    writeFile(root() / "Bad\xC3" / "worse\xFF.txt", "\xFF");
    result = cli({"-n", (root() / "Bad\xC3").native()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(has(result.err,
                    "Bad\\xC3/worse\\xFF.txt” couldn’t be read because it isn’t valid UTF-8 text (byte 0)"))
        << result.err;
    EXPECT_FALSE(has(result.err, "\xFF"));
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

// A real FAT disk: a vfat image mounted in a private mount namespace, found by statfs, gets
// names it takes without --portable-names. Loop mounts are refused in most containers and user
// namespaces, and some kernels lack vfat: that is the machine, and the test is skipped.
TEST_F(CommandLine, AFATDiskGetsNamesItTakes) {
    const fs::path image = root() / "fat.img", mount = root() / "stick";
    fs::create_directories(mount);
    if (const Outcome made = run({"mkfs.vfat", "-C", image.native(), "8192"}); made.status != 0)
        GTEST_SKIP() << "mkfs.vfat (dosfstools) couldn't make an image: " << made.err;
    const auto unshare = runningAsRoot() ? Names{"unshare", "-m"} : Names{"unshare", "-Urm"};
    Names probe = unshare;
    probe.push_back("true");
    if (const Outcome refused = run(probe); refused.status != 0)
        GTEST_SKIP() << "a vfat image needs a private mount, and unshare is refused here: " << refused.err;
    Names command = unshare;
    command.insert(command.end(), {"sh", "-c",
                                   "mount -o loop \"$0\" \"$1\" || exit 77; \"$2\" -q -o \"$1\" \"$3\"; "
                                   "status=$?; cd \"$1\" && find . | sort; exit $status",
                                   image.native(), mount.native(), kCli(),
                                   NI_TEST_DATA_DIR "/golden/portable_names/export"});
    const Outcome result = run(command);
    if (result.status == 77) GTEST_SKIP() << "a vfat image can't be mounted here: " << result.err;
    EXPECT_EQ(result.status, 0) << result.err;
    for (const char* name :
         {"./Notara Export/work - 2/n.inkvale", "./Notara Export/What- a- -note.inkvale/Media/ph-oto."})
        EXPECT_TRUE(has(result.out, name)) << result.out;
}

}  // namespace
}  // namespace ni
