// The web file manager: creation, properties, the overridable checks and the handler table.

#include "WebUploader.h"

#include "WebServerFunctions.h"
#include "WebServerMoveAcross.h"
#include "WebServerMultiPartFormRequest.h"
#include "WebServerSharedFolder.h"
#include "WebServerURLEncodedFormRequest.h"

#include "dispatch/MainQueue.h"
#include "foundation/FileSystem.h"
#include "foundation/ResourceBundle.h"

#include <cstdlib>
#include <unistd.h>

using platform::FileSystem;

// Each operation works in the folder that its request started with.
template <class Result>
std::function<Result(const std::shared_ptr<WebServerRequest>&)>
WebUploader::operation(std::weak_ptr<WebUploader> weak,
                       Result (WebUploader::*method)(const WebServerRequest&)) {
    return [weak = std::move(weak), method](const std::shared_ptr<WebServerRequest>& request) -> Result {
        const auto self = weak.lock();
        if (!self || !request) {
            return nullptr;
        }
        TakeSharedFolder(*request, self->_sharedFolder);
        return ((*self).*method)(*request);
    };
}

std::shared_ptr<WebUploader> WebUploader::create(const std::string& uploadDirectory,
                                                 const std::string& startHtml) {
    auto server = std::make_shared<WebUploader>(uploadDirectory);
    if (!server->addHandlers(startHtml)) {
        return nullptr;
    }
    return server;
}

WebUploader::WebUploader(const std::string& uploadDirectory)
    : _uploadDirectory(FileSystem::absoluteStandardizedPath(uploadDirectory)),
      _sharedFolder(_uploadDirectory), _stagingUsers(processStagingUsers()) {}

bool WebUploader::addHandlers(const std::string& startHtml) {
    const std::shared_ptr<platform::ResourceBundle> bundle =
        platform::ResourceBundle::find("WebUploader", "bundle");
    if (!bundle) {
        return false;
    }
    const std::weak_ptr<WebUploader> weak = std::static_pointer_cast<WebUploader>(shared_from_this());
    // The page's scripts, styles and images; every exact path below takes precedence.
    addGETHandlerForBasePath("/", bundle->resourcePath(), std::nullopt, 3600, false);
    addHandlerForMethod(
        "GET", "/", WebServerRequestClass<WebServerRequest>(),
        WebServerProcessBlock([weak, bundle, startHtml](const std::shared_ptr<WebServerRequest>&)
                                  -> std::shared_ptr<WebServerResponse> {
            const auto self = weak.lock();
            return self ? self->startPage(*bundle, startHtml) : nullptr;
        }));
    addHandlerForMethod("GET", "/list", WebServerRequestClass<WebServerRequest>(),
                        operation(weak, &WebUploader::listDirectory));
    addHandlerForMethod("GET", "/download", WebServerRequestClass<WebServerRequest>(),
                        operation(weak, &WebUploader::downloadFile));
    addHandlerForMethod("POST", "/upload", WebServerRequestClass<WebServerMultiPartFormRequest>(),
                        RunStepsOnFileOperationsPool(operation(weak, &WebUploader::uploadFile)));
    // Uploads are staged in the shared folder itself, whatever order the form's parts come in, once
    // the request is let in (its credentials checked) and before its body is read.
    _handlers.front()->setHeadCheckBlock(
        [weak](const std::shared_ptr<WebServerRequest>& request) -> std::shared_ptr<WebServerResponse> {
            const auto self = weak.lock();
            if (auto* form = dynamic_cast<WebServerMultiPartFormRequest*>(request.get()); self && form) {
                self->stageUploads(*form);
            }
            return nullptr;
        });
    // A move to another file system copies as long work, apart from the quick writes.
    addHandlerForMethod("POST", "/move", WebServerRequestClass<WebServerURLEncodedFormRequest>(),
                        RunStepsOnFileOperationsPool(operation(weak, &WebUploader::moveItem)));
    addHandlerForMethod("POST", "/delete", WebServerRequestClass<WebServerURLEncodedFormRequest>(),
                        RunStepsOnFileOperationsPool(operation(weak, &WebUploader::deleteItem)));
    addHandlerForMethod("POST", "/create", WebServerRequestClass<WebServerURLEncodedFormRequest>(),
                        RunOnFileOperationsPool(operation(weak, &WebUploader::createDirectory)));
    return true;
}

void WebUploader::notifyDelegate(std::function<void(WebUploaderDelegate&, WebUploader&)> notification) {
    auto self = std::static_pointer_cast<WebUploader>(shared_from_this());
    platform::dispatch::MainQueue::async([self, notification = std::move(notification)] {
        if (auto* delegate = dynamic_cast<WebUploaderDelegate*>(self->delegate())) {
            notification(*delegate, *self);
        }
    });
}

// ---- Overridable checks ----

bool WebUploader::shouldUploadFileAtPath(const std::string&, const std::string&) {
    return true;
}

bool WebUploader::shouldMoveItemFromPath(const std::string&, const std::string&) {
    return true;
}

bool WebUploader::shouldDeleteItemAtPath(const std::string&) {
    return true;
}

bool WebUploader::shouldCreateDirectoryAtPath(const std::string&) {
    return true;
}

// ---- Properties ----

std::optional<std::vector<std::string>> WebUploader::allowedFileExtensions() const {
    std::lock_guard lock(_propertiesLock);
    return _allowedExtensions;
}

void WebUploader::setAllowedFileExtensions(std::optional<std::vector<std::string>> extensions) {
    std::lock_guard lock(_propertiesLock);
    _allowedExtensions = std::move(extensions);
}

bool WebUploader::allowHiddenItems() const {
    std::lock_guard lock(_propertiesLock);
    return _allowHidden;
}

void WebUploader::setAllowHiddenItems(bool allow) {
    std::lock_guard lock(_propertiesLock);
    _allowHidden = allow;
}

#define WEBUPLOADER_TEXT_PROPERTY(getter, setter, field)                                                     \
    std::optional<std::string> WebUploader::getter() const {                                                 \
        std::lock_guard lock(_propertiesLock);                                                               \
        return field;                                                                                        \
    }                                                                                                        \
    void WebUploader::setter(std::optional<std::string> value) {                                             \
        std::lock_guard lock(_propertiesLock);                                                               \
        field = std::move(value);                                                                            \
    }

WEBUPLOADER_TEXT_PROPERTY(title, setTitle, _title)
WEBUPLOADER_TEXT_PROPERTY(header, setHeader, _header)
WEBUPLOADER_TEXT_PROPERTY(prologue, setPrologue, _prologue)
WEBUPLOADER_TEXT_PROPERTY(epilogue, setEpilogue, _epilogue)
WEBUPLOADER_TEXT_PROPERTY(footer, setFooter, _footer)

#undef WEBUPLOADER_TEXT_PROPERTY
