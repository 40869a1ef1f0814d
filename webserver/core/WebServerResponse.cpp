#include "WebServerResponse.h"

#include "WebServerBodyEncoder.h"
#include "WebServerFunctions.h"

WebServerResponse::WebServerResponse() = default;

WebServerResponse::WebServerResponse(int statusCode) : _status(statusCode) {}

WebServerResponse::~WebServerResponse() = default;

std::shared_ptr<WebServerResponse> WebServerResponse::responseWithRedirect(const Url& location,
                                                                           bool permanent) {
    auto response = std::make_shared<WebServerResponse>(permanent ? 301 : 307);
    response->setValueForAdditionalHeader(location.absoluteString(), "Location");
    return response;
}

void WebServerResponse::setValueForAdditionalHeader(std::optional<std::string> value,
                                                    const std::string& header) {
    if (value) {
        _headers[header] = std::move(*value);
    } else {
        _headers.erase(header);
    }
}

bool WebServerResponse::open(Error*) {
    return true;
}

std::optional<Data> WebServerResponse::readData(Error*) {
    return Data();
}

void WebServerResponse::close() {}

void WebServerResponse::prepareForReading() {
    _reader = this;
    if (_gzipped) {
        auto encoder = std::make_unique<WebServerGZipEncoder>(this, _reader);
        _reader = encoder.get();
        _encoders.push_back(std::move(encoder));
    }
}

bool WebServerResponse::performOpen(Error* error) {
    if (_opened) {
        platform::setError(error, Error::make("WebServerErrorDomain", -1, "Response body already opened"));
        return false;
    }
    _opened = true;
    return _reader->open(error);
}

void WebServerResponse::performReadDataWithCompletion(WebServerBodyReaderCompletionBlock block) {
    if (_reader->implementsAsyncRead()) {
        _reader->asyncReadDataWithCompletion(std::move(block));
    } else {
        Error error;
        auto data = _reader->readData(&error);
        block(std::move(data), error);
    }
}

std::optional<WebServerResponse::FileBody> WebServerResponse::performFileBody() const {
    if (!_opened || _reader != this || !_encoders.empty() || usesChunkedTransferEncoding()) {
        return std::nullopt;
    }
    return fileBody();
}

void WebServerResponse::performClose() {
    _reader->close();
}

std::string WebServerResponse::description() const {
    std::string text = "Status Code = " + std::to_string(_status);
    if (_type) {
        text += "\nContent Type = " + *_type;
    }
    if (_length != kWebServerNotFound) {
        text += "\nContent Length = " + std::to_string(_length);
    }
    text += "\nCache Control Max Age = " + std::to_string(_maxAge);
    if (_lastModified) {
        text += "\nLast Modified Date = " + FormatRFC822Date(*_lastModified);
    }
    if (_eTag) {
        text += "\nETag = " + *_eTag;
    }
    if (!_headers.empty()) {
        text += "\n";
        for (const auto& [name, value] : _headers) {
            text += "\n" + name + ": " + value;
        }
    }
    return text;
}
