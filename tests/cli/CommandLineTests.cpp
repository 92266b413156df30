// The command-line converter's contract: what goes to which stream, exit
// statuses, and that failures and dry runs write nothing.

#include <fcntl.h>
#include <signal.h>

#include "TestSupport.hpp"

namespace ni {
namespace {

using namespace test;
using CommandLine = SmallExport;

TEST_F(CommandLine, StdoutHoldsOnlyTheMovedPathAndStderrTheSummary) {
    const fs::path out = root() / "new" / "nested" / "out";  // missing: made with its parents
    auto result = cli({"-o", out.native(), notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, (out / "Notara Export").native() + "\n");
    EXPECT_EQ(result.err, "notara2inkvale-cli: warning: Skipped 1 symbolic link at the top level: links are never "
                          "followed out of the export.\nConverted 2 notes (1 picture, 2 sub-folders) into “" +
                              (out / "Notara Export").native() + "”. Skipped 1 symbolic link. 1 warning.\n");
    EXPECT_TRUE(fs::is_regular_file(out / "Notara Export" / "Work" / "Plan.inkvale" / "Content.xml"));
    // --quiet silences the summary, never the path; a second run can't replace the first.
    const fs::path other = root() / "other";
    result = cli({"--quiet", "-o", other.native(), notes().native()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, (other / "Notara Export").native() + "\n");
    EXPECT_TRUE(result.err.starts_with("notara2inkvale-cli: warning: ")) << result.err;
    result = cli({"-q", "-o", other.native(), notes().native()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(has(result.err, "already exists")) << result.err;
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

TEST_F(CommandLine, DryRunAndFailuresWriteNothingExitWithTheirStatusAndCheckTheOutputFirst) {
    const fs::path out = root() / "out";
    auto result = cli({"--dry-run", "-o", out.native(), notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(
        result.out.starts_with("Notara Export/\n    Pictures/\n    Work/\n        Plan.inkvale\n    "
                               "Note.inkvale\n        Media/photo."))
        << result.out;
    EXPECT_TRUE(result.err.ends_with("Would convert 2 notes (1 picture, 2 sub-folders). Skipped 1 symbolic link. "
                                     "1 warning.\n"))
        << result.err;
    EXPECT_TRUE(entriesOf(tmp()).empty());
    // Nothing to convert: 3, as in a real run.
    writeFile(root() / "Empty" / "photo.png", "png");
    result = cli({"-n", "-o", out.native(), (root() / "Empty").native()});
    EXPECT_EQ(result.status, 3);
    EXPECT_TRUE(has(result.err, "No importable files were found in “Empty”")) << result.err;
    EXPECT_EQ(cli({"-o", out.native(), (root() / "Empty").native()}).status, 3);
    // A note that can't be read: 1, with the same message as a real run.
    const fs::path broken = root() / "Broken";
    writeFile(broken / "Bad.txt", "ok\n\xC3(");
    result = cli({"-n", "-q", broken.native()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "notara2inkvale-cli: The file “" + (broken / "Bad.txt").native() +
                              "” couldn’t be read because it isn’t valid UTF-8 text (byte 3).\n");
    EXPECT_EQ(cli({"-q", "-o", out.native(), broken.native()}).err, result.err);
    // A missing export folder or one that is a file: 1; usage errors: 2.
    result = cli({"-o", out.native(), (root() / "Nowhere").native()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(has(result.err, "“" + (root() / "Nowhere").native() + "”")) << result.err;
    EXPECT_EQ(cli({(notes() / "Note.txt").native()}).status, 1);
    for (const Names& args :
         std::vector<Names>{{}, {"a", "b"}, {"--no-such-option", notes().native()}, {"-o"}}) {
        result = cli(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(has(result.err, "--help"));
    }
    EXPECT_FALSE(fs::exists(out));

    // An output folder that can't take the export fails before any note is read: every
    // note is unreadable, so an error about a note means the notes were read first.
    writeFile(root() / "file", "a file");
    writeFile(root() / "full" / "Notara Export" / "mine.txt", "keep");
    fs::create_directories(root() / "locked");
    ::chmod((root() / "locked").c_str(), 0555);
    ::chmod(tmp().c_str(), 0777);  // the unprivileged runs' temporary area
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
            Names args{kCli(), mode, "-o", output.native(), broken.native()};
            // Root may write anywhere: the read-only folder is tried as nobody.
            if (runningAsRoot() && output.native().find("locked") != std::string::npos)
                args.insert(args.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
            result = run(args);
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
    const fs::path out = root() / "out";
    for (const Names& args : std::vector<Names>{
             {"-o", out.native(), notes().native()}, {"-n", notes().native()}, {"--help"}, {"--version"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        std::string command = quoted(kCli());
        for (const std::string& arg : args) command += " " + quoted(arg);
        // A full disk, and a closed standard output.
        for (const char* redirect : {" >/dev/full", " >&-"}) {
            const Outcome result = run({"sh", "-c", command + redirect});
            EXPECT_EQ(result.status, 1);
            EXPECT_TRUE(has(result.err, "notara2inkvale-cli: write error on standard output")) << result.err;
            fs::remove_all(out);
        }
    }
    // A pipe whose reader is gone, with SIGPIPE at its default.
    const std::string program = kCli(), errors = (root() / "pipe.err").native();
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(pipeFds[1], 1);
        ::dup2(::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        ::execl(program.c_str(), program.c_str(), "--version", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_TRUE(has(readFile(errors), "write error on standard output: Broken pipe")) << readFile(errors);
}

TEST_F(CommandLine, NamesWhoseCaseMappingDependsOnContextStayApart) {
    // Each pair differs only in extension; Σ lower-cases to ς at a word's end, İ to
    // i and a combining dot, ß upper-cases to SS and ﬁ folds to fi.
    const fs::path names = root() / "Names";
    for (const char* stem : {"ΟΔΟΣ", "ΟΔΟΣ ΟΔΟΣ", "İSTANBUL", "Straße", "STRASSE", "ﬁle", "FILE"}) {
        writeFile(names / (std::string(stem) + ".txt"), "a\n");
        writeFile(names / (std::string(stem) + ".md"), "b\n");
    }
    const Outcome dry = cli({"-n", "-q", names.native()});
    const Outcome real = cli({"-q", "-o", (root() / "out").native(), names.native()});
    ASSERT_EQ(real.status, 0) << real.err;
    Names listed, written = entriesOf(root() / "out" / "Notara Export");
    std::istringstream lines(dry.out);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("    ")) listed.push_back(line.substr(4));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(written.size(), 14u);
    EXPECT_EQ(listed, written);
}

}  // namespace
}  // namespace ni
