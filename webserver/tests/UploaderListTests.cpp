// The web file manager's reading side through a real server: the listing, downloads, the page
// resources and the start page.

#include "UploaderTestSupport.h"

#include "foundation/FileSystem.h"
#include "foundation/Json.h"
#include "foundation/MainBundle.h"
#include "foundation/OperatingSystem.h"
#include "sysconfig/SystemConfiguration.h"

#include <unistd.h>

using namespace uploadertest;

namespace {

// The listing as "name|path|size" lines (size "-" for folders), in the order sent.
std::vector<std::string> listing(const Reply& reply) {
    std::vector<std::string> lines;
    const auto json = platform::parseJson(reply.body);
    if (!json || !json->is_array()) {
        ADD_FAILURE() << "not a JSON array: " << reply.body;
        return lines;
    }
    for (const auto& item : *json) {
        const std::string size = item.contains("size") ? std::to_string(item["size"].get<long long>()) : "-";
        lines.push_back(item["name"].get<std::string>() + "|" + item["path"].get<std::string>() + "|" + size);
    }
    return lines;
}

using UploaderList = UploaderTest;

} // namespace

TEST_F(UploaderList, ListsInTheFileBrowsersOrder) {
    for (const char* name : {"b.txt", "A.txt", "file 10.txt", "file 2.txt", "a.txt"}) {
        ASSERT_TRUE(writeFile(share(name), "1234"));
    }
    ASSERT_TRUE(makeDirectory(share("Zeta")));
    ASSERT_TRUE(makeDirectory(share("alpha")));
    const Reply reply = get("/list?path=/");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("content-type"), "application/json");
    EXPECT_EQ(listing(reply), (std::vector<std::string>{"A.txt|/A.txt|4", "a.txt|/a.txt|4", "alpha|/alpha/|-",
                                                        "b.txt|/b.txt|4", "file 2.txt|/file 2.txt|4",
                                                        "file 10.txt|/file 10.txt|4", "Zeta|/Zeta/|-"}));
}

// The listing is written as text directly: it must be exactly what the JSON serialiser writes for
// the same items, escapes included; a name that is not UTF-8 is left out.
TEST_F(UploaderList, ListingTextIsTheSerialisersText) {
    const std::vector<std::string> names = {"quote\"d.txt",    "back\\slash.txt",       "tab\there.txt",
                                            "ctl\x01\x1f.txt", "\xc3\xa9t\xc3\xa9.txt", "del\x7f.txt"};
    for (const std::string& name : names) {
        ASSERT_TRUE(writeFile(share(name), "12"));
    }
    ASSERT_TRUE(writeFile(share("bad\xff.txt"), "1"));
    ASSERT_TRUE(makeDirectory(share("dir \"x\"")));
    const Reply reply = get("/list?path=/");
    const auto parsed = platform::parseJson(reply.body);
    ASSERT_TRUE(parsed && parsed->is_array()) << reply.body;
    EXPECT_EQ(parsed->size(), names.size() + 1);
    EXPECT_EQ(reply.body, *platform::serializeJson(*parsed));
}

TEST_F(UploaderList, SubfolderPathsAreJoinedWithTheName) {
    ASSERT_TRUE(makeDirectory(share("sub")));
    ASSERT_TRUE(makeDirectory(share("sub/inner")));
    ASSERT_TRUE(writeFile(share("sub/x.txt"), "xyz"));
    // With or without a final slash; an upper-case route still reaches the list handler.
    for (const char* request : {"/list?path=/sub", "/list?path=/sub/", "/LIST?path=/sub"}) {
        const Reply reply = get(request);
        EXPECT_EQ(reply.status, 200) << request;
        EXPECT_EQ(listing(reply), (std::vector<std::string>{"inner|/sub/inner/|-", "x.txt|/sub/x.txt|3"}));
    }
}

TEST_F(UploaderList, HiddenItemsAndLinksAreLeftOut) {
    ASSERT_TRUE(writeFile(share(".secret"), "s"));
    ASSERT_TRUE(makeDirectory(share(".git")));
    ASSERT_TRUE(writeFile(share("seen.txt"), "s"));
    ASSERT_EQ(::symlink((scratch / "Share2/outside.txt").c_str(), share("link.txt").c_str()), 0);
    EXPECT_EQ(listing(get("/list?path=/")), (std::vector<std::string>{"seen.txt|/seen.txt|1"}));
    server->setAllowHiddenItems(true);
    EXPECT_EQ(listing(get("/list?path=/")),
              (std::vector<std::string>{".git|/.git/|-", ".secret|/.secret|1", "seen.txt|/seen.txt|1"}));
}

