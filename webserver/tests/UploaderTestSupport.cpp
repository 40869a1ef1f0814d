#include "UploaderTestSupport.h"

#include "foundation/FileSystem.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace uploadertest {

namespace {

Reply exchangeWith(const WebUploader& server, const std::string& request) {
    return Reply{coretest::exchange(static_cast<std::uint16_t>(server.port()), request)};
}

} // namespace

std::string Reply::header(const std::string& name) const {
    const std::string* value = coretest::HttpReply::header(name);
    return value ? *value : std::string();
}

bool isDirectory(const std::string& path) {
    const auto status = platform::FileSystem::statusOfItem(path);
    return status && status->isDirectory();
}

bool makeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

std::vector<std::string> namesIn(const std::string& folder) {
    auto names = platform::FileSystem::contentsOfDirectory(folder).value_or(std::vector<std::string>{});
    // The server's own staging folder is not an item of the share, nor its lock file a staged file.
    names.erase(std::remove(names.begin(), names.end(), WebUploader::kStagingFolderName), names.end());
    if (platform::FileSystem::lastPathComponent(folder) == WebUploader::kStagingFolderName) {
        names.erase(std::remove(names.begin(), names.end(), WebUploader::kStagingLockName), names.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool becomesMissing(const std::string& path) {
    for (int attempt = 0; attempt < 500 && platform::FileSystem::itemExists(path); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !platform::FileSystem::itemExists(path);
}

std::optional<bool>
RecordingDelegate::webUploaderCanListFileOrDirectory(WebUploader&, const std::string& name, bool isFile) {
    if (!filters) {
        return std::nullopt;
    }
    listAsked.emplace_back(name, isFile);
    return std::find(hiddenFromListing.begin(), hiddenFromListing.end(), name) == hiddenFromListing.end();
}

// ---- Fixture ----

void UploaderTest::SetUp() {
    ASSERT_TRUE(scratch.valid());
    ASSERT_TRUE(makeDirectory(scratch / "Share"));
    ASSERT_TRUE(makeDirectory(scratch / "Share2"));
    ASSERT_TRUE(writeFile(scratch / "Share2/outside.txt", "outside"));
    startServer(WebUploader::create(share()));
}

void UploaderTest::startServer(std::shared_ptr<WebUploader> made) {
    if (server) {
        server->stop();
        server->setDelegate(nullptr);
    }
    server = std::move(made);
    ASSERT_TRUE(server) << "the WebUploader bundle must lie beside the test program";
    server->setDelegate(&delegate);
    Error error;
    // Some cases hold more connections from this one address at once than a peer may.
    ASSERT_TRUE(server->startWithOptions({{WebServerOption_Port, 0LL},
                                          {WebServerOption_BindToLocalhost, true},
                                          {WebServerOption_MaxConnectionsPerPeer, 1024LL}},
                                         &error))
        << error.description;
}

void UploaderTest::TearDown() {
    if (server) {
        server->stop();
        server->setDelegate(nullptr);
    }
    runMainQueue(0);
}

std::string UploaderTest::share(const std::string& relative) const {
    return relative.empty() ? scratch / "Share" : scratch / ("Share/" + relative);
}

Reply UploaderTest::get(const std::string& pathAndQuery, const std::string& extraHeaders) {
    return exchangeWith(*server,
                        "GET " + pathAndQuery + " HTTP/1.1\r\nHost: localhost\r\n" + extraHeaders + "\r\n");
}

Reply UploaderTest::postForm(const std::string& path, const std::string& form) {
    return exchangeWith(*server,
                        "POST " + path +
                            " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded"
                            "\r\nContent-Length: " +
                            std::to_string(form.size()) + "\r\n\r\n" + form);
}

Reply UploaderTest::upload(const std::vector<Part>& parts, bool acceptJSON) {
    bodytest::MultipartBuilder builder("LanyardBoundary42");
    for (const Part& part : parts) {
        part.fileName ? builder.file(part.name, *part.fileName, "application/octet-stream", part.value)
                      : builder.field(part.name, part.value);
    }
    const std::string body = builder.finish();
    return exchangeWith(*server,
                        "POST /upload HTTP/1.1\r\nHost: localhost\r\n" +
                            std::string(acceptJSON ? "Accept: text/html, Application/JSON; q=0.9\r\n" : "") +
                            "Content-Type: multipart/form-data; boundary=LanyardBoundary42\r\n"
                            "Content-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body);
}

Reply UploaderTest::uploadFile(const std::string& folder, const std::string& fileName,
                               const std::string& contents) {
    return upload({{"path", folder, std::nullopt}, {"files[]", contents, fileName}});
}

} // namespace uploadertest
