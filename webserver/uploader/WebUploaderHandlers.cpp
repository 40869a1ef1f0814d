// The reading operations of the web file manager (list, download) and the upload.

#include "WebUploader.h"
#include "WebUploaderResponses.h"

#include "WebServerFileResponse.h"
#include "WebServerFunctions.h"
#include "WebServerMultiPartFormRequest.h"

#include "foundation/CaseInsensitive.h"
#include "foundation/Collation.h"
#include "foundation/FileSystem.h"
#include "foundation/Json.h"
#include "foundation/SharedFolder.h"
#include "foundation/Text.h"

#include <fcntl.h>

#include <charconv>

using platform::FileSystem;
using platform::SharedFolder;
using namespace webuploader;

namespace {

const std::string* queryValue(const WebServerRequest& request, const std::string& name) {
    const auto found = request.query().find(name);
    return found == request.query().end() ? nullptr : &found->second;
}

void appendText(Data& out, std::string_view text) {
    platform::appendBytes(out, text.data(), text.size());
}

// A JSON string of valid UTF-8 text, escaped as the JSON serialiser does it.
void appendJSONString(Data& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        appendText(out, text.substr(plain, i - plain));
        plain = i + 1;
        out.push_back('\\');
        switch (c) {
        case '"':
            out.push_back('"');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case '\b':
            out.push_back('b');
            break;
        case '\f':
            out.push_back('f');
            break;
        case '\n':
            out.push_back('n');
            break;
        case '\r':
            out.push_back('r');
            break;
        case '\t':
            out.push_back('t');
            break;
        default: {
            const char escaped[] = {'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            platform::appendBytes(out, escaped, sizeof escaped);
        }
        }
    }
    appendText(out, text.substr(plain));
    out.push_back('"');
}

// One object of the listing: {"name":…,"path":…,"size":…} for a file, {"name":…,"path":…/} for a
// folder (the keys in the serialiser's order).
void appendListEntry(Data& out, const std::string& path, std::string_view name, bool isFile,
                     std::uint64_t size) {
    if (out.size() > 1) {
        out.push_back(',');
    }
    appendText(out, "{\"name\":");
    appendJSONString(out, name);
    appendText(out, ",\"path\":");
    if (isFile) {
        appendJSONString(out, path);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, size).ptr;
        appendText(out, ",\"size\":");
        platform::appendBytes(out, digits, static_cast<std::size_t>(end - digits));
    } else {
        appendJSONString(out, path + "/");
    }
    out.push_back('}');
}

} // namespace

std::shared_ptr<WebServerResponse> WebUploader::listDirectory(const WebServerRequest& request) {
    const std::string* relativePath = queryValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    const std::string directoryPath = absolutePath(*relativePath);
    const auto item = resolveItem(request, *relativePath, false);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(*relativePath);
    }
    if (!status->isDirectory()) {
        return WebServerErrorResponse::responseWithClientError(400, "\"%@\" is not a directory",
                                                               {*relativePath});
    }
    if (hasHiddenComponent(directoryPath)) {
        return forbidden("Listing directory name \"%@\" is not allowed",
                         {FileSystem::lastPathComponent(directoryPath)});
    }
    // Read through the folder's own descriptor, each entry's status relative to it.
    Error error;
    const auto folder = SharedFolder::openItem(*item, O_RDONLY | O_DIRECTORY, &error);
    auto entries = folder.valid() ? SharedFolder::listDirectory(folder.get(), &error) : std::nullopt;
    if (!entries) {
        return WebServerErrorResponse::responseWithServerError(500, error, "Failed listing directory \"%@\"",
                                                               {*relativePath});
    }
    std::vector<std::string_view> names;
    names.reserve(entries->size());
    for (const auto& entry : *entries) {
        names.push_back(entry.name);
    }
    auto* delegate = dynamic_cast<WebUploaderDelegate*>(this->delegate());
    // The JSON text is written straight into the body: no tree of values, one growing buffer.
    Data json;
    json.reserve(64 + entries->size() * (2 * relativePath->size() + 80));
    json.push_back('[');
    for (const std::size_t index : platform::finderOrder(names)) {
        const auto& [name, entry] = (*entries)[index];
        // A name that is not UTF-8 text cannot be written as JSON text: it is left out rather
        // than failing the whole listing.
        if (isHiddenName(name) || !platform::isValidUTF8(name) ||
            (item->isRoot() && name == kStagingFolderName)) {
            continue;
        }
        const bool isFile = entry.isRegularFile();
        if (isFile ? !_checkFileExtension(name) : !entry.isDirectory()) {
            continue;
        }
        if (delegate && !delegate->webUploaderCanListFileOrDirectory(*this, name, isFile).value_or(true)) {
            continue;
        }
        appendListEntry(json, FileSystem::appendPathComponent(*relativePath, name), name, isFile, entry.size);
    }
    json.push_back(']');
    return WebServerDataResponse::responseWithData(std::move(json), "application/json");
}

std::shared_ptr<WebServerResponse> WebUploader::downloadFile(const WebServerRequest& request) {
    const std::string* relativePath = queryValue(request, "path");
    if (!relativePath) {
        return missingField("path");
    }
    const std::string filePath = absolutePath(*relativePath);
    const auto item = resolveItem(request, *relativePath, false);
    const auto status = item ? SharedFolder::status(*item) : std::nullopt;
    if (!status) {
        return doesNotExist(*relativePath);
    }
    if (status->isDirectory()) {
        return WebServerErrorResponse::responseWithClientError(400, "\"%@\" is a directory", {*relativePath});
    }
    const std::string fileName = FileSystem::lastPathComponent(filePath);
    if (hasHiddenComponent(filePath) || !_checkFileExtension(fileName)) {
        return forbidden("Downlading file name \"%@\" is not allowed", {fileName});
    }
    // Only regular files are served; a symbolic link is not followed. The file is opened first,
    // and what is sent is that file.
    auto response = status->isRegularFile() ? WebServerFileResponse::responseWithFileDescriptor(
                                                  SharedFolder::openItem(*item, O_RDONLY | O_NONBLOCK),
                                                  filePath, WebServerRange(), true)
                                            : nullptr;
    if (!response) {
        return doesNotExist(*relativePath);
    }
    notifyDelegate([filePath](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidDownloadFileAtPath(server, filePath);
    });
    return response;
}
