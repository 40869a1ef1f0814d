// Resolving paths beneath a shared folder's descriptor (the operations on resolved items are in
// SharedFolderOperations.cpp).

#include "foundation/SharedFolder.h"

#include "foundation/FileSystemSupport.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>

namespace platform {

using namespace filesystem_detail;

void FileDescriptor::reset(int fd) {
    if (_fd != -1) {
        ::close(_fd);
    }
    _fd = fd;
}

namespace {

std::optional<SharedItem> fail(Error* error, int errorNumber) {
    setError(error, Error::posix(errorNumber));
    return std::nullopt;
}

// The components of a path, without empty ones and ".", in order.
std::deque<std::string> componentsOf(std::string_view path) {
    std::deque<std::string> components;
    std::size_t position = 0;
    while (position <= path.size()) {
        const std::size_t slash = std::min(path.find('/', position), path.size());
        const std::string_view component = path.substr(position, slash - position);
        if (!component.empty() && component != ".") {
            components.emplace_back(component);
        }
        position = slash + 1;
    }
    return components;
}

// The target of the link open at `link` (an O_PATH descriptor of the link itself).
std::optional<std::string> readLinkTarget(int link) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(link, "", target.data(), target.size());
        if (length < 0) {
            return std::nullopt;
        }
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        if (target.size() >= 65536) {
            errno = ENAMETOOLONG;
            return std::nullopt;
        }
        target.resize(target.size() * 2);
    }
}

// True when a component begins with "." (".." excepted; componentsOf drops ".").
bool hasHiddenName(const std::deque<std::string>& components) {
    return std::any_of(components.begin(), components.end(), [](const std::string& component) {
        return component.front() == '.' && component != "..";
    });
}

int duplicate(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

long openBeneath(int root, const std::string& path, int flags, std::uint64_t resolve) {
    open_how how = {};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | resolve;
    return ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
}

} // namespace

SharedFolder::SharedFolder(std::string path, std::string realPath, int descriptor, const FileStatus& status)
    : _path(std::move(path)), _realPath(std::move(realPath)), _descriptor(descriptor), _device(status.device),
      _inode(status.inode) {}

SharedFolder::~SharedFolder() {
    ::close(_descriptor);
}

namespace filesystem_detail {

namespace {
std::atomic<int> openFailure{0};
} // namespace

int sharedFolderOpenFailure() {
    return openFailure.load(std::memory_order_relaxed);
}

} // namespace filesystem_detail

void SharedFolder::setOpenFailure(int errorNumber) {
    filesystem_detail::openFailure.store(errorNumber);
}

