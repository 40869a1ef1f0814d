// The web file manager's changing side through a real server: upload, move, delete and create,
// with every refusal of their tables and the delegate's notifications.

#include "UploaderTestSupport.h"
#include "WebServerItemLocks.h"

#include "foundation/AtomicReplace.h"
#include "foundation/TemporaryFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>

using namespace uploadertest;

namespace {

struct Case {
    std::string form;
    int status;
    std::string message;
};

// A scratch folder on a tmpfs (/dev/shm), when that is another file system than the system's
// temporary folder.
bool onAnotherFileSystemThanTheTemporaryFolder(const ScratchFolder& folder) {
    struct stat temporary {};
    struct stat made {};
    return folder.valid() && ::stat(platform::temporaryDirectory().c_str(), &temporary) == 0 &&
           ::stat(folder.path().c_str(), &made) == 0 && made.st_dev != temporary.st_dev;
}

class UploaderEdit : public UploaderTest {
protected:
    // Posts each case to the route and checks its status and message; nothing may change on disk.
    void expectRefusals(const std::string& route, const std::vector<Case>& cases) {
        const auto before = namesIn(share());
        for (const Case& c : cases) {
            SCOPED_TRACE(route + " " + c.form);
            expectError(postForm(route, c.form), c.status, c.message);
        }
        EXPECT_EQ(namesIn(share()), before);
        runMainQueue(0);
        EXPECT_TRUE(delegate.events.empty());
    }
};

} // namespace

TEST_F(UploaderEdit, SameNameUploadedThreeTimesGetsFreeNames) {
    for (const char* contents : {"one", "two", "three"}) {
        const Reply reply = uploadFile("/", "a.txt", contents);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, "{}");
        EXPECT_EQ(reply.header("content-type"), "application/json");
    }
    EXPECT_EQ(readFile(share("a.txt")), "one");
    EXPECT_EQ(readFile(share("a (1).txt")), "two");
    EXPECT_EQ(readFile(share("a (2).txt")), "three");
    runMainQueue(0);
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"upload " + share("a.txt"), "upload " + share("a (1).txt"),
                                        "upload " + share("a (2).txt")}));
}

// Every file part of a form is stored (curl, scripts and forms with "multiple" send several), each
// as a single upload is, names taken included.
TEST_F(UploaderEdit, EveryFileOfAFormIsStored) {
    ASSERT_TRUE(writeFile(share("a.txt"), "old"));
    const Reply reply = upload({{"path", "/", std::nullopt},
                                {"files[]", "one", "a.txt"},
                                {"files[]", "two", "b.txt"},
                                {"files[]", "three", "a.txt"}});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "{}");
    EXPECT_EQ(namesIn(share()), (std::vector<std::string>{"a (1).txt", "a (2).txt", "a.txt", "b.txt"}));
    EXPECT_EQ(readFile(share("a (1).txt")), "one");
    EXPECT_EQ(readFile(share("b.txt")), "two");
    EXPECT_EQ(readFile(share("a (2).txt")), "three");
    runMainQueue(0);
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"upload " + share("a (1).txt"), "upload " + share("b.txt"),
                                        "upload " + share("a (2).txt")}));
}

// Every name of a form is checked before any of its files is stored: one refused name (the answer
// names it) stores none of them, however often the form is sent.
TEST_F(UploaderEdit, AFormWithOneRefusedNameStoresNothing) {
    server->setAllowedFileExtensions(std::vector<std::string>{"txt"});
    const struct {
        std::string name;
        int status;
        std::string message;
    } cases[] = {
        {".m3.txt", 403, "Uploaded file name \".m3.txt\" is not allowed"},
        {"m3.jpg", 403, "Uploaded file name \"m3.jpg\" is not allowed"},
        {"m\x01.txt", 400, "Uploaded file name \"m%01.txt\" holds a control character"},
    };
    for (const auto& c : cases) {
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(c.name);
            expectError(upload({{"path", "/", std::nullopt},
                                {"files[]", "one", "m1.txt"},
                                {"files[]", "two", "m2.txt"},
                                {"files[]", "three", c.name},
                                {"files[]", "four", "m4.txt"}}),
                        c.status, c.message);
        }
    }
    EXPECT_TRUE(namesIn(share()).empty());
    runMainQueue(0);
    EXPECT_TRUE(delegate.events.empty());
}

