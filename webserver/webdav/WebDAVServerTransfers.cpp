// The WebDAV methods that write items: PUT, COPY and MOVE. Each builds the new item aside and swaps
// it in with one rename (AtomicReplace), so a failure leaves what was there before in place.

#include "WebDAVPreconditions.h"
#include "WebDAVServer.h"
#include "WebDAVServerSupport.h"

#include "WebServerErrorResponse.h"
#include "WebServerFileRequest.h"
#include "WebServerFunctions.h"
#include "WebServerItemLocks.h"
#include "WebServerMoveAcross.h"
#include "WebServerSharedFolder.h"

#include "foundation/AtomicReplace.h"
#include "foundation/CaseInsensitive.h"
#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"
#include "foundation/Url.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string_view>

using platform::AtomicReplace;
using platform::FileSystem;
using platform::SharedFolder;
using namespace webdav_detail;

namespace {

// The uploaded file as an item: beside its target when the request staged it there, else in the
// system's temporary folder. The body's file is never made afresh: one that has gone meanwhile
// (removed by another program, or with its folder), or that is no longer the file written whole,
// fails the PUT, rather than an empty or cut file taking the target's place. A PUT without a body has no file
// yet: an empty one is made now, under its fresh name.
std::optional<platform::SharedItem> uploadedItem(const WebServerFileRequest& request, Error* error) {
    std::optional<platform::SharedItem> item;
    if (request.temporaryFolderDescriptor() != -1) {
        platform::FileDescriptor folder(::fcntl(request.temporaryFolderDescriptor(), F_DUPFD_CLOEXEC, 0));
        if (!folder.valid()) {
            platform::setError(error, Error::posix(errno));
            return std::nullopt;
        }
        item = platform::SharedItem{std::move(folder), request.temporaryName()};
    } else {
        item = SharedFolder::itemAtPath(request.temporaryPath(), error);
        if (!item) {
            return std::nullopt;
        }
    }
    bool present = false;
    if (!request.hasFile()) {
        present = SharedFolder::openItem(*item, O_WRONLY | O_CREAT | O_EXCL, error).valid();
    } else {
        // Still the file the body went into, with all of it: not one made again under its name,
        // nor one cut meanwhile. Private while it was received, it becomes a file of the user's.
        present = request.storedFile().publishAt(item->folder.get(), item->name.c_str());
        if (!present) {
            platform::setError(error, Error::posix(errno));
        }
    }
    if (!present) {
        return std::nullopt;
    }
    return item;
}

std::string withoutBrackets(std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return host;
}

// True when the URL's authority names this server as the Host header does: the host without
// regard to case, a missing port standing for the scheme's default.
bool isSameServer(const platform::Url& url, const std::string& hostHeader) {
    const auto hostUrl = platform::Url::parse(url.scheme() + "://" + hostHeader + "/");
    if (!hostUrl) {
        return false;
    }
    const int defaultPort = platform::equalsIgnoringCase(url.scheme(), "https") ? 443 : 80;
    const int port = url.port() == -1 ? defaultPort : url.port();
    const int hostPort = hostUrl->port() == -1 ? defaultPort : hostUrl->port();
    return port == hostPort &&
           platform::equalsIgnoringCase(withoutBrackets(url.host()), withoutBrackets(hostUrl->host()));
}

// The last step of a COPY, and of a MOVE within one file system. Under the locks of source and
// destination the conditions are looked at once more and the item goes in, so no other writer of
// this process changes either item in between. A copy is built beside the destination before,
// without the locks (on the long pool, apart from the quick writes): a long copy never holds up the
// writers of either item. (A move to another file system is WebServerMoveAcross's, see
// WebDAVServerMove.cpp.)
struct Transfer {
    using Outcome = WebDAVTransferOutcome;

    bool isMove;
    bool mayReplace;
    const platform::SharedItem& from;
    const platform::SharedItem& to;
    SharedFolder::NameFilter leftOut = {};

