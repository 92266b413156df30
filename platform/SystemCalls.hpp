#pragma once

namespace ni::sys {

// A seam for tests: makes chosen file operations fail with a given errno, as a
// full disk, a size limit or a foreign file system would. Never armed in
// normal runs.
// Rename: the move's rename; RenameNoReplace: the no-replace flag (EINVAL:
// a file system without it); Link: link() in its place (EPERM: a file system
// without hard links); Unlink: dropping the old name after link();
// Stat: the fstat of a note just opened; Read: the reading of a note;
// OpenBeneath: openat2 (ENOSYS: a kernel without it).
enum class Operation {
    Write,
    Rename,
    Copy,
    CreateDirectory,
    RenameNoReplace,
    Unlink,
    Stat,
    Read,
    OpenBeneath,
    Link
};

// From now on, the call after `succeedFirst` successful calls of `operation`,
// and every later one, fails with errnoValue.
void injectFault(Operation operation, int errnoValue, int succeedFirst = 0);
void clearFaults();

// The errno the next call of `operation` must fail with, or 0. Counts the call.
int injectedFault(Operation operation);

}  // namespace ni::sys
