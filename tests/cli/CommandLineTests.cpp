// The command-line converter's contract: what goes to which stream, exit
// statuses, and that failures and dry runs write nothing.

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

TEST_F(CommandLine, DryRunAndFailuresWriteNothingAndExitWithTheirStatus) {
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
    EXPECT_TRUE(leftInTemporaryArea().empty());
}

}  // namespace
}  // namespace ni
