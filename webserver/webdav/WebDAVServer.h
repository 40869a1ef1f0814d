#pragma once

#include "WebServer.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class WebDAVServer;

// Notifications of the WebDAV server, delivered on the main queue. All optional.
class WebDAVServerDelegate : public WebServerDelegate {
public:
    // Whether an item may be served; none (the default) means the delegate does not filter.
    virtual std::optional<bool>
    davServerCanListFileOrDirectory(WebDAVServer&, const std::string& /*nameOrPath*/, bool /*isFile*/) {
        return std::nullopt;
    }
    virtual void davServerDidDownloadFileAtPath(WebDAVServer&, const std::string& /*path*/) {}
    virtual void davServerDidUploadFileAtPath(WebDAVServer&, const std::string& /*path*/) {}
    virtual void davServerDidMoveItemFromPath(WebDAVServer&, const std::string& /*fromPath*/,
                                              const std::string& /*toPath*/) {}
    virtual void davServerDidCopyItemFromPath(WebDAVServer&, const std::string& /*fromPath*/,
                                              const std::string& /*toPath*/) {}
    virtual void davServerDidDeleteItemAtPath(WebDAVServer&, const std::string& /*path*/) {}
    virtual void davServerDidCreateDirectoryAtPath(WebDAVServer&, const std::string& /*path*/) {}
};

// Shares one folder (the upload directory) as a WebDAV class 1 resource tree; locking is answered
// in form only, and only for the macOS WebDAV clients.
class WebDAVServer : public WebServer {
public:
    static std::shared_ptr<WebDAVServer> create(const std::string& uploadDirectory);

    explicit WebDAVServer(const std::string& uploadDirectory); // use create()
    std::string className() const override { return "WebDAVServer"; }

    const std::string& uploadDirectory() const { return _uploadDirectory; }
    std::optional<std::vector<std::string>> allowedFileExtensions() const;
    void setAllowedFileExtensions(std::optional<std::vector<std::string>> extensions);
    bool allowHiddenItems() const;
    void setAllowHiddenItems(bool allow);

protected:
    // Checks a subclass may override to refuse an operation (absolute paths).
    virtual bool shouldUploadFileAtPath(const std::string& path, const std::string& temporaryPath);
    virtual bool shouldMoveItemFromPath(const std::string& fromPath, const std::string& toPath);
    virtual bool shouldCopyItemFromPath(const std::string& fromPath, const std::string& toPath);
    virtual bool shouldDeleteItemAtPath(const std::string& path);
    virtual bool shouldCreateDirectoryAtPath(const std::string& path);

    std::string _uploadDirectory;
    std::optional<std::vector<std::string>> _allowedExtensions;
    bool _allowHidden = false;
    mutable std::mutex _propertiesLock;
};
