// Runs of the command-line converter stopped by a signal in each phase, or
// killed outright: what each leaves behind, and what the next run removes.

#include <sys/file.h>

#include <chrono>
#include <thread>

#include "TestSupport.hpp"
#include "utilities/TemporaryFiles.hpp"

namespace ni {
namespace {

using namespace test;

class Interrupted : public ExportTest {
protected:
    void SetUp() override {
        ExportTest::SetUp();
        // Notes in ten sub-folders, one in ten with a picture: enough work to be caught at.
        writeFile(notes() / "Pictures" / "photo.png", std::string(16 << 10, 'p'));
        for (int i = 0; i < kNotes; ++i) {
            const fs::path folder = i % 10 == 0 ? notes() : notes() / ("Folder " + std::to_string(i % 10));
            writeFile(folder / ("Note " + std::to_string(i) + ".txt"),
                      "Note " + std::to_string(i) + "\nSome text.\n\n" +
                          (i % 10 == 0 ? "Picture: photo.png\n" : "") + "Tags: a, b\n");
        }
        freezeNotes();
    }
    void TearDown() override {
        if (!shm_.empty()) fs::remove_all(shm_);
        ExportTest::TearDown();
    }

    // A temporary area on another file system than the output (a tmpfs), so the move copies.
    fs::path otherFileSystem() {
        fs::create_directories(shm_ = fs::path("/dev/shm") / root().filename());
        return shm_;
    }

    // The converter in the background, its temporary area in tmpdir.
    pid_t start(const Names& args, const fs::path& tmpdir) const {
        Names argv{kCli()};
        argv.insert(argv.end(), args.begin(), args.end());
        // Every signal blocked, as some launchers leave them: the converter unblocks those it stops on.
        return spawn(argv, log(), [&] {
            ::setenv("TMPDIR", tmpdir.c_str(), 1);
            sigset_t all;
            ::sigprocmask(SIG_BLOCK, (sigfillset(&all), &all), nullptr);
        });
    }
    std::string log() const { return (root() / "child").native(); }
    // Polls until ready() holds; false when the child ended first (it is left to finish()).
    template <typename Ready>
    static bool caught(pid_t pid, Ready ready) {
        for (;; std::this_thread::sleep_for(std::chrono::microseconds(200))) {
            if (ready()) return true;
            siginfo_t info{};
            if (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
                return false;
        }
    }

    static bool readsFrom(pid_t pid, const fs::path& folder) {
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
            if (fs::read_symlink(fd.path(), ec).native().starts_with(folder.native() + "/")) return true;
        return false;
    }
    // The unique folder in container whose export (still under its hidden
    // name while it is written) has sheets in it, other than skip.
    static fs::path writingIn(const fs::path& container, const fs::path& skip = {}) {
        for (const std::string& name : entriesOf(container)) {
            if (container / name == skip) continue;
            for (const char* exportName : {".Notara Export.partial", "Notara Export"})
                if (!entriesOf(container / name / exportName).empty()) return container / name;
        }
        return {};
    }
    static fs::path partialCopyIn(const fs::path& out) {
        for (const std::string& name : entriesOf(out))
            if (name.starts_with(".Notara Export.moving-") && name.size() == 38) return out / name;
        return {};
    }

    static constexpr int kNotes = 4000;
    fs::path shm_;
};

TEST_F(Interrupted, ASignalInAnyPhaseEndsTheRunWithNothingLeft) {
    const fs::path shm = otherFileSystem();
    enum Phase { Reading, Writing, Moving };
    for (const auto& [signal, phase] : {std::pair{SIGINT, Reading}, {SIGTERM, Writing}, {SIGHUP, Moving}}) {
        SCOPED_TRACE(phase);
        const fs::path out = root() / ("out" + std::to_string(phase));
        const fs::path tmpdir = phase == Moving ? shm : tmp();
        const pid_t pid = start({"-q", "-o", out.native(), notes().native()}, tmpdir);
        const bool inPhase = caught(pid, [&] {
            return phase == Reading   ? readsFrom(pid, notes())
                   : phase == Writing ? !writingIn(tmpdir / temporaryContainerName()).empty()
                                      : !partialCopyIn(out).empty();
        });
        ASSERT_TRUE(inPhase) << "the run ended first: " << finish(pid, log()).err;
        ::kill(pid, signal);
        EXPECT_EQ(finish(pid, log()).status, 128 + signal);
        EXPECT_EQ(entriesOf(out), Names{});
        EXPECT_EQ(entriesOf(tmpdir / temporaryContainerName()), Names{});
    }
}

TEST_F(Interrupted, KilledRunsLeftoversGoWithTheNextRunLiveOnesAndOthersStay) {
    // A live run's folder (this process holds its lock), a folder not named
    // like ours and a link that is: none of them may go.
    const fs::path container = tmp() / temporaryContainerName();
    const auto live = createUniqueTemporaryDirectoryWithError(nullptr);
    ASSERT_TRUE(live);
    fs::create_directories(container / "keep-me");
    writeFile(root() / "outside" / "x", "x");
    fs::create_directory_symlink(root() / "outside", container / std::string(32, 'a'));
    writeFile(root() / "Small" / "One.txt", "One\n");

    const fs::path out = root() / "out";
    pid_t pid = start({"-q", "-o", out.native(), notes().native()}, tmp());
    fs::path killed;
    ASSERT_TRUE(caught(pid, [&] { return !(killed = writingIn(container, *live)).empty(); }));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(finish(pid, log()).status, 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(killed));

    EXPECT_EQ(cli({"-q", "-n", (root() / "Small").native()}).status, 0);
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::is_directory(*live));
    EXPECT_TRUE(fs::is_directory(container / "keep-me"));
    EXPECT_TRUE(fs::is_symlink(container / std::string(32, 'a')));
    EXPECT_EQ(readFile(root() / "outside" / "x"), "x");
    removeUniqueTemporaryDirectory(*live, nullptr);

    // A partial copy of a run killed while moving across file systems goes with
    // the next run into the same folder; a live run's copy there stays.
    const fs::path shm = otherFileSystem();
    pid = start({"-q", "-o", out.native(), notes().native()}, shm);
    fs::path partial;
    ASSERT_TRUE(caught(pid, [&] { return !(partial = partialCopyIn(out)).empty(); }));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(finish(pid, log()).status, 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(partial));
    const fs::path livePartial = out / ".Notara Export.moving-0123456789abcdef";
    fs::create_directories(livePartial);
    const int liveLock = ::open(livePartial.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(liveLock, LOCK_EX), 0);

    ScopedEnvironment otherTmp{{"TMPDIR", shm.c_str()}};
    const Outcome next = cli({"-q", "-o", out.native(), (root() / "Small").native()});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(entriesOf(out), (Names{livePartial.filename(), "Notara Export"}));
    EXPECT_EQ(entriesOf(shm / temporaryContainerName()), Names{});
    ::close(liveLock);
}

}  // namespace
}  // namespace ni
