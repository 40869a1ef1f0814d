// WebDAV's MOVE: a rename within one file system, done at once; to another file system, a copy
// made as long work and then, under the locks, brought up to date and put in place, the source
// removed behind it entry by entry (WebServerMoveAcross), so no write answered meanwhile is lost.

#include "WebDAVPreconditions.h"
#include "WebDAVServer.h"
#include "WebDAVServerSupport.h"

#include "WebServerItemLocks.h"
#include "WebServerMoveAcross.h"
#include "WebServerSharedFolder.h"

#include "foundation/AtomicReplace.h"

using platform::AtomicReplace;
using namespace webdav_detail;

WebServerFileOperation WebDAVServer::performMOVE(const std::shared_ptr<WebServerRequest>& request) {
    std::optional<Transfer> checked;
    if (auto refusal = checkTransfer(*request, true, &checked)) {
        return {refusal, {}, {}};
    }
    if (!WebServerMoveAcross::isAcross(checked->source.item, checked->destination.item)) {
        return {transferItem(*request, true, *checked), {}, {}};
    }
    auto move = std::make_shared<WebServerMoveAcross>(SharedFolderOfRequest(*request, _sharedFolder),
                                                      std::move(checked->source.item),
                                                      std::move(checked->destination.item));
    auto transfer = std::make_shared<Transfer>(std::move(*checked));
    auto self = std::static_pointer_cast<WebDAVServer>(shared_from_this());
    // The request outlives both steps: the handler keeps it until the last has run.
    const WebServerRequest* moving = request.get();
    return {nullptr, [move] { move->copy(); },
            [self, move, transfer, moving] { return self->finishMoveAcross(*moving, *transfer, *move); }};
}

// Under the locks of source and destination: the conditions once more, the copy brought up to
// date and put in place. The source is emptied after the locks are let go, each entry under its
// own lock; what was written into it after the last look stays there, and the move is still done.
std::shared_ptr<WebServerResponse> WebDAVServer::finishMoveAcross(const WebServerRequest& request,
                                                                  const Transfer& transfer,
                                                                  WebServerMoveAcross& move) {
    Error error;
    bool replaced = false;
    auto outcome = WebDAVTransferOutcome::failed;
    auto locked = WebServerItemLocks::lock({&move.from(), &move.to()});
    if (!preconditionsHold(request.headers(), servedStatus(request))) {
        outcome = WebDAVTransferOutcome::conditionFailed;
    } else if (move.catchUp(&error)) {
        const bool installed =
            transfer.mayReplace
                ? AtomicReplace::installStagedItem(move.staged(), move.to(), &replaced, &error)
                : AtomicReplace::installStagedItemWithoutReplacing(move.staged(), move.to(), &error);
        outcome = installed ? WebDAVTransferOutcome::done : WebDAVTransferOutcome::failed;
    }
    locked.release();
    if (outcome == WebDAVTransferOutcome::done) {
        move.removeSource();
    }
    return transferAnswer(request, true, transfer, outcome, error, replaced);
}
