// The WebDAV server on a real socket: construction, OPTIONS, GET, DELETE, MKCOL, the handler list,
// start/stop churn, and a shared folder swapped for another in one step.

#include "WebDAVTestSupport.h"

#include "foundation/FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using coretest::HttpReply;
using davtest::DAVServerTest;
using davtest::expectError;

namespace {

std::string headerOf(const HttpReply& reply, const char* name) {
    const std::string* value = reply.header(name);
    return value ? *value : "<none>";
}

} // namespace

TEST(WebDAVServerCreation, StandardizesTheFolderAndHandlersDoNotKeepTheServerAlive) {
    EXPECT_EQ(WebDAVServer::create("/srv//share/./a/../")->uploadDirectory(), "/srv/share");
    const char* home = std::getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(WebDAVServer::create("~/Shared")->uploadDirectory(),
                  platform::FileSystem::standardizePath(std::string(home) + "/Shared"));
    }
    std::weak_ptr<WebDAVServer> weak;
    {
        const auto server = WebDAVServer::create("/srv/share");
        EXPECT_EQ(server->handlers().size(), 10u);
        EXPECT_FALSE(server->allowHiddenItems());
        EXPECT_FALSE(server->allowedFileExtensions().has_value());
        weak = server;
    }
    EXPECT_TRUE(weak.expired());
}

TEST_F(DAVServerTest, OptionsAnswersClassTwoOnlyToFinderClients) {
    struct Case {
        const char* agent;
        const char* dav;
    };
    for (const Case& c :
         {Case{"WebDAVFS/3.0.0 (03008000) Darwin/22.1.0", "1, 2"}, Case{"WebDAVLib/1.3", "1, 2"},
          Case{"curl/7.88.1", "1"}, Case{"webdavfs/3.0", "1"}, Case{nullptr, "1"}}) {
        const std::string agent = c.agent ? std::string("User-Agent: ") + c.agent + "\r\n" : "";
        const HttpReply reply = dav("OPTIONS", "/", agent);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(headerOf(reply, "DAV"), c.dav) << (c.agent ? c.agent : "no agent");
        EXPECT_EQ(reply.body, "");
    }
}

TEST_F(DAVServerTest, MethodsWithoutHandlerAnswer405) {
    EXPECT_EQ(dav("PROPPATCH", "/", "", "<x/>").status, 405);
    EXPECT_EQ(dav("POST", "/", "", "a").status, 405);
    EXPECT_EQ(dav("get", "/").status, 405);
}

TEST_F(DAVServerTest, GetRows) {
    write("a.txt", "hello");
    write(".secret", "s");
    makeFolder("b");
    makeFolder(".hiddenfolder");
    write(".hiddenfolder/inner.txt", "inner");
    const HttpReply reply = dav("GET", "/a.txt");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "hello");
    EXPECT_EQ(headerOf(reply, "Content-Type"), "text/plain");
    EXPECT_EQ(events(), std::vector<std::string>{"download " + path("a.txt")});
    const HttpReply head = dav("HEAD", "/a.txt");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(headerOf(head, "Content-Length"), "5");
    EXPECT_EQ(head.body, "");

    expectError(dav("GET", "/missing.txt"), 404, "\"/missing.txt\" does not exist");
    expectError(dav("GET", "/../a.txt"), 404, "\"/../a.txt\" does not exist");
    expectError(dav("GET", "/.secret"), 403, "Downlading item name \".secret\" is not allowed");
    expectError(dav("GET", "/.hiddenfolder/inner.txt"), 403,
                "Downlading item name \"inner.txt\" is not allowed");
    const HttpReply folderReply = dav("GET", "/b");
    EXPECT_EQ(folderReply.status, 200);
    EXPECT_EQ(folderReply.body, "");
    server->setAllowedFileExtensions(std::vector<std::string>{"jpg"});
    expectError(dav("GET", "/a.txt"), 403, "Downlading item name \"a.txt\" is not allowed");
    server->setAllowedFileExtensions(std::vector<std::string>{"jpg", "txt"});
    EXPECT_EQ(dav("GET", "/a.txt").status, 200);
    server->setAllowedFileExtensions(std::nullopt);
    server->setAllowHiddenItems(true);
    EXPECT_EQ(dav("GET", "/.secret").body, "s");
}

TEST_F(DAVServerTest, GetAsksTheDelegateWhetherAFileMayBeListed) {
    write("a.txt", "hello");
    write("b.txt", "bye");
    delegate.setListAnswer([](const std::string& name) { return std::optional<bool>(name != "b.txt"); });
    EXPECT_EQ(dav("GET", "/a.txt").status, 200);
    expectError(dav("GET", "/b.txt"), 403, "Downlading item name \"b.txt\" is not allowed");
    EXPECT_EQ(delegate.listQuestions(), (std::vector<std::string>{"a.txt file", "b.txt file"}));
}

