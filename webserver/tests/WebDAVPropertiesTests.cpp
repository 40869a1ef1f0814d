// PROPFIND, LOCK and UNLOCK on a real socket: the exact multistatus text, every refusal, and the
// pretend locks of the macOS clients.

#include "WebDAVTestSupport.h"

#include "WebServerFunctions.h"

#include "foundation/FileSystem.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>

using coretest::HttpReply;
using davtest::DAVServerTest;
using davtest::expectError;
using platform::FileSystem;

namespace {

const char* const kFinder = "User-Agent: WebDAVFS/3.0.0 (03008000) Darwin/22.1.0\r\n";

// One <D:response> of a multistatus: its href and its properties (name → text inside).
struct Entry {
    std::string href;
    std::map<std::string, std::string> properties;
    std::string status;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
    out << entry.href << " {";
    for (const auto& [name, value] : entry.properties) {
        out << name << "=" << value << " ";
    }
    return out << "} " << entry.status;
}

// Reads a multistatus body into its entries; an entry that does not parse gives an empty href.
std::vector<Entry> parseMultistatus(const std::string& body) {
    std::vector<Entry> entries;
    const std::regex response("<D:response><D:href>([^<]*)</D:href><D:propstat><D:prop>(.*?)</D:prop>"
                              "<D:status>([^<]*)</D:status></D:propstat></D:response>\n");
    const std::regex property("<D:([a-z]+)(/>|>(.*?)</D:\\1>)");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), response); it != std::sregex_iterator();
         ++it) {
        Entry entry{(*it)[1], {}, (*it)[3]};
        const std::string props = (*it)[2];
        for (auto p = std::sregex_iterator(props.begin(), props.end(), property); p != std::sregex_iterator();
             ++p) {
            entry.properties[(*p)[1]] = (*p)[3];
        }
        entries.push_back(entry);
    }
    return entries;
}

std::vector<std::string> hrefsOf(const HttpReply& reply) {
    std::vector<std::string> hrefs;
    for (const Entry& entry : parseMultistatus(reply.body)) {
        hrefs.push_back(entry.href);
    }
    return hrefs;
}

std::string creationDate(const std::string& path) {
    const auto status = FileSystem::statusOfItem(path);
    return status && status->creationTime ? FormatISO8601Date(status->creationTime->date()) : "";
}

std::string modificationDate(const std::string& path) {
    return FormatRFC822Date(FileSystem::statusOfItem(path)->modificationTime.date());
}

std::string creationElement(const std::string& path) {
    const std::string date = creationDate(path);
    return date.empty() ? "" : "<D:creationdate>" + date + "</D:creationdate>";
}

} // namespace

TEST_F(DAVServerTest, PropfindDepthOneListsTheFolderItsFileAndItsSubfolder) {
    write("a.txt", "hello");
    makeFolder("b");
    write(".hidden", "h");
    const HttpReply reply = dav("PROPFIND", "/", "Depth: 1\r\n");
    ASSERT_EQ(reply.status, 207);
    ASSERT_NE(reply.header("Content-Type"), nullptr);
    EXPECT_EQ(*reply.header("Content-Type"), "application/xml; charset=\"utf-8\"");

    const std::string ok = "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n";
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:multistatus xmlns:D=\"DAV:\">\n"
        "<D:response><D:href>/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype>" +
        creationElement(folder.path()) + ok +
        "<D:response><D:href>/a.txt</D:href><D:propstat><D:prop><D:resourcetype/>" +
        creationElement(path("a.txt")) + "<D:getlastmodified>" + modificationDate(path("a.txt")) +
        "</D:getlastmodified><D:getcontentlength>5</D:getcontentlength>" + ok +
        "<D:response><D:href>/b</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></"
        "D:resourcetype>" +
        creationElement(path("b")) + ok + "</D:multistatus>";
    EXPECT_EQ(reply.body, expected);

    std::vector<Entry> entries = parseMultistatus(reply.body);
    ASSERT_EQ(entries.size(), 3u) << reply.body;
    for (Entry& entry : entries) {
        EXPECT_EQ(entry.status, "HTTP/1.1 200 OK");
        entry.properties.erase("creationdate"); // only where the file system records it
    }
    EXPECT_EQ(entries[0], (Entry{"/", {{"resourcetype", "<D:collection/>"}}, "HTTP/1.1 200 OK"}));
    EXPECT_EQ(entries[1], (Entry{"/a.txt",
                                 {{"resourcetype", ""},
                                  {"getlastmodified", modificationDate(path("a.txt"))},
                                  {"getcontentlength", "5"}},
                                 "HTTP/1.1 200 OK"}));
    EXPECT_EQ(entries[2], (Entry{"/b", {{"resourcetype", "<D:collection/>"}}, "HTTP/1.1 200 OK"}));
}

