// The WebDAV server: construction, properties, the handler list, path rules, notifications, and
// the simple methods (OPTIONS, GET, DELETE, MKCOL). PUT, COPY and MOVE are in
// WebDAVServerTransfers.cpp, PROPFIND, LOCK and UNLOCK in WebDAVServerProperties.cpp.

#include "WebDAVServer.h"
#include "WebDAVPreconditions.h"
#include "WebDAVServerSupport.h"

#include "WebServerDataRequest.h"
#include "WebServerErrorResponse.h"
#include "WebServerFileRequest.h"
#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"
#include "WebServerItemLocks.h"
#include "WebServerItemRemoval.h"
#include "WebServerSharedFolder.h"

#include "dispatch/MainQueue.h"
#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

using platform::FileSystem;
using platform::SharedFolder;
using namespace webdav_detail;

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

std::shared_ptr<WebServerResponse> unexpectedMKCOLBody() {
    return WebServerErrorResponse::responseWithClientError(415, "Unexpected request body for MKCOL method");
}

// A file, or the one byte range the request names (206 with "Content-Range"). A range that
// starts past the end answers 416; several ranges, a Range header that cannot be read, or an
// If-Range that names another version of the file get the whole file. An empty file is always
// sent whole.
std::shared_ptr<WebServerResponse> fileResponse(const WebServerRequest& request,
                                                const platform::SharedItem& item, const std::string& path) {
    Error error;
    platform::FileDescriptor file = SharedFolder::openItem(item, O_RDONLY | O_NONBLOCK, &error);
    const auto status = file.valid() ? FileSystem::statusOfDescriptor(file.get()) : std::nullopt;
    if (!status) {
        NoteResourceShortage(request, error);
        return nullptr;
    }
    const bool useRange = status->size != 0 && rangeConditionHolds(request.headers(), *status);
    const WebServerRange range = useRange ? request.byteRange() : WebServerRange();
    std::shared_ptr<WebServerResponse> response =
        WebServerFileResponse::responseWithFileDescriptor(std::move(file), path, range, false);
    if (!response && range != WebServerRange() && status->isRegularFile()) {
        response = WebServerErrorResponse::responseWithClientError(416, "Range not satisfiable");
        response->setValueForAdditionalHeader("bytes */" + std::to_string(status->size), "Content-Range");
    }
    if (response) {
        response->setValueForAdditionalHeader("bytes", "Accept-Ranges");
    }
    return response;
}

} // namespace

template <class Request, class Result>
std::function<Result(const std::shared_ptr<WebServerRequest>&)>
WebDAVServer::perform(std::weak_ptr<WebDAVServer> weakServer,
                      Result (WebDAVServer::*method)(const Request&)) {
    return [weakServer, method](const std::shared_ptr<WebServerRequest>& request) -> Result {
        const auto server = weakServer.lock();
        const auto* typed = dynamic_cast<const Request*>(request.get());
        if (!server || !typed) {
            return nullptr;
        }
        TakeSharedFolder(*request, server->_sharedFolder);
        return ((*server).*method)(*typed);
    };
}

std::shared_ptr<WebDAVServer> WebDAVServer::create(const std::string& uploadDirectory) {
    return createServer<WebDAVServer>(uploadDirectory);
}

WebDAVServer::WebDAVServer(const std::string& uploadDirectory)
    : _uploadDirectory(FileSystem::absoluteStandardizedPath(uploadDirectory)),
      _sharedFolder(_uploadDirectory) {}

