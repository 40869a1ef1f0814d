// The operations of the web file manager that change the folder: move, delete, create.

#include "WebUploader.h"
#include "WebUploaderResponses.h"

#include "WebServerFunctions.h"
#include "WebServerItemLocks.h"
#include "WebServerItemRemoval.h"
#include "WebServerURLEncodedFormRequest.h"

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

std::shared_ptr<WebServerResponse> WebUploader::moveItem(const WebServerRequest& request) {
    const std::string* oldRelativePath = formValue(request, "oldPath");
    if (!oldRelativePath) {
        return missingField("oldPath");
    }
    const std::string* newRelativePath = formValue(request, "newPath");
    if (!newRelativePath) {
        return missingField("newPath");
    }
    if (auto refusal = RefusedItemName(FileSystem::lastPathComponent(*newRelativePath), "Item name")) {
        return refusal;
    }
    const std::string oldPath = absolutePath(*oldRelativePath);
    const auto oldItem = resolveItem(request, *oldRelativePath, false);
    const auto status = oldItem ? SharedFolder::status(*oldItem) : std::nullopt;
    if (!status) {
        return doesNotExist(*oldRelativePath);
    }
    // The item moved must itself be one the page could show.
    const std::string oldName = FileSystem::lastPathComponent(oldPath);
    if (hasHiddenComponent(oldPath) || (!status->isDirectory() && !_checkFileExtension(oldName))) {
        return forbidden("Moving item name \"%@\" is not allowed", {oldName});
    }
    const auto newItem = resolveItem(request, *newRelativePath, false);
    if (!newItem || newItem->isRoot()) {
        return doesNotExist(*newRelativePath);
    }
    std::string newPath = FileSystem::appendPathComponent(
        FileSystem::deletingLastPathComponent(absolutePath(*newRelativePath)), _uniqueNameForItem(*newItem));
    const std::string newName = FileSystem::lastPathComponent(newPath);
    if (hasHiddenComponent(newPath) || isHiddenName(newName) ||
        (!status->isDirectory() && !_checkFileExtension(newName))) {
        return forbidden("Moving to item name \"%@\" is not allowed", {newName});
    }
    // The shared folder itself stays where it is.
    if (oldPath == _uploadDirectory || oldItem->isRoot() || !shouldMoveItemFromPath(oldPath, newPath)) {
        return forbidden("Moving \"%@\" to \"%@\" is not permitted", {*oldRelativePath, *newRelativePath});
    }
    Error error;
    // A conditional write of the item (WebDAV) never lands between its check and this move.
    auto locked = WebServerItemLocks::lock({&*oldItem});
    const auto chosen = _placeUnderFreeName(
        *newItem,
        [&oldItem](const platform::SharedItem& candidate) {
            Error moveError;
            return SharedFolder::moveItemNoReplace(*oldItem, candidate, &moveError)
                       ? 0
                       : static_cast<int>(moveError.code);
        },
        &error);
    if (!chosen && error.code == ENOENT) { // removed meanwhile
        return doesNotExist(*oldRelativePath);
    }
    if (!chosen && error.code == ENAMETOOLONG) { // even the numbered names of a long name
        return TooLongItemName(FileSystem::lastPathComponent(newPath), "Item name");
    }
    if (!chosen) {
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed moving \"%@\" to \"%@\"",
                                                               {*oldRelativePath, *newRelativePath});
    }
    newPath = FileSystem::appendPathComponent(FileSystem::deletingLastPathComponent(newPath), *chosen);
    notifyDelegate([oldPath, newPath](WebUploaderDelegate& delegate, WebUploader& server) {
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
    if (auto refusal = RefusedItemName(FileSystem::lastPathComponent(*relativePath), "Directory name")) {
        return refusal;
    }
    Error error;
    const auto item = resolveItem(request, *relativePath, false, &error);
    if (!item) {
        return isOutside(error) ? doesNotExist(*relativePath)
                                : WebServerErrorResponse::responseWithServerError(
                                      500, error, "Failed creating directory \"%@\"", {*relativePath});
    }
    if (item->isRoot()) {
        return doesNotExist(*relativePath);
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
    if (!chosen) {
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed creating directory \"%@\"",
                                                               {*relativePath});
    }
    path = FileSystem::appendPathComponent(folderPath, *chosen);
    notifyDelegate([path](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidCreateDirectoryAtPath(server, path);
    });
    return emptyObject();
}
