// What the slots decide for a newcomer, on snapshots of fake connections: room first, the grace,
// the cost order, the rate floor and its window, the pause limit and the fair share of 4 it
// holds for, the drain, an address's share of 16, the newcomer's wait before an answer gives way,
// ties, a barred address, which connections are told to end after their answer, and what bars;
// and the progress of an answer from its samples.
#include "UP_HttpSlotRules.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint32_t kA = 1; // the newcomer's address
constexpr uint32_t kB = 2;
constexpr uint32_t kC = 3;

// Listed for a minute: it has had its turn.
UP_HttpSlotView Idle(uint32_t peer, int64_t ms, bool used = true) {
    UP_HttpSlotView view;
    view.m_Peer = peer;
    view.m_Used = used;
    view.m_InPhase = ms;
    view.m_Listed = 60000;
    return view;
}

UP_HttpSlotView Listed(UP_HttpSlotView view, int64_t ms) {
    view.m_Listed = ms;
    return view;
}

UP_HttpSlotView With(UP_HttpSlotView view, UP_HttpSlotPhase phase) {
    view.m_Phase = phase;
    return view;
}

UP_HttpSlotView Receiving(uint32_t peer, int64_t ms) {
    return With(Idle(peer, ms), UP_HttpSlotPhase::Receiving);
}

UP_HttpSlotView Working(uint32_t peer, int64_t ms) {
    return With(Idle(peer, ms), UP_HttpSlotPhase::Working);
}

// Draining after its last answer; waiting: some of that answer waits for its peer.
UP_HttpSlotView Draining(uint32_t peer, int64_t ms, bool waiting = false) {
    UP_HttpSlotView view = With(Idle(peer, ms), UP_HttpSlotPhase::Draining);
    view.m_Waiting = waiting;
    return view;
}

// Idle, but its next request has arrived.
UP_HttpSlotView Asking(uint32_t peer, int64_t ms) {
    UP_HttpSlotView view = Idle(peer, ms);
    view.m_RequestWaiting = true;
    return view;
}

// Told to end after its answer.
UP_HttpSlotView Yielding(UP_HttpSlotView view) {
    view.m_Yielding = true;
    return view;
}

// An answer of age ms, of which acknowledged bytes went over the last window (or its life), that
// has been paused for paused ms.
UP_HttpSlotView Answer(uint32_t peer, int64_t ms, uint64_t acknowledged, int64_t paused = 0,
                       bool waiting = true) {
    UP_HttpSlotView view = With(Idle(peer, ms), UP_HttpSlotPhase::Answering);
    view.m_Acknowledged = acknowledged;
    view.m_Paused = paused;
    view.m_Waiting = waiting;
    return view;
}

// The floor, 6 KiB/s over 10 s, is 61,440 bytes; music at 64 kbit/s is 8 KB/s, a reader taking
// 4 KiB every 2.5 s about 1.6 KB/s.
constexpr uint64_t kFloorBytes = 6 * 1024 * 10;
constexpr uint64_t kAudioBytes = 8000 * 10;
constexpr uint64_t kTrickleBytes = 1640 * 10;
constexpr uint64_t kFastBytes = 1024 * 1024 * 10;

// An answer read fast: it never gives way, nor is it told to end before others.
UP_HttpSlotView Busy(uint32_t peer) {
    return Answer(peer, 10000, kFastBytes);
}

std::vector<UP_HttpSlotView> Times(size_t count, const UP_HttpSlotView& view,
                                   std::vector<UP_HttpSlotView> tail = {}) {
    std::vector<UP_HttpSlotView> open(count, view);
    open.insert(open.end(), tail.begin(), tail.end());
    return open;
}

// grace 1 s, floor 6 KiB/s over 10 s, pause 20 s, fair share 4, share 16, answers after 500 ms,
// a turn of 1 s
const UP_HttpServerLimits kLimits;
constexpr size_t kCapacity = 40;
constexpr int kWait = UP_HttpSlotRules::kWait;
constexpr int kAdmit = UP_HttpSlotRules::kAdmit;
constexpr int64_t kAny = -1; // the bar is not looked at
constexpr int64_t kBar = 2000;

} // namespace