std::shared_ptr<SharedFolder> SharedFolder::open(const std::string& path, Error* error) {
    if (!checkPath(path, error)) {
        return nullptr;
    }
    if (const int injected = sharedFolderOpenFailure()) {
        setError(error, Error::posix(injected));
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const auto status = fd == -1 ? std::nullopt : FileSystem::statusOfDescriptor(fd, error);
    if (!status) {
        if (fd == -1) {
            failWithErrno(error);
        } else {
            ::close(fd);
        }
        return nullptr;
    }
    char* real = ::realpath(path.c_str(), nullptr);
    std::string realPath = real ? real : FileSystem::standardizePath(path);
    std::free(real);
    return std::shared_ptr<SharedFolder>(new SharedFolder(path, std::move(realPath), fd, *status));
}

std::optional<SharedItem> SharedFolder::resolve(std::string_view relativePath, bool followLastLink,
                                                Error* error, HiddenNames hidden) const {
    if (relativePath.find('\0') != std::string_view::npos) {
        return fail(error, EINVAL);
    }
    if (const int injected = sharedFolderOpenFailure()) {
        return fail(error, injected);
    }
    // ".." in the request itself is taken as text, as URLs do (and never climbs above the folder);
    // links are resolved below.
    int depth = 0;
    for (const std::string& component : componentsOf(relativePath)) {
        depth += component == ".." ? -1 : 1;
        if (depth < 0) {
            return fail(error, EXDEV);
        }
    }
    const std::string standardized = FileSystem::standardizePath("/" + std::string(relativePath));
    if (auto item = resolveFast(standardized, followLastLink, hidden)) {
        return item;
    }
    return resolveByWalk(standardized, followLastLink, hidden, error);
}

// openat2 confines the whole walk to the folder in the kernel. It refuses absolute links (EXDEV),
// which the walk re-roots, and, where links may not lead through hidden names, every link (the
// walk reads their targets); any failure leaves the answer to the walk.
std::optional<SharedItem> SharedFolder::resolveFast(std::string_view relativePath, bool followLastLink,
                                                    HiddenNames hidden) const {
    if (relativePath == "/") {
        return std::nullopt;
    }
    const std::string parent = FileSystem::deletingLastPathComponent(relativePath);
    std::string name = FileSystem::lastPathComponent(relativePath);
    const std::uint64_t noLinks = hidden == HiddenNames::allowed ? 0 : RESOLVE_NO_SYMLINKS;
    const long fd = parent == "/" ? duplicate(_descriptor)
                                  : openBeneath(_descriptor, parent.substr(1), O_PATH | O_DIRECTORY, noLinks);
    if (fd < 0) {
        return std::nullopt;
    }
    SharedItem item{FileDescriptor(static_cast<int>(fd)), std::move(name)};
    if (followLastLink) {
        struct stat info = {};
        if (::fstatat(item.folder.get(), item.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            return std::nullopt;
        }
    }
    return item;
}

FileDescriptor SharedFolder::openChain(const std::vector<std::string>& names, Error* error) const {
    FileDescriptor current(duplicate(_descriptor));
    for (const std::string& name : names) {
        if (!current.valid()) {
            break;
        }
        current = FileDescriptor(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!current.valid()) {
        setError(error, Error::posix(errno == ELOOP || errno == ENOTDIR ? ENOENT : errno));
    }
    return current;
}

std::optional<SharedItem> SharedFolder::resolveByWalk(std::string_view relativePath, bool followLastLink,
                                                      HiddenNames hidden, Error* error) const {
    std::deque<std::string> pending = componentsOf(relativePath);
    std::vector<std::string> names; // the real folders from the shared folder to `current`
    FileDescriptor current(duplicate(_descriptor));
    int links = 0;
    while (current.valid() && !pending.empty()) {
        std::string component = std::move(pending.front());
        pending.pop_front();
        if (component == "..") {
            if (!names.empty()) {
                names.pop_back();
                current = openChain(names, error);
            }
            continue;
        }
        const bool last = pending.empty();
        FileDescriptor next(::openat(current.get(), component.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            if (last && errno == ENOENT) {
                return SharedItem{std::move(current), std::move(component)};
            }
            return fail(error, errno);
        }
        struct stat info = {};
        if (::fstat(next.get(), &info) != 0) {
            return fail(error, errno);
        }
        if (S_ISLNK(info.st_mode) && (!last || followLastLink)) {
            if (++links > kMaximumLinks) {
                return fail(error, ELOOP);
            }
            const auto target = readLinkTarget(next.get());
            if (!target || target->empty()) {
                return fail(error, ENOENT);
            }
            const bool absolute = target->front() == '/';
            const std::string standardized = absolute ? FileSystem::standardizePath(*target) : std::string();
            if (absolute && !FileSystem::isPathInsideOrEqual(standardized, _realPath)) {
                return fail(error, EXDEV); // it leads out of the shared folder
            }
            // An absolute target is taken from the shared folder on.
            const std::string_view rest =
                absolute ? std::string_view(standardized).substr(_realPath == "/" ? 0 : _realPath.size())
                         : std::string_view(*target);
            const auto components = componentsOf(rest);
            if (hidden == HiddenNames::refusedInLinks && hasHiddenName(components)) {
                return fail(error, EXDEV); // hidden folders stay out of reach through links
            }
            if (absolute) {
                names.clear();
                current = FileDescriptor(duplicate(_descriptor));
            }
            pending.insert(pending.begin(), components.begin(), components.end());
            continue;
        }
        if (last) {
            return SharedItem{std::move(current), std::move(component)};
        }
        if (!S_ISDIR(info.st_mode)) {
            return fail(error, ENOTDIR);
        }
        names.push_back(std::move(component));
        current = std::move(next);
    }
    if (!current.valid()) {
        return fail(error, errno ? errno : ENOENT);
    }
    // The path ended on a folder reached through ".." or a link: name it from its own folder.
    if (names.empty()) {
        return SharedItem{std::move(current), "."};
    }
    std::string name = std::move(names.back());
    names.pop_back();
    FileDescriptor parent = openChain(names, error);
    if (!parent.valid()) {
        return std::nullopt;
    }
    return SharedItem{std::move(parent), std::move(name)};
}

std::optional<SharedItem> SharedFolder::itemAtPath(const std::string& path, Error* error) {
    if (!checkPath(path, error)) {
        return std::nullopt;
    }
    const std::string standardized = FileSystem::standardizePath(path);
    std::string folder = FileSystem::deletingLastPathComponent(standardized);
    if (folder.empty()) {
        folder = ".";
    }
    FileDescriptor fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        return fail(error, errno);
    }
    return SharedItem{std::move(fd), FileSystem::lastPathComponent(standardized)};
}

std::optional<SharedItem> SharedFolder::sibling(const SharedItem& item, std::string name, Error* error) {
    FileDescriptor folder(duplicate(item.folder.get()));
    if (!folder.valid()) {
        return fail(error, errno);
    }
    return SharedItem{std::move(folder), std::move(name)};
}

} // namespace platform