// The handlers hold the server weakly: the server owns them.
void WebDAVServer::addHandlers() {
    const std::weak_ptr<WebDAVServer> weak = std::static_pointer_cast<WebDAVServer>(shared_from_this());
    addDefaultHandlerForMethod("PROPFIND", WebServerRequestClass<WebServerDataRequest>(),
                               perform<WebServerDataRequest>(weak, &WebDAVServer::performPROPFIND));
    addDefaultHandlerForMethod(
        "MKCOL", WebServerRequestClass<WebServerDataRequest>(),
        RunOnFileOperationsPool(perform<WebServerDataRequest>(weak, &WebDAVServer::performMKCOL)));
    _handlers.front()->setHeadCheckBlock([](const std::shared_ptr<WebServerRequest>& request) {
        return request->contentLength() != 0 ? unexpectedMKCOLBody() : nullptr;
    });
    addDefaultHandlerForMethod("GET", WebServerRequestClass<WebServerRequest>(),
                               perform<WebServerRequest>(weak, &WebDAVServer::performGET));
    addDefaultHandlerForMethod(
        "DELETE", WebServerRequestClass<WebServerRequest>(),
        RunStepsOnFileOperationsPool(perform<WebServerRequest>(weak, &WebDAVServer::performDELETE)));
    // A PUT's body is staged beside its target (on the share's file system, through the folder's
    // descriptor), so a full disk fails it at once and putting it in place is a rename.
    const WebServerRequestFactory stagedBesideTarget =
        [weak](const std::string& method, const Url& url, const HeaderDictionary& headers,
               const std::string& path, const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
        auto request = WebServerRequest::create<WebServerFileRequest>(method, url, headers, path, query);
        const auto self = weak.lock();
        if (self && request) {
            TakeSharedFolder(*request, self->_sharedFolder); // the request starts here
        }
        const auto target = self && request ? self->resolveItem(*request, path, false) : std::nullopt;
        if (target && !target->isRoot()) {
            request->setTemporaryFolder(target->folder.get(),
                                        FileSystem::deletingLastPathComponent(self->absolutePath(path)));
        }
        return request;
    };
    // A PUT may wait for its item's lock while another writer finishes: never on the workers that
    // read requests and accept connections.
    addDefaultHandlerForMethod(
        "PUT", stagedBesideTarget,
        RunOnFileOperationsPool(perform<WebServerFileRequest>(weak, &WebDAVServer::performPUT)));
    // A PUT or MKCOL that will be refused whatever its body holds is answered on its head.
    _handlers.front()->setHeadCheckBlock([weak](const std::shared_ptr<WebServerRequest>& request) {
        const auto self = weak.lock();
        return self ? self->checkPUT(*request, nullptr) : nullptr;
    });
    // A COPY starts with its copy, on the long pool; a MOVE with its checks, on the file-operations pool.
    const auto copyOrMove = [weak](bool isMove) {
        const WebServerStepBlock steps =
            [weak, isMove](const std::shared_ptr<WebServerRequest>& request) -> WebServerStep {
            const auto server = weak.lock();
            if (!server) {
                return nullptr;
            }
            TakeSharedFolder(*request, server->_sharedFolder);
            return server->performCOPY(*request, isMove);
        };
        return isMove ? RunStepsOnFileOperationsPool(steps) : RunOnLongOperationsPool(steps);
    };
    addDefaultHandlerForMethod("COPY", WebServerRequestClass<WebServerRequest>(), copyOrMove(false));
    addDefaultHandlerForMethod("MOVE", WebServerRequestClass<WebServerRequest>(), copyOrMove(true));
    addDefaultHandlerForMethod("LOCK", WebServerRequestClass<WebServerDataRequest>(),
                               perform<WebServerDataRequest>(weak, &WebDAVServer::performLOCK));
    addDefaultHandlerForMethod("UNLOCK", WebServerRequestClass<WebServerRequest>(),
                               perform<WebServerRequest>(weak, &WebDAVServer::performUNLOCK));
    addDefaultHandlerForMethod("OPTIONS", WebServerRequestClass<WebServerRequest>(),
                               perform<WebServerRequest>(weak, &WebDAVServer::performOPTIONS));
}

// ---- Properties ----

std::optional<std::vector<std::string>> WebDAVServer::allowedFileExtensions() const {
    std::lock_guard<std::mutex> guard(_propertiesLock);
    return _allowedExtensions;
}

void WebDAVServer::setAllowedFileExtensions(std::optional<std::vector<std::string>> extensions) {
    std::lock_guard<std::mutex> guard(_propertiesLock);
    _allowedExtensions = std::move(extensions);
}

bool WebDAVServer::allowHiddenItems() const {
    std::lock_guard<std::mutex> guard(_propertiesLock);
    return _allowHidden;
}

