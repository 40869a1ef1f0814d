// The upload of the web file manager: every "files[]" part of a form is stored, or none is. The
// parts are staged while the body is read (out of the share's sight); once it is complete, every
// name and the folder are checked, and only then are the files moved into place.

#include "WebUploader.h"
#include "WebUploaderResponses.h"

#include "WebServerFunctions.h"
#include "WebServerMultiPartFormRequest.h"

#include "foundation/CaseInsensitive.h"
#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"
#include "foundation/Text.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>

using platform::FileDescriptor;
using platform::FileSystem;
using platform::SharedFolder;
using platform::SharedItem;
using namespace webuploader;

// The folder a form's files go to: the "path" text, its absolute path and the open folder.
struct WebUploader::UploadTarget {
    std::string text;
    std::string path;
    FileDescriptor folder;
};

// A file of the form moved into place: the name it got, and the file's device and inode.
struct WebUploader::PlacedUpload {
    const WebServerMultiPartFile* file;
    std::string name;
    dev_t device;
    ino_t inode;
};

namespace {

bool acceptsJSON(const WebServerRequest& request) {
    const std::string* accept = HeaderValue(request.headers(), "Accept");
    return accept && platform::asciiLowercase(*accept).find("application/json") != std::string::npos;
}

// A client file name that names one item: not empty, no separator.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

SharedItem itemIn(const FileDescriptor& folder, std::string name) {
    return SharedItem{FileDescriptor(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0)), std::move(name)};
}

// The staged file of an upload: through the staging folder's descriptor when it was staged there
// (wherever that folder is now), else by its path.
std::optional<SharedItem> stagedItem(const WebServerMultiPartFile& file, Error* error) {
    if (file.temporaryFolderDescriptor() == -1) {
        return SharedFolder::itemAtPath(file.temporaryPath(), error);
    }
    FileDescriptor folder(::fcntl(file.temporaryFolderDescriptor(), F_DUPFD_CLOEXEC, 0));
    if (!folder.valid()) {
        platform::setError(error, Error::posix(errno));
        return std::nullopt;
    }
    return SharedItem{std::move(folder), file.temporaryName()};
}

} // namespace

std::shared_ptr<WebServerResponse> WebUploader::uploadFile(const WebServerRequest& request) {
    const auto* form = dynamic_cast<const WebServerMultiPartFormRequest*>(&request);
    if (!form) {
        return nullptr;
    }
    const std::string replyType = acceptsJSON(request) ? "application/json" : "text/plain; charset=utf-8";
    std::vector<const WebServerMultiPartFile*> files;
    for (const auto& file : form->files()) {
        if (file->controlName() == "files[]") {
            files.push_back(file.get());
        }
    }
    if (files.empty()) {
        return missingField("files[]");
    }
    UploadTarget target;
    if (auto refusal = checkUploads(request, *form, files, target)) {
        return refusal;
    }
    std::vector<PlacedUpload> placed;
    if (auto failure = placeUploads(files, target, placed)) {
        return failure;
    }
    for (const PlacedUpload& upload : placed) {
        notifyDelegate([destination = FileSystem::appendPathComponent(target.path, upload.name)](
                           WebUploaderDelegate& delegate, WebUploader& server) {
            delegate.webUploaderDidUploadFileAtPath(server, destination);
        });
    }
    return emptyObject(replyType);
}

std::shared_ptr<WebServerResponse> WebUploader::refusedFileName(const std::string& fileName) const {
    if (auto refusal = RefusedItemName(fileName, "Uploaded file name")) {
        return refusal;
    }
    if (!isPlainFileName(fileName) || isHiddenName(fileName) || !_checkFileExtension(fileName)) {
        return forbidden("Uploaded file name \"%@\" is not allowed", {fileName});
    }
    return nullptr;
}

