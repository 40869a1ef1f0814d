#include "UP_HttpSlotRules.h"

#include <algorithm>
#include <tuple>

UP_HttpSlotRules::UP_HttpSlotRules(const UP_HttpServerLimits& limits, KL_Cardinal capacity)
    : m_Limits(limits), m_Capacity(capacity) {}

UP_HttpSlotRules::Cost UP_HttpSlotRules::Classify(const UP_HttpSlotView& connection, int64_t& age) const {
    age = connection.m_InPhase;
    const int64_t grace = int64_t(m_Limits.m_RoomGrace);
    switch (connection.m_Phase) {
    case UP_HttpSlotPhase::Idle:
        if (age < grace) {
            return Cost::Kept;
        }
        return connection.m_Used ? Cost::Idle : Cost::Unused;
    case UP_HttpSlotPhase::Receiving:
        return age < grace ? Cost::Kept : Cost::Receiving;
    case UP_HttpSlotPhase::Working:
        return Cost::Kept;
    case UP_HttpSlotPhase::Answering:
        break;
    }
    return ClassifyAnswer(connection, age);
}

UP_HttpSlotRules::Cost UP_HttpSlotRules::ClassifyAnswer(const UP_HttpSlotView& connection,
                                                        int64_t& age) const {
    if (!connection.m_Waiting) {
        return Cost::Kept; // the server itself is slow to make it, or it is all taken
    }
    if (m_Limits.m_PauseLimit != 0 && connection.m_Paused >= int64_t(m_Limits.m_PauseLimit)) {
        age = connection.m_Paused;
        return Cost::PausedAnswer;
    }
    if (connection.m_InPhase < 2 * int64_t(m_Limits.m_RoomGrace) || connection.m_Acknowledged == 0) {
        return Cost::Kept; // too young to judge, or paused (not yet for long)
    }
    // The rate while it moved: a viewer who paused a moment is judged by how it read before.
    const int64_t span = std::min(connection.m_InPhase, int64_t(m_Limits.m_RateWindow));
    const int64_t moving = span - std::min(connection.m_Paused, span);
    if (moving <= 0 || connection.m_Acknowledged * 1000 >= m_Limits.m_RateFloor * uint64_t(moving)) {
        return Cost::Kept;
    }
    return Cost::SlowAnswer;
}

bool UP_HttpSlotRules::MayFree(Cost cost, KL_Cardinal holder, KL_Cardinal own, bool same, bool barred,
                               bool at_max) const {
    if (cost == Cost::Kept) {
        return false;
    }
    if (same) {
        return true;
    }
    if (barred || at_max) {
        return false;
    }
    if (cost <= Cost::Receiving) {
        return true; // nothing is under way that a viewer waits for
    }
    return holder > own || (holder == own && own < m_Limits.m_FairShare);
}

int UP_HttpSlotRules::MakeRoom(const std::vector<UP_HttpSlotView>& open, uint32_t peer, bool barred) const {
    std::vector<uint32_t> peers; // sorted, to count what each address holds
    peers.reserve(open.size());
    for (const UP_HttpSlotView& connection : open) {
        peers.push_back(connection.m_Peer);
    }
    std::sort(peers.begin(), peers.end());
    auto holding = [&](uint32_t address) {
        const auto range = std::equal_range(peers.begin(), peers.end(), address);
        return KL_Cardinal(range.second - range.first);
    };
    const KL_Cardinal own = holding(peer);
    const bool at_max = m_Limits.m_MaxConnectionsPerPeer != 0 && own >= m_Limits.m_MaxConnectionsPerPeer;
    if (!at_max && (m_Capacity == 0 || open.size() < m_Capacity)) {
        return kAdmit;
    }
    int best = kWait;
    std::tuple<Cost, KL_Cardinal, int64_t> best_key{Cost::Kept, 0, 0};
    for (size_t i = 0; i < open.size(); ++i) {
        int64_t age = 0;
        const Cost cost = Classify(open[i], age);
        const KL_Cardinal holder = holding(open[i].m_Peer);
        if (!MayFree(cost, holder, own, open[i].m_Peer == peer, barred, at_max)) {
            continue;
        }
        // Cheapest, then of the biggest holder, then longest in that state.
        const auto key = std::make_tuple(cost, ~holder, -age);
        if (best == kWait || key < best_key) {
            best = int(i);
            best_key = key;
        }
    }
    return best;
}
