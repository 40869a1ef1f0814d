// The reading operations of the web file manager (list, download) and the upload.

#include "WebUploader.h"
#include "WebUploaderResponses.h"

#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"
#include "WebServerMultiPartFormRequest.h"

#include "foundation/CaseInsensitive.h"
#include "foundation/Collation.h"
#include "foundation/FileSystem.h"
#include "foundation/Json.h"

using platform::FileSystem;
using namespace webuploader;

namespace {

const std::string* queryValue(const WebServerRequest& request, const std::string& name) {
    const auto found = request.query().find(name);
    return found == request.query().end() ? nullptr : &found->second;
}

bool acceptsJSON(const WebServerRequest& request) {
    const std::string* accept = HeaderValue(request.headers(), "Accept");
    return accept && platform::asciiLowercase(*accept).find("application/json") != std::string::npos;
}

// A client file name that names one item: not empty, no separator, no NUL.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace

std::shared_ptr<WebServerResponse> WebUploader::listDirectory(const WebServerRequest& request) {
    const std::string* relativePath = queryValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    const std::string directoryPath = absolutePath(*relativePath);
    const auto status =
        _checkSandboxedPath(directoryPath) ? FileSystem::statusOfItem(directoryPath) : std::nullopt;
    if (!status) {
        return doesNotExist(*relativePath);
    }
    if (!status->isDirectory()) {
        return WebServerErrorResponse::responseWithClientError(400, "\"%@\" is not a directory",
                                                               {*relativePath});
    }
    if (hasHiddenComponent(directoryPath)) {
        return forbidden("Listing directory name \"%@\" is not allowed",
                         {FileSystem::lastPathComponent(directoryPath)});
    }
    Error error;
    auto names = FileSystem::contentsOfDirectory(directoryPath, &error);
    if (!names) {
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed listing directory \"%@\"",
                                                               {*relativePath});
    }
    platform::sortInFinderOrder(*names);
    auto* delegate = dynamic_cast<WebUploaderDelegate*>(this->delegate());
    platform::Json items = platform::Json::array();
    for (const std::string& name : *names) {
        // A name that is not UTF-8 text cannot be written as JSON text: it is left out rather
        // than failing the whole listing.
        if (isHiddenName(name) || !platform::serializeJson(platform::Json(name))) {
            continue;
        }
        const auto item = FileSystem::statusOfItem(FileSystem::appendPathComponent(directoryPath, name));
        if (!item) {
            continue;
        }
        const std::string itemPath = FileSystem::appendPathComponent(*relativePath, name);
        if (item->isRegularFile()) {
            if (_checkFileExtension(name) &&
                (!delegate ||
                 delegate->webUploaderCanListFileOrDirectory(*this, name, true).value_or(true))) {
                items.push_back({{"path", itemPath}, {"name", name}, {"size", item->size}});
            }
        } else if (item->isDirectory()) {
            if (!delegate || delegate->webUploaderCanListFileOrDirectory(*this, name, false).value_or(true)) {
                items.push_back({{"path", itemPath + "/"}, {"name", name}});
            }
        }
    }
    return WebServerDataResponse::responseWithJSONObject(items);
}

std::shared_ptr<WebServerResponse> WebUploader::downloadFile(const WebServerRequest& request) {
    const std::string* relativePath = queryValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    const std::string filePath = absolutePath(*relativePath);
    const auto status = _checkSandboxedPath(filePath) ? FileSystem::statusOfItem(filePath) : std::nullopt;
    if (!status) {
        return doesNotExist(*relativePath);
    }
    if (status->isDirectory()) {
        return WebServerErrorResponse::responseWithClientError(400, "\"%@\" is a directory", {*relativePath});
    }
    const std::string fileName = FileSystem::lastPathComponent(filePath);
    if (hasHiddenComponent(filePath) || !_checkFileExtension(fileName)) {
        return forbidden("Downlading file name \"%@\" is not allowed", {fileName});
    }
    // Only regular files are served; a symbolic link is not followed.
    auto response =
        status->isRegularFile() ? WebServerFileResponse::responseWithFile(filePath, true) : nullptr;
    if (!response) {
        return doesNotExist(*relativePath);
    }
    notifyDelegate([filePath](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidDownloadFileAtPath(server, filePath);
    });
    return response;
}

std::shared_ptr<WebServerResponse> WebUploader::uploadFile(const WebServerRequest& request) {
    const auto* form = dynamic_cast<const WebServerMultiPartFormRequest*>(&request);
    if (!form) {
        return nullptr;
    }
    const std::string replyType = acceptsJSON(request) ? "application/json" : "text/plain; charset=utf-8";
    const auto file = form->firstFileForControlName("files[]");
    if (!file) {
        return missingField("files[]");
    }
    const std::string& fileName = file->fileName();
    if (!isPlainFileName(fileName) || isHiddenName(fileName) || !_checkFileExtension(fileName)) {
        return forbidden("Uploaded file name \"%@\" is not allowed", {fileName});
    }
    const auto folderPart = form->firstArgumentForControlName("path");
    if (!folderPart || !folderPart->string()) {
        return missingField("path");
    }
    const std::string& folder = *folderPart->string();
    const std::string destination =
        _uniquePathForPath(FileSystem::appendPathComponent(absolutePath(folder), fileName));
    if (!_checkSandboxedPath(destination)) {
        return doesNotExist(folder);
    }
    if (hasHiddenComponent(destination) || !shouldUploadFileAtPath(destination, file->temporaryPath())) {
        return forbidden("Uploading file \"%@\" to \"%@\" is not permitted", {fileName, folder});
    }
    Error error;
    if (!FileSystem::moveItemNoReplace(file->temporaryPath(), destination, &error)) {
        return WebServerErrorResponse::responseWithServerError(
            500, error, "Failed moving uploaded file to \"%@\"", {folder});
    }
    notifyDelegate([destination](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidUploadFileAtPath(server, destination);
    });
    return emptyObject(replyType);
}
