// The WebDAV server on what a Linux file system allows: the shared folder given as a home folder
// named by its user or relative to the working directory, and names that are not UTF-8 text.

#include "WebDAVTestSupport.h"

#include "foundation/FileSystem.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

using coretest::HttpReply;
using davtest::DAVServerTest;
using davtest::expectError;

namespace {

// Changes the working directory for the life of the object.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path) {
        char* current = ::getcwd(nullptr, 0);
        if (current) {
            _previous = current;
            std::free(current);
        }
        _changed = ::chdir(path.c_str()) == 0;
    }
    ~WorkingDirectory() {
        if (_changed && !_previous.empty() && ::chdir(_previous.c_str()) != 0) {
            ADD_FAILURE() << "cannot return to " << _previous;
        }
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    bool changed() const { return _changed; }

private:
    std::string _previous;
    bool _changed = false;
};

HttpReply request(const WebDAVServer& server, const std::string& method, const std::string& path,
                  const std::string& headers = "") {
    return coretest::exchange(static_cast<std::uint16_t>(server.port()),
                              method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n");
}

} // namespace

TEST(WebDAVConformance, TildeWithAUserNameStandsForThatUsersHome) {
    const passwd* entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_name || !entry->pw_dir || *entry->pw_dir != '/') {
        GTEST_SKIP() << "the current user has no home folder in the user database";
    }
    const std::string user = entry->pw_name;
    const std::string home = platform::FileSystem::standardizePath(entry->pw_dir);
    EXPECT_EQ(WebDAVServer::create("~" + user)->uploadDirectory(), home);
    EXPECT_EQ(WebDAVServer::create("~" + user + "/Shared/./a/..")->uploadDirectory(),
              platform::FileSystem::standardizePath(home + "/Shared"));
    // A user that does not exist leaves the text as it is: a folder named so, below the current one.
    char* current = ::getcwd(nullptr, 0);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(WebDAVServer::create("~no-such-user-lanyard/x")->uploadDirectory(),
              platform::FileSystem::standardizePath(std::string(current) + "/~no-such-user-lanyard/x"));
    std::free(current);
}

TEST(WebDAVConformance, HiddenItemsStayHiddenInAFolderGivenAsDot) {
    statictest::ScratchFolder folder;
    ASSERT_TRUE(folder.valid());
    ASSERT_TRUE(statictest::writeFile(folder / ".secret", "hidden"));
    ASSERT_TRUE(statictest::writeFile(folder / "seen.txt", "seen"));
    WorkingDirectory inside(folder.path());
    ASSERT_TRUE(inside.changed());
    const auto server = WebDAVServer::create(".");
    Error error;
    ASSERT_TRUE(server->startWithOptions(
        {{WebServerOption_Port, 0LL}, {WebServerOption_BindToLocalhost, true}}, &error))
        << error.description;

    expectError(request(*server, "GET", "/.secret"), 403, "Downlading item name \".secret\" is not allowed");
    expectError(request(*server, "DELETE", "/.secret"), 403, "Deleting item name \".secret\" is not allowed");
    expectError(request(*server, "PROPFIND", "/.secret", "Depth: 0\r\n"), 403,
                "Retrieving properties for item name \".secret\" is not allowed");
    const HttpReply listing = request(*server, "PROPFIND", "/", "Depth: 1\r\n");
    EXPECT_EQ(listing.status, 207);
    EXPECT_EQ(listing.body.find(".secret"), std::string::npos) << listing.body;
    EXPECT_NE(listing.body.find("<D:href>/seen.txt</D:href>"), std::string::npos) << listing.body;
    // The folder itself is not hidden, and what is not hidden is served.
    EXPECT_EQ(request(*server, "GET", "/seen.txt").body, "seen");
    EXPECT_EQ(request(*server, "OPTIONS", "/").status, 200);
    server->stop();
    EXPECT_TRUE(platform::FileSystem::itemExists(folder / ".secret"));
    coretest::runMainQueue(0);
}

TEST_F(DAVServerTest, PropfindLeavesOutNamesThatAreNotUTF8) {
    write("caf\xE9.txt", "bytes"); // "café.txt" written in ISO Latin-1
    makeFolder("\xFF");
    write("caf\xC3\xA9.txt", "text");
    const HttpReply listing = dav("PROPFIND", "/", "Depth: 1\r\n");
    ASSERT_EQ(listing.status, 207);
    std::vector<std::string> hrefs;
    for (std::size_t at = listing.body.find("<D:href>"); at != std::string::npos;
         at = listing.body.find("<D:href>", at + 1)) {
        hrefs.push_back(listing.body.substr(at + 8, listing.body.find("</D:href>", at) - at - 8));
    }
    EXPECT_EQ(hrefs, (std::vector<std::string>{"/", "/caf%C3%A9.txt"})) << listing.body;
    EXPECT_EQ(dav("GET", "/caf%C3%A9.txt").body, "text");
    EXPECT_EQ(contents("caf\xE9.txt"), "bytes");
}
