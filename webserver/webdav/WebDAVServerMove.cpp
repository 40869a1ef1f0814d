// WebDAV's MOVE to another file system: a copy made as long work and then, under the locks,
// brought up to date and put in place, the source removed behind it entry by entry
// (WebServerMoveAcross), so no write answered meanwhile is lost. A MOVE within one file system is
// a rename (WebDAVServerTransfers.cpp).

#include "WebDAVServer.h"

#include "WebServerItemLocks.h"
#include "WebServerMoveAcross.h"
#include "WebServerSharedFolder.h"

#include "foundation/AtomicReplace.h"

using platform::AtomicReplace;

WebServerStep WebDAVServer::moveAcross(const WebServerRequest& request, bool mayReplace,
                                       platform::SharedItem source, platform::SharedItem destination,
                                       std::function<bool()> conditionsHold, TransferAnswer answer) {
    auto move = std::make_shared<WebServerMoveAcross>(SharedFolderOfRequest(request, _sharedFolder),
                                                      std::move(source), std::move(destination));
    return WebServerStep::onLongOperations([move, mayReplace, conditionsHold, answer] {
        move->copy();
        // Under the locks of source and destination: the conditions once more, the copy brought up
        // to date and put in place. The source is emptied after the locks are let go, each entry
        // under its own lock; what was written into it after the last look stays there, and the
        // move is still done.
        return WebServerStep::onFileOperations([move, mayReplace, conditionsHold, answer]() -> WebServerStep {
            Error error;
            bool replaced = false;
            auto outcome = WebDAVTransferOutcome::failed;
            auto locked = WebServerItemLocks::lock({&move->from(), &move->to()});
            if (!conditionsHold()) {
                outcome = WebDAVTransferOutcome::conditionFailed;
            } else if (move->catchUp(&error)) {
                const bool installed =
                    mayReplace
                        ? AtomicReplace::installStagedItem(move->staged(), move->to(), &replaced, &error)
                        : AtomicReplace::installStagedItemWithoutReplacing(move->staged(), move->to(),
                                                                           &error);
                outcome = installed ? WebDAVTransferOutcome::done : WebDAVTransferOutcome::failed;
            }
            locked.release();
            if (outcome == WebDAVTransferOutcome::done) {
                move->removeSource();
            }
            return answer(outcome, replaced, error);
        });
    });
}
