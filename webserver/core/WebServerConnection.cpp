#include "WebServerConnection.h"

#include "WebServer.h"
#include "WebServerFunctions.h"
#include "dispatch/DispatchSocket.h"
#include "foundation/Digest.h"
#include "foundation/SocketAddress.h"
#include "foundation/Uuid.h"
#include "http/HttpRequestHead.h"
#include "http/HttpResponseHead.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

using platform::dispatch::DispatchSocket;

namespace {

constexpr std::size_t kHeadersReadCapacity = 1024;
constexpr std::size_t kBodyReadCapacity = 256 * 1024;

const std::shared_ptr<const Data>& continueHead() {
    static const auto head = std::make_shared<const Data>(platform::HttpResponseHead(100).serialize());
    return head;
}

std::size_t findHeadEnd(const Data& buffer, std::size_t from) {
    static const char kEnd[] = "\r\n\r\n";
    auto it = std::search(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end(), kEnd, kEnd + 4);
    return it == buffer.end() ? std::string::npos : static_cast<std::size_t>(it - buffer.begin());
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
          _server->authenticationDigestAccounts(), _server->shouldAutomaticallyMapHEADToGET()})) {}

WebServerConnection::~WebServerConnection() = default;

std::shared_ptr<WebServerConnection> WebServerConnection::start(WebServerConnection* connection) {
    std::shared_ptr<WebServerConnection> self(connection, Deleter{});
    connection->_server->willStartConnection(*connection);
    if (!connection->open()) {
        ::close(connection->_socket);
        connection->_socket = -1;
        return nullptr;
    }
    connection->_opened = true;
    connection->_readRequestHeaders();
    return self;
}

