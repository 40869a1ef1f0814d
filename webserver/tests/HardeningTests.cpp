// Both file servers under clients that race them: a folder swapped for a link to the outside
// while others work under it, many uploads of one name, and the answers that echo what a client
// sent.

#include "UploaderTestSupport.h"
#include "WebDAVTestSupport.h"

#include "foundation/FileSystem.h"
#include "foundation/Text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using davtest::DAVServerTest;
using uploadertest::UploaderTest;

namespace {

constexpr const char* kSecret = "canary-secret-bytes";
constexpr const char* kFinder = "User-Agent: WebDAVFS/3.0.0 (03008000) Darwin/22.1.0\r\n";

// A folder outside the share, which no request may read, list, change or remove.
class Canary {
public:
    Canary() {
        statictest::writeFile(_folder / "secret.txt", kSecret);
        statictest::writeFile(_folder / "keep.txt", "keep");
        statictest::writeFile(_folder / "listed-only.txt", "never asked for by name");
    }
    const std::string& path() const { return _folder.path(); }
    void expectUntouched() const {
        EXPECT_EQ(uploadertest::namesIn(_folder.path()),
                  (std::vector<std::string>{"keep.txt", "listed-only.txt", "secret.txt"}));
        EXPECT_EQ(bodytest::readFile(_folder / "secret.txt").value_or(""), kSecret);
        EXPECT_EQ(bodytest::readFile(_folder / "keep.txt").value_or(""), "keep");
    }

private:
    statictest::ScratchFolder _folder;
};

// Swaps `share/dir` (a folder) and `share/ln` (a link to the canary) back and forth while the
// workers run, each in a loop, for about two seconds. Answers whether any reply showed the secret
// or listed the canary.
bool raceUnderSwaps(const std::string& share, const std::vector<std::function<std::string()>>& workers) {
    std::atomic<bool> stop{false};
    std::atomic<bool> leaked{false};
    std::thread swapper([&] {
        const std::string dir = share + "/dir";
        const std::string ln = share + "/ln";
        while (!stop) {
            ::renameat2(AT_FDCWD, dir.c_str(), AT_FDCWD, ln.c_str(), RENAME_EXCHANGE);
        }
    });
    std::vector<std::thread> threads;
    for (const auto& worker : workers) {
        threads.emplace_back([&stop, &leaked, worker] {
            while (!stop) {
                const std::string reply = worker();
                if (reply.find(kSecret) != std::string::npos ||
                    reply.find("listed-only") != std::string::npos) {
                    leaked = true;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }
    swapper.join();
    return leaked;
}

} // namespace

TEST_F(DAVServerTest, SwappingAFolderForAnOutsideLinkNeverReachesOutside) {
    Canary canary;
    makeFolder("dir");
    write("dir/keep.txt", "inner");
    ASSERT_EQ(::symlink(canary.path().c_str(), path("ln").c_str()), 0);
    const bool leaked = raceUnderSwaps(
        folder.path(),
        {
            [this] { return dav("PUT", "/dir/put.txt", "", std::string("written")).raw; },
            [this] { return dav("GET", "/dir/secret.txt").raw + dav("GET", "/dir/keep.txt").raw; },
            [this] {
                return dav("DELETE", "/dir/keep.txt").raw +
                       dav("PUT", "/dir/keep.txt", "", std::string("x")).raw;
            },
            [this] { return dav("PROPFIND", "/dir", "Depth: 1\r\n").raw + dav("MKCOL", "/dir/made").raw; },
            [this] {
                return dav("COPY", "/dir/secret.txt", "Destination: " + url("/copied.txt") + "\r\n").raw;
            },
        });
    EXPECT_FALSE(leaked);
    canary.expectUntouched();
    EXPECT_FALSE(exists("copied.txt"));
}

// PROPFIND Depth 1 on a link to a folder outside lists nothing of it.
TEST_F(DAVServerTest, PropfindOnALinkToAnOutsideFolderIsRefused) {
    Canary canary;
    ASSERT_EQ(::symlink(canary.path().c_str(), path("etc-link").c_str()), 0);
    const auto reply = dav("PROPFIND", "/etc-link", "Depth: 1\r\n");
    EXPECT_EQ(reply.status, 404);
    EXPECT_EQ(reply.body.find("listed-only"), std::string::npos);
    EXPECT_EQ(dav("PROPFIND", "/etc-link/", "Depth: 1\r\n").status, 404);
}

// Whatever bytes the owner, Host or Timeout carry, the LOCK answer is well-formed UTF-8 XML.
TEST_F(DAVServerTest, LockAnswerIsWellFormedWhateverTheClientSent) {
    write("a.txt", "x");
    const std::string body = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><lockinfo xmlns=\"DAV:\">"
                             "<lockscope><exclusive/></lockscope><locktype><write/></locktype>"
                             "<owner><href>caf\xE9 &amp; <![CDATA[\x01]]></href></owner></lockinfo>";
    const auto reply =
        dav("LOCK", "/a.txt", std::string(kFinder) + "Depth: 0\r\nTimeout: Second-\xFF\xFE\r\n", body);
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(platform::isValidUTF8(reply.body)) << reply.body;
    EXPECT_EQ(reply.body.find('\x01'), std::string::npos);
    EXPECT_NE(reply.body.find("<D:owner><D:href>caf\xC3\xA9 &amp; "), std::string::npos) << reply.body;
}

TEST_F(UploaderTest, SwappingAFolderForAnOutsideLinkNeverReachesOutside) {
    Canary canary;
    ASSERT_TRUE(uploadertest::makeDirectory(share("dir")));
    statictest::writeFile(share("dir/keep.txt"), "inner");
    ASSERT_EQ(::symlink(canary.path().c_str(), share("ln").c_str()), 0);
    const bool leaked = raceUnderSwaps(
        share(),
        {
            [this] { return uploadFile("/dir", "up.txt", "uploaded").raw; },
            [this] { return get("/download?path=/dir/secret.txt").raw + get("/list?path=/dir").raw; },
            [this] { return postForm("/delete", "path=/dir/keep.txt").raw; },
            [this] { return postForm("/create", "path=/dir/made").raw; },
            [this] { return postForm("/move", "oldPath=/dir/keep.txt&newPath=/moved.txt").raw; },
        });
    EXPECT_FALSE(leaked);
    canary.expectUntouched();
}

// Uploads of one name at once each get their own file.
TEST_F(UploaderTest, ConcurrentUploadsOfOneNameEachGetTheirOwnFile) {
    constexpr int kClients = 50;
    std::atomic<int> succeeded{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([this, i, &succeeded] {
            if (uploadFile("/", "same.txt", std::to_string(i)).status == 200) {
                ++succeeded;
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    EXPECT_EQ(succeeded, kClients);
    EXPECT_EQ(uploadertest::namesIn(share()).size(), static_cast<std::size_t>(kClients))
        << "one file per upload";
}

// Long file operations run on a pool of their own: while every one of them is stuck, and more
// wait, other requests are still answered.
TEST_F(DAVServerTest, StuckCopiesLeaveTheConnectionsTheirWorkers) {
    write("a.txt", "x");
    std::mutex lock;
    std::condition_variable released;
    bool release = false;
    server->beforeCopy = [&] {
        std::unique_lock<std::mutex> guard(lock);
        released.wait_for(guard, std::chrono::seconds(20), [&] { return release; });
    };
    const unsigned copies = 2 * std::max(4u, 2 * std::thread::hardware_concurrency());
    std::vector<std::thread> clients;
    for (unsigned i = 0; i < copies; ++i) {
        clients.emplace_back([this, i] {
            dav("COPY", "/a.txt", "Destination: " + url("/copy" + std::to_string(i) + ".txt") + "\r\n");
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(dav("GET", "/a.txt").status, 200);
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    released.notify_all();
    for (auto& client : clients) {
        client.join();
    }
}

// Uploads are staged in the share's hidden staging folder (even when the folder's part comes after
// the file's), which no request can list, read or change.
TEST_F(UploaderTest, UploadsAreStagedInsideTheShareOutOfReach) {
    const auto reply = upload({{"files[]", "staged", std::string("f.txt")}, {"path", "/", std::nullopt}});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(bodytest::readFile(share("f.txt")).value_or(""), "staged");
    const std::string staging = share(WebUploader::kStagingFolderName);
    ASSERT_TRUE(uploadertest::becomesMissing(staging)); // it went with the upload
    ASSERT_TRUE(uploadertest::makeDirectory(staging));
    server->setAllowHiddenItems(true);
    EXPECT_EQ(get("/list?path=/").body.find(WebUploader::kStagingFolderName), std::string::npos);
    EXPECT_EQ(get(std::string("/list?path=/") + WebUploader::kStagingFolderName).status, 404);
    EXPECT_EQ(postForm("/delete", std::string("path=/") + WebUploader::kStagingFolderName).status, 404);
    EXPECT_TRUE(uploadertest::isDirectory(staging));
}
