// WebDAV byte ranges and conditional requests on a real socket: GET of one byte range (and
// If-Range), and PUT and DELETE that keep "If-Match", "If-None-Match" and "If-Unmodified-Since",
// create-only PUTs racing for one name included.

#include "WebDAVTestSupport.h"
#include "WebServerFunctions.h"

#include "WebServerItemLocks.h"

#include "dispatch/GlobalQueue.h"
#include "foundation/AtomicReplace.h"
#include "foundation/SharedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using coretest::HttpReply;
using davtest::DAVServerTest;
using platform::AtomicReplace;

namespace {

std::string headerOf(const HttpReply& reply, const char* name) {
    const std::string* value = reply.header(name);
    return value ? *value : "<none>";
}

// 1000 bytes that differ from their neighbours, so a range served from the wrong place shows.
std::string patternBytes() {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) {
        bytes.push_back(static_cast<char>(i % 251));
    }
    return bytes;
}

// Waits (a bounded while) until a writer waits for the item's lock.
bool someoneWaitsFor(const platform::SharedItem& item) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (WebServerItemLocks::waitingFor(item) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WebServerItemLocks::waitingFor(item) > 0;
}

// The cases where the test holds an item's lock itself while requests wait for it.
class WebDAVItemLocks : public DAVServerTest {
protected:
    platform::SharedItem itemOf(const std::string& name) {
        auto item = platform::SharedFolder::itemAtPath(path(name));
        EXPECT_TRUE(item) << name;
        return item ? std::move(*item) : platform::SharedItem{};
    }
};

} // namespace

TEST_F(DAVServerTest, GetServesOneByteRange) {
    const std::string bytes = patternBytes();
    write("f.bin", bytes);
    write("empty.bin", "");
    struct Row {
        const char* range;
        int status;
        const char* contentRange;
        std::size_t offset;
        std::size_t length;
    };
    for (const Row& row : {
             Row{"bytes=100-199", 206, "bytes 100-199/1000", 100, 100},
             Row{"bytes=-50", 206, "bytes 950-999/1000", 950, 50},
             Row{"bytes=900-", 206, "bytes 900-999/1000", 900, 100},
             Row{"bytes=990-5000", 206, "bytes 990-999/1000", 990, 10},
             Row{"bytes=-5000", 206, "bytes 0-999/1000", 0, 1000},
             Row{"bytes=1000-", 416, "bytes */1000", 0, 0},
             Row{"bytes=5000-5010", 416, "bytes */1000", 0, 0},
             // Several ranges, or a header that cannot be read: the whole file.
             Row{"bytes=0-1,5-6", 200, "<none>", 0, 1000},
             Row{"bytes=abc", 200, "<none>", 0, 1000},
             Row{"bytes=a-b", 200, "<none>", 0, 1000},
             Row{"bytes=0x0-0x5", 200, "<none>", 0, 1000},
             Row{"bytes=1-2x", 200, "<none>", 0, 1000},
             Row{"bytes=+1-2", 200, "<none>", 0, 1000},
             Row{"bytes=500-400", 200, "<none>", 0, 1000},
             Row{"items=0-5", 200, "<none>", 0, 1000},
             Row{nullptr, 200, "<none>", 0, 1000},
         }) {
        SCOPED_TRACE(row.range ? row.range : "no range");
        const std::string header = row.range ? std::string("Range: ") + row.range + "\r\n" : "";
        const HttpReply reply = dav("GET", "/f.bin", header);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(headerOf(reply, "Content-Range"), row.contentRange);
        EXPECT_EQ(headerOf(reply, "Accept-Ranges"), "bytes");
        if (row.status != 416) {
            EXPECT_TRUE(reply.body == bytes.substr(row.offset, row.length));
            EXPECT_EQ(headerOf(reply, "Content-Length"), std::to_string(row.length));
        }
    }
    const HttpReply head = dav("HEAD", "/f.bin");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(headerOf(head, "Accept-Ranges"), "bytes");
    EXPECT_EQ(headerOf(head, "Content-Length"), "1000");
    const HttpReply empty = dav("GET", "/empty.bin", "Range: bytes=0-\r\n");
    EXPECT_EQ(empty.status, 200);
    EXPECT_EQ(empty.body, "");
}

