// The upload of the web file manager: every "files[]" part of a form is stored, or none is. The
// parts are staged while the body is read (out of the share's sight); once it is complete, every
// name and the folder are checked, and only then are the files put into place.

#include "WebUploader.h"
#include "WebUploaderResponses.h"

#include "WebServerFunctions.h"
#include "WebServerItemLocks.h"
#include "WebServerMultiPartFormRequest.h"

#include "foundation/AtomicReplace.h"
#include "foundation/CaseInsensitive.h"
#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"
#include "foundation/Text.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unordered_map>

using platform::AtomicReplace;
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

// A file of the form put into place: the name it got, and the file's device and inode.
struct WebUploader::PlacedUpload {
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

// A form's files could not be put in place in the folder named by `folderText`: 507 for a full disk
// (most likely while a file staged elsewhere is copied in), as a PUT answers, else 500.
std::shared_ptr<WebServerResponse> placingFailure(const Error& error, const std::string& folderText) {
    return WebServerErrorResponse::responseWithServerError(
        IsOutOfSpace(error) ? 507 : 500, error, "Failed moving uploaded file to \"%@\"", {folderText});
}

} // namespace

// A form's upload across its steps: its files, their folder, and the copies made beside it of
// those staged on another file system (none for the others). The copies not put in place go with
// it.
struct WebUploader::UploadRun {
    std::vector<const WebServerMultiPartFile*> files;
    UploadTarget target;
    std::string replyType;
    std::vector<std::optional<SharedItem>> copies;
    ~UploadRun() {
        for (const auto& copy : copies) {
            if (copy) {
                ::unlinkat(copy->folder.get(), copy->name.c_str(), 0);
            }
        }
    }
};

