#include "UP_HttpWaitingList.h"

#include <algorithm>
#include <map>
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
    // What each address has waiting, the newcomer included.
    std::map<uint32_t, size_t> waiting{{newcomer.m_Peer, 1}};
    for (const UP_HttpWaiterView& waiter : waiters) {
        waiting[waiter.m_Peer] += waiter.m_Gone ? 0 : 1;
    }
    const bool over_own = waiting[newcomer.m_Peer] > kMaxHeldPerPeer;
    if (live < kMaxHeld && !over_own) {
        steps.push_back(Step{waiters.size(), live == 0 ? Fate::Offer : Fate::Hold});
        return steps;
    }
    // The newest of its own address past its bound; else of the address with the most waiting.
    size_t out = waiters.size(); // the newcomer
    std::tuple<size_t, bool, int64_t> out_key{waiting[newcomer.m_Peer], true, 0};
    for (size_t i = 0; i < waiters.size() && !over_own; ++i) {
        const UP_HttpWaiterView& waiter = waiters[i];
        const auto key = std::make_tuple(waiting[waiter.m_Peer], false, -waiter.m_Waited);
        if (!waiter.m_Gone && key >= out_key) {
            out = i;
            out_key = key;
        }
    }
    if (out != waiters.size()) {
        steps.push_back(Step{out, Fate::Refuse});
    }
    steps.push_back(Step{waiters.size(), out == waiters.size() ? Fate::Refuse : Fate::Hold});
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
    // In turn: the one waiting longest first.
    std::stable_sort(steps.begin() + std::ptrdiff_t(dropped), steps.end(), [&](const Step& a, const Step& b) {
        return waiters[a.m_Index].m_Waited > waiters[b.m_Index].m_Waited;
    });
    return steps;
}
