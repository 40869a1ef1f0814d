#include "WebServerConnection.h"

#include "WebServer.h"
#include "WebServerFunctions.h"
#include "WebServerRequestErrors.h"
#include "WebServerSharedFolder.h"
#include "dispatch/DispatchSocket.h"
#include "dispatch/DispatchTimer.h"
#include "foundation/CaseInsensitive.h"
#include "foundation/Digest.h"
#include "foundation/SocketAddress.h"
#include "foundation/Uuid.h"
#include "http/HttpRequestHead.h"
#include "http/HttpResponseHead.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

using platform::dispatch::DispatchSocket;

namespace {

constexpr std::size_t kHeadersReadCapacity = 1024;
constexpr std::size_t kBodyReadCapacity = 256 * 1024;

const std::shared_ptr<const Data>& continueHead() {
    static const auto head = std::make_shared<const Data>(platform::HttpResponseHead(100).serialize());
    return head;
}

// 0 when the head frames its body in a way this server implements, else the status to answer:
// 501 for a transfer coding other than chunked, 400 for a Content-Length that is not one plain
// number (repeated fields arrive joined with ", ") or that comes with a Transfer-Encoding.
int framingStatus(const HeaderDictionary& headers) {
    const std::string* encoding = HeaderValue(headers, "Transfer-Encoding");
    const std::string* length = HeaderValue(headers, "Content-Length");
    if (encoding && !platform::equalsIgnoringCase(*encoding, "chunked")) {
        return 501;
    }
    if (encoding && length) {
        return 400;
    }
    if (length &&
        (length->empty() || length->size() > 18 ||
         !std::all_of(length->begin(), length->end(), [](char c) { return c >= '0' && c <= '9'; }))) {
        return 400;
    }
    return 0;
}

} // namespace

struct WebServerConnection::Deleter {
    void operator()(WebServerConnection* connection) const {
        connection->_endOfLife();
        delete connection;
    }
};

WebServerConnection::WebServerConnection(std::shared_ptr<WebServer> server, std::optional<Data> localAddress,
                                         Data remoteAddress, int socket)
    : _server(std::move(server)), _localAddress(std::move(localAddress)),
      _remoteAddress(std::move(remoteAddress)), _socket(socket),
      _settings(std::make_unique<const ServerSettings>(ServerSettings{
          _server->serverName(), _server->authenticationRealm(), _server->authenticationBasicAccounts(),
          _server->authenticationDigestAccounts(), _server->shouldAutomaticallyMapHEADToGET(),
          _server->connectionIdleTimeout(), _server->headTimeout(), _server->minimumBodyRate(),
          _server->bodyRateInterval(), _server->digestNonces(), _server->stopCount()})) {}

WebServerConnection::~WebServerConnection() = default;

std::shared_ptr<WebServerConnection> WebServerConnection::start(WebServerConnection* connection) {
    std::shared_ptr<WebServerConnection> self(connection, Deleter{});
    connection->_server->willStartConnection(*connection);
    if (!connection->open()) {
        return nullptr; // the socket is closed as the connection ends, once nothing refers to it
    }
    connection->_opened = true;
    connection->_readRequestHeaders();
    return self;
}

void WebServerConnection::_endOfLife() {
    // The request goes before the socket closes: whatever it held (a body's temporary files, the
    // staging folder of uploads) is let go of by the time the client sees the exchange end.
    _request.reset();
    {
        std::lock_guard lock(_watchdogMutex);
        for (auto* timer : {&_watchdog, &_phaseTimer}) {
            if (*timer) {
                (*timer)->cancel();
                timer->reset();
            }
        }
    }
    if (_socket != -1) {
        DispatchSocket::forget(_socket);
        ::close(_socket);
        _socket = -1;
    }
    if (_opened) {
        close();
    }
    _server->didEndConnection(*this);
    _requestMessage.reset();
    _responseMessage.reset();
}

bool WebServerConnection::isUsingIPv6() const {
    if (!_localAddress || _localAddress->size() < sizeof(sa_family_t)) {
        return false;
    }
    sa_family_t family;
    std::memcpy(&family, _localAddress->data(), sizeof family);
    return family == AF_INET6;
}

std::optional<std::string> WebServerConnection::localAddressString() const {
    return _localAddress ? platform::stringFromSockAddrData(*_localAddress, true) : std::nullopt;
}

std::optional<std::string> WebServerConnection::remoteAddressString() const {
    return platform::stringFromSockAddrData(_remoteAddress, true);
}

// ---- Hooks ----

bool WebServerConnection::open() {
    return true;
}

void WebServerConnection::didReadBytes(const std::uint8_t*, std::size_t length) {
    _bytesRead += length;
}

std::optional<Url> WebServerConnection::rewriteRequestURL(const Url& url, const std::string&,
                                                          const HeaderDictionary&) {
    return url;
}

