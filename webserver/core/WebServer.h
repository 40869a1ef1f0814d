#pragma once

#include "WebServerConnection.h"
#include "WebServerHandler.h"
#include "WebServerTypes.h"

#include <sys/socket.h>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {
class DnsSdService;
namespace dispatch {
class DispatchAcceptSource;
class DispatchGroup;
class DispatchQueue;
} // namespace dispatch
} // namespace platform

class WebServer;
class WebServerDigestNonces;
class WebServerPeers;

// Notifications of a server, all delivered on the main queue. Every one is optional: the defaults
// do nothing.
class WebServerDelegate {
public:
    virtual ~WebServerDelegate() = default;
    virtual void webServerDidStart(WebServer&) {}
    virtual void webServerDidCompleteBonjourRegistration(WebServer&) {}
    virtual void webServerDidConnect(WebServer&) {}
    virtual void webServerDidDisconnect(WebServer&) {}
    virtual void webServerDidStop(WebServer&) {}
};

// Start options: a dictionary from the keys below to values; an absent key takes its default.
using ServerAccounts = std::map<std::string, std::string>;
using ServerOptionValue =
    std::variant<bool, long long, double, std::string, ServerAccounts, WebServerConnectionFactory>;
using ServerOptions = std::map<std::string, ServerOptionValue>;

inline constexpr const char* WebServerOption_Port = "Port";
inline constexpr const char* WebServerOption_BindToLocalhost = "BindToLocalhost";
inline constexpr const char* WebServerOption_MaxPendingConnections = "MaxPendingConnections";
inline constexpr const char* WebServerOption_ServerName = "ServerName";
inline constexpr const char* WebServerOption_AuthenticationMethod = "AuthenticationMethod";
inline constexpr const char* WebServerOption_AuthenticationRealm = "AuthenticationRealm";
inline constexpr const char* WebServerOption_AuthenticationAccounts = "AuthenticationAccounts";
inline constexpr const char* WebServerOption_ConnectionClass = "ConnectionClass";
inline constexpr const char* WebServerOption_AutomaticallyMapHEADToGET = "AutomaticallyMapHEADToGET";
inline constexpr const char* WebServerOption_ConnectedStateCoalescingInterval =
    "ConnectedStateCoalescingInterval";
inline constexpr const char* WebServerOption_BonjourName = "BonjourName";
// Seconds a connection may send nothing while its head or body is read (and read nothing while
// its response is written) before it is closed. Default 60.
inline constexpr const char* WebServerOption_ConnectionIdleTimeout = "ConnectionIdleTimeout";
// Seconds a request head may take from its first byte to its blank line before the connection is
// closed, however steadily its bytes trickle in. Default 10.
inline constexpr const char* WebServerOption_HeadTimeout = "HeadTimeout";
// The slowest a body may arrive: a connection whose body brings fewer than MinimumBodyRate bytes
// per second over BodyRateInterval seconds is closed. Defaults 1024 and 30; a rate of 0 turns the
// check off.
inline constexpr const char* WebServerOption_MinimumBodyRate = "MinimumBodyRate";
inline constexpr const char* WebServerOption_BodyRateInterval = "BodyRateInterval";
// Seconds a Digest nonce stays valid; an older one is answered with 401 and stale=TRUE. Default 300.
inline constexpr const char* WebServerOption_DigestNonceLifetime = "DigestNonceLifetime";
inline constexpr const char* WebServerOption_BonjourType = "BonjourType";
// How much of the server one peer address may hold: its connections, each counted once more
// while it stores a request body (a socket and a file). A new connection beyond it is refused.
// Default 32.
inline constexpr const char* WebServerOption_MaxConnectionsPerPeer = "MaxConnectionsPerPeer";

inline constexpr const char* WebServerAuthenticationMethod_Basic = "Basic";
inline constexpr const char* WebServerAuthenticationMethod_DigestAccess = "DigestAccess";

// The embedded HTTP/1.1 server: listening sockets on one port (IPv4 and IPv6), an ordered handler
// list (newest first), connection counting with coalesced connected/disconnected notifications,
// optional Bonjour publication and optional Basic or Digest authentication.
//
// A server is always owned by a std::shared_ptr (connections keep it alive). The application
// thread starts, stops and configures it; handlers must not change while it runs.
class WebServer : public std::enable_shared_from_this<WebServer> {
public:
    WebServer();
    virtual ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // The name of the server's class: the default server name and Bonjour name.
    virtual std::string className() const { return "WebServer"; }

