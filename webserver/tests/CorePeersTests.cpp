// The share of the server each peer address holds (WebServerPeers), driven directly with the counts
// and limits the server would pass: who is let in, who is shed, and what a request body counts.

#include "WebServer.h"
#include "WebServerConnection.h"
#include "WebServerPeers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// The descriptor limit of most rows: connections are shed from an eighth of it below (125).
constexpr int kLimit = 1000;
constexpr int kPlenty = 0;
constexpr int kLow = kLimit - kLimit / 8 + 1; // one descriptor lacking

struct Holding {
    std::string peer;
    std::vector<std::uint64_t> bytesMoved; // one started connection each
    int bodies = 0;                        // stored by its first connection
};

// A peer table whose connections are never started: each stands for one of the server's, with
// the bytes it has moved.
class Table {
public:
    explicit Table(int maximumPerPeer = WebServerPeers::kDefaultMaximumPerPeer) {
        peers.setMaximumPerPeer(maximumPerPeer);
    }
    explicit Table(const std::vector<Holding>& holdings) {
        for (const Holding& holding : holdings) {
            const WebServerConnection* first = nullptr;
            for (const std::uint64_t bytes : holding.bytesMoved) {
                const WebServerConnection* connection = hold(holding.peer, bytes);
                first = first ? first : connection;
            }
            for (int i = 0; i < holding.bodies; ++i) {
                openBody(first, kPlenty);
            }
        }
    }

    // A connection of `peer` that has started and moved `bytes`.
    const WebServerConnection* hold(const std::string& peer, std::uint64_t bytes = 0) {
        auto connection = std::make_shared<WebServerConnection>(_server, std::nullopt, Data{}, -1);
        _known[connection.get()] = {peer, bytes};
        peers.connectionStarted(peer, connection, connection.get());
        _connections.push_back(connection);
        return connection.get();
    }
    // A newcomer from `peer` while `open` descriptors are open: whether it is let in (`shed()`
    // then tells who was chosen to make room).
    bool admit(const std::string& peer, int open, int limit = kLimit) {
        victims.clear();
        return peers.admit(peer, open, limit, victims);
    }
    // Newcomers from `peer` let in one after another while descriptors suffice (at most 10).
    int admitted(const std::string& peer) {
        int count = 0;
        while (count < 10 && admit(peer, kPlenty)) {
            ++count;
        }
        return count;
    }
    bool openBody(const WebServerConnection* connection, int open, int limit = kLimit) {
        victims.clear();
        return peers.bodyOpened(_known.at(connection).peer, connection, open, limit, victims);
    }
    void closeBody(const WebServerConnection* connection) {
        peers.bodyClosed(_known.at(connection).peer, connection);
    }
    void end(const WebServerConnection* connection) {
        peers.connectionEnded(_known.at(connection).peer, connection);
    }
    void evictForLackOfDescriptors(int count) {
        victims.clear();
        peers.evictForLackOfDescriptors(count, victims);
    }
    // The connections chosen last, in the order chosen, as "peer:bytes".
    std::vector<std::string> shed() const {
        std::vector<std::string> names;
        for (const auto& victim : victims) {
            const auto connection = victim.lock();
            const Known& known = _known.at(connection.get());
            names.push_back(known.peer + ":" + std::to_string(known.bytes));
        }
        return names;
    }
    // The connection of `peer` that moved `bytes`.
    const WebServerConnection* find(const std::string& peer, std::uint64_t bytes) const {
        for (const auto& [connection, known] : _known) {
            if (known.peer == peer && known.bytes == bytes) {
                return connection;
            }
        }
        return nullptr;
    }

    // Its answer is out: it only drains what its client still sends.
    void drain(const WebServerConnection* connection) { _known.at(connection).draining = true; }

    WebServerPeers peers{
        [this](const WebServerConnection& connection) { return _known.at(&connection).bytes; },
        [this](const WebServerConnection& connection) { return _known.at(&connection).draining; }};
    WebServerPeers::Victims victims;

private:
    struct Known {
        std::string peer;
        std::uint64_t bytes = 0;
        bool draining = false;
    };
    std::shared_ptr<WebServer> _server = std::make_shared<WebServer>();
    std::map<const WebServerConnection*, Known> _known;
    std::vector<std::shared_ptr<WebServerConnection>> _connections;
};