// A name is stored whole or refused with 400: one longer than a file name may be (255 bytes), one
// that is not UTF-8, one with a control character (a bare line feed among them, one a browser sent
// as %0A, and a header folded inside the name). A browser's %22 is a quote.
TEST_F(UploaderEdit, NamesTheFileSystemCannotTakeAnswer400) {
    const std::string longest = std::string(251, 'n') + ".txt";
    const struct {
        std::string name;
        std::string message;  // empty: stored
        std::string storedAs; // empty: under the name sent
    } cases[] = {
        {longest, "", {}},
        {"n" + longest, "Uploaded file name \"n" + longest + "\" is too long", {}},
        {"caf\xc3\xa9.txt", "", {}},
        {"caf\xe9.txt", "Uploaded file name \"caf%E9.txt\" is not UTF-8 text", {}},
        {"a\nb.txt", "Uploaded file name \"a%0Ab.txt\" holds a control character", {}},
        {"a\x1f.txt", "Uploaded file name \"a%1F.txt\" holds a control character", {}},
        {"a\x7f.txt", "Uploaded file name \"a%7F.txt\" holds a control character", {}},
        {"a%0Ab.txt", "Uploaded file name \"a%0Ab.txt\" holds a control character", {}},
        {"a\r\n b.txt", "Uploaded file name \"a%0D%0A b.txt\" holds a control character", {}},
        {"Rapport %22final%22 2024.txt", "", "Rapport \"final\" 2024.txt"},
    };
    std::vector<std::string> stored;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply reply = uploadFile("/", c.name, "x");
        if (c.message.empty()) {
            EXPECT_EQ(reply.status, 200);
            stored.push_back(c.storedAs.empty() ? c.name : c.storedAs);
        } else {
            expectError(reply, 400, c.message);
        }
    }
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(namesIn(share()), stored);
}

// /create and /move refuse the names an upload refuses, with the same plain messages, and a path
// holding a NUL.
TEST_F(UploaderEdit, CreateAndMoveRefuseTheNamesAnUploadRefuses) {
    ASSERT_TRUE(writeFile(share("a.txt"), "A"));
    for (const auto& row : coretest::unstorableNames()) {
        expectRefusals("/create", {{"path=/" + row.escaped, 400, row.refusal("Directory name")}});
        expectRefusals("/move", {{"oldPath=/a.txt&newPath=/" + row.escaped, 400, row.refusal("Item name")}});
    }
}

// An item another program removes between the checks and the change answers 404.
TEST_F(UploaderEdit, AnItemRemovedMeanwhileAnswers404) {
    class RemovingUploader : public WebUploader {
    public:
        using WebUploader::WebUploader;
        static std::shared_ptr<RemovingUploader> create(const std::string& folder) {
            auto uploader = std::make_shared<RemovingUploader>(folder);
            return uploader->addHandlers("index") ? uploader : nullptr;
        }

    protected:
        bool shouldMoveItemFromPath(const std::string& from, const std::string&) override {
            return platform::FileSystem::removeItem(from);
        }
        bool shouldDeleteItemAtPath(const std::string& path) override {
            return platform::FileSystem::removeItem(path);
        }
    };
    startServer(RemovingUploader::create(share()));
    for (const auto& [route, form] : std::vector<std::pair<std::string, std::string>>{
             {"/move", "oldPath=/a.txt&newPath=/b.txt"}, {"/delete", "path=/a.txt"}}) {
        SCOPED_TRACE(route);
        ASSERT_TRUE(writeFile(share("a.txt"), "A"));
        EXPECT_EQ(postForm(route, form).status, 404);
        EXPECT_TRUE(namesIn(share()).empty());
    }
}

