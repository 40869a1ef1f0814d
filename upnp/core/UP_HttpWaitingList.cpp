#include "UP_HttpWaitingList.h"

#include <algorithm>
#include <tuple>

UP_HttpWaitingList::UP_HttpWaitingList(const UP_HttpServerLimits& limits) : m_Limits(limits) {}

std::vector<UP_HttpWaitingList::Step>
UP_HttpWaitingList::Drops(const std::vector<UP_HttpWaiterView>& waiters) {
    std::vector<Step> steps;
    for (size_t i = 0; i < waiters.size(); ++i) {
        if (waiters[i].m_Gone) {
            steps.push_back(Step{i, Fate::Drop});
        }
    }
    return steps;
}

std::vector<UP_HttpWaitingList::Step>
UP_HttpWaitingList::Arrive(const std::vector<UP_HttpWaiterView>& waiters,
                           const UP_HttpWaiterView& newcomer) const {
    std::vector<Step> steps = Drops(waiters);
    const size_t live = waiters.size() - steps.size();
    auto waiting = [&](uint32_t peer) {
        return size_t(std::count_if(waiters.begin(), waiters.end(), [&](const UP_HttpWaiterView& waiter) {
            return !waiter.m_Gone && waiter.m_Peer == peer;
        }));
    };
    const bool at_own_bound = waiting(newcomer.m_Peer) >= kMaxHeldPerPeer;
    if (live >= kMaxHeld || at_own_bound) {
        // Its own longest waiting at its bound; else the longest waiting of the address with the
        // most waiting.
        size_t out = waiters.size();
        std::tuple<size_t, int64_t> out_key{0, 0};
        for (size_t i = 0; i < waiters.size(); ++i) {
            if (waiters[i].m_Gone || (at_own_bound && waiters[i].m_Peer != newcomer.m_Peer)) {
                continue;
            }
            const auto key = std::make_tuple(waiting(waiters[i].m_Peer), waiters[i].m_Waited);
            if (out == waiters.size() || key > out_key) {
                out = i;
                out_key = key;
            }
        }
        steps.push_back(Step{out, Fate::Refuse});
    }
    steps.push_back(Step{waiters.size(), live == 0 ? Fate::Offer : Fate::Hold});
    return steps;
}

std::vector<UP_HttpWaitingList::Step> UP_HttpWaitingList::Pass(const std::vector<UP_HttpWaiterView>& waiters,
                                                               int64_t since_answer) const {
    std::vector<Step> steps = Drops(waiters);
    const size_t dropped = steps.size();
    const int64_t room_wait = int64_t(m_Limits.m_RoomWait);
    const int64_t patience = since_answer < room_wait ? kMaxWhileServing : room_wait;
    for (size_t i = 0; i < waiters.size(); ++i) {
        if (!waiters[i].m_Gone) {
            steps.push_back(Step{i, waiters[i].m_Waited >= patience ? Fate::Last : Fate::Offer});
        }
    }
    // The address holding the fewest first, then the one waiting longest.
    std::stable_sort(steps.begin() + std::ptrdiff_t(dropped), steps.end(), [&](const Step& a, const Step& b) {
        const UP_HttpWaiterView& x = waiters[a.m_Index];
        const UP_HttpWaiterView& y = waiters[b.m_Index];
        return x.m_Held != y.m_Held ? x.m_Held < y.m_Held : x.m_Waited > y.m_Waited;
    });
    return steps;
}
