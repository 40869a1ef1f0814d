// Replacing items without losing data: AtomicReplace with a failure injected at every step, and
// the WebDAV server's PUT, COPY and MOVE when the file system fails under them.

#include "WebDAVTestSupport.h"

#include "dispatch/GlobalQueue.h"
#include "foundation/AtomicReplace.h"
#include "foundation/FileSystem.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>

using coretest::HttpReply;
using davtest::DAVServerTest;
using davtest::expectError;
using platform::AtomicReplace;
using platform::FileSystem;

namespace {

// Fails the Nth file system step (counting from 1) with EIO; with `noExchange` every atomic
// exchange is refused as unsupported, as on file systems that lack it.
class StepFailure {
public:
    StepFailure(int failingStep, bool noExchange) {
        AtomicReplace::setFaultInjector([this, failingStep, noExchange](std::string_view step) {
            if (noExchange && step == "exchange") {
                return EINVAL;
            }
            return ++_count == failingStep ? EIO : 0;
        });
    }
    ~StepFailure() { AtomicReplace::setFaultInjector({}); }
    StepFailure(const StepFailure&) = delete;
    StepFailure& operator=(const StepFailure&) = delete;
    int count() const { return _count; }

private:
    std::atomic<int> _count{0};
};

// A UNIX socket in the file system: something a copy cannot reproduce.
bool makeSocketFile(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd == -1 || path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

// Builds the old destination and the new source in a fresh folder.
class ReplaceFixture : public DAVServerTest {
protected:
    void prepare(bool folders) {
        for (const std::string& name :
             FileSystem::contentsOfDirectory(folder.path()).value_or(std::vector<std::string>{})) {
            FileSystem::removeItem(path(name));
        }
        if (folders) {
            makeFolder("src");
            write("src/new.txt", "new");
            makeFolder("dst");
            write("dst/old.txt", "old");
        } else {
            write("src", "new");
            write("dst", "old");
        }
    }
};

} // namespace

// Every step of every way of replacing fails once in turn: either the whole operation succeeds,
// or the source and the destination are exactly as before and nothing is left behind.
TEST_F(ReplaceFixture, AFailureAtAnyStepLosesNothing) {
    for (const bool move : {false, true}) {
        for (const bool folders : {false, true}) {
            for (const bool noExchange : {false, true}) {
                for (int step = 1;; ++step) {
                    SCOPED_TRACE(testing::Message()
                                 << (move ? "move" : "copy") << (folders ? " folders" : " files")
                                 << (noExchange ? " without exchange" : "") << ", step " << step);
                    prepare(folders);
                    const std::string before = snapshot();
                    StepFailure failure(step, noExchange);
                    bool replaced = false;
                    Error error;
                    const bool done =
                        move ? AtomicReplace::replaceWithMove(path("src"), path("dst"), &replaced, &error)
                             : AtomicReplace::replaceWithCopy(path("src"), path("dst"), &replaced, &error);
                    if (done) {
                        EXPECT_TRUE(replaced);
                        EXPECT_EQ(snapshot("dst"), folders ? "new.txt=new\n" : "");
                        if (!folders) {
                            EXPECT_EQ(contents("dst"), "new");
                        }
                        EXPECT_EQ(exists("src"), !move);
                    } else {
                        EXPECT_EQ(error.code, EIO);
                        EXPECT_EQ(snapshot(), before);
                    }
                    if (failure.count() < step) {
                        ASSERT_TRUE(done);
                        break; // every step has failed once
                    }
                }
            }
        }
    }
}

TEST_F(ReplaceFixture, ReplacesNothingWhenNothingIsThere) {
    write("src", "new");
    bool replaced = true;
    ASSERT_TRUE(AtomicReplace::replaceWithMove(path("src"), path("dst"), &replaced, nullptr));
    EXPECT_FALSE(replaced);
    EXPECT_EQ(snapshot(), "dst=new\n");
    ASSERT_TRUE(AtomicReplace::replaceWithCopy(path("dst"), path("copy"), &replaced, nullptr));
    EXPECT_FALSE(replaced);
    EXPECT_EQ(snapshot(), "copy=new\ndst=new\n");
    EXPECT_FALSE(AtomicReplace::replaceWithMove(path("none"), path("x"), &replaced, nullptr));
    EXPECT_EQ(snapshot(), "copy=new\ndst=new\n");
}

TEST_F(DAVServerTest, AFailedPutKeepsTheOldFile) {
    write("a.txt", "old data");
    for (int step = 1; step <= 2; ++step) {
        SCOPED_TRACE(step);
        StepFailure failure(step, false);
        expectError(dav("PUT", "/a.txt", "", "new data"), 500, "Failed moving uploaded file to \"/a.txt\"");
        EXPECT_EQ(snapshot(), "a.txt=old data\n");
    }
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(dav("PUT", "/a.txt", "", "new data").status, 204);
    EXPECT_EQ(snapshot(), "a.txt=new data\n");
}

TEST_F(DAVServerTest, AFailedCopyOrMoveKeepsSourceAndDestination) {
    write("a.txt", "A");
    write("b.txt", "B");
    const std::string before = snapshot();
    for (const char* method : {"COPY", "MOVE"}) {
        for (int step = 1; step <= 2; ++step) {
            SCOPED_TRACE(testing::Message() << method << " step " << step);
            StepFailure failure(step, false);
            const HttpReply reply =
                dav(method, "/a.txt", "Destination: " + url("/b.txt") + "\r\nOverwrite: T\r\n");
            expectError(reply, 403, "Failed copying \"/a.txt\" to \"/b.txt\"");
            EXPECT_NE(reply.body.find("Input/output error"), std::string::npos);
            EXPECT_EQ(snapshot(), before);
        }
    }
    EXPECT_TRUE(events().empty());
}

// A folder is set aside under its lock and emptied after it: a failure at either step leaves it
// whole under its name.
TEST_F(DAVServerTest, AFailedDeleteOfAFolderLeavesItWhole) {
    makeFolder("d");
    write("d/a.txt", "A");
    for (int step = 1; step <= 2; ++step) {
        SCOPED_TRACE(step);
        StepFailure failure(step, false);
        expectError(dav("DELETE", "/d"), 500, "Failed deleting \"/d\"");
        EXPECT_EQ(snapshot(), "d/\nd/a.txt=A\n");
    }
    EXPECT_TRUE(events().empty());
}

TEST_F(DAVServerTest, ACopyThatCannotCompleteLeavesTheDestinationWhole) {
    makeFolder("src");
    write("src/a.txt", "new a");
    write("src/b.txt", "new b");
    ASSERT_TRUE(makeSocketFile(path("src/z.sock")));
    makeFolder("dst");
    write("dst/old.txt", "old");
    const std::string before = snapshot();
    const HttpReply reply = dav("COPY", "/src", "Destination: " + url("/dst") + "\r\nOverwrite: T\r\n");
    expectError(reply, 403, "Failed copying \"/src\" to \"/dst\"");
    EXPECT_EQ(snapshot(), before); // nothing half-copied is left, under any name
}

TEST_F(DAVServerTest, AMoveOrPutThatCannotCompleteLeavesEverythingInPlace) {
    write("a.txt", "A");
    const std::string longName(300, 'n');
    expectError(dav("MOVE", "/a.txt", "Destination: " + url("/" + longName) + "\r\n"), 400,
                "Item name \"" + longName + "\" is too long");
    expectError(dav("PUT", "/" + longName, "", "data"), 400, "File name \"" + longName + "\" is too long");
    EXPECT_EQ(snapshot(), "a.txt=A\n");
}

// The upload is staged beside its target, never in the system's temporary folder (unusable here):
// the old file stays whole whichever step of putting it in place fails, and nothing is left.
TEST_F(DAVServerTest, PutIsStagedBesideItsTargetAndReplacesOnlyOnceComplete) {
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous ? previous : "";
    ::setenv("TMPDIR", "/nonexistent", 1);
    write("a.txt", "old data");
    const std::string body(300000, 'n');
    for (int step = 1; step <= 2; ++step) {
        SCOPED_TRACE(step);
        StepFailure failure(step, false);
        expectError(dav("PUT", "/a.txt", "", body), 500, "Failed moving uploaded file to \"/a.txt\"");
        EXPECT_EQ(snapshot(), "a.txt=old data\n");
    }
    EXPECT_EQ(dav("PUT", "/a.txt", "", body).status, 204);
    EXPECT_EQ(dav("PUT", "/b.txt", "", "b").status, 201);
    if (previous) {
        ::setenv("TMPDIR", saved.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    EXPECT_EQ(snapshot(), "a.txt=" + body + "\nb.txt=b\n");
}

// ---- Statuses a client can act on ----

// PUT, MKCOL, COPY and MOVE refuse the names an upload refuses, with the same plain messages, and a
// path holding a NUL.
TEST_F(DAVServerTest, NamesTheFileSystemCannotTakeAnswer400) {
    write("a.txt", "A");
    for (const auto& row : coretest::unstorableNames()) {
        SCOPED_TRACE(row.escaped);
        const std::string destination = "Destination: " + url("/" + row.escaped) + "\r\n";
        expectError(dav("PUT", "/" + row.escaped, "", "x"), 400, row.refusal("File name"));
        expectError(dav("MKCOL", "/" + row.escaped), 400, row.refusal("Directory name"));
        expectError(dav("COPY", "/a.txt", destination), 400, row.refusal("Item name"));
        expectError(dav("MOVE", "/a.txt", destination), 400, row.refusal("Item name"));
    }
    EXPECT_EQ(snapshot(), "a.txt=A\n");
}

// An item another program removes between the checks and the change answers 404, as any item
// that is not there.
TEST_F(DAVServerTest, AnItemRemovedMeanwhileAnswers404) {
    server->removeWhenAllowed = true;
    const std::string destination = "Destination: " + url("/b.txt") + "\r\n";
    for (const auto& [method, headers] :
         std::vector<std::pair<std::string, std::string>>{{"MOVE", destination}, {"DELETE", ""}}) {
        SCOPED_TRACE(method);
        write("a.txt", "A");
        EXPECT_EQ(dav(method, "/a.txt", headers).status, 404);
        EXPECT_EQ(snapshot(), "");
    }
}

// A full file system (or a used-up quota) answers 507 and leaves every item as it was.
TEST_F(DAVServerTest, AFullDiskAnswers507) {
    write("a.txt", "old");
    for (const int error : {ENOSPC, EDQUOT}) {
        for (const auto& [method, target] : std::vector<std::pair<std::string, std::string>>{
                 {"PUT", "/a.txt"}, {"PUT", "/new.txt"}, {"COPY", "/b.txt"}}) {
            SCOPED_TRACE(method + " " + target + " " + std::to_string(error));
            AtomicReplace::setFaultInjector([error](std::string_view) { return error; });
            const HttpReply reply = method == "PUT"
                                        ? dav("PUT", target, "", "new")
                                        : dav("COPY", "/a.txt", "Destination: " + url(target) + "\r\n");
            AtomicReplace::setFaultInjector({});
            EXPECT_EQ(reply.status, 507);
            EXPECT_EQ(snapshot(), "a.txt=old\n");
        }
    }
}

// ---- Long work beside quick writes ----

// Long work never holds a thread of the quick writes: while as many COPYs, or recursive DELETEs,
// as the file-operations pool has threads are parked in their long step, a PUT of another file
// is answered, and the parked requests end as they should once let go.
TEST_F(DAVServerTest, APutIsAnsweredWhileLongWorkIsParked) {
    const std::size_t count = platform::dispatch::GlobalQueue::fileOperations().maxThreads();
    ASSERT_LE(count, platform::dispatch::GlobalQueue::longOperations().maxThreads());
    struct Row {
        std::string method;
        std::string step; // the step the long work is parked in
        int status;
        std::string after; // what is left of the first folder
    };
    for (const Row& row : {Row{"COPY", "copy", 201, "f.txt=f\n"}, Row{"DELETE", "remove", 204, ""}}) {
        SCOPED_TRACE(row.method);
        std::mutex lock;
        std::condition_variable changed;
        std::size_t parked = 0;
        bool released = false;
        AtomicReplace::setFaultInjector([&](std::string_view step) {
            std::unique_lock<std::mutex> guard(lock);
            if (step == row.step && !released) {
                ++parked;
                changed.notify_all();
                changed.wait_for(guard, std::chrono::seconds(10), [&] { return released; });
            }
            return 0;
        });
        std::vector<std::future<HttpReply>> parkedReplies;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string name = row.method + std::to_string(i);
            makeFolder(name);
            write(name + "/f.txt", "f");
            const std::string destination = "Destination: " + url("/copy" + std::to_string(i)) + "\r\n";
            parkedReplies.push_back(std::async(std::launch::async, [this, row, name, destination] {
                return dav(row.method, "/" + name, row.method == "COPY" ? destination : "");
            }));
        }
        bool allParked = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            allParked = changed.wait_for(guard, std::chrono::seconds(10), [&] { return parked == count; });
        }
        auto put = std::async(std::launch::async, [this] { return dav("PUT", "/new.txt", "", "1 KB"); });
        const bool answered = put.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
        {
            std::lock_guard<std::mutex> guard(lock);
            released = true;
        }
        changed.notify_all();
        EXPECT_TRUE(allParked);
        EXPECT_TRUE(answered);
        EXPECT_EQ(put.get().status, 201);
        for (auto& reply : parkedReplies) {
            EXPECT_EQ(reply.get().status, row.status);
        }
        AtomicReplace::setFaultInjector({});
        EXPECT_EQ(snapshot(row.method + "0"), row.after);
        EXPECT_EQ(contents("new.txt"), "1 KB");
        ::unlink(path("new.txt").c_str());
    }
}
