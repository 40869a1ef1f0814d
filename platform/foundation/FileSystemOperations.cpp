// Copy, move and remove of FileSystem.

#include "foundation/FileSystem.h"

#include "foundation/FileSystemSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <utility>

namespace platform {

using namespace filesystem_detail;

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : _fd(fd) {}
    ~Descriptor() {
        if (_fd != -1) {
            ::close(_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return _fd; }
    bool valid() const { return _fd != -1; }
    // Closes now and reports a failure of close (which may carry a delayed write error).
    bool close() {
        const int fd = std::exchange(_fd, -1);
        return ::close(fd) == 0;
    }

private:
    int _fd;
};

// What one copyItem call has created so far: the directories (so that a copy placed inside its own
// source is never copied again) and whether the top item exists yet.
struct CopyContext {
    std::set<std::pair<dev_t, ino_t>> createdDirectories;
    bool createdTop = false;
};

bool isFallbackError(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM ||
           error == EBADF;
}

bool writeAll(int fd, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool copyWithReadWrite(int in, int out) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t count = ::read(in, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (count == 0 || !writeAll(out, buffer.data(), static_cast<std::size_t>(count))) {
            return count == 0;
        }
    }
}

// copy_file_range, then sendfile, then read/write: each step continues from the file offsets that
// the previous one left.
bool copyBytes(int in, int out) {
    bool useCopyRange = true;
    for (;;) {
        const ssize_t count = useCopyRange ? ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0)
                                           : ::sendfile(out, in, nullptr, kCopyChunk);
        if (count > 0) {
            continue;
        }
        if (count == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (!isFallbackError(errno)) {
            return false;
        }
        if (!useCopyRange) {
            return copyWithReadWrite(in, out);
        }
        useCopyRange = false;
    }
}

bool copyRegularFile(const std::string& from, const std::string& to, const struct stat& info,
                     CopyContext& context, Error* error) {
    Descriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!in.valid()) {
        return failWithErrno(error);
    }
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid()) {
        return failWithErrno(error);
    }
    context.createdTop = true;
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (!copyBytes(in.get(), out.get()) || ::fchmod(out.get(), info.st_mode & 0777) != 0 ||
        ::futimens(out.get(), times) != 0 || !out.close()) {
        return failWithErrno(error);
    }
    return true;
}

bool copySymbolicLink(const std::string& from, const std::string& to, const struct stat& info,
                      CopyContext& context, Error* error) {
    std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    for (;;) {
        const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
        if (length < 0) {
            return failWithErrno(error);
        }
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            break;
        }
        target.resize(target.size() * 2); // the link changed under us: try again with more room
    }
    if (::symlink(target.c_str(), to.c_str()) != 0) {
        return failWithErrno(error);
    }
    context.createdTop = true;
    return true;
}

bool copyTree(const std::string& from, const std::string& to, CopyContext& context, Error* error);

bool copyDirectory(const std::string& from, const std::string& to, const struct stat& info,
                   CopyContext& context, Error* error) {
    // The names are read before the copy exists, so a copy made inside its source is not listed.
    auto names = FileSystem::contentsOfDirectory(from, error);
    if (!names) {
        return false;
    }
    if (::mkdir(to.c_str(), 0700) != 0) {
        return failWithErrno(error);
    }
    context.createdTop = true;
    struct stat created = {};
    if (::lstat(to.c_str(), &created) != 0) {
        return failWithErrno(error);
    }
    context.createdDirectories.emplace(created.st_dev, created.st_ino);
    for (const std::string& name : *names) {
        if (!copyTree(FileSystem::appendPathComponent(from, name), FileSystem::appendPathComponent(to, name),
                      context, error)) {
            return false;
        }
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::chmod(to.c_str(), info.st_mode & 0777) != 0 ||
        ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        return failWithErrno(error);
    }
    return true;
}

bool copyTree(const std::string& from, const std::string& to, CopyContext& context, Error* error) {
    struct stat info = {};
    if (::lstat(from.c_str(), &info) != 0) {
        return failWithErrno(error);
    }
    switch (info.st_mode & S_IFMT) {
    case S_IFREG:
        return copyRegularFile(from, to, info, context, error);
    case S_IFLNK:
        return copySymbolicLink(from, to, info, context, error);
    case S_IFDIR:
        if (context.createdDirectories.count({info.st_dev, info.st_ino})) {
            return true; // the copy itself, reached through its source
        }
        return copyDirectory(from, to, info, context, error);
    case S_IFIFO:
        if (::mkfifo(to.c_str(), info.st_mode & 0777) != 0) {
            return failWithErrno(error);
        }
        context.createdTop = true;
        return true;
    default:
        setError(error, Error::posix(ENOTSUP)); // sockets and devices are not copied
        return false;
    }
}

