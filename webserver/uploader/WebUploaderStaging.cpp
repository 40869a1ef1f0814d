// The staging folder of uploads: made in the shared folder for the first upload that needs it, kept
// while uploads use it, and cleared once the last of them is done, at the latest when the server
// stops. Several servers (other processes, or a second Lanyard) may share one folder: each holds the
// lock file in the staging folder (flock, shared) while its uploads use it. A staging folder whose
// lock nobody holds was left by a server that ended during an upload: its staged files go when the
// server starts, before it accepts a connection, and again before an upload is staged (the folder
// followed may have changed since). It is only cleared under its lock taken exclusively, never
// waiting, and its lock file goes last, so a server that arrives meanwhile waits on that lock and
// then sees that the lock it holds is gone.
//
// The folder may hold what the server never put there (a user's own folder of that name, or what
// another program left in it): only the server's own entries go, its staged files and its lock file,
// and the folder itself only when nothing else is left. A lock file or staging folder of another
// kind (a link, a FIFO, a socket, a device, a folder) is never opened in a way that waits, nor used:
// uploads are then staged in the system's temporary folder.

#include "WebUploader.h"

#include "WebServerMultiPartFormRequest.h"
#include "WebServerSharedFolder.h"

#include "foundation/FileSystem.h"
#include "foundation/Uuid.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::FileDescriptor;
using platform::SharedFolder;