    // Lifecycle (application thread).
    bool startWithOptions(const ServerOptions& options, Error* error);
    bool start(); // port 8080, published under the server name
    bool startWithPort(std::uint64_t port, const std::optional<std::string>& bonjourName);
    bool runWithPort(std::uint64_t port, const std::optional<std::string>& bonjourName);
    // Starts, runs the main run loop until SIGINT or SIGTERM, then stops.
    bool runWithOptions(const ServerOptions& options, Error* error);
    // Subclasses that keep state of a run release it here, after the base class stopped.
    virtual void stop();
    bool isRunning() const { return _options.has_value(); }

    WebServerDelegate* delegate() const { return _delegate; }
    void setDelegate(WebServerDelegate* delegate) { _delegate = delegate; }

    // Handler registration: the newest handler is asked first.
    void addHandlerWithMatchBlock(WebServerMatchBlock matchBlock, WebServerProcessBlock processBlock);
    void addHandlerWithMatchBlock(WebServerMatchBlock matchBlock, WebServerAsyncProcessBlock processBlock);
    void addDefaultHandlerForMethod(const std::string& method, WebServerRequestFactory requestClass,
                                    WebServerProcessBlock processBlock);
    void addDefaultHandlerForMethod(const std::string& method, WebServerRequestFactory requestClass,
                                    WebServerAsyncProcessBlock processBlock);
    void addHandlerForMethod(const std::string& method, const std::string& path,
                             WebServerRequestFactory requestClass, WebServerProcessBlock processBlock);
    void addHandlerForMethod(const std::string& method, const std::string& path,
                             WebServerRequestFactory requestClass, WebServerAsyncProcessBlock processBlock);
    void addHandlerForMethodPathRegex(const std::string& method, const std::string& regex,
                                      WebServerRequestFactory requestClass,
                                      WebServerProcessBlock processBlock);
    void addHandlerForMethodPathRegex(const std::string& method, const std::string& regex,
                                      WebServerRequestFactory requestClass,
                                      WebServerAsyncProcessBlock processBlock);

    // Static content: GET handlers that serve fixed bytes, one file, or a directory tree.
    // Paths given to the single-path adders must begin with "/" and are compared without regard
    // to case; the base path must begin and end with "/" and is a case-sensitive prefix. A failed
    // check adds nothing.
    void addGETHandlerForPath(const std::string& path, Data staticData, const std::string& contentType,
                              std::uint64_t cacheAge);
    // With range requests allowed the request's byte range is served, with "Accept-Ranges: bytes".
    void addGETHandlerForPathWithFile(const std::string& path, const std::string& filePath, bool isAttachment,
                                      std::uint64_t cacheAge, bool allowRangeRequests);
    // Serves the files below `directoryPath` under `basePath`, and an HTML listing (or the index
    // file, when given and present) for each directory. Nothing outside the directory is served:
    // a request path that leads out of it, also through a symbolic link, answers 404.
    void addGETHandlerForBasePath(const std::string& basePath, const std::string& directoryPath,
                                  const std::optional<std::string>& indexFilename, std::uint64_t cacheAge,
                                  bool allowRangeRequests);

    void removeAllHandlers();
    const std::vector<std::shared_ptr<WebServerHandler>>& handlers() const { return _handlers; }

    // State read by connections and callers.
    std::uint64_t port() const { return _port; }
    const std::string& serverName() const { return _serverName; }
    const std::string& authenticationRealm() const { return _authenticationRealm; }
    const std::optional<ServerAccounts>& authenticationBasicAccounts() const {
        return _authenticationBasicAccounts;
    }
    const std::optional<ServerAccounts>& authenticationDigestAccounts() const {
        return _authenticationDigestAccounts;
    }
    bool shouldAutomaticallyMapHEADToGET() const { return _mapHEADToGET; }
    double connectionIdleTimeout() const { return _connectionIdleTimeout; }
    double headTimeout() const { return _headTimeout; }
    double minimumBodyRate() const { return _minimumBodyRate; }
    double bodyRateInterval() const { return _bodyRateInterval; }
    double digestNonceLifetime() const { return _digestNonceLifetime; }
    // This start's Digest nonces (their key is made at start) and the answers given with them.
    const std::shared_ptr<WebServerDigestNonces>& digestNonces() const { return _digestNonces; }
    // How many times the server has stopped (any thread): a connection that sees it change since
    // its accept closes as soon as its answer is out.
    std::uint64_t stopCount() const { return _stopCount.load(); }

