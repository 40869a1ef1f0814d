#include "WebServerConnection.h"

#include "WebServer.h"
#include "WebServerFunctions.h"
#include "foundation/Digest.h"
#include "foundation/Uuid.h"
#include "http/HttpResponseHead.h"

#include <chrono>
#include <cstdio>

// The processing half of a connection: authentication, the handler, conditional requests and
// writing the response.

namespace {

const std::shared_ptr<const Data>& lastChunk() {
    static const auto bytes = std::make_shared<const Data>(platform::dataFromString("0\r\n\r\n"));
    return bytes;
}

// The Digest nonce: one per process.
const std::string& digestNonce() {
    static const std::string nonce = platform::md5Hex(platform::makeUuidString());
    return nonce;
}

} // namespace

// ---- Processing ----

std::shared_ptr<WebServerResponse>
WebServerConnection::preflightRequest(const std::shared_ptr<WebServerRequest>& request) {
    const std::string* authorization = HeaderValue(request->headers(), "Authorization");
    const std::string& realm = _settings->authenticationRealm;
    if (const auto& basicAccounts = _settings->basicAccounts) {
        if (authorization && authorization->rfind("Basic ", 0) == 0) {
            const std::string credentials = authorization->substr(6);
            for (const auto& [user, value] : *basicAccounts) {
                if (value == credentials) {
                    return nullptr;
                }
            }
        }
        auto response = WebServerResponse::responseWithStatusCode(401);
        response->setValueForAdditionalHeader(StringWithFormat("Basic realm=\"%@\"", {realm}),
                                              "WWW-Authenticate");
        return response;
    }
    if (const auto& digestAccounts = _settings->digestAccounts) {
        bool staleNonce = false;
        if (authorization && authorization->rfind("Digest ", 0) == 0) {
            const auto sentRealm = ExtractHeaderValueParameter(*authorization, "realm");
            const auto nonce = ExtractHeaderValueParameter(*authorization, "nonce");
            const auto user = ExtractHeaderValueParameter(*authorization, "username");
            const auto uri = ExtractHeaderValueParameter(*authorization, "uri");
            const auto answer = ExtractHeaderValueParameter(*authorization, "response");
            if (sentRealm == std::optional<std::string>(realm)) {
                if (nonce == std::optional<std::string>(digestNonce())) {
                    auto account = user ? digestAccounts->find(*user) : digestAccounts->end();
                    if (account != digestAccounts->end() && uri && answer) {
                        const std::string ha2 = MD5HexOfFormat("%@:%@", {request->method(), *uri});
                        const std::string expected =
                            MD5HexOfFormat("%@:%@:%@", {account->second, *nonce, ha2});
                        if (*answer == expected) {
                            return nullptr;
                        }
                    }
                } else if (nonce && !nonce->empty()) {
                    staleNonce = true;
                }
            }
        }
        auto response = WebServerResponse::responseWithStatusCode(401);
        response->setValueForAdditionalHeader(
            StringWithFormat("Digest realm=\"%@\", nonce=\"%@\"%@",
                             {realm, digestNonce(), staleNonce ? ", stale=TRUE" : ""}),
            "WWW-Authenticate");
        return response;
    }
    return nullptr;
}

void WebServerConnection::_startProcessingRequest() {
    auto preflight = preflightRequest(_request);
    if (preflight) {
        _finishProcessingRequest(std::move(preflight));
        return;
    }
    auto self = shared_from_this();
    processRequest(_request, [self](std::shared_ptr<WebServerResponse> response) {
        if (self->_responded.exchange(true)) {
            return; // a completion called a second time is ignored
        }
        self->_finishProcessingRequest(std::move(response));
    });
}

std::shared_ptr<WebServerResponse>
WebServerConnection::overrideResponse(const std::shared_ptr<WebServerResponse>& response,
                                      const std::shared_ptr<WebServerRequest>& request) {
    const int status = response->statusCode();
    if (status < 200 || status >= 300) {
        return response;
    }
    bool notModified = false;
    if (response->lastModifiedDate() && request->ifModifiedSince()) {
        // Dates travel with whole seconds: compare the response's date at that precision.
        const auto modified = std::chrono::floor<std::chrono::seconds>(*response->lastModifiedDate());
        notModified = modified <= *request->ifModifiedSince();
    }
    if (!notModified && response->eTag() && request->ifNoneMatch()) {
        notModified = *request->ifNoneMatch() == "*" || *request->ifNoneMatch() == *response->eTag();
    }
    if (!notModified) {
        return response;
    }
    const bool safe = request->method() == "HEAD" || request->method() == "GET";
    auto override = WebServerResponse::responseWithStatusCode(safe ? 304 : 412);
    override->setCacheControlMaxAge(response->cacheControlMaxAge());
    override->setLastModifiedDate(response->lastModifiedDate());
    override->setETag(response->eTag());
    return override;
}

