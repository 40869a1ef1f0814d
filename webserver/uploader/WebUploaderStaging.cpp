// The staging folder of uploads: made in the shared folder for the first upload that needs it, kept
// while uploads use it, and removed (only when empty) once the last of them is done, at the latest
// when the server stops.

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
        if (::mkdirat(folder->descriptor(), kStagingFolderName, 0700) != 0 && errno != EEXIST) {
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