    // The long half: the copy beside the destination (none for a move, which renames).
    bool stage(std::optional<platform::SharedItem>& staged, Error* error) const {
        if (!isMove) {
            staged = AtomicReplace::copyBeside(from, to, error, leftOut);
            return staged.has_value();
        }
        return true;
    }

    // The quick half, under the locks; a staged copy that does not go in is removed.
    Outcome finish(std::optional<platform::SharedItem>& staged, const std::function<bool()>& conditionsHold,
                   bool* replaced, Error* error, std::optional<platform::SharedItem>* old = nullptr) const {
        auto locked = WebServerItemLocks::lock({&from, &to});
        Outcome outcome = Outcome::conditionFailed;
        if (conditionsHold()) {
            outcome = install(staged, replaced, error, old) ? Outcome::done : Outcome::failed;
        }
        locked.release();
        if (staged && outcome != Outcome::done) {
            SharedFolder::removeItem(*staged);
        }
        staged.reset();
        return outcome;
    }

    Outcome run(const std::function<bool()>& conditionsHold, bool* replaced, Error* error) const {
        std::optional<platform::SharedItem> staged;
        if (!stage(staged, error)) {
            return Outcome::failed;
        }
        return finish(staged, conditionsHold, replaced, error);
    }

    // A COPY that replaces an item leaves it in `old`, swapped out, for its caller to remove.
    bool install(std::optional<platform::SharedItem>& staged, bool* replaced, Error* error,
                 std::optional<platform::SharedItem>* old = nullptr) const {
        if (!staged) {
            return mayReplace ? AtomicReplace::replaceWithMove(from, to, replaced, error)
                              : AtomicReplace::moveWithoutReplacing(from, to, error);
        }
        if (mayReplace && old) {
            bool leftOld = false;
            const bool installed =
                AtomicReplace::installStagedItemLeavingOld(*staged, to, replaced, &leftOld, error);
            if (leftOld) {
                *old = std::move(staged); // the old item, under the staged name now
            }
            return installed;
        }
        return mayReplace ? AtomicReplace::installStagedItem(*staged, to, replaced, error)
                          : AtomicReplace::installStagedItemWithoutReplacing(*staged, to, error);
    }
};

// The answer of a COPY or MOVE that did not go through; none when it did.
std::shared_ptr<WebServerResponse> failedTransfer(const WebServerRequest& request, Transfer::Outcome outcome,
                                                  bool mayReplace, const Error& error,
                                                  const std::string& destinationRelativePath) {
    if (outcome == Transfer::Outcome::done) {
        return nullptr;
    }
    if (outcome == Transfer::Outcome::conditionFailed) {
        return preconditionFailed(request);
    }
    if (!mayReplace && error.code == EEXIST) {
        return WebServerErrorResponse::responseWithClientError(412, "Destination \"%@\" already exists",
                                                               {destinationRelativePath});
    }
    if (error.code == ENOENT) { // the source went meanwhile
        return doesNotExist(request);
    }
    if (IsOutOfSpace(error)) {
        return WebServerErrorResponse::responseWithServerError(507, error, "Failed copying \"%@\" to \"%@\"",
                                                               {request.path(), destinationRelativePath});
    }
    if (error.code == EAGAIN) { // a move whose source was written to all along: nothing was moved
        auto response = WebServerErrorResponse::responseWithServerError(
            503, error, "\"%@\" kept changing while it was being moved", {request.path()});
        response->setValueForAdditionalHeader("2", "Retry-After"); // once its writers are done
        return response;
    }
    NoteResourceShortage(request, error);
    return WebServerErrorResponse::responseWithClientError(403, error, "Failed copying \"%@\" to \"%@\"",
                                                           {request.path(), destinationRelativePath});
}

// What a COPY's last step needs once the request's first step is over.
struct CopyState {
    std::optional<platform::SharedItem> staged;
    platform::SharedItem source;
    platform::SharedItem destination;
    ~CopyState() {
        if (staged) { // the last step never ran
            SharedFolder::removeItem(*staged);
        }
    }
};

} // namespace

