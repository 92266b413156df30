#pragma once

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <system_error>

struct open_how;

namespace ni::sys {

// A seam for tests: makes chosen file operations fail with a given errno, as a
// full disk, a size limit or a foreign file system would. Never armed in
// normal runs. Each operation fails the calls below that name it.
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
// From now on statfs() reports type (a kernel magic number, 0x4d44 for FAT) as
// the file system of every folder; 0 (and clearFaults) reports the real one.
void injectFileSystemType(unsigned long type);

// The system calls that faults can fail. Each makes the call it is named after
// and answers as it does; with a fault armed for its operation it makes no
// call and returns -1 with errno set to the fault's.

// read(2). Read: the reading of a note.
ssize_t read(int fd, void* buffer, std::size_t size);
// write(2). Write: any write of a file's bytes (ENOSPC: a full disk).
ssize_t write(int fd, const void* buffer, std::size_t size);
// copy_file_range(2) from the current offset of from to that of to. Copy: a
// file copied into a package (EFBIG: a size limit).
ssize_t copyFileRange(int from, int to, std::size_t size);
// fstat(2). Stat: the fstat of a note just opened.
int fstat(int fd, struct stat* status);
// mkdirat(2). CreateDirectory.
int mkdirat(int folderFd, const char* path, mode_t mode);
// std::filesystem::create_directories; false with ec set when it fails.
// CreateDirectory.
bool createDirectories(const std::filesystem::path& url, std::error_code& ec);
// renameat2(2) with RENAME_NOREPLACE. RenameNoReplace (EINVAL: a file system
// without the flag).
int renameNoReplace(const char* from, const char* to);
// The same for the move of an item to its new place. Rename fails it before
// RenameNoReplace does (EXDEV: another file system).
int moveNoReplace(const char* from, const char* to);
// link(2). Link (EPERM: a file system without hard links).
int link(const char* from, const char* to);
// unlink(2). Unlink: dropping the old name after link().
int unlink(const char* path);
// openat2(2). OpenBeneath (ENOSYS: a kernel without it).
int openat2(int folderFd, const char* path, const open_how& how);
// statfs(2), with f_type replaced by an injected file-system type.
int statfs(const char* path, struct statfs* info);

}  // namespace ni::sys
