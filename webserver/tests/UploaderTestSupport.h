#pragma once

// Helpers of the web file manager tests: replies, the delegate's
// notifications, and a fixture that runs a WebUploader on a scratch folder on port 0.

#include "CoreTestSupport.h"
#include "RequestBodiesTestSupport.h"
#include "StaticTestSupport.h"
#include "WebServerFunctions.h"
#include "WebUploader.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace uploadertest {

using bodytest::readFile;
using coretest::expectError;
using coretest::runMainQueue;
using statictest::ScratchFolder;
using statictest::writeFile;

// A reply as read from the wire (the server closes each connection).
struct Reply : coretest::HttpReply {
    // The value of a header ("" when absent).
    std::string header(const std::string& name) const;
};

// One part of a multipart body: a text field, or a file when fileName is set.
struct Part {
    std::string name;
    std::string value;
    std::optional<std::string> fileName;
};

bool isDirectory(const std::string& path);
bool makeDirectory(const std::string& path);
// The names in a folder, sorted (the server's staging folder left out, and in the staging folder
// its lock file).
std::vector<std::string> namesIn(const std::string& folder);
// Waits (bounded) until nothing has that name: a request lets go of what it holds (the staging
// folder) as it ends, which may come just after its reply.
bool becomesMissing(const std::string& path);

// Records the notifications of a WebUploader; may leave items out of listings.
class RecordingDelegate : public WebUploaderDelegate {
public:
    void webUploaderDidDownloadFileAtPath(WebUploader&, const std::string& path) override {
        events.push_back("download " + path);
    }
    void webUploaderDidUploadFileAtPath(WebUploader&, const std::string& path) override {
        events.push_back("upload " + path);
    }
    void webUploaderDidMoveItemFromPath(WebUploader&, const std::string& from,
                                        const std::string& to) override {
        events.push_back("move " + from + " -> " + to);
    }
    void webUploaderDidDeleteItemAtPath(WebUploader&, const std::string& path) override {
        events.push_back("delete " + path);
    }
    void webUploaderDidCreateDirectoryAtPath(WebUploader&, const std::string& path) override {
        events.push_back("create " + path);
    }
    std::optional<bool> webUploaderCanListFileOrDirectory(WebUploader&, const std::string& name,
                                                          bool isFile) override;

    std::vector<std::string> events;                     // "upload /abs/path", ...
    std::vector<std::pair<std::string, bool>> listAsked; // (name, isFile)
    std::vector<std::string> hiddenFromListing;          // names answered NO
    bool filters = false;                                // whether the filter is implemented
};

// A WebUploader whose checks refuse everything.
class RefusingUploader : public WebUploader {
public:
    using WebUploader::WebUploader;
    static std::shared_ptr<RefusingUploader> create(const std::string& folder) {
        auto server = std::make_shared<RefusingUploader>(folder);
        return server->addHandlers("index") ? server : nullptr;
    }

protected:
    bool shouldUploadFileAtPath(const std::string&, const std::string&) override { return false; }
    bool shouldMoveItemFromPath(const std::string&, const std::string&) override { return false; }
    bool shouldDeleteItemAtPath(const std::string&) override { return false; }
    bool shouldCreateDirectoryAtPath(const std::string&) override { return false; }
};

// A WebUploader on a scratch folder ("Share" inside the scratch folder, which also holds a
// sibling "Share2" with a file), started on 127.0.0.1 with a port chosen by the system.
class UploaderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Makes and starts the server (the fixture's SetUp uses a plain WebUploader).
    void startServer(std::shared_ptr<WebUploader> server);

    std::string share(const std::string& relative = "") const;
    Reply get(const std::string& pathAndQuery, const std::string& extraHeaders = "");
    // Posts a URL-encoded form ("name=value&name=value").
    Reply postForm(const std::string& path, const std::string& form);
    Reply upload(const std::vector<Part>& parts, bool acceptJSON = true);
    // Uploads one file into a folder.
    Reply uploadFile(const std::string& folder, const std::string& fileName, const std::string& contents);

    ScratchFolder scratch;
    std::shared_ptr<WebUploader> server;
    RecordingDelegate delegate;
};

} // namespace uploadertest