TEST_F(DAVServerTest, PropfindDepthRows) {
    write("a.txt", "x");
    makeFolder("sub");
    write("sub/f.txt", "x");
    expectError(dav("PROPFIND", "/"), 400, "Unsupported 'Depth' header: ");
    expectError(dav("PROPFIND", "/", "Depth: infinity\r\n"), 400, "Unsupported 'Depth' header: infinity");
    expectError(dav("PROPFIND", "/", "Depth: 2\r\n"), 400, "Unsupported 'Depth' header: 2");
    EXPECT_EQ(hrefsOf(dav("PROPFIND", "/", "Depth: 0\r\n")), std::vector<std::string>{"/"});
    EXPECT_EQ(hrefsOf(dav("PROPFIND", "/a.txt", "Depth: 1\r\n")), std::vector<std::string>{"/a.txt"});
    // A subfolder's own entry is its request path; its items are joined to it.
    for (const char* requestPath : {"/sub", "/sub/"}) {
        EXPECT_EQ(hrefsOf(dav("PROPFIND", requestPath, "Depth: 1\r\n")),
                  (std::vector<std::string>{requestPath, "/sub/f.txt"}));
    }
}

TEST_F(DAVServerTest, PropfindBodySelectsProperties) {
    write("a.txt", "hello");
    const std::string prop =
        "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:getcontentlength/>"
        "<D:displayname/><Z:resourcetype xmlns:Z=\"urn:other\"/></D:prop></D:propfind>";
    auto entries = parseMultistatus(dav("PROPFIND", "/a.txt", "Depth: 0\r\n", prop).body);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].properties,
              (std::map<std::string, std::string>{{"getcontentlength", "5"}, {"resourcetype", ""}}));

    const std::string allprop = "<propfind xmlns=\"DAV:\"><allprop/></propfind>";
    entries = parseMultistatus(dav("PROPFIND", "/a.txt", "Depth: 0\r\n", allprop).body);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].properties.count("getlastmodified"), 1u);
    EXPECT_EQ(entries[0].properties.count("getcontentlength"), 1u);
}

TEST_F(DAVServerTest, PropfindRefusals) {
    write("a.txt", "x");
    write(".hidden", "x");
    makeFolder(".dir");
    for (const std::string body : {"not xml at all", "<propfind xmlns=\"DAV:\"/>",
                                   "<propfind xmlns=\"DAV:\"><other/></propfind>", "<lockinfo/>"}) {
        expectError(dav("PROPFIND", "/", "Depth: 0\r\n", body), 400, "Invalid DAV properties:\n" + body);
    }
    expectError(dav("PROPFIND", "/nothing", "Depth: 0\r\n"), 404, "\"/nothing\" does not exist");
    expectError(dav("PROPFIND", "/..", "Depth: 0\r\n"), 404, "\"/..\" does not exist");
    expectError(dav("PROPFIND", "/.hidden", "Depth: 0\r\n"), 403,
                "Retrieving properties for item name \".hidden\" is not allowed");
    expectError(dav("PROPFIND", "/.dir", "Depth: 1\r\n"), 403,
                "Retrieving properties for item name \".dir\" is not allowed");
    server->setAllowedFileExtensions(std::vector<std::string>{"jpg"});
    expectError(dav("PROPFIND", "/a.txt", "Depth: 0\r\n"), 403,
                "Retrieving properties for item name \"a.txt\" is not allowed");
}

