// The uploader mode: the web file manager on FOLDER, hidden items left out, its page from the
// WebUploader.bundle beside the executable.

#include "WebserveModes.h"

#include "WebUploader.h"

#include "foundation/FileSystem.h"

std::shared_ptr<WebServer> makeUploaderServer(const std::string& folder) {
    const auto status = platform::FileSystem::statusOfItemFollowingLinks(folder);
    if (!status || !status->isDirectory()) {
        return nullptr;
    }
    auto server = WebUploader::create(folder);
    if (server) {
        server->setAllowHiddenItems(false);
    }
    return server;
}
