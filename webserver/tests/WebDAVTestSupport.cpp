#include "WebDAVTestSupport.h"

#include "RequestBodiesTestSupport.h"

#include "dispatch/DispatchQueue.h"
#include "foundation/AtomicReplace.h"
#include "foundation/FileSystem.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
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

// ---- DAVServerTest ----

void DAVServerTest::SetUp() {
    ASSERT_TRUE(folder.valid());
    server = TestDAVServer::make(folder.path());
    server->setDelegate(&delegate);
    // Some cases hold more connections from this one address at once than a peer may.
    ServerOptions options{{WebServerOption_Port, 0LL},
                          {WebServerOption_BindToLocalhost, true},
                          {WebServerOption_ConnectedStateCoalescingInterval, 0.0},
                          {WebServerOption_MaxConnectionsPerPeer, 1024LL}};
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
    return bodytest::readFile(path(name)).value_or("");
}

void DAVServerTest::write(const std::string& name, const std::string& text) const {
    ASSERT_TRUE(statictest::writeFile(path(name), text)) << name;
}

void DAVServerTest::makeFolder(const std::string& name) const {
    ASSERT_TRUE(FileSystem::createDirectory(path(name))) << name;
}

std::string DAVServerTest::snapshot(const std::string& name) const {
    namespace fs = std::filesystem;
    const fs::path root = name.empty() ? folder.path() : path(name);
    std::vector<std::string> lines;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
        const std::string relative = entry.path().lexically_relative(root).string();
        const bool isFolder = entry.is_directory() && !entry.is_symlink();
        lines.push_back(isFolder ? relative + "/"
                                 : relative + "=" + bodytest::readFile(entry.path()).value_or(""));
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
