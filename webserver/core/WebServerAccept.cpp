// Accepting connections: the listening sockets' sources, the share of the server each peer address
// may hold, and what happens when descriptors run low.

#include "WebServer.h"

#include "WebServerPeers.h"
#include "dispatch/DispatchGroup.h"
#include "dispatch/DispatchQueue.h"
#include "dispatch/DispatchSocket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

using platform::dispatch::DispatchAcceptSource;
using platform::dispatch::DispatchGroup;
using platform::dispatch::DispatchQueue;

namespace {

// How long an accept that ran out of descriptors waits before the next try.
constexpr std::chrono::milliseconds kAcceptBackOff(100);
// How many connections one wake-up of an accept source takes at most before it lets the source
// report again.
constexpr int kAcceptBatch = 256;
// How many connections are closed when accepting fails for want of descriptors.
constexpr int kEvictionsOnAcceptFailure = 16;

// What a refused connection's client sent already and is read and dropped before the close, at
// most: a socket closed with bytes unread resets the connection, and the client may lose the answer.
constexpr std::size_t kRefusedDrainBytes = 64 * 1024;

// A refused connection gets a short answer if its socket takes it at once, and is closed.
void refuse(int socket) {
    static constexpr char kBusy[] = "HTTP/1.1 503 Service Unavailable\r\nConnection: Close\r\n"
                                    "Content-Length: 0\r\n\r\n";
    ::send(socket, kBusy, sizeof kBusy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(socket, SHUT_WR);
    char discarded[4096];
    std::size_t drained = 0;
    for (ssize_t count; drained < kRefusedDrainBytes &&
                        (count = ::recv(socket, discarded, sizeof discarded, MSG_DONTWAIT)) > 0;) {
        drained += static_cast<std::size_t>(count);
    }
    ::close(socket);
}

// Whether the socket accepted from `remote` may be served, as the peer table has it.
bool admit(DispatchQueue& syncQueue, WebServerPeers& peers, int socket, const sockaddr_storage& remote,
           socklen_t remoteLength) {
    const std::string peer =
        WebServerPeers::keyOfAddress(&remote, std::min<std::size_t>(remoteLength, sizeof remote));
    // Descriptors are given out lowest first: all below the socket's are taken.
    const int descriptorLimit = WebServerPeers::descriptorsForConnections();
    const int open = std::max(socket + 1, WebServerPeers::openDescriptors(descriptorLimit));
    WebServerPeers::Victims victims;
    bool admitted = false;
    syncQueue.sync([&] { admitted = peers.admit(peer, open, descriptorLimit, victims); });
    WebServerPeers::shutDown(std::move(victims));
    return admitted;
}

} // namespace

void WebServer::_startConnection(const std::shared_ptr<WebServer>& self, int socket,
                                 const sockaddr_storage& remote, socklen_t remoteLength) {
    if (!self) {
        ::close(socket);
        return;
    }
    Data remoteAddress;
    platform::appendBytes(remoteAddress, &remote, std::min<std::size_t>(remoteLength, sizeof remote));
    std::optional<Data> localAddress;
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localLength) == 0) {
        localAddress.emplace();
        platform::appendBytes(*localAddress, &local, std::min<std::size_t>(localLength, sizeof local));
    }
    // Writes use MSG_NOSIGNAL, file sends run where SIGPIPE is blocked: a peer that went away never
    // raises SIGPIPE.
    const WebServerConnectionFactory& factory = self->_connectionClass;
    WebServerConnection* connection =
        factory ? factory(self, std::move(localAddress), std::move(remoteAddress), socket)
                : new WebServerConnection(self, std::move(localAddress), std::move(remoteAddress), socket);
    WebServerConnection::start(connection);
}

std::shared_ptr<DispatchAcceptSource> WebServer::_createDispatchSourceWithListeningSocket(int listeningSocket,
                                                                                          bool /*isIPv6*/) {
    _sourceGroup->enter();
    std::weak_ptr<WebServer> weakSelf = weak_from_this();
    DispatchGroup* group = _sourceGroup.get();
    return DispatchAcceptSource::create(
        listeningSocket,
        [weakSelf, listeningSocket, syncQueue = _syncQueue, peers = _peers] {
            // Accepts every connection waiting (up to a batch), each started on the global queue:
            // a connection whose request is read at once (a long form) never holds up the next
            // accept.
            for (int accepted = 0; accepted < kAcceptBatch; ++accepted) {
                sockaddr_storage remote{};
                socklen_t remoteLength = sizeof remote;
                const int socket = ::accept4(listeningSocket, reinterpret_cast<sockaddr*>(&remote),
                                             &remoteLength, SOCK_CLOEXEC);
                if (socket == -1) {
                    // Out of descriptors (or memory): the waiting connection stays queued, and the
                    // source, armed again at once, would spin. The biggest holder gives up its
                    // slowest connections, and the next try comes once they had time to end.
                    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                        WebServerPeers::Victims victims;
                        syncQueue->sync(
                            [&] { peers->evictForLackOfDescriptors(kEvictionsOnAcceptFailure, victims); });
                        WebServerPeers::shutDown(std::move(victims));
                        std::this_thread::sleep_for(kAcceptBackOff);
                    }
                    break; // the source stays armed
                }
                // A peer beyond its share, or one that would take the last descriptors (kept for
                // the files that connections open) while holding as much as any other, is refused.
                if (!admit(*syncQueue, *peers, socket, remote, remoteLength)) {
                    refuse(socket);
                    continue;
                }
                platform::dispatch::DispatchQueue::global().async([weakSelf, socket, remote, remoteLength] {
                    _startConnection(weakSelf.lock(), socket, remote, remoteLength);
                });
            }
        },
        [listeningSocket, group] {
            ::close(listeningSocket);
            group->leave();
        });
}
