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
class WebServerMoveAcross;
struct WebServerFileOperation;

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
    std::shared_ptr<WebServerResponse> performDELETE(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> performMKCOL(const WebServerDataRequest& request);
    std::shared_ptr<WebServerResponse> performCOPY(const WebServerRequest& request, bool isMove);
    // A MOVE: a rename at once, or to another file system a copy run as long work and a last step
    // (see WebServerMoveAcross).
    WebServerFileOperation performMOVE(const std::shared_ptr<WebServerRequest>& request);
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
    template <class Request>
    static WebServerProcessBlock
    perform(std::weak_ptr<WebDAVServer> weakServer,
            std::shared_ptr<WebServerResponse> (WebDAVServer::*method)(const Request&));
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
    // What a COPY or MOVE acts on once its checks pass.
    struct Transfer {
        ResolvedItem source;
        ResolvedItem destination;
        std::string destinationRelativePath;
        bool mayReplace = false;
    };
    // The checks of COPY and MOVE, in the order of their table: a refusal, or none with what to
    // act on. The conditions are a first look; the answer that counts is given under the locks.
    std::shared_ptr<WebServerResponse> checkTransfer(const WebServerRequest& request, bool isMove,
                                                     std::optional<Transfer>* transfer);
    std::shared_ptr<WebServerResponse> checkTransferRights(const WebServerRequest& request, bool isMove,
                                                           Transfer& transfer);
    // A COPY, or a MOVE within one file system, done now.
    std::shared_ptr<WebServerResponse> transferItem(const WebServerRequest& request, bool isMove,
                                                    const Transfer& transfer);
    // The last step of a MOVE to another file system, once its copy is made.
    std::shared_ptr<WebServerResponse> finishMoveAcross(const WebServerRequest& request,
                                                        const Transfer& transfer, WebServerMoveAcross& move);
    // The answer of a COPY or MOVE that ended so, with its notification when it was done.
    std::shared_ptr<WebServerResponse> transferAnswer(const WebServerRequest& request, bool isMove,
                                                      const Transfer& transfer, WebDAVTransferOutcome outcome,
                                                      const Error& error, bool replaced);
    void addPropertyResponseForItem(const std::string& nameOrPath, const platform::FileStatus& status,
                                    const std::string& resource, int properties, std::string& xmlString);
    // Posts a notification to the main queue, for a delegate that is a WebDAVServerDelegate.
    void notifyDelegate(std::function<void(WebDAVServerDelegate&, WebDAVServer&)> notification);
};