namespace {

constexpr const char* kStagingName = WebUploader::kStagingFolderName;
constexpr const char* kLockName = WebUploader::kStagingLockName;

std::mutex& faultInjectorLock() {
    static std::mutex lock;
    return lock;
}

WebUploader::StagingFaultInjector& faultInjector() {
    static WebUploader::StagingFaultInjector injector;
    return injector;
}

// The error number the installed injector fails this step with; 0 to let it run.
int injectedFault(std::string_view step) {
    WebUploader::StagingFaultInjector injector;
    {
        std::lock_guard guard(faultInjectorLock());
        injector = faultInjector();
    }
    return injector ? injector(step) : 0;
}

// The staging folder of a shared folder, opened (a folder, never a link); invalid with errno set.
FileDescriptor openStagingFolder(const SharedFolder& folder) {
    return FileDescriptor(::openat(folder.descriptor(), kStagingName,
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

// The lock file of an open staging folder, made when missing; invalid with errno set (EINVAL when
// the name holds something other than a regular file). Opened without waiting, whatever holds the
// name: a FIFO opens at once, a socket or link is refused.
FileDescriptor openStagingLock(int staging) {
    FileDescriptor lock(::openat(staging, kLockName,
                                 O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    struct stat status {};
    if (lock.valid() && (::fstat(lock.get(), &status) != 0 || !S_ISREG(status.st_mode))) {
        errno = EINVAL;
        return FileDescriptor();
    }
    return lock;
}

// A name the server gives a staged file: a UUID in upper-case hexadecimal (8-4-4-4-12), alone or
// after the prefix of files staged beside their target.
bool isStagedName(std::string_view name) {
    constexpr std::string_view kPrefix = ".lanyard-staging-";
    if (name.substr(0, kPrefix.size()) == kPrefix) {
        name.remove_prefix(kPrefix.size());
    }
    return platform::isUuidString(name);
}

bool sameItem(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Whether an open lock file is still the lock file of the staging folder of `folder`: a lock taken
// on one that a remover has since unlinked (or in a staging folder since removed) guards nothing.
bool isCurrentLock(const SharedFolder& folder, int staging, int lock) {
    struct stat held {
    }, named{}, openFolder{}, namedFolder{};
    return ::fstat(lock, &held) == 0 && ::fstatat(staging, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameItem(held, named) && ::fstat(staging, &openFolder) == 0 &&
           ::fstatat(folder.descriptor(), kStagingName, &namedFolder, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameItem(openFolder, namedFolder);
}

int lockFile(int file, int operation) {
    if (const int injected = injectedFault("lock")) {
        errno = injected;
        return -1;
    }
    int result = 0;
    while ((result = ::flock(file, operation)) != 0 && errno == EINTR) {
    }
    return result;
}

// Takes the lock shared. A remover holds it exclusively only while it removes a leftover, so this
// waits a little (never without bound: the system's temporary folder serves meanwhile).
bool lockShared(int file) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (lockFile(file, LOCK_SH | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK) {
            return false;
        }
        ::usleep(5000);
    }
    return false;
}

// Clears the staging folder of a shared folder unless a server holds its lock. Under the lock,
// taken exclusively without waiting, the staged files go (removed beneath its descriptor, never
// followed), then the lock file, then the folder when nothing else is left in it. A folder without
// a lock file gets one first. True when no staging folder is left.
bool removeUnheldStagingFolder(const SharedFolder& folder) {
    const FileDescriptor staging = openStagingFolder(folder);
    if (!staging.valid()) {
        return errno == ENOENT;
    }
    const FileDescriptor lock = openStagingLock(staging.get());
    if (!lock.valid() || lockFile(lock.get(), LOCK_EX | LOCK_NB) != 0 ||
        !isCurrentLock(folder, staging.get(), lock.get())) {
        return false;
    }
    for (const auto& entry :
         SharedFolder::listDirectory(staging.get()).value_or(std::vector<platform::SharedDirectoryEntry>{})) {
        if (entry.status.isRegularFile() && isStagedName(entry.name)) {
            ::unlinkat(staging.get(), entry.name.c_str(), 0);
        }
    }
    ::unlinkat(staging.get(), kLockName, 0);
    return ::unlinkat(folder.descriptor(), kStagingName, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// Makes sure `held` holds the lock of the staging folder of `folder` (shared), making the folder
// and its lock file as needed. The staging folder's descriptor; invalid when it cannot be made or
// held.
FileDescriptor holdStagingFolder(const SharedFolder& folder, FileDescriptor& held) {
    // A remover may take the folder away between two steps: the next round makes it afresh. Any
    // other failure (a link or another kind of item where the folder or its lock file should be)
    // gives up at once.
    for (int round = 0; round < 8; ++round) {
        if (::mkdirat(folder.descriptor(), kStagingName, 0700) != 0 && errno != EEXIST) {
            return FileDescriptor();
        }
        FileDescriptor staging = openStagingFolder(folder);
        if (!staging.valid()) {
            if (errno == ENOENT) {
                continue;
            }
            return FileDescriptor();
        }
        if (held.valid() && isCurrentLock(folder, staging.get(), held.get())) {
            return staging;
        }
        FileDescriptor lock = openStagingLock(staging.get());
        if (!lock.valid()) {
            if (errno == ENOENT) {
                continue; // the folder was removed since it was opened
            }
            return FileDescriptor();
        }
        if (!lockShared(lock.get())) {
            return FileDescriptor();
        }
        if (isCurrentLock(folder, staging.get(), lock.get())) {
            held = std::move(lock);
            return staging;
        }
    }
    return FileDescriptor();
}

constexpr const char* kStagingLeaseAttribute = "WebUploaderStagingLease";

} // namespace

// One upload's use of the staging folder, kept by its request (as an attribute) until the request
// goes, after its staged files.
class WebUploader::StagingLease {
public:
    StagingLease(std::shared_ptr<StagingUsers> users, std::shared_ptr<SharedFolder> folder)
        : _users(std::move(users)), _folder(std::move(folder)) {}
    ~StagingLease() {
        std::lock_guard lock(_users->lock);
        const auto found = _users->uses.find(_folder->identity());
        if (found != _users->uses.end() && --found->second.count == 0) {
            // This process lets go of the folder; it is cleared unless another server holds it.
            _users->uses.erase(found);
            (void)removeUnheldStagingFolder(*_folder);
        }
    }
    StagingLease(const StagingLease&) = delete;
    StagingLease& operator=(const StagingLease&) = delete;

private:
    std::shared_ptr<StagingUsers> _users;
    std::shared_ptr<SharedFolder> _folder;
};

void WebUploader::stageUploads(WebServerMultiPartFormRequest& request) {
    const auto folder = TakeSharedFolder(request, _sharedFolder);
    if (!folder) {
        return;
    }
    FileDescriptor staging;
    {
        // The count, the lock and the folder change together, so a folder is never removed between
        // the moment an upload made sure of it and the moment that upload ends.
        std::lock_guard lock(_stagingUsers->lock);
        StagingUse& use = _stagingUsers->uses[folder->identity()];
        if (use.count == 0) {
            (void)removeUnheldStagingFolder(*folder); // a leftover nobody holds
        }
        staging = holdStagingFolder(*folder, use.lock);
        if (!staging.valid()) {
            if (use.count == 0) {
                _stagingUsers->uses.erase(folder->identity());
            }
            return;
        }
        ++use.count;
    }
    request.setAttribute(std::make_shared<StagingLease>(_stagingUsers, folder), kStagingLeaseAttribute);
    request.setTemporaryFolder(platform::FileSystem::appendPathComponent(folder->path(), kStagingFolderName),
                               std::make_shared<const FileDescriptor>(std::move(staging)));
}

void WebUploader::setStagingFaultInjector(StagingFaultInjector injector) {
    std::lock_guard guard(faultInjectorLock());
    faultInjector() = std::move(injector);
}

std::shared_ptr<WebUploader::StagingUsers> WebUploader::processStagingUsers() {
    static const auto users = std::make_shared<StagingUsers>();
    return users;
}

void WebUploader::willStartAccepting() {
    const auto folder = _sharedFolder.current();
    if (!folder) {
        return;
    }
    std::lock_guard lock(_stagingUsers->lock);
    if (_stagingUsers->uses.count(folder->identity()) == 0) {
        (void)removeUnheldStagingFolder(*folder);
    }
}

void WebUploader::stop() {
    WebServer::stop();
    // A staging folder left from before (or by uploads that ended unusually) is cleared too, unless
    // an upload of this process or another server still uses it.
    const auto folder = _sharedFolder.current();
    if (!folder) {
        return;
    }
    std::lock_guard lock(_stagingUsers->lock);
    if (_stagingUsers->uses.count(folder->identity()) == 0) {
        (void)removeUnheldStagingFolder(*folder);
    }
}