// When a file of a form cannot be put in place, the ones placed before it are taken out again: here
// the second name is taken and the numbered names a free one would need are too long. So too when
// the form was staged on another file system than the share's (a share on a tmpfs whose staging
// folder cannot be had, so the files wait in the system's temporary folder).
TEST_F(UploaderEdit, AFormWhoseLastFileCannotBePlacedLeavesNothing) {
    const std::string longest = std::string(251, 'n') + ".txt";
    std::vector<std::string> shares{share()};
    const ScratchFolder other("/dev/shm/lanyard-share-XXXXXX");
    if (onAnotherFileSystemThanTheTemporaryFolder(other)) {
        shares.push_back(other.path());
    } else {
        ADD_FAILURE() << "no tmpfs beside the system's temporary folder: /dev/shm is needed";
    }
    for (const std::string& folder : shares) {
        SCOPED_TRACE(folder);
        if (folder != share()) {
            ASSERT_TRUE(writeFile(folder + "/" + WebUploader::kStagingFolderName, "not a folder"));
            startServer(WebUploader::create(folder));
        }
        ASSERT_TRUE(writeFile(folder + "/" + longest, "old"));
        expectError(upload({{"path", "/", std::nullopt},
                            {"files[]", "one", "m1.txt"},
                            {"files[]", "two", "m2.txt"},
                            {"files[]", "three", longest}}),
                    400, "Uploaded file name \"" + longest + "\" is too long");
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{longest});
        EXPECT_EQ(readFile(folder + "/" + longest), "old");
        // The same form without the name it cannot take is stored whole.
        EXPECT_EQ(
            upload({{"path", "/", std::nullopt}, {"files[]", "one", "m1.txt"}, {"files[]", "two", "m2.txt"}})
                .status,
            200);
        EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"m1.txt", "m2.txt", longest}));
        EXPECT_EQ(readFile(folder + "/m2.txt"), "two");
        runMainQueue(0);
        EXPECT_EQ(delegate.events,
                  (std::vector<std::string>{"upload " + folder + "/m1.txt", "upload " + folder + "/m2.txt"}));
        delegate.events.clear();
    }
}

// A form whose files cannot be put in place for a full disk (here the copy of a file staged in the
// system's temporary folder onto a tmpfs share) answers 507, as a PUT does, and leaves nothing.
TEST_F(UploaderEdit, AFormOntoAFullDiskAnswers507) {
    const ScratchFolder other("/dev/shm/lanyard-share-XXXXXX");
    ASSERT_TRUE(onAnotherFileSystemThanTheTemporaryFolder(other)) << "/dev/shm is needed";
    ASSERT_TRUE(writeFile(other.path() + "/" + WebUploader::kStagingFolderName, "not a folder"));
    startServer(WebUploader::create(other.path()));
    for (const int error : {ENOSPC, EDQUOT}) {
        SCOPED_TRACE(error);
        int copies = 0;
        platform::AtomicReplace::setFaultInjector(
            [&](std::string_view step) { return step == "copy" && ++copies == 2 ? error : 0; });
        const Reply reply =
            upload({{"path", "/", std::nullopt}, {"files[]", "one", "m1.txt"}, {"files[]", "two", "m2.txt"}});
        platform::AtomicReplace::setFaultInjector(nullptr);
        expectError(reply, 507, "Failed moving uploaded file to \"/\"");
        EXPECT_TRUE(namesIn(other.path()).empty()); // nor anything copied beside
    }
    runMainQueue(0);
    EXPECT_TRUE(delegate.events.empty());
}