void WebServerConnection::_endOfLife() {
    if (_socket != -1) {
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

void WebServerConnection::abortRequest(const std::shared_ptr<WebServerRequest>&, int statusCode) {
    _initializeResponseHeadersWithStatusCode(statusCode);
    _writeHeadersWithCompletionBlock([](bool) {});
}

void WebServerConnection::close() {}

// ---- Socket I/O ----

void WebServerConnection::_readData(std::shared_ptr<Data> buffer, std::size_t length, CompletionBlock block) {
    auto self = shared_from_this();
    DispatchSocket::read(_socket, length, [self, buffer, block](Data bytes, int error) {
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
        self->didReadBytes(buffer->data() + buffer->size() - added, added);
        block(true);
    });
}

void WebServerConnection::_writeData(std::shared_ptr<const Data> data, CompletionBlock block) {
    auto self = shared_from_this();
    DispatchSocket::write(_socket, data, [self, data, block](int error) {
        if (error != 0) {
            block(false);
            return;
        }
        self->didWriteBytes(data->data(), data->size());
        block(true);
    });
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

void WebServerConnection::_readHeaders(std::shared_ptr<Data> buffer, HeadersCompletionBlock block) {
    const std::size_t searchFrom = buffer->size() >= 3 ? buffer->size() - 3 : 0;
    auto self = shared_from_this();
    _readData(buffer, 0, [self, buffer, block, searchFrom](bool success) {
        if (!success) {
            block(std::nullopt);
            return;
        }
        const std::size_t end = findHeadEnd(*buffer, searchFrom);
        if (end == std::string::npos) {
            if (buffer->size() > platform::HttpRequestHead::kDefaultMaximumSize) {
                block(std::nullopt); // a head without end in sight is refused like an invalid one
                return;
            }
            self->_readHeaders(buffer, block);
            return;
        }
        const std::size_t headLength = end + 4;
        if (!self->_requestMessage->appendBytes(buffer->data(), headLength) ||
            !self->_requestMessage->isHeaderComplete()) {
            block(std::nullopt);
            return;
        }
        block(Data(buffer->begin() + static_cast<std::ptrdiff_t>(headLength), buffer->end()));
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
    try {
        for (const auto& handler : _server->handlers()) {
            _handler = handler;
            _request = handler->matchBlock()(method, *url, headers, *path, query);
            if (_request) {
                break;
            }
        }
    } catch (...) {
        _request.reset();
        abortRequest(nullptr, 500);
        return;
    }
    if (!_request) {
        _handler.reset();
        _request = std::make_shared<WebServerRequest>(method, *url, headers, *path, query);
        abortRequest(_request, 405);
        return;
    }
    _request->setLocalAddressData(_localAddress);
    _request->setRemoteAddressData(_remoteAddress);
    if (!_request->hasBody()) {
        _startProcessingRequest(); // bytes after the head are ignored
        return;
    }
    _request->prepareForWriting();
    if (!_request->usesChunkedTransferEncoding() && extraData.size() > _request->contentLength()) {
        abortRequest(_request, 400);
        return;
    }
    if (const std::string* expect = HeaderValue(headers, "Expect")) {
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
        return;
    }
    _readBody(std::move(extraData));
}

void WebServerConnection::_readBody(Data extraData) {
    if (_request->usesChunkedTransferEncoding()) {
        _readChunkedBodyWithInitialData(std::move(extraData));
    } else {
        _readBodyWithLength(_request->contentLength(), std::move(extraData));
    }
}

// ---- Request body ----

void WebServerConnection::_readBodyWithLength(std::uint64_t length, Data initialData) {
    Error error;
    if (!_request->performOpen(&error)) {
        abortRequest(_request, 500);
        return;
    }
    if (!initialData.empty() && !_request->performWriteData(initialData, &error)) {
        _request->performClose(&error);
        abortRequest(_request, 500);
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

void WebServerConnection::_readBodyWithRemainingLength(std::uint64_t length, CompletionBlock block) {
    auto buffer = std::make_shared<Data>();
    const auto slice = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBodyReadCapacity));
    auto self = shared_from_this();
    _readData(buffer, slice, [self, buffer, length, block](bool success) {
        if (!success || buffer->size() > length) {
            block(false);
            return;
        }
        Error error;
        if (!self->_request->performWriteData(*buffer, &error)) {
            block(false);
            return;
        }
        const std::uint64_t remaining = length - buffer->size();
        if (remaining > 0) {
            self->_readBodyWithRemainingLength(remaining, block);
        } else {
            block(true);
        }
    });
}

void WebServerConnection::_readChunkedBodyWithInitialData(Data initialData) {
    Error error;
    if (!_request->performOpen(&error)) {
        abortRequest(_request, 500);
        return;
    }
    _chunkParser = std::make_unique<WebServerChunkedBodyParser>();
    auto self = shared_from_this();
    _readNextBodyChunk(std::make_shared<Data>(std::move(initialData)),
                       [self](bool success) { self->_finishBodyRead(success); });
}

void WebServerConnection::_readNextBodyChunk(std::shared_ptr<Data> buffer, CompletionBlock block) {
    Error error;
    const auto status = _chunkParser->feed(
        buffer->data(), buffer->size(), [this, &error](const std::uint8_t* bytes, std::size_t n) {
            return _request->performWriteData(Data(bytes, bytes + n), &error);
        });
    if (status != WebServerChunkedBodyParser::Status::NeedMore) {
        block(status == WebServerChunkedBodyParser::Status::Done);
        return;
    }
    auto next = std::make_shared<Data>();
    auto self = shared_from_this();
    _readData(next, 0, [self, next, block](bool success) {
        if (!success) {
            block(false);
            return;
        }
        self->_readNextBodyChunk(next, block);
    });
}

void WebServerConnection::_finishBodyRead(bool success) {
    Error error;
    if (!success) {
        _request->performClose(&error);
        abortRequest(_request, 500);
        return;
    }
    if (!_request->performClose(&error)) {
        abortRequest(_request, 500);
        return;
    }
    _startProcessingRequest();
}
