// What becomes of the held newcomers, decided on snapshots of fake waiting lists: the newcomer
// behind those waiting, the bounds of 128 and 16 an address (what each address has waiting, and
// whose newest is refused), the gone ones dropped, the order in which slots are offered, and when
// a waiter is refused.
#include "UP_HttpWaitingList.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kA = 1; // the newcomer's address
constexpr uint32_t kB = 2;
constexpr uint32_t kC = 3;

UP_HttpWaiterView W(uint32_t peer, int64_t waited, bool gone = false) {
    UP_HttpWaiterView view;
    view.m_Peer = peer;
    view.m_Waited = waited;
    view.m_Gone = gone;
    return view;
}

// count waiters of one address, waiting 100 ms and less (the first the longest).
std::vector<UP_HttpWaiterView> Many(std::vector<UP_HttpWaiterView> list, uint32_t peer, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        list.push_back(W(peer, 100 - int64_t(i)));
    }
    return list;
}

// count waiters of one address each, from address 100 on, waiting 1000 ms (longer than the rest).
std::vector<UP_HttpWaiterView> Singles(std::vector<UP_HttpWaiterView> list, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        list.push_back(W(uint32_t(100 + i), 1000));
    }
    return list;
}

std::vector<UP_HttpWaiterView> Gone(std::vector<UP_HttpWaiterView> list, size_t index) {
    list[index].m_Gone = true;
    return list;
}

// The steps as text: the index (n for the newcomer) and h(old), o(ffer), l(ast offer), r(efuse)
// or d(rop), in order.
std::string Text(const std::vector<UP_HttpWaitingList::Step>& steps, size_t waiters) {
    std::string text;
    for (const UP_HttpWaitingList::Step& step : steps) {
        text += text.empty() ? "" : " ";
        text += step.m_Index == waiters ? "n" : std::to_string(step.m_Index);
        text += "holrd"[int(step.m_Fate)];
    }
    return text;
}

constexpr int64_t kIdle = 1000000; // no answer finished for long

} // namespace

// One row per rule: the list, the newcomer's address (none: a pass over the list), the time since
// an answer last finished, and what is done, in order. Rows sit on the two sides of each bound.
TEST(WaitingListTest, DecidesWhatBecomesOfTheWaiters) {
    struct Row {
        const char* name;
        std::vector<UP_HttpWaiterView> waiters;
        std::optional<uint32_t> newcomer;
        int64_t since_answer;
        const char* expected;
    } rows[] = {
        // A newcomer arrives.
        {"nobody waits: offered at once", {}, kA, kIdle, "no"},
        {"behind one of another address", {W(kB, 10)}, kA, kIdle, "nh"},
        {"behind one of its own", {W(kA, 10)}, kA, kIdle, "nh"},
        {"those waiting have gone: offered at once", {W(kB, 10, true)}, kA, kIdle, "0d no"},
        {"15 of its own wait", Many({}, kA, 15), kA, kIdle, "nh"},
        {"16 of its own: the newcomer refused", Many({W(kB, 900)}, kA, 16), kA, kIdle, "nr"},
        {"16 of its own, one gone", Gone(Many({}, kA, 16), 3), kA, kIdle, "3d nh"},
        {"127 wait", Singles(Many(Many({}, kB, 15), kC, 16), 96), kA, kIdle, "nh"},
        {"128: the newest of the address with the most", Singles(Many(Many({}, kB, 15), kC, 16), 97), kA,
         kIdle, "30r nh"},
        {"128, one gone", Gone(Singles(Many(Many({}, kB, 15), kC, 16), 97), 40), kA, kIdle, "40d nh"},
        {"128, equally most: the address whose newest came last",
         Singles(Many(Many({W(kB, 500)}, kB, 15), kC, 16), 96), kA, kIdle, "31r nh"},
        {"128, its own the most: the newcomer refused, its first ones stay",
         Singles(Many(Many({}, kA, 10), kB, 9), 109), kA, kIdle, "nr"},
        {"128, its own one fewer than the most", Singles(Many(Many({}, kA, 8), kB, 10), 110), kA, kIdle,
         "17r nh"},
        // A pass: who is offered a slot first, who is dropped, who is refused without one.
        {"the one waiting longest first", {W(kB, 100), W(kC, 300)}, {}, kIdle, "1o 0o"},
        {"ties keep the list's order", {W(kB, 100), W(kC, 100)}, {}, kIdle, "0o 1o"},
        {"a gone one is dropped, never offered", {W(kB, 900, true), W(kC, 50)}, {}, kIdle, "0d 1o"},
        {"refused without room at the room wait", {W(kB, 1499), W(kC, 1500)}, {}, kIdle, "1l 0o"},
        {"answers finishing: waits on", {W(kB, 9999), W(kC, 10000)}, {}, 1499, "1l 0o"},
        {"the last answer at the room wait", {W(kB, 1500)}, {}, 1500, "0l"},
    };
    const UP_HttpWaitingList list(UP_HttpServerLimits{}); // room wait 1.5 s
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UP_HttpWaiterView newcomer;
        newcomer.m_Peer = row.newcomer.value_or(0);
        const auto steps =
            row.newcomer ? list.Arrive(row.waiters, newcomer) : list.Pass(row.waiters, row.since_answer);
        EXPECT_EQ(Text(steps, row.waiters.size()), row.expected);
    }
}
