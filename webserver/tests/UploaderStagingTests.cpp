// The file manager's staging folder when several servers share one folder: each holds the folder's
// lock file while its uploads use it, and a folder is left over only when nobody holds it. What the
// server did not put there (a user's items, a lock file or folder of another kind) is never
// removed, used or waited on. When the share's folder cannot be used, a private one in the system's
// temporary folder serves; staged files are readable by the server's user only, wherever they are.

#include "UploaderTestSupport.h"

#include "foundation/FileSystem.h"
#include "foundation/TemporaryFile.h"
#include "foundation/Uuid.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

using namespace uploadertest;

namespace {

// Another server's hold on a staging folder, taken as another process takes it: the lock file
// locked shared through an open file description of its own (or exclusively, as another program
// might).
class OtherServerHold {
public:
    explicit OtherServerHold(const std::string& staging, int operation = LOCK_SH) {
        makeDirectory(staging);
        const std::string lock = staging + "/" + WebUploader::kStagingLockName;
        _lock = ::open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        held = _lock != -1 && ::flock(_lock, operation | LOCK_NB) == 0;
    }
    ~OtherServerHold() { release(); }
    OtherServerHold(const OtherServerHold&) = delete;
    OtherServerHold& operator=(const OtherServerHold&) = delete;
    void release() {
        if (_lock != -1) {
            ::close(_lock);
            _lock = -1;
        }
    }