// Every check comes before anything is stored: the names of all files first, then the folder, then
// each destination.
std::shared_ptr<WebServerResponse>
WebUploader::checkUploads(const WebServerRequest& request, const WebServerMultiPartFormRequest& form,
                          const std::vector<const WebServerMultiPartFile*>& files, UploadTarget& target) {
    for (const WebServerMultiPartFile* file : files) {
        if (auto refusal = refusedFileName(file->fileName())) {
            return refusal;
        }
    }
    const auto folderPart = form.firstArgumentForControlName("path");
    if (!folderPart || !folderPart->string()) {
        return missingField("path");
    }
    target.text = *folderPart->string();
    Error error;
    const auto folderItem = resolveItem(request, target.text, true, &error);
    if (!folderItem && isOutside(error)) {
        return doesNotExist(target.text);
    }
    target.folder =
        folderItem ? SharedFolder::openItem(*folderItem, O_PATH | O_DIRECTORY, &error) : FileDescriptor();
    if (!target.folder.valid()) {
        return WebServerErrorResponse::responseWithServerError(
            500, error, "Failed moving uploaded file to \"%@\"", {target.text});
    }
    target.path = absolutePath(target.text);
    for (const WebServerMultiPartFile* file : files) {
        const std::string destination = FileSystem::appendPathComponent(
            target.path, _uniqueNameForItem(itemIn(target.folder, file->fileName())));
        if (hasHiddenComponent(destination) || !shouldUploadFileAtPath(destination, file->temporaryPath())) {
            return forbidden("Uploading file \"%@\" to \"%@\" is not permitted",
                             {file->fileName(), target.text});
        }
    }
    return nullptr;
}

// Each file goes under the first free name (a name taken meanwhile by another upload moves on to
// the next). When one cannot be placed, the ones placed before it are taken out again: the form is
// stored whole or not at all.
std::shared_ptr<WebServerResponse>
WebUploader::placeUploads(const std::vector<const WebServerMultiPartFile*>& files, const UploadTarget& target,
                          std::vector<PlacedUpload>& placed) {
    for (const WebServerMultiPartFile* file : files) {
        Error error;
        const auto uploaded = stagedItem(*file, &error);
        struct stat staged {};
        if (uploaded &&
            ::fstatat(uploaded->folder.get(), uploaded->name.c_str(), &staged, AT_SYMLINK_NOFOLLOW) != 0) {
            error = Error::posix(errno);
        }
        const auto chosen =
            uploaded && staged.st_ino != 0
                ? _placeUnderFreeName(
                      itemIn(target.folder, file->fileName()),
                      [&uploaded](const SharedItem& candidate) {
                          Error moveError;
                          return SharedFolder::moveItemNoReplace(*uploaded, candidate, &moveError)
                                     ? 0
                                     : static_cast<int>(moveError.code);
                      },
                      &error)
                : std::nullopt;
        if (!chosen) {
            withdrawUploads(placed, target);
            placed.clear();
            if (error.code == ENAMETOOLONG) { // even the numbered names of a long name
                return WebServerErrorResponse::responseWithClientError(
                    400, "Uploaded file name \"%@\" is too long", {file->fileName()});
            }
            return WebServerErrorResponse::responseWithServerError(
                500, error, "Failed moving uploaded file to \"%@\"", {target.text});
        }
        placed.push_back(PlacedUpload{file, *chosen, staged.st_dev, staged.st_ino});
    }
    return nullptr;
}

// Takes files out of the share again, each back to where it was staged (from where its request
// removes it). Only what still is the file placed goes: an item another client put under that name
// meanwhile is moved back.
void WebUploader::withdrawUploads(const std::vector<PlacedUpload>& placed, const UploadTarget& target) {
    for (const PlacedUpload& upload : placed) {
        const auto staged = stagedItem(*upload.file, nullptr);
        const SharedItem inShare = itemIn(target.folder, upload.name);
        if (!staged || !SharedFolder::renameItem(inShare, *staged, RENAME_NOREPLACE)) {
            continue;
        }
        struct stat moved {};
        if (::fstatat(staged->folder.get(), staged->name.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0 ||
            moved.st_dev != upload.device || moved.st_ino != upload.inode) {
            (void)SharedFolder::renameItem(*staged, inShare, RENAME_NOREPLACE);
        }
    }
}
