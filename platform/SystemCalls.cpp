#include "platform/SystemCalls.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>

namespace ni::sys {

namespace {

struct Fault {
    std::atomic<int> errnoValue{0};
    std::atomic<int> remainingSuccesses{0};
};

std::array<Fault, 10>& faults() {
    static std::array<Fault, 10> table;
    return table;
}

std::atomic<unsigned long> fileSystemType{0};

Fault& faultFor(Operation operation) { return faults()[static_cast<std::size_t>(operation)]; }

// True, with errno set to the fault's, when the call of operation must fail.
bool faulted(Operation operation) {
    const int injected = injectedFault(operation);
    if (injected == 0) return false;
    errno = injected;
    return true;
}

}  // namespace

void injectFault(Operation operation, int errnoValue, int succeedFirst) {
    Fault& fault = faultFor(operation);
    fault.remainingSuccesses = succeedFirst;
    fault.errnoValue = errnoValue;
}

void clearFaults() {
    for (Fault& fault : faults()) {
        fault.errnoValue = 0;
        fault.remainingSuccesses = 0;
    }
    fileSystemType = 0;
}

void injectFileSystemType(unsigned long type) { fileSystemType = type; }

int injectedFault(Operation operation) {
    Fault& fault = faultFor(operation);
    const int value = fault.errnoValue.load(std::memory_order_relaxed);
    if (value == 0) return 0;
    if (fault.remainingSuccesses.fetch_sub(1) > 0) return 0;
    return value;
}

ssize_t read(int fd, void* buffer, std::size_t size) {
    return faulted(Operation::Read) ? -1 : ::read(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, std::size_t size) {
    return faulted(Operation::Write) ? -1 : ::write(fd, buffer, size);
}

ssize_t copyFileRange(int from, int to, std::size_t size) {
    return faulted(Operation::Copy) ? -1 : ::copy_file_range(from, nullptr, to, nullptr, size, 0);
}

int fstat(int fd, struct stat* status) { return faulted(Operation::Stat) ? -1 : ::fstat(fd, status); }

int mkdirat(int folderFd, const char* path, mode_t mode) {
    return faulted(Operation::CreateDirectory) ? -1 : ::mkdirat(folderFd, path, mode);
}

bool createDirectories(const std::filesystem::path& url, std::error_code& ec) {
    if (const int injected = injectedFault(Operation::CreateDirectory)) {
        ec.assign(injected, std::generic_category());
        return false;
    }
    return std::filesystem::create_directories(url, ec);
}

int renameNoReplace(const char* from, const char* to) {
    if (faulted(Operation::RenameNoReplace)) return -1;
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int moveNoReplace(const char* from, const char* to) {
    return faulted(Operation::Rename) ? -1 : renameNoReplace(from, to);
}

int link(const char* from, const char* to) { return faulted(Operation::Link) ? -1 : ::link(from, to); }

int unlink(const char* path) { return faulted(Operation::Unlink) ? -1 : ::unlink(path); }

int openat2(int folderFd, const char* path, const open_how& how) {
    if (faulted(Operation::OpenBeneath)) return -1;
    return static_cast<int>(::syscall(SYS_openat2, folderFd, path, &how, sizeof how));
}

int statfs(const char* path, struct statfs* info) {
    const int result = ::statfs(path, info);
    if (const unsigned long type = fileSystemType.load(std::memory_order_relaxed); result == 0 && type != 0)
        info->f_type = static_cast<decltype(info->f_type)>(type);
    return result;
}

}  // namespace ni::sys
