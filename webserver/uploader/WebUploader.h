#pragma once

#include "WebServer.h"
#include "WebServerMoveAcross.h"

#include "foundation/FollowedSharedFolder.h"
#include "foundation/SharedFolder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class WebUploader;
class WebServerMultiPartFile;
class WebServerMultiPartFormRequest;

namespace platform {
class ResourceBundle;
}

namespace webuploader {
// Where a staging folder is, and the key of its uses: the identity of the folder that holds it and
// its name there (WebUploaderStaging.cpp).
struct StagingPlace;
using StagingKey = std::pair<std::pair<std::uint64_t, std::uint64_t>, std::string>;
} // namespace webuploader

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
    // The hidden folder at the root of the upload directory where uploads are staged. It exists
    // only while uploads use it.
    static constexpr const char* kStagingFolderName = kWebServerUploadsFolderName;
    // The file in the staging folder that every server using the folder holds locked (flock,
    // shared); a folder is left over only when nobody holds it.
    static constexpr const char* kStagingLockName = "lock";
    // When the share's staging folder cannot be used (an item of another kind holds its name or its
    // lock file's, or another program holds its lock exclusively), uploads are staged in a folder
    // of the user's own in the system's temporary folder: this prefix and the user's id.
    static constexpr const char* kPrivateStagingFolderPrefix = "lanyard-uploads-";

    // Stops the server and clears the staging folder when no upload uses it.
    void stop() override;

    // For tests: every step of the staging folder's locking ("lock": a lock file taken, shared or
    // exclusively) goes through the injector, which answers an error number to fail the step with,
    // or 0 to let it run. Empty: no injection.
    using StagingFaultInjector = std::function<int(std::string_view step)>;
    static void setStagingFaultInjector(StagingFaultInjector injector);

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
    // The upload directory, followed by its path: each request works in the folder the path
    // named as it started.
    platform::FollowedSharedFolder _sharedFolder;

    // Finds the "WebUploader" resource bundle and adds the handlers of the page and of the six
    // operations (they refer to the server weakly); false, with nothing added, when the bundle is
    // missing. create() calls it; a subclass's own factory calls it once after make_shared.
    bool addHandlers(const std::string& startHtml);

