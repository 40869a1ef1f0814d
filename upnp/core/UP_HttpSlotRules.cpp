#include "UP_HttpSlotRules.h"

#include <algorithm>
#include <tuple>

namespace {

// How many connections each address of open holds.
class Holdings {
public:
    explicit Holdings(const std::vector<UP_HttpSlotView>& open) {
        m_Peers.reserve(open.size());
        for (const UP_HttpSlotView& connection : open) {
            m_Peers.push_back(connection.m_Peer);
        }
        std::sort(m_Peers.begin(), m_Peers.end());
    }
    KL_Cardinal operator()(uint32_t peer) const {
        const auto range = std::equal_range(m_Peers.begin(), m_Peers.end(), peer);
        return KL_Cardinal(range.second - range.first);
    }

private:
    std::vector<uint32_t> m_Peers;
};

} // namespace

void UP_HttpAnswerProgress::Clear() {
    m_Samples.clear();
    m_Waiting = false;
}

void UP_HttpAnswerProgress::Add(int64_t time, uint64_t acknowledged, bool waiting, int64_t window) {
    m_Waiting = waiting;
    if (m_Samples.empty() || acknowledged != m_Samples.back().second) {
        m_Progress = time;
    }
    m_Samples.emplace_back(time, acknowledged);
    while (m_Samples.size() >= 2 && m_Samples[1].first <= time - window) {
        m_Samples.pop_front();
    }
}

void UP_HttpAnswerProgress::Fill(UP_HttpSlotView& view, int64_t now) const {
    if (m_Samples.empty()) {
        return;
    }
    view.m_Waiting = m_Waiting;
    view.m_Paused = m_Waiting ? now - m_Progress : 0;
    view.m_Acknowledged = m_Samples.back().second - m_Samples.front().second;
}

UP_HttpSlotRules::UP_HttpSlotRules(const UP_HttpServerLimits& limits, KL_Cardinal capacity)
    : m_Limits(limits), m_Capacity(capacity) {}

const char* UP_HttpSlotRules::Name(Cost cost) {
    switch (cost) {
    case Cost::Draining:
        return "draining a refused request";
    case Cost::Unused:
        return "never used";
    case Cost::Idle:
        return "idle";
    case Cost::Receiving:
        return "receiving slowly";
    case Cost::SlowAnswer:
        return "a slow answer";
    case Cost::PausedAnswer:
        return "a paused answer";
    case Cost::BeyondShare:
        return "beyond its address's share";
    case Cost::Kept:
        break;
    }
    return "kept";
}

