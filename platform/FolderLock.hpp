#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace ni {

// Marks a folder of a running process: an exclusive flock on the folder itself,
// held through a close-on-exec descriptor while the process lives (the kernel
// lets go of it when the process ends, however it ends). A folder of ours whose
// lock is free was left by a run that could no longer clean up.

// Opens the folder name inside parentFd (never through a link) and locks it.
// The descriptor, or -1 when it can't be opened; a file system that can't lock
// still gives the descriptor, so the caller's run goes on unmarked.
int openAndLockFolder(int parentFd, const std::string& name);

// Keeps fd open (and its lock held) under url until released.
void holdFolderLock(const std::filesystem::path& url, int fd);
// Closes the descriptor held for url, if any: call once the folder is gone or handed on.
void releaseFolderLock(const std::filesystem::path& url);

// Removes the folder name inside parentFd when it is a real folder (not a
// link) of the current user whose lock is free; true when it was removed.
// Anything else is left alone, also a folder on a file system without locks.
bool removeFolderIfAbandoned(int parentFd, const std::string& name, const std::filesystem::path& url);

// Removes, as above, each item inside the open folder folderFd (url names it)
// whose name passes isSwept: what runs that were killed left there. A folder
// that can't be listed is left as it is, as a sweep only tidies. The number removed.
std::size_t removeAbandonedFolders(int folderFd, const std::filesystem::path& url,
                                   const std::function<bool(std::string_view name)>& isSwept);

}  // namespace ni
