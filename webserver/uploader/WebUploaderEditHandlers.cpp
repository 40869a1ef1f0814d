// The operations of the web file manager that change the folder: move, delete, create.

#include "WebUploader.h"
#include "WebUploaderResponses.h"

#include "WebServerURLEncodedFormRequest.h"

#include "foundation/FileSystem.h"

using platform::FileSystem;
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
    const std::string oldPath = absolutePath(*oldRelativePath);
    const auto status = _checkSandboxedPath(oldPath) ? FileSystem::statusOfItem(oldPath) : std::nullopt;
    if (!status) {
        return doesNotExist(*oldRelativePath);
    }
    // The item moved must itself be one the page could show.
    const std::string oldName = FileSystem::lastPathComponent(oldPath);
    if (hasHiddenComponent(oldPath) || (!status->isDirectory() && !_checkFileExtension(oldName))) {
        return forbidden("Moving item name \"%@\" is not allowed", {oldName});
    }
    const std::string newPath = _uniquePathForPath(absolutePath(*newRelativePath));
    if (!_checkSandboxedPath(newPath)) {
        return doesNotExist(*newRelativePath);
    }
    const std::string newName = FileSystem::lastPathComponent(newPath);
    if (hasHiddenComponent(newPath) || isHiddenName(newName) ||
        (!status->isDirectory() && !_checkFileExtension(newName))) {
        return forbidden("Moving to item name \"%@\" is not allowed", {newName});
    }
    // The shared folder itself stays where it is.
    if (oldPath == _uploadDirectory || !shouldMoveItemFromPath(oldPath, newPath)) {
        return forbidden("Moving \"%@\" to \"%@\" is not permitted", {*oldRelativePath, *newRelativePath});
    }
    Error error;
    if (!FileSystem::moveItemNoReplace(oldPath, newPath, &error)) {
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed moving \"%@\" to \"%@\"",
                                                               {*oldRelativePath, *newRelativePath});
    }
    notifyDelegate([oldPath, newPath](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidMoveItemFromPath(server, oldPath, newPath);
    });
    return emptyObject();
}

std::shared_ptr<WebServerResponse> WebUploader::deleteItem(const WebServerRequest& request) {
    const std::string* relativePath = formValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    const std::string path = absolutePath(*relativePath);
    const auto status = _checkSandboxedPath(path) ? FileSystem::statusOfItem(path) : std::nullopt;
    if (!status) {
        return doesNotExist(*relativePath);
    }
    const std::string name = FileSystem::lastPathComponent(path);
    if (hasHiddenComponent(path) || (!status->isDirectory() && !_checkFileExtension(name))) {
        return forbidden("Deleting item name \"%@\" is not allowed", {name});
    }
    // The shared folder itself is never removed.
    if (path == _uploadDirectory || !shouldDeleteItemAtPath(path)) {
        return forbidden("Deleting \"%@\" is not permitted", {*relativePath});
    }
    Error error;
    if (!FileSystem::removeItem(path, &error)) {
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed deleting \"%@\"",
                                                               {*relativePath});
    }
    notifyDelegate([path](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidDeleteItemAtPath(server, path);
    });
    return emptyObject();
}

std::shared_ptr<WebServerResponse> WebUploader::createDirectory(const WebServerRequest& request) {
    const std::string* relativePath = formValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    const std::string path = _uniquePathForPath(absolutePath(*relativePath));
    if (!_checkSandboxedPath(path) || path == _uploadDirectory) {
        return doesNotExist(*relativePath);
    }
    const std::string name = FileSystem::lastPathComponent(path);
    if (hasHiddenComponent(path)) {
        return forbidden("Creating directory name \"%@\" is not allowed", {name});
    }
    if (!shouldCreateDirectoryAtPath(path)) {
        return forbidden("Creating directory \"%@\" is not permitted", {*relativePath});
    }
    Error error;
    if (!FileSystem::createDirectory(path, &error)) {
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed creating directory \"%@\"",
                                                               {*relativePath});
    }
    notifyDelegate([path](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidCreateDirectoryAtPath(server, path);
    });
    return emptyObject();
}
