// The shared folder is followed by its path: a folder deleted and made again, renamed over the
// path or exchanged with another is what the next request sees; a request under way keeps the
// folder it started with; a relative folder is taken from the current directory.
#include "MediaServerTestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace media_test {
namespace {

using MediaFollowedFolderTests = MediaFixture;

std::vector<std::string> Listed(const ActionResult& answer) {
    return Ids(answer.Get("Result"));
}

bool Exchange(const fs::path& a, const fs::path& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

TEST_F(MediaFollowedFolderTests, DeletedAndMadeAgain) {
    WriteFile(m_Share / "old.mp3");
    WriteFile(m_Share / "Old" / "x.mp3");
    EXPECT_EQ(Listed(Browse("0")).size(), 2u);
    fs::remove_all(m_Share);
    const ActionResult empty = Browse("0");
    EXPECT_EQ(empty.code, 0u);
    EXPECT_EQ(empty.Get("TotalMatches"), "0");
    EXPECT_EQ(Browse("0/Old").code, 701u);
    EXPECT_EQ(Get("/%25/old.mp3").first, 404);
    WriteFile(m_Share / "new.mp3", "12345");
    EXPECT_EQ(Listed(Browse("0")), std::vector<std::string>{"0/new.mp3"});
    EXPECT_EQ(Get("/%25/new.mp3"), (std::pair<int, uint64_t>{200, 5}));
}

// A folder renamed over the (empty) shared folder, and two folders exchanged in one step, are seen
// at the very next request.
TEST_F(MediaFollowedFolderTests, SwappedInOneStep) {
    WriteFile(m_Base / "other" / "b.mp3");
    EXPECT_EQ(Browse("0").Get("TotalMatches"), "0");
    ASSERT_EQ(std::rename((m_Base / "other").c_str(), m_Share.c_str()), 0);
    EXPECT_EQ(Listed(Browse("0")), std::vector<std::string>{"0/b.mp3"});
    WriteFile(m_Base / "other" / "c.mp3", "123");
    ASSERT_TRUE(Exchange(m_Base / "other", m_Share));
    EXPECT_EQ(Get("/%25/c.mp3"), (std::pair<int, uint64_t>{200, 3}));
    EXPECT_EQ(Listed(Browse("0")), std::vector<std::string>{"0/c.mp3"});
    EXPECT_EQ(Get("/%25/b.mp3").first, 404);
}

// Folders exchanged again and again while several threads browse: every answer lists one of the
// two folders, never nothing, and both are seen.
TEST_F(MediaFollowedFolderTests, ExchangesLeaveNoGap) {
    WriteFile(m_Share / "a.mp3");
    WriteFile(m_Base / "other" / "b.mp3");
    Server();
    std::atomic<bool> done{false};
    std::thread swapper([&]() {
        for (int i = 0; i < 100000 && !done.load(); ++i) {
            (void)Exchange(m_Base / "other", m_Share);
        }
    });
    std::atomic<int> seen_a{0};
    std::atomic<int> seen_b{0};
    std::atomic<int> gaps{0};
    std::vector<std::thread> browsers;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (int t = 0; t < 4; ++t) {
        browsers.emplace_back([&]() {
            for (int i = 0; i < 300 && std::chrono::steady_clock::now() < deadline; ++i) {
                const std::vector<std::string> ids = Listed(Browse("0"));
                const bool a = ids == std::vector<std::string>{"0/a.mp3"};
                const bool b = ids == std::vector<std::string>{"0/b.mp3"};
                seen_a += a ? 1 : 0;
                seen_b += b ? 1 : 0;
                gaps += a || b ? 0 : 1;
            }
        });
    }
    for (std::thread& browser : browsers) {
        browser.join();
    }
    done.store(true);
    swapper.join();
    EXPECT_EQ(gaps.load(), 0);
    EXPECT_GT(seen_a.load(), 0);
    EXPECT_GT(seen_b.load(), 0);
}

// A server that exchanges the shared folder with another one in the middle of its first listing.
class SwappingServer : public UP_FileMediaServer {
public:
    SwappingServer(const fs::path& share, fs::path other)
        : UP_FileMediaServer(share.c_str(), "Test"), m_Share(share), m_Other(std::move(other)) {}
    bool ProcessFile(const char*, const char*) override {
        if (!m_Swapped) {
            m_Swapped = Exchange(m_Share, m_Other);
        }
        return true;
    }
    bool m_Swapped = false;

private:
    fs::path m_Share;
    fs::path m_Other;
};

// The Browse under way counts the children of Sub in the folder it started with; the next one
// lists the folder swapped in.
TEST_F(MediaFollowedFolderTests, RequestUnderWayKeepsItsFolder) {
    WriteFile(m_Share / "Sub" / "x.mp3");
    WriteFile(m_Base / "other" / "Sub" / "y.mp3");
    WriteFile(m_Base / "other" / "Sub" / "z.mp3");
    auto server = std::make_unique<SwappingServer>(m_Share, m_Base / "other");
    SwappingServer& swapping = *server;
    m_Server = std::move(server);
    ASSERT_EQ(m_Server->SetupServices(), KL_SUCCESS);
    const std::string counted = "childCount=\"([0-9]+)\"";
    EXPECT_EQ(Matches(Browse("0").Get("Result"), counted.c_str()), std::vector<std::string>{"1"});
    ASSERT_TRUE(swapping.m_Swapped);
    EXPECT_EQ(Matches(Browse("0").Get("Result"), counted.c_str()), std::vector<std::string>{"2"});
}

TEST_F(MediaFollowedFolderTests, RelativeFolderFromTheCurrentDirectory) {
    WriteFile(m_Share / "a.mp3", "abc");
    char* previous = ::getcwd(nullptr, 0);
    ASSERT_NE(previous, nullptr);
    ASSERT_EQ(::chdir(m_Base.c_str()), 0);
    Server("./share/");
    EXPECT_EQ(::chdir(previous), 0);
    std::free(previous);
    EXPECT_EQ(Server().GetFileRoot().GetChars(), fs::canonical(m_Share).string());
    EXPECT_EQ(Listed(Browse("0")), std::vector<std::string>{"0/a.mp3"});
    EXPECT_EQ(Get("/%25/a.mp3"), (std::pair<int, uint64_t>{200, 3}));
}

} // namespace
} // namespace media_test
