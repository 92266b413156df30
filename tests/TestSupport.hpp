#pragma once

// Shared helpers for the test suites: a scratch folder per test, with TMPDIR
// pointing into it, small file helpers and child processes.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "NIConfig.hpp"
#include "platform/Error.hpp"
#include "utilities/TemporaryFiles.hpp"

namespace ni::test {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

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

inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// An item's modification time in seconds.
inline std::int64_t modified(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim.tv_sec;
}

// The names in folder, sorted; none when it is missing.
inline Names entriesOf(const fs::path& folder) {
    Names names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) set(name, value);
    }
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1) : ::unsetenv(it->first.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

inline bool runningAsRoot() { return ::geteuid() == 0; }

// The user an unprivileged child runs as when the tests run as root: "nobody".
inline constexpr uid_t kUnprivilegedUser = 65534;

// In a child: gives up root's privileges, so permission checks apply; false when that failed.
inline bool dropPrivileges() {
    return !runningAsRoot() || (::setgroups(0, nullptr) == 0 && ::setgid(kUnprivilegedUser) == 0 &&
                                ::setuid(kUnprivilegedUser) == 0);
}

// The exit status, 128 + the signal when killed.
inline int exitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Runs probe in a child without root's privileges and returns its exit status;
// 255 when privileges couldn't be dropped.
inline int runUnprivileged(const std::function<int()>& probe) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(dropPrivileges() ? probe() : 255);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return exitStatus(status);
}

// Starts argv (argv[0] looked up in PATH) with signals at their defaults, no
// standard input, and standard output and error in the files log.out and
// log.err; setUp runs in the child just before the program starts. The child
// works in log's folder: what it writes into its working folder, as the
// converter does by default, stays in the test's scratch folder.
inline pid_t spawn(const Names& argv, const std::string& log, const std::function<void()>& setUp = {}) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const std::string out = log + ".out", err = log + ".err";
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    if (::chdir(fs::path(log).parent_path().c_str()) != 0) ::_exit(126);
    if (setUp) setUp();
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// How a child process ended, with what it wrote.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// Waits for a child started by spawn.
inline Outcome finish(pid_t pid, const std::string& log) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {exitStatus(status), readFile(log + ".out"), readFile(log + ".err")};
}

// The command-line converter in the build tree.
inline std::string kCli() { return NI_BIN_DIR "/notara2inkvale-cli"; }

// Makes a fresh folder for one test and points TMPDIR at a "tmp" folder
// inside it; restores TMPDIR and removes everything afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ni-test.XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        root_ = pattern;
        fs::create_directories(tmp());
        environment_.emplace(
            std::initializer_list<std::pair<const char*, const char*>>{{"TMPDIR", tmp().c_str()}});
    }
    void TearDown() override {
        environment_.reset();
        run({"chmod", "-R", "u+rwx", root_.native()});  // folders a test left without permissions
        fs::remove_all(root_);
    }

    const fs::path& root() const { return root_; }
    fs::path tmp() const { return root_ / "tmp"; }
    // The runs' unique folders left in our container of the temporary area.
    Names leftInTemporaryArea() const { return entriesOf(tmp() / temporaryContainerName()); }

    // Lets a child without root's privileges (see dropPrivileges) work here: root()
    // and tmp() belong to "nobody" when the tests run as root, and the resources
    // are read from a copy, as the build tree may sit in a home folder of mode 0700.
    // Whether such a child can write here and read the resources.
    bool shareWithUnprivileged() {
        for (const fs::path& each : {root_, tmp()}) {
            ::chmod(each.c_str(), 0755);
            if (runningAsRoot() && ::chown(each.c_str(), kUnprivilegedUser, kUnprivilegedUser) != 0)
                return false;
        }
        fs::copy(fs::path(NI_BIN_DIR) / "resources", root_ / "resources", fs::copy_options::recursive);
        environment_->set("NI_RESOURCE_DIR", (root_ / "resources").c_str());
        const fs::path sheet = root_ / "resources" / "Sheet Template.inkvale" / "Content.xml";
        return runUnprivileged([&] {
                   const int all = R_OK | W_OK | X_OK;
                   return int(::access(root_.c_str(), all) || ::access(tmp().c_str(), all) ||
                              ::access(sheet.c_str(), R_OK));
               }) == 0;
    }

    // Runs argv with setUp (see spawn) and waits for it.
    Outcome run(const Names& argv, const std::function<void()>& setUp = {}) const {
        const std::string log = (root() / ("run" + std::to_string(++runs_))).native();
        return finish(spawn(argv, log, setUp), log);
    }
    Outcome cli(Names args, const std::function<void()>& setUp = {}) const {
        args.insert(args.begin(), kCli());
        return run(args, setUp);
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

private:
    fs::path root_;
    std::optional<ScopedEnvironment> environment_;
    mutable int runs_ = 0;
};

// An export under notes() that must come out of every test unchanged: call
// freezeNotes() once it is written.
class ExportTest : public ScratchTest {
protected:
    void TearDown() override {
        EXPECT_EQ(before ? fingerprint(notes()) : "", before.value_or("")) << "the source changed";
        ScratchTest::TearDown();
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

}  // namespace ni::test
