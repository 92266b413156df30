// Warnings, the JSON report, --strict and --date-locale on the command line.

#include <nlohmann/json.hpp>

#include "TestSupport.hpp"

namespace ni {
namespace {

using namespace test;
using json = nlohmann::json;
using CommandLineNotices = ExportTest;

// The warning lines of stderr.
Names warnings(const std::string& err) {
    Names lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("notara2inkvale-cli: warning: ")) lines.push_back(line);
    return lines;
}

TEST_F(CommandLineNotices, EveryKindIsAWarningLineAndAReportEntryInWalkOrder) {
    const auto expected = writeExportWithEveryNotice(notes());
    freezeNotes();
    const fs::path out = root() / "out", report = root() / "report.json";
    // An en_US export read under de_DE: the dates fail and the hint names en_US.
    const ScopedEnvironment german{{"LC_ALL", "de_DE.UTF-8"}, {"LC_TIME", "de_DE.UTF-8"}, {"LANG", "de_DE.UTF-8"}};
    auto result = cli({"-q", "--report", report.native(), "-o", out.native(), notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, (out / "Notara Export").native() + "\n");
    const Names lines = warnings(result.err);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(std::count(result.err.begin(), result.err.end(), '\n')))
        << "--quiet keeps the warnings alone";
    ASSERT_EQ(lines.size(), expected.size()) << result.err;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string prefix =
            "notara2inkvale-cli: warning: " + (expected[i].path.empty() ? "" : "“" + expected[i].path + "”: ");
        EXPECT_TRUE(lines[i].starts_with(prefix) && has(lines[i], expected[i].words)) << lines[i];
    }

    // The report holds the documented fields, the sheets and the same notices.
    const json doc = json::parse(readFile(report));
    EXPECT_EQ(doc["version"], 1);
    EXPECT_EQ(doc["source"], notes().native());
    EXPECT_EQ(doc["destination"], (out / "Notara Export").native());
    EXPECT_EQ(doc["dryRun"], false);
    EXPECT_EQ(doc["dateLocale"], "de_DE");
    EXPECT_EQ(doc["counts"], json::parse(R"({"notes": 10, "pictures": 1, "subFolders": 2, "skippedLinks": 2,
                                              "notices": 18})"));
    ASSERT_EQ(doc["sheets"].size(), 10u);
    for (const json& sheet : doc["sheets"]) {
        EXPECT_EQ(sheet.size(), 6u) << sheet;
        EXPECT_TRUE(sheet["note"].is_string() && sheet["package"].is_string() && sheet["tags"].is_number() &&
                    (sheet["picture"].is_string() || sheet["picture"].is_null()));
        EXPECT_TRUE(sheet["created"].is_null() && sheet["modified"].is_null()) << "no date reads in de_DE";
        EXPECT_TRUE(fs::is_directory(out / "Notara Export" / sheet["package"].get<std::string>())) << sheet;
    }
    ASSERT_EQ(doc["notices"].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(doc["notices"][i]["kind"], expected[i].kind);
        EXPECT_EQ(doc["notices"][i]["path"], expected[i].path);
        EXPECT_TRUE(lines[i].ends_with(doc["notices"][i]["message"].get<std::string>()));
    }

    // A dry run tells the same; --date-locale reads the dates and takes their notices away.
    // (The media name holds a new identifier each run.)
    const auto withoutMedia = [](Names some) {
        std::erase_if(some, [](const std::string& line) { return has(line, "→ “Media/"); });
        return some;
    };
    EXPECT_EQ(withoutMedia(warnings(cli({"-n", notes().native()}).err)), withoutMedia(lines));
    result = cli({"-n", "--date-locale", "en_US.UTF-8", "--report", "-", notes().native()});
    EXPECT_EQ(result.status, 0) << result.err;
    const json dry = json::parse(result.out);  // the report replaces the tree on stdout
    EXPECT_EQ(dry["dryRun"], true);
    EXPECT_TRUE(dry["destination"].is_null());
    EXPECT_EQ(dry["counts"]["notices"], 15);
    EXPECT_EQ(warnings(result.err).size(), 15u);
    EXPECT_TRUE(has(result.err, "Would convert 10 notes (1 picture, 2 sub-folders). Skipped 2 symbolic links. "
                                "15 warnings.\n"))
        << result.err;
    EXPECT_FALSE(dry["sheets"][6]["modified"].is_null()) << dry["sheets"][6];

    // --strict: exit 4 and nothing moved, the report still written.
    const fs::path strictOut = root() / "strict";
    result = cli({"--strict", "--report", report.native(), "-o", strictOut.native(), notes().native()});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(has(result.err, "nothing was moved: 18 warnings with --strict")) << result.err;
    EXPECT_TRUE(json::parse(readFile(report))["destination"].is_null());
    EXPECT_FALSE(fs::exists(strictOut / "Notara Export"));
    EXPECT_EQ(cli({"-n", "--strict", notes().native()}).status, 4);
    EXPECT_TRUE(leftInTemporaryArea().empty());

    // Usage errors: an unknown locale, a report inside the export.
    EXPECT_EQ(cli({"--date-locale", "xx_NOWHERE", notes().native()}).status, 2);
    result = cli({"--report", (notes() / "Pictures" / "r.json").native(), notes().native()});
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(has(result.err, "inside the export folder")) << result.err;
}

TEST_F(CommandLineNotices, ARunWithoutNoticesPrintsWhatItAlwaysHas) {
    writeFile(notes() / "Trip.txt", "Trip\nGo.\n\nPicture: beach.jpg\n");
    writeFile(notes() / "Pictures" / "beach.jpg", "jpg");
    freezeNotes();
    const fs::path out = root() / "out";
    const auto result = cli({"--strict", "-o", out.native(), notes().native()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, (out / "Notara Export").native() + "\n");
    EXPECT_EQ(result.err, "Converted 1 note (1 picture, 1 sub-folder) into “" + (out / "Notara Export").native() +
                              "”.\n");
}

}  // namespace
}  // namespace ni
