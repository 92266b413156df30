#pragma once

// Shared helpers for the test suites: a scratch folder per test, with TMPDIR
// pointing into it, and small file helpers.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "NIConfig.hpp"
#include "conversion/UserInterface.hpp"
#include "platform/Error.hpp"

namespace ni::test {

namespace fs = std::filesystem;

// Removes a scratch tree, also where a test left folders without permissions behind.
inline void removeTree(const fs::path& root) {
    std::error_code ec;
    ::chmod(root.c_str(), 0755);
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
    }
    fs::remove_all(root, ec);
}

// Makes a fresh folder for one test under the build tree and points TMPDIR at
// a "tmp" folder inside it; restores TMPDIR and removes everything afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ =
            fs::path(NI_TEST_SCRATCH_DIR) / (std::string(info->test_suite_name()) + "." + info->name() + "." +
                                             std::to_string(::getpid()) + "." + std::to_string(counter++));
        removeTree(root_);  // a crashed earlier run's, under the same name
        fs::create_directories(root_ / "tmp");
        if (const char* old = std::getenv("TMPDIR")) oldTmpdir_ = old;
        ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    }
    void TearDown() override {
        oldTmpdir_ ? ::setenv("TMPDIR", oldTmpdir_->c_str(), 1) : ::unsetenv("TMPDIR");
        removeTree(root_);
    }

    const fs::path& root() const { return root_; }
    fs::path tmp() const { return root_ / "tmp"; }
    // The runs' unique folders left in our container of the temporary area.
    fs::path temporaryContainer() const { return tmp() / config::kAppId; }
    std::vector<std::string> leftInTemporaryArea() const;

private:
    fs::path root_;
    std::optional<std::string> oldTmpdir_;
};

inline void writeFile(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            ::setenv(name, value, 1);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

inline bool runningAsRoot() { return ::geteuid() == 0; }

// The user an unprivileged child runs as when the tests run as root: "nobody".
inline constexpr uid_t kUnprivilegedUser = 65534;

// Runs probe in a child process without root's privileges (as "nobody" when
// the tests run as root, so permission checks apply) and returns its exit
// status; 255 when privileges couldn't be dropped.
inline int runUnprivileged(const std::function<int()>& probe) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedUser) != 0 ||
                                 ::setuid(kUnprivilegedUser) != 0))
            ::_exit(255);
        ::_exit(probe());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
}

using Names = std::vector<std::string>;

// The command-line converter in the build tree.
inline std::string kCli() { return NI_BIN_DIR "/notara2inkvale-cli"; }

// How a child process ended, with what it wrote.
struct Outcome {
    int status = -1;  // the exit status; 128 + the signal when killed
    std::string out, err;
};