WebServerStep WebUploader::uploadFile(const WebServerRequest& request) {
    const auto* form = dynamic_cast<const WebServerMultiPartFormRequest*>(&request);
    if (!form) {
        return nullptr;
    }
    auto run = std::make_shared<UploadRun>();
    run->replyType = acceptsJSON(request) ? "application/json" : "text/plain; charset=utf-8";
    for (const auto& file : form->files()) {
        if (file->controlName() == "files[]") {
            run->files.push_back(file.get());
        }
    }
    if (run->files.empty()) {
        return missingField("files[]");
    }
    if (auto refusal = checkUploads(request, *form, run->files, run->target)) {
        return refusal;
    }
    struct stat folder {};
    const bool known = ::fstat(run->target.folder.get(), &folder) == 0;
    const bool copies =
        known && std::any_of(run->files.begin(), run->files.end(), [&folder](const auto* file) {
            const auto staged = stagedItem(*file, nullptr);
            struct stat status {};
            return staged &&
                   ::fstatat(staged->folder.get(), staged->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                   status.st_dev != folder.st_dev;
        });
    if (!copies) {
        return storeUploads(*run);
    }
    const auto self = std::static_pointer_cast<WebUploader>(shared_from_this());
    return WebServerStep::onLongOperations([self, run]() -> WebServerStep {
        if (auto failure = self->copyUploadsBeside(*run)) {
            return failure;
        }
        return WebServerStep::onFileOperations(
            [self, run]() -> WebServerStep { return self->storeUploads(*run); });
    });
}

// The files staged on another file system are copied beside their folder, out of sight, so that
// putting them in place is a rename. Each must be the file the parser wrote, whole, before and
// after its copy.
std::shared_ptr<WebServerResponse> WebUploader::copyUploadsBeside(UploadRun& run) {
    struct stat folder {};
    if (::fstat(run.target.folder.get(), &folder) != 0) {
        return placingFailure(Error::posix(errno), run.target.text);
    }
    run.copies.resize(run.files.size());
    for (std::size_t index = 0; index < run.files.size(); ++index) {
        const WebServerMultiPartFile& file = *run.files[index];
        Error error;
        const auto staged = stagedItem(file, &error);
        struct stat before {};
        struct stat after {};
        const auto heldWhole = [&](struct stat& status) {
            return ::fstatat(staged->folder.get(), staged->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                   file.storedFile().isHeldBy(status);
        };
        if (staged && heldWhole(before) && before.st_dev == folder.st_dev) {
            continue; // placed by a rename
        }
        if (staged && heldWhole(before)) {
            run.copies[index] =
                AtomicReplace::copyBeside(*staged, itemIn(run.target.folder, file.fileName()), &error);
        }
        if (!run.copies[index] || !heldWhole(after) || after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
            after.st_mtim.tv_nsec != before.st_mtim.tv_nsec) {
            if (error.code == 0) {
                error = Error::posix(ESTALE);
            }
            return placingFailure(error, run.target.text);
        }
    }
    return nullptr;
}

std::shared_ptr<WebServerResponse> WebUploader::storeUploads(UploadRun& run) {
    std::vector<PlacedUpload> placed;
    if (auto failure = placeUploads(run, placed)) {
        return failure;
    }
    for (const PlacedUpload& upload : placed) {
        notifyDelegate([destination = FileSystem::appendPathComponent(run.target.path, upload.name)](
                           WebUploaderDelegate& delegate, WebUploader& server) {
            delegate.webUploaderDidUploadFileAtPath(server, destination);
        });
    }
    return emptyObject(run.replyType);
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
    if (auto refusal = RefusedPath(target.text)) {
        return refusal;
    }
    Error error;
    const auto folderItem = resolveItem(request, target.text, true, &error);
    if (!folderItem && isOutside(error)) {
        return doesNotExist(target.text);
    }
    target.folder =
        folderItem ? SharedFolder::openItem(*folderItem, O_PATH | O_DIRECTORY, &error) : FileDescriptor();
    if (!target.folder.valid()) {
        if (error.code == ENOENT) {
            return doesNotExist(target.text);
        }
        if (error.code == ENOTDIR) {
            return WebServerErrorResponse::responseWithClientError(409, "\"%@\" is not a directory",
                                                                   {target.text});
        }
        return placingFailure(error, target.text);
    }
    target.path = absolutePath(target.text);
    // The names the files would get now: several files of one name take the following numbers.
    std::unordered_map<std::string, int> nextNumbers;
    for (const WebServerMultiPartFile* file : files) {
        const std::string destination = FileSystem::appendPathComponent(
            target.path,
            _uniqueNameForItem(itemIn(target.folder, file->fileName()), &nextNumbers[file->fileName()]));
        if (hasHiddenComponent(destination) || !shouldUploadFileAtPath(destination, file->temporaryPath())) {
            return forbidden("Uploading file \"%@\" to \"%@\" is not permitted",
                             {file->fileName(), target.text});
        }
    }
    return nullptr;
}

// Each file goes under the first free name (a name taken meanwhile by another writer moves on to the
// next; the files of one name go on from the number the last one took). A file is put in place by
// one rename within the destination's file system, never replacing anything, under the lock of the
// name; a file staged on another file system has been copied beside its destination under a hidden
// name before (copyUploadsBeside), or is copied here should its rename still meet another one. When one
// cannot be placed, the ones placed before it are taken out again: the form is stored whole or not at all.
std::shared_ptr<WebServerResponse> WebUploader::placeUploads(const UploadRun& run,
                                                             std::vector<PlacedUpload>& placed) {
    const UploadTarget& target = run.target;
    std::unordered_map<std::string, int> nextNumbers;
    for (std::size_t index = 0; index < run.files.size(); ++index) {
        const WebServerMultiPartFile* file = run.files[index];
        const bool copied = index < run.copies.size() && run.copies[index];
        int& nextNumber = nextNumbers[file->fileName()];
        // staged: the source is the file the parser wrote, which must still be that file, whole; it
        // takes the permissions of a file of the user's now (a copy of it takes them too).
        const auto placeFrom = [&](const SharedItem& source, bool staged,
                                   Error* error) -> std::optional<PlacedUpload> {
            struct stat status {};
            if (::fstatat(source.folder.get(), source.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
                (staged && !file->storedFile().publishAt(source.folder.get(), source.name.c_str()))) {
                platform::setError(error, Error::posix(errno));
                return std::nullopt;
            }
            const auto chosen = _placeUnderFreeName(
                itemIn(target.folder, file->fileName()),
                [&source](const SharedItem& candidate) {
                    const auto locked = WebServerItemLocks::lock({&candidate});
                    Error renameError;
                    return AtomicReplace::installStagedItemWithoutReplacing(source, candidate, &renameError)
                               ? 0
                               : static_cast<int>(renameError.code);
                },
                error, &nextNumber);
            return chosen ? std::optional(PlacedUpload{*chosen, status.st_dev, status.st_ino}) : std::nullopt;
        };
        Error error;
        const auto staged = copied ? std::nullopt : stagedItem(*file, &error);
        auto upload = copied   ? placeFrom(*run.copies[index], false, &error)
                      : staged ? placeFrom(*staged, true, &error)
                               : std::nullopt;
        if (!upload && staged && error.code == EXDEV) {
            error = Error();
            const auto beside =
                AtomicReplace::copyBeside(*staged, itemIn(target.folder, file->fileName()), &error);
            upload = beside ? placeFrom(*beside, false, &error) : std::nullopt;
            if (beside && !upload) {
                ::unlinkat(beside->folder.get(), beside->name.c_str(), 0);
            }
        }
        if (!upload) {
            withdrawUploads(placed, target);
            placed.clear();
            if (error.code == ENAMETOOLONG) { // even the numbered names of a long name
                return TooLongItemName(file->fileName(), "Uploaded file name");
            }
            return placingFailure(error, target.text);
        }
        placed.push_back(std::move(*upload));
    }
    return nullptr;
}

// Takes the files placed by a form out of the share again. Only what still is the file placed goes:
// under the lock of its name (so no writer of this server changes it meanwhile) its identity is
// checked, and only then is it unlinked. Whatever another client put under that name is left
// where it is, untouched.
void WebUploader::withdrawUploads(const std::vector<PlacedUpload>& placed, const UploadTarget& target) {
    for (auto upload = placed.rbegin(); upload != placed.rend(); ++upload) {
        const SharedItem inShare = itemIn(target.folder, upload->name);
        const auto locked = WebServerItemLocks::lock({&inShare});
        struct stat current {};
        if (::fstatat(inShare.folder.get(), inShare.name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 &&
            current.st_dev == upload->device && current.st_ino == upload->inode) {
            ::unlinkat(inShare.folder.get(), inShare.name.c_str(), 0);
        }
    }
}
