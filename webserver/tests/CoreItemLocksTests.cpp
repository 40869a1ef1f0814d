// The per-item locks of the writers: an item is named by its folder's identity and its name, so
// every path to it takes the same lock, and a lock waits only for the same item.

#include "StaticTestSupport.h"
#include "WebServerItemLocks.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

using platform::SharedFolder;
using platform::SharedItem;

namespace {

SharedItem itemAt(const std::string& path) {
    auto item = SharedFolder::itemAtPath(path);
    EXPECT_TRUE(item) << path;
    return item ? std::move(*item) : SharedItem{};
}

} // namespace

TEST(CoreItemLocks, EveryPathToAnItemTakesTheSameLock) {
    statictest::ScratchFolder scratch;
    ASSERT_TRUE(scratch.valid());
    ASSERT_EQ(::mkdir((scratch / "real").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("real", (scratch / "link").c_str()), 0);
    const SharedItem direct = itemAt(scratch / "real/a.txt");
    const SharedItem throughLink = itemAt(scratch / "link/a.txt");
    const SharedItem other = itemAt(scratch / "real/b.txt");
    EXPECT_EQ(WebServerItemLocks::keyOf(direct), WebServerItemLocks::keyOf(throughLink));
    EXPECT_NE(WebServerItemLocks::keyOf(direct), WebServerItemLocks::keyOf(other));

    auto held = WebServerItemLocks::lock({&direct, &other});
    // Another item is free; the same item, by whatever path, waits until the holder lets go.
    const SharedItem third = itemAt(scratch / "real/c.txt");
    auto free = std::async(std::launch::async, [&third] { WebServerItemLocks::lock({&third}); });
    EXPECT_EQ(free.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto same = std::async(std::launch::async, [&throughLink] { WebServerItemLocks::lock({&throughLink}); });
    EXPECT_EQ(same.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    held.release();
    EXPECT_EQ(same.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

// An item is its folder and its name: one name in another folder is another item, whose lock is
// free while the first one is held.
TEST(CoreItemLocks, OneNameInAnotherFolderIsAnotherItem) {
    statictest::ScratchFolder scratch;
    ASSERT_TRUE(scratch.valid());
    for (const char* folder : {"one", "two", "one/one"}) {
        ASSERT_EQ(::mkdir((scratch / folder).c_str(), 0755), 0) << folder;
    }
    struct Row {
        const char* held;
        const char* other;
    };
    for (const Row& row : {Row{"one/a.txt", "two/a.txt"}, Row{"one/a.txt", "one/one/a.txt"}}) {
        SCOPED_TRACE(std::string(row.held) + " and " + row.other);
        const SharedItem first = itemAt(scratch / row.held);
        const SharedItem second = itemAt(scratch / row.other);
        EXPECT_NE(WebServerItemLocks::keyOf(first), WebServerItemLocks::keyOf(second));
        auto held = WebServerItemLocks::lock({&first});
        auto other = std::async(std::launch::async, [&second] { WebServerItemLocks::lock({&second}); });
        const bool free = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        held.release(); // before the future goes, which waits for its thread
        EXPECT_TRUE(free);
    }
}

// Two writers of the same two items, naming them in opposite orders, never wait for each other
// for good: every writer takes the locks in one order.
TEST(CoreItemLocks, WritersNamingTwoItemsInOppositeOrdersNeverDeadlock) {
    statictest::ScratchFolder scratch;
    ASSERT_TRUE(scratch.valid());
    // Shared with the writers, which are left behind (blocked) if they deadlock.
    struct State {
        SharedItem first;
        SharedItem second;
        std::mutex lock;
        std::condition_variable finished;
        int done = 0;
    };
    auto state = std::make_shared<State>();
    state->first = itemAt(scratch / "x.txt");
    state->second = itemAt(scratch / "y.txt");
    constexpr int kRounds = 2000;
    const auto writer = [state](bool reversed) {
        for (int round = 0; round < kRounds; ++round) {
            auto held = reversed ? WebServerItemLocks::lock({&state->second, &state->first})
                                 : WebServerItemLocks::lock({&state->first, &state->second});
            std::this_thread::yield();
        }
        std::lock_guard<std::mutex> guard(state->lock);
        ++state->done;
        state->finished.notify_all();
    };
    std::thread forward(writer, false);
    std::thread backward(writer, true);
    bool finished = false;
    {
        std::unique_lock<std::mutex> guard(state->lock);
        finished =
            state->finished.wait_for(guard, std::chrono::seconds(60), [&] { return state->done == 2; });
    }
    if (finished) {
        forward.join();
        backward.join();
    } else {
        forward.detach();
        backward.detach();
    }
    EXPECT_TRUE(finished) << "the two writers wait for each other";
}
