// The operations of the web file manager that change the folder: move, delete, create.

#include "WebUploader.h"
#include "WebUploaderResponses.h"

#include "WebServerFunctions.h"
#include "WebServerItemLocks.h"
#include "WebServerItemRemoval.h"
#include "WebServerMoveAcross.h"
#include "WebServerSharedFolder.h"
#include "WebServerURLEncodedFormRequest.h"

#include "foundation/AtomicReplace.h"
#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"

using platform::FileSystem;
using platform::SharedFolder;
using namespace webuploader;

namespace {

const std::string* formValue(const WebServerRequest& request, const std::string& name) {
    const auto* form = dynamic_cast<const WebServerURLEncodedFormRequest*>(&request);
    if (!form) {
        return nullptr;
    }
    const auto found = form->arguments().find(name);
    return found == form->arguments().end() ? nullptr : &found->second;
}

} // namespace

WebServerStep WebUploader::moveItem(const WebServerRequest& request) {
    const std::string* oldRelativePath = formValue(request, "oldPath");
    if (!oldRelativePath) {
        return missingField("oldPath");
    }
    const std::string* newRelativePath = formValue(request, "newPath");
    if (!newRelativePath) {
        return missingField("newPath");
    }
    if (auto refusal = RefusedItemPath(*newRelativePath, "Item name")) {
        return refusal;
    }
    const std::string oldPath = absolutePath(*oldRelativePath);
    auto oldItem = resolveItem(request, *oldRelativePath, false);
    const auto status = oldItem ? SharedFolder::status(*oldItem) : std::nullopt;
    if (!status) {
        return doesNotExist(*oldRelativePath);
    }
    // The item moved must itself be one the page could show.
    const std::string oldName = FileSystem::lastPathComponent(oldPath);
    if (hasHiddenComponent(oldPath) || (!status->isDirectory() && !_checkFileExtension(oldName))) {
        return forbidden("Moving item name \"%@\" is not allowed", {oldName});
    }
    auto newItem = resolveItem(request, *newRelativePath, false);
    if (!newItem || newItem->isRoot()) {
        return doesNotExist(*newRelativePath);
    }
    const Move names{
        *oldRelativePath, *newRelativePath, oldPath,
        FileSystem::appendPathComponent(FileSystem::deletingLastPathComponent(absolutePath(*newRelativePath)),
                                        _uniqueNameForItem(*newItem))};
    const std::string newName = FileSystem::lastPathComponent(names.newPath);
    if (hasHiddenComponent(names.newPath) || isHiddenName(newName) ||
        (!status->isDirectory() && !_checkFileExtension(newName))) {
        return forbidden("Moving to item name \"%@\" is not allowed", {newName});
    }
    // The shared folder itself stays where it is.
    if (oldPath == _uploadDirectory || oldItem->isRoot() || !shouldMoveItemFromPath(oldPath, names.newPath)) {
        return forbidden("Moving \"%@\" to \"%@\" is not permitted", {*oldRelativePath, *newRelativePath});
    }
    if (WebServerMoveAcross::isAcross(*oldItem, *newItem)) {
        // Copied beside its new place as long work, then put there under the first free name.
        auto move = std::make_shared<WebServerMoveAcross>(SharedFolderOfRequest(request, _sharedFolder),
                                                          std::move(*oldItem), std::move(*newItem));
        auto self = std::static_pointer_cast<WebUploader>(shared_from_this());
        return WebServerStep::onLongOperations([self, move, names] {
            move->copy();
            return WebServerStep::onFileOperations(
                [self, move, names]() -> WebServerStep { return self->finishMoveAcross(*move, names); });
        });
    }
    return renameItem(*oldItem, *newItem, names);
}

// A move within one file system: a rename to the first free name.
std::shared_ptr<WebServerResponse> WebUploader::renameItem(const platform::SharedItem& oldItem,
                                                           const platform::SharedItem& newItem,
                                                           const Move& names) {
    Error error;
    // A conditional write of the item (WebDAV) never lands between its check and this move.
    auto locked = WebServerItemLocks::lock({&oldItem});
    const auto chosen = _placeUnderFreeName(
        newItem,
        [&oldItem](const platform::SharedItem& candidate) {
            Error moveError;
            return SharedFolder::moveItemNoReplace(oldItem, candidate, &moveError)
                       ? 0
                       : static_cast<int>(moveError.code);
        },
        &error);
    locked.release();
    return movedAnswer(names, chosen, error);
}

// The last step of a move to another file system: under the lock of the item moved, the copy
// brought up to date and put in place; then the source emptied of what was copied (see
// WebServerMoveAcross).
std::shared_ptr<WebServerResponse> WebUploader::finishMoveAcross(WebServerMoveAcross& move,
                                                                 const Move& names) {
    Error error;
    std::optional<std::string> chosen;
    auto locked = WebServerItemLocks::lock({&move.from()});
    if (move.catchUp(&error)) {
        chosen = _placeUnderFreeName(
            move.to(),
            [&move](const platform::SharedItem& candidate) {
                Error placeError;
                return platform::AtomicReplace::installStagedItemWithoutReplacing(move.staged(), candidate,
                                                                                  &placeError)
                           ? 0
                           : static_cast<int>(placeError.code);
            },
            &error);
    }
    locked.release();
    if (chosen) {
        move.removeSource();
    }
    return movedAnswer(names, chosen, error);
}

