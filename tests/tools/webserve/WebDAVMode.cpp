#include "WebserveModes.h"

std::shared_ptr<WebServer> makeWebDAVServer(const std::string&) {
    return nullptr;
}
