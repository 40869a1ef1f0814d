// PUT, COPY and MOVE on a real socket: every row of their tables, the refusals that protect data
// (the shared folder, copies onto themselves, missing sources) and names that need escaping.

#include "WebDAVTestSupport.h"

#include "WebServerFunctions.h"

#include "foundation/FileSystem.h"
#include "foundation/TemporaryFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

using coretest::HttpReply;
using davtest::DAVServerTest;
using davtest::expectError;

TEST_F(DAVServerTest, PutCreatesAndReplacesFiles) {
    EXPECT_EQ(dav("PUT", "/new.txt", "", "first").status, 201);
    EXPECT_EQ(contents("new.txt"), "first");
    EXPECT_EQ(dav("PUT", "/new.txt", "", "second, longer").status, 204);
    EXPECT_EQ(contents("new.txt"), "second, longer");
    EXPECT_EQ(events(), (std::vector<std::string>{"upload " + path("new.txt"), "upload " + path("new.txt")}));
    // No body, an empty body and a chunked body.
    EXPECT_EQ(dav("PUT", "/empty.txt").status, 201);
    EXPECT_EQ(dav("PUT", "/new.txt").status, 204);
    EXPECT_EQ(dav("PUT", "/zero.txt", "", "").status, 201);
    const HttpReply chunked = coretest::exchange(port(), "PUT /c.txt HTTP/1.1\r\n" + hostHeader() +
                                                             "Transfer-Encoding: chunked\r\n\r\n"
                                                             "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
    EXPECT_EQ(chunked.status, 201);
    // Staged privately, each is stored with the permissions a new file of the user's gets.
    for (const char* name : {"new.txt", "empty.txt", "c.txt"}) {
        EXPECT_EQ(std::filesystem::status(path(name)).permissions(),
                  static_cast<std::filesystem::perms>(platform::publishedFileMode()))
            << name;
    }
    // Nothing is left beside the files.
    EXPECT_EQ(snapshot(), "c.txt=hello world\nempty.txt=\nnew.txt=\nzero.txt=\n");
}

TEST_F(DAVServerTest, PutRows) {
    makeFolder("folder");
    write("a.txt", "keep");
    expectError(dav("PUT", "/a.txt", "Range: bytes=0-3\r\n", "nope"), 400, "Range uploads not supported");
    expectError(dav("PUT", "/a.txt", "Content-Range: bytes 5-7/10\r\n", "nop"), 400,
                "Range uploads not supported");
    expectError(dav("PUT", "/../escape.txt", "", "x"), 404, "\"/../escape.txt\" does not exist");
    expectError(dav("PUT", "/missing/a.txt", "", "x"), 409,
                "Missing intermediate collection(s) for \"/missing/a.txt\"");
    expectError(dav("PUT", "/a.txt/b.txt", "", "x"), 409,
                "Missing intermediate collection(s) for \"/a.txt/b.txt\"");
    expectError(dav("PUT", "/folder", "", "x"), 405, "PUT not allowed on existing collection \"/folder\"");
    expectError(dav("PUT", "/", "", "x"), 405, "PUT not allowed on existing collection \"/\"");
    expectError(dav("PUT", "/.hidden", "", "x"), 403, "Uploading file name \".hidden\" is not allowed");
    server->setAllowedFileExtensions(std::vector<std::string>{"jpg"});
    expectError(dav("PUT", "/b.txt", "", "x"), 403, "Uploading file name \"b.txt\" is not allowed");
    EXPECT_EQ(dav("PUT", "/b.JPG", "", "x").status, 201);
    server->setAllowedFileExtensions(std::nullopt);
    server->refuseUpload = true;
    expectError(dav("PUT", "/a.txt", "", "x"), 403, "Uploading file to \"/a.txt\" is not permitted");
    EXPECT_EQ(snapshot(), "a.txt=keep\nb.JPG=x\nfolder/\n");
}

// A PUT whose staged body another program removes, makes again (empty, or as long as the body) or
// cuts while it is received stores nothing and is never answered with success: the target is as it
// was, neither made, emptied, replaced nor cut short. The staged body is readable by the server's
// user only.
TEST_F(DAVServerTest, APutWhoseStagedBodyGoesMeanwhileStoresNothing) {
    write("old.txt", "keep");
    const std::string body(64 * 1024, 'x');
    const struct {
        const char* what;
        std::function<bool(const std::string&)> act;
    } meddlings[] = {
        {"removed", [](const std::string& staged) { return ::unlink(staged.c_str()) == 0; }},
        {"made again",
         [](const std::string& staged) {
             const int made = ::unlink(staged.c_str()) == 0
                                  ? ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644)
                                  : -1;
             return made != -1 && ::close(made) == 0;
         }},
        {"made again as long",
         [&](const std::string& staged) {
             return ::unlink(staged.c_str()) == 0 &&
                    statictest::writeFile(staged, std::string(body.size(), 'y'));
         }},
        {"cut", [](const std::string& staged) { return ::truncate(staged.c_str(), 0) == 0; }},
    };
    for (const auto& meddling : meddlings)
        for (const std::string name : {"new.txt", "old.txt"}) {
            SCOPED_TRACE(std::string(meddling.what) + " " + name);
            coretest::RawClient client;
            ASSERT_TRUE(client.connect(AF_INET, port()));
            ASSERT_TRUE(client.send("PUT /" + name + " HTTP/1.1\r\n" + hostHeader() +
                                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                    body.substr(0, body.size() / 2)));
            std::optional<std::string> staged;
            for (int attempt = 0; attempt < 500 && !staged; ++attempt) {
                for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
                    if (entry.path().filename().string().rfind(".lanyard-staging-", 0) == 0) {
                        staged = entry.path().string();
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ASSERT_TRUE(staged);
            EXPECT_EQ(std::filesystem::status(*staged).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
                << "readable by others while it is received";
            ASSERT_TRUE(meddling.act(*staged));
            ASSERT_TRUE(client.send(body.substr(body.size() / 2)));
            EXPECT_EQ(coretest::parseReply(client.readAll()).status, 500);
            EXPECT_EQ(snapshot(), "old.txt=keep\n");
        }
}

TEST_F(DAVServerTest, CopyRows) {
    write("a.txt", "A");
    write("b.txt", "B");
    write(".hidden", "H");
    makeFolder("dir");
    const std::string to = "Destination: " + url("/dir/a.txt") + "\r\n";
    expectError(dav("COPY", "/a.txt", to + "Depth: 0\r\n"), 400, "Unsupported 'Depth' header: 0");
    expectError(dav("COPY", "/none.txt", to), 404, "\"/none.txt\" does not exist");
    expectError(dav("COPY", "/../x", to), 404, "\"/../x\" does not exist");
    expectError(dav("COPY", "/.hidden", to), 403, "Copying item name \".hidden\" is not allowed");
    expectError(dav("COPY", "/a.txt"), 400, "Malformed 'Destination' header: ");
    // Another server's URL, also one that holds this server's authority as text, is not taken for
    // a path of this one.
    expectError(dav("COPY", "/a.txt", "Destination: http://elsewhere/dir/a.txt\r\n"), 502,
                "Destination \"http://elsewhere/dir/a.txt\" is on another server");
    const std::string spoofed = "http://evil.example/127.0.0.1:" + std::to_string(port()) + "/dir/a.txt";
    EXPECT_EQ(dav("COPY", "/a.txt", "Destination: " + spoofed + "\r\n").status, 502);
    EXPECT_FALSE(platform::FileSystem::itemExists(path("dir/a.txt")));
    expectError(coretest::exchange(port(), "COPY /a.txt HTTP/1.0\r\n" + to + "\r\n"), 400,
                "Malformed 'Destination' header: " + url("/dir/a.txt"));
    expectError(dav("COPY", "/a.txt", "Destination: " + url("/../a.txt") + "\r\n"), 404,
                "\"/a.txt\" does not exist");
    expectError(dav("COPY", "/a.txt", "Destination: " + url("/no/a.txt") + "\r\n"), 409,
                "Invalid destination \"/no/a.txt\"");
    expectError(dav("COPY", "/a.txt", "Destination: " + url("/.a.txt") + "\r\n"), 403,
                "Copying to item name \".a.txt\" is not allowed");
    expectError(dav("COPY", "/a.txt", "Destination: " + url("/b.txt") + "\r\nOverwrite: F\r\n"), 412,
                "Destination \"/b.txt\" already exists");
    server->refuseCopy = true;
    expectError(dav("COPY", "/a.txt", to), 403, "Copying \"/a.txt\" to \"/dir/a.txt\" is not permitted");
    server->refuseCopy = false;
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(snapshot(), ".hidden=H\na.txt=A\nb.txt=B\ndir/\n");

    EXPECT_EQ(dav("COPY", "/a.txt", to).status, 201);
    EXPECT_EQ(dav("COPY", "/a.txt", "Destination: " + url("/b.txt") + "\r\n").status,
              204); // no Overwrite: replace
    EXPECT_EQ(snapshot(), ".hidden=H\na.txt=A\nb.txt=A\ndir/\ndir/a.txt=A\n");
    EXPECT_EQ(events(), (std::vector<std::string>{"copy " + path("a.txt") + " -> " + path("dir/a.txt"),
                                                  "copy " + path("a.txt") + " -> " + path("b.txt")}));
}

TEST_F(DAVServerTest, CopyCopiesFoldersWholeAndReplacesThemWhole) {
    makeFolder("src");
    makeFolder("src/sub");
    write("src/sub/f.txt", "F");
    write("src/g.txt", "G");
    makeFolder("dst");
    write("dst/old.txt", "old");
    EXPECT_EQ(dav("COPY", "/src", "Destination: " + url("/copy") + "\r\nDepth: infinity\r\n").status, 201);
    EXPECT_EQ(dav("COPY", "/src/", "Destination: " + url("/dst/") + "\r\nOverwrite: T\r\n").status, 204);
    EXPECT_EQ(snapshot("copy"), snapshot("src"));
    EXPECT_EQ(snapshot("dst"), snapshot("src")); // the old content is gone, not merged
    EXPECT_EQ(snapshot("src"), "g.txt=G\nsub/\nsub/f.txt=F\n");
}

TEST_F(DAVServerTest, MoveRows) {
    write("a.txt", "A");
    write("b.txt", "B");
    makeFolder("dir");
    const std::string to = "Destination: " + url("/dir/a.txt") + "\r\n";
    EXPECT_EQ(dav("MOVE", "/a.txt", "Depth: 0\r\n" + to).status, 201) << "MOVE does not look at Depth";
    EXPECT_EQ(dav("MOVE", "/dir/a.txt", "Destination: " + url("/a.txt") + "\r\n").status, 201);
    expectError(dav("MOVE", "/a.txt", "Destination: " + url("/b.txt") + "\r\n"), 412,
                "Destination \"/b.txt\" already exists");
    expectError(dav("MOVE", "/a.txt", "Destination: " + url("/b.txt") + "\r\nOverwrite: F\r\n"), 412,
                "Destination \"/b.txt\" already exists");
    expectError(dav("MOVE", "/a.txt", "Destination: " + url("/.b") + "\r\n"), 403,
                "Moving to item name \".b\" is not allowed");
    server->refuseMove = true;
    expectError(dav("MOVE", "/a.txt", to), 403, "Moving \"/a.txt\" to \"/dir/a.txt\" is not permitted");
    server->refuseMove = false;
    EXPECT_EQ(snapshot(), "a.txt=A\nb.txt=B\ndir/\n");

    EXPECT_EQ(dav("MOVE", "/a.txt", "Destination: " + url("/b.txt") + "\r\nOverwrite: T\r\n").status, 204);
    EXPECT_EQ(snapshot(), "b.txt=A\ndir/\n");
    EXPECT_EQ(events(), (std::vector<std::string>{"move " + path("a.txt") + " -> " + path("dir/a.txt"),
                                                  "move " + path("dir/a.txt") + " -> " + path("a.txt"),
                                                  "move " + path("a.txt") + " -> " + path("b.txt")}));
}

TEST_F(DAVServerTest, MoveReplacesAFolderByAFileAndBack) {
    makeFolder("dir");
    write("dir/inside.txt", "I");
    write("f.txt", "F");
    EXPECT_EQ(dav("MOVE", "/f.txt", "Destination: " + url("/dir") + "\r\nOverwrite: T\r\n").status, 204);
    EXPECT_EQ(snapshot(), "dir=F\n");
    makeFolder("d2");
    write("d2/x", "X");
    EXPECT_EQ(dav("MOVE", "/d2", "Destination: " + url("/dir") + "\r\nOverwrite: T\r\n").status, 204);
    EXPECT_EQ(snapshot(), "dir/\ndir/x=X\n");
}

TEST_F(DAVServerTest, CopyAndMoveNeverDestroyTheirOwnData) {
    makeFolder("dir");
    makeFolder("dir/sub");
    write("dir/sub/f.txt", "F");
    write("a.txt", "A");
    const std::string before = snapshot();
    const std::string overwrite = "Overwrite: T\r\n";
    for (const char* method : {"COPY", "MOVE"}) {
        const std::string verb = std::string(method) == "COPY" ? "Copying" : "Moving";
        expectError(dav(method, "/a.txt", "Destination: " + url("/a.txt") + "\r\n" + overwrite), 403,
                    verb + " \"/a.txt\" to \"/a.txt\" is not permitted");
        expectError(dav(method, "/dir", "Destination: " + url("/dir/sub/copy") + "\r\n" + overwrite), 403,
                    verb + " \"/dir\" to \"/dir/sub/copy\" is not permitted");
        expectError(dav(method, "/dir/sub", "Destination: " + url("/dir") + "\r\n" + overwrite), 403,
                    verb + " \"/dir/sub\" to \"/dir\" is not permitted");
        expectError(dav(method, "/", "Destination: " + url("/dir/root") + "\r\n" + overwrite), 403,
                    verb + " \"/\" to \"/dir/root\" is not permitted");
        expectError(dav(method, "/a.txt", "Destination: " + url("/") + "\r\n" + overwrite), 403,
                    verb + " \"/a.txt\" to \"/\" is not permitted");
        expectError(dav(method, "/a.txt", "Destination: " + url("/dir/..") + "\r\n" + overwrite), 403,
                    verb + " \"/a.txt\" to \"/dir/..\" is not permitted");
        EXPECT_EQ(snapshot(), before) << method;
    }
    // A folder whose name begins with the source's name is not inside it.
    EXPECT_EQ(dav("COPY", "/dir", "Destination: " + url("/dir2") + "\r\n").status, 201);
    EXPECT_TRUE(platform::FileSystem::itemExists(folder.path()));
}

TEST_F(DAVServerTest, NamesThatNeedEscapingAreStoredListedFetchedAndMoved) {
    const std::string name = "a b%#&'\"<>+?;=ü€.txt";
    const std::string escaped = EscapeURLString(name);
    EXPECT_EQ(dav("PUT", "/" + escaped, "", "special").status, 201);
    EXPECT_EQ(contents(name), "special");
    EXPECT_EQ(dav("GET", "/" + escaped).body, "special");

    const HttpReply listing = dav("PROPFIND", "/", "Depth: 1\r\n");
    EXPECT_EQ(listing.status, 207);
    const std::string href = "<D:href>/a%20b%25%23%26'%22%3C%3E%2B%3F;=%C3%BC%E2%82%AC.txt</D:href>";
    EXPECT_NE(listing.body.find(href), std::string::npos) << listing.body;
    // What a client reads back from the href leads to the same file.
    const std::string hrefPath = href.substr(8, href.size() - 17);
    EXPECT_EQ(UnescapeURLString(hrefPath), "/" + name);
    EXPECT_EQ(dav("GET", hrefPath).body, "special");

    const std::string target = "dir ü & #2";
    makeFolder(target);
    EXPECT_EQ(
        dav("MOVE", hrefPath, "Destination: " + url("/" + EscapeURLString(target) + "/" + escaped) + "\r\n")
            .status,
        201);
    EXPECT_EQ(contents(target + "/" + name), "special");
    EXPECT_FALSE(exists(name));
    EXPECT_EQ(dav("COPY", "/" + EscapeURLString(target) + "/" + escaped,
                  "Destination: " + url("/" + EscapeURLString("copy €")) + "\r\n")
                  .status,
              201);
    EXPECT_EQ(contents("copy €"), "special");
}
