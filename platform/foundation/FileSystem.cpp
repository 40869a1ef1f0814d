// The item-status and directory half of FileSystem (copy, move and remove live in
// FileSystemOperations.cpp, the path text in FileSystemPaths.cpp).

#include "foundation/FileSystem.h"

#include "foundation/FileSystemSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

Date FileTime::date() const {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(seconds) +
                                                           std::chrono::nanoseconds(nanoseconds)));
}

namespace filesystem_detail {

bool checkPath(const std::string& path, Error* error) {
    if (path.find('\0') != std::string::npos || path.empty()) {
        setError(error, Error::posix(path.empty() ? ENOENT : EINVAL));
        return false;
    }
    return true;
}

bool failWithErrno(Error* error) {
    setError(error, Error::posix(errno));
    return false;
}

namespace {

FileType typeOfMode(unsigned mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return FileType::regular;
    case S_IFDIR:
        return FileType::directory;
    case S_IFLNK:
        return FileType::symbolicLink;
    default:
        return FileType::other;
    }
}

FileStatus statusFromStatx(const struct statx& info) {
    FileStatus status;
    status.type = typeOfMode(info.stx_mode);
    status.size = info.stx_size;
    status.inode = info.stx_ino;
    status.device = (static_cast<std::uint64_t>(info.stx_dev_major) << 32) | info.stx_dev_minor;
    status.mode = info.stx_mode & 07777;
    status.modificationTime = {info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec};
    if (info.stx_mask & STATX_BTIME) {
        status.creationTime = FileTime{info.stx_btime.tv_sec, info.stx_btime.tv_nsec};
    }
    return status;
}

FileStatus statusFromStat(const struct stat& info) {
    FileStatus status;
    status.type = typeOfMode(info.st_mode);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.inode = info.st_ino;
    status.device = info.st_dev;
    status.mode = info.st_mode & 07777;
    status.modificationTime = {info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    return status;
}

} // namespace

std::optional<FileStatus> statusAt(int directory, const std::string& path, int flags, Error* error) {
    struct statx info = {};
    if (::statx(directory, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &info) == 0) {
        return statusFromStatx(info);
    }
    if (errno != ENOSYS) {
        failWithErrno(error);
        return std::nullopt;
    }
    // Kernels (or sandboxes) without statx: no birth time.
    struct stat plain = {};
    if (::fstatat(directory, path.c_str(), &plain, flags) != 0) {
        failWithErrno(error);
        return std::nullopt;
    }
    return statusFromStat(plain);
}

} // namespace filesystem_detail

using namespace filesystem_detail;

std::optional<FileStatus> FileSystem::statusOfItem(const std::string& path, Error* error) {
    if (!checkPath(path, error)) {
        return std::nullopt;
    }
    return statusAt(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, error);
}

std::optional<FileStatus> FileSystem::statusOfItemFollowingLinks(const std::string& path, Error* error) {
    if (!checkPath(path, error)) {
        return std::nullopt;
    }
    return statusAt(AT_FDCWD, path, 0, error);
}

std::optional<FileStatus> FileSystem::statusOfDescriptor(int descriptor, Error* error) {
    return statusAt(descriptor, "", AT_EMPTY_PATH, error);
}

std::string FileSystem::expandingTildeInPath(const std::string& path) {
    if (path.empty() || path[0] != '~') {
        return path;
    }
    const std::size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string home;
    if (user.empty()) {
        const char* variable = std::getenv("HOME");
        home = variable ? variable : "";
    } else {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir) {
            home = found->pw_dir;
        }
    }
    if (home.empty()) {
        return path;
    }
    return slash == std::string::npos ? home : home + path.substr(slash);
}

std::string FileSystem::absoluteStandardizedPath(const std::string& path) {
    std::string expanded = expandingTildeInPath(path);
    if (!expanded.empty() && expanded[0] != '/') {
        if (char* current = ::getcwd(nullptr, 0)) {
            expanded = appendPathComponent(current, expanded);
            std::free(current);
        }
    }
    return standardizePath(expanded);
}

std::optional<std::string> FileSystem::resolvePath(const std::string& path, Error* error) {
    if (!checkPath(path, error)) {
        return std::nullopt;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        failWithErrno(error);
        return std::nullopt;
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool FileSystem::itemExists(const std::string& path) {
    return statusOfItem(path).has_value();
}

std::optional<std::vector<std::string>> FileSystem::contentsOfDirectory(const std::string& path,
                                                                        Error* error) {
    if (!checkPath(path, error)) {
        return std::nullopt;
    }
    DIR* directory = ::opendir(path.c_str());
    if (!directory) {
        failWithErrno(error);
        return std::nullopt;
    }
    auto names = readDirectoryNames(directory, error);
    ::closedir(directory);
    return names;
}

bool FileSystem::createDirectory(const std::string& path, Error* error) {
    if (!checkPath(path, error)) {
        return false;
    }
    if (::mkdir(path.c_str(), 0777) != 0) {
        return failWithErrno(error);
    }
    return true;
}

namespace filesystem_detail {

std::optional<std::vector<std::string>> readDirectoryNames(DIR* directory, Error* error) {
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory);
        if (!entry) {
            if (errno != 0) {
                failWithErrno(error);
                return std::nullopt;
            }
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace filesystem_detail

} // namespace platform
