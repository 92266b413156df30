#include "HardeningSupport.hpp"

namespace ni {
namespace {

using test::runCli;
using test::writeFile;
namespace fs = std::filesystem;

class CommandLine : public test::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        notes = root() / "Notes";
        writeFile(notes / "Groceries.txt", "Groceries\nMilk\n\nTags: food\n");
        writeFile(notes / "Work" / "Plan.txt", "Plan\nSteps");
        fs::create_directory_symlink("Work", notes / "Linked");
        before = test::treeFingerprint(notes);
    }
    void TearDown() override {
        EXPECT_EQ(test::treeFingerprint(notes), before) << "the source folder was changed";
        ScratchTest::TearDown();
    }

    fs::path notes;
    std::vector<std::string> before;
};

TEST_F(CommandLine, StdoutHoldsOnlyTheMovedPathAndStderrTheSummary) {
    const fs::path out = root() / "new" / "nested" / "out";  // missing: made with its parents
    auto run = runCli({"-o", out.native(), notes.native()}, root());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, (out / "Notara Export").native() + "\n");
    EXPECT_EQ(run.err, "Converted 2 notes (0 pictures, 1 sub-folder) into “" +
                           (out / "Notara Export").native() + "”. Skipped 1 symbolic link.\n");
    EXPECT_TRUE(fs::is_regular_file(out / "Notara Export" / "Work" / "Plan.inkvale" / "Content.xml"));
    EXPECT_TRUE(test::entriesOf(test::temporaryContainer(tmp())).empty());

    // --quiet silences the summary, never the path; a second run can't replace the first.
    const fs::path other = root() / "other";
    run = runCli({"--quiet", "-o", other.native(), notes.native()}, root());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, (other / "Notara Export").native() + "\n");
    EXPECT_EQ(run.err, "");
    run = runCli({"-q", "-o", other.native(), notes.native()}, root());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("already exists"), std::string::npos) << run.err;
    EXPECT_TRUE(test::entriesOf(test::temporaryContainer(tmp())).empty());
}

TEST_F(CommandLine, DryRunWritesNothingAndExitsAsARealRunWould) {
    const fs::path out = root() / "out";
    auto run = runCli({"--dry-run", "-o", out.native(), notes.native()}, root());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Notara Export/\n    Work/\n        Plan.inkvale\n    Groceries.inkvale\n");
    EXPECT_EQ(run.err, "Would convert 2 notes (0 pictures, 1 sub-folder). Skipped 1 symbolic link.\n");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(test::entriesOf(tmp()).empty());

    const fs::path empty = root() / "Empty";
    writeFile(empty / "photo.png", "png");
    run = runCli({"-n", "-o", out.native(), empty.native()}, root());
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("No importable files were found in “Empty”"), std::string::npos) << run.err;
    EXPECT_EQ(runCli({"-o", out.native(), empty.native()}, root()).status, 3);

    const fs::path broken = root() / "Broken";
    writeFile(broken / "Bad.txt", "ok\n\xC3(");
    run = runCli({"-n", "-q", broken.native()}, root());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "notara2inkvale-cli: The file “" + (broken / "Bad.txt").native() +
                           "” couldn’t be read because it isn’t valid UTF-8 text (byte 3).\n");
    EXPECT_EQ(runCli({"-q", "-o", out.native(), broken.native()}, root()).err, run.err);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(test::entriesOf(test::temporaryContainer(tmp())).empty());
}

TEST_F(CommandLine, UsageAndMissingExportFolderErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"a", "b"}, {"--no-such-option", notes.native()}, {"-o"}}) {
        const auto run = runCli(args, root());
        EXPECT_EQ(run.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("--help"), std::string::npos);
    }
    const auto missing = runCli({"-o", (root() / "out").native(), (root() / "Nowhere").native()}, root());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("“" + (root() / "Nowhere").native() + "”"), std::string::npos) << missing.err;
    const auto plainFile = runCli({(notes / "Groceries.txt").native()}, root());
    EXPECT_EQ(plainFile.status, 1);
    EXPECT_NE(plainFile.err.find("isn’t a folder"), std::string::npos) << plainFile.err;
    EXPECT_FALSE(fs::exists(root() / "out"));
}

}  // namespace
}  // namespace ni
