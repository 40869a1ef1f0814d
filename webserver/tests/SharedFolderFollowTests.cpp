// Both file servers follow their folder's path: a folder moved away, deleted, replaced or come back
// is seen by the next request, while a request under way keeps the folder it started with; the
// file manager's staging folder lasts only as long as uploads use it; and a visible link never
// leads into a hidden folder.

#include "UploaderTestSupport.h"
#include "WebDAVTestSupport.h"

#include "foundation/FileSystem.h"
#include "foundation/Uuid.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

using davtest::DAVServerTest;
using uploadertest::becomesMissing;
using uploadertest::expectError;
using uploadertest::UploaderTest;

namespace {

bool isFolder(const std::string& path) {
    const auto status = platform::FileSystem::statusOfItem(path);
    return status && status->isDirectory();
}

} // namespace

TEST_F(UploaderTest, TheFolderIsFollowedByItsPath) {
    ASSERT_TRUE(uploadertest::writeFile(share("a.txt"), "alpha"));
    EXPECT_EQ(get("/list?path=/").status, 200);
    // Moved away: every operation answers as for a missing item, and nothing is made anywhere.
    ASSERT_EQ(::rename(share().c_str(), (scratch / "Moved").c_str()), 0);
    expectError(get("/list?path=/"), 404, "\"/\" does not exist");
    expectError(get("/download?path=/a.txt"), 404, "\"/a.txt\" does not exist");
    expectError(uploadFile("/", "up.txt", "up"), 404, "\"/\" does not exist");
    expectError(postForm("/create", "path=/new"), 404, "\"/new\" does not exist");
    EXPECT_EQ(uploadertest::namesIn(scratch / "Moved"), (std::vector<std::string>{"a.txt"}));
    // A new folder at the path is served at once.
    ASSERT_TRUE(uploadertest::makeDirectory(share()));
    ASSERT_TRUE(uploadertest::writeFile(share("one.txt"), "one"));
    const auto download = get("/download?path=/one.txt");
    EXPECT_EQ(download.status, 200);
    EXPECT_EQ(download.body, "one");
    EXPECT_EQ(get("/list?path=/").body, "[{\"name\":\"one.txt\",\"path\":\"/one.txt\",\"size\":3}]");
    EXPECT_EQ(uploadFile("/", "up.txt", "up").status, 200);
    EXPECT_EQ(bodytest::readFile(share("up.txt")).value_or(""), "up");
    // Deleted, then made again.
    ASSERT_TRUE(platform::FileSystem::removeItem(share()));
    expectError(get("/list?path=/"), 404, "\"/\" does not exist");
    ASSERT_TRUE(uploadertest::makeDirectory(share()));
    EXPECT_EQ(get("/list?path=/").body, "[]");
}

TEST_F(DAVServerTest, TheFolderIsFollowedByItsPath) {
    write("a.txt", "alpha");
    EXPECT_EQ(dav("PROPFIND", "/", "Depth: 1\r\n").status, 207);
    const std::string away = folder.path() + ".away";
    ASSERT_EQ(::rename(folder.path().c_str(), away.c_str()), 0);
    EXPECT_EQ(dav("PROPFIND", "/", "Depth: 1\r\n").status, 404);
    EXPECT_EQ(dav("GET", "/a.txt").status, 404);
    EXPECT_EQ(dav("PUT", "/b.txt", "", std::string("bravo")).status, 404);
    EXPECT_EQ(dav("MKCOL", "/dir").status, 404);
    EXPECT_EQ(uploadertest::namesIn(away), (std::vector<std::string>{"a.txt"}));
    ASSERT_TRUE(platform::FileSystem::removeItem(away));
    makeFolder("");
    write("one.txt", "one");
    const auto listing = dav("PROPFIND", "/", "Depth: 1\r\n");
    EXPECT_EQ(listing.status, 207);
    EXPECT_NE(listing.body.find("<D:href>/one.txt</D:href>"), std::string::npos);
    EXPECT_EQ(listing.body.find("a.txt"), std::string::npos);
    const auto download = dav("GET", "/one.txt");
    EXPECT_EQ(download.status, 200);
    EXPECT_EQ(download.body, "one");
    EXPECT_EQ(dav("PUT", "/b.txt", "", std::string("bravo")).status, 201);
    EXPECT_EQ(contents("b.txt"), "bravo");
}

