// End-to-end cases kept as data: each folder in tests/data/golden holds an export,
// the converter's arguments and what the run must print and write (its README.md
// describes the files). NI_UPDATE_GOLDEN=1 rewrites the expectations instead.

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include "TestSupport.hpp"

namespace ni {
namespace {

using namespace test;

const fs::path kCases = NI_TEST_DATA_DIR "/golden";

Names caseNames() {
    Names names = entriesOf(kCases);
    std::erase_if(names, [](const std::string& name) { return !fs::is_directory(kCases / name); });
    return names;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Control characters but the line end, and the backslash, as \xNN: the expectations stay readable text.
std::string visible(std::string_view bytes) {
    std::string text;
    for (const unsigned char c : bytes) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        text += (c < 0x20 && c != '\n') || c == 0x7F || c == '\\' ? escaped : std::string(1, char(c));
    }
    return text;
}

class GoldenCase : public ScratchTest, public testing::WithParamInterface<std::string> {
protected:
    // The words that stand for scratch paths, a path before the folders that hold it.
    std::vector<std::pair<std::string, std::string>> placeholders() const {
        return {{"@EXPORT@", input_},
                {"@OUT@", root() / "out"},
                {"@REPORT@", root() / "report.json"},
                {"@SCRATCH@", root()}};
    }
    // Output with scratch paths as words and each random picture identifier as @IDn@,
    // numbered in the order first seen: the same identifier, the same number.
    std::string masked(std::string_view output) {
        std::string text = visible(output), result;
        for (const auto& [word, path] : placeholders()) text = replaced(text, path, word);
        static const std::regex id("[0-9a-f]{32}");
        for (std::smatch match; std::regex_search(text, match, id); text = match.suffix()) {
            const std::size_t number = ids_.try_emplace(match.str(), ids_.size() + 1).first->second;
            result += match.prefix().str() + "@ID" + std::to_string(number) + "@";
        }
        return result + text;
    }

    // Every item below folder in byte order: folders end in "/", a link shows its target,
    // Text.txt and Content.xml their lines after "  |", other files their size and checksum.
    std::string treeOf(const fs::path& folder) {
        Names paths;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(folder, ec), end; it != end; it.increment(ec))
            paths.push_back(it->path().lexically_relative(folder));
        std::sort(paths.begin(), paths.end());
        std::string tree;
        for (const std::string& path : paths) {
            const fs::path item = folder / path;
            tree += masked(path);
            if (fs::is_symlink(fs::symlink_status(item))) {
                tree += " -> " + fs::read_symlink(item, ec).native() + "\n";
            } else if (fs::is_directory(fs::symlink_status(item))) {
                tree += "/\n";
            } else if (item.filename() == "Text.txt" || item.filename() == "Content.xml") {
                std::istringstream lines(masked(readFile(item)) + "\n");
                tree += "\n";
                for (std::string line; std::getline(lines, line);) tree += "  |" + line + "\n";
                if (item.filename() == "Content.xml") xmlFiles_.push_back(item);
            } else {
                const std::string sum = run({"md5sum", item.native()}).out.substr(0, 32);
                tree += "  (" + std::to_string(fs::file_size(item, ec)) + " bytes, md5 " + sum + ")\n";
            }
        }
        return tree;
    }

    Names xmlFiles_ = {"xmllint", "--noout"};  // each Content.xml written, for a parser of its own
    fs::path input_;                           // what @EXPORT@ names: the export folder or the zip

private:
    std::map<std::string, std::size_t> ids_;
};

TEST_P(GoldenCase, Matches) {
    const fs::path expected = kCases / GetParam(), exported = root() / "export";
    // A zip sits alone in the folder, so that the check below also sees anything written beside it.
    const bool zipped = fs::exists(expected / "export.zip");
    input_ = zipped ? exported / "export.zip" : exported;
    if (zipped) fs::create_directory(exported);
    fs::copy(fs::canonical(expected / input_.filename()), input_,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string before = fingerprint(exported);
    // Lines "env NAME=VALUE" set the environment; every other line is one argument.
    Names args{kCli()}, environment{"LC_ALL=en_US.UTF-8", "TZ=UTC"};
    std::istringstream lines(readFile(expected / "args"));
    for (std::string line; std::getline(lines, line);) {
        for (const auto& [word, path] : placeholders()) line = replaced(line, word, path);
        const bool setting = line.starts_with("env ");
        (setting ? environment : args).push_back(line.substr(setting ? 4 : 0));
    }
    const Outcome outcome = run(args, [&] {
        for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
    });
    EXPECT_EQ(fingerprint(exported), before) << "the export changed";
    EXPECT_TRUE(leftInTemporaryArea().empty());

    std::vector<std::pair<std::string, std::string>> actual = {
        {"status", std::to_string(outcome.status) + "\n"},
        {"stdout", masked(outcome.out)},
        {"stderr", masked(outcome.err)},
        {"tree", treeOf(root() / "out")},
    };
    if (has(readFile(expected / "args"), "@REPORT@"))
        actual.emplace_back("report.json", masked(readFile(root() / "report.json")));
    const Outcome linted = run(xmlFiles_.size() > 2 ? xmlFiles_ : Names{"true"});
    EXPECT_EQ(linted.status, 0) << linted.err;
    const char* update = std::getenv("NI_UPDATE_GOLDEN");
    for (const auto& [name, text] : actual) {
        if (update && update == std::string_view("1")) {
            writeFile(expected / name, text);
        } else if (readFile(expected / name) != text) {
            writeFile(root() / "actual" / name, text);
            ADD_FAILURE() << name << " differs (NI_UPDATE_GOLDEN=1 takes what the converter does now):\n"
                          << run({"diff", "-uN", expected / name, root() / "actual" / name}).out;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenCase, testing::ValuesIn(caseNames()),
                         [](const testing::TestParamInfo<std::string>& param) { return param.param; });

}  // namespace
}  // namespace ni
