// The staging folder of uploads: made in the shared folder for the first upload that needs it, kept
// while uploads use it, and cleared once the last of them is done, at the latest when the server
// stops. Several servers (other processes, or a second Lanyard) may share one folder: each holds the
// lock file in the staging folder (flock, shared) while its uploads use it. A staging folder whose
// lock nobody holds was left by a server that ended during an upload: its staged files go when the
// server starts, before it accepts a connection, and again before an upload is staged (the folder
// followed may have changed since). It is only cleared under its lock taken exclusively, never
// waiting, and its lock file goes last, so a server that arrives meanwhile and takes that lock
// then sees that the lock it holds is gone.
//
// The folder may hold what the server never put there (a user's own folder of that name, or what
// another program left in it): only the server's own entries go, its staged files and its lock file,
// and the folder itself only when nothing else is left. A lock file or staging folder of another
// kind (a link, a FIFO, a socket, a device, a folder) is never opened in a way that waits, nor used.
//
// The lock is never waited for: a thread that stages an upload reads requests. A lock held
// exclusively by another program is noted, and for a moment the uploads that follow do not try it.
// When the share's staging folder cannot be used, uploads are staged in a staging folder of the
// same kind in the system's temporary folder, `lanyard-uploads-<uid>`: a folder of the user's own
// (never a link, never one another user made), closed to everyone else (0700), shared by the
// user's servers through its lock file as above, so a start clears what a killed server left there.

#include "WebUploader.h"

#include "WebServerMultiPartFormRequest.h"
#include "WebServerSharedFolder.h"

#include "foundation/FileSystem.h"
#include "foundation/TemporaryFile.h"
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

constexpr const char* kLockName = WebUploader::kStagingLockName;
// How long uploads stage elsewhere without trying a lock that another program held exclusively.
constexpr auto kRetryHeldLockAfter = std::chrono::milliseconds(500);

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

} // namespace

// Where a staging folder is: its name in an open folder (the share, or the system's temporary
// folder). The private one must be the user's own, and is kept closed to everyone else.
struct webuploader::StagingPlace {
    std::shared_ptr<SharedFolder> parent;
    std::string name;
    bool isPrivate = false;

    StagingKey key() const { return {parent->identity(), name}; }
    std::string path() const { return platform::FileSystem::appendPathComponent(parent->path(), name); }
};

using webuploader::StagingKey;
using webuploader::StagingPlace;

