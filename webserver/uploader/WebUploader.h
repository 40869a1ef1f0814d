#pragma once

#include "WebServer.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class WebUploader;

namespace platform {
class ResourceBundle;
}

// Notifications of the web file manager, delivered on the main queue. All optional.
class WebUploaderDelegate : public WebServerDelegate {
public:
    virtual void webUploaderDidDownloadFileAtPath(WebUploader&, const std::string& /*path*/) {}
    virtual void webUploaderDidUploadFileAtPath(WebUploader&, const std::string& /*path*/) {}
    virtual void webUploaderDidMoveItemFromPath(WebUploader&, const std::string& /*fromPath*/,
                                                const std::string& /*toPath*/) {}
    virtual void webUploaderDidDeleteItemAtPath(WebUploader&, const std::string& /*path*/) {}
    virtual void webUploaderDidCreateDirectoryAtPath(WebUploader&, const std::string& /*path*/) {}
    // Whether an item may be listed; none (the default) means the delegate does not filter.
    virtual std::optional<bool> webUploaderCanListFileOrDirectory(WebUploader&, const std::string& /*name*/,
                                                                  bool /*isFile*/) {
        return std::nullopt;
    }
};

// Publishes one folder (the upload directory) to web browsers: a start page from the "WebUploader"
// resource bundle and a small HTTP interface to list, download, upload, move, delete and create.
class WebUploader : public WebServer {
public:
    // None when the resource bundle is missing. The start page is the bundle's STARTHTML.html.
    static std::shared_ptr<WebUploader> create(const std::string& uploadDirectory,
                                               const std::string& startHtml = "index");

    explicit WebUploader(const std::string& uploadDirectory); // use create()
    std::string className() const override { return "WebUploader"; }

    const std::string& uploadDirectory() const { return _uploadDirectory; }
    std::optional<std::vector<std::string>> allowedFileExtensions() const;
    void setAllowedFileExtensions(std::optional<std::vector<std::string>> extensions);
    bool allowHiddenItems() const;
    void setAllowHiddenItems(bool allow);

    // Page texts; none takes the default. They may change at any time.
    std::optional<std::string> title() const;
    void setTitle(std::optional<std::string> title);
    std::optional<std::string> header() const;
    void setHeader(std::optional<std::string> header);
    std::optional<std::string> prologue() const;
    void setPrologue(std::optional<std::string> prologue);
    std::optional<std::string> epilogue() const;
    void setEpilogue(std::optional<std::string> epilogue);
    std::optional<std::string> footer() const;
    void setFooter(std::optional<std::string> footer);

protected:
    // Checks a subclass may override to refuse an operation (absolute paths).
    virtual bool shouldUploadFileAtPath(const std::string& path, const std::string& temporaryPath);
    virtual bool shouldMoveItemFromPath(const std::string& fromPath, const std::string& toPath);
    virtual bool shouldDeleteItemAtPath(const std::string& path);
    virtual bool shouldCreateDirectoryAtPath(const std::string& path);

    std::string _uploadDirectory;
    std::optional<std::vector<std::string>> _allowedExtensions;
    bool _allowHidden = false;
    std::optional<std::string> _title;
    std::optional<std::string> _header;
    std::optional<std::string> _prologue;
    std::optional<std::string> _epilogue;
    std::optional<std::string> _footer;
    mutable std::mutex _propertiesLock;

    // Finds the "WebUploader" resource bundle and adds the handlers of the page and of the six
    // operations (they refer to the server weakly); false, with nothing added, when the bundle is
    // missing. create() calls it; a subclass's own factory calls it once after make_shared.
    bool addHandlers(const std::string& startHtml);

private:
    // The operations (WebUploaderHandlers.cpp).
    std::shared_ptr<WebServerResponse> listDirectory(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> downloadFile(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> uploadFile(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> moveItem(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> deleteItem(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> createDirectory(const WebServerRequest& request);
    // The start page, built afresh for each request (WebUploaderStartPage.cpp).
    std::shared_ptr<WebServerResponse> startPage(const platform::ResourceBundle& bundle,
                                                 const std::string& startHtml) const;

    // Path rules (WebUploaderPaths.cpp). A client path is relative to the upload directory.
    std::string absolutePath(const std::string& relativePath) const;
    // True when the path lies inside the upload directory (or is it), by whole components, also
    // once the symbolic links of its parent folders are resolved.
    bool _checkSandboxedPath(const std::string& path) const;
    bool _checkFileExtension(const std::string& fileName) const;
    bool isHiddenName(const std::string& name) const;
    // True when a component of the client path below the upload directory is hidden.
    bool hasHiddenComponent(const std::string& absolutePath) const;
    static std::string _uniquePathForPath(const std::string& path);

    // Posts a notification to the delegate on the main queue (when it is a WebUploaderDelegate).
    void notifyDelegate(std::function<void(WebUploaderDelegate&, WebUploader&)> notification);
};