// Empties the folder open at `fd` (a readable descriptor it takes over) of everything but folders
// that are not empty; the first of those is returned in `descend`.
bool clearFolder(int fd, std::string& descend, Error* error) {
    DIR* entries = ::fdopendir(fd);
    if (!entries) {
        failWithErrno(error);
        ::close(fd);
        return false;
    }
    bool cleared = true;
    while (const dirent* entry = ::readdir(entries)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat info = {};
        if (::fstatat(::dirfd(entries), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue; // gone meanwhile
        }
        const int flags = S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0;
        if (::unlinkat(::dirfd(entries), entry->d_name, flags) == 0 || errno == ENOENT) {
            continue;
        }
        if (flags == AT_REMOVEDIR && (errno == ENOTEMPTY || errno == EEXIST)) {
            descend = name;
            break;
        }
        cleared = failWithErrno(error);
        break;
    }
    ::closedir(entries);
    return cleared;
}

} // namespace

namespace filesystem_detail {

// Opens the folder reached from `base` through `names`, one component at a time and never through
// a link; only the last descriptor stays open.
int openFolderChain(int base, const std::vector<std::string>& names, std::size_t count, int lastFlags) {
    int current = base;
    for (std::size_t i = 0; i < count; ++i) {
        const int flags = (i + 1 == count ? lastFlags : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        const int next = ::openat(current, names[i].c_str(), flags);
        if (current != base) {
            ::close(current);
        }
        if (next == -1) {
            return -1;
        }
        current = next;
    }
    return current == base ? ::fcntl(base, F_DUPFD_CLOEXEC, 0) : current;
}

bool copyFileBytes(int in, int out) {
    return copyBytes(in, out);
}

// Depth first, re-opening each folder by name beneath `base` instead of holding one descriptor per
// level: a tree of any depth is removed with two descriptors at a time.
bool removeTreeAt(int base, const std::string& name, Error* error) {
    struct stat info = {};
    if (::fstatat(base, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return failWithErrno(error);
    }
    if (!S_ISDIR(info.st_mode)) {
        return ::unlinkat(base, name.c_str(), 0) == 0 || failWithErrno(error);
    }
    std::vector<std::string> stack{name};
    while (!stack.empty()) {
        const int fd = openFolderChain(base, stack, stack.size(), O_RDONLY);
        if (fd == -1) {
            return failWithErrno(error);
        }
        std::string descend;
        if (!clearFolder(fd, descend, error)) {
            return false;
        }
        if (!descend.empty()) {
            stack.push_back(std::move(descend));
            continue;
        }
        const std::string last = std::move(stack.back());
        stack.pop_back();
        const int parent = stack.empty() ? base : openFolderChain(base, stack, stack.size(), O_PATH);
        if (parent == -1) {
            return failWithErrno(error);
        }
        const bool removed = ::unlinkat(parent, last.c_str(), AT_REMOVEDIR) == 0 || failWithErrno(error);
        if (parent != base) {
            ::close(parent);
        }
        if (!removed) {
            return false;
        }
    }
    return true;
}

} // namespace filesystem_detail

namespace {

bool moveAcrossFileSystems(const std::string& from, const std::string& to, Error* error) {
    if (!FileSystem::copyItem(from, to, error)) {
        return false;
    }
    return FileSystem::removeItem(from, error);
}

// For file systems that know no RENAME_NOREPLACE: a hard link refuses an existing name by itself;
// where links are refused too (directories, some file systems) the name is checked first.
bool moveWithoutNoReplaceFlag(const std::string& from, const std::string& to, Error* error) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) {
            return true;
        }
        const int unlinkError = errno;
        ::unlink(to.c_str());
        setError(error, Error::posix(unlinkError));
        return false;
    }
    if (errno == EEXIST || errno == ENOENT) {
        return failWithErrno(error);
    }
    if (FileSystem::itemExists(to)) {
        setError(error, Error::posix(EEXIST));
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return true;
    }
    return errno == EXDEV ? moveAcrossFileSystems(from, to, error) : failWithErrno(error);
}

} // namespace

bool FileSystem::moveItemNoReplace(const std::string& from, const std::string& to, Error* error) {
    if (!checkPath(from, error) || !checkPath(to, error)) {
        return false;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    switch (errno) {
    case EXDEV:
        return moveAcrossFileSystems(from, to, error);
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
        return moveWithoutNoReplaceFlag(from, to, error);
    default:
        return failWithErrno(error);
    }
}

bool FileSystem::copyItem(const std::string& from, const std::string& to, Error* error) {
    if (!checkPath(from, error) || !checkPath(to, error)) {
        return false;
    }
    auto source = statusOfItem(from, error);
    if (!source) {
        return false;
    }
    if (source->isDirectory() && isPathInsideOrEqual(to, from)) {
        setError(error, Error::posix(EINVAL)); // a directory cannot be copied into itself
        return false;
    }
    CopyContext context;
    if (copyTree(from, to, context, error)) {
        return true;
    }
    if (context.createdTop) {
        removeItem(to, nullptr);
    }
    return false;
}

bool FileSystem::removeItem(const std::string& path, Error* error) {
    if (!checkPath(path, error)) {
        return false;
    }
    return removeTreeAt(AT_FDCWD, path, error);
}

} // namespace platform