void WebServerConnection::processRequest(const std::shared_ptr<WebServerRequest>& request,
                                         WebServerCompletionBlock completion) {
    try {
        _handler->asyncProcessBlock()(request, std::move(completion));
    } catch (...) {
        // A handler that throws ends the connection without a response.
        _responded = true;
    }
}

void WebServerConnection::didWriteBytes(const std::uint8_t*, std::size_t length) {
    _bytesWritten += length;
}

void WebServerConnection::abortRequest(const std::shared_ptr<WebServerRequest>& request, int statusCode) {
    // A failure after a shortage of descriptors or memory is not the client's: it may try again.
    if (request && request->hadResourceShortage() && statusCode >= 400) {
        statusCode = 503;
    }
    // A read that failed because the server shut the connection down for want of descriptors.
    if (statusCode == 500 && _shedState.load() == ShedState::ShutDown) {
        statusCode = 503;
    }
    _initializeResponseHeadersWithStatusCode(statusCode);
    auto self = shared_from_this();
    _writeHeadersWithCompletionBlock([self](bool success) {
        if (success) {
            self->_lingerAfterAnswer();
        }
    });
}

void WebServerConnection::close() {}

// ---- Socket I/O ----

void WebServerConnection::_readData(std::shared_ptr<Data> buffer, std::size_t length, CompletionBlock block) {
    auto self = shared_from_this();
    _beginIO();
    DispatchSocket::read(_socket, length, [self, buffer, block](Data bytes, int error) {
        self->_endIO();
        if (error != 0 || bytes.empty()) {
            block(false);
            return;
        }
        const std::size_t added = bytes.size();
        if (buffer->empty()) {
            *buffer = std::move(bytes);
        } else {
            buffer->insert(buffer->end(), bytes.begin(), bytes.end());
        }
        self->_bytesMoved += added;
        self->didReadBytes(buffer->data() + buffer->size() - added, added);
        block(true);
    });
    _watchIdle();
}

void WebServerConnection::_writeData(std::shared_ptr<const Data> data, CompletionBlock block) {
    auto self = shared_from_this();
    _beginIO();
    DispatchSocket::write(_socket, data, [self, data, block](int error) {
        self->_endIO();
        if (error != 0) {
            block(false);
            return;
        }
        self->_bytesMoved += data->size();
        self->didWriteBytes(data->data(), data->size());
        block(true);
    });
    _watchIdle();
}

// ---- Request head ----

void WebServerConnection::_readRequestHeaders() {
    _requestMessage = std::make_unique<platform::HttpRequestHead>();
    auto buffer = std::make_shared<Data>();
    buffer->reserve(kHeadersReadCapacity);
    auto self = shared_from_this();
    _readHeaders(buffer, [self](std::optional<Data> extraData) {
        if (!extraData) {
            self->abortRequest(nullptr, 500);
            return;
        }
        self->_processRequestHead(std::move(*extraData));
    });
}

// Each piece goes to the head parser as it arrives; the head ends at its blank line, with or
// without CR, and the parser bounds its size.
void WebServerConnection::_readHeaders(std::shared_ptr<Data> buffer, HeadersCompletionBlock block) {
    auto self = shared_from_this();
    buffer->clear();
    _readData(buffer, 0, [self, buffer, block](bool success) {
        if (!success) {
            block(std::nullopt);
            return;
        }
        std::size_t consumed = 0;
        if (!self->_requestMessage->appendBytes(buffer->data(), buffer->size(), &consumed)) {
            block(std::nullopt);
            return;
        }
        if (!self->_requestMessage->isHeaderComplete()) {
            if (!std::exchange(self->_headStarted, true)) {
                self->_startHeadDeadline();
            }
            self->_readHeaders(buffer, block);
            return;
        }
        self->_headComplete = true;
        block(Data(buffer->begin() + static_cast<std::ptrdiff_t>(consumed), buffer->end()));
    });
}

void WebServerConnection::_processRequestHead(Data extraData) {
    std::string method = _requestMessage->method();
    if (_settings->mapHEADToGET && method == "HEAD") {
        _virtualHEAD = true;
        method = "GET";
    }
    const HeaderDictionary& headers = _requestMessage->headers();
    std::optional<Url> url = _requestMessage->url();
    if (url) {
        url = rewriteRequestURL(*url, method, headers);
    }
    std::optional<std::string> path = url ? UnescapeURLString(url->path()) : std::nullopt;
    if (method.empty() || !url || !path) {
        abortRequest(nullptr, 500);
        return;
    }
    const QueryDictionary query = url->query() ? ParseURLEncodedForm(*url->query()) : QueryDictionary{};
    if (!_matchRequest(method, *url, *path, query) || !_checkRequestBeforeBody()) {
        return;
    }
    if (!_request->hasBody()) {
        _startProcessingRequest(); // bytes after the head are ignored
        return;
    }
    _request->prepareForWriting();
    if (!_request->usesChunkedTransferEncoding() && extraData.size() > _request->contentLength()) {
        abortRequest(_request, 400);
        return;
    }
    _readBodyAfterExpectation(std::move(extraData));
}