// The checks of a PUT that need no body, in the order of its table; they run on the head (so a
// refused PUT gets its answer before "100 Continue") and again once the body is there.
std::shared_ptr<WebServerResponse> WebDAVServer::checkPUT(const WebServerRequest& request,
                                                          std::optional<platform::SharedItem>* target) {
    // A partial body (Content-Range) would replace the whole file with a piece of it.
    if (request.hasByteRange() || HeaderValue(request.headers(), "Content-Range")) {
        return WebServerErrorResponse::responseWithClientError(400, "Range uploads not supported");
    }
    if (auto refusal = RefusedItemPath(request.path(), "File name")) {
        return refusal;
    }
    Error resolveError;
    auto item = resolveItem(request, request.path(), false, &resolveError);
    if (!item) {
        return isMissingFolder(resolveError)
                   ? WebServerErrorResponse::responseWithClientError(
                         409, "Missing intermediate collection(s) for \"%@\"", {request.path()})
                   : doesNotExist(request);
    }
    const auto served = servedStatus(request);
    if (item->isRoot() || (served && served->isDirectory())) {
        return WebServerErrorResponse::responseWithClientError(
            405, "PUT not allowed on existing collection \"%@\"", {request.path()});
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(absolutePath(request.path())) || !checkFileExtension(name)) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Uploading file name \"%@\" is not allowed", {name});
    }
    // On the head the conditions are a first look, so a PUT bound to fail sends no body; the
    // answer that counts is given under the item's lock, just before the file goes in.
    if (!target && !preconditionsHold(request.headers(), served)) {
        return preconditionFailed(request);
    }
    if (target) {
        *target = std::move(item);
    }
    return nullptr;
}

std::shared_ptr<WebServerResponse> WebDAVServer::performPUT(const WebServerFileRequest& request) {
    // Whatever the answer, the staged body is gone before it is given (moved into place, or
    // removed), so a client never sees it beside the target.
    struct RemoveStaged {
        const WebServerFileRequest& request;
        ~RemoveStaged() {
            if (request.temporaryFolderDescriptor() != -1) {
                ::unlinkat(request.temporaryFolderDescriptor(), request.temporaryName().c_str(), 0);
            }
        }
    } removeStaged{request};
    std::optional<platform::SharedItem> item;
    if (auto refusal = checkPUT(request, &item)) {
        return refusal;
    }
    const std::string path = absolutePath(request.path());
    if (!shouldUploadFileAtPath(path, request.temporaryPath())) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Uploading file to \"%@\" is not permitted", {request.path()});
    }
    Error error;
    bool replaced = false;
    // The conditions and the replacement are one step for every writer of the item in this
    // process. "If-None-Match: *" creates only: the last step never replaces, so a file that
    // appears meanwhile from elsewhere stays too. The body's file is looked at last, right before
    // it goes in.
    auto locked = WebServerItemLocks::lock({&*item});
    const auto uploaded = uploadedItem(request, &error);
    if (uploaded && !preconditionsHold(request.headers(), servedStatus(request))) {
        return preconditionFailed(request);
    }
    const bool onlyCreate = createsOnly(request.headers());
    const bool stored =
        uploaded && (onlyCreate ? AtomicReplace::moveWithoutReplacing(*uploaded, *item, &error)
                                : AtomicReplace::replaceWithMove(*uploaded, *item, &replaced, &error));
    locked.release();
    if (!stored && onlyCreate && error.code == EEXIST) {
        return preconditionFailed(request);
    }
    if (!stored) {
        NoteResourceShortage(request, error);
        return WebServerErrorResponse::responseWithServerError(IsOutOfSpace(error) ? 507 : 500, error,
                                                               "Failed moving uploaded file to \"%@\"",
                                                               {request.path()});
    }
    notifyDelegate([path](WebDAVServerDelegate& davDelegate, WebDAVServer& server) {
        davDelegate.davServerDidUploadFileAtPath(server, path);
    });
    return WebServerResponse::responseWithStatusCode(replaced ? 204 : 201);
}

