#include "WebserveModes.h"

void addEchoUploadHandler(WebServer&) {}
