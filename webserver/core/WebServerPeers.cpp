#include "WebServerPeers.h"

#include "WebServerConnection.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

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

bool WebServerPeers::admit(const std::string& key, int descriptorsShort, Victims& victims) {
    Peer& peer = _peers[key];
    if (peer.weight >= _maximumPerPeer) {
        return false;
    }
    if (descriptorsShort > 0) {
        // Only a newcomer that holds less than the biggest holder gets in, at that holder's cost.
        Peer* biggest = biggestHolder();
        if (biggest == nullptr || biggest == &peer || biggest->weight <= peer.weight) {
            forgetIfEmpty(key);
            return false;
        }
        // Connections closed before and not ended yet give their descriptors back soon.
        chooseSlowest(*biggest, descriptorsShort - _evicting, victims);
    }
    ++peer.weight;
    ++peer.reserved;
    return true;
}

void WebServerPeers::evictForLackOfDescriptors(int count, Victims& victims) {
    if (Peer* biggest = biggestHolder()) {
        chooseSlowest(*biggest, count - _evicting, victims);
    }
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

void WebServerPeers::bodyOpened(const std::string& key, const WebServerConnection* connection) {
    if (Member* member = memberOf(key, connection)) {
        ++member->bodies;
        ++_peers[key].weight;
    }
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

WebServerPeers::Peer* WebServerPeers::biggestHolder() {
    Peer* biggest = nullptr;
    for (auto& [key, peer] : _peers) {
        if (peer.weight > 0 && (biggest == nullptr || peer.weight > biggest->weight)) {
            biggest = &peer;
        }
    }
    return biggest;
}

// The connections that moved the fewest bytes per second since they started (at least a second
// is counted, so a new connection is not judged on its first moments alone). A member's connection
// stays alive while the member is in the table: it leaves the table before it is deleted, on the
// queue this table is used on.
void WebServerPeers::chooseSlowest(Peer& peer, int count, Victims& victims) {
    if (count <= 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::pair<double, Member*>> candidates;
    for (auto& [connection, member] : peer.members) {
        if (member.evicted) {
            continue;
        }
        const double age = std::max(1.0, std::chrono::duration<double>(now - member.started).count());
        candidates.emplace_back(static_cast<double>(connection->bytesMoved()) / age, &member);
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
