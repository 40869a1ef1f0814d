// WebDAV requests of a hostile or racing client: refusals given on the head (before "100
// Continue"), compression bombs, and Overwrite: F against a PUT that creates the destination
// (raced, and made certain through the fault injector of AtomicReplace).

#include "WebDAVTestSupport.h"

#include "foundation/AtomicReplace.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <thread>

using coretest::HttpReply;
using davtest::DAVServerTest;
using davtest::expectError;

namespace {

// The names in a folder, sorted, one per line (contents are left out: they may be large).
std::string names(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        found.push_back(std::filesystem::relative(entry.path(), folder).string());
    }
    std::sort(found.begin(), found.end());
    std::string text;
    for (const auto& name : found) {
        text += name + "\n";
    }
    return text;
}

} // namespace

// A request that will be refused whatever its body holds gets its final status at once: no
// "100 Continue", no body read.
TEST_F(DAVServerTest, RefusalsOnTheHeadComeBeforeContinue) {
    write("a.txt", "keep");
    const std::pair<std::string, std::string> cases[] = {
        {"PUT /.h", "HTTP/1.1 403 "},
        {"PUT /no/such/dir/x", "HTTP/1.1 409 "},
        {"PUT /a.txt HTTP/1.1\r\nContent-Range: bytes 0-0/1", "HTTP/1.1 400 "},
        {"MKCOL /m", "HTTP/1.1 415 "},
    };
    for (const auto& [start, expected] : cases) {
        const std::string line = start.find(" HTTP/1.1") == std::string::npos ? start + " HTTP/1.1" : start;
        coretest::RawClient client;
        ASSERT_TRUE(client.connect(AF_INET, port()));
        ASSERT_TRUE(client.send(line + "\r\n" + hostHeader() +
                                "Expect: 100-continue\r\nContent-Length: 1000000000\r\n\r\n"));
        const std::string reply = client.readUntil("\r\n\r\n");
        EXPECT_EQ(reply.rfind(expected, 0), 0u) << start << ": " << reply;
    }
    // A PUT that will be taken gets "100 Continue" first.
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port()));
    ASSERT_TRUE(client.send("PUT /b.txt HTTP/1.1\r\n" + hostHeader() +
                            "Expect: 100-continue\r\nContent-Length: 5\r\n\r\n"));
    EXPECT_EQ(client.readUntil("\r\n\r\n").rfind("HTTP/1.1 100 ", 0), 0u);
    ASSERT_TRUE(client.send("hello"));
    EXPECT_EQ(coretest::parseReply(client.readAll()).status, 201);
    EXPECT_EQ(snapshot(), "a.txt=keep\nb.txt=hello\n");
}

// A small gzip body that would decode to far more than its bound is refused, and nothing of it
// stays on disk (not even the staged part).
TEST_F(DAVServerTest, GzipBombPutIsRefusedAndLeavesNothing) {
    write("a.txt", "keep");
    const std::string packed = coretest::gzipCompress(std::string(64u << 20, '\0'));
    ASSERT_LT(packed.size(), 1u << 20);
    EXPECT_EQ(dav("PUT", "/a.txt", "Content-Encoding: gzip\r\n", packed).status, 413);
    EXPECT_EQ(dav("PUT", "/new.txt", "Content-Encoding: gzip\r\n", packed).status, 413);
    EXPECT_EQ(names(folder.path()), "a.txt\n");
    EXPECT_EQ(contents("a.txt"), "keep");
    // Within the bound a gzip body is stored decoded.
    EXPECT_EQ(dav("PUT", "/small.txt", "Content-Encoding: gzip\r\n", coretest::gzipCompress("hello")).status,
              201);
    EXPECT_EQ(contents("small.txt"), "hello");
}

// COPY and MOVE with "Overwrite: F" racing a PUT that creates their destination: whichever comes
// first, the PUT's bytes are what stays (the copy or move answers 412 when it comes second).
TEST_F(DAVServerTest, OverwriteFalseNeverLosesARacingPut) {
    for (const std::string method : {"COPY", "MOVE"}) {
        int refused = 0;
        for (int round = 0; round < 100; ++round) {
            std::filesystem::remove(path("d.txt"));
            write("s.txt", "source");
            const std::string bytes = method + " round " + std::to_string(round);
            int putStatus = 0;
            std::thread put([&] { putStatus = dav("PUT", "/d.txt", "", bytes).status; });
            const int status =
                dav(method, "/s.txt", "Destination: " + url("/d.txt") + "\r\nOverwrite: F\r\n").status;
            put.join();
            EXPECT_TRUE(putStatus == 201 || putStatus == 204) << putStatus;
            EXPECT_TRUE(status == 201 || status == 412) << method << " " << status;
            ASSERT_EQ(contents("d.txt"), bytes) << method << " round " << round << " answered " << status;
            refused += status == 412;
        }
        std::cout << method << ": " << refused << " of 100 rounds answered 412\n";
    }
}

// The same race made certain: the destination appears between the staging and the last step of
// the copy or move, and stays as it came.
TEST_F(DAVServerTest, OverwriteFalseNeverReplacesADestinationThatAppearsMeanwhile) {
    for (const std::string method : {"COPY", "MOVE"}) {
        SCOPED_TRACE(method);
        std::filesystem::remove(path("d.txt"));
        write("s.txt", "source");
        std::atomic<bool> appeared{false};
        platform::AtomicReplace::setFaultInjector([this, &appeared](std::string_view step) {
            if (step == "rename" && !appeared.exchange(true)) {
                write("d.txt", "theirs");
            }
            return 0;
        });
        expectError(dav(method, "/s.txt", "Destination: " + url("/d.txt") + "\r\nOverwrite: F\r\n"), 412,
                    "Destination \"/d.txt\" already exists");
        platform::AtomicReplace::setFaultInjector({});
        EXPECT_TRUE(appeared);
        EXPECT_EQ(snapshot(), "d.txt=theirs\ns.txt=source\n");
    }
}
