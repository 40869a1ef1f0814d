// The static GET handlers, through a real server on the loopback interface.

#include "CoreTestSupport.h"
#include "StaticTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using statictest::ScratchFolder;

namespace {

const std::string kSecret = "TOP-SECRET-CONTENT";

// root/share is served; root/secret lies beside it.
class StaticHandlers : public coretest::ServerTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.valid());
        share = root / "share";
        ASSERT_TRUE(platform::FileSystem::createDirectory(share));
        ASSERT_TRUE(platform::FileSystem::createDirectory(share + "/sub"));
        ASSERT_TRUE(platform::FileSystem::createDirectory(root / "share2"));
        ASSERT_TRUE(statictest::writeFile(root / "secret", kSecret));
        ASSERT_TRUE(statictest::writeFile(root / "share2/secret", kSecret));
        ASSERT_TRUE(statictest::writeFile(share + "/f.bin", statictest::patternBytes(1000)));
        ASSERT_TRUE(statictest::writeFile(share + "/a.txt", "alpha"));
        ASSERT_TRUE(statictest::writeFile(share + "/sub/deep.txt", "deep"));
    }
    std::string listingOf(const std::string& path) {
        const auto reply = coretest::get(port(), path);
        EXPECT_EQ(reply.status, 200) << path;
        return reply.body;
    }
    ScratchFolder root;
    std::string share;
};

} // namespace

