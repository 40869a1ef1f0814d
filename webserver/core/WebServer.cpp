#include "WebServer.h"

#include "WebServerDigestNonces.h"
#include "WebServerFunctions.h"
#include "WebServerPeers.h"
#include "dispatch/DispatchGroup.h"
#include "dispatch/DispatchQueue.h"
#include "dispatch/DispatchSocket.h"
#include "dispatch/MainQueue.h"
#include "dnssd/DnsSdService.h"
#include "foundation/Base64.h"
#include "foundation/RegularExpression.h"
#include "foundation/Uuid.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <limits>

using platform::dispatch::DispatchAcceptSource;
using platform::dispatch::DispatchGroup;
using platform::dispatch::DispatchQueue;
using platform::dispatch::MainQueue;

namespace {

std::atomic<int> gLogLevel{2};

template <class T> std::optional<T> optionValue(const ServerOptions& options, const char* key) {
    auto it = options.find(key);
    if (it == options.end()) {
        return std::nullopt;
    }
    if (const T* value = std::get_if<T>(&it->second)) {
        return *value;
    }
    return std::nullopt;
}

// Numbers may be given as integers or as doubles.
std::optional<long long> integerOption(const ServerOptions& options, const char* key) {
    if (auto value = optionValue<long long>(options, key)) {
        return value;
    }
    if (auto value = optionValue<double>(options, key)) {
        return static_cast<long long>(*value);
    }
    return std::nullopt;
}

std::optional<double> doubleOption(const ServerOptions& options, const char* key) {
    if (auto value = optionValue<double>(options, key)) {
        return value;
    }
    if (auto value = optionValue<long long>(options, key)) {
        return static_cast<double>(*value);
    }
    return std::nullopt;
}

} // namespace

WebServer::WebServer()
    : _syncQueue(DispatchQueue::createSerial("WebServer")), _sourceGroup(std::make_unique<DispatchGroup>()),
      _peers(std::make_shared<WebServerPeers>()) {
    InitializeServerFunctions();
}

WebServer::~WebServer() {
    if (_source4) {
        _stop(false);
    }
}

void WebServer::setLogLevel(int level) {
    gLogLevel = level;
}

int WebServer::logLevel() {
    return gLogLevel;
}

// ---- Lifecycle ----

bool WebServer::startWithOptions(const ServerOptions& options, Error* error) {
    if (_options) {
        return false;
    }
    _options = options;
    if (!_start(error)) {
        _options.reset();
        return false;
    }
    return true;
}

bool WebServer::start() {
    return startWithPort(8080, std::string());
}

bool WebServer::startWithPort(std::uint64_t port, const std::optional<std::string>& bonjourName) {
    ServerOptions options{{WebServerOption_Port, static_cast<long long>(port)}};
    if (bonjourName) {
        options[WebServerOption_BonjourName] = *bonjourName;
    }
    return startWithOptions(options, nullptr);
}

bool WebServer::runWithPort(std::uint64_t port, const std::optional<std::string>& bonjourName) {
    ServerOptions options{{WebServerOption_Port, static_cast<long long>(port)}};
    if (bonjourName) {
        options[WebServerOption_BonjourName] = *bonjourName;
    }
    return runWithOptions(options, nullptr);
}

void WebServer::stop() {
    if (!_options) {
        return;
    }
    if (_source4) {
        _stop(true);
    }
    _options.reset();
}