    bool held = false;

private:
    int _lock = -1;
};

// Every name in a folder, sorted (the lock file too).
std::vector<std::string> allNamesIn(const std::string& folder) {
    auto names = platform::FileSystem::contentsOfDirectory(folder).value_or(std::vector<std::string>{});
    std::sort(names.begin(), names.end());
    return names;
}

// The type bits of what a path names, the path itself when it is a link (0 when nothing is there).
mode_t typeAt(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

bool makeSocketAt(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool bound =
        socket != -1 && ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (socket != -1) {
        ::close(socket);
    }
    return bound;
}

// Frees a server stuck opening a FIFO for reading: after a grace time far beyond what the server
// needs, the FIFO is opened for writing now and then, which lets a waiting reader through. Counts
// how often a reader was waiting.
class FifoUnblocker {
public:
    explicit FifoUnblocker(std::string fifo)
        : _fifo(std::move(fifo)), _thread([this] {
              std::unique_lock lock(_mutex);
              if (_stopped.wait_for(lock, std::chrono::seconds(3), [this] { return _stop; })) {
                  return;
              }
              while (!_stopped.wait_for(lock, std::chrono::milliseconds(100), [this] { return _stop; })) {
                  const int writer = ::open(_fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                  if (writer != -1) {
                      ++unblocked;
                      ::close(writer);
                  }
              }
          }) {}
    ~FifoUnblocker() {
        {
            std::lock_guard lock(_mutex);
            _stop = true;
        }
        _stopped.notify_all();
        _thread.join();
    }
    FifoUnblocker(const FifoUnblocker&) = delete;
    FifoUnblocker& operator=(const FifoUnblocker&) = delete;

    std::atomic<int> unblocked{0};

private:
    std::string _fifo;
    std::mutex _mutex;
    std::condition_variable _stopped;
    bool _stop = false;
    std::thread _thread;
};

// The permission bits of what a path names (the path itself when it is a link).
mode_t permissionsOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The staged files in a staging folder (every name but the lock file's) once there are `count` of
// them; waits a bounded time.
std::vector<std::string> stagedFilesIn(const std::string& folder, std::size_t count = 1) {
    std::vector<std::string> staged;
    for (int attempt = 0; attempt < 500 && staged.size() < count; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        staged = allNamesIn(folder);
        staged.erase(std::remove(staged.begin(), staged.end(), WebUploader::kStagingLockName), staged.end());
    }
    for (std::string& name : staged) {
        name = folder + "/" + name;
    }
    return staged;
}

class UploaderStagingTest : public UploaderTest {
protected:
    std::string staging() const { return share(WebUploader::kStagingFolderName); }
    std::string stagingItem(const std::string& name) const { return staging() + "/" + name; }
    // The staging folder of the user's own in the system's temporary folder (one per test).
    std::string privateStaging() const {
        return temporary.path() + "/" + WebUploader::kPrivateStagingFolderPrefix +
               std::to_string(::geteuid());
    }
    // An upload of one file to the share's root, as a whole request.
    static std::string uploadRequest(const std::string& fileName, const std::string& content) {
        const std::string form = bodytest::MultipartBuilder("B")
                                     .field("path", "/")
                                     .file("files[]", fileName, "text/plain", content)
                                     .finish();
        return "POST /upload HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
               "boundary=B\r\nContent-Length: " +
               std::to_string(form.size()) + "\r\n\r\n" + form;
    }

    bodytest::ScopedTemporaryFolder temporary; // set before the server starts
};
} // namespace

// A server that starts, uploads and stops while another server holds the staging folder leaves that
// server's staged file alone; once nobody holds the folder, it is a leftover and goes.
TEST_F(UploaderTest, AStagingFolderAnotherServerHoldsIsLeftAlone) {
    const std::string staging = share(WebUploader::kStagingFolderName);
    const std::string theirs = staging + "/" + platform::makeUuidString();
    server->stop();
    OtherServerHold other(staging);
    ASSERT_TRUE(other.held);
    ASSERT_TRUE(writeFile(theirs, "theirs"));
    startServer(WebUploader::create(share()));
    EXPECT_EQ(readFile(theirs), "theirs") << "left alone at start";
    EXPECT_EQ(uploadFile("/", "a.txt", "alpha").status, 200);
    EXPECT_EQ(readFile(share("a.txt")), "alpha");
    EXPECT_EQ(readFile(theirs), "theirs") << "left alone by an upload";
    server->stop();
    EXPECT_EQ(readFile(theirs), "theirs") << "left alone at stop";
    other.release();
    startServer(WebUploader::create(share()));
    EXPECT_FALSE(platform::FileSystem::itemExists(staging)) << "nobody holds it: a leftover";
    EXPECT_EQ(namesIn(share()), std::vector<std::string>{"a.txt"});
}

// A folder of the staging folder's name that holds a user's items: whenever the server clears it,
// only what a server put there goes (staged files and the lock file), and the folder stays with the
// user's file, subfolder and link (not followed).
TEST_F(UploaderStagingTest, OnlyAServersOwnEntriesLeaveTheStagingFolder) {
    const auto plant = [&] {
        ASSERT_TRUE(platform::FileSystem::removeItem(staging()) ||
                    !platform::FileSystem::itemExists(staging()));
        ASSERT_TRUE(makeDirectory(staging()));
        ASSERT_TRUE(makeDirectory(stagingItem("sub")));
        ASSERT_TRUE(writeFile(stagingItem("mine.txt"), "mine"));
        ASSERT_TRUE(writeFile(stagingItem("sub/inner.txt"), "inner"));
        ASSERT_EQ(::symlink((scratch / "Share2").c_str(), stagingItem("out").c_str()), 0);
        ASSERT_TRUE(writeFile(stagingItem(platform::makeUuidString()), "staged"));
        ASSERT_TRUE(writeFile(stagingItem(WebUploader::kStagingLockName), ""));
    };
    const struct {
        const char* moment;
        std::function<void()> act;
    } rows[] = {
        {"a start",
         [&] {
             server->stop();
             plant();
             startServer(WebUploader::create(share()));
         }},
        {"an upload",
         [&] {
             plant();
             EXPECT_EQ(uploadFile("/", "a.txt", "alpha").status, 200);
             EXPECT_EQ(readFile(share("a.txt")), "alpha");
         }},
        {"a stop",
         [&] {
             plant();
             server->stop();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.moment);
        row.act();
        EXPECT_EQ(allNamesIn(staging()), (std::vector<std::string>{"mine.txt", "out", "sub"}));
        EXPECT_EQ(readFile(stagingItem("mine.txt")), "mine");
        EXPECT_EQ(readFile(stagingItem("sub/inner.txt")), "inner");
        EXPECT_EQ(namesIn(scratch / "Share2"), std::vector<std::string>{"outside.txt"});
    }
}

// A lock file or staging folder of another kind than the server makes is never waited on nor used:
// the server starts, takes an upload (staged elsewhere) and stops, and the item stays as it was.
TEST_F(UploaderStagingTest, ALockOrStagingFolderOfAnotherKindIsNeitherWaitedOnNorUsed) {
    const std::string lock = stagingItem(WebUploader::kStagingLockName);
    const struct {
        const char* what;
        std::string path;
        mode_t type;
        std::function<bool()> make;
    } rows[] = {
        {"a FIFO as lock", lock, S_IFIFO, [&] { return ::mkfifo(lock.c_str(), 0600) == 0; }},
        {"a socket as lock", lock, S_IFSOCK, [&] { return makeSocketAt(lock); }},
        {"a link as lock", lock, S_IFLNK,
         [&] { return ::symlink((scratch / "Share2/outside.txt").c_str(), lock.c_str()) == 0; }},
        {"a folder as lock", lock, S_IFDIR, [&] { return makeDirectory(lock); }},
        {"a link as the staging folder", staging(), S_IFLNK,
         [&] {
             return ::rmdir(staging().c_str()) == 0 &&
                    ::symlink((scratch / "Share2").c_str(), staging().c_str()) == 0;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        server->stop();
        ASSERT_TRUE(::unlink(staging().c_str()) == 0 || platform::FileSystem::removeItem(staging()) ||
                    !platform::FileSystem::itemExists(staging()));
        ASSERT_TRUE(makeDirectory(staging()));
        ASSERT_TRUE(row.make());
        {
            FifoUnblocker unblocker(lock);
            startServer(WebUploader::create(share()));
            EXPECT_EQ(uploadFile("/", "a.txt", "alpha").status, 200);
            server->stop();
            EXPECT_EQ(unblocker.unblocked, 0) << "the server waited on the lock file";
        }
        EXPECT_EQ(readFile(share("a.txt")), "alpha");
        ASSERT_TRUE(platform::FileSystem::removeItem(share("a.txt")));
        EXPECT_EQ(typeAt(row.path), row.type);
        EXPECT_EQ(namesIn(scratch / "Share2"), std::vector<std::string>{"outside.txt"});
        EXPECT_EQ(readFile(scratch / "Share2/outside.txt"), "outside");
    }
}

// A server that clears a leftover staging folder and whose lock file stops being the folder's lock
// before it looks (another server cleared the folder meanwhile, and a third made a new lock file
// there, holds it and stages a file) removes nothing: that file and lock belong to the third.
TEST_F(UploaderStagingTest, ALockFileNoLongerTheFoldersGuardsNothing) {
    server->stop();
    ASSERT_TRUE(makeDirectory(staging()));
    ASSERT_TRUE(writeFile(stagingItem(WebUploader::kStagingLockName), "")); // a leftover: held by none
    const std::string theirs = stagingItem(platform::makeUuidString());
    std::optional<OtherServerHold> third;
    std::atomic<bool> swapped{false};
    WebUploader::setStagingFaultInjector([&](std::string_view step) {
        if (step == "lock" && !swapped.exchange(true)) {
            ::unlink(stagingItem(WebUploader::kStagingLockName).c_str());
            third.emplace(staging());
            writeFile(theirs, "theirs");
        }
        return 0;
    });
    startServer(WebUploader::create(share()));
    WebUploader::setStagingFaultInjector(nullptr);
    ASSERT_TRUE(swapped);
    ASSERT_TRUE(third && third->held);
    EXPECT_EQ(readFile(theirs), "theirs");
    EXPECT_EQ(typeAt(stagingItem(WebUploader::kStagingLockName)), S_IFREG);
}

// An upload refused for want of credentials never touches the staging folder: a leftover that
// nobody holds stays until an upload that is let in clears it.
TEST_F(UploaderStagingTest, AnUploadWithoutCredentialsLeavesTheStagingFolderAlone) {
    server->stop();
    server = WebUploader::create(share());
    Error error;
    ASSERT_TRUE(
        server->startWithOptions({{WebServerOption_Port, 0LL},
                                  {WebServerOption_BindToLocalhost, true},
                                  {WebServerOption_AuthenticationMethod, WebServerAuthenticationMethod_Basic},
                                  {WebServerOption_AuthenticationAccounts, ServerAccounts{{"u", "p"}}}},
                                 &error))
        << error.description;
    // Left after the start, so that only an upload clears it.
    ASSERT_TRUE(makeDirectory(staging()));
    ASSERT_TRUE(writeFile(stagingItem(WebUploader::kStagingLockName), ""));
    const std::string left = stagingItem(platform::makeUuidString());
    ASSERT_TRUE(writeFile(left, "left"));
    const std::string form = bodytest::MultipartBuilder("B")
                                 .field("path", "/")
                                 .file("files[]", "a.txt", "text/plain", "alpha")
                                 .finish();
    const auto post = [&](const std::string& credentials) {
        return coretest::exchange(static_cast<std::uint16_t>(server->port()),
                                  "POST /upload HTTP/1.1\r\nHost: x\r\n" + credentials +
                                      "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: " +
                                      std::to_string(form.size()) + "\r\n\r\n" + form);
    };
    EXPECT_EQ(post("").status, 401);
    EXPECT_EQ(readFile(left), "left");
    EXPECT_EQ(post("Authorization: Basic dTpw\r\n").status, 200); // "u:p"
    EXPECT_EQ(readFile(share("a.txt")), "alpha");
    EXPECT_FALSE(platform::FileSystem::itemExists(staging()));
}

// A form whose staged file another program removes, makes again (empty, or as long as the part) or
// cuts while the form is received is never answered with success, and nothing of it is stored;
// wherever it is staged (the share's staging folder, or the private one when a folder holds the
// lock file's name), the staged file is readable by the server's user only.
TEST_F(UploaderStagingTest, AFormWhoseStagedFileIsMeddledWithStoresNothing) {
    const std::string request = uploadRequest("a.txt", std::string(64 * 1024, 'x'));
    const std::size_t half = request.size() - 32 * 1024;
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
             return ::unlink(staged.c_str()) == 0 && writeFile(staged, std::string(64 * 1024, 'y'));
         }},
        {"cut", [](const std::string& staged) { return ::truncate(staged.c_str(), 0) == 0; }},
    };
    for (const bool inPrivateFolder : {false, true}) {
        if (inPrivateFolder) {
            ASSERT_TRUE(becomesMissing(staging()));
            ASSERT_TRUE(makeDirectory(staging()) &&
                        makeDirectory(stagingItem(WebUploader::kStagingLockName)));
        }
        const std::string folder = inPrivateFolder ? privateStaging() : staging();
        for (const auto& meddling : meddlings) {
            SCOPED_TRACE(std::string(meddling.what) + (inPrivateFolder ? " in the private folder" : ""));
            coretest::RawClient client;
            ASSERT_TRUE(client.connect(AF_INET, static_cast<std::uint16_t>(server->port())));
            ASSERT_TRUE(client.send(request.substr(0, half)));
            const auto staged = stagedFilesIn(folder);
            ASSERT_EQ(staged.size(), 1u);
            EXPECT_EQ(permissionsOf(staged[0]), 0600u);
            EXPECT_EQ(permissionsOf(folder), 0700u);
            ASSERT_TRUE(meddling.act(staged[0]));
            ASSERT_TRUE(client.send(request.substr(half)));
            EXPECT_EQ(coretest::parseReply(client.readAll()).status, 500);
            EXPECT_FALSE(platform::FileSystem::itemExists(share("a.txt")));
        }
    }
}

// The private staging folder in the system's temporary folder: what a killed server left there goes
// when a server starts (only the server's own entries: a user's file stays), and an upload staged
// there leaves nothing behind and stores a file with the permissions a new file of the user's gets.
TEST_F(UploaderStagingTest, ThePrivateStagingFolderKeepsNothingOfAServers) {
    server->stop();
    ASSERT_EQ(::mkdir(privateStaging().c_str(), 0700), 0);
    ASSERT_TRUE(writeFile(privateStaging() + "/" + platform::makeUuidString(), "left by a killed server"));
    ASSERT_TRUE(writeFile(privateStaging() + "/" + WebUploader::kStagingLockName, ""));
    ASSERT_TRUE(writeFile(privateStaging() + "/notes.txt", "mine"));
    startServer(WebUploader::create(share()));
    EXPECT_EQ(allNamesIn(privateStaging()), std::vector<std::string>{"notes.txt"});
    ASSERT_TRUE(::unlink((privateStaging() + "/notes.txt").c_str()) == 0);
    ASSERT_TRUE(makeDirectory(staging()) && makeDirectory(stagingItem(WebUploader::kStagingLockName)));
    EXPECT_EQ(uploadFile("/", "a.txt", "alpha").status, 200);
    EXPECT_EQ(readFile(share("a.txt")), "alpha");
    EXPECT_EQ(permissionsOf(share("a.txt")), platform::publishedFileMode());
    EXPECT_TRUE(becomesMissing(privateStaging()));
}

// A lock file that another program holds exclusively is never waited for: the upload is staged in
// the private folder at once, the lock is not tried again for each upload that follows, and a
// listing is answered while the uploads are under way. Once the program lets go, nothing is left.
TEST_F(UploaderStagingTest, ALockAnotherProgramHoldsIsNeverWaitedFor) {
    std::optional<OtherServerHold> program(std::in_place, staging(), LOCK_EX);
    ASSERT_TRUE(program->held);
    std::atomic<int> lockTries{0};
    WebUploader::setStagingFaultInjector([&](std::string_view step) {
        lockTries += step == "lock" ? 1 : 0;
        return 0;
    });
    constexpr int kUploads = 8;
    std::vector<std::string> requests;
    std::vector<coretest::RawClient> clients(kUploads);
    for (int i = 0; i < kUploads; ++i) {
        requests.push_back(uploadRequest("f" + std::to_string(i) + ".txt", std::string(64 * 1024, 'x')));
        ASSERT_TRUE(clients[i].connect(AF_INET, static_cast<std::uint16_t>(server->port())));
        ASSERT_TRUE(clients[i].send(requests[i].substr(0, requests[i].size() - 32 * 1024)));
    }
    const auto staged = stagedFilesIn(privateStaging(), kUploads);
    EXPECT_EQ(staged.size(), static_cast<std::size_t>(kUploads));
    for (const std::string& file : staged) {
        EXPECT_EQ(permissionsOf(file), 0600u);
    }
    // The lock is looked at once (a leftover's removal and a hold; then the private folder's), and
    // again only after a moment: not for each upload.
    EXPECT_LT(lockTries, kUploads);
    EXPECT_EQ(get("/list?path=/").status, 200);
    for (int i = 0; i < kUploads; ++i) {
        ASSERT_TRUE(clients[i].send(requests[i].substr(requests[i].size() - 32 * 1024)));
        EXPECT_EQ(coretest::parseReply(clients[i].readAll()).status, 200);
    }
    WebUploader::setStagingFaultInjector(nullptr);
    EXPECT_EQ(namesIn(share()).size(), static_cast<std::size_t>(kUploads));
    program.reset();
    EXPECT_TRUE(becomesMissing(privateStaging()));
}

// A lock taken on a lock file that was removed between its opening and its locking (a remover of
// another server cleared the folder) guards nothing: the server takes the lock of the lock file the
// folder holds then, so no other server may clear the folder while the upload is under way.
TEST_F(UploaderStagingTest, ALockTakenOnARemovedLockFileIsTakenAgain) {
    std::atomic<bool> removed{false};
    WebUploader::setStagingFaultInjector([&](std::string_view step) {
        if (step == "lock" && !removed.exchange(true)) {
            ::unlink(stagingItem(WebUploader::kStagingLockName).c_str());
        }
        return 0;
    });
    const std::string request = uploadRequest("a.txt", std::string(64 * 1024, 'x'));
    coretest::RawClient client;
    ASSERT_TRUE(client.connect(AF_INET, static_cast<std::uint16_t>(server->port())));
    ASSERT_TRUE(client.send(request.substr(0, request.size() - 32 * 1024)));
    ASSERT_EQ(stagedFilesIn(staging()).size(), 1u);
    WebUploader::setStagingFaultInjector(nullptr);
    ASSERT_TRUE(removed);
    EXPECT_FALSE(OtherServerHold(staging(), LOCK_EX).held) << "another server could clear the folder";
    ASSERT_TRUE(client.send(request.substr(request.size() - 32 * 1024)));
    EXPECT_EQ(coretest::parseReply(client.readAll()).status, 200);
    EXPECT_EQ(readFile(share("a.txt")), std::string(64 * 1024, 'x'));
}