TEST_F(UploaderList, AllowedExtensionsFilterFilesButNotFolders) {
    server->setAllowedFileExtensions(std::vector<std::string>{"jpg"});
    ASSERT_TRUE(writeFile(share("A.JPG"), "jpeg"));
    ASSERT_TRUE(writeFile(share("b.txt"), "text"));
    ASSERT_TRUE(makeDirectory(share("c.txt")));
    EXPECT_EQ(listing(get("/list?path=/")), (std::vector<std::string>{"A.JPG|/A.JPG|4", "c.txt|/c.txt/|-"}));
}

TEST_F(UploaderList, DelegateFiltersFilesAndFolders) {
    delegate.filters = true;
    delegate.hiddenFromListing = {"private.txt", "Private"};
    ASSERT_TRUE(writeFile(share("private.txt"), ""));
    ASSERT_TRUE(writeFile(share("public.txt"), ""));
    ASSERT_TRUE(makeDirectory(share("Private")));
    ASSERT_TRUE(makeDirectory(share("Public")));
    EXPECT_EQ(listing(get("/list?path=/")),
              (std::vector<std::string>{"Public|/Public/|-", "public.txt|/public.txt|0"}));
    auto asked = delegate.listAsked;
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked,
              (std::vector<std::pair<std::string, bool>>{
                  {"Private", false}, {"Public", false}, {"private.txt", true}, {"public.txt", true}}));
}

TEST_F(UploaderList, ListRefusals) {
    ASSERT_TRUE(writeFile(share("file.txt"), ""));
    ASSERT_TRUE(makeDirectory(share(".git")));
    ASSERT_TRUE(makeDirectory(share(".git/objects")));
    const struct {
        std::string query;
        int status;
        std::string message;
    } cases[] = {
        {"path=/missing", 404, "\"/missing\" does not exist"},
        {"path=/../Share2", 404, "\"/../Share2\" does not exist"},
        {"path=../Share2/", 404, "\"../Share2/\" does not exist"},
        {"path=/file.txt", 400, "\"/file.txt\" is not a directory"},
        {"path=/.git", 403, "Listing directory name \".git\" is not allowed"},
        {"path=/.git/objects", 403, "Listing directory name \"objects\" is not allowed"},
        {"", 400, "Missing \"path\" field"},
    };
    for (const auto& c : cases) {
        const Reply reply = get("/list?" + c.query);
        SCOPED_TRACE(c.query);
        expectError(reply, c.status, c.message);
    }
}

TEST_F(UploaderList, LinkedFolderLeadingOutsideIsRefused) {
    ASSERT_EQ(::symlink((scratch / "Share2").c_str(), share("elsewhere").c_str()), 0);
    EXPECT_EQ(get("/list?path=/elsewhere").status, 400); // a link is not a folder here
    EXPECT_EQ(get("/download?path=/elsewhere/outside.txt").status, 404);
    EXPECT_EQ(get("/list?path=/elsewhere/").status, 400);
}

TEST_F(UploaderList, DownloadServesTheFileAsAttachmentAndNotifies) {
    ASSERT_TRUE(makeDirectory(share("sub")));
    ASSERT_TRUE(writeFile(share("sub/report 1.pdf"), "%PDF-1.4 body"));
    const Reply reply = get("/download?path=" + EscapeURLString("/sub/report 1.pdf"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "%PDF-1.4 body");
    EXPECT_EQ(reply.header("content-type"), "application/pdf");
    EXPECT_EQ(reply.header("content-disposition"),
              "attachment; filename=\"report 1.pdf\"; filename*=UTF-8''report%201.pdf");
    // Posted before the answer went out: it is waiting on the main queue.
    runMainQueue(0);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"download " + share("sub/report 1.pdf")}));
}

TEST_F(UploaderList, DownloadRefusals) {
    server->setAllowedFileExtensions(std::vector<std::string>{"txt", "jpg"});
    ASSERT_TRUE(makeDirectory(share("sub")));
    ASSERT_TRUE(makeDirectory(share(".hidden")));
    ASSERT_TRUE(writeFile(share(".secret"), "s"));
    ASSERT_TRUE(writeFile(share(".hidden/in.txt"), "s"));
    ASSERT_TRUE(writeFile(share("app.exe"), "x"));
    ASSERT_EQ(::symlink((scratch / "Share2/outside.txt").c_str(), share("link.txt").c_str()), 0);
    const struct {
        std::string query;
        int status;
        std::string message;
    } cases[] = {
        {"path=/missing.txt", 404, "\"/missing.txt\" does not exist"},
        {"path=/../Share2/outside.txt", 404, "\"/../Share2/outside.txt\" does not exist"},
        {"path=../Share2/outside.txt", 404,
         "\"../Share2/outside.txt\" does not exist"}, // "Share2" is not inside "Share"
        {"path=/sub", 400, "\"/sub\" is a directory"},
        {"path=/.secret", 403, "Downlading file name \".secret\" is not allowed"},
        {"path=/.hidden/in.txt", 403, "Downlading file name \"in.txt\" is not allowed"},
        {"path=/app.exe", 403, "Downlading file name \"app.exe\" is not allowed"},
        {"path=/link.txt", 404, "\"/link.txt\" does not exist"},
        {"", 400, "Missing \"path\" field"},
    };
    for (const auto& c : cases) {
        const Reply reply = get("/download?" + c.query);
        SCOPED_TRACE(c.query);
        expectError(reply, c.status, c.message);
    }
    runMainQueue(0);
    EXPECT_TRUE(delegate.events.empty());
}