// One row per rule: the snapshot (filled up to the slots with connections that never give way,
// each of an address of its own, unless there is room), the newcomer, how long it has waited and
// how many wait, and what is decided: which connection of the snapshot goes (or kWait, kAdmit),
// for how long that bars its address, and (rows with newcomers waiting) which are told to end
// after their answer. Pairs of rows sit on the two sides of one bound.
TEST(SlotRulesTest, DecidesForANewcomer) {
    struct Row {
        const char* name;
        std::vector<UP_HttpSlotView> open;
        int expected;
        int64_t bar = kAny;
        std::vector<size_t> yields = {};
        int64_t waited = 500;
        KL_Cardinal waiting = 0;
        bool barred = false;
        bool room = false; // not filled up
    } rows[] = {
        // Room first.
        {"room: one address holding 30", Times(30, Idle(kA, 0)), kAdmit, kAny, {}, 0, 0, false, true},
        {"room: its own kept-alive ones stay",
         Times(16, Idle(kA, 5000)),
         kAdmit,
         kAny,
         {},
         0,
         0,
         false,
         true},
        // The cost of each.
        {"idle within its grace", {Idle(kB, 999)}, kWait},
        {"idle past its grace", {Idle(kB, 1000)}, 0, 0},
        {"idle whose next request has come", {Asking(kB, 5000)}, kWait},
        {"fresh, never used, within its grace", {Idle(kB, 999, false)}, kWait},
        {"fresh, never used, past its grace", {Idle(kB, 1000, false)}, 0, kBar},
        {"receiving within its grace", {Receiving(kB, 999)}, kWait},
        {"receiving slowly", {Receiving(kB, 1000)}, 0, kBar},
        {"a request being worked on", {Working(kB, 60000)}, kWait},
        {"a drain, nothing waiting for its peer: at once, no bar", {Draining(kB, 0)}, 0, 0, {}, 0},
        {"a drain whose answer still moves",
         {With(Answer(kB, 10000, kFastBytes), UP_HttpSlotPhase::Draining)},
         kWait},
        {"a drain whose answer is paused at the limit",
         {With(Answer(kB, 60000, 0, 20000), UP_HttpSlotPhase::Draining)},
         0,
         kBar},
        {"a drain, some of its answer unacknowledged", {Draining(kB, 1500, true)}, kWait},
        {"an answer at the floor", {Answer(kB, 10000, kFloorBytes)}, kWait},
        {"an answer below the floor", {Answer(kB, 10000, kFloorBytes - 1)}, 0, kBar},
        // Music is a listener; a slower answer gives way, whatever else is in the slots.
        {"music", {Answer(kB, 10000, kAudioBytes), Idle(kC, 400)}, kWait},
        {"a trickle", {Answer(kB, 10000, kTrickleBytes)}, 0, kBar},
        {"a trickle beside a request worked on", {Answer(kB, 10000, kTrickleBytes), Working(kC, 0)}, 0},
        {"a trickle beside a poller", {Answer(kB, 10000, kTrickleBytes), Idle(kC, 400)}, 0},
        {"a silent answer beside a poller", {Idle(kC, 400), Answer(kB, 60000, 0, 20000)}, 1},
        {"a silent answer told to end still gives way",
         {Idle(kC, 400), Yielding(Answer(kB, 60000, 0, 20000))},
         1},
        {"a slow answer too young to judge", {Answer(kB, 1999, 1)}, kWait},
        {"a slow answer just old enough", {Answer(kB, 2000, 1)}, 0},
        {"young: judged over its life", {Answer(kB, 5000, kFloorBytes / 2)}, kWait},
        {"young and slow over its life", {Answer(kB, 5000, kFloorBytes / 2 - 1)}, 0},
        {"a listener paused 8 s", {Answer(kB, 60000, kFloorBytes / 5, 8000)}, kWait},
        {"paused below the limit", {Answer(kB, 60000, 0, 19999)}, kWait},
        {"paused at the limit", {Answer(kB, 60000, 0, 20000)}, 0, kBar},
        {"nothing waits for its peer", {Answer(kB, 60000, 1, 0, false)}, kWait},
        // An answer gives way only to a newcomer that has waited a moment.
        {"slow, the newcomer just come", {Answer(kB, 10000, 1)}, kWait, kAny, {}, 499},
        {"slow, the newcomer waited", {Answer(kB, 10000, 1)}, 0, kAny, {}, 500},
        {"paused, the newcomer just come", {Answer(kB, 60000, 0, 30000)}, kWait, kAny, {}, 0},
        // Cheapest first, then the biggest holder, then the longest in that state.
        {"the drain before all", {Idle(kB, 5000, false), Draining(kC, 0)}, 1},
        {"idle before receiving", {Receiving(kB, 5000), Idle(kB, 1000)}, 1},
        {"never used before kept alive", {Idle(kB, 5000), Idle(kB, 1000, false)}, 1},
        {"receiving before a slow answer", {Answer(kB, 10000, 1), Receiving(kB, 1000)}, 1},
        {"paused before slow", {Answer(kB, 10000, 1), Answer(kB, 60000, 0, 30000)}, 1},
        {"the longest paused first", {Answer(kB, 60000, 0, 25000), Answer(kB, 60000, 0, 30000)}, 1},
        {"the slowest first", {Answer(kB, 10000, kTrickleBytes), Answer(kB, 10000, 1)}, 1},
        {"longest idle first", {Idle(kB, 1500), Idle(kB, 1501)}, 1},
        {"the biggest holder first", {Idle(kC, 5000), Idle(kB, 1000), Working(kB, 0)}, 1},
        // The fair share: a slow answer of an address holding as many as the newcomer's.
        {"3 beside 3 gets in", {Answer(kB, 10000, 1), Busy(kB), Busy(kB), Busy(kA), Busy(kA), Busy(kA)}, 0},
        {"4 beside 4 does not",
         {Answer(kB, 10000, 1), Busy(kB), Busy(kB), Busy(kB), Busy(kA), Busy(kA), Busy(kA), Busy(kA)},
         kWait},
        {"4 beside 5 gets in",
         {Answer(kB, 10000, 1), Busy(kB), Busy(kB), Busy(kB), Busy(kB), Busy(kA), Busy(kA), Busy(kA),
          Busy(kA)},
         0},
        {"2 beside 1 does not take an answer", {Answer(kB, 10000, 1), Busy(kA), Busy(kA)}, kWait},
        {"idle ones go wherever they are", {Idle(kB, 1000), Working(kA, 0), Working(kA, 0)}, 0},
        {"its own slow answer, no bar", {Answer(kA, 10000, 1), Busy(kA)}, 0, 0},
        // The pause limit holds within the fair share; beyond it, an answer that makes no
        // progress is judged at once (downloads that read nothing after their first bytes).
        {"4 non-reading answers of one address", Times(4, Answer(kB, 3000, 8000, 2500)), kWait},
        {"5 non-reading answers of one address", Times(5, Answer(kB, 3000, 8000, 2500)), 0, kBar},
        {"5 of one address, paused 999 ms", Times(5, Answer(kB, 10000, kFastBytes, 999)), kWait},
        {"5 of one address, paused 1000 ms", Times(5, Answer(kB, 10000, kFastBytes, 1000)), 0},
        {"4 of one address, at the floor while moving",
         Times(4, Answer(kB, 10000, kFloorBytes * 9 / 10, 1500)), kWait},
        {"5 of one address, slow over the pause", Times(5, Answer(kB, 10000, kFloorBytes * 9 / 10, 1500)), 0},
        // An address's share of 16: beyond it, anything but a request worked on gives way.
        {"16 fast answers stay", Times(16, Answer(kB, 10000, kFastBytes)), kWait},
        {"17 fast answers: one goes", Times(17, Answer(kB, 10000, kFastBytes)), 0, kBar},
        {"17: not to a newcomer just come", Times(17, Answer(kB, 10000, kFastBytes)), kWait, kAny, {}, 0},
        {"17 kept-alive within their grace", Times(17, Idle(kB, 0)), 0, kBar, {}, 0},
        {"17 requests worked on stay", Times(17, Working(kB, 0)), kWait},
        {"beyond a share before another's idle", Times(1, Idle(kC, 5000), Times(17, Idle(kB, 0))), 1},
        {"at its share, not another's idle", Times(16, Working(kA, 0), {Idle(kB, 5000)}), kWait},
        {"at its share, its own", Times(16, Working(kA, 0), {Idle(kA, 5000), Idle(kB, 5000)}), 16},
        // Barred.
        {"barred: not another's", {Idle(kB, 5000)}, kWait, kAny, {}, 500, 0, true},
        {"barred: its own", {Idle(kB, 5000), Idle(kA, 1000)}, 1, 0, {}, 500, 0, true},
        // Nothing to free now: kept-alive connections end after their answer, one per newcomer
        // waiting: not an answer under way if it can be helped, of the address holding the most
        // first, between requests before in one.
        {"a polling connection told to end",
         {Idle(kC, 400), Answer(kB, 500, 1), Idle(kB, 400)},
         kWait,
         kAny,
         {2},
         0,
         1},
        {"two waiting: two told, an answer under way last",
         {Idle(kC, 400), Answer(kB, 500, 1), Idle(kB, 400)},
         kWait,
         kAny,
         {2, 0},
         0,
         2},
        {"one told already is not told again",
         {Yielding(Idle(kB, 400)), Idle(kC, 400)},
         kWait,
         kAny,
         {1},
         0,
         1},
        {"silent answers told already",
         {Yielding(Answer(kB, 60000, 0, 1000)), Yielding(Answer(kB, 60000, 0, 1000)), Idle(kC, 400)},
         kWait,
         kAny,
         {2},
         0,
         1},
        {"an answer that moves before one that does not",
         {Answer(kB, 5000, 1, 1500), Answer(kC, 5000, 1, 0)},
         kWait,
         kAny,
         {1},
         0,
         1},
        {"not a fresh one", {Idle(kB, 400, false)}, kWait, kAny, {}, 0, 1},
        {"not before its turn", {Listed(Idle(kB, 400), 999)}, kWait, kAny, {}, 0, 1},
        {"once it had its turn", {Listed(Idle(kB, 400), 1000)}, kWait, kAny, {0}, 0, 1},
        {"barred: its own only",
         {Idle(kB, 400), Idle(kB, 400), Working(kA, 0)},
         kWait,
         kAny,
         {2},
         0,
         1,
         true},
        {"not of a smaller holder", {Idle(kB, 400), Working(kA, 0), Working(kA, 0)}, kWait, kAny, {1}, 0, 1},
        {"at its share, its own", Times(16, Working(kA, 0), {Idle(kB, 400)}), kWait, kAny, {0}, 0, 1},
    };
    const UP_HttpSlotRules rules(kLimits, kCapacity);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<UP_HttpSlotView> open = row.open;
        for (uint32_t filler = 100; !row.room && open.size() < kCapacity; ++filler) {
            open.push_back(Working(filler, 0));
            open.back().m_Used = false; // so that no filler is told to end
        }
        UP_HttpSlotRules::Cost cost = UP_HttpSlotRules::Cost::Kept;
        const int room = rules.MakeRoom(open, kA, row.barred, row.waited, &cost);
        EXPECT_EQ(room, row.expected);
        if (room >= 0 && row.bar != kAny) {
            EXPECT_EQ(rules.BarFor(cost, open[size_t(room)].m_Peer == kA), row.bar);
        }
        if (row.waiting > 0) { // the rows on who is told to end
            EXPECT_EQ(rules.Yields(open, kA, row.barred, row.waiting), row.yields);
        }
    }
}

