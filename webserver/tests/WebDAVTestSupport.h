#pragma once

// Helpers of the WebDAV server tests: a server whose checks can be turned down, a delegate that
// records its notifications, and a fixture that shares a scratch folder on a loopback port.

#include "CoreTestSupport.h"
#include "StaticTestSupport.h"
#include "WebDAVServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace davtest {

// Records every notification as one line ("upload /abs/path", "move /a -> /b", ...).
class RecordingDelegate : public WebDAVServerDelegate {
public:
    std::optional<bool> davServerCanListFileOrDirectory(WebDAVServer&, const std::string& nameOrPath,
                                                        bool isFile) override;
    void davServerDidDownloadFileAtPath(WebDAVServer&, const std::string& path) override {
        record("download " + path);
    }
    void davServerDidUploadFileAtPath(WebDAVServer&, const std::string& path) override {
        record("upload " + path);
    }
    void davServerDidMoveItemFromPath(WebDAVServer&, const std::string& from,
                                      const std::string& to) override {
        record("move " + from + " -> " + to);
    }
    void davServerDidCopyItemFromPath(WebDAVServer&, const std::string& from,
                                      const std::string& to) override {
        record("copy " + from + " -> " + to);
    }
    void davServerDidDeleteItemAtPath(WebDAVServer&, const std::string& path) override {
        record("delete " + path);
    }
    void davServerDidCreateDirectoryAtPath(WebDAVServer&, const std::string& path) override {
        record("mkdir " + path);
    }

    std::vector<std::string> events() const;
    std::vector<std::string> listQuestions() const;
    // What the delegate answers when asked whether an item may be listed; none: not filtering.
    void setListAnswer(std::function<std::optional<bool>(const std::string&)> answer);

private:
    void record(std::string event);
    mutable std::mutex _lock;
    std::vector<std::string> _events;
    std::vector<std::string> _listQuestions;
    std::function<std::optional<bool>(const std::string&)> _listAnswer;
};

// A server whose overridable checks a test can turn to NO.
class TestDAVServer : public WebDAVServer {
public:
    using WebDAVServer::WebDAVServer;
    static std::shared_ptr<TestDAVServer> make(const std::string& folder);
    long long activeConnections() const;

    std::atomic<bool> refuseUpload{false};
    std::atomic<bool> refuseMove{false};
    std::atomic<bool> refuseCopy{false};
    std::atomic<bool> refuseDelete{false};
    std::atomic<bool> refuseCreate{false};
    // Runs before every copy is allowed (set before the server starts).
    std::function<void()> beforeCopy;
    // The item is removed just after a move or deletion of it is allowed, as by another program.
    std::atomic<bool> removeWhenAllowed{false};

protected:
    bool shouldUploadFileAtPath(const std::string&, const std::string&) override { return !refuseUpload; }
    bool shouldMoveItemFromPath(const std::string& from, const std::string&) override {
        if (removeWhenAllowed && !refuseMove) {
            platform::FileSystem::removeItem(from);
        }
        return !refuseMove;
    }
    bool shouldCopyItemFromPath(const std::string&, const std::string&) override {
        if (beforeCopy) {
            beforeCopy();
        }
        return !refuseCopy;
    }
    bool shouldDeleteItemAtPath(const std::string& path) override {
        if (removeWhenAllowed && !refuseDelete) {
            platform::FileSystem::removeItem(path);
        }
        return !refuseDelete;
    }
    bool shouldCreateDirectoryAtPath(const std::string&) override { return !refuseCreate; }
};

using coretest::expectError;

// A WebDAV server on 127.0.0.1 (port chosen by the system) sharing a fresh scratch folder.
class DAVServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::uint16_t port() const { return static_cast<std::uint16_t>(server->port()); }
    // One request; a body is sent with its Content-Length. Header lines end in "\r\n".
    coretest::HttpReply dav(const std::string& method, const std::string& path,
                            const std::string& headers = "",
                            const std::optional<std::string>& body = std::nullopt);
    // The URL of a path on the server, for "Destination".
    std::string url(const std::string& path) const;
    std::string hostHeader() const;
    // Files of the shared folder (relative names).
    std::string path(const std::string& name) const { return folder / name; }
    bool exists(const std::string& name) const;
    std::string contents(const std::string& name) const;
    void write(const std::string& name, const std::string& text) const;
    void makeFolder(const std::string& name) const;
    // Names in the folder, recursively, as "dir/" and "dir/file=contents" lines, sorted.
    std::string snapshot(const std::string& name = "") const;
    // Runs the main queue, then answers the notifications so far.
    std::vector<std::string> events();

    statictest::ScratchFolder folder;
    RecordingDelegate delegate;
    std::shared_ptr<TestDAVServer> server;
};

} // namespace davtest
