#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class WebServerConnection;

// What each peer address holds of the server, so that no address can take every descriptor: its
// connections, each counted once, and once more while it stores a request body (an upload holds
// its socket and a file).
//
// A new connection from a peer that holds its bound already is refused. When descriptors run low,
// the peer that holds the most gives up its slowest connections (fewest bytes moved per second) to
// a newcomer that holds less; a newcomer holding as much as anyone is refused instead.
//
// Not thread-safe: the server uses it on its serial queue only. Connections are referred to
// weakly; the evictions chosen here are carried out by the caller, outside that queue.
class WebServerPeers {
public:
    using Victims = std::vector<std::weak_ptr<WebServerConnection>>;

    static constexpr int kDefaultMaximumPerPeer = 32;

    // The key of a peer: its address without the port (IPv4-mapped IPv6 addresses as IPv4).
    static std::string keyOfAddress(const void* address, std::size_t length);

    void setMaximumPerPeer(int maximum) { _maximumPerPeer = maximum > 0 ? maximum : 1; }
    int maximumPerPeer() const { return _maximumPerPeer; }

    // A socket accepted from `peer`: true when it may be served (it is then counted for the peer
    // until `connectionEnded`). `descriptorsShort` is how many descriptors the server lacks (0
    // when it has enough); then the connections to close are added to `victims`.
    bool admit(const std::string& peer, int descriptorsShort, Victims& victims);
    // Accepting failed for want of descriptors: the slowest connections of the biggest holder.
    void evictForLackOfDescriptors(int count, Victims& victims);

    void connectionStarted(const std::string& peer, std::weak_ptr<WebServerConnection> connection,
                           const WebServerConnection* identity);
    void connectionEnded(const std::string& peer, const WebServerConnection* connection);
    // A connection began or stopped storing its request body.
    void bodyOpened(const std::string& peer, const WebServerConnection* connection);
    void bodyClosed(const std::string& peer, const WebServerConnection* connection);

private:
    struct Member {
        std::weak_ptr<WebServerConnection> connection;
        std::chrono::steady_clock::time_point started;
        int bodies = 0;
        bool evicted = false;
    };
    struct Peer {
        int weight = 0;   // connections, plus the bodies they store
        int reserved = 0; // admitted, not started yet
        std::unordered_map<const WebServerConnection*, Member> members;
    };

    Member* memberOf(const std::string& peer, const WebServerConnection* connection);
    Peer* biggestHolder();
    void chooseSlowest(Peer& peer, int count, Victims& victims);
    void forgetIfEmpty(const std::string& peer);

    int _maximumPerPeer = kDefaultMaximumPerPeer;
    int _evicting = 0; // evicted connections that have not ended yet
    std::unordered_map<std::string, Peer> _peers;
};
