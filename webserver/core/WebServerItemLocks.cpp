#include "WebServerItemLocks.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

namespace {

// The table is split in shards by a hash of the key, so writers of unrelated items rarely meet
// even on the table's own locks. An entry lives while someone holds or waits for it.
struct Entry {
    bool held = false;
    int users = 0;
};

struct Shard {
    std::mutex lock;
    std::condition_variable released;
    std::map<WebServerItemLocks::Key, Entry> entries;
};

constexpr std::size_t kShardCount = 64;

Shard& shardOf(const WebServerItemLocks::Key& key) {
    static Shard shards[kShardCount];
    const std::size_t hash =
        std::hash<std::string>()(key.name) ^ (std::hash<std::uint64_t>()(key.folder) * 31) ^ key.device;
    return shards[hash % kShardCount];
}

void take(const WebServerItemLocks::Key& key) {
    Shard& shard = shardOf(key);
    std::unique_lock<std::mutex> guard(shard.lock);
    Entry& entry = shard.entries[key]; // node-based: stays where it is while others come and go
    ++entry.users;
    shard.released.wait(guard, [&entry] { return !entry.held; });
    entry.held = true;
}

void give(const WebServerItemLocks::Key& key) {
    Shard& shard = shardOf(key);
    {
        std::lock_guard<std::mutex> guard(shard.lock);
        const auto found = shard.entries.find(key);
        if (found == shard.entries.end()) {
            return;
        }
        found->second.held = false;
        if (--found->second.users == 0) {
            shard.entries.erase(found);
            return; // nobody waits for it
        }
    }
    shard.released.notify_all();
}

} // namespace

WebServerItemLocks::Key WebServerItemLocks::keyOf(const platform::SharedItem& item) {
    Key key;
    key.name = item.name;
    struct stat status {};
    if (::fstat(item.folder.get(), &status) == 0) {
        key.device = static_cast<std::uint64_t>(status.st_dev);
        key.folder = static_cast<std::uint64_t>(status.st_ino);
    }
    return key;
}

WebServerItemLocks::Guard WebServerItemLocks::lock(std::initializer_list<const platform::SharedItem*> items) {
    Guard guard;
    for (const platform::SharedItem* item : items) {
        if (item) {
            guard._keys.push_back(keyOf(*item));
        }
    }
    std::sort(guard._keys.begin(), guard._keys.end());
    guard._keys.erase(std::unique(guard._keys.begin(), guard._keys.end()), guard._keys.end());
    for (const Key& key : guard._keys) {
        take(key);
    }
    return guard;
}

int WebServerItemLocks::waitingFor(const platform::SharedItem& item) {
    const Key key = keyOf(item);
    Shard& shard = shardOf(key);
    std::lock_guard<std::mutex> guard(shard.lock);
    const auto found = shard.entries.find(key);
    return found == shard.entries.end() ? 0 : found->second.users - (found->second.held ? 1 : 0);
}

WebServerItemLocks::Guard& WebServerItemLocks::Guard::operator=(Guard&& other) noexcept {
    if (this != &other) {
        release();
        _keys = std::move(other._keys);
        other._keys.clear();
    }
    return *this;
}

void WebServerItemLocks::Guard::release() {
    for (auto key = _keys.rbegin(); key != _keys.rend(); ++key) {
        give(*key);
    }
    _keys.clear();
}
