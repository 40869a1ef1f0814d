#include "WebServerConnection.h"

#include "WebServer.h"
#include "WebServerDigestNonces.h"
#include "WebServerErrorResponse.h"
#include "WebServerFunctions.h"
#include "WebServerSharedFolder.h"
#include "dispatch/DispatchSocket.h"
#include "dispatch/DispatchTimer.h"
#include "foundation/CaseInsensitive.h"
#include "foundation/Digest.h"
#include "foundation/Uuid.h"
#include "http/HttpRequestHead.h"
#include "http/HttpResponseHead.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>
#include <sys/socket.h>

// The processing half of a connection: authentication, the handler, conditional requests and
// writing the response.

namespace {

// What one file send covers at most before the connection hears of it (didWriteBytes).
constexpr std::uint64_t kSendFileSlice = 16 * 1024 * 1024;

// What a connection still reads and drops after its answer, at most, before it closes (and in
// reads of what size): closing with bytes unread (a request pipelined behind the answer, the rest
// of a body answered early) would reset the connection, and the end of the answer would be lost.
constexpr std::size_t kLingerBytes = 16 * 1024 * 1024;
constexpr double kLingerSeconds = 2.0;
constexpr std::size_t kLingerReadSlice = 64 * 1024;

const std::shared_ptr<const Data>& lastChunk() {
    static const auto bytes = std::make_shared<const Data>(platform::dataFromString("0\r\n\r\n"));
    return bytes;
}

bool isTokenCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

void skipSpaces(std::string_view text, std::size_t& position) {
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) {
        ++position;
    }
}

} // namespace

std::optional<std::pair<std::string, std::map<std::string, std::string>>>
ParseAuthorizationHeader(std::string_view value) {
    std::size_t position = 0;
    skipSpaces(value, position);
    const std::size_t schemeStart = position;
    while (position < value.size() && isTokenCharacter(value[position])) {
        ++position;
    }
    if (position == schemeStart) {
        return std::nullopt;
    }
    std::pair<std::string, std::map<std::string, std::string>> result;
    result.first = platform::asciiLowercase(value.substr(schemeStart, position - schemeStart));
    skipSpaces(value, position);
    const std::size_t parametersStart = position;
    // Basic carries one token68 value, kept under the name "".
    if (result.first == "basic") {
        std::size_t end = value.size();
        while (end > position && (value[end - 1] == ' ' || value[end - 1] == '\t')) {
            --end;
        }
        result.second[""] = std::string(value.substr(position, end - position));
        return result;
    }
    while (position < value.size()) {
        const std::size_t nameStart = position;
        while (position < value.size() && isTokenCharacter(value[position])) {
            ++position;
        }
        if (position == nameStart) {
            return std::nullopt;
        }
        std::string name = platform::asciiLowercase(value.substr(nameStart, position - nameStart));
        skipSpaces(value, position);
        if (position >= value.size() || value[position] != '=') {
            return std::nullopt;
        }
        ++position;
        skipSpaces(value, position);
        std::string parameter;
        if (position < value.size() && value[position] == '"') {
            ++position;
            bool closed = false;
            while (position < value.size()) {
                const char c = value[position++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && position < value.size()) {
                    parameter.push_back(value[position++]);
                } else {
                    parameter.push_back(c);
                }
            }
            if (!closed) {
                return std::nullopt;
            }
        } else {
            const std::size_t start = position;
            while (position < value.size() && isTokenCharacter(value[position])) {
                ++position;
            }
            parameter = std::string(value.substr(start, position - start));
        }
        result.second.emplace(std::move(name), std::move(parameter)); // the first occurrence wins
        skipSpaces(value, position);
        if (position < value.size()) {
            if (value[position] != ',') {
                return std::nullopt;
            }
            ++position;
            skipSpaces(value, position);
        }
    }
    (void)parametersStart;
    return result;
}

// ---- Digest ----

namespace {

// An nc value: hexadecimal digits (eight by RFC 7616, a few more or fewer accepted), never 0.
std::optional<std::uint64_t> parseNonceCount(const std::string& text) {
    if (text.empty() || text.size() > 16 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return std::nullopt;
    }
    const std::uint64_t value = std::strtoull(text.c_str(), nullptr, 16);
    return value == 0 ? std::nullopt : std::optional<std::uint64_t>(value);
}

} // namespace