// The progress of an answer from samples (time, acknowledged in all, whether any waits) over a
// window of 1 s: a pause is what the samples saw.
TEST(SlotRulesTest, FollowsAnAnswersProgress) {
    struct Sample {
        int64_t time;
        uint64_t acknowledged;
        bool waiting;
    };
    struct Row {
        const char* name;
        std::vector<Sample> samples;
        bool unknown_last; // then progress could not be seen
        bool waiting;
        int64_t paused;
        uint64_t acknowledged;
    } rows[] = {
        {"no sample yet", {}, false, false, 0, 0},
        {"moving", {{0, 0, true}, {500, 1000, true}}, false, true, 0, 1000},
        {"paused since it last moved",
         {{0, 0, true}, {500, 1000, true}, {1000, 1000, true}, {1500, 1000, true}},
         false,
         true,
         1000,
         0},
        {"nothing waits: no pause", {{0, 0, true}, {500, 1000, false}}, false, false, 0, 1000},
        {"over the window only",
         {{0, 0, true}, {500, 1000, true}, {1000, 3000, true}, {1600, 4000, true}},
         false,
         true,
         0,
         3000},
        {"progress unseen: moving", {{0, 0, true}, {500, 1000, true}}, true, false, 0, 1000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UP_HttpAnswerProgress progress;
        for (const Sample& sample : row.samples) {
            progress.Add(sample.time, sample.acknowledged, sample.waiting, 1000);
        }
        if (row.unknown_last) {
            progress.AddUnknown();
        }
        UP_HttpSlotView view;
        progress.Fill(view);
        EXPECT_EQ(view.m_Waiting, row.waiting);
        EXPECT_EQ(view.m_Paused, row.paused);
        EXPECT_EQ(view.m_Acknowledged, row.acknowledged);
    }
}