namespace {

// A staging folder that is the user's own (not another user's, made in a folder everyone may write
// to), closed to everyone else; one that was open to others is closed now.
bool isOwnAndClosed(int staging) {
    struct stat status {};
    if (::fstat(staging, &status) != 0 || status.st_uid != ::geteuid()) {
        errno = EPERM;
        return false;
    }
    return (status.st_mode & 077) == 0 || ::fchmod(staging, 0700) == 0;
}

// The staging folder of a place, opened (a folder, never a link); invalid with errno set.
FileDescriptor openStagingFolder(const StagingPlace& place) {
    FileDescriptor staging(::openat(place.parent->descriptor(), place.name.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (staging.valid() && place.isPrivate && !isOwnAndClosed(staging.get())) {
        return FileDescriptor();
    }
    return staging;
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

// Whether an open lock file is still the lock file of the staging folder of a place: a lock taken
// on one that a remover has since unlinked (or in a staging folder since removed) guards nothing.
bool isCurrentLock(const StagingPlace& place, int staging, int lock) {
    struct stat held {
    }, named{}, openFolder{}, namedFolder{};
    const int parent = place.parent->descriptor();
    return ::fstat(lock, &held) == 0 && ::fstatat(staging, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameItem(held, named) && ::fstat(staging, &openFolder) == 0 &&
           ::fstatat(parent, place.name.c_str(), &namedFolder, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameItem(openFolder, namedFolder);
}

// Takes the lock without waiting: false with EWOULDBLOCK when another holds it in a conflicting way.
bool lockFile(int file, int operation) {
    if (const int injected = injectedFault("lock")) {
        errno = injected;
        return false;
    }
    int result = 0;
    while ((result = ::flock(file, operation | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return result == 0;
}

// Clears the staging folder of a place unless a server holds its lock. Under the lock, taken
// exclusively without waiting, the staged files go (removed beneath its descriptor, never
// followed), then the lock file, then the folder when nothing else is left in it. A folder without
// a lock file gets one first. True when no staging folder is left.
bool removeUnheldStagingFolder(const StagingPlace& place) {
    const FileDescriptor staging = openStagingFolder(place);
    if (!staging.valid()) {
        return errno == ENOENT;
    }
    const FileDescriptor lock = openStagingLock(staging.get());
    if (!lock.valid() || !lockFile(lock.get(), LOCK_EX) || !isCurrentLock(place, staging.get(), lock.get())) {
        return false;
    }
    for (const auto& entry :
         SharedFolder::listDirectory(staging.get()).value_or(std::vector<platform::SharedDirectoryEntry>{})) {
        if (entry.status.isRegularFile() && isStagedName(entry.name)) {
            ::unlinkat(staging.get(), entry.name.c_str(), 0);
        }
    }
    ::unlinkat(staging.get(), kLockName, 0);
    return ::unlinkat(place.parent->descriptor(), place.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// Makes sure `held` holds the lock of the staging folder of a place (shared), making the folder
// and its lock file as needed. The staging folder's descriptor; invalid when it cannot be made or
// held (`heldElsewhere` set when another holds its lock exclusively).
FileDescriptor holdStagingFolder(const StagingPlace& place, FileDescriptor& held, bool& heldElsewhere) {
    // A remover may take the folder away between two steps: the next round makes it afresh. Any
    // other failure (a link or another kind of item where the folder or its lock file should be)
    // gives up at once.
    for (int round = 0; round < 8; ++round) {
        if (::mkdirat(place.parent->descriptor(), place.name.c_str(), 0700) != 0 && errno != EEXIST) {
            return FileDescriptor();
        }
        FileDescriptor staging = openStagingFolder(place);
        if (!staging.valid()) {
            if (errno == ENOENT) {
                continue;
            }
            return FileDescriptor();
        }
        if (held.valid() && isCurrentLock(place, staging.get(), held.get())) {
            return staging;
        }
        FileDescriptor lock = openStagingLock(staging.get());
        if (!lock.valid()) {
            if (errno == ENOENT) {
                continue; // the folder was removed since it was opened
            }
            return FileDescriptor();
        }
        if (!lockFile(lock.get(), LOCK_SH)) {
            heldElsewhere = errno == EWOULDBLOCK;
            return FileDescriptor();
        }
        // The lock file may have been removed (and another made) between its opening and its lock.
        if (isCurrentLock(place, staging.get(), lock.get())) {
            held = std::move(lock);
            return staging;
        }
    }
    return FileDescriptor();
}

// The private staging place in the system's temporary folder; none when that folder cannot be
// opened.
std::optional<StagingPlace> privateStagingPlace() {
    auto temporary = SharedFolder::open(platform::temporaryDirectory());
    if (!temporary) {
        return std::nullopt;
    }
    return StagingPlace{std::move(temporary),
                        std::string(WebUploader::kPrivateStagingFolderPrefix) + std::to_string(::geteuid()),
                        true};
}

constexpr const char* kStagingLeaseAttribute = "WebUploaderStagingLease";

} // namespace

// One upload's use of a staging folder, kept by its request (as an attribute) until the request
// goes, after its staged files.
class WebUploader::StagingLease {
public:
    StagingLease(std::shared_ptr<StagingUsers> users, StagingPlace place)
        : _users(std::move(users)), _place(std::move(place)) {}
    ~StagingLease() {
        std::lock_guard lock(_users->lock);
        const auto found = _users->uses.find(_place.key());
        if (found != _users->uses.end() && --found->second.count == 0) {
            // This process lets go of the folder; it is cleared unless another server holds it.
            _users->uses.erase(found);
            (void)removeUnheldStagingFolder(_place);
        }
    }
    StagingLease(const StagingLease&) = delete;
    StagingLease& operator=(const StagingLease&) = delete;

private:
    std::shared_ptr<StagingUsers> _users;
    StagingPlace _place;
};

bool WebUploader::StagingUsers::isUsed(const StagingKey& key) const {
    const auto found = uses.find(key);
    return found != uses.end() && found->second.count > 0;
}

bool WebUploader::stageUploadsIn(WebServerMultiPartFormRequest& request, const StagingPlace& place) {
    FileDescriptor staging;
    {
        // The count, the lock and the folder change together, so a folder is never removed between
        // the moment an upload made sure of it and the moment that upload ends.
        std::lock_guard lock(_stagingUsers->lock);
        StagingUse& use = _stagingUsers->uses[place.key()];
        const auto now = std::chrono::steady_clock::now();
        if (use.count == 0 && now < use.retryAt) {
            return false; // another program held its lock a moment ago
        }
        if (use.count == 0) {
            (void)removeUnheldStagingFolder(place); // a leftover nobody holds
        }
        bool heldElsewhere = false;
        staging = holdStagingFolder(place, use.lock, heldElsewhere);
        if (!staging.valid()) {
            if (heldElsewhere) {
                use.retryAt = now + kRetryHeldLockAfter;
            } else if (use.count == 0) {
                _stagingUsers->uses.erase(place.key());
            }
            return false;
        }
        ++use.count;
    }
    request.setAttribute(std::make_shared<StagingLease>(_stagingUsers, place), kStagingLeaseAttribute);
    request.setTemporaryFolder(place.path(), std::make_shared<const FileDescriptor>(std::move(staging)));
    return true;
}

void WebUploader::stageUploads(WebServerMultiPartFormRequest& request) {
    const auto folder = TakeSharedFolder(request, _sharedFolder);
    if (folder && stageUploadsIn(request, StagingPlace{folder, kStagingFolderName, false})) {
        return;
    }
    // Else the private folder in the system's temporary folder; when even that cannot be had, the
    // parts are staged in the temporary folder itself (still readable by the user only).
    if (const auto place = privateStagingPlace()) {
        (void)stageUploadsIn(request, *place);
    }
}

void WebUploader::setStagingFaultInjector(StagingFaultInjector injector) {
    std::lock_guard guard(faultInjectorLock());
    faultInjector() = std::move(injector);
}

std::shared_ptr<WebUploader::StagingUsers> WebUploader::processStagingUsers() {
    static const auto users = std::make_shared<StagingUsers>();
    return users;
}

// Clears the staging folders of the share and of the system's temporary folder that no upload of
// this process uses, unless another server holds them. A start or stop forgets which locks other
// programs held.
void WebUploader::removeUnusedStagingFolders() {
    std::vector<StagingPlace> places;
    if (auto folder = _sharedFolder.current()) {
        places.push_back(StagingPlace{std::move(folder), kStagingFolderName, false});
    }
    if (auto place = privateStagingPlace()) {
        places.push_back(std::move(*place));
    }
    std::lock_guard lock(_stagingUsers->lock);
    // What was known of other programs' locks is looked at afresh.
    std::erase_if(_stagingUsers->uses, [](const auto& use) { return use.second.count == 0; });
    for (const StagingPlace& place : places) {
        if (!_stagingUsers->isUsed(place.key())) {
            (void)removeUnheldStagingFolder(place);
        }
    }
}

void WebUploader::willStartAccepting() {
    removeUnusedStagingFolders();
}

void WebUploader::stop() {
    WebServer::stop();
    // A staging folder left from before (or by uploads that ended unusually) is cleared too, unless
    // an upload of this process or another server still uses it.
    removeUnusedStagingFolders();
}
