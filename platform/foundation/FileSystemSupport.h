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

} // namespace platform::filesystem_detail