TEST_F(DAVServerTest, DeleteRows) {
    write("a.txt", "x");
    write(".hidden", "x");
    makeFolder("tree");
    makeFolder("tree/sub");
    write("tree/sub/f", "x");
    expectError(dav("DELETE", "/a.txt", "Depth: 0\r\n"), 400, "Unsupported 'Depth' header: 0");
    expectError(dav("DELETE", "/nothing"), 404, "\"/nothing\" does not exist");
    expectError(dav("DELETE", "/.hidden"), 403, "Deleting item name \".hidden\" is not allowed");
    server->setAllowedFileExtensions(std::vector<std::string>{"jpg"});
    expectError(dav("DELETE", "/a.txt"), 403, "Deleting item name \"a.txt\" is not allowed");
    server->setAllowedFileExtensions(std::nullopt);
    server->refuseDelete = true;
    expectError(dav("DELETE", "/a.txt"), 403, "Deleting \"/a.txt\" is not permitted");
    server->refuseDelete = false;
    EXPECT_TRUE(exists("a.txt"));

    EXPECT_EQ(dav("DELETE", "/a.txt", "Depth: infinity\r\n").status, 204);
    EXPECT_EQ(dav("DELETE", "/tree").status, 204);
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_FALSE(exists("tree"));
    EXPECT_EQ(events(), (std::vector<std::string>{"delete " + path("a.txt"), "delete " + path("tree")}));
}

TEST_F(DAVServerTest, DeleteNeverRemovesTheSharedFolder) {
    write("keep.txt", "x");
    for (const char* root : {"/", "//", "/.", "/sub/..", "/%2e"}) {
        const std::string requestPath = root;
        const HttpReply reply = dav("DELETE", requestPath);
        EXPECT_EQ(reply.status, 403) << root;
        EXPECT_TRUE(exists("keep.txt")) << root;
    }
    expectError(dav("DELETE", "/"), 403, "Deleting \"/\" is not permitted");
    EXPECT_TRUE(events().empty());
}

TEST_F(DAVServerTest, MkcolRows) {
    write("file", "x");
    makeFolder("folder");
    expectError(dav("MKCOL", "/new", "Content-Type: text/xml\r\n", "<x/>"), 415,
                "Unexpected request body for MKCOL method");
    EXPECT_EQ(dav("MKCOL", "/empty-body", "", "").status, 201); // a body of length 0 is no body
    expectError(dav("MKCOL", "/../outside"), 404, "\"/../outside\" does not exist");
    expectError(dav("MKCOL", "/missing/new"), 409, "Missing intermediate collection(s) for \"/missing/new\"");
    expectError(dav("MKCOL", "/file/new"), 409, "Missing intermediate collection(s) for \"/file/new\"");
    expectError(dav("MKCOL", "/.hidden"), 403, "Creating directory name \".hidden\" is not allowed");
    server->refuseCreate = true;
    expectError(dav("MKCOL", "/new"), 403, "Creating directory \"/new\" is not permitted");
    server->refuseCreate = false;
    // Something already there: 405, never a 500 that clients retry.
    expectError(dav("MKCOL", "/folder"), 405, "Failed creating directory \"/folder\"");
    expectError(dav("MKCOL", "/file"), 405, "Failed creating directory \"/file\"");
    expectError(dav("MKCOL", "/"), 405, "Failed creating directory \"/\"");
    EXPECT_FALSE(exists("new"));

    EXPECT_EQ(dav("MKCOL", "/new").status, 201);
    const auto status = platform::FileSystem::statusOfItem(path("new"));
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->isDirectory());
    EXPECT_EQ(events(), (std::vector<std::string>{"mkdir " + path("empty-body"), "mkdir " + path("new")}));
}

