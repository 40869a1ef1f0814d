#include "WebServerErrorResponse.h"

#include "WebServerFunctions.h"
#include "WebServerHTMLFunctions.h"

WebServerErrorResponse::WebServerErrorResponse(int statusCode, const std::optional<Error>& underlyingError,
                                               std::string_view message)
    : WebServerDataResponse(pageData(statusCode, underlyingError, message), "text/html; charset=utf-8") {
    _status = statusCode;
}

Data WebServerErrorResponse::pageData(int statusCode, const std::optional<Error>& underlyingError,
                                      std::string_view message) {
    const std::string title = "HTTP Error " + std::to_string(statusCode);
    std::string errorText;
    if (underlyingError) {
        errorText = StringWithFormat("[%@] %@ (%@)", {EscapeHTMLString(underlyingError->domain),
                                                      EscapeHTMLString(underlyingError->description),
                                                      std::to_string(underlyingError->code)});
    }
    return platform::dataFromString(StringWithFormat(
        "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>%@</title></head>"
        "<body><h1>%@: %@</h1><h3>%@</h3></body></html>",
        {title, title, EscapeHTMLString(message), errorText}));
}

std::shared_ptr<WebServerErrorResponse>
WebServerErrorResponse::responseWithClientError(int statusCode, std::string_view format,
                                                std::initializer_list<std::string_view> arguments) {
    return std::make_shared<WebServerErrorResponse>(statusCode, std::nullopt,
                                                    StringWithFormat(format, arguments));
}

std::shared_ptr<WebServerErrorResponse>
WebServerErrorResponse::responseWithServerError(int statusCode, std::string_view format,
                                                std::initializer_list<std::string_view> arguments) {
    return std::make_shared<WebServerErrorResponse>(statusCode, std::nullopt,
                                                    StringWithFormat(format, arguments));
}

std::shared_ptr<WebServerErrorResponse>
WebServerErrorResponse::responseWithClientError(int statusCode, const Error& underlyingError,
                                                std::string_view format,
                                                std::initializer_list<std::string_view> arguments) {
    return std::make_shared<WebServerErrorResponse>(statusCode, underlyingError,
                                                    StringWithFormat(format, arguments));
}

std::shared_ptr<WebServerErrorResponse>
WebServerErrorResponse::responseWithServerError(int statusCode, const Error& underlyingError,
                                                std::string_view format,
                                                std::initializer_list<std::string_view> arguments) {
    return std::make_shared<WebServerErrorResponse>(statusCode, underlyingError,
                                                    StringWithFormat(format, arguments));
}
