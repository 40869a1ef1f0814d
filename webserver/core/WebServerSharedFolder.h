#pragma once

// The shared folder a request of a file-sharing server works in: taken once, when the request
// starts, and kept by the request until it ends, whatever the folder's path names meanwhile.
// Items are resolved in it through ResolveSharedItem, which notes on the request when the server
// could not open what it needed (the connection then answers 503, never "does not exist").

#include "WebServerRequest.h"

#include "foundation/FollowedSharedFolder.h"

#include <any>
#include <cerrno>
#include <memory>

// A failure for want of descriptors or memory: a passing shortage, which says nothing about the
// item.
inline bool IsResourceShortage(const Error& error) {
    return error.domain == platform::kPOSIXErrorDomain &&
           (error.code == EMFILE || error.code == ENFILE || error.code == ENOMEM);
}

// The file system is full, or the user's quota used up: 507 for WebDAV (RFC 4918), whose clients
// tell it apart from a failure of the server.
inline bool IsOutOfSpace(const Error& error) {
    return error.domain == platform::kPOSIXErrorDomain && (error.code == ENOSPC || error.code == EDQUOT);
}

// Notes on the request a failure for want of descriptors or memory (see
// WebServerRequest::noteResourceShortage); true when it was one.
inline bool NoteResourceShortage(const WebServerRequest& request, const Error& error) {
    if (!IsResourceShortage(error)) {
        return false;
    }
    request.noteResourceShortage();
    return true;
}

// Key of the request attribute that holds the folder (a std::shared_ptr<platform::SharedFolder>,
// empty when the path named no folder as the request started).
inline constexpr const char* WebServerRequestAttribute_SharedFolder =
    "WebServerRequestAttribute_SharedFolder";

// The folder the request started with; the first call takes the folder the path names now.
inline std::shared_ptr<platform::SharedFolder>
TakeSharedFolder(WebServerRequest& request, const platform::FollowedSharedFolder& folder) {
    if (const std::any* kept = request.attributeForKey(WebServerRequestAttribute_SharedFolder)) {
        return std::any_cast<std::shared_ptr<platform::SharedFolder>>(*kept);
    }
    Error error;
    auto current = folder.current(&error);
    if (!current) {
        NoteResourceShortage(request, error);
    }
    request.setAttribute(current, WebServerRequestAttribute_SharedFolder);
    return current;
}

// The folder a request started with; for a request that took none, the one the path names now.
inline std::shared_ptr<platform::SharedFolder>
SharedFolderOfRequest(const WebServerRequest& request, const platform::FollowedSharedFolder& folder) {
    if (const std::any* kept = request.attributeForKey(WebServerRequestAttribute_SharedFolder)) {
        return std::any_cast<std::shared_ptr<platform::SharedFolder>>(*kept);
    }
    Error error;
    auto current = folder.current(&error);
    if (!current) {
        NoteResourceShortage(request, error);
    }
    return current;
}

// The item a relative path names in the folder the request started with (see
// platform::SharedFolder::resolve). Without a folder there the error is EXDEV, as for a path
// that leads outside.
inline std::optional<platform::SharedItem> ResolveSharedItem(const WebServerRequest& request,
                                                             const platform::FollowedSharedFolder& folder,
                                                             std::string_view relativePath,
                                                             bool followLastLink, Error* error,
                                                             platform::SharedFolder::HiddenNames hidden) {
    Error resolveError;
    const auto shared = SharedFolderOfRequest(request, folder);
    auto item = shared ? shared->resolve(relativePath, followLastLink, &resolveError, hidden) : std::nullopt;
    if (!shared) {
        resolveError = Error::posix(EXDEV);
    }
    if (!item) {
        NoteResourceShortage(request, resolveError);
        platform::setError(error, resolveError);
    }
    return item;
}