TEST_F(StaticHandlers, ListingShowsFilesAndFoldersOfTheFirstLevel) {
    ASSERT_TRUE(statictest::writeFile(share + "/.hidden", "h"));
    ASSERT_TRUE(platform::FileSystem::createDirectory(share + "/.git"));
    ASSERT_EQ(::mkfifo((share + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("a.txt", (share + "/link").c_str()), 0);
    server->addGETHandlerForBasePath("/", share, std::nullopt, 0, true);
    ASSERT_TRUE(startServer());
    const auto reply = coretest::get(port(), "/");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(*reply.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(reply.body, "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n<ul>\n"
                          "<li><a href=\"a.txt\">a.txt</a></li>\n"
                          "<li><a href=\"f.bin\">f.bin</a></li>\n"
                          "<li><a href=\"sub/\">sub/</a></li>\n"
                          "</ul>\n</body></html>\n");
}

TEST_F(StaticHandlers, ListedNamesAreEscaped) {
    ASSERT_TRUE(statictest::writeFile(share + "/<b>&'x\".txt", "x"));
    ASSERT_TRUE(statictest::writeFile(share + "/50%.txt", "fifty"));
    ASSERT_TRUE(statictest::writeFile(share + "/a#b", "hash"));
    server->addGETHandlerForBasePath("/", share, std::nullopt, 0, true);
    ASSERT_TRUE(startServer());
    const std::string body = listingOf("/");
    EXPECT_NE(body.find("<li><a href=\"%3Cb%3E%26'x%22.txt\">&lt;b&gt;&amp;&#39;x&quot;.txt</a></li>"),
              std::string::npos)
        << body;
    EXPECT_EQ(body.find("<b>"), std::string::npos);
    // The links that the listing gives lead back to the files.
    EXPECT_NE(body.find("href=\"50%25.txt\""), std::string::npos);
    EXPECT_EQ(coretest::get(port(), "/50%25.txt").body, "fifty");
    EXPECT_NE(body.find("href=\"a%23b\""), std::string::npos);
    EXPECT_EQ(coretest::get(port(), "/a%23b").body, "hash");
}

TEST_F(StaticHandlers, IndexFileIsServedWithoutTheCacheAge) {
    ASSERT_TRUE(statictest::writeFile(share + "/sub/index.html", "<p>index</p>"));
    server->addGETHandlerForBasePath("/", share, std::string("index.html"), 3600, false);
    ASSERT_TRUE(startServer());
    const auto index = coretest::get(port(), "/sub/");
    EXPECT_EQ(index.body, "<p>index</p>");
    EXPECT_EQ(*index.header("Cache-Control"), "no-cache");
    EXPECT_EQ(*index.header("Content-Type"), "text/html");
    const auto listing = coretest::get(port(), "/"); // no index file there
    EXPECT_NE(listing.body.find("<ul>"), std::string::npos);
    EXPECT_EQ(*listing.header("Cache-Control"), "max-age=3600, public");
    const auto file = coretest::get(port(), "/a.txt");
    EXPECT_EQ(*file.header("Cache-Control"), "max-age=3600, public");
    EXPECT_FALSE(file.header("Accept-Ranges"));
}

TEST_F(StaticHandlers, RangesThroughTheDirectoryHandler) {
    server->addGETHandlerForBasePath("/", share, std::nullopt, 0, true);
    server->addGETHandlerForBasePath("/whole/", share, std::nullopt, 0, false);
    ASSERT_TRUE(startServer());
    const std::string bytes = statictest::patternBytes(1000);
    const struct {
        const char* range;
        const char* contentRange;
        std::size_t offset, length;
    } cases[] = {{"0-499", "bytes 0-499/1000", 0, 500},
                 {"500-", "bytes 500-999/1000", 500, 500},
                 {"-500", "bytes 500-999/1000", 500, 500}};
    for (const auto& c : cases) {
        const auto reply = coretest::get(port(), "/f.bin", "Range: bytes=" + std::string(c.range) + "\r\n");
        EXPECT_EQ(reply.status, 206) << c.range;
        EXPECT_EQ(*reply.header("Content-Range"), c.contentRange);
        EXPECT_EQ(*reply.header("Accept-Ranges"), "bytes");
        EXPECT_EQ(reply.body, bytes.substr(c.offset, c.length));
    }
    EXPECT_EQ(coretest::get(port(), "/f.bin", "Range: bytes=2000-2010\r\n").status, 404);
    EXPECT_EQ(coretest::get(port(), "/f.bin").body, bytes);
    // Without ranges the whole file is served.
    const auto whole = coretest::get(port(), "/whole/f.bin", "Range: bytes=0-499\r\n");
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, bytes);
}

TEST_F(StaticHandlers, BasePathIsACaseSensitivePrefix) {
    server->addGETHandlerForBasePath("/static/", share, std::nullopt, 0, true);
    ASSERT_TRUE(startServer());
    EXPECT_EQ(coretest::get(port(), "/static/a.txt").body, "alpha");
    EXPECT_EQ(coretest::get(port(), "/static/sub/deep.txt").body, "deep");
    EXPECT_EQ(coretest::get(port(), "/STATIC/a.txt").status, 405); // no handler takes it
    EXPECT_EQ(coretest::get(port(), "/staticx/a.txt").status, 405);
    EXPECT_EQ(coretest::get(port(), "/static/missing.txt").status, 404);
    EXPECT_EQ(
        coretest::exchange(port(), "POST /static/a.txt HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n")
            .status,
        405);
}

TEST_F(StaticHandlers, MalformedPathsAddNoHandler) {
    server->addGETHandlerForBasePath("/static", share, std::nullopt, 0, true);
    server->addGETHandlerForBasePath("static/", share, std::nullopt, 0, true);
    server->addGETHandlerForBasePath("", share, std::nullopt, 0, true);
    server->addGETHandlerForPath("logo.png", Data{1}, "image/png", 0);
    server->addGETHandlerForPathWithFile("f.bin", share + "/f.bin", false, 0, false);
    EXPECT_TRUE(server->handlers().empty());
}

TEST_F(StaticHandlers, SinglePathHandlersIgnoreCase) {
    server->addGETHandlerForPath("/logo.png", platform::dataFromString("PNGDATA"), "image/png", 60);
    server->addGETHandlerForPathWithFile("/download", share + "/a.txt", true, 0, false);
    ASSERT_TRUE(startServer());
    const auto logo = coretest::get(port(), "/LOGO.PNG");
    EXPECT_EQ(logo.status, 200);
    EXPECT_EQ(logo.body, "PNGDATA");
    EXPECT_EQ(*logo.header("Content-Type"), "image/png");
    EXPECT_EQ(*logo.header("Cache-Control"), "max-age=60, public");
    EXPECT_EQ(coretest::get(port(), "/logo.png").body, "PNGDATA"); // a new response for each request
    const auto download = coretest::get(port(), "/Download", "Range: bytes=0-1\r\n");
    EXPECT_EQ(download.status, 200); // ranges not allowed
    EXPECT_EQ(download.body, "alpha");
    EXPECT_EQ(*download.header("Content-Disposition"),
              "attachment; filename=\"a.txt\"; filename*=UTF-8''a.txt");
}

TEST_F(StaticHandlers, FileHandlerFailuresAnswer500) {
    server->addGETHandlerForPathWithFile("/gone", share + "/missing", false, 0, true);
    server->addGETHandlerForPathWithFile("/f", share + "/f.bin", false, 0, true);
    ASSERT_TRUE(startServer());
    EXPECT_EQ(coretest::get(port(), "/gone").status, 500);
    EXPECT_EQ(coretest::get(port(), "/f", "Range: bytes=5000-\r\n").status, 500);
    const auto ranged = coretest::get(port(), "/f", "Range: bytes=-10\r\n");
    EXPECT_EQ(ranged.status, 206);
    EXPECT_EQ(*ranged.header("Accept-Ranges"), "bytes");
}

TEST_F(StaticHandlers, TraversalNeverLeavesTheFolder) {
    ASSERT_EQ(::symlink(root.path().c_str(), (share + "/up").c_str()), 0);
    ASSERT_EQ(::symlink((root / "secret").c_str(), (share + "/secret-link").c_str()), 0);
    server->addGETHandlerForBasePath("/", share, std::nullopt, 0, true);
    ASSERT_TRUE(startServer());
    const char* attempts[] = {
        "/../secret",
        "/%2e%2e/secret",
        "/%2E%2E/secret",
        "/..%2fsecret",
        "/..%2Fsecret",
        "/a/../../secret",
        "/sub/../../secret",
        "/sub/..%2f..%2fsecret",
        "/%2e%2e%2fsecret",
        "/./../secret",
        "//../secret",
        "/../share2/secret",
        "/..",
        "/../",
        "/up/secret",
        "/up/",
        "/secret-link",
        "/%00/../secret",
        "/..%5csecret",
        "/sub/%2e%2e/%2e%2e/secret",
    };
    for (const char* path : attempts) {
        const auto reply = coretest::get(port(), path);
        EXPECT_EQ(reply.status, 404) << path;
        EXPECT_EQ(reply.raw.find(kSecret), std::string::npos) << path;
        EXPECT_EQ(reply.raw.find("share2"), std::string::npos) << path;
    }
}

TEST_F(StaticHandlers, DotSegmentsThatStayInsideAreServed) {
    ASSERT_EQ(::symlink("sub/deep.txt", (share + "/inner-link").c_str()), 0);
    server->addGETHandlerForBasePath("/", share, std::nullopt, 0, true);
    ASSERT_TRUE(startServer());
    EXPECT_EQ(coretest::get(port(), "/sub/../a.txt").body, "alpha");
    EXPECT_EQ(coretest::get(port(), "/sub/%2e%2e/a.txt").body, "alpha");
    EXPECT_EQ(coretest::get(port(), "/inner-link").status, 404); // links are not served
    EXPECT_EQ(coretest::get(port(), "/sub/deep.txt").body, "deep");
    EXPECT_EQ(coretest::get(port(), "/sub/..").status, 200); // the folder itself: its listing
}

TEST_F(StaticHandlers, MissingFolderAnswers404) {
    server->addGETHandlerForBasePath("/", root / "nothing-here", std::nullopt, 0, true);
    ASSERT_TRUE(startServer());
    EXPECT_EQ(coretest::get(port(), "/").status, 404);
    EXPECT_EQ(coretest::get(port(), "/../secret").status, 404);
}