// The file manager's static handlers read a Range header as WebDAV's GET does: one that cannot be
// read gets the whole file.
TEST_F(DAVServerTest, EveryRouteReadsRangesAlike) {
    const std::string bytes = patternBytes();
    write("f.bin", bytes);
    server->stop();
    server->addGETHandlerForBasePath("/static/", folder.path(), std::nullopt, 0, true);
    server->addGETHandlerForPathWithFile("/file", path("f.bin"), false, 0, true);
    Error error;
    ASSERT_TRUE(server->startWithOptions(
        {{WebServerOption_Port, 0LL}, {WebServerOption_BindToLocalhost, true}}, &error));
    struct Row {
        const char* range;
        int status;
        std::size_t offset;
        std::size_t length;
    };
    for (const char* route : {"/f.bin", "/static/f.bin", "/file"}) {
        for (const Row& row : {
                 Row{"bytes=0-9", 206, 0, 10},
                 Row{"bytes=-5", 206, 995, 5},
                 Row{"bytes=990-", 206, 990, 10},
                 Row{"bytes=0x0-0x5", 200, 0, 1000},
                 Row{"bytes=a-b", 200, 0, 1000},
                 Row{"bytes=1-2x", 200, 0, 1000},
                 Row{"bytes=+1-2", 200, 0, 1000},
                 Row{"bytes=0-1,5-6", 200, 0, 1000},
             }) {
            SCOPED_TRACE(std::string(route) + " " + row.range);
            const HttpReply reply = dav("GET", route, std::string("Range: ") + row.range + "\r\n");
            EXPECT_EQ(reply.status, row.status);
            EXPECT_TRUE(reply.body == bytes.substr(row.offset, row.length));
        }
    }
}

// If-Range: the range only while the file is still the version the client names (by its ETag, or
// by a date that is over); otherwise the whole file.
TEST_F(DAVServerTest, GetServesARangeOnlyOfTheVersionIfRangeNames) {
    write("f.bin", patternBytes());
    const timespec times[2] = {{1577836800, 0}, {1577836800, 0}}; // 2020-01-01 00:00:00 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, path("f.bin").c_str(), times, 0), 0);
    const std::string tag = headerOf(dav("HEAD", "/f.bin"), "ETag");
    for (const auto& [ifRange, status] : std::vector<std::pair<std::string, int>>{
             {tag, 206},
             {"\"" + tag + "\"", 206},
             {"Wed, 01 Jan 2020 00:00:00 GMT", 206},
             {"\"other\"", 200},
             {"W/\"" + tag + "\"", 200},
             {"Wed, 01 Jan 2020 00:00:01 GMT", 200},
             {tag + ", " + tag, 200}, // a list is no If-Range value
         }) {
        EXPECT_EQ(dav("GET", "/f.bin", "Range: bytes=0-9\r\nIf-Range: " + ifRange + "\r\n").status, status)
            << ifRange;
    }
    // A date of the second under way may name two versions of the file: the whole file is sent.
    // Tried until one request falls within the second the file was written in.
    int withinTheSecond = 0;
    for (int attempt = 0; attempt < 20 && withinTheSecond == 0; ++attempt) {
        const auto second = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        const timespec now[2] = {{second.time_since_epoch().count(), 0},
                                 {second.time_since_epoch().count(), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path("f.bin").c_str(), now, 0), 0);
        const HttpReply reply =
            dav("GET", "/f.bin", "Range: bytes=0-9\r\nIf-Range: " + FormatRFC822Date(second) + "\r\n");
        if (std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) == second) {
            withinTheSecond = reply.status;
        }
    }
    EXPECT_EQ(withinTheSecond, 200);
}