void WebDAVServer::setAllowHiddenItems(bool allow) {
    std::lock_guard<std::mutex> guard(_propertiesLock);
    _allowHidden = allow;
}

// ---- Overridable checks ----

bool WebDAVServer::shouldUploadFileAtPath(const std::string&, const std::string&) {
    return true;
}

bool WebDAVServer::shouldMoveItemFromPath(const std::string&, const std::string&) {
    return true;
}

bool WebDAVServer::shouldCopyItemFromPath(const std::string&, const std::string&) {
    return true;
}

bool WebDAVServer::shouldDeleteItemAtPath(const std::string&) {
    return true;
}

bool WebDAVServer::shouldCreateDirectoryAtPath(const std::string&) {
    return true;
}

// ---- Path rules ----

std::string WebDAVServer::absolutePath(const std::string& requestPath) const {
    return FileSystem::standardizePath(FileSystem::appendPathComponent(_uploadDirectory, requestPath));
}

std::optional<platform::SharedItem> WebDAVServer::resolveItem(const WebServerRequest& request,
                                                              const std::string& requestPath,
                                                              bool followLastLink, Error* error) const {
    return ResolveSharedItem(request, _sharedFolder, requestPath, followLastLink, error,
                             allowHiddenItems() ? SharedFolder::HiddenNames::allowed
                                                : SharedFolder::HiddenNames::refusedInLinks);
}

std::optional<platform::FileStatus> WebDAVServer::servedStatus(const WebServerRequest& request) const {
    const auto item = resolveItem(request, request.path(), true);
    return item ? SharedFolder::status(*item) : std::nullopt;
}

// An item is hidden when a component of its path below the upload directory begins with ".", so
// nothing inside a hidden folder (nor a staging item of a replacement in progress) can be reached.
bool WebDAVServer::isHiddenPath(const std::string& path) const {
    if (allowHiddenItems() || path == _uploadDirectory) {
        return false;
    }
    // The part below the upload directory, beginning with "/". Below a folder given as "." the
    // standardized paths are bare relative names ("a/.b").
    const std::string relative = _uploadDirectory == "/" ? path
                                 : _uploadDirectory == "."
                                     ? "/" + path
                                     : path.substr(std::min(path.size(), _uploadDirectory.size()));
    return relative.find("/.") != std::string::npos;
}

bool WebDAVServer::checkFileExtension(const std::string& nameOrPath) {
    if (const auto extensions = allowedFileExtensions()) {
        const std::string extension = lowercased(FileSystem::pathExtension(nameOrPath));
        if (std::find(extensions->begin(), extensions->end(), extension) == extensions->end()) {
            return false;
        }
    }
    if (auto* davDelegate = dynamic_cast<WebDAVServerDelegate*>(delegate())) {
        if (const auto answer = davDelegate->davServerCanListFileOrDirectory(*this, nameOrPath, true)) {
            return *answer;
        }
    }
    return true;
}

void WebDAVServer::notifyDelegate(std::function<void(WebDAVServerDelegate&, WebDAVServer&)> notification) {
    auto server = std::static_pointer_cast<WebDAVServer>(shared_from_this());
    platform::dispatch::MainQueue::async([server, notification = std::move(notification)] {
        if (auto* davDelegate = dynamic_cast<WebDAVServerDelegate*>(server->delegate())) {
            notification(*davDelegate, *server);
        }
    });
}

// ---- OPTIONS and GET ----

std::shared_ptr<WebServerResponse> WebDAVServer::performOPTIONS(const WebServerRequest& request) {
    auto response = WebServerResponse::responseWithStatusCode(200);
    response->setValueForAdditionalHeader(isFinderClient(request) ? "1, 2" : "1", "DAV");
    return response;
}

std::shared_ptr<WebServerResponse> WebDAVServer::performGET(const WebServerRequest& request) {
    const std::string path = absolutePath(request.path());
    const auto item = resolveItem(request, request.path(), true);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(request);
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(path)) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Downlading item name \"%@\" is not allowed", {name});
    }
    if (status->isDirectory()) {
        return WebServerResponse::response();
    }
    if (!checkFileExtension(name)) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Downlading item name \"%@\" is not allowed", {name});
    }
    auto response = fileResponse(request, *item, path);
    if (!response) {
        return doesNotExist(request);
    }
    if (response->statusCode() == 416) {
        return response;
    }
    notifyDelegate([path](WebDAVServerDelegate& davDelegate, WebDAVServer& server) {
        davDelegate.davServerDidDownloadFileAtPath(server, path);
    });
    return response;
}