std::string describe(const std::vector<Holding>& holdings, const std::string& newcomer, int open) {
    std::string text;
    for (const Holding& holding : holdings) {
        text += holding.peer + "=" + std::to_string(holding.bytesMoved.size()) + "+" +
                std::to_string(holding.bodies) + " ";
    }
    return text + "newcomer " + newcomer + " at " + std::to_string(open);
}

} // namespace

// ---- Each peer's share ----

TEST(CorePeers, PeerIsRefusedAtItsMaximum) {
    const struct {
        int maximum;
        int held;
        bool admitted;
    } rows[] = {
        {3, 2, true},   {3, 3, false}, {1, 0, true},
        {1, 1, false},  {0, 0, true},  {0, 1, false}, // a maximum below 1 stands for 1
        {-4, 1, false},
    };
    for (const auto& row : rows) {
        Table table(row.maximum);
        for (int i = 0; i < row.held; ++i) {
            table.hold("A");
        }
        EXPECT_EQ(table.admit("A", kPlenty), row.admitted) << row.maximum << " " << row.held;
        EXPECT_TRUE(table.admit("B", kPlenty)) << row.maximum << " " << row.held;
        EXPECT_TRUE(table.victims.empty());
    }
}

// A newcomer is counted from the moment it is let in, and once only when its connection starts.
TEST(CorePeers, AdmittedConnectionCountsOnce) {
    Table table(3);
    ASSERT_TRUE(table.admit("A", kPlenty));
    table.hold("A"); // the connection let in starts
    EXPECT_EQ(table.admitted("A"), 2);
}

// A stored request body counts for its peer until it is closed or its connection ends, and never
// takes more than it added.
TEST(CorePeers, BodyCountsUntilClosedOrEnded) {
    enum Step { Open, Close, End };
    const struct {
        std::vector<Step> steps;
        int admitted; // of a maximum of 3
    } rows[] = {
        {{}, 2},      {{Open}, 1},      {{Open, Open}, 0},      {{Open, Close}, 2}, {{Open, Close, Close}, 2},
        {{Close}, 2}, {{Open, End}, 3}, {{Open, Open, End}, 3}, {{End}, 3},
    };
    for (const auto& row : rows) {
        Table table(3);
        const WebServerConnection* connection = table.hold("A");
        for (const Step step : row.steps) {
            if (step == Open) {
                table.openBody(connection, kPlenty);
            } else if (step == Close) {
                table.closeBody(connection);
            } else {
                table.end(connection);
            }
        }
        EXPECT_EQ(table.admitted("A"), row.admitted) << "row of " << row.steps.size() << " steps";
    }
}

// ---- When descriptors run low ----

TEST(CorePeers, OnlyAPeerHoldingLessThanTheBiggestGetsIn) {
    const std::vector<std::uint64_t> two{1, 2};
    const std::vector<std::uint64_t> three{1, 2, 3};
    const struct {
        std::vector<Holding> holdings;
        std::string newcomer;
        int open;
        bool admitted;
        std::vector<std::string> shed;
    } rows[] = {
        // Two equal holders: neither gets in, whichever asks, and nothing is shed.
        {{{"A", two}, {"B", two}}, "A", kLow, false, {}},
        {{{"A", two}, {"B", two}}, "B", kLow, false, {}},
        // One less than the biggest holder gets in, at that holder's cost; the biggest does not.
        {{{"A", three}, {"B", two}}, "B", kLow, true, {"A:1"}},
        {{{"A", three}, {"B", two}}, "A", kLow, false, {}},
        {{{"A", {5}}}, "C", kLow, true, {"A:5"}},
        {{{"A", {5}}}, "A", kLow, false, {}},
        // A body counts in what its peer holds, and its connection is never shed.
        {{{"A", {1}, 1}, {"B", {7}}}, "B", kLow, false, {}},
        {{{"A", {1}, 1}, {"B", two}}, "B", kLow, false, {}},
        {{{"A", {1}}, {"B", two, 1}}, "A", kLow, true, {"B:2"}},
        {{{"A", {1}, 1}}, "B", kLow, true, {}}, // nothing to shed: in while descriptors are left
        // Below the line everyone gets in, within its share.
        {{{"A", two}, {"B", two}}, "A", kLow - 1, true, {}},
        {{{"A", three}, {"B", two}}, "B", kLow - 1, true, {}},
        // Nobody holds anything: a newcomer gets in while a descriptor is left for it.
        {{}, "A", kLimit - 1, true, {}},
        {{}, "A", kLimit, false, {}},
        {{}, "A", kLimit + 5, false, {}},
    };
    for (const auto& row : rows) {
        Table table(row.holdings);
        const std::string name = describe(row.holdings, row.newcomer, row.open);
        EXPECT_EQ(table.admit(row.newcomer, row.open), row.admitted) << name;
        EXPECT_EQ(table.shed(), row.shed) << name;
    }
}