void WebServerConnection::_finishProcessingRequest(std::shared_ptr<WebServerResponse> response) {
    if (!response) {
        abortRequest(_request, 500);
        return;
    }
    response = overrideResponse(response, _request);
    bool bodyOpened = false;
    if (response->hasBody()) {
        response->prepareForReading();
        if (!_virtualHEAD) {
            Error error;
            if (!response->performOpen(&error)) {
                abortRequest(_request, 500);
                return;
            }
            bodyOpened = true;
        }
    }
    _response = response;
    _initializeResponseHeadersWithStatusCode(static_cast<int>(response->statusCode()));
    if (response->lastModifiedDate()) {
        _responseMessage->setHeader("Last-Modified", FormatRFC822Date(*response->lastModifiedDate()));
    }
    if (response->eTag()) {
        _responseMessage->setHeader("ETag", *response->eTag());
    }
    const int status = response->statusCode();
    if (status >= 200 && status < 300) {
        _responseMessage->setHeader(
            "Cache-Control", response->cacheControlMaxAge() != 0
                                 ? "max-age=" + std::to_string(response->cacheControlMaxAge()) + ", public"
                                 : std::string("no-cache"));
    }
    if (response->contentType()) {
        _responseMessage->setHeader("Content-Type", NormalizeHeaderValue(*response->contentType()));
    }
    if (response->contentLength() != kWebServerNotFound) {
        _responseMessage->setHeader("Content-Length", std::to_string(response->contentLength()));
    }
    if (response->usesChunkedTransferEncoding()) {
        _responseMessage->setHeader("Transfer-Encoding", "chunked");
    }
    for (const auto& [name, value] : response->additionalHeaders()) {
        _responseMessage->setHeader(name, value);
    }
    auto self = shared_from_this();
    _writeHeadersWithCompletionBlock([self, bodyOpened](bool success) {
        if (!bodyOpened) {
            return;
        }
        if (!success) {
            self->_response->performClose();
            return;
        }
        self->_writeBodyWithCompletionBlock([self](bool) { self->_response->performClose(); });
    });
}

// ---- Response ----

void WebServerConnection::_initializeResponseHeadersWithStatusCode(int statusCode) {
    _statusCode = statusCode;
    _responseMessage = std::make_unique<platform::HttpResponseHead>(statusCode);
    _responseMessage->setHeader("Connection", "Close");
    _responseMessage->setHeader("Server", _settings->serverName);
    _responseMessage->setHeader("Date", FormatRFC822Date(std::chrono::system_clock::now()));
}

void WebServerConnection::_writeHeadersWithCompletionBlock(CompletionBlock block) {
    _writeData(std::make_shared<const Data>(_responseMessage->serialize()), std::move(block));
}

void WebServerConnection::_writeBodyWithCompletionBlock(CompletionBlock block) {
    auto self = shared_from_this();
    _response->performReadDataWithCompletion([self, block](std::optional<Data> data, const Error&) {
        if (!data) {
            block(false);
            return;
        }
        const bool chunked = self->_response->usesChunkedTransferEncoding();
        if (data->empty()) {
            if (chunked) {
                self->_writeData(lastChunk(), block);
            } else {
                block(true);
            }
            return;
        }
        std::shared_ptr<const Data> piece;
        if (chunked) {
            char size[32];
            const int length =
                std::snprintf(size, sizeof size, "%lx\r\n", static_cast<unsigned long>(data->size()));
            auto framed = std::make_shared<Data>();
            framed->reserve(data->size() + static_cast<std::size_t>(length) + 2);
            platform::appendBytes(*framed, size, static_cast<std::size_t>(length));
            framed->insert(framed->end(), data->begin(), data->end());
            platform::appendBytes(*framed, "\r\n", 2);
            piece = std::move(framed);
        } else {
            piece = std::make_shared<const Data>(std::move(*data));
        }
        self->_writeData(piece, [self, block](bool success) {
            if (success) {
                self->_writeBodyWithCompletionBlock(block);
            } else {
                block(false);
            }
        });
    });
}