// The answer must carry this request's own target and a response made with the stored HA1, either
// with qop=auth (nc and cnonce in the hash) or without qop. A correct answer is taken once: the
// same nc again, or a second answer without qop for one nonce, is a replay and gets 401 with
// stale=TRUE (a client that really holds the password then simply answers a fresh nonce).
std::shared_ptr<WebServerResponse>
WebServerConnection::_checkDigestAnswer(const std::shared_ptr<WebServerRequest>& request) {
    const std::string& realm = _settings->authenticationRealm;
    const auto& accounts = *_settings->digestAccounts;
    auto& nonces = *_settings->digestNonces;
    const std::string* authorization = HeaderValue(request->headers(), "Authorization");
    const auto parsed = authorization ? ParseAuthorizationHeader(*authorization) : std::nullopt;
    bool staleNonce = false;
    if (parsed && parsed->first == "digest") {
        const auto& parameters = parsed->second;
        auto parameter = [&parameters](const char* name) -> const std::string* {
            const auto found = parameters.find(name);
            return found == parameters.end() ? nullptr : &found->second;
        };
        const std::string* sentRealm = parameter("realm");
        const std::string* nonce = parameter("nonce");
        const std::string* user = parameter("username");
        const std::string* uri = parameter("uri");
        const std::string* answer = parameter("response");
        const std::string* qop = parameter("qop");
        const std::string* nc = parameter("nc");
        const std::string* cnonce = parameter("cnonce");
        const auto nonceState = nonce ? nonces.check(*nonce) : WebServerDigestNonces::State::invalid;
        if (sentRealm && *sentRealm == realm) {
            const auto account = user ? accounts.find(*user) : accounts.end();
            const auto count = nc ? parseNonceCount(*nc) : std::nullopt;
            const bool wellFormed = !qop || (*qop == "auth" && count && cnonce && !cnonce->empty());
            if (nonceState == WebServerDigestNonces::State::fresh && account != accounts.end() && uri &&
                answer && wellFormed && *uri == _requestMessage->requestTarget()) {
                const std::string ha2 = MD5HexOfFormat("%@:%@", {request->method(), *uri});
                const std::string expected =
                    qop ? MD5HexOfFormat("%@:%@:%@:%@:%@:%@",
                                         {account->second, *nonce, *nc, *cnonce, *qop, ha2})
                        : MD5HexOfFormat("%@:%@:%@", {account->second, *nonce, ha2});
                if (*answer == expected) {
                    if (nonces.recordAnswer(*nonce, qop ? count : std::nullopt)) {
                        return nullptr;
                    }
                    staleNonce = true; // the answer was used before
                }
            }
            staleNonce =
                staleNonce || (nonceState != WebServerDigestNonces::State::fresh && nonce && !nonce->empty());
        }
    }
    auto response = WebServerResponse::responseWithStatusCode(401);
    response->setValueForAdditionalHeader(
        StringWithFormat("Digest realm=\"%@\", nonce=\"%@\", qop=\"auth\"%@",
                         {realm, nonces.makeNonce(), staleNonce ? ", stale=TRUE" : ""}),
        "WWW-Authenticate");
    return response;
}

// ---- Processing ----

