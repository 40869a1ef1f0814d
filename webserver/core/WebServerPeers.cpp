#include "WebServerPeers.h"

#include "WebServerConnection.h"
#include "dispatch/GlobalQueue.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

namespace {

// What the process's descriptor limit keeps back from connections, for the files and folders that
// requests open.
constexpr int kReservedDescriptors = 32;
// Descriptors run low a little before the line, an eighth of it (at least 16): the connections
// closed then make room for what the requests let in meanwhile open next.
int evictionMargin(int descriptorLimit) {
    return std::max(16, descriptorLimit / 8);
}

} // namespace

WebServerPeers::WebServerPeers()
    : WebServerPeers([](const WebServerConnection& connection) { return connection.bytesMoved(); }) {}

WebServerPeers::WebServerPeers(BytesMoved bytesMoved, IsDraining isDraining)
    : _bytesMoved(std::move(bytesMoved)), _isDraining(std::move(isDraining)) {
    if (!_isDraining) {
        _isDraining = [](const WebServerConnection& connection) { return connection.isDraining(); };
    }
}

int WebServerPeers::descriptorsForConnections() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::numeric_limits<int>::max();
    }
    const auto usable = static_cast<long long>(limit.rlim_cur) - kReservedDescriptors;
    return static_cast<int>(std::clamp<long long>(usable, 16, std::numeric_limits<int>::max()));
}

int WebServerPeers::countOpenDescriptors() {
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) {
        rlimit limit{};
        const bool known = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
        return known ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, std::numeric_limits<int>::max()))
                     : 0;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        count += entry->d_name[0] != '.';
    }
    ::closedir(folder);
    return count > 0 ? count - 1 : 0; // the folder's own
}

int WebServerPeers::openDescriptors(int descriptorLimit) {
    // Counting lists /proc/self/fd, too much for every accept of a busy server. While the last
    // count is recent and far below the line where connections are shed, it stands for the count
    // with three descriptors added for each connection or body let in since (a socket, a folder
    // and a file at most); near the line, or a quarter of a second later, they are counted again.
    static std::mutex lock;
    static int counted = 0;
    static int admittedSince = 0;
    static std::chrono::steady_clock::time_point countedAt;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(lock);
        const long long estimate = counted + 3LL * ++admittedSince;
        if (countedAt != std::chrono::steady_clock::time_point{} &&
            now - countedAt < std::chrono::milliseconds(250) &&
            estimate + 2LL * evictionMargin(descriptorLimit) < descriptorLimit) {
            return static_cast<int>(estimate);
        }
    }
    const int count = countOpenDescriptors();
    std::lock_guard guard(lock);
    counted = count;
    admittedSince = 0;
    countedAt = now;
    return count;
}

std::string WebServerPeers::keyOfAddress(const void* address, std::size_t length) {
    sa_family_t family = AF_UNSPEC;
    if (length >= sizeof family) {
        std::memcpy(&family, address, sizeof family);
    }
    if (family == AF_INET && length >= sizeof(sockaddr_in)) {
        sockaddr_in v4;
        std::memcpy(&v4, address, sizeof v4);
        return std::string("4") +
               std::string(reinterpret_cast<const char*>(&v4.sin_addr), sizeof v4.sin_addr);
    }
    if (family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        sockaddr_in6 v6;
        std::memcpy(&v6, address, sizeof v6);
        const char* bytes = reinterpret_cast<const char*>(&v6.sin6_addr);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            return std::string("4") + std::string(bytes + 12, 4);
        }
        return std::string("6") + std::string(bytes, sizeof v6.sin6_addr);
    }
    return std::string(static_cast<const char*>(address), length);
}

bool WebServerPeers::admit(const std::string& key, int openDescriptors, int descriptorLimit,
                           Victims& victims) {
    Peer& peer = _peers[key];
    if (peer.weight >= _maximumPerPeer && shedDraining(1, &peer, victims) == 0) {
        return false;
    }
    if (const int lacking = evictionsNeeded(openDescriptors, descriptorLimit); lacking > 0) {
        // Only a newcomer that holds less than a peer with a connection to give up gets in, at
        // that peer's cost (or at a draining connection's); when nobody has one to give up, while
        // a descriptor is left for it.
        if (!shedFor(lacking, peer.weight + 1, nullptr, &peer, victims) &&
            (anyToShed(nullptr) || openDescriptors >= descriptorLimit)) {
            forgetIfEmpty(key);
            return false;
        }
    }
    ++peer.weight;
    ++peer.reserved;
    return true;
}

// None while descriptors suffice. Otherwise at least one, whatever was closed before: what comes
// in while descriptors are short, and the files it opens next, are made up for at once. Beyond that,
// connections closed before and not ended yet give their descriptors back soon.
int WebServerPeers::evictionsNeeded(int open, int descriptorLimit) const {
    const long long lacking = 0LL + open + evictionMargin(descriptorLimit) - descriptorLimit;
    if (lacking <= 0) {
        return 0;
    }
    return static_cast<int>(std::max<long long>(1, lacking - _evicting));
}

void WebServerPeers::shutDown(Victims victims) {
    if (victims.empty()) {
        return;
    }
    platform::dispatch::GlobalQueue::instance().async([victims = std::move(victims)] {
        for (const auto& victim : victims) {
            if (auto connection = victim.lock()) {
                connection->shutDown();
            }
        }
    });
}

void WebServerPeers::evictForLackOfDescriptors(int count, Victims& victims) {
    (void)shedFor(std::max(1, count - _evicting), 1, nullptr, nullptr, victims);
}

