#pragma once

#include "WebServerChunkedBodyParser.h"
#include "WebServerHandler.h"
#include "WebServerTypes.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class WebServer;
class WebServerDigestNonces;
namespace platform::dispatch {
class DispatchTimer;
}
namespace platform {
class HttpRequestHead;
class HttpResponseHead;
} // namespace platform

// Serves exactly one request on one accepted socket: reads the head, finds the handler, reads the
// body into the request, runs authentication and the handler, writes the response and closes the
// socket once nothing refers to the connection any more. Every response carries
// "Connection: Close"; once it is out, the connection shuts its sending side down and reads and
// drops what the client still sends for a moment (a request pipelined behind the answer) before
// it closes, so that the close never resets the connection under the answer. Subclasses may
// override the hooks.
//
// Every step runs on the global queue and starts the next from its completion; the pending
// operation holds the only references, so the connection ends when its last step has completed.
class WebServerConnection : public std::enable_shared_from_this<WebServerConnection> {
public:
    WebServerConnection(std::shared_ptr<WebServer> server, std::optional<Data> localAddress,
                        Data remoteAddress, int socket);
    virtual ~WebServerConnection();
    WebServerConnection(const WebServerConnection&) = delete;
    WebServerConnection& operator=(const WebServerConnection&) = delete;

    // Takes a newly made connection, tells the server, calls open and starts reading the head.
    // Returns none when open refused the connection (its socket is then closed).
    static std::shared_ptr<WebServerConnection> start(WebServerConnection* connection);

    const std::shared_ptr<WebServer>& server() const { return _server; }
    const std::optional<Data>& localAddressData() const { return _localAddress; }
    const Data& remoteAddressData() const { return _remoteAddress; }
    std::uint64_t totalBytesRead() const { return _bytesRead; }
    std::uint64_t totalBytesWritten() const { return _bytesWritten; }
    // Bytes read from and written to the socket so far; may be read from any thread.
    std::uint64_t bytesMoved() const { return _bytesMoved.load(std::memory_order_relaxed); }
    // Ends the connection early (any thread), unless its request has begun to be carried out: a
    // connection with no answer out yet stops reading and answers 503; one whose answer is going
    // out has its pending write fail, and it ends as on any failure. The server does so when
    // descriptors run low. True when it did.
    bool shutDown();
    // The server has begun to carry out the request (it stores its body, or its handler runs), and
    // the head of the answer is not out yet: the connection is not shut down early meanwhile, so
    // that its client learns the outcome.
    bool isCarryingOutRequest() const { return _shedState.load() == ShedState::CarryingOut; }
    // Its answer is out: it reads and drops what its client still sends before it closes.
    bool isDraining() const { return _draining.load(); }
    bool isUsingIPv6() const;
    std::optional<std::string> localAddressString() const;
    std::optional<std::string> remoteAddressString() const;

protected:
    // Hooks, in the order in which they run.
    virtual bool open();
    virtual void didReadBytes(const std::uint8_t* bytes, std::size_t length);
    virtual std::optional<Url> rewriteRequestURL(const Url& url, const std::string& method,
                                                 const HeaderDictionary& headers);
    virtual std::shared_ptr<WebServerResponse>
    preflightRequest(const std::shared_ptr<WebServerRequest>& request);
    virtual void processRequest(const std::shared_ptr<WebServerRequest>& request,
                                WebServerCompletionBlock completion);
    virtual std::shared_ptr<WebServerResponse>
    overrideResponse(const std::shared_ptr<WebServerResponse>& response,
                     const std::shared_ptr<WebServerRequest>& request);
    // After every successful socket write. A body sent straight from a file (sendfile) is not in
    // memory: `bytes` is then null, with the count sent.
    virtual void didWriteBytes(const std::uint8_t* bytes, std::size_t length);
    virtual void abortRequest(const std::shared_ptr<WebServerRequest>& request, int statusCode);
    virtual void close();

private:
    using CompletionBlock = std::function<void(bool success)>;
    using HeadersCompletionBlock = std::function<void(std::optional<Data> extraData)>;