// A form that fails after another client took the name of one of its files (between that file's
// placing and the rollback) leaves that client's file where it is, whole. The rollback looks at a
// name only while it holds the name's lock: it waits for a writer holding it.
TEST_F(UploaderEdit, TheRollbackLeavesAnotherClientsFileAlone) {
    ASSERT_TRUE(writeFile(scratch / "rival.txt", "rival"));
    std::promise<void> secondTurn;
    std::promise<void> taken;
    auto isTaken = taken.get_future();
    int renames = 0;
    platform::AtomicReplace::setFaultInjector([&](std::string_view step) {
        if (step != "rename" || ++renames != 2) {
            return 0;
        }
        // The second file's turn: another writer has meanwhile put its own file at the first's name,
        // and now holds that name.
        EXPECT_EQ(::rename((scratch / "rival.txt").c_str(), share("m1.txt").c_str()), 0);
        secondTurn.set_value();
        isTaken.wait_for(std::chrono::seconds(10));
        return EIO;
    });
    auto reply = std::async(std::launch::async, [this] {
        return upload(
            {{"path", "/", std::nullopt}, {"files[]", "one", "m1.txt"}, {"files[]", "two", "m2.txt"}});
    });
    EXPECT_EQ(secondTurn.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto first = platform::SharedFolder::itemAtPath(share("m1.txt"));
    ASSERT_TRUE(first);
    auto held = WebServerItemLocks::lock({&*first});
    taken.set_value();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (WebServerItemLocks::waitingFor(*first) == 0 &&
           reply.wait_for(std::chrono::milliseconds(2)) == std::future_status::timeout &&
           std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_EQ(WebServerItemLocks::waitingFor(*first), 1);
    held.release();
    expectError(reply.get(), 500, "Failed moving uploaded file to \"/\"");
    platform::AtomicReplace::setFaultInjector(nullptr);
    EXPECT_EQ(namesIn(share()), std::vector<std::string>{"m1.txt"});
    EXPECT_EQ(readFile(share("m1.txt")), "rival");
    runMainQueue(0);
    EXPECT_TRUE(delegate.events.empty());
}

TEST_F(UploaderEdit, UploadReplyTypeFollowsAccept) {
    ASSERT_TRUE(makeDirectory(share("sub")));
    const Reply reply = upload({{"path", "/sub", std::nullopt}, {"files[]", "body", "README"}}, false);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("content-type"), "text/plain; charset=utf-8");
    EXPECT_EQ(reply.body, "{}");
    EXPECT_EQ(readFile(share("sub/README")), "body");
    // A file without an extension takes its number at the end of its name.
    EXPECT_EQ(uploadFile("/sub", "README", "again").status, 200);
    EXPECT_EQ(readFile(share("sub/README (1)")), "again");
}

TEST_F(UploaderEdit, UploadRefusals) {
    server->setAllowedFileExtensions(std::vector<std::string>{"txt"});
    ASSERT_TRUE(makeDirectory(share(".hidden")));
    ASSERT_TRUE(writeFile(share("file.txt"), "file"));
    const struct {
        std::optional<std::string> folder; // the "path" field
        std::string control, fileName;
        int status;
        std::string message;
    } cases[] = {
        {"/", "files[]", ".profile", 403, "Uploaded file name \".profile\" is not allowed"},
        {"/", "files[]", "A.JPG", 403, "Uploaded file name \"A.JPG\" is not allowed"},
        {"/", "files[]", "", 403, "Uploaded file name \"\" is not allowed"}, // a file field without file
        {"/../Share2", "files[]", "a.txt", 404, "\"/../Share2\" does not exist"},
        {"/.hidden", "files[]", "a.txt", 403, "Uploading file \"a.txt\" to \"/.hidden\" is not permitted"},
        {"/nowhere", "files[]", "a.txt", 404, "\"/nowhere\" does not exist"},
        {"/nowhere/deeper", "files[]", "a.txt", 404, "\"/nowhere/deeper\" does not exist"},
        {"/file.txt", "files[]", "a.txt", 409, "\"/file.txt\" is not a directory"},
        {"/file.txt/deeper", "files[]", "a.txt", 409, "\"/file.txt/deeper\" is not a directory"},
        {std::string("/x\0y", 4), "files[]", "a.txt", 400, "Path \"/x%00y\" holds a control character"},
        {"/", "file", "a.txt", 400, "Missing \"files[]\" field"},
        {std::nullopt, "files[]", "a.txt", 400, "Missing \"path\" field"},
    };
    for (const auto& c : cases) {
        std::vector<Part> parts{{c.control, c.fileName.empty() ? "" : "x", c.fileName}};
        if (c.folder) {
            parts.insert(parts.begin(), Part{"path", *c.folder, std::nullopt});
        }
        expectError(upload(parts), c.status, c.message);
    }
    EXPECT_EQ(namesIn(share()), (std::vector<std::string>{".hidden", "file.txt"}));
    EXPECT_EQ(readFile(share("file.txt")), "file");
    EXPECT_TRUE(namesIn(share(".hidden")).empty());
    EXPECT_EQ(namesIn(scratch / "Share2"), std::vector<std::string>{"outside.txt"});
    runMainQueue(0);
    EXPECT_TRUE(delegate.events.empty());
}

TEST_F(UploaderEdit, MoveRenamesAndTakesTheNextFreeName) {
    ASSERT_TRUE(writeFile(share("a.txt"), "A"));
    ASSERT_TRUE(writeFile(share("b.txt"), "B"));
    ASSERT_TRUE(makeDirectory(share("dir")));
    ASSERT_TRUE(writeFile(share("dir/inner.txt"), "I"));
    Reply reply = postForm("/move", "oldPath=/a.txt&newPath=/b.txt");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "{}");
    EXPECT_EQ(reply.header("content-type"), "application/json");
    EXPECT_EQ(readFile(share("b (1).txt")), "A");
    EXPECT_EQ(postForm("/move", "oldPath=/dir&newPath=/moved/").status, 200);
    EXPECT_EQ(readFile(share("moved/inner.txt")), "I");
    EXPECT_EQ(namesIn(share()), (std::vector<std::string>{"b (1).txt", "b.txt", "moved"}));
    runMainQueue(0);
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"move " + share("a.txt") + " -> " + share("b (1).txt"),
                                        "move " + share("dir") + " -> " + share("moved")}));
}

