#include "foundation/FollowedSharedFolder.h"

#include <cerrno>

namespace platform {

std::shared_ptr<SharedFolder> FollowedSharedFolder::current(Error* error) const {
    const auto status = FileSystem::statusOfItemFollowingLinks(_path, error);
    std::shared_ptr<SharedFolder> released; // closed outside the lock
    {
        std::lock_guard lock(_lock);
        if (status && _folder && _folder->holds(*status)) {
            return _folder;
        }
        // The path no longer names the folder held: it is let go (a folder gone, or on a stick
        // taken away, is not kept busy).
        released = std::move(_folder);
    }
    if (!status || !status->isDirectory()) {
        if (status) {
            setError(error, Error::posix(ENOTDIR));
        }
        return nullptr;
    }
    auto opened = SharedFolder::open(_path, error);
    if (!opened) {
        return nullptr;
    }
    std::lock_guard lock(_lock);
    if (!_folder) {
        _folder = opened; // unless another request opened it first
    }
    return _folder;
}

} // namespace platform
