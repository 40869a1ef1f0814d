#pragma once

// Answers shared by the web file manager's operations.

#include "WebServerDataResponse.h"
#include "WebServerErrorResponse.h"

#include <cerrno>
#include <memory>
#include <string>

namespace webuploader {

// 404 "\"PATH\" does not exist".
inline std::shared_ptr<WebServerResponse> doesNotExist(const std::string& path) {
    return WebServerErrorResponse::responseWithClientError(404, "\"%@\" does not exist", {path});
}

// 400 "Missing \"NAME\" field": a request without a field its operation reads.
// A path that could not be resolved because it leads outside the shared folder (or through too
// many links), rather than because a folder on the way is missing.
inline bool isOutside(const Error& error) {
    return error.code == EXDEV || error.code == ELOOP;
}

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
