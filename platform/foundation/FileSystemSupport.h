#pragma once

// Helpers shared by the FileSystem sources; not for use elsewhere.

#include "foundation/FileSystem.h"

#include <dirent.h>

namespace platform::filesystem_detail {

// False for an empty path (ENOENT) or one with a NUL byte in it (EINVAL).
bool checkPath(const std::string& path, Error* error);
// Stores the POSIX error of errno; always false.
bool failWithErrno(Error* error);
// statx relative to a directory descriptor (AT_FDCWD for the working directory).
std::optional<FileStatus> statusAt(int directory, const std::string& path, int flags, Error* error);
// The names of an open directory, "." and ".." excepted, in byte order.
std::optional<std::vector<std::string>> readDirectoryNames(DIR* directory, Error* error);
// Opens the folder reached from `base` through the first `count` of `names`, one component at a
// time and never through a link (the last one with `lastFlags`, O_PATH or O_RDONLY); only the last
// descriptor stays open. With count 0, a duplicate of `base`. -1 with errno on failure.
int openFolderChain(int base, const std::vector<std::string>& names, std::size_t count, int lastFlags);
// Copies the rest of `in` to `out` (copy_file_range, then sendfile, then read and write).
bool copyFileBytes(int in, int out);
// Removes the item `name` in the folder `base` (AT_FDCWD: the working folder): a folder with
// everything in it, depth first, never through a link, with two descriptors open at a time.
bool removeTreeAt(int base, const std::string& name, Error* error);
// The error number every opening through a shared folder fails with now (0: none; see
// SharedFolder::setOpenFailure).
int sharedFolderOpenFailure();

} // namespace platform::filesystem_detail