// A false condition answers 412 and changes nothing; a true one lets the method run. The ETag
// compared is the one GET sends, echoed with or without quotes.
TEST_F(DAVServerTest, PutAndDeleteKeepTheirPreconditions) {
    write("a.txt", "old");
    const std::string tag = headerOf(dav("GET", "/a.txt"), "ETag");
    ASSERT_NE(tag, "<none>");
    struct Row {
        const char* method;
        const char* path;
        std::string header;
    };
    for (const Row& row : {
             Row{"PUT", "/a.txt", "If-None-Match: *"},
             Row{"PUT", "/a.txt", "If-None-Match: \"x\", \"" + tag + "\""},
             Row{"PUT", "/a.txt", "If-Match: \"nope\""},
             Row{"PUT", "/a.txt", "If-Match: W/\"" + tag + "\""}, // a weak tag never matches strongly
             Row{"PUT", "/a.txt", "If-Unmodified-Since: Thu, 01 Jan 1970 00:00:00 GMT"},
             Row{"PUT", "/new.txt", "If-Match: *"},
             Row{"PUT", "/new.txt", "If-Match: " + tag},
             Row{"DELETE", "/a.txt", "If-Match: \"nope\""},
             Row{"DELETE", "/a.txt", "If-None-Match: " + tag},
             Row{"DELETE", "/a.txt", "If-Unmodified-Since: Thu, 01 Jan 1970 00:00:00 GMT"},
             // The two older date forms every recipient reads.
             Row{"PUT", "/a.txt", "If-Unmodified-Since: Sunday, 06-Nov-94 08:49:37 GMT"},
             Row{"PUT", "/a.txt", "If-Unmodified-Since: Sun Nov  6 08:49:37 1994"},
             Row{"DELETE", "/a.txt", "If-Unmodified-Since: Sunday, 06-Nov-94 08:49:37 GMT"},
         }) {
        SCOPED_TRACE(std::string(row.method) + " " + row.path + " " + row.header);
        const bool isPut = std::string(row.method) == "PUT";
        const HttpReply reply = dav(row.method, row.path, row.header + "\r\n",
                                    isPut ? std::optional<std::string>("new") : std::nullopt);
        davtest::expectError(reply, 412, std::string("Precondition failed for \"") + row.path + "\"");
        EXPECT_EQ(snapshot(), "a.txt=old\n");
    }
    // Refused on the head, before "100 Continue".
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, port()));
    ASSERT_TRUE(client.send("PUT /a.txt HTTP/1.1\r\n" + hostHeader() +
                            "If-None-Match: *\r\nExpect: 100-continue\r\nContent-Length: 1000000\r\n\r\n"));
    EXPECT_EQ(client.readUntil("\r\n\r\n").rfind("HTTP/1.1 412 ", 0), 0u);

    EXPECT_EQ(dav("PUT", "/a.txt", "If-Match: " + tag + "\r\n", "second").status, 204);
    EXPECT_EQ(dav("PUT", "/a.txt", "If-Match: " + tag + "\r\n", "stale").status,
              412); // a new file, a new tag
    const std::string second = headerOf(dav("GET", "/a.txt"), "ETag");
    EXPECT_EQ(dav("PUT", "/a.txt", "If-Match: \"x\", \"" + second + "\"\r\n", "third").status, 204);
    EXPECT_EQ(dav("PUT", "/a.txt", "If-Match: *\r\nIf-Unmodified-Since: Thu, 01 Jan 1970 00:00:00 GMT\r\n",
                  "fourth")
                  .status,
              204); // If-Match decides; the date is not looked at
    EXPECT_EQ(dav("PUT", "/b.txt", "If-None-Match: *\r\n", "b").status, 201);
    EXPECT_EQ(dav("PUT", "/c.txt", "If-None-Match: \"x\"\r\n", "c").status, 201);
    EXPECT_EQ(dav("PUT", "/c.txt", "If-Unmodified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n", "c2").status,
              204);
    EXPECT_EQ(snapshot(), "a.txt=fourth\nb.txt=b\nc.txt=c2\n");
    const std::string last = headerOf(dav("GET", "/a.txt"), "ETag");
    EXPECT_EQ(dav("DELETE", "/a.txt", "If-Match: \"" + last + "\"\r\n").status, 204);
    EXPECT_EQ(dav("DELETE", "/b.txt", "If-None-Match: \"x\"\r\n").status, 204);
    EXPECT_EQ(snapshot(), "c.txt=c2\n");
}

