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

void UP_HttpAnswerProgress::Fill(UP_HttpSlotView& view) const {
    if (m_Samples.empty()) {
        return;
    }
    // A pause is what the samples saw: between two samples an answer counts as moving.
    view.m_Waiting = m_Waiting;
    view.m_Paused = m_Waiting ? m_Samples.back().first - m_Progress : 0;
    view.m_Acknowledged = m_Samples.back().second - m_Samples.front().second;
}

UP_HttpSlotRules::UP_HttpSlotRules(const UP_HttpServerLimits& limits, KL_Cardinal capacity)
    : m_Limits(limits), m_Capacity(capacity) {}

const char* UP_HttpSlotRules::Name(Cost cost) {
    switch (cost) {
    case Cost::Draining:
        return "draining after its last answer";
    case Cost::Unused:
        return "never used";
    case Cost::Idle:
        return "idle";
    case Cost::Receiving:
        return "receiving slowly";
    case Cost::PausedAnswer:
        return "an answer making no progress";
    case Cost::SlowAnswer:
        return "a slow answer";
    case Cost::BeyondShare:
        return "beyond its address's share";
    case Cost::Kept:
        break;
    }
    return "kept";
}

UP_HttpSlotRules::Cost UP_HttpSlotRules::Classify(const UP_HttpSlotView& connection, KL_Cardinal holder,
                                                  bool beyond, int64_t& age) const {
    age = connection.m_InPhase;
    const int64_t grace = int64_t(m_Limits.m_RoomGrace);
    Cost cost = Cost::Kept;
    switch (connection.m_Phase) {
    case UP_HttpSlotPhase::Draining:
        if (!connection.m_Waiting) {
            return Cost::Draining;
        }
        // Its answer has left, but some of it still waits for the peer: closing would cut it, so
        // it is judged as the answer it still is.
        cost = ClassifyAnswer(connection, holder, age);
        break;
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
        cost = ClassifyAnswer(connection, holder, age);
        break;
    }
    return cost == Cost::Kept && beyond ? Cost::BeyondShare : cost;
}

UP_HttpSlotRules::Cost UP_HttpSlotRules::ClassifyAnswer(const UP_HttpSlotView& connection, KL_Cardinal holder,
                                                        int64_t& age) const {
    if (!connection.m_Waiting) {
        return Cost::Kept; // the server itself is slow to make it, or it is all taken
    }
    // Within its address's fair share a pause is kept for m_PauseLimit (a film paused on a busy
    // server); beyond it, an answer that makes no progress for the grace is judged at once.
    const bool fair = holder <= m_Limits.m_FairShare;
    const int64_t judged = 2 * int64_t(m_Limits.m_RoomGrace);
    const int64_t pause_limit = fair ? int64_t(m_Limits.m_PauseLimit) : int64_t(m_Limits.m_RoomGrace);
    if ((!fair || m_Limits.m_PauseLimit != 0) && connection.m_Paused >= pause_limit) {
        age = connection.m_Paused;
        return Cost::PausedAnswer;
    }
    if (connection.m_InPhase < judged) {
        return Cost::Kept; // too young to judge
    }
    // Within the fair share, the rate while it moved: a viewer who paused a moment is judged by
    // how it read before. Beyond it, its pause counts.
    const int64_t span = std::min(connection.m_InPhase, int64_t(m_Limits.m_RateWindow));
    const int64_t moving = fair ? span - std::min(connection.m_Paused, span) : span;
    if (moving <= 0 || (fair && connection.m_Acknowledged == 0) ||
        connection.m_Acknowledged * 1000 >= m_Limits.m_RateFloor * uint64_t(moving)) {
        return Cost::Kept; // paused (not yet for long), or at the floor
    }
    // The slowest first: the longer "age", the slower (bytes a second below the floor).
    age = int64_t(m_Limits.m_RateFloor) - int64_t(connection.m_Acknowledged * 1000 / uint64_t(moving));
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
           connection.m_Listed >= int64_t(m_Limits.m_Turn) &&
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
    const bool answers = waited >= int64_t(m_Limits.m_AnswerWait);
    int best = kWait;
    std::tuple<int, Cost, KL_Cardinal, int64_t> best_key{0, Cost::Kept, 0, 0};
    for (size_t i = 0; i < open.size(); ++i) {
        const UP_HttpSlotView& connection = open[i];
        const bool same = connection.m_Peer == peer;
        const KL_Cardinal holder = holding(connection.m_Peer);
        const bool beyond = !same && share != 0 && holder > share;
        int64_t age = 0;
        const Cost cost = Classify(connection, holder, beyond, age);
        const bool answer = connection.m_Phase == UP_HttpSlotPhase::Answering ||
                            (connection.m_Phase == UP_HttpSlotPhase::Draining && connection.m_Waiting);
        if (cost == Cost::Kept || (answer && !answers) ||
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
                                             bool barred, KL_Cardinal wanted) const {
    if (!IsFull(open) || wanted == 0) {
        return {};
    }
    const Holdings holding(open);
    const KL_Cardinal share = m_Limits.m_MaxConnectionsPerPeer;
    const KL_Cardinal own = holding(peer);
    const bool at_max = share != 0 && own >= share;
    std::vector<std::tuple<bool, int64_t, KL_Cardinal, UP_HttpSlotPhase, int64_t, size_t>> candidates;
    for (size_t i = 0; i < open.size(); ++i) {
        const UP_HttpSlotView& connection = open[i];
        const KL_Cardinal holder = holding(connection.m_Peer);
        if (!connection.m_Yielding &&
            MayTellToEnd(connection, holder, own, connection.m_Peer == peer, barred, at_max)) {
            // Not an answer under way if it can be helped (it may be a film), and then one that
            // moves; of the biggest holder, between requests before part way through one.
            const bool answering = connection.m_Phase == UP_HttpSlotPhase::Answering;
            candidates.emplace_back(answering, answering ? connection.m_Paused : 0, ~holder,
                                    connection.m_Phase, -connection.m_InPhase, i);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<size_t> yields;
    for (size_t i = 0; i < candidates.size() && yields.size() < wanted; ++i) {
        yields.push_back(std::get<5>(candidates[i]));
    }
    return yields;
}

int64_t UP_HttpSlotRules::BarFor(Cost cost, bool own) const {
    // A kept-alive connection between requests, or one draining after its whole answer reached
    // its peer, costs its client nothing but a reconnection.
    return own || cost == Cost::Idle || cost == Cost::Draining ? 0 : 2 * int64_t(m_Limits.m_RoomGrace);
}
