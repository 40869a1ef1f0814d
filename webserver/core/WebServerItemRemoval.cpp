#include "WebServerItemRemoval.h"

#include "foundation/AtomicReplace.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

using platform::AtomicReplace;
using platform::SharedFolder;
using platform::SharedItem;

WebServerStep RemoveLockedItem(const SharedItem& item, WebServerItemLocks::Guard locked,
                               WebServerRemovalAnswerBlock answer) {
    Error error;
    struct stat status {};
    if (::fstatat(item.folder.get(), item.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return answer(false, Error::posix(errno));
    }
    if (!S_ISDIR(status.st_mode)) {
        const bool removed = SharedFolder::removeItem(item, &error);
        locked.release();
        return answer(removed, error);
    }
    auto aside = AtomicReplace::moveAside(item, &error);
    locked.release();
    if (!aside) {
        return answer(false, error);
    }
    auto held = std::make_shared<SharedItem>(std::move(*aside));
    return WebServerStep::onLongOperations(
        [held, name = item.name, answer = std::move(answer)]() -> WebServerStep {
            Error removeError;
            const bool removed = AtomicReplace::removeAside(*held, name, &removeError);
            return answer(removed, removeError);
        });
}
