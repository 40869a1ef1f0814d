// UP_SharedFolder: opening paths beneath the shared folder's descriptor (Linux).
#include "UP_SharedFolder.h"

#include "UP_MediaFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

using Components = std::deque<std::string>;

// The components of a path without empty ones and ".", in order.
Components ComponentsOf(const char* path) {
    Components components;
    const char* p = path;
    while (*p != '\0') {
        const char* slash = std::strchr(p, '/');
        const size_t length = slash != nullptr ? static_cast<size_t>(slash - p) : std::strlen(p);
        if (length > 0 && !(length == 1 && p[0] == '.')) {
            components.emplace_back(p, length);
        }
        p += length;
        if (*p == '/') {
            ++p;
        }
    }
    return components;
}

int Duplicate(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// The target of the link open at fd (an O_PATH descriptor of the link itself); empty on failure.
std::string ReadLinkTarget(int fd) {
    std::string target(256, '\0');
    while (target.size() <= 65536) {
        const ssize_t length = ::readlinkat(fd, "", target.data(), target.size());
        if (length < 0) {
            return std::string();
        }
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
    return std::string();
}

UP_SharedFolder::Descriptor Fail(int error) {
    errno = error;
    return UP_SharedFolder::Descriptor();
}

} // namespace

void UP_SharedFolder::Descriptor::Reset(int fd) {
    if (m_Fd >= 0) {
        ::close(m_Fd);
    }
    m_Fd = fd;
}

UP_SharedFolder::UP_SharedFolder(const char* path) {
    const char* folder = path != nullptr && path[0] != '\0' ? path : "/";
    m_Root.Reset(::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (m_Root.IsValid() && ::fstat(m_Root.Get(), &status) == 0) {
        m_Device = status.st_dev;
        m_Inode = status.st_ino;
    } else {
        m_Error = errno;
        m_Root.Reset();
    }
    char* real = ::realpath(folder, nullptr);
    m_RealPath = real != nullptr ? KL_String(real) : Standardize(folder);
    std::free(real);
}

bool UP_SharedFolder::Holds(const struct stat& status) const {
    return IsOpen() && status.st_dev == m_Device && status.st_ino == m_Inode;
}

KL_String UP_SharedFolder::Standardize(const char* path) {
    std::vector<std::string> kept;
    for (std::string& component : ComponentsOf(path != nullptr ? path : "")) {
        if (component == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else {
            kept.push_back(std::move(component));
        }
    }
    KL_String standardized;
    for (const std::string& component : kept) {
        standardized += "/";
        standardized += component.c_str();
    }
    return standardized.IsEmpty() ? KL_String("/") : standardized;
}

// openat2 keeps the whole walk beneath the folder in the kernel. It refuses absolute links and
// ".." above the folder (EXDEV); the walk then decides, re-rooting absolute links that lie inside.
UP_SharedFolder::Descriptor UP_SharedFolder::Open(const char* relative_path, int flags) const {
    if (!m_Root.IsValid() || relative_path == nullptr) {
        return Fail(ENOENT);
    }
    const char* path = relative_path[0] != '\0' ? relative_path : ".";
    open_how how = {};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, m_Root.Get(), path, &how, sizeof how);
    if (fd >= 0) {
        return Descriptor(static_cast<int>(fd));
    }
    if (errno != EXDEV && errno != ENOSYS) {
        return Descriptor();
    }
    return OpenByWalk(path, flags);
}

UP_SharedFolder::Descriptor UP_SharedFolder::OpenByWalk(const char* relative_path, int flags) const {
    Components pending = ComponentsOf(relative_path);
    std::vector<Descriptor> chain; // the real folders from the shared folder to the current one
    chain.emplace_back(Duplicate(m_Root.Get()));
    int links = 0;
    while (!pending.empty()) {
        if (!chain.back().IsValid()) {
            return Descriptor();
        }
        const std::string component = std::move(pending.front());
        pending.pop_front();
        if (component == "..") {
            if (chain.size() == 1) {
                return Fail(EXDEV); // above the shared folder
            }
            chain.pop_back();
            continue;
        }
        Descriptor next(::openat(chain.back().Get(), component.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next.IsValid()) {
            return Descriptor();
        }
        struct stat status {};
        if (::fstat(next.Get(), &status) != 0) {
            return Descriptor();
        }
        if (S_ISLNK(status.st_mode)) {
            if (++links > kMaximumLinks) {
                return Fail(ELOOP);
            }
            const std::string target = ReadLinkTarget(next.Get());
            if (target.empty()) {
                return Fail(ENOENT);
            }
            Components inserted;
            if (target[0] == '/') {
                const KL_String standardized = Standardize(target.c_str());
                if (!UP_MediaFolder::IsInside(m_RealPath.GetChars(), standardized.GetChars())) {
                    return Fail(EXDEV); // it leads out of the shared folder
                }
                chain.resize(1);
                inserted =
                    ComponentsOf(standardized.GetChars() + (m_RealPath == "/" ? 0 : m_RealPath.GetLength()));
            } else {
                inserted = ComponentsOf(target.c_str());
            }
            pending.insert(pending.begin(), inserted.begin(), inserted.end());
            continue;
        }
        if (pending.empty()) {
            if ((flags & O_PATH) != 0) {
                return next;
            }
            return Descriptor(
                ::openat(chain.back().Get(), component.c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
        }
        if (!S_ISDIR(status.st_mode)) {
            return Fail(ENOTDIR);
        }
        chain.push_back(std::move(next));
    }
    // The path ended on a folder (the shared folder itself, or one reached through ".." or a link).
    return Descriptor(::openat(chain.back().Get(), ".", flags | O_CLOEXEC));
}

UP_SharedFolder::Descriptor UP_SharedFolder::OpenFile(const char* relative_path, struct stat& status) const {
    Descriptor item = Open(relative_path, O_PATH);
    if (!item.IsValid()) {
        return item;
    }
    if (::fstat(item.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return Fail(ENOENT);
    }
    // Reopened through the descriptor that was checked: the same file, whatever the path names now.
    char proc_path[64];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", item.Get());
    Descriptor file(::open(proc_path, O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (!file.IsValid() && errno == ENOENT) {
        // No /proc: opened again beneath the folder, without blocking, and checked once more.
        file = Open(relative_path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
        struct stat again {};
        if (file.IsValid() && (::fstat(file.Get(), &again) != 0 || again.st_dev != status.st_dev ||
                               again.st_ino != status.st_ino)) {
            return Fail(ENOENT);
        }
        if (file.IsValid()) {
            (void)::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
        }
    }
    if (file.IsValid() && ::fstat(file.Get(), &status) != 0) {
        return Descriptor();
    }
    return file;
}