    std::optional<Url> serverURL() const;
    std::optional<std::string> serverURLString() const;
    std::optional<std::string> bonjourName() const;
    std::optional<std::string> bonjourType() const;
    std::optional<Url> bonjourServerURL() const;

    // Called by every connection when it starts and when it ends.
    void willStartConnection(WebServerConnection& connection);
    void didEndConnection(WebServerConnection& connection);
    // Called by a connection before it opens its request body for storing (false: descriptors are
    // short and it may not), and when it has closed it (or failed to open it).
    bool willOpenRequestBody(WebServerConnection& connection);
    void didCloseRequestBody(WebServerConnection& connection);

    // Logging: the server's own messages are discarded.
    static void setLogLevel(int level);
    static int logLevel();
    // Writes "[LEVEL] message" and a line break to standard error when standard error is a
    // terminal (tested once per process). Levels 0 to 5: DEBUG, VERBOSE, INFO, WARNING, ERROR,
    // EXCEPTION; other levels write nothing.
    static void logMessage(int level, const std::string& message);
    void logVerbose(const std::string&) const {}
    void logInfo(const std::string&) const {}
    void logWarning(const std::string&) const {}
    void logError(const std::string&) const {}
    void logException(const std::string&) const {}

protected:
    // Called on the application thread once the listening sockets are bound, before the first
    // connection is accepted: a subclass clears what an earlier run of it may have left.
    virtual void willStartAccepting() {}

    WebServerDelegate* _delegate = nullptr;
    std::shared_ptr<platform::dispatch::DispatchQueue> _syncQueue;
    std::unique_ptr<platform::dispatch::DispatchGroup> _sourceGroup;
    std::vector<std::shared_ptr<WebServerHandler>> _handlers;
    long long _activeConnections = 0;
    std::atomic<std::uint64_t> _stopCount{0};
    // What each peer address holds; touched only on _syncQueue (the accept sources share it).
    std::shared_ptr<WebServerPeers> _peers;
    bool _connected = false;
    std::optional<std::uint64_t> _disconnectTimer;
    std::optional<ServerOptions> _options;
    std::string _serverName;
    std::string _authenticationRealm;
    std::optional<ServerAccounts> _authenticationBasicAccounts;
    std::optional<ServerAccounts> _authenticationDigestAccounts;
    WebServerConnectionFactory _connectionClass;
    bool _mapHEADToGET = true;
    double _disconnectDelay = 1.0;
    double _connectionIdleTimeout = 60.0;
    double _headTimeout = 10.0;
    double _minimumBodyRate = 1024.0;
    double _bodyRateInterval = 30.0;
    double _digestNonceLifetime = 300.0;
    std::shared_ptr<WebServerDigestNonces> _digestNonces;
    std::uint64_t _port = 0;
    std::shared_ptr<platform::dispatch::DispatchAcceptSource> _source4;
    std::shared_ptr<platform::dispatch::DispatchAcceptSource> _source6;
    std::shared_ptr<platform::DnsSdService> _registrationService;
    std::shared_ptr<platform::DnsSdService> _resolutionService;
    bool _bindToLocalhost = false;

private:
    bool _start(Error* error);
    void _stop(bool notify);
    int _createListeningSocket(bool useIPv6, const void* localAddress, unsigned length,
                               int maxPendingConnections, Error* error);
    std::shared_ptr<platform::dispatch::DispatchAcceptSource>
    _createDispatchSourceWithListeningSocket(int socket, bool isIPv6);
    // Makes and starts the connection of an accepted socket (closes it when the server is gone).
    static void _startConnection(const std::shared_ptr<WebServer>& self, int socket,
                                 const sockaddr_storage& remote, socklen_t remoteLength);
    void _setUpAuthentication();
    void _publishBonjour();
    void _didConnect();
    void _didDisconnect();
};
