// A move to another file system (WebDAV MOVE and the file manager's /move) while clients write into
// what it moves: every write answered is found afterwards, at the destination or still in the
// source. A WebDAV server and a file manager share "/", so that a scratch folder in the system's
// temporary folder and one on the tmpfs of /dev/shm are both inside; the move is parked through its
// step hook while the writes land.

#include "CoreTestSupport.h"
#include "RequestBodiesTestSupport.h"
#include "StaticTestSupport.h"

#include "WebDAVServer.h"
#include "WebServerMoveAcross.h"
#include "WebUploader.h"

#include "foundation/FileSystem.h"
#include "foundation/TemporaryFile.h"
#include "foundation/Uuid.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>

namespace {

using namespace std::chrono_literals;

// The user's items named like the server's own, and one the server made (a body being received).
const std::string kLikeAUuid = ".lanyard-staging-" + std::string("GHIJKLMN-OPQR-STUV-WXYZ-GHIJKLMNOPQR");
const std::string kServersOwn = ".lanyard-staging-" + platform::makeUuidString();

// Lets a move run up to a step, holds it there until released (or 10 s), and lets it go on.
class Parking {
public:
    explicit Parking(std::string step) : _step(std::move(step)) {
        WebServerMoveAcross::setStepHook([this](std::string_view reached) {
            if (reached == _step && !_parked.exchange(true)) {
                _arrived.set_value();
                _release.wait_for(10s);
            }
            return 0;
        });
    }
    ~Parking() { WebServerMoveAcross::setStepHook({}); }
    bool arrived() { return _arrived.get_future().wait_for(10s) == std::future_status::ready; }
    void release() { _released.set_value(); }

private:
    std::string _step;
    std::atomic<bool> _parked{false};
    std::promise<void> _arrived;
    std::promise<void> _released;
    std::shared_future<void> _release = _released.get_future().share();
};

class MoveAcross : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat onDisk {};
        struct stat inMemory {};
        ASSERT_TRUE(disk.valid() && memory.valid());
        ASSERT_EQ(::stat(disk.path().c_str(), &onDisk), 0);
        ASSERT_EQ(::stat(memory.path().c_str(), &inMemory), 0);
        ASSERT_NE(onDisk.st_dev, inMemory.st_dev) << "/dev/shm must be a tmpfs apart from " << disk.path();
        ServerOptions options{{WebServerOption_Port, 0LL}, {WebServerOption_BindToLocalhost, true}};
        Error error;
        ASSERT_TRUE(dav->startWithOptions(options, &error)) << error.description;
        ASSERT_TRUE(uploader) << "the WebUploader bundle must lie beside the test program";
        ASSERT_TRUE(uploader->startWithOptions(options, &error)) << error.description;
        // The folder moved: a file and a subfolder, and items of users named like the server's.
        for (const char* folder : {"d", "d/sub", "d/sub/.lanyard-uploads", "d/x"}) {
            ASSERT_EQ(::mkdir((disk / folder).c_str(), 0755), 0);
        }
        for (const std::string& file :
             std::vector<std::string>{"a.txt", "sub/b.txt", "sub/.lanyard-uploads/notes.txt",
                                      "x/.lanyard-staging-notes.txt", "x/" + kLikeAUuid, kServersOwn}) {
            ASSERT_TRUE(statictest::writeFile(disk / ("d/" + file), "old " + file));
        }
    }
    void TearDown() override {
        dav->stop();
        uploader->stop();
    }

    coretest::HttpReply put(const std::string& path, const std::string& body) {
        return coretest::exchange(davPort(), "PUT " + path + " HTTP/1.1\r\n" + host() + "Content-Length: " +
                                                 std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    coretest::HttpReply moveByDAV(const std::string& from, const std::string& to) {
        return coretest::exchange(
            davPort(), "MOVE " + from + " HTTP/1.1\r\n" + host() + "Destination: http://" +
                           "127.0.0.1:" + std::to_string(davPort()) + to + "\r\nOverwrite: T\r\n\r\n");
    }
    coretest::HttpReply moveByForm(const std::string& from, const std::string& to) {
        const std::string form = "oldPath=" + from + "&newPath=" + to;
        return coretest::exchange(static_cast<std::uint16_t>(uploader->port()),
                                  "POST /move HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                  "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                                      std::to_string(form.size()) + "\r\n\r\n" + form);
    }
    std::uint16_t davPort() const { return static_cast<std::uint16_t>(dav->port()); }
    std::string host() const { return "Host: 127.0.0.1:" + std::to_string(davPort()) + "\r\n"; }

    // Files below a folder as "name=contents" lines, sorted ("" when it is missing).
    static std::string snapshot(const std::string& root) {
        std::vector<std::string> lines;
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
            if (entry.is_regular_file()) {
                lines.push_back(entry.path().lexically_relative(root).string() + "=" +
                                bodytest::readFile(entry.path()).value_or("?"));
            }
        }
        std::sort(lines.begin(), lines.end());
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\n";
        }
        return text;
    }

    // Parks a move after its first copy, writes at two depths (a file replaced, files added in the
    // folder and its subfolder) and at the destination's name, which must all be answered while it
    // waits, then lets it finish: everything answered is at `destination`, the server's own body
    // left out and left in the source.
    void expectWritesDuringTheCopyMoved(const std::function<coretest::HttpReply()>& move, int status,
                                        const std::string& destination) {
        Parking parking("copied");
        auto moving = std::async(std::launch::async, move);
        ASSERT_TRUE(parking.arrived());
        const std::string d = disk.path() + "/d";
        EXPECT_EQ(put(d + "/a.txt", "new a.txt").status, 204);
        EXPECT_EQ(put(d + "/c.txt", "new c.txt").status, 201);
        EXPECT_EQ(put(d + "/sub/c.txt", "new sub/c.txt").status, 201);
        // The destination's writers are not held up by the copy either.
        auto atDestination =
            std::async(std::launch::async, [&] { return put(memory.path() + "/e", "in the way").status; });
        EXPECT_EQ(atDestination.wait_for(5s), std::future_status::ready);
        parking.release();
        EXPECT_EQ(moving.get().status, status);
        EXPECT_EQ(atDestination.get(), 201);
        EXPECT_EQ(snapshot(destination),
                  "a.txt=new a.txt\nc.txt=new c.txt\nsub/.lanyard-uploads/notes.txt=old "
                  "sub/.lanyard-uploads/notes.txt\nsub/b.txt=old sub/b.txt\nsub/c.txt=new "
                  "sub/c.txt\nx/" +
                      kLikeAUuid + "=old x/" + kLikeAUuid +
                      "\nx/.lanyard-staging-notes.txt=old x/.lanyard-staging-notes.txt\n");
        EXPECT_EQ(snapshot(d), kServersOwn + "=old " + kServersOwn + "\n");
    }

    statictest::ScratchFolder disk{platform::temporaryDirectory() + "/lanyard-move-XXXXXX"};
    statictest::ScratchFolder memory{"/dev/shm/lanyard-move-XXXXXX"};
    std::shared_ptr<WebDAVServer> dav = WebDAVServer::create("/");
    std::shared_ptr<WebUploader> uploader = WebUploader::create("/");
};

} // namespace

