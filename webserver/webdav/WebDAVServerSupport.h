#pragma once

// Small helpers shared by the WebDAV server's sources; not for use elsewhere.

#include "WebServerErrorResponse.h"
#include "WebServerFunctions.h"
#include "WebServerRequest.h"

#include <cerrno>
#include <memory>
#include <string>

namespace webdav_detail {

// The macOS WebDAV clients, which insist on class 2 answers.
inline bool isFinderClient(const WebServerRequest& request) {
    const std::string* agent = HeaderValue(request.headers(), "User-Agent");
    return agent && (agent->rfind("WebDAVFS/", 0) == 0 || agent->rfind("WebDAVLib/", 0) == 0);
}

inline std::shared_ptr<WebServerResponse> doesNotExist(const WebServerRequest& request) {
    return WebServerErrorResponse::responseWithClientError(404, "\"%@\" does not exist", {request.path()});
}

inline std::shared_ptr<WebServerResponse> preconditionFailed(const WebServerRequest& request) {
    return WebServerErrorResponse::responseWithClientError(412, "Precondition failed for \"%@\"",
                                                           {request.path()});
}

// A path that could not be resolved because a folder on the way is missing (409 for the methods
// that create), rather than because it leads outside the shared folder (404).
inline bool isMissingFolder(const Error& error) {
    return error.code == ENOENT || error.code == ENOTDIR;
}

// The value of a header field, "" when the request has none.
inline std::string headerText(const WebServerRequest& request, const char* name) {
    const std::string* value = HeaderValue(request.headers(), name);
    return value ? *value : std::string();
}

} // namespace webdav_detail