// An upload under way when the folder is moved ends in the folder it started in.
TEST_F(UploaderTest, AnUploadUnderWayKeepsItsFolder) {
    bodytest::MultipartBuilder builder("B42");
    builder.field("path", "/");
    builder.file("files[]", "late.txt", "text/plain", std::string(4096, 'x'));
    const std::string body = builder.finish();
    const std::size_t half = body.size() / 2;
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, static_cast<std::uint16_t>(server->port())));
    ASSERT_TRUE(client.send("POST /upload HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
                            "boundary=B42\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, half)));
    // The first half has been read once the staged file exists.
    const std::string staging = share(WebUploader::kStagingFolderName);
    for (int attempt = 0; attempt < 500 && uploadertest::namesIn(staging).empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(uploadertest::namesIn(staging).empty());
    ASSERT_EQ(::rename(share().c_str(), (scratch / "Moved").c_str()), 0);
    ASSERT_TRUE(uploadertest::makeDirectory(share()));
    ASSERT_TRUE(client.send(body.substr(half)));
    EXPECT_EQ(coretest::parseReply(client.readAll()).status, 200);
    EXPECT_TRUE(bodytest::readFile(scratch / "Moved/late.txt") == std::string(4096, 'x'));
    EXPECT_TRUE(uploadertest::namesIn(share()).empty());
    EXPECT_TRUE(becomesMissing(scratch / ("Moved/" + std::string(WebUploader::kStagingFolderName))));
}

// The staging folder goes with the last upload that uses it; a stop removes one left from before
// (one another server holds stays: UploaderStagingTests.cpp).
TEST_F(UploaderTest, TheStagingFolderLastsOnlyWhileUploadsUseIt) {
    const std::string staging = share(WebUploader::kStagingFolderName);
    EXPECT_EQ(uploadFile("/", "a.txt", "alpha").status, 200);
    EXPECT_TRUE(becomesMissing(staging));
    ASSERT_TRUE(uploadertest::makeDirectory(staging));
    ASSERT_TRUE(uploadertest::writeFile(staging + "/" + platform::makeUuidString(), "x"));
    server->stop();
    EXPECT_FALSE(platform::FileSystem::itemExists(staging));
    EXPECT_EQ(uploadertest::namesIn(share()), (std::vector<std::string>{"a.txt"}));
}

// A staging folder left by a server that ended during an upload goes with its staged files when
// the server starts, before it accepts a connection.
TEST_F(UploaderTest, AStagingFolderLeftByACrashGoesWithItsFiles) {
    const std::string staging = share(WebUploader::kStagingFolderName);
    server->stop();
    ASSERT_TRUE(uploadertest::makeDirectory(staging));
    ASSERT_TRUE(uploadertest::writeFile(staging + "/" + platform::makeUuidString(), "half"));
    ASSERT_TRUE(uploadertest::writeFile(staging + "/.lanyard-staging-" + platform::makeUuidString(), "half"));
    ASSERT_TRUE(uploadertest::writeFile(staging + "/" + WebUploader::kStagingLockName, "")); // held by none
    startServer(WebUploader::create(share()));
    EXPECT_FALSE(platform::FileSystem::itemExists(staging)) << "removed at start, before any connection";
    EXPECT_EQ(uploadFile("/", "a.txt", "alpha").status, 200);
    server->stop();
    EXPECT_TRUE(becomesMissing(staging));
    EXPECT_EQ(uploadertest::namesIn(share()), (std::vector<std::string>{"a.txt"}));
}

// Two uploads at once: the first ends while the second has yet to write a byte of its file, and
// the staging folder stays until the second ends too.
TEST_F(UploaderTest, TheStagingFolderStaysForAnUploadThatHasYetToWrite) {
    const std::string staging = share(WebUploader::kStagingFolderName);
    const auto head = [](std::size_t length, const char* extra) {
        return "POST /upload HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=B42\r\n" +
               std::string(extra) + "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    };
    const auto body = [](const std::string& name) {
        return bodytest::MultipartBuilder("B42")
            .field("path", "/")
            .file("files[]", name, "text/plain", std::string(4096, 'x'))
            .finish();
    };
    const std::string first = body("first.txt"), second = body("second.txt");
    coretest::RawClient one, two;
    ASSERT_TRUE(one.connect(AF_INET, static_cast<std::uint16_t>(server->port())));
    ASSERT_TRUE(one.send(head(first.size(), "") + first.substr(0, first.size() / 2)));
    for (int attempt = 0; attempt < 500 && uploadertest::namesIn(staging).empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(uploadertest::namesIn(staging).empty());
    // The second request has been made (and its upload staged) once its "100 Continue" arrives.
    ASSERT_TRUE(two.connect(AF_INET, static_cast<std::uint16_t>(server->port())));
    ASSERT_TRUE(two.send(head(second.size(), "Expect: 100-continue\r\n")));
    ASSERT_EQ(two.readUntil("\r\n\r\n").rfind("HTTP/1.1 100", 0), 0u);
    ASSERT_TRUE(one.send(first.substr(first.size() / 2)));
    EXPECT_EQ(coretest::parseReply(one.readAll()).status, 200);
    // The first request is gone a whole exchange later; the folder is still there, empty.
    EXPECT_EQ(get("/list?path=/").status, 200);
    EXPECT_TRUE(isFolder(staging));
    ASSERT_TRUE(two.send(second));
    EXPECT_EQ(coretest::parseReply(two.readAll()).status, 200);
    EXPECT_EQ(uploadertest::namesIn(share()), (std::vector<std::string>{"first.txt", "second.txt"}));
    EXPECT_TRUE(becomesMissing(staging));
}

// A folder swapped for another in one step (another folder renamed over the path, or exchanged
// with it) is the folder of the very next request.
TEST_F(UploaderTest, AFolderSwappedInOneStepIsServedAtTheNextRequest) {
    EXPECT_EQ(get("/list?path=/").body, "[]");
    ASSERT_TRUE(uploadertest::makeDirectory(scratch / "Next"));
    ASSERT_TRUE(uploadertest::writeFile(scratch / "Next/next.txt", "n"));
    ASSERT_EQ(::rename((scratch / "Next").c_str(), share().c_str()), 0);
    EXPECT_EQ(get("/list?path=/").body, "[{\"name\":\"next.txt\",\"path\":\"/next.txt\",\"size\":1}]");
    ASSERT_TRUE(uploadertest::makeDirectory(scratch / "Swap"));
    ASSERT_TRUE(uploadertest::writeFile(scratch / "Swap/swap.txt", "s"));
    ASSERT_EQ(::renameat2(AT_FDCWD, (scratch / "Swap").c_str(), AT_FDCWD, share().c_str(), RENAME_EXCHANGE),
              0)
        << std::strerror(errno);
    EXPECT_EQ(get("/list?path=/").body, "[{\"name\":\"swap.txt\",\"path\":\"/swap.txt\",\"size\":1}]");
    EXPECT_EQ(uploadFile("/", "up.txt", "up").status, 200);
    EXPECT_EQ(uploadertest::namesIn(share()), (std::vector<std::string>{"swap.txt", "up.txt"}));
    EXPECT_EQ(uploadertest::namesIn(scratch / "Swap"), (std::vector<std::string>{"next.txt"}));
}

TEST_F(UploaderTest, AVisibleLinkNeverReachesAHiddenFolder) {
    ASSERT_TRUE(uploadertest::makeDirectory(share(".hidden")));
    ASSERT_TRUE(uploadertest::writeFile(share(".hidden/secret.txt"), "secret"));
    ASSERT_EQ(::symlink(".hidden", share("visible").c_str()), 0);
    expectError(get("/download?path=/visible/secret.txt"), 404, "\"/visible/secret.txt\" does not exist");
    expectError(postForm("/delete", "path=/visible/secret.txt"), 404,
                "\"/visible/secret.txt\" does not exist");
    expectError(uploadFile("/visible", "x.txt", "x"), 404, "\"/visible\" does not exist");
    EXPECT_EQ(uploadertest::namesIn(share(".hidden")), (std::vector<std::string>{"secret.txt"}));
    server->setAllowHiddenItems(true);
    EXPECT_EQ(get("/download?path=/visible/secret.txt").body, "secret");
}

TEST_F(DAVServerTest, AVisibleLinkNeverReachesAHiddenFolder) {
    makeFolder(".hidden");
    write(".hidden/secret.txt", "secret");
    ASSERT_EQ(::symlink(".hidden", path("visible").c_str()), 0);
    EXPECT_EQ(dav("GET", "/visible/secret.txt").status, 404);
    EXPECT_EQ(dav("PROPFIND", "/visible/", "Depth: 1\r\n").status, 404);
    EXPECT_EQ(dav("PUT", "/visible/x.txt", "", std::string("x")).status, 404);
    EXPECT_EQ(dav("DELETE", "/visible/secret.txt").status, 404);
    EXPECT_EQ(snapshot(".hidden"), "secret.txt=secret\n");
    server->setAllowHiddenItems(true);
    EXPECT_EQ(dav("GET", "/visible/secret.txt").body, "secret");
}