std::shared_ptr<WebServerResponse>
WebUploader::movedAnswer(const Move& names, const std::optional<std::string>& chosen, const Error& error) {
    if (!chosen && error.code == ENOENT) { // removed meanwhile
        return doesNotExist(names.oldRelativePath);
    }
    if (!chosen && error.code == ENAMETOOLONG) { // even the numbered names of a long name
        return TooLongItemName(FileSystem::lastPathComponent(names.newPath), "Item name");
    }
    if (!chosen && error.code == EAGAIN) { // written to all along: nothing was moved
        auto response = WebServerErrorResponse::responseWithServerError(
            503, error, "\"%@\" kept changing while it was being moved", {names.oldRelativePath});
        response->setValueForAdditionalHeader("2", "Retry-After");
        return response;
    }
    if (!chosen) {
        return WebServerErrorResponse::responseWithServerError(
            IsOutOfSpace(error) ? 507 : 500, error, "Failed moving \"%@\" to \"%@\"",
            {names.oldRelativePath, names.newRelativePath});
    }
    const std::string newPath =
        FileSystem::appendPathComponent(FileSystem::deletingLastPathComponent(names.newPath), *chosen);
    notifyDelegate([oldPath = names.oldPath, newPath](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidMoveItemFromPath(server, oldPath, newPath);
    });
    return emptyObject();
}

WebServerStep WebUploader::deleteItem(const WebServerRequest& request) {
    const std::string* relativePath = formValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    const std::string path = absolutePath(*relativePath);
    const auto item = resolveItem(request, *relativePath, false);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(*relativePath);
    }
    const std::string name = FileSystem::lastPathComponent(path);
    if (hasHiddenComponent(path) || (!status->isDirectory() && !_checkFileExtension(name))) {
        return forbidden("Deleting item name \"%@\" is not allowed", {name});
    }
    // The shared folder itself is never removed.
    if (path == _uploadDirectory || item->isRoot() || !shouldDeleteItemAtPath(path)) {
        return forbidden("Deleting \"%@\" is not permitted", {*relativePath});
    }
    // A conditional write of the item (WebDAV) never lands between its check and this removal.
    auto locked = WebServerItemLocks::lock({&*item});
    auto answer = [self = std::static_pointer_cast<WebUploader>(shared_from_this()), path,
                   relativePath = *relativePath](bool removed,
                                                 const Error& error) -> std::shared_ptr<WebServerResponse> {
        if (!removed) {
            return error.code == ENOENT ? doesNotExist(relativePath) // removed meanwhile
                                        : WebServerErrorResponse::responseWithServerError(
                                              500, error, "Failed deleting \"%@\"", {relativePath});
        }
        self->notifyDelegate([path](WebUploaderDelegate& delegate, WebUploader& server) {
            delegate.webUploaderDidDeleteItemAtPath(server, path);
        });
        return emptyObject();
    };
    return RemoveLockedItem(*item, std::move(locked), std::move(answer));
}

std::shared_ptr<WebServerResponse> WebUploader::createDirectory(const WebServerRequest& request) {
    const std::string* relativePath = formValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    if (auto refusal = RefusedItemPath(*relativePath, "Directory name")) {
        return refusal;
    }
    Error error;
    const auto item = resolveItem(request, *relativePath, false, &error);
    if (!item || item->isRoot()) {
        return !item ? folderRefusal(*relativePath, error, "Failed creating directory \"%@\"")
                     : doesNotExist(*relativePath);
    }
    const std::string folderPath = FileSystem::deletingLastPathComponent(absolutePath(*relativePath));
    std::string path = FileSystem::appendPathComponent(folderPath, _uniqueNameForItem(*item));
    const std::string name = FileSystem::lastPathComponent(path);
    if (hasHiddenComponent(path)) {
        return forbidden("Creating directory name \"%@\" is not allowed", {name});
    }
    if (!shouldCreateDirectoryAtPath(path)) {
        return forbidden("Creating directory \"%@\" is not permitted", {*relativePath});
    }
    const auto chosen = _placeUnderFreeName(
        *item,
        [](const platform::SharedItem& candidate) {
            Error createError;
            return SharedFolder::createDirectory(candidate, &createError)
                       ? 0
                       : static_cast<int>(createError.code);
        },
        &error);
    if (!chosen && error.code == ENAMETOOLONG) { // even the numbered names of a long name
        return TooLongItemName(name, "Directory name");
    }
    if (!chosen) { // its folder removed or replaced meanwhile, a full disk...
        return folderRefusal(*relativePath, error, "Failed creating directory \"%@\"");
    }
    path = FileSystem::appendPathComponent(folderPath, *chosen);
    notifyDelegate([path](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidCreateDirectoryAtPath(server, path);
    });
    return emptyObject();
}