TEST_F(DAVServerTest, PropfindLeavesOutWhatMayNotBeListed) {
    write("a.txt", "x");
    write("b.jpg", "x");
    write(".hidden", "x");
    ASSERT_EQ(::symlink("a.txt", path("link").c_str()), 0);
    server->setAllowedFileExtensions(std::vector<std::string>{"jpg"});
    // The folder itself has no extension either.
    EXPECT_EQ(hrefsOf(dav("PROPFIND", "/", "Depth: 1\r\n")), (std::vector<std::string>{"/b.jpg"}));

    server->setAllowedFileExtensions(std::nullopt);
    server->setAllowHiddenItems(true);
    delegate.setListAnswer(
        [](const std::string& path) { return std::optional<bool>(path.find("a.txt") == std::string::npos); });
    EXPECT_EQ(hrefsOf(dav("PROPFIND", "/", "Depth: 1\r\n")),
              (std::vector<std::string>{"/", "/.hidden", "/b.jpg"}));
    const auto questions = delegate.listQuestions();
    EXPECT_NE(std::find(questions.begin(), questions.end(), path("a.txt") + " file"), questions.end());
}

TEST_F(DAVServerTest, LockAnswersFinderClientsInForm) {
    write("a.txt", "x");
    const std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:lockinfo xmlns:D=\"DAV:\">"
                             "<D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/></D:locktype>"
                             "<D:owner><D:href>me &amp; &lt;you&gt;</D:href></D:owner></D:lockinfo>";
    const HttpReply reply =
        dav("LOCK", "/a.txt", std::string(kFinder) + "Depth: 0\r\nTimeout: Second-600\r\n", body);
    ASSERT_EQ(reply.status, 200) << reply.raw;
    EXPECT_EQ(*reply.header("Content-Type"), "application/xml; charset=\"utf-8\"");
    const std::regex expected(
        "<\\?xml version=\"1.0\" encoding=\"utf-8\" \\?><D:prop xmlns:D=\"DAV:\">\n<D:lockdiscovery>\n"
        "<D:activelock>\n<D:locktype><D:write/></D:locktype>\n<D:lockscope><D:exclusive/></D:lockscope>\n"
        "<D:depth>0</D:depth>\n<D:owner><D:href>me &amp; &lt;you&gt;</D:href></D:owner>\n"
        "<D:timeout>Second-600</D:timeout>\n"
        "<D:locktoken><D:href>urn:uuid:[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}</D:href>"
        "</D:locktoken>\n<D:lockroot><D:href>http://127\\.0\\.0\\.1:[0-9]+//a\\.txt</D:href></D:lockroot>\n"
        "</D:activelock>\n</D:lockdiscovery>\n</D:prop>");
    EXPECT_TRUE(std::regex_match(reply.body, expected)) << reply.body;
    EXPECT_EQ(contents("a.txt"), "x");
    EXPECT_TRUE(events().empty());
}

