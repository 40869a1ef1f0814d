#pragma once

// Helpers of the web file manager tests: a scratch folder holding the shared folder, a loopback
// HTTP client with time-outs, multipart bodies, and a fixture that runs a WebUploader on port 0.

#include "WebUploader.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace uploadertest {

// Seconds any blocking socket call of a test may wait.
inline constexpr int kTimeoutSeconds = 10;

// A reply as read from the wire (the server closes each connection).
struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers; // names lower-cased
    std::string body;

    std::string header(const std::string& lowerCaseName) const;
    // The message of an error page, with its character references decoded
    // ("\"a\" does not exist" from "<h1>HTTP Error 404: &quot;a&quot; does not exist</h1>").
    std::string errorMessage() const;
};

// Sends one request to 127.0.0.1:port and reads the reply until the server closes.
Reply exchange(std::uint16_t port, const std::string& request);

// One part of a multipart body: a text field, or a file when fileName is set.
struct Part {
    std::string name;
    std::string value;
    std::optional<std::string> fileName;
};
std::string multipartBody(const std::string& boundary, const std::vector<Part>& parts);

// Percent-escapes a query or form value.
std::string escape(const std::string& text);

// A fresh folder in /tmp, removed with everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return _path; }
    std::string operator/(const std::string& relative) const { return _path + "/" + relative; }

private:
    std::string _path;
};

bool writeFile(const std::string& path, const std::string& contents);
std::optional<std::string> readFile(const std::string& path);
bool exists(const std::string& path);
bool isDirectory(const std::string& path);
bool makeDirectory(const std::string& path);

// Runs what the main queue has ready (the delegate's notifications), without waiting.
void drainMainQueue();

// Records the notifications of a WebUploader; may leave items out of listings.
class RecordingDelegate : public WebUploaderDelegate {
public:
    void webUploaderDidDownloadFileAtPath(WebUploader&, const std::string& path) override;
    void webUploaderDidUploadFileAtPath(WebUploader&, const std::string& path) override;
    void webUploaderDidMoveItemFromPath(WebUploader&, const std::string& fromPath,
                                        const std::string& toPath) override;
    void webUploaderDidDeleteItemAtPath(WebUploader&, const std::string& path) override;
    void webUploaderDidCreateDirectoryAtPath(WebUploader&, const std::string& path) override;
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
    static std::shared_ptr<RefusingUploader> create(const std::string& folder);

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
    Reply postForm(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields);
    Reply upload(const std::vector<Part>& parts, bool acceptJSON = true);
    // Uploads one file into a folder.
    Reply uploadFile(const std::string& folder, const std::string& fileName, const std::string& contents);

    ScratchFolder scratch;
    std::shared_ptr<WebUploader> server;
    RecordingDelegate delegate;
};

} // namespace uploadertest