// Finds the handler that takes the request and makes the request with it.
bool WebServerConnection::_matchRequest(const std::string& method, const Url& url, const std::string& path,
                                        const QueryDictionary& query) {
    const HeaderDictionary& headers = _requestMessage->headers();
    // A body framed in a way this server does not implement is refused before any handler runs.
    if (const int refusal = framingStatus(headers); refusal != 0) {
        abortRequest(nullptr, refusal);
        return false;
    }
    try {
        for (const auto& handler : _server->handlers()) {
            _handler = handler;
            _request = handler->matchBlock()(method, url, headers, path, query);
            if (_request) {
                break;
            }
        }
    } catch (...) {
        _request.reset();
        abortRequest(nullptr, 500);
        return false;
    }
    if (!_request) {
        _handler.reset();
        _request = std::make_shared<WebServerRequest>(method, url, headers, path, query);
        abortRequest(_request, 405);
        return false;
    }
    _request->setLocalAddressData(_localAddress);
    _request->setRemoteAddressData(_remoteAddress);
    return true;
}

// Credentials are checked on the head: a request without them is answered at once, and its body
// is never read (nor a "100 Continue" sent for it). So is a request with a body that its handler
// refuses on the head alone (a name it will not store, a folder that is missing).
bool WebServerConnection::_checkRequestBeforeBody() {
    if (auto refusal = preflightRequest(_request)) {
        _finishProcessingRequest(std::move(refusal));
        return false;
    }
    const auto& headCheck = _handler->headCheckBlock();
    if (!_request->hasBody() || !headCheck) {
        return true;
    }
    std::shared_ptr<WebServerResponse> refusal;
    try {
        refusal = headCheck(_request);
    } catch (...) {
        abortRequest(_request, 500);
        return false;
    }
    if (refusal) {
        _finishProcessingRequest(std::move(refusal));
        return false;
    }
    return true;
}

// "Expect: 100-continue" is answered with the 100 head before the body is read; any other
// expectation with 417.
void WebServerConnection::_readBodyAfterExpectation(Data extraData) {
    const std::string* expect = HeaderValue(_requestMessage->headers(), "Expect");
    if (!expect) {
        _readBody(std::move(extraData));
        return;
    }
    if (!platform::equalsIgnoringCase(*expect, "100-continue")) {
        abortRequest(_request, 417);
        return;
    }
    auto self = shared_from_this();
    auto pending = std::make_shared<Data>(std::move(extraData));
    _writeData(continueHead(), [self, pending](bool success) {
        if (success) {
            self->_readBody(std::move(*pending));
        }
    });
}

void WebServerConnection::_readBody(Data extraData) {
    if (_request->usesChunkedTransferEncoding()) {
        _readChunkedBodyWithInitialData(std::move(extraData));
    } else {
        _readBodyWithLength(_request->contentLength(), std::move(extraData));
    }
}

// ---- Request body ----

namespace {

// A body that could not be stored: too large for the request (413), or for the file system (507,
// the status WebDAV clients know for a full disk), for want of descriptors or memory (503: the
// client may try again), else a failure of the server.
int bodyFailureStatus(const Error& error) {
    return IsWebServerBodyTooLargeError(error) ? 413
           : IsOutOfSpace(error)               ? 507
           : IsResourceShortage(error)         ? 503
                                               : 500;
}

} // namespace

void WebServerConnection::_readBodyWithLength(std::uint64_t length, Data initialData) {
    Error error;
    if (!_openRequestBody(&error)) {
        abortRequest(_request, bodyFailureStatus(error));
        return;
    }
    if (!initialData.empty() && !_request->performWriteData(initialData, &error)) {
        _bodyError = error;
        _finishBodyRead(false);
        return;
    }
    const std::uint64_t remaining = length - initialData.size();
    if (remaining == 0) {
        _finishBodyRead(true);
        return;
    }
    auto self = shared_from_this();
    _readBodyWithRemainingLength(remaining, [self](bool success) { self->_finishBodyRead(success); });
}