TEST(WebDAVServerLifecycle, StartsAndStopsTwentyTimes) {
    statictest::ScratchFolder folder;
    ASSERT_TRUE(folder.valid());
    const auto server = WebDAVServer::create(folder.path());
    for (int i = 0; i < 20; ++i) {
        Error error;
        ASSERT_TRUE(server->startWithOptions(
            {{WebServerOption_Port, 0LL}, {WebServerOption_BindToLocalhost, true}}, &error))
            << error.description;
        const HttpReply reply = coretest::exchange(static_cast<std::uint16_t>(server->port()),
                                                   "OPTIONS / HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(reply.status, 200);
        server->stop();
    }
    coretest::runMainQueue(0.05);
}

TEST_F(DAVServerTest, LinkedFoldersNeverLeadOutsideTheShare) {
    statictest::ScratchFolder outside;
    ASSERT_TRUE(statictest::writeFile(outside / "secret.txt", "do not share"));
    ASSERT_EQ(::symlink(outside.path().c_str(), path("elsewhere").c_str()), 0);
    makeFolder("inside");
    write("inside/a.txt", "shared");
    ASSERT_EQ(::symlink(path("inside").c_str(), path("alias").c_str()), 0);

    expectError(dav("GET", "/elsewhere/secret.txt"), 404, "\"/elsewhere/secret.txt\" does not exist");
    expectError(dav("PUT", "/elsewhere/new.txt", "", std::string("x")), 404,
                "\"/elsewhere/new.txt\" does not exist");
    expectError(dav("DELETE", "/elsewhere/secret.txt"), 404, "\"/elsewhere/secret.txt\" does not exist");
    EXPECT_EQ(dav("PROPFIND", "/elsewhere/secret.txt", "Depth: 0\r\n").status, 404);
    EXPECT_FALSE(platform::FileSystem::itemExists(outside / "new.txt"));
    EXPECT_TRUE(platform::FileSystem::itemExists(outside / "secret.txt"));
    // A link that stays inside the share still works.
    const HttpReply inside = dav("GET", "/alias/a.txt");
    EXPECT_EQ(inside.status, 200);
    EXPECT_EQ(inside.body, "shared");
}

// Another folder takes the path in one step, with no moment where the path names nothing: renamed
// over the (empty) shared folder, then exchanged with it. The very next request is served from it.
TEST_F(DAVServerTest, AFolderSwappedInOneStepIsServedAtTheNextRequest) {
    const std::string incoming = folder.path() + ".incoming";
    const std::string other = folder.path() + ".other";
    ASSERT_TRUE(platform::FileSystem::createDirectory(incoming));
    ASSERT_TRUE(statictest::writeFile(incoming + "/b.txt", "incoming"));
    ASSERT_TRUE(platform::FileSystem::createDirectory(other));
    ASSERT_TRUE(statictest::writeFile(other + "/c.txt", "other"));
    EXPECT_EQ(dav("PROPFIND", "/", "Depth: 1\r\n").status, 207); // the server holds the folder now
    ASSERT_EQ(::rename(incoming.c_str(), folder.path().c_str()), 0);
    const HttpReply renamed = dav("GET", "/b.txt");
    EXPECT_EQ(renamed.status, 200);
    EXPECT_EQ(renamed.body, "incoming");

    ASSERT_EQ(::renameat2(AT_FDCWD, other.c_str(), AT_FDCWD, folder.path().c_str(), RENAME_EXCHANGE), 0);
    const HttpReply exchanged = dav("GET", "/c.txt");
    EXPECT_EQ(exchanged.status, 200);
    EXPECT_EQ(exchanged.body, "other");
    EXPECT_EQ(dav("GET", "/b.txt").status, 404);
    EXPECT_EQ(dav("PUT", "/d.txt", "", std::string("d")).status, 201);
    EXPECT_EQ(snapshot(), "c.txt=other\nd.txt=d\n");
    EXPECT_TRUE(platform::FileSystem::removeItem(other)); // now the folder that held b.txt
}

// A copy of a folder leaves out the server's work in progress at every depth: the body of a PUT
// still being received. A user's hidden items go with the copy, a folder named like the file
// manager's staging folder too (that one is only ever at the root of the share).
TEST_F(DAVServerTest, CopyOfAFolderLeavesOutTheServersWorkInProgress) {
    makeFolder("d");
    makeFolder("d/sub");
    makeFolder("d/.lanyard-uploads");
    write("d/.lanyard-uploads/part", "staged");
    write("d/.mine", "kept");
    write("d/a.txt", "a");
    coretest::RawClient putting;
    ASSERT_TRUE(putting.connect(AF_INET, port()));
    ASSERT_TRUE(
        putting.send("PUT /d/sub/b.txt HTTP/1.1\r\n" + hostHeader() + "Content-Length: 10\r\n\r\nhalf."));
    const auto staged = [this] {
        for (const auto& entry : std::filesystem::directory_iterator(path("d/sub"))) {
            if (entry.path().filename().string().rfind(".lanyard-staging-", 0) == 0) {
                return true;
            }
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!staged() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(staged());
    EXPECT_EQ(dav("COPY", "/d", "Destination: " + url("/e") + "\r\n").status, 201);
    const std::string copied = ".lanyard-uploads/\n.lanyard-uploads/part=staged\n.mine=kept\na.txt=a\nsub/\n";
    EXPECT_EQ(snapshot("e"), copied);
    ASSERT_TRUE(putting.send("done."));
    EXPECT_EQ(coretest::parseReply(putting.readAll()).status, 201);
    EXPECT_EQ(snapshot("e"), copied);
    EXPECT_EQ(contents("d/sub/b.txt"), "half.done.");
}
