#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace ni {

class Error;

// Creates url and any missing parents (mode 0755 unless given). False with the
// error set on failure; an existing directory is success.
bool createDirectoryAtURL(const std::filesystem::path& url, Error* error);

// Opens relative (no ".." in it) beneath folder for reading, following no
// symbolic link anywhere below folder (folder itself is taken as it is), and
// only when it is a regular file: a link swapped in on the way can't lead out
// of folder. -1, with the error naming folder/relative, otherwise.
int openRegularFileBeneath(const std::filesystem::path& folder, const std::filesystem::path& relative,
                           Error* error);

// Removes url and everything inside it. Symbolic links are removed, never
// followed. Nothing there is success.
bool removeItemAtURL(const std::filesystem::path& url, Error* error);
// The same for name inside the open folder parentFd; url names it in errors.
bool removeItemInFolder(int parentFd, const std::string& name, const std::filesystem::path& url,
                        Error* error);

// The target text of the symbolic link at link (read again when it changed
// in between); nothing, with errno set, when it can't be read.
std::optional<std::string> readLinkTarget(const std::filesystem::path& link);

// Where url leads: an absolute path whose existing part is real folders, every
// symbolic link on the way followed (a dangling link's target included) and
// "." and ".." resolved as the system would. Nothing when links loop.
std::optional<std::filesystem::path> resolvedLocation(const std::filesystem::path& url);

// Whether the file system holding folder (or, when it is missing, its nearest
// existing parent) refuses names other disks take: FAT, exFAT, NTFS, SMB/CIFS.
bool refusesSomeNames(const std::filesystem::path& folder);

// Whether url, so resolved, is folder or lies inside it, compared by device and
// inode of its existing part and every folder above. False when folder is missing.
bool isInsideFolder(const std::filesystem::path& url, const std::filesystem::path& folder);

}  // namespace ni