// COPY and MOVE keep the conditions on their source, as the other methods on it do.
TEST_F(DAVServerTest, CopyAndMoveKeepTheirSourcesPreconditions) {
    write("a.txt", "old");
    const std::string tag = headerOf(dav("GET", "/a.txt"), "ETag");
    const std::string toB = "Destination: " + url("/b.txt") + "\r\n";
    for (const auto& [method, condition] : std::vector<std::pair<std::string, std::string>>{
             {"COPY", "If-Match: \"nope\""},
             {"MOVE", "If-Match: \"nope\""},
             {"COPY", "If-None-Match: \"" + tag + "\""},
             {"MOVE", "If-Unmodified-Since: Sun Nov  6 08:49:37 1994"},
         }) {
        SCOPED_TRACE(method + " " + condition);
        davtest::expectError(dav(method, "/a.txt", toB + condition + "\r\n"), 412,
                             "Precondition failed for \"/a.txt\"");
        EXPECT_EQ(snapshot(), "a.txt=old\n");
    }
    EXPECT_EQ(dav("COPY", "/a.txt", toB + "If-Match: \"" + tag + "\"\r\n").status, 201);
    EXPECT_EQ(dav("MOVE", "/b.txt", "Destination: " + url("/c.txt") + "\r\nIf-Match: *\r\n").status, 201);
    EXPECT_EQ(snapshot(), "a.txt=old\nc.txt=old\n");
}

// Two create-only PUTs racing for one name: exactly one stores its bytes, the other answers 412.
TEST_F(DAVServerTest, OfTwoCreateOnlyPutsExactlyOneSucceeds) {
    for (int round = 0; round < 50; ++round) {
        std::filesystem::remove(path("d.txt"));
        int statuses[2] = {0, 0};
        auto put = [&](int which) {
            statuses[which] =
                dav("PUT", "/d.txt", "If-None-Match: *\r\n", "put " + std::to_string(which)).status;
        };
        std::thread first(put, 0);
        put(1);
        first.join();
        SCOPED_TRACE(testing::Message() << "round " << round);
        ASSERT_EQ(std::min(statuses[0], statuses[1]), 201);
        ASSERT_EQ(std::max(statuses[0], statuses[1]), 412);
        ASSERT_EQ(contents("d.txt"), statuses[0] == 201 ? "put 0" : "put 1");
    }
}

// The same race made certain: the file appears just before the last step of the PUT.
TEST_F(DAVServerTest, ACreateOnlyPutNeverReplacesAFileThatAppearsMeanwhile) {
    std::atomic<bool> appeared{false};
    AtomicReplace::setFaultInjector([this, &appeared](std::string_view step) {
        if (step == "rename" && !appeared.exchange(true)) {
            write("d.txt", "theirs");
        }
        return 0;
    });
    davtest::expectError(dav("PUT", "/d.txt", "If-None-Match: *\r\n", "mine"), 412,
                         "Precondition failed for \"/d.txt\"");
    AtomicReplace::setFaultInjector({});
    EXPECT_TRUE(appeared);
    EXPECT_EQ(snapshot(), "d.txt=theirs\n");
    EXPECT_TRUE(events().empty());
}

