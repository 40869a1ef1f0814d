// The WebDAV methods that write items: PUT, COPY and MOVE. Each builds the new item aside and swaps
// it in with one rename (AtomicReplace), so a failure leaves what was there before in place.

#include "WebDAVServer.h"
#include "WebDAVServerSupport.h"

#include "WebServerErrorResponse.h"
#include "WebServerFileRequest.h"
#include "WebServerFunctions.h"

#include "foundation/AtomicReplace.h"
#include "foundation/FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

using platform::AtomicReplace;
using platform::FileSystem;
using namespace webdav_detail;

namespace {

bool isFolder(const std::string& path) {
    const auto status = FileSystem::statusOfItemFollowingLinks(path);
    return status && status->isDirectory();
}

// A PUT without a body has no temporary file yet: it stores an empty file.
bool ensureFileExists(const std::string& path, Error* error) {
    if (FileSystem::itemExists(path)) {
        return true;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd == -1) {
        platform::setError(error, Error::posix(errno));
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

std::shared_ptr<WebServerResponse> WebDAVServer::performPUT(const WebServerFileRequest& request) {
    if (request.hasByteRange()) {
        return WebServerErrorResponse::responseWithClientError(400, "Range uploads not supported");
    }
    const std::string path = absolutePath(request.path());
    if (!checkSandboxedPath(path)) {
        return doesNotExist(request);
    }
    if (!isFolder(FileSystem::deletingLastPathComponent(path))) {
        return WebServerErrorResponse::responseWithClientError(
            409, "Missing intermediate collection(s) for \"%@\"", {request.path()});
    }
    if (isFolder(path)) {
        return WebServerErrorResponse::responseWithClientError(
            405, "PUT not allowed on existing collection \"%@\"", {request.path()});
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(path) || !checkFileExtension(name)) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Uploading file name \"%@\" is not allowed", {name});
    }
    if (!shouldUploadFileAtPath(path, request.temporaryPath())) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Uploading file to \"%@\" is not permitted", {request.path()});
    }
    Error error;
    bool replaced = false;
    if (!ensureFileExists(request.temporaryPath(), &error) ||
        !AtomicReplace::replaceWithMove(request.temporaryPath(), path, &replaced, &error)) {
        return WebServerErrorResponse::responseWithServerError(
            500, error, "Failed moving uploaded file to \"%@\"", {request.path()});
    }
    notifyDelegate([path](WebDAVServerDelegate& davDelegate, WebDAVServer& server) {
        davDelegate.davServerDidUploadFileAtPath(server, path);
    });
    return WebServerResponse::responseWithStatusCode(replaced ? 204 : 201);
}

std::shared_ptr<WebServerResponse> WebDAVServer::performCOPY(const WebServerRequest& request, bool isMove) {
    const HeaderDictionary& headers = request.headers();
    if (const std::string* depth = HeaderValue(headers, "Depth"); !isMove && depth && *depth != "infinity") {
        return WebServerErrorResponse::responseWithClientError(400, "Unsupported 'Depth' header: %@",
                                                               {*depth});
    }
    const std::string sourcePath = absolutePath(request.path());
    const auto source = checkSandboxedPath(sourcePath) ? FileSystem::statusOfItem(sourcePath) : std::nullopt;
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
    const std::size_t hostStart = destination && host ? destination->find(*host) : std::string::npos;
    const auto relativePath = hostStart == std::string::npos || host->empty()
                                  ? std::nullopt
                                  : UnescapeURLString(destination->substr(hostStart + host->size()));
    if (!relativePath) {
        return WebServerErrorResponse::responseWithClientError(400, "Malformed 'Destination' header: %@",
                                                               {destination ? *destination : ""});
    }
    const std::string destinationPath = absolutePath(*relativePath);
    if (!checkSandboxedPath(destinationPath)) {
        return doesNotExist(request);
    }
    if (!isFolder(FileSystem::deletingLastPathComponent(destinationPath))) {
        return WebServerErrorResponse::responseWithClientError(409, "Invalid destination \"%@\"",
                                                               {*relativePath});
    }
    const std::string destinationName = FileSystem::lastPathComponent(*relativePath);
    if (isHiddenPath(destinationPath) || (!source->isDirectory() && !checkFileExtension(destinationName))) {
        return WebServerErrorResponse::responseWithClientError(403, "%@ to item name \"%@\" is not allowed",
                                                               {verb, destinationName});
    }
    return copyOrMoveItem(request, isMove, sourcePath, destinationPath, *relativePath);
}

// The last checks of COPY and MOVE, and the operation itself.
std::shared_ptr<WebServerResponse> WebDAVServer::copyOrMoveItem(const WebServerRequest& request, bool isMove,
                                                                const std::string& sourcePath,
                                                                const std::string& destinationPath,
                                                                const std::string& destinationRelativePath) {
    const std::string* overwrite = HeaderValue(request.headers(), "Overwrite");
    if (FileSystem::itemExists(destinationPath) &&
        ((isMove && (!overwrite || *overwrite != "T")) || (!isMove && overwrite && *overwrite == "F"))) {
        return WebServerErrorResponse::responseWithClientError(412, "Destination \"%@\" already exists",
                                                               {destinationRelativePath});
    }
    // The shared folder itself is never copied, moved or replaced, and an item never replaces
    // itself, an item inside it, or a folder that holds it.
    const bool refused = sourcePath == _uploadDirectory || destinationPath == _uploadDirectory ||
                         FileSystem::isPathInsideOrEqual(destinationPath, sourcePath) ||
                         FileSystem::isPathInside(sourcePath, destinationPath);
    if (refused || (isMove ? !shouldMoveItemFromPath(sourcePath, destinationPath)
                           : !shouldCopyItemFromPath(sourcePath, destinationPath))) {
        return WebServerErrorResponse::responseWithClientError(
            403,
            isMove ? "Moving \"%@\" to \"%@\" is not permitted" : "Copying \"%@\" to \"%@\" is not permitted",
            {request.path(), destinationRelativePath});
    }
    Error error;
    bool replaced = false;
    const bool done = isMove ? AtomicReplace::replaceWithMove(sourcePath, destinationPath, &replaced, &error)
                             : AtomicReplace::replaceWithCopy(sourcePath, destinationPath, &replaced, &error);
    if (!done) {
        return WebServerErrorResponse::responseWithClientError(403, error, "Failed copying \"%@\" to \"%@\"",
                                                               {request.path(), destinationRelativePath});
    }
    notifyDelegate(
        [isMove, sourcePath, destinationPath](WebDAVServerDelegate& davDelegate, WebDAVServer& server) {
            if (isMove) {
                davDelegate.davServerDidMoveItemFromPath(server, sourcePath, destinationPath);
            } else {
                davDelegate.davServerDidCopyItemFromPath(server, sourcePath, destinationPath);
            }
        });
    return WebServerResponse::responseWithStatusCode(replaced ? 204 : 201);
}
