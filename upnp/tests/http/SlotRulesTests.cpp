// Which connection gives way to a newcomer when every slot is taken, decided on snapshots of fake
// connections: the grace, the cost order, the rate floor and its window, the pause limit, the
// fair share of 4, ties, the per-peer bound and a barred address.
#include "UP_HttpSlotRules.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint32_t kA = 1; // the newcomer's address
constexpr uint32_t kB = 2;
constexpr uint32_t kC = 3;

UP_HttpSlotView Idle(uint32_t peer, int64_t ms, bool used = true) {
    UP_HttpSlotView view;
    view.m_Peer = peer;
    view.m_Used = used;
    view.m_InPhase = ms;
    return view;
}

UP_HttpSlotView Receiving(uint32_t peer, int64_t ms) {
    UP_HttpSlotView view = Idle(peer, ms);
    view.m_Phase = UP_HttpSlotPhase::Receiving;
    return view;
}

UP_HttpSlotView Working(uint32_t peer, int64_t ms) {
    UP_HttpSlotView view = Idle(peer, ms);
    view.m_Phase = UP_HttpSlotPhase::Working;
    return view;
}

// An answer of age ms, of which acknowledged bytes went over the last window (or its life), that
// has been paused for paused ms.
UP_HttpSlotView Answer(uint32_t peer, int64_t ms, uint64_t acknowledged, int64_t paused = 0,
                       bool waiting = true) {
    UP_HttpSlotView view = Idle(peer, ms);
    view.m_Phase = UP_HttpSlotPhase::Answering;
    view.m_Acknowledged = acknowledged;
    view.m_Paused = paused;
    view.m_Waiting = waiting;
    return view;
}

// Slow: 32 KiB/s over 10 s is 327,680 bytes.
constexpr uint64_t kFloorBytes = 32 * 1024 * 10;

UP_HttpServerLimits Limits() {
    UP_HttpServerLimits limits; // grace 1 s, floor 32 KiB/s over 10 s, pause 20 s, share 4, 16 a peer
    return limits;
}

// Fills the snapshot up to capacity with connections that never give way (working ones of
// address kC, one per filler address so that they never hold the most).
std::vector<UP_HttpSlotView> Full(std::vector<UP_HttpSlotView> open, size_t capacity) {
    for (uint32_t filler = 100; open.size() < capacity; ++filler) {
        open.push_back(Working(filler, 0));
    }
    return open;
}

constexpr size_t kCapacity = 20;

int Room(const std::vector<UP_HttpSlotView>& open, uint32_t peer = kA, bool barred = false,
         const UP_HttpServerLimits& limits = Limits()) {
    return UP_HttpSlotRules(limits, kCapacity).MakeRoom(Full(open, kCapacity), peer, barred);
}

} // namespace