private:
    // Clears a staging folder left by an earlier run that ended during an upload.
    void willStartAccepting() override;
    // The handler of an operation, answering at once or in steps (the server held weakly).
    template <class Result>
    static std::function<Result(const std::shared_ptr<WebServerRequest>&)>
    operation(std::weak_ptr<WebUploader> weak, Result (WebUploader::*method)(const WebServerRequest&));
    // The operations (WebUploaderHandlers.cpp).
    std::shared_ptr<WebServerResponse> listDirectory(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> downloadFile(const WebServerRequest& request);
    // Files staged on another file system than their folder are copied beside it first, on the
    // long pool; the placing is a quick step on the file-operations pool.
    WebServerStep uploadFile(const WebServerRequest& request);
    // The upload's steps (WebUploaderUpload.cpp): each answers none to go on, else the answer of
    // its refusal or failure. Every file of a form is stored, or none is.
    struct UploadTarget;
    struct PlacedUpload;
    struct UploadRun;
    std::shared_ptr<WebServerResponse> copyUploadsBeside(UploadRun& run);
    std::shared_ptr<WebServerResponse> storeUploads(UploadRun& run);
    // 400 for a name the file system cannot take (too long, not UTF-8, a control character), 403
    // for one that is not allowed here.
    std::shared_ptr<WebServerResponse> refusedFileName(const std::string& fileName) const;
    std::shared_ptr<WebServerResponse> checkUploads(const WebServerRequest& request,
                                                    const WebServerMultiPartFormRequest& form,
                                                    const std::vector<const WebServerMultiPartFile*>& files,
                                                    UploadTarget& target);
    std::shared_ptr<WebServerResponse> placeUploads(const UploadRun& run, std::vector<PlacedUpload>& placed);
    static void withdrawUploads(const std::vector<PlacedUpload>& placed, const UploadTarget& target);
    // A move: a rename at once, or to another file system a copy run as long work and a last step
    // (WebServerMoveAcross).
    WebServerStep moveItem(const WebServerRequest& request);
    // The paths of a move, as the client gave them and absolute (the new one before a free name is
    // taken).
    struct Move {
        std::string oldRelativePath;
        std::string newRelativePath;
        std::string oldPath;
        std::string newPath;
    };
    std::shared_ptr<WebServerResponse> renameItem(const platform::SharedItem& oldItem,
                                                  const platform::SharedItem& newItem, const Move& names);
    std::shared_ptr<WebServerResponse> finishMoveAcross(WebServerMoveAcross& move, const Move& names);
    // The answer of a move that placed the item under `chosen` (none: it failed with the error).
    std::shared_ptr<WebServerResponse>
    movedAnswer(const Move& names, const std::optional<std::string>& chosen, const Error& error);
    // A folder's contents are removed after the quick step under the item's lock, on the long pool.
    WebServerStep deleteItem(const WebServerRequest& request);
    std::shared_ptr<WebServerResponse> createDirectory(const WebServerRequest& request);
    // The start page, built afresh for each request (WebUploaderStartPage.cpp).
    std::shared_ptr<WebServerResponse> startPage(const platform::ResourceBundle& bundle,
                                                 const std::string& startHtml) const;

    // Path rules (WebUploaderPaths.cpp). A client path is relative to the upload directory.
    std::string absolutePath(const std::string& relativePath) const;
    // The item a client path names, resolved beneath the descriptor of the folder the request
    // started with (links on the way followed only while they stay inside, and with hidden items
    // off never through a hidden name; `followLastLink` for the last component too). None when it
    // leads outside, a folder on the way is missing, or the upload directory was missing.
    std::optional<platform::SharedItem> resolveItem(const WebServerRequest& request,
                                                    const std::string& relativePath, bool followLastLink,
                                                    Error* error = nullptr) const;
    // Stages the request's files in the hidden folder at the root of the folder it started with
    // (on the share's own file system, so a full disk fails the upload at once and the move into
    // place is a rename), through that folder's descriptor. Runs once the request is let in, before
    // its body is read, on the thread that reads it: it never waits. The folder is made for the
    // first upload that needs it (the staged files of a server that ended during an upload, which
    // nobody holds, go first), held through its lock file while uploads use it, and cleared as the
    // last one ends unless another server holds it (WebUploaderStaging.cpp); a folder of the same
    // kind in the system's temporary folder serves when it cannot be made or held. It is never
    // listed, served or changed by a request.
    void stageUploads(WebServerMultiPartFormRequest& request);
    // Stages in one place; false when its folder cannot be made or held now.
    bool stageUploadsIn(WebServerMultiPartFormRequest& request, const webuploader::StagingPlace& place);
    // Clears the staging folders (the share's and the private one) no upload of this process uses.
    void removeUnusedStagingFolders();
    bool _checkFileExtension(const std::string& fileName) const;
    bool isHiddenName(const std::string& name) const;
    // True when a component of the client path below the upload directory is hidden.
    bool hasHiddenComponent(const std::string& absolutePath) const;
    // The first of "name", "name (1).ext", "name (2).ext"… that `place` can take in the folder of
    // `target`: `place` answers 0 when it made the item, EEXIST to try the next name, or another
    // error number to give up. The name taken is returned; none with the error on failure. With
    // `nextNumber` the search begins at that number and, on success, leaves it just past the one
    // taken, so that many items of one name cost one search together.
    using PlaceBlock = std::function<int(const platform::SharedItem& candidate)>;
    static std::optional<std::string> _placeUnderFreeName(const platform::SharedItem& target,
                                                          const PlaceBlock& place, Error* error,
                                                          int* nextNumber = nullptr);
    // The first of those names free right now (for the checks that come before the operation),
    // from `nextNumber` on as above.
    static std::string _uniqueNameForItem(const platform::SharedItem& target, int* nextNumber = nullptr);

    // How many uploads use each staging folder (the share's, by the share's identity however many
    // times it was opened, and the private one), the lock file of that staging folder held shared
    // while any does, and one upload's use of it (WebUploaderStaging.cpp). One count for the whole
    // process: uploads of a server stopped and those of the next one started on the same folder
    // keep each other's staged files; other processes see the lock. A lock another program held
    // exclusively is not tried again before `retryAt`.
    struct StagingUse {
        int count = 0;
        platform::FileDescriptor lock;
        std::chrono::steady_clock::time_point retryAt;
    };
    struct StagingUsers {
        std::mutex lock;
        std::map<webuploader::StagingKey, StagingUse> uses;
        bool isUsed(const webuploader::StagingKey& key) const;
    };
    class StagingLease;
    static std::shared_ptr<StagingUsers> processStagingUsers();
    std::shared_ptr<StagingUsers> _stagingUsers;

    // Posts a notification to the delegate on the main queue (when it is a WebUploaderDelegate).
    void notifyDelegate(std::function<void(WebUploaderDelegate&, WebUploader&)> notification);
};
