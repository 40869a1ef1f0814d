// POST /upload of the echo server: a multipart form whose parts are answered as a JSON array of
// {"controlName", "fileName" (file parts only), "size"}: text parts first, then file parts, each in
// body order. A file part's size is that of its temporary file, so the check covers what reached
// the disk.

#include "WebserveModes.h"

#include "WebServerDataResponse.h"
#include "WebServerMultiPartFormRequest.h"

#include <sys/stat.h>

namespace {

platform::Json describeParts(const WebServerMultiPartFormRequest& request) {
    platform::Json parts = platform::Json::array();
    for (const auto& argument : request.arguments()) {
        parts.push_back({{"controlName", argument->controlName()}, {"size", argument->data().size()}});
    }
    for (const auto& file : request.files()) {
        struct stat status {};
        const long long size = ::stat(file->temporaryPath().c_str(), &status) == 0 ? status.st_size : -1;
        parts.push_back(
            {{"controlName", file->controlName()}, {"fileName", file->fileName()}, {"size", size}});
    }
    return parts;
}

} // namespace

void addEchoUploadHandler(WebServer& server) {
    server.addHandlerForMethod(
        "POST", "/upload", WebServerRequestClass<WebServerMultiPartFormRequest>(),
        [](const std::shared_ptr<WebServerRequest>& request) -> std::shared_ptr<WebServerResponse> {
            const auto& form = static_cast<const WebServerMultiPartFormRequest&>(*request);
            return WebServerDataResponse::responseWithJSONObject(describeParts(form));
        });
}