// Connections are shed from an eighth of the limit below it, that margin being at least 16: one
// for each descriptor lacking there.
TEST(CorePeers, LowFromAnEighthOfTheLimitAndAtLeastSixteen) {
    const struct {
        int limit;
        int open;
        std::size_t shed;
    } rows[] = {
        {1000, 875, 0}, {1000, 876, 1}, {1000, 878, 3}, {1000, 1000, 10}, // all A holds
        {136, 119, 0},  {136, 120, 1},                                    // an eighth is 17
        {128, 112, 0},  {128, 113, 1},                                    // an eighth is 16
        {100, 84, 0},   {100, 85, 1},   {100, 86, 2},                     // 16, not an eighth
        {16, 0, 0},     {16, 1, 1},
    };
    for (const auto& row : rows) {
        Table table({{"A", {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}}});
        EXPECT_TRUE(table.admit("C", row.open, row.limit)) << row.limit << " " << row.open;
        EXPECT_EQ(table.shed().size(), row.shed) << row.limit << " " << row.open;
    }
}

// The biggest holder gives up its slowest connections (fewest bytes moved per second), each once;
// connections shed and not ended yet count against what is lacking, and the count is at least 1.
TEST(CorePeers, SlowestConnectionsAreShedFirst) {
    Table table({{"A", {500, 20, 9000, 100, 3000}}, {"B", {1, 2}}});
    const int twoLacking = kLow + 1;
    const struct {
        std::string newcomer;
        std::vector<std::string> shed;
    } rows[] = {
        {"C", {"A:20", "A:100"}},
        {"D", {"A:500"}}, // two shed already: one more at least
        {"E", {"A:3000"}},
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(table.admit(row.newcomer, twoLacking)) << row.newcomer;
        EXPECT_EQ(table.shed(), row.shed) << row.newcomer;
    }
    // Once the shed connections have ended, what is lacking is made up in full again.
    for (const std::uint64_t bytes : {20, 100, 500, 3000}) {
        table.end(table.find("A", bytes));
    }
    table.hold("A", 4000);
    table.hold("A", 8000);
    EXPECT_TRUE(table.admit("F", twoLacking));
    EXPECT_EQ(table.shed(), (std::vector<std::string>{"A:4000", "A:8000"}));
}

// Bytes per second count from the connection's start, and from one second at least: a connection
// is not judged on its first moments alone.
TEST(CorePeers, PaceCountsFromTheStartAndFromOneSecondAtLeast) {
    Table table;
    table.hold("A", 300); // 300 bytes in 1.5 s or more: at most 200 a second
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    table.hold("A", 100); // counted as a whole second: 100 and 250 a second
    table.hold("A", 250);
    EXPECT_TRUE(table.admit("C", kLow + 1));
    EXPECT_EQ(table.shed(), (std::vector<std::string>{"A:100", "A:300"}));
}

TEST(CorePeers, BodyOpenedWhileDescriptorsRunLowShedsTheBiggestHoldersSlowest) {
    const struct {
        int open;
        std::vector<std::string> shed;
    } rows[] = {{kLow - 1, {}}, {kLow, {"A:10"}}, {kLow + 1, {"A:10", "A:30"}}};
    for (const auto& row : rows) {
        Table table({{"A", {40, 10, 30}}, {"B", {5}}});
        table.openBody(table.find("B", 5), row.open);
        EXPECT_EQ(table.shed(), row.shed) << row.open;
    }
}

