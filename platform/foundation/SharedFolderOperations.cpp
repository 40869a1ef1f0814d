// The operations on items resolved beneath a shared folder: every one works on the descriptor of
// the folder that holds the item, never on a path.

#include "foundation/SharedFolder.h"

#include "foundation/FileSystemSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

namespace platform {

using namespace filesystem_detail;

std::optional<FileStatus> SharedFolder::status(const SharedItem& item, Error* error) {
    return statusAt(item.folder.get(), item.name, AT_SYMLINK_NOFOLLOW, error);
}

FileDescriptor SharedFolder::openItem(const SharedItem& item, int flags, Error* error) {
    if (const int injected = sharedFolderOpenFailure()) {
        setError(error, Error::posix(injected));
        return FileDescriptor();
    }
    FileDescriptor fd(::openat(item.folder.get(), item.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        failWithErrno(error);
    }
    return fd;
}

std::optional<std::vector<SharedDirectoryEntry>> SharedFolder::listDirectory(int directory, Error* error) {
    const int fd = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = fd == -1 ? nullptr : ::fdopendir(fd);
    if (!entries) {
        failWithErrno(error);
        if (fd != -1) {
            ::close(fd);
        }
        return std::nullopt;
    }
    std::vector<SharedDirectoryEntry> result;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(entries);
        if (!entry) {
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (auto status = statusAt(::dirfd(entries), entry->d_name, AT_SYMLINK_NOFOLLOW, nullptr)) {
            result.push_back({std::string(name), *status});
        }
    }
    const int readError = errno;
    ::closedir(entries);
    std::sort(result.begin(), result.end(),
              [](const SharedDirectoryEntry& left, const SharedDirectoryEntry& right) {
                  return left.name < right.name;
              });
    if (readError != 0) {
        setError(error, Error::posix(readError));
        return std::nullopt;
    }
    return result;
}

bool SharedFolder::createDirectory(const SharedItem& item, Error* error) {
    return ::mkdirat(item.folder.get(), item.name.c_str(), 0777) == 0 || failWithErrno(error);
}

bool SharedFolder::removeItem(const SharedItem& item, Error* error) {
    if (item.isRoot()) {
        setError(error, Error::posix(EBUSY));
        return false;
    }
    return removeTreeAt(item.folder.get(), item.name, error);
}

bool SharedFolder::renameItem(const SharedItem& from, const SharedItem& to, unsigned flags, Error* error) {
    return ::renameat2(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(), flags) == 0 ||
           failWithErrno(error);
}

bool SharedFolder::moveItemNoReplace(const SharedItem& from, const SharedItem& to, Error* error) {
    if (::renameat2(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(),
                    RENAME_NOREPLACE) == 0) {
        return true;
    }
    switch (errno) {
    case EXDEV:
        return copyItem(from, to, error) && removeItem(from, error);
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
        // File systems without the flag: a hard link refuses an existing name by itself.
        if (::linkat(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(), 0) == 0) {
            return ::unlinkat(from.folder.get(), from.name.c_str(), 0) == 0 || failWithErrno(error);
        }
        if (errno == EEXIST || status(to)) {
            setError(error, Error::posix(EEXIST));
            return false;
        }
        return renameItem(from, to, 0, error);
    default:
        return failWithErrno(error);
    }
}

namespace {

// One copy: the two folders everything is named from, and what the copy has made so far (its
// folders, so that a copy placed inside its own source is never copied again).
struct CopyRun {
    int fromBase;
    int toBase;
    const SharedFolder::NameFilter& leftOut;
    std::set<std::pair<dev_t, ino_t>> createdDirectories;
    bool createdTop = false;
};

// Notes an entry's status in the record of a copy, when there is one; false (errno set) when the
// status cannot be had.
bool noteStatus(CopiedItem* record, int folder, const char* name) {
    if (!record) {
        return true;
    }
    const auto status =
        statusAt(folder, name, name[0] == '\0' ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW, nullptr);
    if (status) {
        record->status = *status;
    }
    return status.has_value();
}

// The folder holding the last of `names`, opened beneath `base`.
FileDescriptor parentOf(int base, const std::vector<std::string>& names) {
    return FileDescriptor(openFolderChain(base, names, names.size() - 1, O_PATH));
}

bool copyEntry(CopyRun& run, std::vector<std::string>& from, std::vector<std::string>& to, Error* error,
               CopiedItem* record);

bool copyFile(int fromParent, int toParent, const std::string& fromName, const std::string& toName,
              const struct stat& info, CopyRun& run, Error* error, CopiedItem* record) {
    FileDescriptor in(::openat(fromParent, fromName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    // What is noted is the file opened, before its bytes are read: a write after it changes its time.
    if (!in.valid() || !noteStatus(record, in.get(), "")) {
        return failWithErrno(error);
    }
    FileDescriptor out(
        ::openat(toParent, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid()) {
        return failWithErrno(error);
    }
    run.createdTop = true;
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (!copyFileBytes(in.get(), out.get()) || ::fchmod(out.get(), info.st_mode & 0777) != 0 ||
        ::futimens(out.get(), times) != 0 || ::close(out.release()) != 0) {
        return failWithErrno(error);
    }
    return true;
}

bool copyLink(int fromParent, int toParent, const std::string& fromName, const std::string& toName,
              CopyRun& run, Error* error) {
    std::string target(4096, '\0');
    const ssize_t length = ::readlinkat(fromParent, fromName.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        return length < 0 ? failWithErrno(error) : (setError(error, Error::posix(ENAMETOOLONG)), false);
    }
    target.resize(static_cast<std::size_t>(length));
    if (::symlinkat(target.c_str(), toParent, toName.c_str()) != 0) {
        return failWithErrno(error);
    }
    run.createdTop = true;
    return true;
}

// The names in a folder, read and closed before anything is copied into it.
std::optional<std::vector<std::string>> folderNames(int base, const std::vector<std::string>& names,
                                                    Error* error) {
    const int fd = openFolderChain(base, names, names.size(), O_RDONLY);
    DIR* entries = fd == -1 ? nullptr : ::fdopendir(fd);
    if (!entries) {
        failWithErrno(error);
        if (fd != -1) {
            ::close(fd);
        }
        return std::nullopt;
    }
    auto result = readDirectoryNames(entries, error);
    ::closedir(entries);
    return result;
}

bool makeFolder(int toParent, const std::string& toName, CopyRun& run, Error* error) {
    if (::mkdirat(toParent, toName.c_str(), 0700) != 0) {
        return failWithErrno(error);
    }
    run.createdTop = true;
    struct stat created = {};
    if (::fstatat(toParent, toName.c_str(), &created, AT_SYMLINK_NOFOLLOW) != 0) {
        return failWithErrno(error);
    }
    run.createdDirectories.emplace(created.st_dev, created.st_ino);
    return true;
}

// No descriptor stays open while the entries are copied: a tree of any depth is copied with a few
// descriptors at a time.
bool copyFolder(const struct stat& info, CopyRun& run, std::vector<std::string>& from,
                std::vector<std::string>& to, Error* error, CopiedItem* record) {
    const std::string toName = to.back();
    auto names = folderNames(run.fromBase, from, error);
    if (!names) {
        return false;
    }
    FileStatus folderStatus;
    if (run.leftOut) {
        FileDescriptor fromParent = parentOf(run.fromBase, from);
        auto status = fromParent.valid() ? statusAt(fromParent.get(), from.back(), AT_SYMLINK_NOFOLLOW, error)
                                         : std::nullopt;
        if (!status) {
            return fromParent.valid() ? false : failWithErrno(error);
        }
        folderStatus = *status;
    }
    {
        FileDescriptor toParent = parentOf(run.toBase, to);
        if (!toParent.valid()) {
            return failWithErrno(error);
        }
        if (!makeFolder(toParent.get(), toName, run, error)) {
            return false;
        }
    }
    for (const std::string& name : *names) {
        if (run.leftOut && run.leftOut(folderStatus, name)) {
            continue;
        }
        from.push_back(name);
        to.push_back(name);
        const bool copied = copyEntry(run, from, to, error, record ? &record->entries[name] : nullptr);
        from.pop_back();
        to.pop_back();
        if (!copied) {
            return false;
        }
    }
    // The descriptor of the folder that holds the copy is opened again: the entries above may
    // have needed every descriptor meanwhile.
    FileDescriptor parent = parentOf(run.toBase, to);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (!parent.valid() || ::fchmodat(parent.get(), toName.c_str(), info.st_mode & 0777, 0) != 0 ||
        ::utimensat(parent.get(), toName.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        return failWithErrno(error);
    }
    return true;
}

// Copies the item named by `from` (below the source base) to `to` (below the destination base).
// No descriptor is held across the recursion.
bool copyEntry(CopyRun& run, std::vector<std::string>& from, std::vector<std::string>& to, Error* error,
               CopiedItem* record) {
    FileDescriptor fromParent = parentOf(run.fromBase, from);
    FileDescriptor toParent = parentOf(run.toBase, to);
    if (!fromParent.valid() || !toParent.valid()) {
        return failWithErrno(error);
    }
    const std::string& fromName = from.back();
    const std::string& toName = to.back();
    struct stat info = {};
    if (::fstatat(fromParent.get(), fromName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return failWithErrno(error);
    }
    if ((info.st_mode & S_IFMT) != S_IFREG && !noteStatus(record, fromParent.get(), fromName.c_str())) {
        return failWithErrno(error);
    }
    switch (info.st_mode & S_IFMT) {
    case S_IFREG:
        return copyFile(fromParent.get(), toParent.get(), fromName, toName, info, run, error, record);
    case S_IFLNK:
        return copyLink(fromParent.get(), toParent.get(), fromName, toName, run, error);
    case S_IFDIR: {
        if (run.createdDirectories.count({info.st_dev, info.st_ino})) {
            return true; // the copy itself, reached through its source
        }
        fromParent.reset();
        toParent.reset();
        return copyFolder(info, run, from, to, error, record);
    }
    case S_IFIFO:
        if (::mkfifoat(toParent.get(), toName.c_str(), info.st_mode & 0777) != 0) {
            return failWithErrno(error);
        }
        run.createdTop = true;
        return true;
    default:
        setError(error, Error::posix(ENOTSUP)); // sockets and devices are not copied
        return false;
    }
}

} // namespace

bool SharedFolder::copyItem(const SharedItem& from, const SharedItem& to, Error* error,
                            const NameFilter& leftOut, CopiedItem* record) {
    CopyRun run{from.folder.get(), to.folder.get(), leftOut, {}, false};
    std::vector<std::string> fromNames{from.name};
    std::vector<std::string> toNames{to.name};
    if (copyEntry(run, fromNames, toNames, error, record)) {
        return true;
    }
    if (run.createdTop) {
        removeTreeAt(to.folder.get(), to.name, nullptr);
    }
    return false;
}

} // namespace platform
