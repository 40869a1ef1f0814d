#include "WebServerDigestNonces.h"

#include "foundation/Digest.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

constexpr std::size_t kStampLength = 16;
constexpr std::size_t kSerialLength = 16;
constexpr std::size_t kNonceLength = kStampLength + kSerialLength + 32;
constexpr std::uint64_t kWindow = 64;

std::int64_t nowInSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t issuedAt(const std::string& nonce) {
    return static_cast<std::int64_t>(std::strtoull(nonce.substr(0, kStampLength).c_str(), nullptr, 16));
}

std::uint64_t serialOf(const std::string& nonce) {
    return std::strtoull(nonce.substr(kStampLength, kSerialLength).c_str(), nullptr, 16);
}

} // namespace

WebServerDigestNonces::WebServerDigestNonces(std::string key, double lifetime)
    : _key(std::move(key)), _lifetime(lifetime) {}

std::string WebServerDigestNonces::hashOf(const std::string& stampAndSerial) const {
    return platform::md5Hex(_key + ":" + stampAndSerial + ":" + _key);
}

std::string WebServerDigestNonces::makeNonce() {
    std::uint64_t serial;
    {
        std::lock_guard guard(_lock);
        serial = ++_serial;
    }
    char text[kStampLength + kSerialLength + 1];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(nowInSeconds()),
                  static_cast<unsigned long long>(serial));
    return std::string(text) + hashOf(text);
}

WebServerDigestNonces::State WebServerDigestNonces::check(const std::string& nonce) const {
    if (nonce.size() != kNonceLength || nonce.find_first_not_of("0123456789abcdef") != std::string::npos ||
        hashOf(nonce.substr(0, kStampLength + kSerialLength)) != nonce.substr(kStampLength + kSerialLength)) {
        return State::invalid;
    }
    const auto age = static_cast<double>(nowInSeconds()) - static_cast<double>(issuedAt(nonce));
    return age >= -1 && age <= _lifetime ? State::fresh : State::stale;
}

void WebServerDigestNonces::forgetOldEntries(std::int64_t now) {
    while (!_order.empty()) {
        const auto found = _entries.find(_order.front());
        const bool expired = static_cast<double>(now - found->second.issued) > _lifetime + 1;
        if (!expired && _entries.size() < kMaximumEntries) {
            break;
        }
        if (!expired) {
            _floor = std::max(_floor, serialOf(found->first));
        }
        _entries.erase(found);
        _order.pop_front();
    }
}

bool WebServerDigestNonces::recordAnswer(const std::string& nonce, std::optional<std::uint64_t> nc) {
    std::lock_guard guard(_lock);
    auto found = _entries.find(nonce);
    if (found == _entries.end()) {
        if (serialOf(nonce) <= _floor) {
            return false;
        }
        forgetOldEntries(nowInSeconds());
        found = _entries.emplace(nonce, Entry{issuedAt(nonce), 0, 0, false}).first;
        _order.push_back(nonce);
    }
    Entry& entry = found->second;
    if (!nc) {
        return !std::exchange(entry.answeredWithoutQop, true);
    }
    if (*nc == 0) {
        return false;
    }
    if (*nc > entry.highest) {
        const std::uint64_t shift = *nc - entry.highest;
        // The old highest becomes bit shift - 1; bits pushed past the window are forgotten.
        entry.window = shift >= kWindow ? 0 : entry.window << shift;
        if (entry.highest != 0 && shift <= kWindow) {
            entry.window |= std::uint64_t{1} << (shift - 1);
        }
        entry.highest = *nc;
        return true;
    }
    if (*nc == entry.highest || entry.highest - *nc > kWindow) {
        return false;
    }
    const std::uint64_t bit = std::uint64_t{1} << (entry.highest - *nc - 1);
    if (entry.window & bit) {
        return false;
    }
    entry.window |= bit;
    return true;
}