// The body goes to the request in pieces of up to 256 KiB, all read into one buffer of the
// connection: no allocation per piece.
void WebServerConnection::_readBodyWithRemainingLength(std::uint64_t length, CompletionBlock block) {
    if (!_bodyBuffer) {
        _bodyBuffer = std::make_shared<Data>();
    }
    auto buffer = _bodyBuffer;
    buffer->resize(kBodyReadCapacity);
    const auto slice = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBodyReadCapacity));
    _startBodyRateCheck();
    auto self = shared_from_this();
    _beginIO();
    DispatchSocket::readInto(_socket, buffer->data(), slice,
                             [self, buffer, length, block](std::size_t count, int error) {
                                 self->_endIO();
                                 if (error != 0 || count == 0 || count > length) {
                                     block(false);
                                     return;
                                 }
                                 buffer->resize(count);
                                 self->_bodyBytesRead += count;
                                 self->_bytesMoved += count;
                                 self->didReadBytes(buffer->data(), count);
                                 Error writeError;
                                 if (!self->_request->performWriteData(*buffer, &writeError)) {
                                     self->_bodyError = writeError;
                                     block(false);
                                     return;
                                 }
                                 const std::uint64_t remaining = length - count;
                                 if (remaining > 0) {
                                     self->_readBodyWithRemainingLength(remaining, block);
                                 } else {
                                     block(true);
                                 }
                             });
    _watchIdle();
}

void WebServerConnection::_readChunkedBodyWithInitialData(Data initialData) {
    Error error;
    if (!_openRequestBody(&error)) {
        abortRequest(_request, bodyFailureStatus(error));
        return;
    }
    _chunkParser = std::make_unique<WebServerChunkedBodyParser>();
    _bodyBuffer = std::make_shared<Data>();
    _bodyBuffer->reserve(kBodyReadCapacity);
    auto self = shared_from_this();
    _readNextBodyChunk(std::make_shared<Data>(std::move(initialData)),
                       [self](bool success) { self->_finishBodyRead(success); });
}

// Chunk data is gathered in the connection's body buffer and goes to the request in pieces of up
// to 256 KiB, however small the chunks: a body of 1-byte chunks costs no write per chunk.
bool WebServerConnection::_gatherChunkData(const std::uint8_t* bytes, std::size_t length) {
    Data& gathered = *_bodyBuffer;
    while (length > 0) {
        const std::size_t take = std::min(length, kBodyReadCapacity - gathered.size());
        gathered.insert(gathered.end(), bytes, bytes + take);
        bytes += take;
        length -= take;
        if (gathered.size() == kBodyReadCapacity && !_flushGatheredChunkData()) {
            return false;
        }
    }
    return true;
}

bool WebServerConnection::_flushGatheredChunkData() {
    Data& gathered = *_bodyBuffer;
    const bool written = gathered.empty() || _request->performWriteData(gathered, &_bodyError);
    gathered.clear();
    return written;
}

void WebServerConnection::_readNextBodyChunk(std::shared_ptr<Data> buffer, CompletionBlock block) {
    const auto status =
        _chunkParser->feed(buffer->data(), buffer->size(), [this](const std::uint8_t* bytes, std::size_t n) {
            return _gatherChunkData(bytes, n);
        });
    if (status != WebServerChunkedBodyParser::Status::NeedMore) {
        block(status == WebServerChunkedBodyParser::Status::Done && _flushGatheredChunkData());
        return;
    }
    _startBodyRateCheck();
    auto next = std::make_shared<Data>();
    auto self = shared_from_this();
    _readData(next, 0, [self, next, block](bool success) {
        if (!success) {
            block(false);
            return;
        }
        self->_bodyBytesRead += next->size();
        self->_readNextBodyChunk(next, block);
    });
}

void WebServerConnection::_finishBodyRead(bool success) {
    _readingBody = false;
    Error error;
    if (!success) {
        // The request goes before the answer: whatever it had stored of the body (temporary
        // files, finished file parts) is removed by then, not when the connection ends.
        _closeRequestBody(&error);
        _request.reset();
        abortRequest(nullptr, bodyFailureStatus(_bodyError));
        return;
    }
    if (!_closeRequestBody(&error)) {
        abortRequest(_request, bodyFailureStatus(error));
        return;
    }
    _startProcessingRequest();
}

// A body being stored holds a descriptor of its own (a file, mostly): the server counts it for the
// peer while it is open. When descriptors are short and nothing can make room for it, the request
// is answered 503 before anything of it is stored.
bool WebServerConnection::_openRequestBody(Error* error) {
    if (!_beginCarryingOut() || !_server->willOpenRequestBody(*this)) {
        _request->noteResourceShortage();
        return false;
    }
    _requestBodyOpen = true;
    if (!_request->performOpen(error)) {
        if (error) {
            NoteResourceShortage(*_request, *error);
        }
        _requestBodyOpen = false;
        _server->didCloseRequestBody(*this);
        return false;
    }
    return true;
}

bool WebServerConnection::_closeRequestBody(Error* error) {
    const bool closed = _request->performClose(error);
    if (std::exchange(_requestBodyOpen, false)) {
        _server->didCloseRequestBody(*this);
    }
    return closed;
}