TEST_F(UploaderList, PageResourcesComeFromTheBundle) {
    const Reply script = get("/js/api.js");
    EXPECT_EQ(script.status, 200);
    EXPECT_EQ(script.header("content-type"), "text/javascript");
    EXPECT_EQ(script.header("cache-control").rfind("max-age=3600", 0), 0u) << script.header("cache-control");
    EXPECT_NE(script.body.find("/list?path="), std::string::npos);
    EXPECT_EQ(get("/css/uploader.css").header("content-type"), "text/css");
    EXPECT_EQ(get("/icons/folder.svg").header("content-type"), "image/svg+xml");
    EXPECT_EQ(get("/js/missing.js").status, 404);
    EXPECT_EQ(get("/../../etc/passwd").status, 404);
}

TEST_F(UploaderList, StartPageFillsItsVariablesAtEachRequest) {
    server->setTitle("Files <of> Ann");
    server->setPrologue("<p class=\"intro\">Hello</p>");
    server->setEpilogue("<p>Bye</p>");
    server->setFooter("Made & shared");
    Reply page = get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
    for (const char* variable : {"%device%", "%title%", "%header%", "%prologue%", "%epilogue%", "%footer%"}) {
        EXPECT_EQ(page.body.find(variable), std::string::npos) << variable;
    }
    EXPECT_NE(page.body.find("<title>Files &lt;of&gt; Ann</title>"), std::string::npos);
    EXPECT_NE(page.body.find(">Files &lt;of&gt; Ann</h1>"), std::string::npos)
        << "the header defaults to the title";
    EXPECT_NE(page.body.find("<p class=\"intro\">Hello</p>"), std::string::npos) << "the prologue is HTML";
    EXPECT_NE(page.body.find("<p>Bye</p>"), std::string::npos);
    EXPECT_NE(page.body.find("Made &amp; shared"), std::string::npos);
    const std::string device = platform::SystemConfiguration::computerName().value_or("");
    EXPECT_NE(page.body.find(">" + device + "</span>"), std::string::npos);

    server->setHeader("Shared folder");
    page = get("/");
    EXPECT_NE(page.body.find(">Shared folder</h1>"), std::string::npos);
    EXPECT_NE(page.body.find("<title>Files &lt;of&gt; Ann</title>"), std::string::npos);
}

TEST_F(UploaderList, StartPageDefaultsComeFromTheProgramAndTheBundle) {
    platform::MainBundle::setInfo({});
    Reply page = get("/");
    EXPECT_NE(page.body.find("<title>" + platform::MainBundle::executableName() + "</title>"),
              std::string::npos);
    EXPECT_NE(page.body.find("Drag files onto this page"), std::string::npos) << "the bundle's PROLOGUE";
    const std::string system = platform::OperatingSystem::name() + " " + platform::OperatingSystem::version();
    EXPECT_NE(page.body.find(">" + system + "</footer>"), std::string::npos) << page.body;

    platform::MainBundle::setInfo({.displayName = "Lanyard", .name = "lanyard", .shortVersion = "2.5"});
    page = get("/");
    platform::MainBundle::setInfo({});
    EXPECT_NE(page.body.find("<title>Lanyard</title>"), std::string::npos);
    EXPECT_NE(page.body.find(">Lanyard 2.5</footer>"), std::string::npos);
}

TEST(UploaderLifetime, FolderIsStandardizedAndHandlersDoNotKeepTheServerAlive) {
    ScratchFolder folder;
    std::weak_ptr<WebUploader> weak;
    {
        auto server = WebUploader::create(folder.path() + "//a/../");
        ASSERT_TRUE(server);
        EXPECT_EQ(server->uploadDirectory(), folder.path());
        EXPECT_EQ(server->handlers().size(), 8u);
        weak = server;
    }
    EXPECT_TRUE(weak.expired());
    const char* home = ::getenv("HOME");
    if (home && *home == '/') {
        EXPECT_EQ(WebUploader::create("~/x/./y")->uploadDirectory(),
                  platform::FileSystem::standardizePath(std::string(home) + "/x/y"));
    }
}
