#include "WebServerDataResponse.h"

#include "WebServerFunctions.h"

#include "foundation/Charset.h"
#include "foundation/FileSystem.h"

#include <fstream>
#include <iterator>
#include <sstream>

WebServerDataResponse::WebServerDataResponse(Data data, std::string contentType) : _data(std::move(data)) {
    _type = std::move(contentType);
    _length = _data.size();
}

std::shared_ptr<WebServerDataResponse> WebServerDataResponse::responseWithData(Data data,
                                                                               std::string contentType) {
    return std::make_shared<WebServerDataResponse>(std::move(data), std::move(contentType));
}

std::shared_ptr<WebServerDataResponse> WebServerDataResponse::responseWithText(const std::string& text) {
    if (!platform::decodeToUTF8(text, "UTF-8")) {
        return nullptr;
    }
    return responseWithData(platform::dataFromString(text), "text/plain; charset=utf-8");
}

std::shared_ptr<WebServerDataResponse> WebServerDataResponse::responseWithHTML(const std::string& html) {
    return responseWithData(platform::dataFromString(html), "text/html; charset=utf-8");
}

namespace {

void replaceAll(std::string& text, const std::string& key, const std::string& value) {
    if (key.empty()) {
        return;
    }
    std::size_t pos = 0;
    while ((pos = text.find(key, pos)) != std::string::npos) {
        text.replace(pos, key.size(), value);
        pos += value.size();
    }
}

} // namespace

std::shared_ptr<WebServerDataResponse>
WebServerDataResponse::responseWithHTMLTemplate(const std::string& path,
                                                const std::map<std::string, std::string>& variables) {
    const auto status = platform::FileSystem::statusOfItemFollowingLinks(path);
    if (!status || !status->isRegularFile()) {
        return nullptr;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return nullptr;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) {
        return nullptr;
    }
    std::string html = contents.str();
    if (!platform::decodeToUTF8(html, "UTF-8")) {
        return nullptr;
    }
    for (const auto& [key, value] : variables) {
        replaceAll(html, "%" + key + "%", value);
    }
    return responseWithHTML(html);
}

std::shared_ptr<WebServerDataResponse>
WebServerDataResponse::responseWithJSONObject(const platform::Json& object, std::string contentType) {
    auto text = platform::serializeJson(object);
    if (!text) {
        return nullptr;
    }
    return responseWithData(platform::dataFromString(*text), std::move(contentType));
}

std::optional<Data> WebServerDataResponse::readData(Error*) {
    if (_done) {
        return Data();
    }
    _done = true;
    return _data;
}

std::string WebServerDataResponse::description() const {
    return WebServerResponse::description() + "\n\n" + DescribeBodyData(_data, _type.value_or(""));
}