// ---- DELETE and MKCOL ----

WebServerStep WebDAVServer::performDELETE(const WebServerRequest& request) {
    if (const std::string* depth = HeaderValue(request.headers(), "Depth"); depth && *depth != "infinity") {
        return WebServerErrorResponse::responseWithClientError(400, "Unsupported 'Depth' header: %@",
                                                               {*depth});
    }
    const std::string path = absolutePath(request.path());
    const auto item = resolveItem(request, request.path(), false);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(request);
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(path) || (!status->isDirectory() && !checkFileExtension(name))) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Deleting item name \"%@\" is not allowed", {name});
    }
    if (path == _uploadDirectory || item->isRoot() || !shouldDeleteItemAtPath(path)) {
        return WebServerErrorResponse::responseWithClientError(403, "Deleting \"%@\" is not permitted",
                                                               {request.path()});
    }
    // The conditions and the removal are one step for every writer of the item in this process;
    // what is inside a folder is removed after it, without the lock.
    auto locked = WebServerItemLocks::lock({&*item});
    if (!preconditionsHold(request.headers(), servedStatus(request))) {
        return preconditionFailed(request);
    }
    auto server = std::static_pointer_cast<WebDAVServer>(shared_from_this());
    auto answer = [server, held = request.shared_from_this()](bool removed, const Error& error) {
        return server->deleted(*held, removed, error);
    };
    return RemoveLockedItem(*item, std::move(locked), std::move(answer));
}

std::shared_ptr<WebServerResponse> WebDAVServer::deleted(const WebServerRequest& request, bool removed,
                                                         const Error& error) {
    if (!removed && error.code == ENOENT) { // removed meanwhile
        return doesNotExist(request);
    }
    if (!removed) {
        NoteResourceShortage(request, error);
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed deleting \"%@\"",
                                                               {request.path()});
    }
    const std::string path = absolutePath(request.path());
    notifyDelegate([path](WebDAVServerDelegate& davDelegate, WebDAVServer& server) {
        davDelegate.davServerDidDeleteItemAtPath(server, path);
    });
    return WebServerResponse::responseWithStatusCode(204);
}

std::shared_ptr<WebServerResponse> WebDAVServer::performMKCOL(const WebServerDataRequest& request) {
    if (request.hasBody() && request.contentLength() != 0) {
        return unexpectedMKCOLBody();
    }
    if (auto refusal = RefusedItemPath(request.path(), "Directory name")) {
        return refusal;
    }
    const std::string path = absolutePath(request.path());
    Error resolveError;
    const auto item = resolveItem(request, request.path(), false, &resolveError);
    if (!item && !isMissingFolder(resolveError)) {
        return doesNotExist(request);
    }
    if (!item) {
        return WebServerErrorResponse::responseWithClientError(
            409, "Missing intermediate collection(s) for \"%@\"", {request.path()});
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(path)) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Creating directory name \"%@\" is not allowed", {name});
    }
    if (!shouldCreateDirectoryAtPath(path)) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Creating directory \"%@\" is not permitted", {request.path()});
    }
    Error error;
    if (!SharedFolder::createDirectory(*item, &error)) {
        NoteResourceShortage(request, error);
        // Something already has that name: RFC 4918 answers 405, which clients do not retry.
        const int status = error.code == EEXIST ? 405 : IsOutOfSpace(error) ? 507 : 500;
        return WebServerErrorResponse::responseWithServerError(
            status, error, "Failed creating directory \"%@\"", {request.path()});
    }
    notifyDelegate([path](WebDAVServerDelegate& davDelegate, WebDAVServer& server) {
        davDelegate.davServerDidCreateDirectoryAtPath(server, path);
    });
    return WebServerResponse::responseWithStatusCode(201);
}