// The dates of If-Unmodified-Since and If-Range compare in whole seconds with Last-Modified.
TEST_F(DAVServerTest, DatesOfConditionsCompareWithLastModifiedToTheSecond) {
    const std::string bytes = patternBytes();
    struct Row {
        const char* date;
        int put;    // If-Unmodified-Since on PUT
        int ranged; // If-Range on a ranged GET
    };
    for (const Row& row : {
             Row{"Tue, 31 Dec 2019 23:59:59 GMT", 412, 200},
             Row{"Wed, 01 Jan 2020 00:00:00 GMT", 204, 206},
             Row{"Wed, 01 Jan 2020 00:00:01 GMT", 204, 200},
         }) {
        SCOPED_TRACE(row.date);
        write("f.bin", bytes);
        const timespec times[2] = {{1577836800, 500000000}, {1577836800, 500000000}}; // 2020-01-01 00:00:00.5
        ASSERT_EQ(::utimensat(AT_FDCWD, path("f.bin").c_str(), times, 0), 0);
        ASSERT_EQ(headerOf(dav("HEAD", "/f.bin"), "Last-Modified"), "Wed, 01 Jan 2020 00:00:00 GMT");
        EXPECT_EQ(
            dav("GET", "/f.bin", std::string("Range: bytes=0-9\r\nIf-Range: ") + row.date + "\r\n").status,
            row.ranged);
        EXPECT_EQ(
            dav("PUT", "/f.bin", std::string("If-Unmodified-Since: ") + row.date + "\r\n", "new").status,
            row.put);
        EXPECT_EQ(contents("f.bin"), row.put == 412 ? bytes : "new");
    }
}

// GET answers 304 when If-None-Match names its ETag, quoted or bare, weak or in a list; the date
// beside it is not looked at.
TEST_F(DAVServerTest, GetAnswersNotModifiedForTheETagAsClientsWriteIt) {
    write("a.txt", "text");
    const std::string tag = headerOf(dav("GET", "/a.txt"), "ETag");
    const std::string lastModified = headerOf(dav("GET", "/a.txt"), "Last-Modified");
    for (const auto& [header, status] : std::vector<std::pair<std::string, int>>{
             {"If-None-Match: " + tag, 304},
             {"If-None-Match: \"" + tag + "\"", 304},
             {"If-None-Match: W/\"" + tag + "\"", 304},
             {"If-None-Match: \"x\", \"" + tag + "\"", 304},
             {"If-None-Match: *", 304},
             {"If-None-Match: \"x\"", 200},
             {"If-None-Match: \"x\"\r\nIf-Modified-Since: " + lastModified, 200},
             {"If-Modified-Since: " + lastModified, 304},
         }) {
        const HttpReply reply = dav("GET", "/a.txt", header + "\r\n");
        EXPECT_EQ(reply.status, status) << header;
        EXPECT_EQ(reply.body, status == 200 ? "text" : "") << header;
    }
}

