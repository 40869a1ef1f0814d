// The staging folder of uploads: made in the shared folder for the first upload that needs it, kept
// while uploads use it, and removed (only when empty) once the last of them is done, at the latest
// when the server stops. One found while no upload of the process uses it was left by a server
// that ended during an upload, and goes with what it holds: when the server starts, before it
// accepts a connection, and again before an upload is staged (the folder followed may have
// changed since).

#include "WebUploader.h"

#include "WebServerMultiPartFormRequest.h"
#include "WebServerSharedFolder.h"

#include "foundation/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::SharedFolder;

namespace {

// Removes the staging folder of a shared folder when it is empty: a folder that holds a file
// (one being written, or anything else) stays.
void removeStagingFolder(const SharedFolder& folder) {
    ::unlinkat(folder.descriptor(), WebUploader::kStagingFolderName, AT_REMOVEDIR);
}

// Removes a staging folder that no upload of this process uses: it was left by a server that ended
// during an upload, and only one server holds the port, so nothing is being written into it. It
// goes with everything in it, beneath the shared folder's descriptor (links in it removed, never
// followed). True when it is gone.
bool removeLeftoverStagingFolder(const SharedFolder& folder) {
    const platform::SharedItem leftover{
        platform::FileDescriptor(::fcntl(folder.descriptor(), F_DUPFD_CLOEXEC, 0)),
        WebUploader::kStagingFolderName};
    return leftover.folder.valid() && SharedFolder::removeItem(leftover);
}

// Makes the staging folder of a shared folder. With `clearLeftover` (no upload of this process uses
// it) one already there is a leftover, removed and made afresh; when it cannot be removed it serves
// as it is.
bool makeStagingFolder(const SharedFolder& folder, bool clearLeftover) {
    if (::mkdirat(folder.descriptor(), WebUploader::kStagingFolderName, 0700) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    if (clearLeftover && removeLeftoverStagingFolder(folder)) {
        ::mkdirat(folder.descriptor(), WebUploader::kStagingFolderName, 0700);
    }
    return true;
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
        const auto found = _users->counts.find(_folder->identity());
        if (found != _users->counts.end() && --found->second == 0) {
            _users->counts.erase(found);
            removeStagingFolder(*_folder);
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
    platform::FileDescriptor staging;
    {
        // The count and the folder change together, so a folder is never removed between the
        // moment an upload made sure of it and the moment that upload ends.
        std::lock_guard lock(_stagingUsers->lock);
        if (!makeStagingFolder(*folder, _stagingUsers->counts.count(folder->identity()) == 0)) {
            return;
        }
        staging.reset(::openat(folder->descriptor(), kStagingFolderName,
                               O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!staging.valid()) {
            return;
        }
        ++_stagingUsers->counts[folder->identity()];
    }
    request.setAttribute(std::make_shared<StagingLease>(_stagingUsers, folder), kStagingLeaseAttribute);
    request.setTemporaryFolder(platform::FileSystem::appendPathComponent(folder->path(), kStagingFolderName),
                               std::make_shared<const platform::FileDescriptor>(std::move(staging)));
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
    struct stat status {};
    if (_stagingUsers->counts.count(folder->identity()) == 0 &&
        ::fstatat(folder->descriptor(), kStagingFolderName, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        (void)removeLeftoverStagingFolder(*folder);
    }
}

void WebUploader::stop() {
    WebServer::stop();
    // A staging folder left from before (or by uploads that ended unusually) goes too, unless an
    // upload still uses it.
    const auto folder = _sharedFolder.current();
    if (!folder) {
        return;
    }
    std::lock_guard lock(_stagingUsers->lock);
    if (_stagingUsers->counts.count(folder->identity()) == 0) {
        removeStagingFolder(*folder);
    }
}
