#pragma once

// The shared folder a request of a file-sharing server works in: taken once, when the request
// starts, and kept by the request until it ends, whatever the folder's path names meanwhile.

#include "WebServerRequest.h"

#include "foundation/FollowedSharedFolder.h"

#include <any>
#include <memory>

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
    auto current = folder.current();
    request.setAttribute(current, WebServerRequestAttribute_SharedFolder);
    return current;
}

// The folder a request started with; for a request that took none, the one the path names now.
inline std::shared_ptr<platform::SharedFolder>
SharedFolderOfRequest(const WebServerRequest& request, const platform::FollowedSharedFolder& folder) {
    if (const std::any* kept = request.attributeForKey(WebServerRequestAttribute_SharedFolder)) {
        return std::any_cast<std::shared_ptr<platform::SharedFolder>>(*kept);
    }
    return folder.current();
}
