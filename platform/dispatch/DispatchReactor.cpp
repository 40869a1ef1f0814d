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

DispatchReactor::Token DispatchReactor::watch(int fd, Direction direction, ReadyHandler handler, int& error) {
    ReadyHandler rejected; // destroyed after the lock is released
    std::lock_guard lock(_mutex);
    auto [it, inserted] = _entries.try_emplace(fd);
    Entry& entry = it->second;
    if (inserted) {
        entry.generation = _nextGeneration++;
    }
    Slot& slot = direction == Direction::Read ? entry.reader : entry.writer;
    if (slot.handler) {
        rejected = std::move(handler);
        error = EBUSY;
        return 0;
    }
    slot = Slot{_nextToken++, std::move(handler)};
    const Token token = slot.token;
    error = updateLocked(fd, entry);
    if (error != 0) {
        rejected = std::move(slot.handler);
        slot = Slot{};
        updateLocked(fd, it->second);
        return 0;
    }
    return token;
}

void DispatchReactor::unwatch(int fd, Direction direction, Token token) {
    ReadyHandler removed; // destroyed after the lock is released
    std::lock_guard lock(_mutex);
    const auto it = _entries.find(fd);
    if (it == _entries.end() || token == 0) {
        return;
    }
    Slot& slot = direction == Direction::Read ? it->second.reader : it->second.writer;
    if (slot.token != token) {
        return;
    }
    removed = std::move(slot.handler);
    slot = Slot{};
    updateLocked(fd, it->second);
}

int DispatchReactor::updateLocked(int fd, Entry& entry) {
    const std::uint32_t wanted =
        (entry.reader.handler ? EPOLLIN : 0u) | (entry.writer.handler ? EPOLLOUT : 0u);
    if (wanted == entry.events) {
        if (wanted == 0) {
            _entries.erase(fd);
        }
        return 0;
    }
    if (wanted == 0) {
        // Fails harmlessly when the descriptor was already closed.
        ::epoll_ctl(_epoll, EPOLL_CTL_DEL, fd, nullptr);
        _entries.erase(fd);
        return 0;
    }
    epoll_event event{};
    event.events = wanted;
    event.data.u64 = eventKey(fd, entry.generation);
    int result = ::epoll_ctl(_epoll, entry.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event);
    if (result != 0 && errno == ENOENT) {
        // The descriptor was closed and its number reused while we still watched it.
        result = ::epoll_ctl(_epoll, EPOLL_CTL_ADD, fd, &event);
    } else if (result != 0 && errno == EEXIST) {
        // A duplicate of a closed descriptor kept the old registration alive.
        result = ::epoll_ctl(_epoll, EPOLL_CTL_MOD, fd, &event);
    }
    if (result != 0) {
        return errno;
    }
    entry.events = wanted;
    return 0;
}

void DispatchReactor::loop() {
    std::vector<epoll_event> events(128);
    std::vector<ReadyHandler> done;
    std::vector<Block> completions;
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
                dispatchLocked(fd, generation, events[i].events, done, completions);
            }
        }
        done.clear();
        for (Block& completion : completions) {
            GlobalQueue::instance().async(std::move(completion));
        }
        completions.clear();
    }
}

void DispatchReactor::dispatchLocked(int fd, std::uint32_t generation, std::uint32_t events,
                                     std::vector<ReadyHandler>& done, std::vector<Block>& completions) {
    const auto it = _entries.find(fd);
    if (it == _entries.end() || it->second.generation != generation) {
        return; // a stale event of a watch that has ended
    }
    Entry& entry = it->second;
    const bool failed = (events & (EPOLLERR | EPOLLHUP)) != 0;
    const auto serve = [&](Slot& slot, std::uint32_t ready) {
        Block completion;
        if (slot.handler && (failed || (events & ready)) && slot.handler(completion)) {
            done.push_back(std::move(slot.handler));
            slot = Slot{};
        }
        if (completion) {
            completions.push_back(std::move(completion));
        }
    };
    serve(entry.reader, EPOLLIN);
    serve(entry.writer, EPOLLOUT);
    updateLocked(fd, entry);
}

} // namespace platform::dispatch
