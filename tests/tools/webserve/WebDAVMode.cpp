// The webdav mode: FOLDER shared over WebDAV (hidden items neither listed nor accepted).

#include "WebserveModes.h"

#include "WebDAVServer.h"

#include "foundation/FileSystem.h"

std::shared_ptr<WebServer> makeWebDAVServer(const std::string& folder) {
    const auto status = platform::FileSystem::statusOfItemFollowingLinks(folder);
    if (!status || !status->isDirectory()) {
        return nullptr;
    }
    auto server = WebDAVServer::create(folder);
    server->setAllowHiddenItems(false);
    return server;
}