std::shared_ptr<WebServerResponse>
WebServerConnection::preflightRequest(const std::shared_ptr<WebServerRequest>& request) {
    const std::string* authorization = HeaderValue(request->headers(), "Authorization");
    const std::string& realm = _settings->authenticationRealm;
    if (const auto& basicAccounts = _settings->basicAccounts) {
        // The scheme exactly as "Basic ", the credentials exactly as stored.
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
    if (_settings->digestAccounts) {
        return _checkDigestAnswer(request);
    }
    return nullptr;
}

// Authentication ran on the head already (_processRequestHead).
void WebServerConnection::_startProcessingRequest() {
    if (!_beginCarryingOut()) {
        abortRequest(_request, 503); // shut down for want of descriptors already: nothing is carried out
        return;
    }
    auto self = shared_from_this();
    // The drain after the answer also waits for the handler to return and let go of its
    // completion (`release` is held by both): by then the handler is done with the request, which
    // the drain lets go of (and whatever the request holds with it).
    _lingerWaits.fetch_add(1);
    struct Release {
        explicit Release(std::shared_ptr<WebServerConnection> held) : connection(std::move(held)) {}
        Release(const Release&) = delete;
        Release& operator=(const Release&) = delete;
        ~Release() { connection->_lingerOnceDone(); }
        std::shared_ptr<WebServerConnection> connection;
    };
    auto release = std::make_shared<Release>(self);
    processRequest(_request, [self, release](std::shared_ptr<WebServerResponse> response) {
        if (self->_responded.exchange(true)) {
            return; // a completion called a second time is ignored
        }
        self->_finishProcessingRequest(std::move(response));
    });
}

namespace {

// A request that could not open what it needed, for want of descriptors or memory, is not
// answered with the failure that followed ("does not exist"...): nothing is known to be wrong,
// and the client may try again.
std::shared_ptr<WebServerResponse> unlessShortOfResources(std::shared_ptr<WebServerResponse> response,
                                                          const WebServerRequest* request) {
    if (!request || !request->hadResourceShortage() || (response && response->statusCode() < 400)) {
        return response;
    }
    return WebServerErrorResponse::responseWithServerError(
        503, "The server is short of resources for \"%@\"; try again", {request->path()});
}

} // namespace

std::shared_ptr<WebServerResponse>
WebServerConnection::overrideResponse(const std::shared_ptr<WebServerResponse>& response,
                                      const std::shared_ptr<WebServerRequest>& request) {
    const int status = response->statusCode();
    if (status < 200 || status >= 300) {
        return response;
    }
    bool notModified = false;
    if (const auto& noneMatch = request->ifNoneMatch()) {
        // If-None-Match, compared weakly, decides alone: the date is not looked at beside it
        // (RFC 9110 §13.2.2).
        notModified = response->eTag() && (IsAnyEntityTag(*noneMatch) ||
                                           EntityTagListMatches(*noneMatch, *response->eTag(), false));
    } else if (response->lastModifiedDate() && request->ifModifiedSince()) {
        // Dates travel with whole seconds: compare the response's date at that precision.
        const auto modified = std::chrono::floor<std::chrono::seconds>(*response->lastModifiedDate());
        notModified = modified <= *request->ifModifiedSince();
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
    response = unlessShortOfResources(std::move(response), _request.get());
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
                abortRequest(_request, IsResourceShortage(error) ? 503 : 500);
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
            if (success) {
                self->_lingerAfterAnswer();
            }
            return;
        }
        if (!success) {
            self->_response->performClose();
            return;
        }
        self->_endCarryingOut();
        self->_writeBodyWithCompletionBlock([self](bool written) {
            self->_response->performClose();
            if (written) {
                self->_lingerAfterAnswer();
            }
        });
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
    // A file body with nothing between it and the socket (no encoder, a known length) goes out with
    // sendfile from the descriptor the response opened: the bytes, length and ETag all come from
    // that one file.
    if (const auto file = _response->performFileBody()) {
        _sendFileBody(*file, std::move(block));
        return;
    }
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

void WebServerConnection::_sendFileBody(WebServerResponse::FileBody body, CompletionBlock block) {
    if (body.length == 0) {
        block(true);
        return;
    }
    // Every piece that goes out counts as progress for the idle time-out: a client that reads
    // nothing for that long loses its connection, one that reads slowly does not.
    const std::uint64_t slice = std::min<std::uint64_t>(body.length, kSendFileSlice);
    auto self = shared_from_this();
    _beginIO();
    platform::dispatch::DispatchSocket::sendFile(
        _socket, body.descriptor, body.offset, slice,
        [self, body, block](std::uint64_t sent, int error) {
            self->_endIO();
            if (sent > 0) {
                self->_bytesMoved += sent;
                self->didWriteBytes(nullptr, static_cast<std::size_t>(sent));
            }
            if (error != 0) {
                // A file that shrank, or a failed socket: fewer bytes than announced went out, and
                // the connection closes (never a torn body that looks whole).
                block(false);
                return;
            }
            self->_sendFileBody({body.descriptor, body.offset + sent, body.length - sent}, block);
        },
        // The operation holds the completion, and so the connection, while it reports progress.
        [connection = this](std::uint64_t) { connection->_noteProgress(); });
    _watchIdle();
}

// ---- Closing after the answer ----

// The answer is out and the connection ends: once the handler, if one ran, has let go of its
// completion, the request goes, the sending side is shut down (the client sees the answer end),
// then what the client still sends is read and dropped until its end of stream, for at most
// kLingerSeconds and kLingerBytes, and only then is the socket closed. Meanwhile the connection is
// draining: the first to go when descriptors run short, and shut down at once when the server
// stops. Reads go through the reactor and the time limit is the phase timer: no worker waits.
void WebServerConnection::_lingerAfterAnswer() {
    _endCarryingOut(); // its client knows the outcome: it may be shed again
    _lingerOnceDone();
}

void WebServerConnection::_lingerOnceDone() {
    if (_lingerWaits.fetch_sub(1, std::memory_order_acq_rel) != 1 || _socket == -1) {
        return;
    }
    // Whatever the request held (a body's temporary files, the staging folder of uploads) is let
    // go of before the client sees the answer end, as it was before a close.
    _request.reset();
    _draining = true;
    if (_server->stopCount() != _settings->stopCount) {
        return; // the server stopped: the socket closes now
    }
    ::shutdown(_socket, SHUT_WR);
    _armPhaseTimer(kLingerSeconds, [this] { _shutDownSocket(); });
    _drain(kLingerBytes);
}

void WebServerConnection::_drain(std::size_t remaining) {
    auto buffer = std::make_shared<Data>();
    auto self = shared_from_this();
    _readData(buffer, std::min<std::size_t>(remaining, kLingerReadSlice),
              [self, buffer, remaining](bool success) {
                  if (success && buffer->size() < remaining) {
                      self->_drain(remaining - buffer->size());
                  }
              });
}