    void _readData(std::shared_ptr<Data> buffer, std::size_t length, CompletionBlock block);
    void _readHeaders(std::shared_ptr<Data> buffer, HeadersCompletionBlock block);
    void _readBodyWithRemainingLength(std::uint64_t length, CompletionBlock block);
    void _readNextBodyChunk(std::shared_ptr<Data> buffer, CompletionBlock block);
    void _processRequestHead(Data extraData);
    // The steps of the head: false when the request was answered already.
    bool _matchRequest(const std::string& method, const Url& url, const std::string& path,
                       const QueryDictionary& query);
    bool _checkRequestBeforeBody();
    void _readBodyAfterExpectation(Data extraData);
    bool _openRequestBody(Error* error);
    bool _closeRequestBody(Error* error);
    void _readBody(Data extraData);
    void _writeData(std::shared_ptr<const Data> data, CompletionBlock block);
    void _writeHeadersWithCompletionBlock(CompletionBlock block);
    void _writeBodyWithCompletionBlock(CompletionBlock block);
    // Sends a body that is a range of an open file straight from the descriptor, in slices.
    void _sendFileBody(WebServerResponse::FileBody body, CompletionBlock block);
    void _initializeResponseHeadersWithStatusCode(int statusCode);
    void _startProcessingRequest();
    void _finishProcessingRequest(std::shared_ptr<WebServerResponse> response);
    void _readBodyWithLength(std::uint64_t length, Data initialData);
    void _readChunkedBodyWithInitialData(Data initialData);
    void _readRequestHeaders();
    void _finishBodyRead(bool success);
    void _endOfLife();
    // The idle time-out: each socket operation notes its start and end; one watchdog timer per
    // connection shuts the socket down when an operation has waited for longer than the time-out.
    void _beginIO();
    void _endIO();
    void _watchIdle();
    // A long operation moved on: the idle time-out counts from now.
    void _noteProgress();
    void _armWatchdog(double seconds);
    void _checkIdle();
    // After the answer: stop sending, read and drop what the client still sends (bounded in time
    // and bytes), so that the close does not reset the connection under the answer. It begins
    // once the answer is out and the handler has let go of its completion (_lingerOnceDone is
    // called for each; the last one begins it).
    void _lingerAfterAnswer();
    void _lingerOnceDone();
    void _drain(std::size_t remaining);
    // Deadlines of a phase rather than of one operation: the whole head from its first byte
    // (HeadTimeout), and the body's pace (MinimumBodyRate over BodyRateInterval). One timer, made
    // only when the head does not arrive in one piece or when a body is read.
    void _armPhaseTimer(double seconds, std::function<void()> check);
    void _startHeadDeadline();
    void _startBodyRateCheck();
    void _checkBodyRate(std::uint64_t bytesAtLastCheck);
    void _shutDownSocket();
    // False when the connection was shut down early already: the request is then not carried out.
    bool _beginCarryingOut();
    // The head of the answer is out, so its client knows the outcome: a slow reader of the body
    // may be shut down early again.
    void _endCarryingOut();
    // A Digest answer: none when it authorises the request, else the 401 to give.
    std::shared_ptr<WebServerResponse> _checkDigestAnswer(const std::shared_ptr<WebServerRequest>& request);
    // Decoded chunk data gathered for the request, written in large pieces.
    bool _gatherChunkData(const std::uint8_t* bytes, std::size_t length);
    bool _flushGatheredChunkData();

    struct Deleter;

    std::shared_ptr<WebServer> _server;
    std::optional<Data> _localAddress;
    Data _remoteAddress;
    int _socket;
    std::uint64_t _bytesRead = 0;
    std::uint64_t _bytesWritten = 0;
    std::atomic<std::uint64_t> _bytesMoved{0};
    // Open: nothing of the request is carried out, nor anything of an answer out; CarryingOut:
    // never shut down early; Answering: the head of the answer is out.
    enum class ShedState { Open, CarryingOut, Answering, ShutDown };
    std::atomic<ShedState> _shedState{ShedState::Open};
    std::atomic<bool> _draining{false};
    std::atomic<int> _lingerWaits{1}; // for the answer, and for the handler while it holds on
    bool _requestBodyOpen = false;    // the server counts it against the peer
    bool _virtualHEAD = false;
    std::unique_ptr<platform::HttpRequestHead> _requestMessage;
    std::shared_ptr<WebServerRequest> _request;
    std::shared_ptr<WebServerHandler> _handler;
    std::unique_ptr<platform::HttpResponseHead> _responseMessage;
    std::shared_ptr<WebServerResponse> _response;
    int _statusCode = 0;
    bool _opened = false;
    std::atomic<bool> _responded{false};
    std::unique_ptr<WebServerChunkedBodyParser> _chunkParser;
    std::shared_ptr<Data> _bodyBuffer;       // the read buffer of a fixed-length body, reused per piece
    std::atomic<std::int64_t> _ioStarted{0}; // steady clock ticks
    std::atomic<bool> _ioPending{false};
    std::atomic<bool> _watchdogArmed{false};
    std::mutex _watchdogMutex;
    std::shared_ptr<platform::dispatch::DispatchTimer> _watchdog;
    std::shared_ptr<platform::dispatch::DispatchTimer> _phaseTimer;
    bool _headStarted = false;
    std::atomic<bool> _headComplete{false};
    std::atomic<bool> _readingBody{false};
    std::atomic<std::uint64_t> _bodyBytesRead{0};
    Error _bodyError;
    // The server's settings as they were when the connection was accepted: stopping or restarting
    // the server never changes them under a connection that is still running.
    struct ServerSettings {
        std::string serverName;
        std::string authenticationRealm;
        std::optional<std::map<std::string, std::string>> basicAccounts;
        std::optional<std::map<std::string, std::string>> digestAccounts;
        bool mapHEADToGET;
        double idleTimeout;
        double headTimeout;
        double minimumBodyRate;
        double bodyRateInterval;
        std::shared_ptr<WebServerDigestNonces> digestNonces;
        std::uint64_t stopCount; // the server's, at the accept: another one means it stopped
    };
    std::unique_ptr<const ServerSettings> _settings;
};

// Makes the connection object for an accepted socket: a "connection class".
using WebServerConnectionFactory =
    std::function<WebServerConnection*(const std::shared_ptr<WebServer>& server,
                                       std::optional<Data> localAddress, Data remoteAddress, int socket)>;

template <class T> WebServerConnectionFactory WebServerConnectionClass() {
    return [](const std::shared_ptr<WebServer>& server, std::optional<Data> localAddress, Data remoteAddress,
              int socket) -> WebServerConnection* {
        return new T(server, std::move(localAddress), std::move(remoteAddress), socket);
    };
}
