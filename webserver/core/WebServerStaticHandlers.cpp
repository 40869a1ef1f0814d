// GET handlers for static content: fixed bytes at one path, one file at one path, and a directory
// tree below a base path.

#include "WebServer.h"

#include "WebServerDataResponse.h"
#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"
#include "WebServerHTMLFunctions.h"
#include "WebServerSharedFolder.h"

#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"

#include <fcntl.h>

#include <mutex>

using platform::FileDescriptor;
using platform::FileSystem;
using platform::SharedFolder;
using platform::SharedItem;

namespace {

std::shared_ptr<WebServerResponse> notFound() {
    return WebServerResponse::responseWithStatusCode(404);
}

// The HTML listing of a directory's first level: files and directories whose names do not begin
// with "."; everything else is left out. None when the directory cannot be read.
std::shared_ptr<WebServerResponse> responseWithContentsOfDirectory(const WebServerRequest& request,
                                                                   const SharedItem& directory) {
    Error error;
    const auto fd = SharedFolder::openItem(directory, O_RDONLY | O_DIRECTORY, &error);
    auto entries = fd.valid() ? SharedFolder::listDirectory(fd.get(), &error) : std::nullopt;
    if (!entries) {
        NoteResourceShortage(request, error);
        return nullptr;
    }
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n<ul>\n";
    for (const auto& entry : *entries) {
        const std::string& name = entry.name;
        if (name.front() == '.') {
            continue;
        }
        if (entry.status.isRegularFile()) {
            html += StringWithFormat("<li><a href=\"%@\">%@</a></li>\n",
                                     {EscapeURLString(name), EscapeHTMLString(name)});
        } else if (entry.status.isDirectory()) {
            html += StringWithFormat("<li><a href=\"%@/\">%@/</a></li>\n",
                                     {EscapeURLString(name), EscapeHTMLString(name)});
        }
    }
    html += "</ul>\n</body></html>\n";
    return WebServerDataResponse::responseWithHTML(html);
}

struct DirectoryHandlerSettings {
    std::string basePath;
    std::string directoryPath;
    std::optional<std::string> indexFilename;
    std::uint64_t cacheAge = 0;
    bool allowRangeRequests = false;
    std::mutex lock;
    std::shared_ptr<SharedFolder> folder;

    // The directory, kept open once it could be opened.
    std::shared_ptr<SharedFolder> sharedFolder(Error* error) {
        std::lock_guard<std::mutex> guard(lock);
        if (!folder) {
            folder = SharedFolder::open(FileSystem::standardizePath(directoryPath), error);
        }
        return folder;
    }
};

// A regular file of the directory, opened: what is sent is that file.
std::shared_ptr<WebServerFileResponse> fileResponse(const WebServerRequest& request, const SharedItem& item,
                                                    const std::string& path, WebServerRange range) {
    Error error;
    FileDescriptor file = SharedFolder::openItem(item, O_RDONLY | O_NONBLOCK, &error);
    if (!file.valid()) {
        NoteResourceShortage(request, error);
    }
    return WebServerFileResponse::responseWithFileDescriptor(std::move(file), path, range, false);
}

// Only regular files and folders are served: the request path is resolved beneath the directory's
// descriptor (folders on the way may be links that stay inside), and a link as the last component
// is not followed.
std::shared_ptr<WebServerResponse> answerDirectoryRequest(DirectoryHandlerSettings& settings,
                                                          const WebServerRequest& request) {
    const std::string relative = request.path().substr(settings.basePath.size());
    Error error;
    const auto folder = settings.sharedFolder(&error);
    const auto item = folder ? folder->resolve(relative, false, &error) : std::nullopt;
    if (!item) {
        NoteResourceShortage(request, error); // the connection answers 503 for the 404 below
    }
    platform::FileType type = platform::FileType::other;
    if (item) {
        if (const auto status = SharedFolder::status(*item)) {
            type = status->type;
        }
    }
    const std::string path = FileSystem::appendPathComponent(settings.directoryPath, relative);
    std::shared_ptr<WebServerResponse> response;
    if (type == platform::FileType::directory) {
        if (settings.indexFilename) {
            const auto directory = SharedFolder::openItem(*item, O_PATH | O_DIRECTORY);
            const SharedItem index{
                FileDescriptor(directory.valid() ? ::fcntl(directory.get(), F_DUPFD_CLOEXEC, 0) : -1),
                *settings.indexFilename};
            const auto indexStatus = index.folder.valid() ? SharedFolder::status(index) : std::nullopt;
            if (indexStatus && indexStatus->isRegularFile()) {
                auto indexResponse = fileResponse(
                    request, index, FileSystem::appendPathComponent(path, *settings.indexFilename),
                    WebServerRange());
                return indexResponse ? indexResponse : notFound(); // the index file goes without a cache age
            }
        }
        response = responseWithContentsOfDirectory(request, *item);
    } else if (type == platform::FileType::regular) {
        if (settings.allowRangeRequests) {
            response = fileResponse(request, *item, path, request.byteRange());
            if (response) {
                response->setValueForAdditionalHeader("bytes", "Accept-Ranges");
            }
        } else {
            response = fileResponse(request, *item, path, WebServerRange());
        }
    }
    if (!response) {
        return notFound();
    }
    response->setCacheControlMaxAge(settings.cacheAge);
    return response;
}

} // namespace

