#include "WebDAVTestSupport.h"

#include "WebServerHTMLFunctions.h"

#include "dispatch/DispatchQueue.h"
#include "foundation/AtomicReplace.h"
#include "foundation/FileSystem.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

using platform::FileSystem;

namespace davtest {

// ---- RecordingDelegate ----

std::optional<bool> RecordingDelegate::davServerCanListFileOrDirectory(WebDAVServer&,
                                                                       const std::string& nameOrPath,
                                                                       bool isFile) {
    std::lock_guard<std::mutex> guard(_lock);
    _listQuestions.push_back(nameOrPath + (isFile ? " file" : " folder"));
    return _listAnswer ? _listAnswer(nameOrPath) : std::nullopt;
}

void RecordingDelegate::davServerDidDownloadFileAtPath(WebDAVServer&, const std::string& path) {
    record("download " + path);
}

void RecordingDelegate::davServerDidUploadFileAtPath(WebDAVServer&, const std::string& path) {
    record("upload " + path);
}

void RecordingDelegate::davServerDidMoveItemFromPath(WebDAVServer&, const std::string& fromPath,
                                                     const std::string& toPath) {
    record("move " + fromPath + " -> " + toPath);
}

void RecordingDelegate::davServerDidCopyItemFromPath(WebDAVServer&, const std::string& fromPath,
                                                     const std::string& toPath) {
    record("copy " + fromPath + " -> " + toPath);
}

void RecordingDelegate::davServerDidDeleteItemAtPath(WebDAVServer&, const std::string& path) {
    record("delete " + path);
}

void RecordingDelegate::davServerDidCreateDirectoryAtPath(WebDAVServer&, const std::string& path) {
    record("mkdir " + path);
}

std::vector<std::string> RecordingDelegate::events() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _events;
}

std::vector<std::string> RecordingDelegate::listQuestions() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _listQuestions;
}

void RecordingDelegate::setListAnswer(std::function<std::optional<bool>(const std::string&)> answer) {
    std::lock_guard<std::mutex> guard(_lock);
    _listAnswer = std::move(answer);
}

void RecordingDelegate::record(std::string event) {
    std::lock_guard<std::mutex> guard(_lock);
    _events.push_back(std::move(event));
}

// ---- TestDAVServer ----

std::shared_ptr<TestDAVServer> TestDAVServer::make(const std::string& folder) {
    return createServer<TestDAVServer>(folder);
}

long long TestDAVServer::activeConnections() const {
    long long count = 0;
    _syncQueue->sync([this, &count] { count = _activeConnections; });
    return count;
}

void expectError(const coretest::HttpReply& reply, int status, const std::string& message) {
    EXPECT_EQ(reply.status, status) << reply.raw;
    const std::string heading =
        "<h1>HTTP Error " + std::to_string(status) + ": " + EscapeHTMLString(message) + "</h1>";
    EXPECT_NE(reply.body.find(heading), std::string::npos) << "expected " << heading << "\nin " << reply.body;
}

// ---- DAVServerTest ----

void DAVServerTest::SetUp() {
    ASSERT_TRUE(folder.valid());
    server = TestDAVServer::make(folder.path());
    server->setDelegate(&delegate);
    ServerOptions options{{WebServerOption_Port, 0LL},
                          {WebServerOption_BindToLocalhost, true},
                          {WebServerOption_ConnectedStateCoalescingInterval, 0.0}};
    Error error;
    ASSERT_TRUE(server->startWithOptions(options, &error)) << error.description;
}

void DAVServerTest::TearDown() {
    platform::AtomicReplace::setFaultInjector({});
    server->stop();
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(coretest::kSocketTimeout);
    while (server->activeConnections() != 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(server->activeConnections(), 0) << "connections still open after the test";
    coretest::runMainQueue(0);
    server->setDelegate(nullptr);
}

coretest::HttpReply DAVServerTest::dav(const std::string& method, const std::string& path,
                                       const std::string& headers, const std::optional<std::string>& body) {
    std::string request = method + " " + path + " HTTP/1.1\r\n" + hostHeader() + headers;
    if (body) {
        request += "Content-Length: " + std::to_string(body->size()) + "\r\n\r\n" + *body;
    } else {
        request += "\r\n";
    }
    return coretest::exchange(port(), request);
}

std::string DAVServerTest::url(const std::string& urlPath) const {
    return "http://127.0.0.1:" + std::to_string(port()) + urlPath;
}

std::string DAVServerTest::hostHeader() const {
    return "Host: 127.0.0.1:" + std::to_string(port()) + "\r\n";
}

bool DAVServerTest::exists(const std::string& name) const {
    return FileSystem::itemExists(path(name));
}

std::string DAVServerTest::contents(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void DAVServerTest::write(const std::string& name, const std::string& text) const {
    ASSERT_TRUE(statictest::writeFile(path(name), text)) << name;
}

void DAVServerTest::makeFolder(const std::string& name) const {
    ASSERT_TRUE(FileSystem::createDirectory(path(name))) << name;
}

std::string DAVServerTest::snapshot(const std::string& name) const {
    const std::string base = name.empty() ? "" : name + "/";
    std::vector<std::string> lines;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string current = pending.back();
        pending.pop_back();
        const auto entries = FileSystem::contentsOfDirectory(path(base + current));
        for (const std::string& entry : entries.value_or(std::vector<std::string>{})) {
            const std::string relative = current + entry;
            const auto status = FileSystem::statusOfItem(path(base + relative));
            if (status && status->isDirectory()) {
                lines.push_back(relative + "/");
                pending.push_back(relative + "/");
            } else {
                lines.push_back(relative + "=" + contents(base + relative));
            }
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::vector<std::string> DAVServerTest::events() {
    coretest::runMainQueue(0);
    return delegate.events();
}

} // namespace davtest
