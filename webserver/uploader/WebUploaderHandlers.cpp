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

bool acceptsJSON(const WebServerRequest& request) {
    const std::string* accept = HeaderValue(request.headers(), "Accept");
    return accept && platform::asciiLowercase(*accept).find("application/json") != std::string::npos;
}

// A client file name that names one item: not empty, no separator, no NUL.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
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

// The staged file of an upload: through the staging folder's descriptor when it was staged there
// (wherever that folder is now), else by its path.
std::optional<platform::SharedItem> stagedItem(const WebServerMultiPartFile& file, Error* error) {
    if (file.temporaryFolderDescriptor() == -1) {
        return SharedFolder::itemAtPath(file.temporaryPath(), error);
    }
    platform::FileDescriptor folder(::fcntl(file.temporaryFolderDescriptor(), F_DUPFD_CLOEXEC, 0));
    if (!folder.valid()) {
        platform::setError(error, Error::posix(errno));
        return std::nullopt;
    }
    return platform::SharedItem{std::move(folder), file.temporaryName()};
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

// Every file part of the form is stored, in body order, each as a single upload would be; the
// first that fails gives the answer, and the ones stored before it stay.
std::shared_ptr<WebServerResponse> WebUploader::uploadFile(const WebServerRequest& request) {
    const auto* form = dynamic_cast<const WebServerMultiPartFormRequest*>(&request);
    if (!form) {
        return nullptr;
    }
    const std::string replyType = acceptsJSON(request) ? "application/json" : "text/plain; charset=utf-8";
    bool stored = false;
    for (const auto& file : form->files()) {
        if (file->controlName() != "files[]") {
            continue;
        }
        if (auto failure = storeUploadedFile(request, *form, *file)) {
            return failure;
        }
        stored = true;
    }
    return stored ? emptyObject(replyType) : missingField("files[]");
}

std::shared_ptr<WebServerResponse> WebUploader::storeUploadedFile(const WebServerRequest& request,
                                                                  const WebServerMultiPartFormRequest& form,
                                                                  const WebServerMultiPartFile& file) {
    const std::string& fileName = file.fileName();
    if (!isPlainFileName(fileName) || isHiddenName(fileName) || !_checkFileExtension(fileName)) {
        return forbidden("Uploaded file name \"%@\" is not allowed", {fileName});
    }
    const auto folderPart = form.firstArgumentForControlName("path");
    if (!folderPart || !folderPart->string()) {
        return missingField("path");
    }
    const std::string& folder = *folderPart->string();
    Error error;
    const auto folderItem = resolveItem(request, folder, true, &error);
    if (!folderItem && isOutside(error)) {
        return doesNotExist(folder);
    }
    const auto folderFd = folderItem ? SharedFolder::openItem(*folderItem, O_PATH | O_DIRECTORY, &error)
                                     : platform::FileDescriptor();
    if (!folderFd.valid()) {
        return WebServerErrorResponse::responseWithServerError(
            500, error, "Failed moving uploaded file to \"%@\"", {folder});
    }
    const platform::SharedItem target{platform::FileDescriptor(::fcntl(folderFd.get(), F_DUPFD_CLOEXEC, 0)),
                                      fileName};
    const std::string folderPath = absolutePath(folder);
    std::string destination = FileSystem::appendPathComponent(folderPath, _uniqueNameForItem(target));
    if (hasHiddenComponent(destination) || !shouldUploadFileAtPath(destination, file.temporaryPath())) {
        return forbidden("Uploading file \"%@\" to \"%@\" is not permitted", {fileName, folder});
    }
    // Under the first free name; a name taken meanwhile by another upload moves on to the next.
    const auto uploaded = stagedItem(file, &error);
    const auto chosen = uploaded
                            ? _placeUnderFreeName(
                                  target,
                                  [&uploaded](const platform::SharedItem& candidate) {
                                      Error moveError;
                                      return SharedFolder::moveItemNoReplace(*uploaded, candidate, &moveError)
                                                 ? 0
                                                 : static_cast<int>(moveError.code);
                                  },
                                  &error)
                            : std::nullopt;
    if (!chosen) {
        return WebServerErrorResponse::responseWithServerError(
            500, error, "Failed moving uploaded file to \"%@\"", {folder});
    }
    destination = FileSystem::appendPathComponent(folderPath, *chosen);
    notifyDelegate([destination](WebUploaderDelegate& delegate, WebUploader& server) {
        delegate.webUploaderDidUploadFileAtPath(server, destination);
    });
    return nullptr;
}
