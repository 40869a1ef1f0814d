#include "WebServerMoveAcross.h"

#include "WebServerItemLocks.h"

#include "foundation/AtomicReplace.h"

#include <fcntl.h>

#include <cerrno>
#include <mutex>

using platform::AtomicReplace;
using platform::SharedFolder;
using platform::SharedItem;

namespace {

// Rounds of catching up after the first copy: without the locks (most of what was written during
// a long copy is taken here), then under them, where the last one must find nothing new.
constexpr int kRoundsWithoutLocks = 3;
constexpr int kRoundsUnderLocks = 5;

std::mutex& hookLock() {
    static std::mutex lock;
    return lock;
}

WebServerMoveAcross::StepHook& hook() {
    static WebServerMoveAcross::StepHook value;
    return value;
}

} // namespace

bool IsServersOwnItem(const SharedFolder& share, const platform::FileStatus& folder, std::string_view name) {
    return AtomicReplace::isStagingName(name) || (name == kWebServerUploadsFolderName && share.holds(folder));
}

SharedFolder::NameFilter ServersOwnItems(std::shared_ptr<const SharedFolder> share) {
    return [share = std::move(share)](const platform::FileStatus& folder, std::string_view name) {
        return share ? IsServersOwnItem(*share, folder, name) : AtomicReplace::isStagingName(name);
    };
}

WebServerMoveAcross::WebServerMoveAcross(std::shared_ptr<const SharedFolder> share, SharedItem from,
                                         SharedItem to)
    : _share(std::move(share)), _from(std::move(from)), _to(std::move(to)) {}

WebServerMoveAcross::~WebServerMoveAcross() {
    discard();
}

bool WebServerMoveAcross::isAcross(const SharedItem& from, const SharedItem& to) {
    const auto source = SharedFolder::status(from);
    const auto destinationFolder = platform::FileSystem::statusOfDescriptor(to.folder.get());
    return source && destinationFolder && source->device != destinationFolder->device;
}

void WebServerMoveAcross::setStepHook(StepHook newHook) {
    std::lock_guard<std::mutex> guard(hookLock());
    hook() = std::move(newHook);
}

bool WebServerMoveAcross::hookFails(std::string_view step, Error* error) const {
    StepHook current;
    {
        std::lock_guard<std::mutex> guard(hookLock());
        current = hook();
    }
    const int errorNumber = current ? current(step) : 0;
    if (errorNumber != 0) {
        platform::setError(error, Error::posix(errorNumber));
    }
    return errorNumber != 0;
}

void WebServerMoveAcross::discard() {
    if (_staged && !_installed) {
        SharedFolder::removeItem(*_staged);
    }
    _staged.reset();
}

bool WebServerMoveAcross::copy() {
    const auto leftOut = ServersOwnItems(_share);
    _staged = AtomicReplace::copyBeside(_from, _to, &_copyError, leftOut, &_record);
    if (!_staged || hookFails("copied", &_copyError)) {
        discard();
        return false;
    }
    for (int round = 0; round < kRoundsWithoutLocks; ++round) {
        const auto changes = SharedFolder::copyChanges(_from, *_staged, _record, &_copyError, leftOut);
        if (!changes) {
            discard();
            return false;
        }
        if (*changes == 0) {
            break;
        }
    }
    return true;
}

bool WebServerMoveAcross::catchUp(Error* error) {
    if (!_staged) {
        platform::setError(error, _copyError);
        return false;
    }
    const auto leftOut = ServersOwnItems(_share);
    for (int round = 0; round < kRoundsUnderLocks; ++round) {
        const auto changes = hookFails("look", error)
                                 ? std::nullopt
                                 : SharedFolder::copyChanges(_from, *_staged, _record, error, leftOut);
        if (!changes) {
            break;
        }
        if (*changes == 0) {
            if (hookFails("caught up", error)) {
                break;
            }
            return true;
        }
        if (round + 1 == kRoundsUnderLocks) {
            platform::setError(error, Error::posix(EAGAIN)); // never still: the source is left whole
        }
    }
    discard();
    return false;
}

bool WebServerMoveAcross::removeSource() {
    _installed = true;
    _staged.reset();
    return SharedFolder::removeCopied(_from, _record,
                                      [](const SharedItem& item, const std::function<void()>& step) {
                                          auto locked = WebServerItemLocks::lock({&item});
                                          step();
                                      });
}
