// The file manager's staging folder when several servers share one folder: each holds the folder's
// lock file while its uploads use it, and a folder is left over only when nobody holds it.

#include "UploaderTestSupport.h"

#include "foundation/FileSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace uploadertest;

namespace {

// Another server's hold on a staging folder, taken as another process takes it: the lock file
// locked shared through an open file description of its own.
class OtherServerHold {
public:
    explicit OtherServerHold(const std::string& staging) {
        makeDirectory(staging);
        const std::string lock = staging + "/" + WebUploader::kStagingLockName;
        _lock = ::open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        held = _lock != -1 && ::flock(_lock, LOCK_SH | LOCK_NB) == 0;
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

} // namespace

// A server that starts, uploads and stops while another server holds the staging folder leaves that
// server's staged file alone; once nobody holds the folder, it is a leftover and goes.
TEST_F(UploaderTest, AStagingFolderAnotherServerHoldsIsLeftAlone) {
    const std::string staging = share(WebUploader::kStagingFolderName);
    const std::string theirs = staging + "/their-upload";
    server->stop();
    OtherServerHold other(staging);
    ASSERT_TRUE(other.held);
    ASSERT_TRUE(writeFile(theirs, "theirs"));
    startServer(WebUploader::create(share()));
    EXPECT_EQ(readFile(theirs), "theirs") << "left alone at start";
    EXPECT_EQ(uploadFile("/", "a.txt", "alpha").status, 200);
    EXPECT_EQ(readFile(share("a.txt")), "alpha");
    EXPECT_EQ(get("/list?path=/").status, 200); // the upload's request is gone a whole exchange later
    EXPECT_EQ(readFile(theirs), "theirs") << "left alone by an upload";
    server->stop();
    EXPECT_EQ(readFile(theirs), "theirs") << "left alone at stop";
    other.release();
    startServer(WebUploader::create(share()));
    EXPECT_FALSE(platform::FileSystem::itemExists(staging)) << "nobody holds it: a leftover";
    EXPECT_EQ(namesIn(share()), std::vector<std::string>{"a.txt"});
}
