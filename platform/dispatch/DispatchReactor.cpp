#include "DispatchReactor.h"

#include "GlobalQueue.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/epoll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::dispatch {

namespace {

std::uint64_t eventKey(int fd, std::uint32_t generation) {
    return (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
}

} // namespace

DispatchReactor& DispatchReactor::instance() {
    // Never destroyed: its thread is detached and lives as long as the process.
    static DispatchReactor* const reactor = new DispatchReactor();
    return *reactor;
}

DispatchReactor::DispatchReactor() : _epoll(::epoll_create1(EPOLL_CLOEXEC)) {
    if (_epoll < 0) {
        std::perror("epoll_create1");
        std::abort();
    }
    std::thread([this] { loop(); }).detach();
}

DispatchReactor::Token DispatchReactor::watch(int fd, Direction direction, Block ready, int& error) {
    Block rejected; // destroyed after the lock is released
    std::lock_guard lock(_mutex);
    auto [it, inserted] = _entries.try_emplace(fd);
    Entry& entry = it->second;
    if (inserted) {
        entry.generation = _nextGeneration++;
    }
    Slot& slot = direction == Direction::Read ? entry.reader : entry.writer;
    if (slot.ready) {
        rejected = std::move(ready);
        error = EBUSY;
        return 0;
    }
    slot = Slot{_nextToken++, std::move(ready)};
    const Token token = slot.token;
    error = armLocked(fd, entry);
    if (error != 0) {
        rejected = std::move(slot.ready);
        slot = Slot{};
        return 0;
    }
    return token;
}

bool DispatchReactor::unwatch(int fd, Direction direction, Token token) {
    Block removed; // destroyed after the lock is released
    std::lock_guard lock(_mutex);
    const auto it = _entries.find(fd);
    if (it == _entries.end() || token == 0) {
        return false;
    }
    Slot& slot = direction == Direction::Read ? it->second.reader : it->second.writer;
    if (slot.token != token) {
        return false;
    }
    // Epoll may stay armed for it: an event that finds no watch is ignored.
    removed = std::move(slot.ready);
    slot = Slot{};
    return true;
}

void DispatchReactor::forget(int fd) {
    Entry dropped; // destroyed after the lock is released
    std::lock_guard lock(_mutex);
    const auto it = _entries.find(fd);
    if (it != _entries.end()) {
        dropped = std::move(it->second);
        _entries.erase(it);
    }
}

int DispatchReactor::armLocked(int fd, Entry& entry) {
    const std::uint32_t wanted =
        (entry.reader.ready ? EPOLLIN | EPOLLRDHUP : 0u) | (entry.writer.ready ? EPOLLOUT : 0u);
    if (wanted == 0) {
        return 0;
    }
    epoll_event event{};
    event.events = wanted | EPOLLONESHOT;
    event.data.u64 = eventKey(fd, entry.generation);
    if (entry.registered && ::epoll_ctl(_epoll, EPOLL_CTL_MOD, fd, &event) == 0) {
        return 0;
    }
    if (entry.registered && errno != ENOENT) {
        return errno;
    }
    if (entry.registered) {
        // The descriptor was closed (which removed it from epoll) and its number reused.
        entry.generation = _nextGeneration++;
        event.data.u64 = eventKey(fd, entry.generation);
    }
    int result = ::epoll_ctl(_epoll, EPOLL_CTL_ADD, fd, &event);
    if (result != 0 && errno == EEXIST) {
        // A duplicate of a closed descriptor kept the old registration alive.
        result = ::epoll_ctl(_epoll, EPOLL_CTL_MOD, fd, &event);
    }
    if (result != 0) {
        return errno;
    }
    entry.registered = true;
    return 0;
}

void DispatchReactor::loop() {
    std::vector<epoll_event> events(256);
    std::vector<Block> ready;
    for (;;) {
        const int count = ::epoll_wait(_epoll, events.data(), static_cast<int>(events.size()), -1);
        if (count < 0) {
            if (errno != EINTR) {
                std::perror("epoll_wait");
            }
            continue;
        }
        {
            std::lock_guard lock(_mutex);
            for (int i = 0; i < count; ++i) {
                const int fd = static_cast<int>(static_cast<std::uint32_t>(events[i].data.u64));
                const auto generation = static_cast<std::uint32_t>(events[i].data.u64 >> 32);
                dispatchLocked(fd, generation, events[i].events, ready);
            }
        }
        for (Block& block : ready) {
            GlobalQueue::instance().async(std::move(block));
        }
        ready.clear();
    }
}

void DispatchReactor::dispatchLocked(int fd, std::uint32_t generation, std::uint32_t events,
                                     std::vector<Block>& ready) {
    const auto it = _entries.find(fd);
    if (it == _entries.end() || it->second.generation != generation) {
        return; // a stale event of a descriptor that has been forgotten or reused
    }
    Entry& entry = it->second;
    const bool failed = (events & (EPOLLERR | EPOLLHUP)) != 0;
    const auto serve = [&](Slot& slot, std::uint32_t readiness) {
        if (slot.ready && (failed || (events & readiness))) {
            ready.push_back(std::move(slot.ready));
            slot = Slot{};
        }
    };
    serve(entry.reader, EPOLLIN | EPOLLRDHUP);
    serve(entry.writer, EPOLLOUT);
    // The one-shot registration is disarmed now: arm it again for the watches still waiting.
    if (const int error = armLocked(fd, entry); error != 0) {
        // Cannot happen for a live descriptor; let the waiting operations find out themselves.
        serve(entry.reader, ~0u);
        serve(entry.writer, ~0u);
    }
}

} // namespace platform::dispatch
