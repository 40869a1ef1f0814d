#pragma once

#include "foundation/SharedFolder.h"

#include <memory>
#include <mutex>
#include <string>

namespace platform {

// A shared folder followed by its path: the folder is kept open, and each time it is asked for,
// one stat of the path tells whether the path still names the folder the descriptor holds (same
// device and inode). When the path names another folder (the folder was replaced, or came back
// after it was gone) that one is opened; when it names no folder there is none. Whoever took the
// folder before keeps that descriptor for as long as it holds it.
//
// Thread-safe.
class FollowedSharedFolder {
public:
    explicit FollowedSharedFolder(std::string path) : _path(std::move(path)) {}

    const std::string& path() const { return _path; }

    // The folder the path names now; none, with the error, when it names no folder.
    std::shared_ptr<SharedFolder> current(Error* error = nullptr) const;

private:
    std::string _path;
    mutable std::mutex _lock;
    mutable std::shared_ptr<SharedFolder> _folder;
};

} // namespace platform