void WebServer::addGETHandlerForPath(const std::string& path, Data staticData, const std::string& contentType,
                                     std::uint64_t cacheAge) {
    addHandlerForMethod("GET", path, WebServerRequestClass<WebServerRequest>(),
                        [staticData = std::move(staticData), contentType, cacheAge](
                            const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
                            auto response = WebServerDataResponse::responseWithData(staticData, contentType);
                            response->setCacheControlMaxAge(cacheAge);
                            return response;
                        });
}

void WebServer::addGETHandlerForPathWithFile(const std::string& path, const std::string& filePath,
                                             bool isAttachment, std::uint64_t cacheAge,
                                             bool allowRangeRequests) {
    addHandlerForMethod(
        "GET", path, WebServerRequestClass<WebServerRequest>(),
        [filePath, isAttachment, cacheAge, allowRangeRequests](
            const std::shared_ptr<WebServerRequest>& request) -> std::shared_ptr<WebServerResponse> {
            const WebServerRange range = allowRangeRequests ? request->byteRange() : WebServerRange();
            auto response = WebServerFileResponse::responseWithFile(filePath, range, isAttachment);
            if (!response) {
                return nullptr; // a missing file or an unsatisfiable range: the connection answers 500
            }
            if (allowRangeRequests) {
                response->setValueForAdditionalHeader("bytes", "Accept-Ranges");
            }
            response->setCacheControlMaxAge(cacheAge);
            return response;
        });
}

void WebServer::addGETHandlerForBasePath(const std::string& basePath, const std::string& directoryPath,
                                         const std::optional<std::string>& indexFilename,
                                         std::uint64_t cacheAge, bool allowRangeRequests) {
    if (basePath.empty() || basePath.front() != '/' || basePath.back() != '/') {
        return;
    }
    auto settings = std::make_shared<DirectoryHandlerSettings>();
    settings->basePath = basePath;
    settings->directoryPath = directoryPath;
    settings->indexFilename = indexFilename;
    settings->cacheAge = cacheAge;
    settings->allowRangeRequests = allowRangeRequests;
    addHandlerWithMatchBlock(
        [basePath](const std::string& method, const Url& url, const HeaderDictionary& headers,
                   const std::string& path,
                   const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
            if (method != "GET" || path.compare(0, basePath.size(), basePath) != 0) {
                return nullptr;
            }
            return WebServerRequest::create<WebServerRequest>(method, url, headers, path, query);
        },
        WebServerProcessBlock([settings](const std::shared_ptr<WebServerRequest>& request)
                                  -> std::shared_ptr<WebServerResponse> {
            return answerDirectoryRequest(*settings, *request);
        }));
}
