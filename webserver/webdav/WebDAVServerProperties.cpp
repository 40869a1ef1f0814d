// The WebDAV methods that answer with XML: PROPFIND (Depth 0 and 1, four properties), and LOCK and
// UNLOCK, which are answered in form only (nothing is ever locked) and only for the macOS clients.

#include "WebDAVServer.h"
#include "WebDAVServerSupport.h"
#include "WebDAVXml.h"
#include "foundation/Text.h"

#include "WebServerDataRequest.h"
#include "WebServerDataResponse.h"
#include "WebServerErrorResponse.h"
#include "WebServerFunctions.h"
#include "WebServerSharedFolder.h"

#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"

#include "foundation/Uuid.h"
#include <fcntl.h>

using platform::FileSystem;
using platform::SharedFolder;
using namespace webdav_detail;

namespace {

constexpr const char* kXMLContentType = "application/xml; charset=\"utf-8\"";

std::shared_ptr<WebServerResponse> invalidProperties(const WebServerDataRequest& request) {
    const std::string body = StringFromData(request.data(), "UTF-8").value_or("");
    return WebServerErrorResponse::responseWithClientError(400, "Invalid DAV properties:\n%@", {body});
}

std::shared_ptr<WebServerResponse> xmlResponse(const std::string& xml, int status) {
    auto response = WebServerDataResponse::responseWithData(Data(xml.begin(), xml.end()), kXMLContentType);
    response->setStatusCode(status);
    return response;
}

} // namespace

// ---- PROPFIND ----

std::shared_ptr<WebServerResponse> WebDAVServer::performPROPFIND(const WebServerDataRequest& request) {
    const std::string depth = headerText(request, "Depth");
    if (depth != "0" && depth != "1") {
        return WebServerErrorResponse::responseWithClientError(400, "Unsupported 'Depth' header: %@",
                                                               {depth});
    }
    const auto properties = WebDAVParsePropfindBody(request.data(), [this](const std::string& name) {
        logWarning(StringWithFormat("Unknown DAV property requested \"%@\"", {name}));
    });
    if (!properties) {
        return invalidProperties(request);
    }
    const std::string path = absolutePath(request.path());
    const auto item = resolveItem(request, request.path(), true);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(request);
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(path) || (!status->isDirectory() && !checkFileExtension(name))) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Retrieving properties for item name \"%@\" is not allowed", {name});
    }
    // The entries are read through the folder's own descriptor and each one's status relative to
    // it: what is listed is what that folder holds, whatever its path leads to meanwhile.
    std::vector<platform::SharedDirectoryEntry> entries;
    if (depth == "1" && status->isDirectory()) {
        Error error;
        const auto folder = SharedFolder::openItem(*item, O_RDONLY | O_DIRECTORY, &error);
        auto listed = folder.valid() ? SharedFolder::listDirectory(folder.get(), &error) : std::nullopt;
        if (!listed) {
            NoteResourceShortage(request, error);
            return WebServerErrorResponse::responseWithServerError(
                500, error, "Failed listing directory \"%@\"", {request.path()});
        }
        entries = std::move(*listed);
    }

    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:multistatus xmlns:D=\"DAV:\">\n";
    const std::string resource = request.path().rfind('/', 0) == 0 ? request.path() : "/" + request.path();
    addPropertyResponseForItem(path, *status, resource, *properties, xml);
    const std::string base = resource.back() == '/' ? resource : resource + "/";
    const bool showHidden = allowHiddenItems();
    xml.reserve(xml.size() + entries.size() * (2 * base.size() + 320));
    std::string entryResource = base;
    const std::string folderPrefix = !path.empty() && path.back() == '/' ? path : path + "/";
    std::string entryPath = folderPrefix;
    for (const auto& entry : entries) {
        if (showHidden || entry.name.front() != '.') {
            // Both texts reuse their buffers: no new allocation per entry.
            entryResource.resize(base.size());
            entryResource += entry.name;
            entryPath.resize(folderPrefix.size());
            entryPath += entry.name;
            addPropertyResponseForItem(entryPath, entry.status, entryResource, *properties, xml);
        }
    }
    xml += "</D:multistatus>";
    return xmlResponse(xml, 207);
}

