#pragma once

#include "WebServer.h"

#include "foundation/FollowedSharedFolder.h"
#include "foundation/SharedFolder.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class WebDAVServer;
class WebServerDataRequest;

class WebServerFileRequest;

// How a COPY or MOVE ended.
enum class WebDAVTransferOutcome { done, conditionFailed, failed };

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
//
// Items are replaced without a moment of loss: PUT, COPY and MOVE build the new item aside and
// swap it in with one rename, so a failure leaves the old item in place. The shared folder itself
// is never deleted, moved, copied or replaced.
class WebDAVServer : public WebServer {
public:
    // The server with its ten handlers (PROPFIND, MKCOL, GET, DELETE, PUT, COPY, MOVE, LOCK,
    // UNLOCK, OPTIONS); "~" at the start of the folder stands for the home folder.
    static std::shared_ptr<WebDAVServer> create(const std::string& uploadDirectory);

    explicit WebDAVServer(const std::string& uploadDirectory); // use create()
    std::string className() const override { return "WebDAVServer"; }

    const std::string& uploadDirectory() const { return _uploadDirectory; }
    std::optional<std::vector<std::string>> allowedFileExtensions() const;
    void setAllowedFileExtensions(std::optional<std::vector<std::string>> extensions);
    bool allowHiddenItems() const;
    void setAllowHiddenItems(bool allow);

protected:
    // For subclasses: a server of class T (made with the arguments) with its handlers.
    template <class T, class... Arguments> static std::shared_ptr<T> createServer(Arguments&&... arguments) {
        auto server = std::make_shared<T>(std::forward<Arguments>(arguments)...);
        static_cast<WebDAVServer&>(*server).addHandlers();
        return server;
    }

    // Checks a subclass may override to refuse an operation (absolute paths).
    virtual bool shouldUploadFileAtPath(const std::string& path, const std::string& temporaryPath);
    virtual bool shouldMoveItemFromPath(const std::string& fromPath, const std::string& toPath);
    virtual bool shouldCopyItemFromPath(const std::string& fromPath, const std::string& toPath);
    virtual bool shouldDeleteItemAtPath(const std::string& path);
    virtual bool shouldCreateDirectoryAtPath(const std::string& path);

    // What the handlers run, one per method (absolute paths are the upload directory joined with
    // the request path).
    std::shared_ptr<WebServerResponse> performOPTIONS(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> performGET(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> performPUT(const WebServerFileRequest& request);
    // A folder's contents are removed after the answer's last quick step, on the long pool.
    WebServerStep performDELETE(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> performMKCOL(const WebServerDataRequest& request);
    // A COPY runs its copy first (on the long pool) and then hops to the file-operations pool to put
    // it in place under the locks.
    WebServerStep performCOPY(const WebServerRequest& request, bool isMove);
    std::shared_ptr<WebServerResponse> performPROPFIND(const WebServerDataRequest& request);
    std::shared_ptr<WebServerResponse> performLOCK(const WebServerDataRequest& request);
    std::shared_ptr<WebServerResponse> performUNLOCK(const WebServerRequest& request);

    std::string _uploadDirectory;
    std::optional<std::vector<std::string>> _allowedExtensions;
    bool _allowHidden = false;
    mutable std::mutex _propertiesLock;
    // The upload directory, followed by its path: each request works in the folder the path
    // named as it started.
    platform::FollowedSharedFolder _sharedFolder;

private:
    void addHandlers();
    // The handler of a method: the request takes its folder, then the method runs (the server
    // held weakly).
    template <class Request, class Result>
    static std::function<Result(const std::shared_ptr<WebServerRequest>&)>
    perform(std::weak_ptr<WebDAVServer> weakServer, Result (WebDAVServer::*method)(const Request&));
    // The upload directory joined with a request path, standardized.
    std::string absolutePath(const std::string& requestPath) const;
    // The item a request path names, resolved beneath the descriptor of the folder the request
    // started with (links on the way followed only while they stay inside, and with hidden items
    // off never through a hidden name; `followLastLink` for the last component too). None when it
    // leads outside, a folder on the way is missing, or the upload directory was missing (EXDEV).
    std::optional<platform::SharedItem> resolveItem(const WebServerRequest& request,
                                                    const std::string& requestPath, bool followLastLink,
                                                    Error* error = nullptr) const;
    // The status of what a GET of the request path serves (a last link followed): what its
    // preconditions are evaluated against. None when nothing is there.
    std::optional<platform::FileStatus> servedStatus(const WebServerRequest& request) const;
    // A component below the upload directory begins with "." (and hidden items are not allowed).
    bool isHiddenPath(const std::string& path) const;
    // The allowed extensions, then the delegate's answer (a name or a path).
    bool checkFileExtension(const std::string& nameOrPath);
    // An item of a request: its absolute path (for the checks and notifications) and what it
    // resolved to beneath the shared folder.
    struct ResolvedItem {
        std::string path;
        platform::SharedItem item;
    };
    // The checks of a PUT that need no body: a refusal, or none with the target item. On the head
    // (no target asked for) they include the conditions; the PUT itself evaluates those again
    // under the target's lock.
    std::shared_ptr<WebServerResponse> checkPUT(const WebServerRequest& request,
                                                std::optional<platform::SharedItem>* target);
    WebServerStep copyOrMoveItem(const WebServerRequest& request, bool isMove, ResolvedItem source,
                                 ResolvedItem destination, const std::string& destinationRelativePath);
    WebServerStep transferItem(const WebServerRequest& request, bool isMove, bool mayReplace,
                               ResolvedItem source, ResolvedItem destination,
                               const std::string& destinationRelativePath);
    // A MOVE to another file system (WebServerMoveAcross): its copy on the long pool, then its last
    // step on the file-operations pool, which `answer` ends.
    using TransferAnswer = std::function<std::shared_ptr<WebServerResponse>(
        WebDAVTransferOutcome outcome, bool replaced, const Error& error)>;
    WebServerStep moveAcross(const WebServerRequest& request, bool mayReplace, platform::SharedItem source,
                             platform::SharedItem destination, std::function<bool()> conditionsHold,
                             TransferAnswer answer);
    // The answer of a DELETE once its removal is over.
    std::shared_ptr<WebServerResponse> deleted(const WebServerRequest& request, bool removed,
                                               const Error& error);
    void addPropertyResponseForItem(const std::string& nameOrPath, const platform::FileStatus& status,
                                    const std::string& resource, int properties, std::string& xmlString);
    // Posts a notification to the main queue, for a delegate that is a WebDAVServerDelegate.
    void notifyDelegate(std::function<void(WebDAVServerDelegate&, WebDAVServer&)> notification);
};
