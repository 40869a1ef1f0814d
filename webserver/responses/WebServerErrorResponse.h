#pragma once

#include "WebServerDataResponse.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// An HTML error page: "HTTP Error <status>", a message and, when given, the underlying error. The
// message is a format whose "%@" are replaced by the arguments in turn; the message and the error's
// texts are HTML-escaped, since they often quote what a client sent.
class WebServerErrorResponse : public WebServerDataResponse {
public:
    WebServerErrorResponse(int statusCode, const std::optional<Error>& underlyingError,
                           std::string_view message);

    static std::shared_ptr<WebServerErrorResponse>
    responseWithClientError(int statusCode, std::string_view format,
                            std::initializer_list<std::string_view> arguments = {});
    static std::shared_ptr<WebServerErrorResponse>
    responseWithServerError(int statusCode, std::string_view format,
                            std::initializer_list<std::string_view> arguments = {});
    static std::shared_ptr<WebServerErrorResponse>
    responseWithClientError(int statusCode, const Error& underlyingError, std::string_view format,
                            std::initializer_list<std::string_view> arguments = {});
    static std::shared_ptr<WebServerErrorResponse>
    responseWithServerError(int statusCode, const Error& underlyingError, std::string_view format,
                            std::initializer_list<std::string_view> arguments = {});

private:
    static Data pageData(int statusCode, const std::optional<Error>& underlyingError,
                         std::string_view message);
};
