// What the media server never publishes: ids and URLs that leave the share, links that lead out
// of it, special files, names that cannot be object ids; and start/stop under load.
#include "MediaServerTestSupport.h"

#include "../http/HttpTestSupport.h"
#include "UP_Service.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>

namespace media_test {
namespace {

using MediaSafetyTests = MediaFixture;

std::string SoapBrowse(const std::string& id, const char* flag = "BrowseDirectChildren",
                       bool with_filter = true) {
    return std::string(
               "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
               "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
               "<u:Browse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><ObjectID>") +
           id + "</ObjectID><BrowseFlag>" + flag + "</BrowseFlag>" +
           (with_filter ? "<Filter>*</Filter>" : "") +
           "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria>"
           "</u:Browse></s:Body></s:Envelope>";
}

std::string Post(const std::string& path, const std::string& action, const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n" +
           "SOAPAction: \"urn:schemas-upnp-org:service:ContentDirectory:1#" + action +
           "\"\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(MediaSafetyTests, IdsOutsideTheShareAreRefused) {
    WriteFile(m_Share / "a.mp3");
    WriteFile(m_Base / "share-old" / "sibling-secret.mp3");
    const char* ids[] = {"0/..", "0/../../etc", "0/./x", "0-old", "../x", "", "0//a.mp3", "0/a.mp3/", "/etc"};
    for (const char* id : ids) {
        for (const char* flag : {"BrowseMetadata", "BrowseDirectChildren"}) {
            const ActionResult answer = Browse(id, flag);
            EXPECT_EQ(answer.code, 701u) << id << " " << flag;
            EXPECT_EQ(answer.Get("Result"), "") << id << " " << flag;
        }
        EXPECT_EQ(Search(id, "dc:title contains \"x\"").code, 710u) << id;
    }
    EXPECT_EQ(Get("/%25/../share-old/sibling-secret.mp3").first, 404);
    EXPECT_EQ(Get("/%25/%2e%2e/share-old/sibling-secret.mp3").first, 404);
    EXPECT_EQ(Get("/%25/.hidden").first, 404);
}

TEST_F(MediaSafetyTests, LinksOnlyInsideTheShare) {
    WriteFile(m_Share / "inner.mp3", "inner");
    fs::create_directories(m_Share / "Folder");
    WriteFile(m_Base / "sibling" / "outside.mp3", "outside");
    fs::create_symlink("/etc", m_Share / "etc-link");
    fs::create_symlink(m_Base / "sibling", m_Share / "sibling-link");
    fs::create_symlink(m_Base / "sibling" / "outside.mp3", m_Share / "outside-link.mp3");
    fs::create_symlink("../share-other/x.mp3", m_Share / "prefix-link.mp3");
    WriteFile(m_Base / "share-other" / "x.mp3");
    fs::create_symlink("inner.mp3", m_Share / "inner-link.mp3");
    fs::create_symlink(m_Share / "Folder", m_Share / "folder-link");
    const std::string didl = Browse("0").Get("Result");
    std::vector<std::string> ids = Ids(didl);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids,
              (std::vector<std::string>{"0/Folder", "0/folder-link", "0/inner-link.mp3", "0/inner.mp3"}));
    EXPECT_EQ(Get("/%25/outside-link.mp3").first, 404);
    EXPECT_EQ(Get("/%25/sibling-link/outside.mp3").first, 404);
    EXPECT_EQ(Get("/%25/etc-link/hostname").first, 404);
    EXPECT_EQ(Get("/%25/prefix-link.mp3").first, 404);
    EXPECT_EQ(Get("/%25/inner-link.mp3"), (std::pair<int, uint64_t>{200, 5}));
    EXPECT_EQ(Browse("0/etc-link").code, 701u);
    EXPECT_EQ(Browse("0/sibling-link", "BrowseMetadata").code, 800u);
    EXPECT_EQ(Browse("0/folder-link").code, 0u);
}

// A file and a folder swapped again and again for links to the outside while they are served and
// listed: nothing of the outside is ever served or listed (each request resolves and opens once,
// beneath the share's descriptor).
TEST_F(MediaSafetyTests, SwapsForOutsideLinksNeverLeak) {
    WriteFile(m_Share / "song.mp3", "inside");
    WriteFile(m_Share / "Folder" / "inner.mp3");
    WriteFile(m_Base / "outside" / "canary-secret.mp3", "outside canary");
    fs::create_symlink(m_Base / "outside" / "canary-secret.mp3", m_Share / "song-swap");
    fs::create_symlink(m_Base / "outside", m_Share / "folder-swap");
    Server();
    std::atomic<bool> done{false};
    std::thread swapper([&]() {
        for (int i = 0; i < 1000000 && !done.load(); ++i) {
            (void)::renameat2(AT_FDCWD, (m_Share / "song.mp3").c_str(), AT_FDCWD,
                              (m_Share / "song-swap").c_str(), RENAME_EXCHANGE);
            (void)::renameat2(AT_FDCWD, (m_Share / "Folder").c_str(), AT_FDCWD,
                              (m_Share / "folder-swap").c_str(), RENAME_EXCHANGE);
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int served = 0;
    int listed = 0;
    int leaked = 0;
    for (int i = 0; i < 3000 && std::chrono::steady_clock::now() < deadline; ++i) {
        const auto [status, length] = Get("/%25/song.mp3");
        served += status == 200 ? 1 : 0;
        leaked += status == 200 && length != 6 ? 1 : 0;
        const std::string folder = Browse("0/Folder").Get("Result");
        const std::string root = Browse("0").Get("Result");
        listed += folder.find("inner") != std::string::npos ? 1 : 0;
        leaked += folder.find("canary") != std::string::npos || root.find("size=\"14\"") != std::string::npos
                      ? 1
                      : 0;
    }
    done.store(true);
    swapper.join();
    EXPECT_EQ(leaked, 0);
    EXPECT_GT(served, 0);
    EXPECT_GT(listed, 0);
}

TEST_F(MediaSafetyTests, SpecialFilesAreNeitherListedNorServed) {
    WriteFile(m_Share / "a.mp3");
    ASSERT_EQ(::mkfifo((m_Share / "fifo.mp3").c_str(), 0644), 0);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (m_Share / "socket.mp3").c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const bool device = ::mknod((m_Share / "device.mp3").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    const std::string didl = Browse("0").Get("Result");
    EXPECT_EQ(Ids(didl), std::vector<std::string>{"0/a.mp3"});
    EXPECT_TRUE(PassesXmllint(didl));
    for (const char* url : {"/%25/fifo.mp3", "/%25/socket.mp3", "/%25/device.mp3"}) {
        EXPECT_EQ(Get(url).first, 404) << url;
    }
    EXPECT_EQ(Browse("0/fifo.mp3", "BrowseMetadata").code, 800u);
    ::close(fd);
    if (!device) {
        std::printf("note: mknod refused here, the device node case did not run\n");
    }
}

TEST_F(MediaSafetyTests, NamesThatCannotBeIdsAreLeftOut) {
    const char* bad[] = {"\x01start.mp3", "end\x1f.mp3", "bad\xff\xfe.mp3", "over\xc0\xaf.mp3",
                         "\xed\xa0\x80.mp3"};
    for (const char* name : bad) {
        WriteFile(m_Share / name);
    }
    WriteFile(m_Share / "tab\there & <ok>.mp3");
    const std::string didl = Browse("0").Get("Result");
    EXPECT_EQ(Ids(didl), std::vector<std::string>{"0/tab&#9;here &amp; &lt;ok&gt;.mp3"});
    EXPECT_TRUE(PassesXmllint(didl));
    EXPECT_EQ(Browse("0/end\x1f.mp3", "BrowseMetadata").code, 701u);
}

TEST_F(MediaSafetyTests, SharingTheRootKeepsIt) {
    UP_FileMediaServer& server = Server("/");
    EXPECT_STREQ(server.GetFileRoot().GetChars(), "/");
    KL_String path;
    EXPECT_EQ(server.GetFilePath("0/etc", path), KL_SUCCESS);
    EXPECT_STREQ(path.GetChars(), "/etc");
    const std::vector<std::string> ids = Ids(Browse("0").Get("Result"));
    EXPECT_NE(std::find(ids.begin(), ids.end(), "0/etc"), ids.end());
    EXPECT_EQ(Matches(Browse("0/etc", "BrowseMetadata").Get("Result"), "parentID=\"([^\"]*)\""),
              std::vector<std::string>{"0"});
    EXPECT_EQ(Titles(Browse("0", "BrowseMetadata").Get("Result")), std::vector<std::string>{"Root"});
}

// The device host's own checks come first: a missing argument is its 402, an unknown action 401.
TEST_F(MediaSafetyTests, HostRefusalsOverHttp) {
    UP_FileMediaServer server(m_Share.c_str(), "Refusals");
    ASSERT_EQ(server.Start(), KL_SUCCESS);
    UP_Service* service = nullptr;
    ASSERT_EQ(server.FindServiceByName("ContentDirectory", service), KL_SUCCESS);
    const std::string control = service->GetControlURL().GetChars();
    http_test::RawClient client(server.GetPort());
    http_test::Answer answer =
        client.Exchange(Post(control, "Browse", SoapBrowse("0", "BrowseDirectChildren", false)));
    EXPECT_EQ(answer.status, 500);
    EXPECT_NE(answer.body.find("<errorCode>402</errorCode>"), std::string::npos) << answer.body;
    answer = client.Exchange(
        Post(control, "X_GetFeatureList",
             "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/"
             "envelope/\" s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
             "<u:X_GetFeatureList xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"/>"
             "</s:Body></s:Envelope>"));
    EXPECT_EQ(answer.status, 500);
    EXPECT_NE(answer.body.find("<errorCode>401</errorCode>"), std::string::npos) << answer.body;
    answer = client.Exchange(Post(control, "Browse", SoapBrowse("0/../../etc")));
    EXPECT_NE(answer.body.find("<errorCode>701</errorCode>"), std::string::npos) << answer.body;
    EXPECT_EQ(answer.body.find("passwd"), std::string::npos);
    EXPECT_EQ(server.Stop(), KL_SUCCESS);
}

TEST_F(MediaSafetyTests, StartStopUnderLoad) {
    WriteFile(m_Share / "a.mp3", std::string(256 * 1024, 'x'));
    UP_FileMediaServer server(m_Share.c_str(), "Churn");
    std::atomic<uint16_t> port{0};
    std::atomic<bool> done{false};
    std::atomic<int> answered{0};
    std::string control;
    auto load = [&](bool browse) {
        while (!done.load()) {
            const uint16_t current = port.load();
            if (current == 0) {
                std::this_thread::yield();
                continue;
            }
            http_test::RawClient client(current, 5);
            const http_test::Answer answer =
                browse ? client.Exchange(Post(control, "Browse", SoapBrowse("0")))
                       : client.Exchange("GET /%25/a.mp3 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            if (answer.status == 200) {
                answered.fetch_add(1);
            }
        }
    };
    ASSERT_EQ(server.Start(), KL_SUCCESS);
    UP_Service* service = nullptr;
    ASSERT_EQ(server.FindServiceByName("ContentDirectory", service), KL_SUCCESS);
    control = service->GetControlURL().GetChars(); // the same on every start
    ASSERT_EQ(server.Stop(), KL_SUCCESS);
    std::thread browser(load, true);
    std::thread getter(load, false);
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(server.Start(), KL_SUCCESS) << cycle;
        const int before = answered.load();
        port.store(server.GetPort());
        for (int wait = 0; wait < 500 && answered.load() < before + 2; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        port.store(0);
        EXPECT_EQ(server.Stop(), KL_SUCCESS) << cycle;
    }
    done.store(true);
    browser.join();
    getter.join();
    EXPECT_GE(answered.load(), 20);
}

} // namespace
} // namespace media_test