TEST_F(UploaderEdit, MoveRefusals) {
    server->setAllowedFileExtensions(std::vector<std::string>{"txt"});
    ASSERT_TRUE(writeFile(share("a.txt"), "A"));
    ASSERT_TRUE(writeFile(share("photo.jpg"), "P"));
    ASSERT_TRUE(writeFile(share(".secret"), "S"));
    ASSERT_TRUE(makeDirectory(share("dir")));
    expectRefusals(
        "/move",
        {
            {"oldPath=/missing.txt&newPath=/b.txt", 404, "\"/missing.txt\" does not exist"},
            {"oldPath=/../Share2/outside.txt&newPath=/b.txt", 404,
             "\"/../Share2/outside.txt\" does not exist"},
            {"oldPath=/a.txt&newPath=/../Share2/a.txt", 404, "\"/../Share2/a.txt\" does not exist"},
            {"oldPath=/a.txt&newPath=/.a.txt", 403, "Moving to item name \".a.txt\" is not allowed"},
            {"oldPath=/a.txt&newPath=/a.exe", 403, "Moving to item name \"a.exe\" is not allowed"},
            {"oldPath=/.secret&newPath=/visible.txt", 403, "Moving item name \".secret\" is not allowed"},
            {"oldPath=/photo.jpg&newPath=/photo.txt", 403, "Moving item name \"photo.jpg\" is not allowed"},
            {"oldPath=/&newPath=/dir/share", 403, "Moving \"/\" to \"/dir/share\" is not permitted"},
            {"oldPath=/dir&newPath=/dir/inside", 500, "Failed moving \"/dir\" to \"/dir/inside\""},
            {"newPath=/b.txt", 400, "Missing \"oldPath\" field"},
            {"oldPath=/a.txt", 400, "Missing \"newPath\" field"},
        });
    // A folder may take a name with any extension.
    EXPECT_EQ(postForm("/move", "oldPath=/dir&newPath=/dir.exe").status, 200);
    EXPECT_TRUE(isDirectory(share("dir.exe")));
}

TEST_F(UploaderEdit, DeleteRemovesFilesAndFoldersWithTheirContents) {
    ASSERT_TRUE(writeFile(share("a.txt"), "A"));
    ASSERT_TRUE(makeDirectory(share("dir")));
    ASSERT_TRUE(makeDirectory(share("dir/deeper")));
    ASSERT_TRUE(writeFile(share("dir/deeper/x.txt"), "X"));
    EXPECT_EQ(postForm("/delete", "path=/a.txt").body, "{}");
    EXPECT_EQ(postForm("/delete", "path=/dir/").status, 200);
    EXPECT_TRUE(namesIn(share()).empty());
    runMainQueue(0);
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"delete " + share("a.txt"), "delete " + share("dir")}));
}