// A body opened while descriptors run low never sheds its own connection, nor one storing a body:
// a peer holding as much gives up an idle one (another peer on a tie), else the body is refused.
TEST(CorePeers, BodyOpenedNeverShedsARequestBegun) {
    const struct {
        std::vector<Holding> holdings;
        std::string peer; // the body's connection: the one of `peer` that moved `bytes`
        std::uint64_t bytes;
        int open;
        bool opened;
        std::vector<std::string> shed;
    } rows[] = {
        {{{"A", {1}}, {"B", {2}}}, "A", 1, kLow, true, {"B:2"}},
        {{{"A", {1}}, {"B", {2}}, {"C", {4, 5}}}, "A", 1, kLow, true, {"C:4"}},
        {{{"A", {1, 3}}, {"B", {2}}}, "A", 1, kLow, true, {"A:3"}},
        {{{"A", {1, 3}}, {"B", {2, 4}}}, "A", 1, kLow, true, {"B:2"}}, // a tie: the other peer
        {{{"A", {1, 3}}, {"B", {2, 4}}}, "B", 2, kLow, true, {"A:1"}},
        {{{"A", {1}}, {"B", {2}, 1}}, "A", 1, kLow, true, {}},     // nothing to shed: descriptors left
        {{{"A", {1}}, {"B", {2}, 1}}, "A", 1, kLimit, false, {}},  // nothing to shed, none left
        {{{"A", {3, 1}, 1}, {"B", {2}}}, "A", 1, kLow, false, {}}, // only peers holding less
        {{{"A", {3, 1}, 1}, {"B", {2}}}, "A", 1, kLow - 1, true, {}},
    };
    for (const auto& row : rows) {
        Table table(row.holdings);
        const std::string name = describe(row.holdings, row.peer, row.open);
        EXPECT_EQ(table.openBody(table.find(row.peer, row.bytes), row.open), row.opened) << name;
        EXPECT_EQ(table.shed(), row.shed) << name;
    }
    // Nor is a connection storing a body shed when accepting fails.
    Table table({{"A", {30, 10}, 1}});
    table.evictForLackOfDescriptors(2);
    EXPECT_EQ(table.shed(), std::vector<std::string>{"A:10"});
}

TEST(CorePeers, AcceptFailureShedsTheBiggestHoldersSlowest) {
    Table table({{"A", {30, 10, 40, 20}}, {"B", {5}}});
    const struct {
        int count;
        std::vector<std::string> shed;
    } rows[] = {{2, {"A:10", "A:20"}}, {2, {"A:30"}}}; // two shed already: one more at least
    for (const auto& row : rows) {
        table.evictForLackOfDescriptors(row.count);
        EXPECT_EQ(table.shed(), row.shed) << row.count;
    }
    Table empty;
    empty.evictForLackOfDescriptors(16);
    EXPECT_TRUE(empty.victims.empty());
}

// A draining connection (its answer out) still counts for its peer, but it is the first to go, of
// whichever peer: for a newcomer (even one holding as much as anyone), a body, a failed accept, a
// newcomer of its own peer at its bound, and all of them when the server stops.
TEST(CorePeers, DrainingConnectionsGoFirst) {
    enum Event { Newcomer, Body, AcceptFailure, Stop };
    const struct {
        std::vector<Holding> holdings;
        std::vector<std::string> draining; // "peer:bytes"
        Event event;
        std::string peer; // the newcomer's, or the body's connection ("A:1")
        int open;
        bool allowed;
        std::vector<std::string> shed;
    } rows[] = {
        {{{"A", {1, 2, 3}}}, {"A:3"}, Newcomer, "C", kLow, true, {"A:3"}},
        {{{"A", {1, 2, 3}}, {"B", {50}}}, {"B:50"}, Newcomer, "C", kLow, true, {"B:50"}},
        {{{"A", {1, 2}}, {"B", {7, 8}}}, {"B:7"}, Newcomer, "A", kLow, true, {"B:7"}},
        {{{"A", {1, 2}}, {"B", {7, 8}}}, {}, Newcomer, "A", kLow, false, {}},
        {{{"A", {1, 2}}}, {"A:2"}, Newcomer, "C", kLow - 1, true, {}},        // descriptors suffice
        {{{"A", {1, 2, 3}}}, {"A:3"}, Newcomer, "A", kPlenty, true, {"A:3"}}, // at its bound of 3
        {{{"A", {1, 2, 3}}, {"B", {4}}}, {"B:4"}, Newcomer, "A", kPlenty, false, {}},
        {{{"A", {1, 3}}, {"B", {9}}}, {"B:9"}, Body, "A:1", kLow, true, {"B:9"}},
        {{{"A", {30, 10}}, {"B", {5}}}, {"B:5"}, AcceptFailure, "", 0, true, {"B:5"}},
        {{{"A", {30, 10}}, {"B", {5, 6}}}, {"A:30", "B:6"}, Stop, "", 0, true, {"A:30", "B:6"}},
    };
    for (const auto& row : rows) {
        Table table(row.holdings);
        table.peers.setMaximumPerPeer(3);
        for (const std::string& name : row.draining) {
            const auto colon = name.find(':');
            table.drain(table.find(name.substr(0, colon), std::stoull(name.substr(colon + 1))));
        }
        const std::string label =
            describe(row.holdings, row.peer, row.open) + " event " + std::to_string(row.event);
        bool allowed = true;
        if (row.event == Newcomer) {
            allowed = table.admit(row.peer, row.open);
        } else if (row.event == Body) {
            const auto colon = row.peer.find(':');
            allowed = table.openBody(
                table.find(row.peer.substr(0, colon), std::stoull(row.peer.substr(colon + 1))), row.open);
        } else if (row.event == AcceptFailure) {
            table.evictForLackOfDescriptors(1);
        } else {
            table.victims.clear();
            table.peers.shedDraining(table.victims);
        }
        EXPECT_EQ(allowed, row.allowed) << label;
        std::vector<std::string> shed = table.shed();
        std::sort(shed.begin(), shed.end());
        EXPECT_EQ(shed, row.shed) << label;
    }
}

