#pragma once

// The removal of an item of a shared folder by a handler that works in steps: the part that needs
// the item's lock is quick, and the removal of a folder's contents, however many, runs after it on
// the long-operations pool without the lock.

#include "WebServerHandler.h"
#include "WebServerItemLocks.h"

#include "foundation/Error.h"
#include "foundation/SharedFolder.h"

#include <functional>
#include <memory>

// Turns the outcome of a removal into the answer: done, or failed with the error (ENOENT: the item
// went meanwhile).
using WebServerRemovalAnswerBlock =
    std::function<std::shared_ptr<WebServerResponse>(bool removed, const Error& error)>;

// Removes an item whose lock the caller holds (its conditions looked at under it). A file or a link
// is removed at once. A folder is renamed to a hidden name beside it at once, so it is gone from its
// name before the lock is let go, and then removed with everything in it on the long-operations
// pool; should that fail part way, what is left goes back under its name unless something has taken
// it meanwhile.
WebServerStep RemoveLockedItem(const platform::SharedItem& item, WebServerItemLocks::Guard locked,
                               WebServerRemovalAnswerBlock answer);