TEST_F(UploaderEdit, DeleteAndMoveWaitForAWriterHoldingTheItem) {
    ASSERT_TRUE(writeFile(share("a.txt"), "A"));
    ASSERT_TRUE(writeFile(share("b.txt"), "B"));
    const auto a = platform::SharedFolder::itemAtPath(share("a.txt"));
    const auto b = platform::SharedFolder::itemAtPath(share("b.txt"));
    ASSERT_TRUE(a && b);
    // A conditional WebDAV write holds the items from its check to its change.
    auto held = WebServerItemLocks::lock({&*a, &*b});
    auto removal =
        std::async(std::launch::async, [this] { return postForm("/delete", "path=/a.txt").status; });
    auto move = std::async(std::launch::async,
                           [this] { return postForm("/move", "oldPath=/b.txt&newPath=/c.txt").status; });
    EXPECT_EQ(removal.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_EQ(move.wait_for(std::chrono::milliseconds(10)), std::future_status::timeout);
    EXPECT_EQ(readFile(share("a.txt")), "A");
    held.release();
    EXPECT_EQ(removal.get(), 200);
    EXPECT_EQ(move.get(), 200);
    EXPECT_EQ(namesIn(share()), (std::vector<std::string>{"c.txt"}));
}

TEST_F(UploaderEdit, DeleteRefusals) {
    server->setAllowedFileExtensions(std::vector<std::string>{"txt"});
    ASSERT_TRUE(writeFile(share(".secret"), "S"));
    ASSERT_TRUE(writeFile(share("app.exe"), "E"));
    ASSERT_TRUE(makeDirectory(share(".git")));
    ASSERT_TRUE(writeFile(share(".git/config.txt"), "C"));
    expectRefusals("/delete",
                   {
                       {"path=/missing", 404, "\"/missing\" does not exist"},
                       {"path=/../Share2/outside.txt", 404, "\"/../Share2/outside.txt\" does not exist"},
                       {"path=../Share2", 404, "\"../Share2\" does not exist"},
                       {"path=/.secret", 403, "Deleting item name \".secret\" is not allowed"},
                       {"path=/.git/config.txt", 403, "Deleting item name \"config.txt\" is not allowed"},
                       {"path=/app.exe", 403, "Deleting item name \"app.exe\" is not allowed"},
                       {"path=/", 403, "Deleting \"/\" is not permitted"},
                       {"path=", 403, "Deleting \"\" is not permitted"},
                       {"", 400, "Missing \"path\" field"},
                   });
    EXPECT_TRUE(isDirectory(share()));
    EXPECT_EQ(readFile(scratch / "Share2/outside.txt"), "outside");
}

TEST_F(UploaderEdit, CreateTakesTheNextFreeName) {
    for (int i = 0; i < 2; ++i) {
        const Reply reply = postForm("/create", "path=/new");
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, "{}");
    }
    EXPECT_EQ(postForm("/create", "path=/new/inner").status, 200);
    EXPECT_TRUE(isDirectory(share("new (1)")));
    EXPECT_TRUE(isDirectory(share("new/inner")));
    runMainQueue(0);
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"create " + share("new"), "create " + share("new (1)"),
                                        "create " + share("new/inner")}));
}

TEST_F(UploaderEdit, CreateRefusals) {
    ASSERT_TRUE(makeDirectory(share(".git")));
    ASSERT_TRUE(writeFile(share("file.txt"), "F"));
    expectRefusals("/create", {
                                  {"path=/../Share2/new", 404, "\"/../Share2/new\" does not exist"},
                                  {"path=../Share2/x", 404, "\"../Share2/x\" does not exist"},
                                  {"path=/", 404, "\"/\" does not exist"},
                                  {"path=/.cache", 403, "Creating directory name \".cache\" is not allowed"},
                                  {"path=/.git/refs", 403, "Creating directory name \"refs\" is not allowed"},
                                  {"path=/a/b", 404, "\"/a\" does not exist"},
                                  {"path=/a/b/c", 404, "\"/a/b\" does not exist"},
                                  {"path=/file.txt/b", 409, "\"/file.txt\" is not a directory"},
                                  {"", 400, "Missing \"path\" field"},
                              });
}

TEST_F(UploaderEdit, OverriddenChecksRefuseEveryChange) {
    startServer(RefusingUploader::create(share()));
    ASSERT_TRUE(writeFile(share("a.txt"), "A"));
    expectError(uploadFile("/", "b.txt", "B"), 403, "Uploading file \"b.txt\" to \"/\" is not permitted");
    expectRefusals("/move", {{"oldPath=/a.txt&newPath=/c.txt", 403,
                              "Moving \"/a.txt\" to \"/c.txt\" is not permitted"}});
    expectRefusals("/delete", {{"path=/a.txt", 403, "Deleting \"/a.txt\" is not permitted"}});
    expectRefusals("/create", {{"path=/d", 403, "Creating directory \"/d\" is not permitted"}});
    EXPECT_EQ(namesIn(share()), std::vector<std::string>{"a.txt"});
}