int WebServer::_createListeningSocket(bool useIPv6, const void* localAddress, unsigned length,
                                      int maxPendingConnections, Error* error) {
    const int listeningSocket =
        ::socket(useIPv6 ? PF_INET6 : PF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (listeningSocket == -1) {
        platform::setError(error, Error::posix(errno));
        return -1;
    }
    int yes = 1;
    ::setsockopt(listeningSocket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (useIPv6) {
        // Without it the IPv6 socket would also claim the IPv4 port that the other socket holds.
        ::setsockopt(listeningSocket, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    }
    if (::bind(listeningSocket, static_cast<const sockaddr*>(localAddress), length) != 0 ||
        ::listen(listeningSocket, maxPendingConnections) != 0) {
        const int failure = errno;
        ::close(listeningSocket);
        platform::setError(error, Error::posix(failure));
        errno = failure;
        return -1;
    }
    return listeningSocket;
}

void WebServer::_setUpAuthentication() {
    const ServerOptions& options = *_options;
    const auto method = optionValue<std::string>(options, WebServerOption_AuthenticationMethod);
    const auto accounts = optionValue<ServerAccounts>(options, WebServerOption_AuthenticationAccounts)
                              .value_or(ServerAccounts{});
    _authenticationBasicAccounts.reset();
    _authenticationDigestAccounts.reset();
    if (method == std::optional<std::string>(WebServerAuthenticationMethod_Basic)) {
        _authenticationRealm =
            optionValue<std::string>(options, WebServerOption_AuthenticationRealm).value_or(_serverName);
        _authenticationBasicAccounts.emplace();
        for (const auto& [user, password] : accounts) {
            (*_authenticationBasicAccounts)[user] =
                platform::base64Encode(StringWithFormat("%@:%@", {user, password}));
        }
    } else if (method == std::optional<std::string>(WebServerAuthenticationMethod_DigestAccess)) {
        _authenticationRealm =
            optionValue<std::string>(options, WebServerOption_AuthenticationRealm).value_or(_serverName);
        _authenticationDigestAccounts.emplace();
        for (const auto& [user, password] : accounts) {
            (*_authenticationDigestAccounts)[user] =
                MD5HexOfFormat("%@:%@:%@", {user, _authenticationRealm, password});
        }
    }
}

bool WebServer::_start(Error* error) {
    const ServerOptions& options = *_options;
    std::uint64_t port = static_cast<std::uint64_t>(integerOption(options, WebServerOption_Port).value_or(0));
    const bool bindToLocalhost = optionValue<bool>(options, WebServerOption_BindToLocalhost).value_or(false);
    const int maxPendingConnections =
        static_cast<int>(integerOption(options, WebServerOption_MaxPendingConnections).value_or(SOMAXCONN));

    sockaddr_in addr4{};
    addr4.sin_family = AF_INET;
    addr4.sin_port = htons(static_cast<std::uint16_t>(port));
    addr4.sin_addr.s_addr = htonl(bindToLocalhost ? INADDR_LOOPBACK : INADDR_ANY);
    const int listeningSocket4 =
        _createListeningSocket(false, &addr4, sizeof addr4, maxPendingConnections, error);
    if (listeningSocket4 == -1) {
        return false;
    }
    if (port == 0) {
        sockaddr_in bound{};
        socklen_t boundLength = sizeof bound;
        if (::getsockname(listeningSocket4, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0) {
            port = ntohs(bound.sin_port);
        }
    }

    sockaddr_in6 addr6{};
    addr6.sin6_family = AF_INET6;
    addr6.sin6_port = htons(static_cast<std::uint16_t>(port));
    addr6.sin6_addr = bindToLocalhost ? in6addr_loopback : in6addr_any;
    Error error6;
    const int listeningSocket6 =
        _createListeningSocket(true, &addr6, sizeof addr6, maxPendingConnections, &error6);
    if (listeningSocket6 == -1) {
        // A host without IPv6 serves on IPv4 alone; any other failure fails the start.
        const bool noIPv6 =
            error6.code == EAFNOSUPPORT || error6.code == EADDRNOTAVAIL || error6.code == EPROTONOSUPPORT;
        if (!noIPv6) {
            ::close(listeningSocket4);
            platform::setError(error, error6);
            return false;
        }
    }

    _serverName = optionValue<std::string>(options, WebServerOption_ServerName).value_or(className());
    _setUpAuthentication();
    _connectionClass = optionValue<WebServerConnectionFactory>(options, WebServerOption_ConnectionClass)
                           .value_or(WebServerConnectionFactory{});
    _mapHEADToGET = optionValue<bool>(options, WebServerOption_AutomaticallyMapHEADToGET).value_or(true);
    _disconnectDelay = doubleOption(options, WebServerOption_ConnectedStateCoalescingInterval).value_or(1.0);
    _connectionIdleTimeout = doubleOption(options, WebServerOption_ConnectionIdleTimeout).value_or(60.0);
    _headTimeout = doubleOption(options, WebServerOption_HeadTimeout).value_or(10.0);
    _minimumBodyRate = doubleOption(options, WebServerOption_MinimumBodyRate).value_or(1024.0);
    _bodyRateInterval = doubleOption(options, WebServerOption_BodyRateInterval).value_or(30.0);
    _digestNonceLifetime = doubleOption(options, WebServerOption_DigestNonceLifetime).value_or(300.0);
    const auto maximumPerPeer =
        static_cast<int>(std::clamp<long long>(integerOption(options, WebServerOption_MaxConnectionsPerPeer)
                                                   .value_or(WebServerPeers::kDefaultMaximumPerPeer),
                                               1, std::numeric_limits<int>::max()));
    _syncQueue->sync([&] { _peers->setMaximumPerPeer(maximumPerPeer); });
    _digestNonces = std::make_shared<WebServerDigestNonces>(
        platform::makeUuidString() + platform::makeUuidString(), _digestNonceLifetime);

    _source4 = _createDispatchSourceWithListeningSocket(listeningSocket4, false);
    if (listeningSocket6 != -1) {
        _source6 = _createDispatchSourceWithListeningSocket(listeningSocket6, true);
    }
    _port = port;
    _bindToLocalhost = bindToLocalhost;

    _publishBonjour();

    willStartAccepting();
    _source4->resume();
    if (_source6) {
        _source6->resume();
    }
    auto self = shared_from_this();
    MainQueue::async([self] {
        if (self->_delegate) {
            self->_delegate->webServerDidStart(*self);
        }
    });
    return true;
}

void WebServer::_publishBonjour() {
    const ServerOptions& options = *_options;
    const auto bonjourName = optionValue<std::string>(options, WebServerOption_BonjourName);
    if (!bonjourName) {
        return;
    }
    const std::string type =
        optionValue<std::string>(options, WebServerOption_BonjourType).value_or("_http._tcp");
    const std::string name = bonjourName->empty() ? _serverName : *bonjourName;
    _registrationService = platform::DnsSdService::create("local.", type, name, static_cast<int>(_port));
    if (!_registrationService) {
        return; // publication failures are silent
    }
    _resolutionService = _registrationService->copy();
    std::weak_ptr<WebServer> weakSelf = weak_from_this();
    _registrationService->registerService([weakSelf](int errorCode) {
        auto self = weakSelf.lock();
        if (!self || errorCode != 0 || !self->_registrationService) {
            return;
        }
        // Resolve under the name actually registered: a collision may have renamed the service.
        self->_resolutionService = self->_registrationService->copy();
        self->_resolutionService->resolve(1.0, [weakSelf](int resolveError) {
            auto server = weakSelf.lock();
            if (server && resolveError == 0 && server->_delegate) {
                server->_delegate->webServerDidCompleteBonjourRegistration(*server);
            }
        });
    });
}

void WebServer::_stop(bool notify) {
    if (_registrationService) {
        if (_resolutionService) {
            _resolutionService->cancel();
        }
        _registrationService->cancel();
        _resolutionService.reset();
        _registrationService.reset();
    }
    if (_source6) {
        _source6->cancel();
    }
    _source4->cancel();
    _sourceGroup->wait(); // both cancel handlers have closed their sockets
    // Connections whose answer is out close now rather than at the end of their drain; one that
    // begins its drain from now on sees the count changed (it marks itself draining before it
    // looks, and the count changes before the table is looked at).
    _stopCount.fetch_add(1);
    WebServerPeers::Victims draining;
    _syncQueue->sync([&] { _peers->shedDraining(draining); });
    WebServerPeers::shutDown(std::move(draining));
    _source6.reset();
    _source4.reset();
    _port = 0;
    _bindToLocalhost = false;
    _serverName.clear();
    _authenticationRealm.clear();
    _authenticationBasicAccounts.reset();
    _authenticationDigestAccounts.reset();
    if (!notify) {
        return;
    }
    auto self = shared_from_this();
    MainQueue::async([self] {
        if (self->_disconnectTimer) {
            MainQueue::cancelTimer(*self->_disconnectTimer);
            self->_disconnectTimer.reset();
            self->_didDisconnect();
        }
    });
    MainQueue::async([self] {
        if (self->_delegate) {
            self->_delegate->webServerDidStop(*self);
        }
    });
}

// ---- Connections and notifications ----

namespace {

std::string peerOf(const WebServerConnection& connection) {
    const Data& address = connection.remoteAddressData();
    return WebServerPeers::keyOfAddress(address.data(), address.size());
}

} // namespace

void WebServer::willStartConnection(WebServerConnection& connection) {
    const std::string peer = peerOf(connection);
    std::weak_ptr<WebServerConnection> weakConnection = connection.weak_from_this();
    _syncQueue->sync([&] {
        _peers->connectionStarted(peer, std::move(weakConnection), &connection);
        if (_activeConnections == 0) {
            auto self = shared_from_this();
            MainQueue::async([self] {
                if (self->_disconnectTimer) {
                    MainQueue::cancelTimer(*self->_disconnectTimer);
                    self->_disconnectTimer.reset();
                }
                if (!self->_connected) {
                    self->_didConnect();
                }
            });
        }
        ++_activeConnections;
    });
}

void WebServer::didEndConnection(WebServerConnection& connection) {
    const std::string peer = peerOf(connection);
    _syncQueue->sync([&] {
        _peers->connectionEnded(peer, &connection);
        --_activeConnections;
        if (_activeConnections != 0) {
            return;
        }
        auto self = shared_from_this();
        MainQueue::async([self] {
            if (self->_disconnectDelay > 0 && self->_source4) {
                if (self->_disconnectTimer) {
                    MainQueue::cancelTimer(*self->_disconnectTimer);
                }
                self->_disconnectTimer = MainQueue::startTimer(self->_disconnectDelay, [self] {
                    self->_disconnectTimer.reset();
                    self->_didDisconnect();
                });
            } else {
                self->_didDisconnect();
            }
        });
    });
}

bool WebServer::willOpenRequestBody(WebServerConnection& connection) {
    const std::string peer = peerOf(connection);
    const int descriptorLimit = WebServerPeers::descriptorsForConnections();
    const int open = WebServerPeers::openDescriptors(descriptorLimit);
    WebServerPeers::Victims victims;
    bool allowed = false;
    _syncQueue->sync(
        [&] { allowed = _peers->bodyOpened(peer, &connection, open, descriptorLimit, victims); });
    WebServerPeers::shutDown(std::move(victims));
    return allowed;
}

void WebServer::didCloseRequestBody(WebServerConnection& connection) {
    const std::string peer = peerOf(connection);
    _syncQueue->sync([&] { _peers->bodyClosed(peer, &connection); });
}

void WebServer::_didConnect() {
    _connected = true;
    if (_delegate) {
        _delegate->webServerDidConnect(*this);
    }
}

void WebServer::_didDisconnect() {
    _connected = false;
    if (_delegate) {
        _delegate->webServerDidDisconnect(*this);
    }
}

// ---- URLs ----

std::optional<std::string> WebServer::serverURLString() const {
    if (!_source4) {
        return std::nullopt;
    }
    std::optional<std::string> host =
        _bindToLocalhost ? std::optional<std::string>("localhost") : PrimaryIPAddress(false);
    if (!host) {
        return std::nullopt;
    }
    return _port == 80 ? *host : *host + ":" + std::to_string(_port);
}

std::optional<Url> WebServer::serverURL() const {
    auto hostAndPort = serverURLString();
    if (!hostAndPort) {
        return std::nullopt;
    }
    return Url::parse("http://" + *hostAndPort);
}

std::optional<std::string> WebServer::bonjourName() const {
    if (!_resolutionService) {
        return std::nullopt;
    }
    std::string name = _resolutionService->name();
    return name.empty() ? std::nullopt : std::optional<std::string>(name);
}

std::optional<std::string> WebServer::bonjourType() const {
    if (!_resolutionService) {
        return std::nullopt;
    }
    std::string type = _resolutionService->type();
    return type.empty() ? std::nullopt : std::optional<std::string>(type);
}

std::optional<Url> WebServer::bonjourServerURL() const {
    if (!_source4 || !_resolutionService) {
        return std::nullopt;
    }
    auto host = _resolutionService->targetHost();
    if (!host || host->empty()) {
        return std::nullopt;
    }
    if (host->back() == '.') {
        host->pop_back(); // Avahi names carry no trailing dot; others may
    }
    if (host->empty()) {
        return std::nullopt;
    }
    return Url::parse(_port == 80 ? "http://" + *host + "/"
                                  : "http://" + *host + ":" + std::to_string(_port) + "/");
}
