#include "WebserveModes.h"

std::shared_ptr<WebServer> makeStaticServer(const std::string&) {
    return nullptr;
}