WebServerStep WebDAVServer::performCOPY(const WebServerRequest& request, bool isMove) {
    const HeaderDictionary& headers = request.headers();
    if (const std::string* depth = HeaderValue(headers, "Depth"); !isMove && depth && *depth != "infinity") {
        return WebServerErrorResponse::responseWithClientError(400, "Unsupported 'Depth' header: %@",
                                                               {*depth});
    }
    const std::string sourcePath = absolutePath(request.path());
    auto sourceItem = resolveItem(request, request.path(), false);
    const auto source = sourceItem ? SharedFolder::status(*sourceItem) : std::nullopt;
    if (!source) {
        return doesNotExist(request);
    }
    const std::string verb = isMove ? "Moving" : "Copying";
    const std::string sourceName = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(sourcePath) || (!source->isDirectory() && !checkFileExtension(sourceName))) {
        return WebServerErrorResponse::responseWithClientError(403, "%@ item name \"%@\" is not allowed",
                                                               {verb, sourceName});
    }

    const std::string* destination = HeaderValue(headers, "Destination");
    const std::string* host = HeaderValue(headers, "Host");
    const auto destinationUrl = destination ? platform::Url::parse(*destination) : std::nullopt;
    const auto relativePath =
        destinationUrl && host && !host->empty() ? UnescapeURLString(destinationUrl->path()) : std::nullopt;
    if (!relativePath) {
        return WebServerErrorResponse::responseWithClientError(400, "Malformed 'Destination' header: %@",
                                                               {destination ? *destination : ""});
    }
    if (!isSameServer(*destinationUrl, *host)) {
        return WebServerErrorResponse::responseWithClientError(502, "Destination \"%@\" is on another server",
                                                               {*destination});
    }
    if (auto refusal = RefusedItemPath(*relativePath, "Item name")) {
        return refusal;
    }
    const std::string destinationPath = absolutePath(*relativePath);
    Error resolveError;
    auto destinationItem = resolveItem(request, *relativePath, false, &resolveError);
    if (!destinationItem) {
        return isMissingFolder(resolveError) ? WebServerErrorResponse::responseWithClientError(
                                                   409, "Invalid destination \"%@\"", {*relativePath})
                                             : doesNotExist(request);
    }
    const std::string destinationName = FileSystem::lastPathComponent(*relativePath);
    if (isHiddenPath(destinationPath) || (!source->isDirectory() && !checkFileExtension(destinationName))) {
        return WebServerErrorResponse::responseWithClientError(403, "%@ to item name \"%@\" is not allowed",
                                                               {verb, destinationName});
    }
    return copyOrMoveItem(request, isMove, {sourcePath, std::move(*sourceItem)},
                          {destinationPath, std::move(*destinationItem)}, *relativePath);
}

// The last checks of COPY and MOVE, and the operation itself.
WebServerStep WebDAVServer::copyOrMoveItem(const WebServerRequest& request, bool isMove, ResolvedItem source,
                                           ResolvedItem destination,
                                           const std::string& destinationRelativePath) {
    const std::string& sourcePath = source.path;
    const std::string& destinationPath = destination.path;
    const std::string* overwrite = HeaderValue(request.headers(), "Overwrite");
    // Without leave to overwrite, an item that appears at the destination meanwhile (a PUT racing
    // this request) is never replaced: the last step refuses an existing name by itself.
    const bool mayReplace = isMove ? overwrite && *overwrite == "T" : !overwrite || *overwrite != "F";
    auto alreadyExists = [&] {
        return WebServerErrorResponse::responseWithClientError(412, "Destination \"%@\" already exists",
                                                               {destinationRelativePath});
    };
    if (!mayReplace && SharedFolder::status(destination.item)) {
        return alreadyExists();
    }
    // The shared folder itself is never copied, moved or replaced, and an item never replaces
    // itself, an item inside it, or a folder that holds it.
    const bool refused = source.item.isRoot() || destination.item.isRoot() ||
                         sourcePath == _uploadDirectory || destinationPath == _uploadDirectory ||
                         FileSystem::isPathInsideOrEqual(destinationPath, sourcePath) ||
                         FileSystem::isPathInside(sourcePath, destinationPath);
    if (refused || (isMove ? !shouldMoveItemFromPath(sourcePath, destinationPath)
                           : !shouldCopyItemFromPath(sourcePath, destinationPath))) {
        return WebServerErrorResponse::responseWithClientError(
            403,
            isMove ? "Moving \"%@\" to \"%@\" is not permitted" : "Copying \"%@\" to \"%@\" is not permitted",
            {request.path(), destinationRelativePath});
    }
    // The source's conditions, as for any method on it: a first look here, the answer that counts
    // under the locks, just before the item goes in.
    if (!preconditionsHold(request.headers(), servedStatus(request))) {
        return preconditionFailed(request);
    }
    return transferItem(request, isMove, mayReplace, std::move(source), std::move(destination),
                        destinationRelativePath);
}

