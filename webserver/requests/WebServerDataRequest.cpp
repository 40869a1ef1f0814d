#include "WebServerDataRequest.h"

#include "WebServerFunctions.h"
#include "WebServerRequestErrors.h"

#include <algorithm>
#include <new>

bool WebServerDataRequest::open(Error* error) {
    if (_length != kWebServerNotFound && _length > kMaximumBodySize) {
        platform::setError(error, WebServerBodyTooLargeError("Request body"));
        return false;
    }
    try {
        _data.clear();
        if (_length != kWebServerNotFound) {
            _data.reserve(
                static_cast<std::size_t>(std::min<std::uint64_t>(_length, kMaximumInitialCapacity)));
        }
    } catch (const std::bad_alloc&) {
        platform::setError(error, WebServerAllocationError());
        return false;
    }
    return true;
}

bool WebServerDataRequest::writeData(const Data& data, Error* error) {
    if (data.size() > kMaximumBodySize - _data.size()) {
        platform::setError(error, WebServerBodyTooLargeError("Request body"));
        return false;
    }
    try {
        _data.insert(_data.end(), data.begin(), data.end());
    } catch (const std::bad_alloc&) {
        platform::setError(error, WebServerAllocationError());
        return false;
    }
    return true;
}

bool WebServerDataRequest::close(Error*) {
    return true;
}

const std::optional<std::string>& WebServerDataRequest::text() const {
    if (!_textDone) {
        _textDone = true;
        if (_type && _type->rfind("text/", 0) == 0) {
            const TextEncoding encoding =
                StringEncodingFromCharset(ExtractHeaderValueParameter(*_type, "charset"));
            _text = StringFromData(_data, encoding);
        }
    }
    return _text;
}

const std::optional<platform::Json>& WebServerDataRequest::jsonObject() const {
    if (!_jsonDone) {
        _jsonDone = true;
        const std::string mimeType = _type ? TruncateHeaderValue(*_type) : std::string();
        if (mimeType == "application/json" || mimeType == "text/json" || mimeType == "text/javascript") {
            _jsonObject = platform::parseJson(
                std::string_view(reinterpret_cast<const char*>(_data.data()), _data.size()));
        }
    }
    return _jsonObject;
}

std::string WebServerDataRequest::description() const {
    std::string text = WebServerRequest::description();
    if (_type) {
        text += "\n\n" + DescribeBodyData(_data, *_type);
    }
    return text;
}