// ---- Addresses and descriptors ----

TEST(CorePeers, KeyOfAnAddressIgnoresThePortAndTheMappingToIPv6) {
    const auto v4 = [](const char* text, int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        EXPECT_EQ(::inet_pton(AF_INET, text, &address.sin_addr), 1);
        return WebServerPeers::keyOfAddress(&address, sizeof address);
    };
    const auto v6 = [](const char* text, int port) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(static_cast<std::uint16_t>(port));
        EXPECT_EQ(::inet_pton(AF_INET6, text, &address.sin6_addr), 1);
        return WebServerPeers::keyOfAddress(&address, sizeof address);
    };
    const std::string key = v4("127.0.0.2", 40000);
    EXPECT_EQ(v4("127.0.0.2", 40001), key);
    EXPECT_EQ(v6("::ffff:127.0.0.2", 40002), key);
    EXPECT_NE(v4("127.0.0.3", 40000), key);
    EXPECT_NE(v6("::1", 40000), key);
    EXPECT_EQ(v6("::1", 1), v6("::1", 2));
    EXPECT_NE(v6("::1", 1), v6("::2", 1));
}

// Connections may take the descriptor limit less a reserve of 32, and at least 16.
TEST(CorePeers, DescriptorsForConnectionsKeepAReserve) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const struct {
        rlim_t limit;
        int forConnections;
    } rows[] = {{1024, 992}, {49, 17}, {48, 16}, {40, 16}};
    for (const auto& row : rows) {
        if (saved.rlim_max != RLIM_INFINITY && row.limit > saved.rlim_max) {
            continue;
        }
        rlimit lowered = saved;
        lowered.rlim_cur = row.limit;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        const int forConnections = WebServerPeers::descriptorsForConnections();
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        EXPECT_EQ(forConnections, row.forConnections) << row.limit;
    }
}

namespace {

// The descriptors open now, asked one by one.
int openNow() {
    rlimit limit{};
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    int count = 0;
    for (rlim_t descriptor = 0; descriptor < std::min<rlim_t>(limit.rlim_cur, 1 << 20); ++descriptor) {
        count += ::fcntl(static_cast<int>(descriptor), F_GETFD) != -1;
    }
    return count;
}

} // namespace

// Near the line (a limit of 16 is always near it) every call counts the open descriptors; far
// below it a recent count stands for them, with a margin that never falls short.
TEST(CorePeers, OpenDescriptorsAreCountedNearTheLine) {
    const int before = WebServerPeers::openDescriptors(16);
    EXPECT_EQ(before, openNow());
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_GE(WebServerPeers::openDescriptors(1 << 20), before + 2);
    EXPECT_EQ(WebServerPeers::openDescriptors(16), before + 2);
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_EQ(WebServerPeers::openDescriptors(16), before);
    // The estimate (the count and three for the one call since) is counted again while it comes
    // within twice the margin (16 for limits this small) of the line.
    EXPECT_EQ(WebServerPeers::openDescriptors(before + 3 + 2 * 16), before);
}