// COPY and MOVE once every first check passed. A MOVE runs here to its end; a COPY makes its copy
// here (on the long pool) and puts it in place in a last step on the file-operations pool, where
// it may wait for the locks.
WebServerStep WebDAVServer::transferItem(const WebServerRequest& request, bool isMove, bool mayReplace,
                                         ResolvedItem source, ResolvedItem destination,
                                         const std::string& destinationRelativePath) {
    const auto server = std::static_pointer_cast<WebDAVServer>(shared_from_this());
    const auto held = request.shared_from_this();
    const auto conditionsHold = [server, held] {
        return preconditionsHold(held->headers(), server->servedStatus(*held));
    };
    const auto answer =
        [server, held, isMove, mayReplace, sourcePath = source.path, destinationPath = destination.path,
         destinationRelativePath](Transfer::Outcome outcome, bool replaced, const Error& error) {
            if (auto failure = failedTransfer(*held, outcome, mayReplace, error, destinationRelativePath)) {
                return failure;
            }
            server->notifyDelegate(
                [isMove, sourcePath, destinationPath](WebDAVServerDelegate& davDelegate, WebDAVServer& dav) {
                    if (isMove) {
                        davDelegate.davServerDidMoveItemFromPath(dav, sourcePath, destinationPath);
                    } else {
                        davDelegate.davServerDidCopyItemFromPath(dav, sourcePath, destinationPath);
                    }
                });
            return WebServerResponse::responseWithStatusCode(replaced ? 204 : 201);
        };
    Error error;
    bool replaced = false;
    if (isMove && WebServerMoveAcross::isAcross(source.item, destination.item)) {
        return moveAcross(request, mayReplace, std::move(source.item), std::move(destination.item),
                          conditionsHold, answer);
    }
    if (isMove) {
        const Transfer transfer{isMove, mayReplace, source.item, destination.item};
        const auto outcome = transfer.run(conditionsHold, &replaced, &error);
        return answer(outcome, replaced, error);
    }
    auto state = std::make_shared<CopyState>();
    state->source = std::move(source.item);
    state->destination = std::move(destination.item);
    const Transfer copy{false, mayReplace, state->source, state->destination,
                        ServersOwnItems(SharedFolderOfRequest(request, _sharedFolder))};
    if (!copy.stage(state->staged, &error)) {
        return answer(Transfer::Outcome::failed, false, error);
    }
    return WebServerStep::onFileOperations([state, mayReplace, conditionsHold, answer]() -> WebServerStep {
        Error finishError;
        bool replacedNow = false;
        const Transfer transfer{false, mayReplace, state->source, state->destination};
        std::optional<platform::SharedItem> old;
        const auto outcome = transfer.finish(state->staged, conditionsHold, &replacedNow, &finishError, &old);
        if (!old) {
            return answer(outcome, replacedNow, finishError);
        }
        // The item replaced is removed after the locks, on the long pool.
        return WebServerStep::onLongOperations(
            [oldItem = std::make_shared<platform::SharedItem>(std::move(*old)), answer, outcome, replacedNow,
             finishError]() -> WebServerStep {
                SharedFolder::removeItem(*oldItem);
                return answer(outcome, replacedNow, finishError);
            });
    });
}
