// What the slots carry out for the listen task, on fake sockets through a fake probe (no network):
// a newcomer admitted or held, the look at idle connections for a request that has come, the one
// closed to make room (cancelled), the one told to end after its answer, the bar on an address
// that lost a connection, the drain's progress, and a pass of several newcomers on one snapshot.
#include "KL_Socket.h"
#include "UP_HttpConnectionSlots.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Phase = UP_HttpSlotPhase;

// Sockets are tokens: only the probe looks at them.
class FakeProbe : public UP_HttpSocketProbe {
public:
    uint32_t PeerOf(KL_Socket* socket) override { return m_Peers[socket]; }
    bool HasUnread(KL_Socket* socket) override { return m_Unread.count(socket) != 0; }
    bool GetAcknowledged(KL_Socket* socket, uint64_t& bytes, bool& waiting) override {
        bytes = 0;
        waiting = m_Waiting.count(socket) != 0;
        return true;
    }
    void Cancel(KL_Socket* socket) override { m_Cancelled.push_back(socket); }

    std::map<KL_Socket*, uint32_t> m_Peers;
    std::set<KL_Socket*> m_Unread;  // a request has come
    std::set<KL_Socket*> m_Waiting; // some of what it sent waits for its peer
    std::vector<KL_Socket*> m_Cancelled;
};

constexpr uint32_t kA = 1;
constexpr uint32_t kB = 2;
constexpr uint32_t kC = 3;

struct Listed {
    uint32_t peer;
    std::vector<Phase> phases; // in turn, after it was admitted
    bool unread = false;
    bool waiting = false;
};

struct Arriving {
    uint32_t peer;
    bool told = false; // it has told one to end already
};

} // namespace

// One row per step: the listed connections (each admitted, then through its phases), the newcomers
// offered a slot in one pass, and what comes of it: which newcomers are admitted ("1" or "0" each),
// which listed ones are cancelled, and which are told to end after their answer.
TEST(ConnectionSlotsTest, CarriesOutWhatTheRulesDecide) {
    const std::vector<Phase> kKeptAlive = {Phase::Working, Phase::Answering, Phase::Idle};
    const std::vector<Phase> kDraining = {Phase::Answering, Phase::Draining};
    struct Row {
        const char* name;
        KL_Timeout grace;
        std::vector<Listed> listed; // fill every slot
        std::vector<Arriving> newcomers;
        std::string admitted;
        std::vector<size_t> cancelled;
        std::vector<size_t> told = {};
        int aged = 0; // ms the listed ones are left alone before the pass
    } rows[] = {
        {"an idle one whose request has come stays", 0, {{kB, {Phase::Idle}, true}}, {{kA}}, "0", {}},
        {"an idle one without a request goes", 0, {{kB, {Phase::Idle}, false}}, {{kA}}, "1", {0}},
        {"an idle one whose last answer is on its way stays",
         0,
         {{kB, {Phase::Idle}, false, true}},
         {{kA}},
         "0",
         {}},
        {"a drain with nothing waiting goes", 60000, {{kB, kDraining}}, {{kA}}, "1", {0}},
        {"a drain whose answer waits stays", 60000, {{kB, kDraining, false, true}}, {{kA}}, "0", {}},
        {"the address that lost one is barred", 20, {{kB, {}}, {kC, {}}}, {{kA}, {kB}}, "10", {0}, {}, 40},
        {"a lost drain bars nothing", 60000, {{kB, kDraining}, {kC, kDraining}}, {{kA}, {kB}}, "11", {0, 1}},
        {"one pass, one snapshot",
         60000,
         {{kB, kDraining}, {kC, {Phase::Working}}},
         {{kA}, {kA}},
         "10",
         {0},
         {1}},
        {"a kept-alive one told to end", 60000, {{kB, kKeptAlive}}, {{kA}}, "0", {}, {0}},
        {"a newcomer tells one only", 60000, {{kB, kKeptAlive}}, {{kA, true}}, "0", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeProbe probe;
        UP_HttpServerLimits limits;
        limits.m_RoomGrace = row.grace;
        limits.m_Turn = 0;
        UP_HttpConnectionSlots slots(KL_Cardinal(row.listed.size()), &probe);
        slots.SetLimits(limits);
        std::vector<std::unique_ptr<KL_Socket>> sockets;
        auto make = [&](uint32_t peer) {
            sockets.push_back(std::make_unique<KL_Socket>(nullptr));
            probe.m_Peers[sockets.back().get()] = peer;
            return sockets.back().get();
        };
        for (const Listed& listed : row.listed) {
            UP_HttpConnectionSlots::Newcomer newcomer;
            newcomer.m_Socket = make(listed.peer);
            newcomer.m_Peer = listed.peer;
            ASSERT_TRUE(slots.Admit(newcomer));
            if (listed.waiting) {
                probe.m_Waiting.insert(newcomer.m_Socket);
            }
            for (Phase phase : listed.phases) {
                ASSERT_TRUE(slots.SetPhase(newcomer.m_Socket, phase));
            }
            if (listed.unread) {
                probe.m_Unread.insert(newcomer.m_Socket);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(row.aged));
        std::vector<UP_HttpConnectionSlots::Newcomer> pass;
        for (const Arriving& arriving : row.newcomers) {
            UP_HttpConnectionSlots::Newcomer newcomer;
            newcomer.m_Socket = make(arriving.peer);
            newcomer.m_Peer = arriving.peer;
            newcomer.m_Told = arriving.told;
            pass.push_back(newcomer);
        }
        slots.Offer(pass);
        std::string admitted;
        for (const UP_HttpConnectionSlots::Newcomer& newcomer : pass) {
            admitted += newcomer.m_Admitted ? "1" : "0";
        }
        EXPECT_EQ(admitted, row.admitted);
        std::vector<size_t> cancelled;
        std::vector<size_t> told;
        for (size_t i = 0; i < row.listed.size(); ++i) {
            for (KL_Socket* socket : probe.m_Cancelled) {
                if (socket == sockets[i].get()) {
                    cancelled.push_back(i);
                }
            }
            if (slots.EndsAfterAnswer(sockets[i].get())) {
                told.push_back(i);
            }
        }
        EXPECT_EQ(cancelled, row.cancelled);
        EXPECT_EQ(told, row.told);
        for (const auto& socket : sockets) {
            slots.Leave(socket.get());
        }
    }
}
