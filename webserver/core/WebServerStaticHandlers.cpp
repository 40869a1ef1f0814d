// GET handlers for static content: fixed bytes at one path, one file at one path, and a directory
// tree below a base path.

#include "WebServer.h"

#include "WebServerDataResponse.h"
#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"
#include "WebServerHTMLFunctions.h"

#include "foundation/FileSystem.h"

using platform::FileSystem;

namespace {

std::shared_ptr<WebServerResponse> notFound() {
    return WebServerResponse::responseWithStatusCode(404);
}

// The HTML listing of a directory's first level: files and directories whose names do not begin
// with "."; everything else is left out. None when the directory cannot be read.
std::shared_ptr<WebServerResponse> responseWithContentsOfDirectory(const std::string& path) {
    const auto names = FileSystem::contentsOfDirectory(path);
    if (!names) {
        return nullptr;
    }
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n<ul>\n";
    for (const std::string& name : *names) {
        if (name.front() == '.') {
            continue;
        }
        const auto status = FileSystem::statusOfItem(FileSystem::appendPathComponent(path, name));
        if (!status) {
            continue;
        }
        if (status->isRegularFile()) {
            html += StringWithFormat("<li><a href=\"%@\">%@</a></li>\n",
                                     {EscapeURLString(name), EscapeHTMLString(name)});
        } else if (status->isDirectory()) {
            html += StringWithFormat("<li><a href=\"%@/\">%@/</a></li>\n",
                                     {EscapeURLString(name), EscapeHTMLString(name)});
        }
    }
    html += "</ul>\n</body></html>\n";
    return WebServerDataResponse::responseWithHTML(html);
}

// The item that a request path names below the directory, with every symbolic link resolved; none
// when the path leads outside the directory, by ".." or through a link, or names nothing.
std::optional<std::string> itemInsideDirectory(const std::string& directoryPath, const std::string& basePath,
                                               const std::string& requestPath) {
    if (requestPath.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const std::string directory = FileSystem::standardizePath(directoryPath);
    const std::string joined = FileSystem::standardizePath(
        FileSystem::appendPathComponent(directory, requestPath.substr(basePath.size())));
    if (!FileSystem::isPathInsideOrEqual(joined, directory)) {
        return std::nullopt;
    }
    const auto resolvedDirectory = FileSystem::resolvePath(directory);
    auto resolved = FileSystem::resolvePath(joined);
    if (!resolvedDirectory || !resolved || !FileSystem::isPathInsideOrEqual(*resolved, *resolvedDirectory)) {
        return std::nullopt;
    }
    return resolved;
}

struct DirectoryHandlerSettings {
    std::string basePath;
    std::string directoryPath;
    std::optional<std::string> indexFilename;
    std::uint64_t cacheAge = 0;
    bool allowRangeRequests = false;
};

std::shared_ptr<WebServerResponse> answerDirectoryRequest(const DirectoryHandlerSettings& settings,
                                                          const WebServerRequest& request) {
    const auto item = itemInsideDirectory(settings.directoryPath, settings.basePath, request.path());
    const auto status = item ? FileSystem::statusOfItem(*item) : std::nullopt;
    std::shared_ptr<WebServerResponse> response;
    if (status && status->isDirectory()) {
        if (settings.indexFilename) {
            const std::string indexPath = FileSystem::appendPathComponent(*item, *settings.indexFilename);
            const auto indexStatus = FileSystem::statusOfItem(indexPath);
            if (indexStatus && indexStatus->isRegularFile()) {
                auto index = WebServerFileResponse::responseWithFile(indexPath);
                return index ? index : notFound(); // the index file goes without a cache age
            }
        }
        response = responseWithContentsOfDirectory(*item);
    } else if (status && status->isRegularFile()) {
        if (settings.allowRangeRequests) {
            response = WebServerFileResponse::responseWithFile(*item, request.byteRange());
            if (response) {
                response->setValueForAdditionalHeader("bytes", "Accept-Ranges");
            }
        } else {
            response = WebServerFileResponse::responseWithFile(*item);
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
    auto settings = std::make_shared<DirectoryHandlerSettings>(
        DirectoryHandlerSettings{basePath, directoryPath, indexFilename, cacheAge, allowRangeRequests});
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