void WebDAVServer::addPropertyResponseForItem(const std::string& nameOrPath,
                                              const platform::FileStatus& itemStatus,
                                              const std::string& resource, int properties,
                                              std::string& xmlString) {
    // The href is the resource escaped as UTF-8: a name that is not UTF-8 text (possible here,
    // where names are bytes) cannot be escaped, and its entry is left out.
    if (!platform::isValidUTF8(resource)) {
        return;
    }
    const platform::FileStatus* status = &itemStatus;
    if (!(status->isRegularFile() || status->isDirectory()) || !checkFileExtension(nameOrPath)) {
        return;
    }
    const bool isDirectory = status->isDirectory();
    // Appended piece by piece to the one document: no temporary texts per entry.
    xmlString += "<D:response><D:href>";
    xmlString += WebDAVEscapeHref(resource);
    xmlString += "</D:href><D:propstat><D:prop>";
    if (properties & kWebDAVPropertyResourceType) {
        xmlString += isDirectory ? "<D:resourcetype><D:collection/></D:resourcetype>" : "<D:resourcetype/>";
    }
    if ((properties & kWebDAVPropertyCreationDate) && status->creationTime) {
        xmlString += "<D:creationdate>";
        xmlString += FormatISO8601Date(status->creationTime->date());
        xmlString += "</D:creationdate>";
    }
    if ((properties & kWebDAVPropertyLastModified) && !isDirectory) {
        xmlString += "<D:getlastmodified>";
        xmlString += FormatRFC822Date(status->modificationTime.date());
        xmlString += "</D:getlastmodified>";
    }
    if ((properties & kWebDAVPropertyContentLength) && !isDirectory) {
        xmlString += "<D:getcontentlength>";
        xmlString += std::to_string(status->size);
        xmlString += "</D:getcontentlength>";
    }
    xmlString += "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n";
}

// ---- LOCK and UNLOCK ----

std::shared_ptr<WebServerResponse> WebDAVServer::performLOCK(const WebServerDataRequest& request) {
    if (!isFinderClient(request)) {
        return WebServerErrorResponse::responseWithClientError(405,
                                                               "LOCK method only allowed for Mac Finder");
    }
    const std::string path = absolutePath(request.path());
    const auto item = resolveItem(request, request.path(), true);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(request);
    }
    const auto info = WebDAVParseLockInfo(request.data());
    if (!info) {
        return invalidProperties(request);
    }
    const std::string depth = headerText(request, "Depth");
    if (info->scope != "exclusive" || info->type != "write" || depth != "0") {
        return WebServerErrorResponse::responseWithClientError(
            403, "Locking request \"%@/%@/%@\" for \"%@\" is not allowed",
            {info->scope, info->type, depth, request.path()});
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(path) || (!status->isDirectory() && !checkFileExtension(name))) {
        return WebServerErrorResponse::responseWithClientError(403, "Locking item name \"%@\" is not allowed",
                                                               {name});
    }
    const std::string token = "urn:uuid:" + platform::makeUuidString();
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:prop xmlns:D=\"DAV:\">\n"
                      "<D:lockdiscovery>\n<D:activelock>\n";
    xml += "<D:locktype><D:" + info->type + "/></D:locktype>\n";
    xml += "<D:lockscope><D:" + info->scope + "/></D:lockscope>\n";
    xml += "<D:depth>" + WebDAVEscapeXML(depth) + "</D:depth>\n";
    if (!info->owner.empty()) {
        xml += "<D:owner><D:href>" + WebDAVEscapeXML(info->owner) + "</D:href></D:owner>\n";
    }
    if (const std::string* timeout = HeaderValue(request.headers(), "Timeout")) {
        xml += "<D:timeout>" + WebDAVEscapeXML(*timeout) + "</D:timeout>\n";
    }
    xml += "<D:locktoken><D:href>" + token + "</D:href></D:locktoken>\n";
    xml += "<D:lockroot><D:href>" +
           WebDAVEscapeXML("http://" + headerText(request, "Host") + "/" + request.path()) +
           "</D:href></D:lockroot>\n";
    xml += "</D:activelock>\n</D:lockdiscovery>\n</D:prop>";
    logVerbose(StringWithFormat("WebDAV pretending to lock \"%@\"", {request.path()}));
    return xmlResponse(xml, 200);
}

std::shared_ptr<WebServerResponse> WebDAVServer::performUNLOCK(const WebServerRequest& request) {
    if (!isFinderClient(request)) {
        return WebServerErrorResponse::responseWithClientError(405,
                                                               "UNLOCK method only allowed for Mac Finder");
    }
    const std::string path = absolutePath(request.path());
    const auto item = resolveItem(request, request.path(), true);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(request);
    }
    if (headerText(request, "Lock-Token").empty()) {
        return WebServerErrorResponse::responseWithClientError(400, "Missing 'Lock-Token' header");
    }
    const std::string name = FileSystem::lastPathComponent(request.path());
    if (isHiddenPath(path) || (!status->isDirectory() && !checkFileExtension(name))) {
        return WebServerErrorResponse::responseWithClientError(
            403, "Unlocking item name \"%@\" is not allowed", {name});
    }
    logVerbose(StringWithFormat("WebDAV pretending to unlock \"%@\"", {request.path()}));
    return WebServerResponse::responseWithStatusCode(204);
}