// One row per rule: the snapshot (filled up to the slots with connections that never give way),
// the newcomer, and which connection of the snapshot goes (or kWait). Each pair of rows sits on
// the two sides of one bound.
TEST(SlotRulesTest, ChoosesWhatGivesWay) {
    constexpr int kWait = UP_HttpSlotRules::kWait;
    struct Row {
        const char* name;
        std::vector<UP_HttpSlotView> open;
        uint32_t newcomer;
        bool barred;
        int expected;
    } rows[] = {
        {"idle within its grace", {Idle(kB, 999)}, kA, false, kWait},
        {"idle past its grace", {Idle(kB, 1000)}, kA, false, 0},
        {"fresh, never used, within its grace", {Idle(kB, 999, false)}, kA, false, kWait},
        {"receiving within its grace", {Receiving(kB, 999)}, kA, false, kWait},
        {"receiving slowly", {Receiving(kB, 1000)}, kA, false, 0},
        {"a request being worked on", {Working(kB, 60000)}, kA, false, kWait},
        {"an answer at the floor", {Answer(kB, 10000, kFloorBytes)}, kA, false, kWait},
        {"an answer below the floor", {Answer(kB, 10000, kFloorBytes - 1)}, kA, false, 0},
        {"a slow answer too young to judge", {Answer(kB, 1999, 1)}, kA, false, kWait},
        {"a slow answer just old enough", {Answer(kB, 2000, 1)}, kA, false, 0},
        {"young: judged over its life", {Answer(kB, 5000, kFloorBytes / 2)}, kA, false, kWait},
        {"young and slow over its life", {Answer(kB, 5000, kFloorBytes / 2 - 1)}, kA, false, 0},
        {"a viewer paused 8 s", {Answer(kB, 60000, kFloorBytes / 5, 8000)}, kA, false, kWait},
        {"paused below the limit", {Answer(kB, 60000, 0, 19999)}, kA, false, kWait},
        {"paused at the limit", {Answer(kB, 60000, 0, 20000)}, kA, false, 0},
        {"nothing waits for its peer", {Answer(kB, 60000, 0, 0, false)}, kA, false, kWait},
        {"idle before receiving", {Receiving(kB, 5000), Idle(kB, 1000)}, kA, false, 1},
        {"never used before kept alive", {Idle(kB, 5000), Idle(kB, 1000, false)}, kA, false, 1},
        {"receiving before a slow answer", {Answer(kB, 10000, 1), Receiving(kB, 1000)}, kA, false, 1},
        {"slow before paused", {Answer(kB, 60000, 0, 30000), Answer(kB, 10000, 1)}, kA, false, 1},
        {"longest idle first", {Idle(kB, 1500), Idle(kB, 1501)}, kA, false, 1},
        {"the biggest holder first", {Idle(kC, 5000), Idle(kB, 1000), Working(kB, 0)}, kA, false, 1},
        // The fair share: a slow answer of an address holding as many as the newcomer's.
        {"3 beside 3 gets in",
         {Answer(kB, 10000, 1), Working(kB, 0), Working(kB, 0), Working(kA, 0), Working(kA, 0),
          Working(kA, 0)},
         kA,
         false,
         0},
        {"4 beside 4 does not",
         {Answer(kB, 10000, 1), Working(kB, 0), Working(kB, 0), Working(kB, 0), Working(kA, 0),
          Working(kA, 0), Working(kA, 0), Working(kA, 0)},
         kA,
         false,
         kWait},
        {"4 beside 5 gets in",
         {Answer(kB, 10000, 1), Working(kB, 0), Working(kB, 0), Working(kB, 0), Working(kB, 0),
          Working(kA, 0), Working(kA, 0), Working(kA, 0), Working(kA, 0)},
         kA,
         false,
         0},
        {"2 beside 1 does not take an answer",
         {Answer(kB, 10000, 1), Working(kA, 0), Working(kA, 0)},
         kA,
         false,
         kWait},
        {"idle ones go wherever they are", {Idle(kB, 1000), Working(kA, 0), Working(kA, 0)}, kA, false, 0},
        {"its own slow answer", {Answer(kA, 10000, 1), Working(kA, 0)}, kA, false, 0},
        {"barred: not another's", {Idle(kB, 5000)}, kA, true, kWait},
        {"barred: its own", {Idle(kB, 5000), Idle(kA, 1000)}, kA, true, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Room(row.open, row.newcomer, row.barred), row.expected);
    }
}

// A free slot is taken at once; at its bound an address frees only its own connections, even
// with slots free.
TEST(SlotRulesTest, FreeSlotsAndThePerPeerBound) {
    const UP_HttpSlotRules rules(Limits(), 3);
    EXPECT_EQ(rules.MakeRoom({Working(kB, 0), Working(kB, 0)}, kA, false), UP_HttpSlotRules::kAdmit);
    EXPECT_EQ(rules.MakeRoom({Working(kB, 0), Working(kB, 0), Idle(kB, 0)}, kA, false),
              UP_HttpSlotRules::kWait);

    std::vector<UP_HttpSlotView> own(15, Working(kA, 0));
    own.push_back(Idle(kA, 5000));
    own.push_back(Idle(kB, 5000));
    const UP_HttpSlotRules roomy(Limits(), 100);
    EXPECT_EQ(roomy.MakeRoom(own, kA, false), 15); // 16 held: its own idle one goes
    own[15] = Working(kA, 0);
    EXPECT_EQ(roomy.MakeRoom(own, kA, false), UP_HttpSlotRules::kWait);
    own.pop_back();
    own.pop_back();
    EXPECT_EQ(roomy.MakeRoom(own, kA, false), UP_HttpSlotRules::kAdmit); // 15 held
}

// Waiting newcomers: the address holding the least first, then the one waiting longest; and a
// lost kept-alive connection does not bar its address, any other lost one does.
TEST(SlotRulesTest, WaitersOrderAndWhatBars) {
    EXPECT_TRUE(UP_HttpSlotRules::ComesFirst(1, 10, 2, 900));
    EXPECT_FALSE(UP_HttpSlotRules::ComesFirst(2, 900, 1, 10));
    EXPECT_TRUE(UP_HttpSlotRules::ComesFirst(1, 11, 1, 10));
    EXPECT_FALSE(UP_HttpSlotRules::ComesFirst(1, 10, 1, 11));
    EXPECT_FALSE(UP_HttpSlotRules::ComesFirst(1, 10, 1, 10));
    EXPECT_FALSE(UP_HttpSlotRules::Bars(UP_HttpSlotRules::Cost::Idle));
    EXPECT_TRUE(UP_HttpSlotRules::Bars(UP_HttpSlotRules::Cost::Unused));
    EXPECT_TRUE(UP_HttpSlotRules::Bars(UP_HttpSlotRules::Cost::SlowAnswer));
}
