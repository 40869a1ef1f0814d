#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class WebServerConnection;

// What each peer address holds of the server, so that no address can take every descriptor: its
// connections, each counted once, and once more while it stores a request body (an upload holds
// its socket and a file).
//
// A new connection from a peer that holds its bound already is refused. When the process's open
// descriptors come near the descriptors for connections (its limit less a reserve for the files
// that requests open), the peer that holds the most gives up its slowest connections (fewest bytes
// moved per second): to a newcomer that holds less (a newcomer holding as much as anyone is
// refused instead), and to a body that is opened (on a tie, another peer gives one up; a body whose
// peer holds more than any other that can give one up is refused). A connection whose request the
// server has begun to carry out (it stores a body, or its handler runs) is never given up until the
// head of its answer is out: its client would not learn what became of its request. A connection
// whose answer is out and that only drains what its client still sends before it closes still
// holds its descriptor and counts for its peer, but it is the first to go: when descriptors run
// low, draining connections (of any peer) are shut down before any other is chosen, and a
// newcomer from a peer at its bound takes the place of one of that peer's draining connections.
//
// Not thread-safe: the server uses it on its serial queue only. Connections are referred to
// weakly; the evictions chosen here are carried out by the caller, outside that queue.
class WebServerPeers {
public:
    using Victims = std::vector<std::weak_ptr<WebServerConnection>>;

    // The bytes a connection read and wrote so far, by which the slowest are told.
    using BytesMoved = std::function<std::uint64_t(const WebServerConnection&)>;

    static constexpr int kDefaultMaximumPerPeer = 32;

    // Whether a connection's answer is out and it only drains what its client still sends.
    using IsDraining = std::function<bool(const WebServerConnection&)>;

    // Connections are judged by their own count of bytes moved and their own state, or by
    // `bytesMoved` and `isDraining` when given.
    WebServerPeers();
    explicit WebServerPeers(BytesMoved bytesMoved, IsDraining isDraining = nullptr);

    // The key of a peer: its address without the port (IPv4-mapped IPv6 addresses as IPv4).
    static std::string keyOfAddress(const void* address, std::size_t length);

    // The descriptors that connections (and what their requests open) may take: the process's
    // limit less a reserve. And how many descriptors the process has open now (the limit, when
    // they cannot be counted for want of one), for one more connection or body to be let in:
    // counted near `descriptorLimit`, an upper estimate from a recent count far below it.
    static int descriptorsForConnections();
    static int openDescriptors(int descriptorLimit);

    void setMaximumPerPeer(int maximum) { _maximumPerPeer = maximum > 0 ? maximum : 1; }

    // A socket accepted from `peer`, with `openDescriptors` open: true when it may be served (it is
    // then counted for the peer until `connectionEnded`). The connections to close for it are
    // added to `victims`.
    bool admit(const std::string& peer, int openDescriptors, int descriptorLimit, Victims& victims);
    // Closes the chosen connections: each one's pending operation fails and it ends as on any
    // error. On the global queue, so that no connection ends (and perhaps releases the server) on
    // the caller's thread.
    static void shutDown(Victims victims);
    // Accepting failed for want of descriptors: draining connections, then the slowest
    // connections of the biggest holder.
    void evictForLackOfDescriptors(int count, Victims& victims);
    // The server stops: every draining connection, to be shut down now.
    void shedDraining(Victims& victims);

    void connectionStarted(const std::string& peer, std::weak_ptr<WebServerConnection> connection,
                           const WebServerConnection* identity);
    void connectionEnded(const std::string& peer, const WebServerConnection* connection);
    // A connection is about to store its request body: true when it may (the body then counts
    // until `bodyClosed`), false when descriptors are short and no connection can give way for it.
    bool bodyOpened(const std::string& peer, const WebServerConnection* connection, int openDescriptors,
                    int descriptorLimit, Victims& victims);
    void bodyClosed(const std::string& peer, const WebServerConnection* connection);

private:
    static int countOpenDescriptors();
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
    // Chooses up to `count` draining connections (of `only`, when given); how many it chose.
    int shedDraining(int count, const Peer* only, Victims& victims);
    // Chooses `lacking` connections to shed: draining ones first, then the slowest of the peer
    // holding the most, at least `minimumWeight` (see biggestToShed). False when it chose none.
    bool shedFor(int lacking, int minimumWeight, const WebServerConnection* except, const Peer* own,
                 Victims& victims);
    // A connection that may be shed: not chosen before, and no request of it begun.
    static bool mayShed(const WebServerConnection* connection, const Member& member);
    // The peer holding the most, at least `minimumWeight`, that has a connection other than
    // `except` to shed; on a tie, one other than `own`. None when there is none.
    Peer* biggestToShed(int minimumWeight, const WebServerConnection* except, const Peer* own);
    bool anyToShed(const WebServerConnection* except);
    // How many connections to close when `open` descriptors are in use.
    int evictionsNeeded(int open, int descriptorLimit) const;
    void chooseSlowest(Peer& peer, int count, Victims& victims, const WebServerConnection* except = nullptr);
    void forgetIfEmpty(const std::string& peer);

    BytesMoved _bytesMoved;
    IsDraining _isDraining;
    int _maximumPerPeer = kDefaultMaximumPerPeer;
    int _evicting = 0; // evicted connections that have not ended yet
    std::unordered_map<std::string, Peer> _peers;
};
