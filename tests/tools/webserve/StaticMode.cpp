// The static mode: FOLDER served under "/" by the directory handler (listings, no index file, byte
// ranges, no caching).

#include "WebserveModes.h"

#include "foundation/FileSystem.h"

std::shared_ptr<WebServer> makeStaticServer(const std::string& folder) {
    const auto status = platform::FileSystem::statusOfItemFollowingLinks(folder);
    if (!status || !status->isDirectory()) {
        return nullptr;
    }
    auto server = std::make_shared<WebServer>();
    server->addGETHandlerForBasePath("/", folder, std::nullopt, 0, true);
    return server;
}
