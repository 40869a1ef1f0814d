// UP_FileMediaServerDelegate: ids, order, titles, paging, metadata, resource URLs and file
// requests.
#include "MediaServerTestSupport.h"

#include "KL_Url.h"
#include "UP_FileMediaServerDelegate.h"

#include <functional>
#include <sched.h>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace media_test {
namespace {

using MediaDelegateTests = MediaFixture;

TEST_F(MediaDelegateTests, ChildrenOldestFirstWithIdsAndTitles) {
    WriteFile(m_Share / "a.jpg");
    WriteFile(m_Share / "b.mp3");
    WriteFile(m_Share / ".hidden");
    WriteFile(m_Share / "x.y.mp4");
    SetTime(m_Share / "b.mp3", 1000000000);
    SetTime(m_Share / "a.jpg", 1000000100);
    SetTime(m_Share / "x.y.mp4", 1000000200);
    const ActionResult answer = Browse("0");
    ASSERT_EQ(answer.result, KL_SUCCESS);
    const std::string didl = answer.Get("Result");
    EXPECT_EQ(Ids(didl), (std::vector<std::string>{"0/b.mp3", "0/a.jpg", "0/x.y.mp4"}));
    EXPECT_EQ(Titles(didl), (std::vector<std::string>{"b", "a", "x.y"}));
    EXPECT_EQ(Matches(didl, "parentID=\"([^\"]*)\""), (std::vector<std::string>{"0", "0", "0"}));
    EXPECT_EQ(answer.Get("NumberReturned"), "3");
    EXPECT_EQ(answer.Get("TotalMatches"), "3");
    EXPECT_EQ(answer.Get("UpdateID"), "1");
    EXPECT_TRUE(PassesXmllint(didl));
}

TEST_F(MediaDelegateTests, Paging) {
    WriteFile(m_Share / "1.mp3");
    WriteFile(m_Share / "2.mp3");
    WriteFile(m_Share / "3.mp3");
    struct Case {
        const char* start;
        const char* count;
        const char* returned;
    };
    const Case cases[] = {{"1", "1", "1"}, {"0", "0", "3"}, {"2", "5", "1"}, {"7", "2", "0"}};
    for (const Case& c : cases) {
        const ActionResult answer = Browse("0", "BrowseDirectChildren", "*", c.start, c.count);
        EXPECT_EQ(answer.Get("NumberReturned"), c.returned) << c.start << "/" << c.count;
        EXPECT_EQ(answer.Get("TotalMatches"), "3") << c.start << "/" << c.count;
        EXPECT_EQ(std::to_string(Ids(answer.Get("Result")).size()), c.returned);
    }
}

// One answer holds at most 1000 objects, also for RequestedCount 0 or above 1000; TotalMatches
// counts them all.
TEST_F(MediaDelegateTests, OneAnswerHoldsAtMostAThousandObjects) {
    for (int i = 0; i < 3000; ++i) {
        std::ofstream(m_Share / ("f" + std::to_string(i) + ".mp3")) << "x";
    }
    struct Case {
        const char* start;
        const char* count;
        const char* returned;
    };
    const Case cases[] = {
        {"0", "0", "1000"}, {"0", "5000", "1000"}, {"2500", "0", "500"}, {"10", "20", "20"}};
    for (const Case& c : cases) {
        const ActionResult answer = Browse("0", "BrowseDirectChildren", "*", c.start, c.count);
        EXPECT_EQ(answer.Get("NumberReturned"), c.returned) << c.start << "/" << c.count;
        EXPECT_EQ(answer.Get("TotalMatches"), "3000") << c.start << "/" << c.count;
        EXPECT_EQ(std::to_string(Ids(answer.Get("Result")).size()), c.returned) << c.start << "/" << c.count;
    }
}

// Entries of one modification time are listed by name, whatever order the folder keeps.
TEST_F(MediaDelegateTests, EqualTimesAreListedByName) {
    const char* created[] = {"07", "03", "11", "01", "12", "05", "09", "02", "10", "04", "08", "06"};
    for (const char* name : created) {
        WriteFile(m_Share / (std::string(name) + ".mp3"));
        SetTime(m_Share / (std::string(name) + ".mp3"), 1000000000);
    }
    EXPECT_EQ(
        Titles(Browse("0").Get("Result")),
        (std::vector<std::string>{"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"}));
}

// childCount counts what a Browse of the container lists: no hidden names, FIFOs, files of no
// known kind (with the filter on) or links that lead out.
TEST_F(MediaDelegateTests, ChildCountIsWhatBrowseLists) {
    WriteFile(m_Share / "a.mp3");
    WriteFile(m_Share / ".hidden");
    WriteFile(m_Base / "outside.mp3");
    fs::create_directories(m_Share / "Movies");
    WriteFile(m_Share / "Movies" / "b.mp4");
    ASSERT_EQ(::mkfifo((m_Share / "pipe.mp3").c_str(), 0600), 0);
    fs::create_symlink(m_Base / "outside.mp3", m_Share / "out.mp3");
    fs::create_symlink("a.mp3", m_Share / "in.mp3");
    const std::string didl = Browse("0", "BrowseMetadata").Get("Result");
    EXPECT_NE(
        didl.find("<container id=\"0\" parentID=\"-1\" restricted=\"1\" searchable=\"0\" childCount=\"3\">"
                  "<dc:title>Root</dc:title>"),
        std::string::npos)
        << didl;
    EXPECT_EQ(Browse("0").Get("TotalMatches"), "3");
    EXPECT_EQ(Matches(Browse("0").Get("Result"), "childCount=\"([0-9]+)\""), std::vector<std::string>{"1"});
    const std::string movies = Browse("0/Movies", "BrowseMetadata").Get("Result");
    EXPECT_EQ(Ids(movies), std::vector<std::string>{"0/Movies"});
}

// What a file's extension means is kept by the server, but for each kind of client apart.
TEST_F(MediaDelegateTests, EachClientGetsItsOwnProtocolInfo) {
    WriteFile(m_Share / "a.mp3");
    const Arguments metadata{{"ObjectID", "0/a.mp3"}, {"BrowseFlag", "BrowseMetadata"}, {"Filter", "*"},
                             {"StartingIndex", "0"},  {"RequestedCount", "0"},          {"SortCriteria", ""}};
    Arguments children = metadata;
    children[0].second = "0";
    children[1].second = "BrowseDirectChildren";
    const std::string kPlaystation = "PLAYSTATION 3";
    for (const Arguments& arguments : {metadata, children}) {
        std::vector<std::string> infos;
        for (const std::string& agent : {std::string("VLC/3.0"), kPlaystation, std::string("VLC/3.0")}) {
            const std::string didl = Call("Browse", arguments, agent.c_str()).Get("Result");
            const std::vector<std::string> found = Matches(didl, "protocolInfo=\"([^\"]*)\"");
            ASSERT_EQ(found.size(), 1u) << didl;
            infos.push_back(found[0]);
        }
        EXPECT_NE(infos[0].find("DLNA.ORG_PN=MP3"), std::string::npos) << infos[0];
        EXPECT_EQ(infos[1], "http-get:*:audio/mpeg:DLNA.ORG_OP=01");
        EXPECT_EQ(infos[2], infos[0]);
    }
}

TEST_F(MediaDelegateTests, RefusedBrowses) {
    WriteFile(m_Share / "a.mp3");
    EXPECT_EQ(Browse("0/a.mp3").code, 701u);
    EXPECT_EQ(Browse("0/missing.mp3", "BrowseMetadata").code, 800u);
    EXPECT_EQ(Browse("0/missing", "BrowseDirectChildren").code, 701u);
}

// A folder's listing is kept once it has been quiet for 2 s; any change of the folder lists it
// afresh. While it is kept, the listing answers for its files too (a file rewritten in place keeps
// the size it was listed with).
TEST_F(MediaDelegateTests, ListingCacheFollowsTheFolder) {
    WriteFile(m_Share / "a.mp3", "1");
    WriteFile(m_Share / "b.mp3", "22");
    SetTime(m_Share / "a.mp3", 1000000000);
    SetTime(m_Share / "b.mp3", 1000000100);
    for (int i = 0; i < 70; ++i) { // big enough to be kept; later than a and b
        fs::create_directories(m_Share / ("d" + std::to_string(i)));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    const auto first_two = [this]() {
        return Ids(Browse("0", "BrowseDirectChildren", "*", "0", "2").Get("Result"));
    };
    EXPECT_EQ(first_two(), (std::vector<std::string>{"0/a.mp3", "0/b.mp3"}));
    WriteFile(m_Share / "b.mp3", "4444"); // in place: the folder does not change
    SetTime(m_Share / "b.mp3", 1000000100);
    EXPECT_EQ(Matches(Browse("0").Get("Result"), "size=\"([0-9]+)\""), (std::vector<std::string>{"1", "2"}));
    WriteFile(m_Share / "c.mp3");
    SetTime(m_Share / "c.mp3", 999999999);
    EXPECT_EQ(Ids(Browse("0", "BrowseDirectChildren", "*", "0", "3").Get("Result")),
              (std::vector<std::string>{"0/c.mp3", "0/a.mp3", "0/b.mp3"}));
    fs::remove(m_Share / "a.mp3");
    const ActionResult answer = Browse("0", "BrowseDirectChildren", "*", "0", "2");
    EXPECT_EQ(Ids(answer.Get("Result")), (std::vector<std::string>{"0/c.mp3", "0/b.mp3"}));
    EXPECT_EQ(answer.Get("TotalMatches"), "72");
}

TEST_F(MediaDelegateTests, ResourceUrlsAndFileRequests) {
    WriteFile(m_Share / "Movies" / "My a.mp4", "0123456789");
    const std::string didl = Browse("0/Movies").Get("Result");
    EXPECT_EQ(Resources(didl), std::vector<std::string>{"http://127.0.0.1:4321/%25/Movies/My%20a.mp4"});
    EXPECT_EQ(Get("/%25/Movies/My%20a.mp4"), (std::pair<int, uint64_t>{200, 10}));
    EXPECT_EQ(Get("/%25/Movies/My%20a.mp4", "HEAD").first, 200);
    EXPECT_EQ(Get("/%25/Movies/My%20a.mp4", "POST").first, 500);
    EXPECT_EQ(Get("/%25/Movies/none.mp4").first, 404);
    EXPECT_EQ(Get("/%25/Movies/My%20a.mp4?x=1").first, 200);
    WriteFile(m_Share / "Odd" / "a #?%.mp3");
    EXPECT_EQ(Resources(Browse("0/Odd").Get("Result")),
              std::vector<std::string>{
                  Server()
                      .BuildResourceUri(KL_HttpUrl("127.0.0.1", 4321, "/"), "127.0.0.1", "Odd/a #?%.mp3")
                      .GetChars()});
}

TEST_F(MediaDelegateTests, ExtractAndBuildResourcePaths) {
    UP_FileMediaServerDelegate delegate("/", m_Share.c_str());
    struct Case {
        const char* url;
        KL_Result result;
        const char* path;
    };
    const Case cases[] = {
        {"http://h/%25/Movies/My%20a.mp4", KL_SUCCESS, "Movies/My a.mp4"},
        {"http://h/%/Movies/My a.mp4", KL_SUCCESS, "Movies/My a.mp4"},
        {"http://h/%25/100%25.mp3", KL_SUCCESS, "100%.mp3"},
    };
    for (const Case& c : cases) {
        KL_String path;
        EXPECT_EQ(delegate.ExtractResourcePath(KL_HttpUrl(c.url), path), c.result) << c.url;
        EXPECT_STREQ(path.GetChars(), c.path) << c.url;
    }
    const KL_HttpUrl base("127.0.0.1", 80, "/");
    EXPECT_STREQ(delegate.BuildResourceUri(base, "10.0.0.1", "a #?.mp3").GetChars(),
                 "http://10.0.0.1:80/%25/a%20%23%3F.mp3");
    UP_FileMediaServerDelegate rooted("/media", m_Share.c_str());
    KL_String path;
    EXPECT_EQ(rooted.ExtractResourcePath(KL_HttpUrl("http://h/other/%25/a.mp3"), path), KL_FAILURE);
    EXPECT_EQ(rooted.ExtractResourcePath(KL_HttpUrl("http://h/media/%25/a.mp3"), path), KL_SUCCESS);
    EXPECT_STREQ(path.GetChars(), "a.mp3");
}

// Runs check in a child process moved into a network namespace of its own after the shell
// commands of setup ran there: skips where namespaces are refused, fails when check answers false.
void InOwnNetworkNamespace(const char* setup, const std::function<bool()>& check) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int code = 77;
        if (::unshare(CLONE_NEWNET) == 0 &&
            std::system((std::string(setup) + " >/dev/null 2>&1").c_str()) == 0) {
            code = check() ? 0 : 1;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "network namespaces are refused here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Two addresses on a veth pair: "ALLIP" gives one res per address, the request's own first;
// without it, one res.
TEST_F(MediaDelegateTests, AllAddressesFilter) {
    WriteFile(m_Share / "a.mp3");
    Server();
    InOwnNetworkNamespace("ip link add en0 type veth peer name cp0 && ip addr add 10.231.8.1/24 dev en0 && "
                          "ip addr add 10.231.9.1/24 dev cp0 && ip link set en0 up && ip link set cp0 up",
                          [this]() {
                              const std::vector<std::string> all = Resources(
                                  Browse("0", "BrowseDirectChildren", "dc:title,res,ALLIP").Get("Result"));
                              const std::vector<std::string> one =
                                  Resources(Browse("0", "BrowseDirectChildren", "res").Get("Result"));
                              const std::string first = "http://127.0.0.1:4321/%25/a.mp3";
                              const std::set<std::string> others = {"http://10.231.8.1:4321/%25/a.mp3",
                                                                    "http://10.231.9.1:4321/%25/a.mp3"};
                              return all.size() == 3 && all[0] == first &&
                                     std::set<std::string>(all.begin() + 1, all.end()) == others &&
                                     one == std::vector<std::string>{first};
                          });
}

// The interface list behind "ALLIP" is kept: an address that comes up shows only once a request
// arrives on an address the list does not hold (or after a few seconds).
TEST_F(MediaDelegateTests, InterfaceListKeptUntilAnUnknownAddress) {
    WriteFile(m_Share / "a.mp3");
    Server();
    InOwnNetworkNamespace(
        "ip link add en0 type veth peer name cp0 && ip addr add 10.231.8.1/24 dev en0 && "
        "ip link set en0 up && ip link set cp0 up",
        [this]() {
            const auto all = [this]() {
                return Resources(Browse("0", "BrowseDirectChildren", "res,ALLIP").Get("Result")).size();
            };
            const size_t before = all(); // 127.0.0.1 (the request's) and 10.231.8.1
            const bool added = std::system("ip addr add 10.231.9.1/24 dev cp0") == 0;
            const size_t kept = all();
            m_LocalAddress = KL_IpAddress(10, 231, 9, 1); // not in the list: listed again
            (void)all();
            m_LocalAddress = KL_IpAddress(127, 0, 0, 1);
            return added && before == 2 && kept == 2 && all() == 3;
        });
}

} // namespace
} // namespace media_test
