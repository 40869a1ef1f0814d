#include "WebserveModes.h"

std::shared_ptr<WebServer> makeUploaderServer(const std::string&) {
    return nullptr;
}