// Conditional writers of one file, one of them sent just as another reaches its last step: the
// conditions and the change are one step, so the second finds the file changed (412) and changes
// nothing, where it once replaced or removed the first one's acknowledged file.
TEST_F(DAVServerTest, OfTwoConditionalWritersTheSecondFindsTheFileChanged) {
    struct Row {
        std::string method; // of the first writer, on /a.txt with the file's ETag in If-Match
        std::string headers;
        const char* lastStep;
        int status;
        std::string rivalMethod; // of the second, the same
        const char* after;
    };
    const std::string toB = "Destination: " + url("/b.txt") + "\r\n";
    for (const Row& row : std::vector<Row>{
             {"PUT", "", "exchange", 204, "PUT", "a.txt=mine\n"},
             {"PUT", "", "exchange", 204, "DELETE", "a.txt=mine\n"},
             {"MOVE", toB, "rename", 201, "PUT", "b.txt=old\n"},
         }) {
        SCOPED_TRACE(row.method + " then " + row.rivalMethod);
        ::unlink(path("b.txt").c_str());
        write("a.txt", "old");
        const std::string condition = "If-Match: \"" + headerOf(dav("GET", "/a.txt"), "ETag") + "\"\r\n";
        const std::string rivalRequest =
            row.rivalMethod + " /a.txt HTTP/1.1\r\n" + hostHeader() + condition +
            (row.rivalMethod == "PUT" ? "Content-Length: 6\r\n\r\ntheirs" : "\r\n");
        // The rival's connection starts before the first writer's request, so it is served while
        // that one waits in its last step.
        coretest::RawClient rivalClient;
        ASSERT_TRUE(rivalClient.connect(AF_INET, port()));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (server->activeConnections() != 1 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::promise<int> rivalDone;
        std::future<int> rivalStatus = rivalDone.get_future();
        std::thread rival;
        std::atomic<bool> sent{false};
        AtomicReplace::setFaultInjector([&](std::string_view step) {
            if (step == row.lastStep && !sent.exchange(true)) {
                rival = std::thread([&] {
                    rivalClient.send(rivalRequest);
                    rivalDone.set_value(coretest::parseReply(rivalClient.readAll()).status);
                });
                // Unless it has to wait for this writer, the rival is done long before this.
                rivalStatus.wait_for(std::chrono::seconds(1));
            }
            return 0;
        });
        const bool puts = row.method == "PUT";
        const int first = dav(row.method, "/a.txt", row.headers + condition,
                              puts ? std::optional<std::string>("mine") : std::nullopt)
                              .status;
        AtomicReplace::setFaultInjector({});
        ASSERT_TRUE(sent);
        rival.join();
        EXPECT_EQ(first, row.status);
        EXPECT_EQ(rivalStatus.get(), 412);
        EXPECT_EQ(snapshot(), row.after);
    }
}

// Writers waiting for an item's lock hold up no other request: while the test holds the lock of
// a.txt, more PUTs of it than the server has workers wait for it, and a GET of another file is
// answered.
TEST_F(WebDAVItemLocks, WritersWaitingForAnItemLeaveTheServerAnswering) {
    write("a.txt", "old");
    write("b.txt", "other");
    const platform::SharedItem item = itemOf("a.txt");
    auto held = WebServerItemLocks::lock({&item});
    std::vector<std::unique_ptr<coretest::RawClient>> writers;
    for (std::size_t i = 0; i <= platform::dispatch::GlobalQueue::instance().maxThreads(); ++i) {
        auto client = std::make_unique<coretest::RawClient>();
        const std::string body = "put " + std::to_string(i);
        EXPECT_TRUE(client->connect(AF_INET, port()) &&
                    client->send("PUT /a.txt HTTP/1.1\r\n" + hostHeader() +
                                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
        writers.push_back(std::move(client));
    }
    const bool waiting = someoneWaitsFor(item);
    const HttpReply other = coretest::get(port(), "/b.txt");
    held.release();
    EXPECT_TRUE(waiting);
    EXPECT_EQ(other.status, 200);
    EXPECT_EQ(other.body, "other");
    for (auto& writer : writers) {
        const int status = coretest::parseReply(writer->readAll()).status;
        EXPECT_TRUE(status == 201 || status == 204) << status;
    }
    EXPECT_EQ(contents("a.txt").rfind("put ", 0), 0u);
}

// COPY and MOVE look at their source's conditions again once they hold its lock: a source changed
// while they waited for it is neither copied nor moved.
TEST_F(WebDAVItemLocks, CopyAndMoveFindTheirSourceChangedWhileTheyWaited) {
    for (const char* method : {"COPY", "MOVE"}) {
        SCOPED_TRACE(method);
        std::filesystem::remove(path("b.txt"));
        write("a.txt", "old");
        const std::string condition = "If-Match: \"" + headerOf(dav("GET", "/a.txt"), "ETag") + "\"\r\n";
        const platform::SharedItem item = itemOf("a.txt");
        auto held = WebServerItemLocks::lock({&item});
        auto reply = std::async(std::launch::async, [&] {
            return dav(method, "/a.txt", "Destination: " + url("/b.txt") + "\r\n" + condition);
        });
        const bool waiting = someoneWaitsFor(item);
        write("a.txt", "changed");
        const timespec times[2] = {{1577836800, 0}, {1577836800, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path("a.txt").c_str(), times, 0), 0);
        held.release();
        EXPECT_TRUE(waiting);
        davtest::expectError(reply.get(), 412, "Precondition failed for \"/a.txt\"");
        EXPECT_EQ(snapshot(), "a.txt=changed\n");
    }
}
