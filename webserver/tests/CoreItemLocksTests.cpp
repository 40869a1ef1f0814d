// The per-item locks of the writers: an item is named by its folder's identity and its name, so
// every path to it takes the same lock, and a lock waits only for the same item.

#include "StaticTestSupport.h"
#include "WebServerItemLocks.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
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