inline std::string quoted(const std::string& arg) {
    std::string text = "'";
    for (const char c : arg) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

// argv run in a private user and mount namespace, as root there: where a test
// may mount a small file system of its own without being root outside.
inline Names inPrivateNamespace(Names argv) {
    argv.insert(argv.begin(), {"unshare", "--user", "--map-root-user", "--mount"});
    return argv;
}

inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The names in folder, sorted; none when it is missing.
inline Names entriesOf(const fs::path& folder) {
    Names names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

inline Names ScratchTest::leftInTemporaryArea() const { return entriesOf(temporaryContainer()); }

// A scratch folder an unprivileged child can reach, for the tests that run one.
// It is made in the system's temporary folder, not under the build tree or
// TMPDIR: those may sit in a home folder of mode 0700, which "nobody" can't
// pass through. When the tests run as root it belongs to "nobody", as a
// user's own folder would. While it lives, TMPDIR points at its "tmp" folder
// and NI_RESOURCE_DIR at a copy of the bundled resources inside it.
class SharedScratch {
public:
    SharedScratch() {
        char pattern[] = "/tmp/ni-test.XXXXXX";
        if (::mkdtemp(pattern) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        path_ = pattern;
        fs::create_directories(tmp());
        for (const fs::path& each : {path_, tmp()}) {
            ::chmod(each.c_str(), 0755);
            if (runningAsRoot() && ::chown(each.c_str(), kUnprivilegedUser, kUnprivilegedUser) != 0)
                ADD_FAILURE() << "chown " << each;
        }
        std::error_code ec;
        fs::copy(fs::path(NI_BIN_DIR) / "resources", resources(), fs::copy_options::recursive, ec);
        environment_.emplace(std::initializer_list<std::pair<const char*, const char*>>{
            {"TMPDIR", tmp().c_str()}, {"NI_RESOURCE_DIR", resources().c_str()}});
    }
    ~SharedScratch() {
        environment_.reset();
        removeTree(path_);
    }
    const fs::path& path() const { return path_; }
    fs::path tmp() const { return path_ / "tmp"; }
    fs::path resources() const { return path_ / "resources"; }
    Names leftInTemporaryArea() const { return entriesOf(tmp() / config::kAppId); }

    // Whether an unprivileged child can work here: write in the folder and its
    // tmp, read the resources. Check it before judging what the product did in
    // such a child: one that can't get to its files fails for the test's
    // reasons, not the product's.
    ::testing::AssertionResult reachedUnprivileged() const {
        const fs::path sheet = resources() / "Sheet Template.inkvale" / "Content.xml";
        const int status = runUnprivileged([&] {
            const int all = R_OK | W_OK | X_OK;
            return int(::access(path_.c_str(), all) || ::access(tmp().c_str(), all) ||
                       ::access(sheet.c_str(), R_OK));
        });
        if (status == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << (status == 255 ? "couldn't drop root's privileges"
                                 : "an unprivileged child can't work in " + path_.native());
    }

private:
    fs::path path_;
    std::optional<ScopedEnvironment> environment_;
};

// A scratch test that runs programs and checks what a run leaves behind.
class ProcessTest : public ScratchTest {
protected:
    // Runs argv[0] (looked up in PATH) with stdout and stderr caught in files, and waits for it.
    Outcome run(const Names& argv) const {
        static int counter = 0;
        const std::string base = (root() / ("run" + std::to_string(++counter))).native();
        std::string command = "exec";
        for (const std::string& arg : argv) command += " " + quoted(arg);
        const int status = std::system(
            (command + " </dev/null >" + quoted(base + ".out") + " 2>" + quoted(base + ".err")).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(base + ".out"),
                readFile(base + ".err")};
    }
    // The command-line converter with args.
    Outcome cli(Names args) const {
        args.insert(args.begin(), kCli());
        return run(args);
    }
    // Each item below folder with its mode, modification time and link target, and a
    // checksum of each file. Equal: nothing in the tree was written, added or removed.
    std::string fingerprint(const fs::path& folder) const {
        const Outcome listing = run({"sh", "-c",
                                     "cd \"$0\" && find . -printf '%p %M %T@ %l\\n' | sort && "
                                     "find . -type f -exec md5sum {} + | sort",
                                     folder.native()});
        EXPECT_EQ(listing.status, 0) << listing.err;
        return listing.out;
    }
};

// An export under notes() that must come out of every test unchanged: call
// freezeNotes() once it is written.
class ExportTest : public ProcessTest {
protected:
    void TearDown() override {
        EXPECT_EQ(before ? fingerprint(notes()) : "", before.value_or("")) << "the source changed";
        ProcessTest::TearDown();
    }
    fs::path notes() const { return root() / "Notes"; }
    void freezeNotes() { before = fingerprint(notes()); }

    std::optional<std::string> before;
};

// A small export: a note with a picture, a sub-folder and a link to it.
class SmallExport : public ExportTest {
protected:
    void SetUp() override {
        ExportTest::SetUp();
        writeFile(notes() / "Note.txt", "Note\nbody\n\nPicture: photo.png\n");
        writeFile(notes() / "Pictures" / "photo.png", "png bytes");
        writeFile(notes() / "Work" / "Plan.txt", "Plan\nsteps");
        fs::create_directory_symlink("Work", notes() / "Linked");
        freezeNotes();
    }
};

// One expected notice: its kind's report name, its path and words of its message.
struct ExpectedNotice {
    std::string kind, path, words;
};

// Writes at notes an export that gives a notice of every kind; returns them in
// the order of the walk, for dates read in de_DE (the notes' dates are en_US).
inline std::vector<ExpectedNotice> writeExportWithEveryNotice(const fs::path& notes) {
    const std::string longStem(251, 'x'), longPicture(246, 'p');
    writeFile(notes / "Control.txt", "Control\nA\x01" "B\x02" "C\n");
    writeFile(notes / "Empty picture.txt", "Empty\n\nPicture: \n");
    writeFile(notes / "Folder picture.txt", "Folder\n\nPicture: album\n");
    writeFile(notes / "Link picture.txt", "Link\n\nPicture: link.jpg\n");
    writeFile(notes / "Long picture.txt", "Long\n\nPicture: " + longPicture + ".jpg\n");
    writeFile(notes / "Outside.txt", "Outside\n\nPicture: ../Top.txt\n");
    writeFile(notes / "Pictures" / (longPicture + ".jpg"), "jpg");
    fs::create_directories(notes / "Pictures" / "album");
    fs::create_symlink(longPicture + ".jpg", notes / "Pictures" / "link.jpg");
    writeFile(notes / "Recipes" / "Deeper" / "Too deep.txt", "Deep");
    writeFile(notes / "Recipes" / "Deeper" / "Even" / "deeper.md", "Deeper");
    writeFile(notes / "Recipes" / "prices.csv", "a,b");
    writeFile(notes / "Top.txt", "Top\nbody\n\nPicture: gone.jpg\nCreated: Jan 5, 2024, 3:04 PM\n"
                                 "Modified: Jan 6, 2024, 10:00 AM\n");
    writeFile(notes / "a.md", "a");
    writeFile(notes / "a.txt", "a");
    writeFile(notes / "photo.png", "png");
    writeFile(notes / "table.csv", "1,2");
    writeFile(notes / (longStem + ".txt"), "long");
    writeFile(notes / ".hidden.png", "hidden entries stay unmentioned");
    fs::create_directory_symlink("Recipes", notes / "Linked");
    return {
        {"characters-left-out", "Control.txt", "Left 2 characters out of Content.xml"},
        {"picture", "Empty picture.txt", "The Picture line names no file"},
        {"picture", "Folder picture.txt", "“album” in “Pictures” isn’t a regular file"},
        {"picture", "Link picture.txt", "“link.jpg” is reached through a symbolic link"},
        {"renamed", "Long picture.txt", "Renamed the picture “" + longPicture + ".jpg” → “Media/"},
        {"picture", "Outside.txt", "“../Top.txt” points outside “Pictures”"},
        {"skipped-links", "Pictures", "Skipped 1 symbolic link in this folder"},
        {"too-deep", "Recipes/Deeper", "this folder holds 2 notes"},
        {"skipped-files", "Recipes", "Skipped 1 CSV file in this folder"},
        {"picture", "Top.txt", "“gone.jpg” isn’t in “Pictures”"},
        {"date", "Top.txt", "Created “Jan 5, 2024, 3:04 PM” isn’t a date in de_DE"},
        {"date", "Top.txt", "the package is dated now"},
        {"renamed", "a.txt", "Renamed “a.inkvale” → “a - 2.inkvale”"},
        {"renamed", longStem + ".txt", "the name is longer than a file name can be"},
        {"skipped-files", "", "Skipped 1 picture and 1 CSV file at the top level"},
        {"skipped-links", "", "Skipped 1 symbolic link at the top level"},
        {"empty-sub-folders", "", "The sub-folder “Recipes” holds no notes"},
        {"date-locale", "", "The 2 dates above that aren’t dates in de_DE all read as dates in en_US: run with LC_TIME=en_US.UTF-8"},
    };
}

// A front end that records what the controller and the conversion asked of it.
class RecordingUserInterface : public ni::UserInterface {
public:
    std::vector<std::string> statusTexts;
    std::vector<ni::Alert> alerts;
    std::vector<ni::Error> errors;
    std::vector<std::filesystem::path> revealed;
    std::vector<ni::PanelPresentation> panels;
    std::vector<bool> pendingChanges;
    std::size_t progressCalls = 0;
    // What the next folder panel answers; nothing means cancel.
    std::optional<std::filesystem::path> panelAnswer;

    bool hasWindow() const override { return true; }
    void setStatusText(const std::string& text) override { statusTexts.push_back(text); }
    int runAlert(const ni::Alert& alert) override { return alerts.push_back(alert), 0; }
    void presentError(const ni::Error& error) override { errors.push_back(error); }
    void chooseFolder(ni::PanelPresentation presentation,
                      std::function<void(std::optional<std::filesystem::path>)> completion) override {
        panels.push_back(presentation);
        completion(panelAnswer);
    }
    void revealInFileViewer(const std::filesystem::path& url) override { revealed.push_back(url); }
    void pendingExportChanged(bool pending) override { pendingChanges.push_back(pending); }
    void conversionProgress(ni::ConversionPhase, std::size_t, std::size_t) override { ++progressCalls; }
};

}  // namespace ni::test