UP_HttpSlotRules::Cost UP_HttpSlotRules::Classify(const UP_HttpSlotView& connection, bool beyond,
                                                  int64_t& age) const {
    age = connection.m_InPhase;
    const int64_t grace = int64_t(m_Limits.m_RoomGrace);
    Cost cost = Cost::Kept;
    switch (connection.m_Phase) {
    case UP_HttpSlotPhase::Draining:
        return Cost::Draining;
    case UP_HttpSlotPhase::Idle:
        if (!connection.m_RequestWaiting && age >= grace) {
            cost = connection.m_Used ? Cost::Idle : Cost::Unused;
        }
        break;
    case UP_HttpSlotPhase::Receiving:
        cost = age < grace ? Cost::Kept : Cost::Receiving;
        break;
    case UP_HttpSlotPhase::Working:
        return Cost::Kept;
    case UP_HttpSlotPhase::Answering:
        cost = ClassifyAnswer(connection, age);
        break;
    }
    return cost == Cost::Kept && beyond ? Cost::BeyondShare : cost;
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

bool UP_HttpSlotRules::MayTake(bool answer, KL_Cardinal holder, KL_Cardinal own, bool same, bool barred,
                               bool at_max) const {
    if (same) {
        return true;
    }
    if (barred || at_max) {
        return false;
    }
    return !answer || holder > own || (holder == own && own < m_Limits.m_FairShare);
}

bool UP_HttpSlotRules::MayTellToEnd(const UP_HttpSlotView& connection, KL_Cardinal holder, KL_Cardinal own,
                                    bool same, bool barred, bool at_max) const {
    return connection.m_Used && connection.m_Phase != UP_HttpSlotPhase::Draining &&
           MayTake(true, holder, own, same, barred, at_max);
}

bool UP_HttpSlotRules::IsFull(const std::vector<UP_HttpSlotView>& open) const {
    return m_Capacity != 0 && open.size() >= m_Capacity;
}

int UP_HttpSlotRules::MakeRoom(const std::vector<UP_HttpSlotView>& open, uint32_t peer, bool barred,
                               int64_t waited, Cost* chosen) const {
    if (!IsFull(open)) {
        return kAdmit;
    }
    const Holdings holding(open);
    const KL_Cardinal share = m_Limits.m_MaxConnectionsPerPeer;
    const KL_Cardinal own = holding(peer);
    const bool at_max = share != 0 && own >= share;
    // A connection that is not answering, told to end after its answer (now or before), frees
    // its slot sooner than an answer under way, which may be a film or music.
    const bool sooner = std::any_of(open.begin(), open.end(), [&](const UP_HttpSlotView& connection) {
        return connection.m_Phase != UP_HttpSlotPhase::Answering &&
               MayTellToEnd(connection, holding(connection.m_Peer), own, connection.m_Peer == peer, barred,
                            at_max);
    });
    int best = kWait;
    std::tuple<int, Cost, KL_Cardinal, int64_t> best_key{0, Cost::Kept, 0, 0};
    for (size_t i = 0; i < open.size(); ++i) {
        const UP_HttpSlotView& connection = open[i];
        const bool same = connection.m_Peer == peer;
        const KL_Cardinal holder = holding(connection.m_Peer);
        const bool beyond = !same && share != 0 && holder > share;
        int64_t age = 0;
        const Cost cost = Classify(connection, beyond, age);
        const bool answer = connection.m_Phase == UP_HttpSlotPhase::Answering;
        if (cost == Cost::Kept || (answer && (sooner || waited < int64_t(m_Limits.m_AnswerWait))) ||
            !MayTake(answer && !beyond, holder, own, same, barred, at_max)) {
            continue;
        }
        // The drain first, then what is beyond a share; the cheapest, then of the biggest
        // holder, then longest in that state.
        const int rank = cost == Cost::Draining ? 0 : beyond ? 1 : 2;
        const auto key = std::make_tuple(rank, cost, ~holder, -age);
        if (best == kWait || key < best_key) {
            best = int(i);
            best_key = key;
        }
    }
    if (chosen != nullptr) {
        *chosen = std::get<1>(best_key);
    }
    return best;
}

std::vector<size_t> UP_HttpSlotRules::Yields(const std::vector<UP_HttpSlotView>& open, uint32_t peer,
                                             bool barred, KL_Cardinal waiting) const {
    if (!IsFull(open)) {
        return {};
    }
    const Holdings holding(open);
    const KL_Cardinal share = m_Limits.m_MaxConnectionsPerPeer;
    const KL_Cardinal own = holding(peer);
    const bool at_max = share != 0 && own >= share;
    size_t wanted = std::max<size_t>(waiting, 1);
    std::vector<std::tuple<bool, KL_Cardinal, UP_HttpSlotPhase, int64_t, size_t>> candidates;
    for (size_t i = 0; i < open.size(); ++i) {
        const UP_HttpSlotView& connection = open[i];
        if (connection.m_Yielding) {
            wanted -= std::min<size_t>(wanted, 1);
            continue;
        }
        const KL_Cardinal holder = holding(connection.m_Peer);
        if (MayTellToEnd(connection, holder, own, connection.m_Peer == peer, barred, at_max)) {
            // Not an answer under way if it can be helped (it may be a film), then of the
            // biggest holder, between requests before part way through one.
            const bool answering = connection.m_Phase == UP_HttpSlotPhase::Answering;
            candidates.emplace_back(answering, ~holder, connection.m_Phase, -connection.m_InPhase, i);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<size_t> yields;
    for (size_t i = 0; i < candidates.size() && yields.size() < wanted; ++i) {
        yields.push_back(std::get<4>(candidates[i]));
    }
    return yields;
}

int64_t UP_HttpSlotRules::BarFor(Cost cost, bool own) const {
    // A kept-alive connection between requests costs its client nothing but a reconnection.
    return own || cost == Cost::Idle ? 0 : 2 * int64_t(m_Limits.m_RoomGrace);
}
