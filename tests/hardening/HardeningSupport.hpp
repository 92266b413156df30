#pragma once

// Helpers for the hardening tests: running programs with their output caught
// in files, a fingerprint of a folder tree, and an independent XML check.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.hpp"

extern char** environ;

namespace ni::test {

inline const std::string kCli = NI_BIN_DIR "/notara2inkvale-cli";

struct ProgramRun {
    int status = -1;  // the exit status; 128 + the signal when killed
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up in PATH) with stdout and stderr caught in files under
// scratch, and waits for it. The environment is the test's, TMPDIR included.
inline ProgramRun runProgram(const std::vector<std::string>& argv, const fs::path& scratch) {
    static int counter = 0;
    const fs::path outFile = scratch / ("run" + std::to_string(counter) + ".out");
    const fs::path errFile = scratch / ("run" + std::to_string(counter++) + ".err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ProgramRun run;
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(outFile);
    run.err = readFile(errFile);
    return run;
}

inline ProgramRun runCli(std::vector<std::string> args, const fs::path& scratch) {
    args.insert(args.begin(), kCli);
    return runProgram(args, scratch);
}

// One line per item below root, sorted: path, type, mode, size, modification
// time, a hash of the bytes or the link's target. Equal fingerprints: nothing
// in the tree was written, renamed, added or removed.
inline std::vector<std::string> treeFingerprint(const fs::path& root) {
    std::vector<std::string> lines;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        std::string line = it->path().lexically_relative(root).native() + " " + std::to_string(st.st_mode) +
                           " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) {
            std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
            for (const unsigned char c : readFile(it->path())) hash = (hash ^ c) * 1099511628211ull;
            line += " " + std::to_string(hash);
        } else if (S_ISLNK(st.st_mode)) {
            line += " -> " + fs::read_symlink(it->path(), ec).native();
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline std::vector<fs::path> contentFilesBelow(const fs::path& root) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().filename() == "Content.xml") found.push_back(entry.path());
    return found;
}

inline bool haveXmllint() { return ::access("/usr/bin/xmllint", X_OK) == 0; }

// What xmllint says about every Content.xml below root: empty when all are well-formed.
inline std::string xmllintComplaints(const fs::path& root, const fs::path& scratch) {
    std::vector<std::string> argv = {"/usr/bin/xmllint", "--noout", "--huge"};
    for (const fs::path& file : contentFilesBelow(root)) argv.push_back(file.native());
    if (argv.size() == 3) return "no Content.xml below " + root.native();
    const ProgramRun run = runProgram(argv, scratch);
    return run.status == 0 ? std::string() : "xmllint exit " + std::to_string(run.status) + ": " + run.err;
}

// The names in folder, sorted; none when it is missing.
inline std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        names.push_back(it->path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

// Where runs make their unique temporary folders.
inline fs::path temporaryContainer(const fs::path& tmp) { return tmp / "net.notara2inkvale.converter"; }

}  // namespace ni::test
