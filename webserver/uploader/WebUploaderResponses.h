#pragma once

// Answers shared by the web file manager's operations.

#include "WebServerDataResponse.h"
#include "WebServerErrorResponse.h"
#include "WebServerSharedFolder.h"

#include "foundation/FileSystem.h"

#include <cerrno>
#include <memory>
#include <string>

namespace webuploader {

// 404 "\"PATH\" does not exist".
inline std::shared_ptr<WebServerResponse> doesNotExist(const std::string& path) {
    return WebServerErrorResponse::responseWithClientError(404, "\"%@\" does not exist", {path});
}

// A path that could not be resolved because it leads outside the shared folder (or through too
// many links), rather than because a folder on the way is missing.
inline bool isOutside(const Error& error) {
    return error.code == EXDEV || error.code == ELOOP;
}

// The answer for a new item at `relativePath` that could not be made for `error`: outside the
// shared folder 404 naming the path; its folder missing 404 and not a folder 409, naming the folder
// (as an upload's "path" is answered); a full disk 507 (as WebDAV answers); else 500 with `failure`.
inline std::shared_ptr<WebServerResponse> folderRefusal(const std::string& relativePath, const Error& error,
                                                        std::string_view failure) {
    if (isOutside(error)) {
        return doesNotExist(relativePath);
    }
    std::string folder = platform::FileSystem::deletingLastPathComponent(relativePath);
    folder = folder.empty() ? "/" : folder;
    if (error.code == ENOENT) {
        return doesNotExist(folder);
    }
    if (error.code == ENOTDIR) {
        return WebServerErrorResponse::responseWithClientError(409, "\"%@\" is not a directory", {folder});
    }
    return WebServerErrorResponse::responseWithServerError(IsOutOfSpace(error) ? 507 : 500, error, failure,
                                                           {relativePath});
}

// 400 "Missing \"NAME\" field": a request without a field its operation reads.
inline std::shared_ptr<WebServerResponse> missingField(const std::string& name) {
    return WebServerErrorResponse::responseWithClientError(400, "Missing \"%@\" field", {name});
}

// 403 with the message and its arguments.
inline std::shared_ptr<WebServerResponse> forbidden(std::string_view format,
                                                    std::initializer_list<std::string_view> arguments) {
    return WebServerErrorResponse::responseWithClientError(403, format, arguments);
}

// "{}", the answer of every operation that changed the folder.
inline std::shared_ptr<WebServerResponse> emptyObject(const std::string& contentType = "application/json") {
    return WebServerDataResponse::responseWithJSONObject(platform::Json::object(), contentType);
}

} // namespace webuploader