TEST_F(MoveAcross, WebDAVMoveTakesWhatWasWrittenDuringItsCopy) {
    // The destination is taken meanwhile: the move replaces it (Overwrite: T).
    expectWritesDuringTheCopyMoved([&] { return moveByDAV(disk.path() + "/d", memory.path() + "/e"); }, 204,
                                   memory.path() + "/e");
}

TEST_F(MoveAcross, FileManagerMoveTakesWhatWasWrittenDuringItsCopy) {
    // The destination is taken meanwhile: the move takes the next free name.
    expectWritesDuringTheCopyMoved([&] { return moveByForm(disk.path() + "/d", memory.path() + "/e"); }, 200,
                                   memory.path() + "/e (1)");
}

// What changes in the source after the last look stays there, not lost: a file written again in
// place and a file added to a subfolder; the rest is moved.
TEST_F(MoveAcross, WhatChangesAfterTheLastLookStaysInTheSource) {
    Parking parking("caught up");
    auto moving =
        std::async(std::launch::async, [&] { return moveByDAV(disk.path() + "/d", memory.path() + "/e"); });
    ASSERT_TRUE(parking.arrived());
    ASSERT_TRUE(statictest::writeFile(disk / "d/a.txt", "rewritten"));
    ASSERT_TRUE(statictest::writeFile(disk / "d/sub/late.txt", "late"));
    parking.release();
    EXPECT_EQ(moving.get().status, 201);
    EXPECT_EQ(snapshot(disk / "d"),
              kServersOwn + "=old " + kServersOwn + "\na.txt=rewritten\nsub/late.txt=late\n");
    EXPECT_EQ(bodytest::readFile(memory / "e/a.txt"), "old a.txt");
    EXPECT_EQ(bodytest::readFile(memory / "e/sub/b.txt"), "old sub/b.txt");
}

// A source written to through every look gives way (503, to be tried again): nothing moved,
// nothing of the copy left beside the destination.
TEST_F(MoveAcross, ASourceThatNeverStaysStillIsLeftWhole) {
    int looks = 0;
    WebServerMoveAcross::setStepHook([&](std::string_view step) {
        if (step == "look") {
            statictest::writeFile(disk / ("d/sub/more" + std::to_string(++looks) + ".txt"), "more");
        }
        return 0;
    });
    for (const auto& reply : {moveByDAV(disk.path() + "/d", memory.path() + "/e"),
                              moveByForm(disk.path() + "/d", memory.path() + "/e")}) {
        EXPECT_EQ(reply.status, 503);
        EXPECT_TRUE(reply.header("Retry-After"));
    }
    WebServerMoveAcross::setStepHook({});
    EXPECT_EQ(platform::FileSystem::contentsOfDirectory(memory.path())->size(), 0u);
    EXPECT_EQ(bodytest::readFile(disk / "d/sub/b.txt"), "old sub/b.txt");
    EXPECT_EQ(platform::FileSystem::contentsOfDirectory(disk / "d/sub")->size(), 2u + looks);
}