TEST_F(DAVServerTest, LockRows) {
    write("a.txt", "x");
    write(".hidden", "x");
    const std::string finder = kFinder;
    const std::string exclusive = "<lockinfo xmlns=\"DAV:\"><lockscope><exclusive/></lockscope>"
                                  "<locktype><write/></locktype></lockinfo>";
    const std::string shared = "<lockinfo xmlns=\"DAV:\"><lockscope><shared/></lockscope>"
                               "<locktype><write/></locktype></lockinfo>";
    // Only the macOS clients may lock.
    expectError(dav("LOCK", "/a.txt", "Depth: 0\r\n", exclusive), 405,
                "LOCK method only allowed for Mac Finder");
    expectError(dav("LOCK", "/none", finder + "Depth: 0\r\n", exclusive), 404, "\"/none\" does not exist");
    expectError(dav("LOCK", "/a.txt", finder + "Depth: 0\r\n", "<propfind/>"), 400,
                "Invalid DAV properties:\n<propfind/>");
    expectError(dav("LOCK", "/a.txt", finder + "Depth: 0\r\n"), 400, "Invalid DAV properties:\n");
    expectError(dav("LOCK", "/a.txt", finder + "Depth: 0\r\n", shared), 403,
                "Locking request \"shared/write/0\" for \"/a.txt\" is not allowed");
    expectError(dav("LOCK", "/a.txt", finder + "Depth: infinity\r\n", exclusive), 403,
                "Locking request \"exclusive/write/infinity\" for \"/a.txt\" is not allowed");
    expectError(dav("LOCK", "/.hidden", finder + "Depth: 0\r\n", exclusive), 403,
                "Locking item name \".hidden\" is not allowed");
    const HttpReply noOwner = dav("LOCK", "/a.txt", finder + "Depth: 0\r\n", exclusive);
    EXPECT_EQ(noOwner.status, 200);
    EXPECT_EQ(noOwner.body.find("<D:owner>"), std::string::npos);
    EXPECT_EQ(noOwner.body.find("<D:timeout>"), std::string::npos);
}

TEST_F(DAVServerTest, LockEscapesWhatTheClientSent) {
    write("a&b.txt", "x");
    const std::string body = "<lockinfo xmlns=\"DAV:\"><lockscope><exclusive/></lockscope><locktype><write/>"
                             "</locktype><owner><href><![CDATA[</D:href><evil/>]]></href></owner></lockinfo>";
    const HttpReply reply =
        coretest::exchange(port(), "LOCK /a%26b.txt HTTP/1.1\r\nHost: h<x>\r\n" + std::string(kFinder) +
                                       "Depth: 0\r\nTimeout: <t>\r\n" +
                                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_EQ(reply.status, 200) << reply.raw;
    EXPECT_NE(reply.body.find("<D:owner><D:href>&lt;/D:href&gt;&lt;evil/&gt;</D:href></D:owner>"),
              std::string::npos)
        << reply.body;
    EXPECT_NE(reply.body.find("<D:timeout>&lt;t&gt;</D:timeout>"), std::string::npos);
    EXPECT_NE(reply.body.find("<D:lockroot><D:href>http://h&lt;x&gt;//a&amp;b.txt</D:href></D:lockroot>"),
              std::string::npos);
    EXPECT_EQ(reply.body.find("<evil/>"), std::string::npos);
}

TEST_F(DAVServerTest, UnlockRows) {
    write("a.txt", "x");
    write(".hidden", "x");
    const std::string finder = kFinder;
    expectError(dav("UNLOCK", "/a.txt", "Lock-Token: <urn:uuid:x>\r\n"), 405,
                "UNLOCK method only allowed for Mac Finder");
    expectError(dav("UNLOCK", "/none", finder + "Lock-Token: <urn:uuid:1>\r\n"), 404,
                "\"/none\" does not exist");
    expectError(dav("UNLOCK", "/a.txt", finder), 400, "Missing 'Lock-Token' header");
    expectError(dav("UNLOCK", "/a.txt", finder + "Lock-Token: \r\n"), 400, "Missing 'Lock-Token' header");
    expectError(dav("UNLOCK", "/.hidden", finder + "Lock-Token: <urn:uuid:1>\r\n"), 403,
                "Unlocking item name \".hidden\" is not allowed");
    const HttpReply reply = dav("UNLOCK", "/a.txt", finder + "Lock-Token: <urn:uuid:anything>\r\n");
    EXPECT_EQ(reply.status, 204);
    EXPECT_EQ(reply.body, "");
}