void WebServerPeers::shedDraining(Victims& victims) {
    (void)shedDraining(std::numeric_limits<int>::max(), nullptr, victims);
}

int WebServerPeers::shedDraining(int count, const Peer* only, Victims& victims) {
    int chosen = 0;
    for (auto& [key, peer] : _peers) {
        for (auto& [connection, member] : peer.members) {
            if (chosen < count && (only == nullptr || only == &peer) && !member.evicted &&
                _isDraining(*connection)) {
                member.evicted = true;
                ++_evicting;
                victims.push_back(member.connection);
                ++chosen;
            }
        }
    }
    return chosen;
}

bool WebServerPeers::shedFor(int lacking, int minimumWeight, const WebServerConnection* except,
                             const Peer* own, Victims& victims) {
    const int drained = shedDraining(lacking, nullptr, victims);
    if (drained >= lacking) {
        return true;
    }
    if (Peer* holder = biggestToShed(minimumWeight, except, own)) {
        chooseSlowest(*holder, lacking - drained, victims, except);
        return true;
    }
    return drained > 0;
}

void WebServerPeers::connectionStarted(const std::string& key, std::weak_ptr<WebServerConnection> connection,
                                       const WebServerConnection* identity) {
    Peer& peer = _peers[key];
    if (peer.reserved > 0) {
        --peer.reserved;
    } else {
        ++peer.weight;
    }
    peer.members[identity] = Member{std::move(connection), std::chrono::steady_clock::now()};
}

void WebServerPeers::connectionEnded(const std::string& key, const WebServerConnection* connection) {
    auto it = _peers.find(key);
    if (it == _peers.end()) {
        return;
    }
    Peer& peer = it->second;
    auto member = peer.members.find(connection);
    if (member == peer.members.end()) {
        return;
    }
    peer.weight -= 1 + member->second.bodies;
    if (member->second.evicted) {
        --_evicting;
    }
    peer.members.erase(member);
    forgetIfEmpty(key);
}

bool WebServerPeers::bodyOpened(const std::string& key, const WebServerConnection* connection,
                                int openDescriptors, int descriptorLimit, Victims& victims) {
    Member* member = memberOf(key, connection);
    if (member == nullptr) {
        return true;
    }
    Peer& peer = _peers[key];
    if (const int lacking = evictionsNeeded(openDescriptors, descriptorLimit); lacking > 0) {
        // The body's own connection stays: a draining connection or a peer that holds as much
        // gives way (another peer on a tie), or the body is refused before anything is stored.
        if (!shedFor(lacking, peer.weight, connection, &peer, victims) &&
            (anyToShed(connection) || openDescriptors >= descriptorLimit)) {
            return false;
        }
    }
    ++member->bodies;
    ++peer.weight;
    return true;
}

void WebServerPeers::bodyClosed(const std::string& key, const WebServerConnection* connection) {
    if (Member* member = memberOf(key, connection); member && member->bodies > 0) {
        --member->bodies;
        --_peers[key].weight;
    }
}

WebServerPeers::Member* WebServerPeers::memberOf(const std::string& key,
                                                 const WebServerConnection* connection) {
    auto it = _peers.find(key);
    if (it == _peers.end()) {
        return nullptr;
    }
    auto member = it->second.members.find(connection);
    return member == it->second.members.end() ? nullptr : &member->second;
}

bool WebServerPeers::mayShed(const WebServerConnection* connection, const Member& member) {
    return !member.evicted && member.bodies == 0 && !connection->isCarryingOutRequest();
}

WebServerPeers::Peer* WebServerPeers::biggestToShed(int minimumWeight, const WebServerConnection* except,
                                                    const Peer* own) {
    Peer* biggest = nullptr;
    for (auto& [key, peer] : _peers) {
        if (peer.weight < std::max(1, minimumWeight) ||
            std::none_of(peer.members.begin(), peer.members.end(), [&](const auto& entry) {
                return entry.first != except && mayShed(entry.first, entry.second);
            })) {
            continue;
        }
        if (biggest == nullptr || peer.weight > biggest->weight ||
            (peer.weight == biggest->weight && biggest == own)) {
            biggest = &peer;
        }
    }
    return biggest;
}

bool WebServerPeers::anyToShed(const WebServerConnection* except) {
    return biggestToShed(1, except, nullptr) != nullptr;
}

// The connections that may be shed that moved the fewest bytes per second since they started (at
// least a second is counted, so a new connection is not judged on its first moments alone). A
// member's connection stays alive while the member is in the table: it leaves the table before it
// is deleted, on the queue this table is used on.
void WebServerPeers::chooseSlowest(Peer& peer, int count, Victims& victims,
                                   const WebServerConnection* except) {
    if (count <= 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::pair<double, Member*>> candidates;
    for (auto& [connection, member] : peer.members) {
        if (connection == except || !mayShed(connection, member)) {
            continue;
        }
        const double age = std::max(1.0, std::chrono::duration<double>(now - member.started).count());
        candidates.emplace_back(static_cast<double>(_bytesMoved(*connection)) / age, &member);
    }
    const auto chosen = std::min<std::size_t>(static_cast<std::size_t>(count), candidates.size());
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(chosen),
                      candidates.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < chosen; ++i) {
        candidates[i].second->evicted = true;
        ++_evicting;
        victims.push_back(candidates[i].second->connection);
    }
}

void WebServerPeers::forgetIfEmpty(const std::string& key) {
    auto it = _peers.find(key);
    if (it != _peers.end() && it->second.weight <= 0 && it->second.reserved <= 0 &&
        it->second.members.empty()) {
        _peers.erase(it);
    }
}
