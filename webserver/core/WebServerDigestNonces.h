#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// The Digest nonces of one start of a server, and what has been answered with each.
//
// A nonce is a time stamp, a serial number and a keyed hash of both (the key made at start), so a
// nonce is never given out twice and one that the server did not make is recognised without a
// table. Answers are remembered per nonce: with qop, every nc once (out of order within a window
// of 64 below the highest seen); without qop, the nonce once. So a sniffed Authorization header
// authorises exactly the one request it was made for.
//
// Memory is bounded: expired nonces are forgotten, and when the table is full the oldest entries
// go; a nonce issued no later than one that had to go (by serial number) is then treated as stale
// (the client asks again), never as unused, while nonces given out afterwards work. Thread-safe.
class WebServerDigestNonces {
public:
    enum class State { fresh, stale, invalid };

    static constexpr std::size_t kMaximumEntries = 65536;

    WebServerDigestNonces(std::string key, double lifetime);

    std::string makeNonce();
    State check(const std::string& nonce) const;
    // Records an answer with a correct response for a fresh nonce: `nc` for an answer with qop,
    // none for one without. False when the same answer was recorded before (a replay), or when
    // the nonce can no longer be told apart from one that was used.
    bool recordAnswer(const std::string& nonce, std::optional<std::uint64_t> nc);

private:
    struct Entry {
        std::int64_t issued = 0;
        std::uint64_t highest = 0; // the highest nc seen; 0: none yet
        std::uint64_t window = 0;  // bit i: highest - 1 - i was seen
        bool answeredWithoutQop = false;
    };
    std::string hashOf(const std::string& stampAndSerial) const;
    void forgetOldEntries(std::int64_t now);

    const std::string _key;
    const double _lifetime;
    mutable std::mutex _lock;
    std::uint64_t _serial = 0;
    std::map<std::string, Entry> _entries;
    std::deque<std::string> _order; // nonces of _entries, oldest first
    std::uint64_t _floor = 0;       // nonces up to this serial number may have been forgotten
};
