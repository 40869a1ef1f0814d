#include "WebServerRequest.h"

#include "foundation/Text.h"

#include "WebServerBodyDecoder.h"
#include "WebServerFunctions.h"
#include "foundation/SocketAddress.h"

#include <cctype>
#include <climits>

namespace {

std::optional<std::string> header(const HeaderDictionary& headers, std::string_view name) {
    const std::string* value = HeaderValue(headers, name);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

} // namespace

WebServerRequest::WebServerRequest(const std::string& method, const Url& url, const HeaderDictionary& headers,
                                   const std::string& path, const QueryDictionary& query)
    : _method(method), _url(url), _headers(headers), _path(path), _query(query) {
    _type = NormalizeHeaderValue(header(_headers, "Content-Type"));
    _chunked =
        NormalizeHeaderValue(header(_headers, "Transfer-Encoding")) == std::optional<std::string>("chunked");
    if (auto lengthHeader = header(_headers, "Content-Length")) {
        const long long length = platform::leadingInteger(*lengthHeader);
        if (length < 0 || _chunked) {
            _valid = false;
            return;
        }
        _length = static_cast<std::uint64_t>(length);
        if (!_type) {
            _type = "application/octet-stream";
        }
    } else if (_chunked) {
        _length = kWebServerNotFound;
        if (!_type) {
            _type = "application/octet-stream";
        }
    } else {
        _length = kWebServerNotFound;
        _type.reset(); // a content type without length or chunking means no body
    }
    if (auto modified = header(_headers, "If-Modified-Since")) {
        _modifiedSince = ParseHTTPDate(*modified);
    }
    _noneMatch = header(_headers, "If-None-Match");
    parseRange();
    if (auto encoding = header(_headers, "Accept-Encoding")) {
        _gzipAccepted = encoding->find("gzip") != std::string::npos;
    }
}

WebServerRequest::~WebServerRequest() = default;

void WebServerRequest::parseRange() {
    const std::string* rangeHeader = HeaderValue(_headers, "Range");
    _range = rangeHeader ? ParseByteRange(*rangeHeader) : WebServerRange{};
}

std::optional<std::string> WebServerRequest::localAddressString() const {
    return _localAddress ? platform::stringFromSockAddrData(*_localAddress, true) : std::nullopt;
}

std::optional<std::string> WebServerRequest::remoteAddressString() const {
    return _remoteAddress ? platform::stringFromSockAddrData(*_remoteAddress, true) : std::nullopt;
}

const std::any* WebServerRequest::attributeForKey(const std::string& key) const {
    auto it = _attributes.find(key);
    return it == _attributes.end() ? nullptr : &it->second;
}

void WebServerRequest::setAttribute(std::any value, const std::string& key) {
    if (value.has_value()) {
        _attributes[key] = std::move(value);
    } else {
        _attributes.erase(key);
    }
}

bool WebServerRequest::open(Error*) {
    return true;
}
bool WebServerRequest::writeData(const Data&, Error*) {
    return true;
}
bool WebServerRequest::close(Error*) {
    return true;
}

void WebServerRequest::prepareForWriting() {
    _writer = this;
    if (NormalizeHeaderValue(header(_headers, "Content-Encoding")) == std::optional<std::string>("gzip")) {
        auto decoder = std::make_unique<WebServerGZipDecoder>(this, _writer);
        _writer = decoder.get();
        _decoders.push_back(std::move(decoder));
    }
}

bool WebServerRequest::performOpen(Error* error) {
    if (_opened) {
        platform::setError(error, Error::make("WebServerErrorDomain", -1, "Request body already opened"));
        return false;
    }
    _opened = true;
    return _writer->open(error);
}

bool WebServerRequest::performWriteData(const Data& data, Error* error) {
    return _writer->writeData(data, error);
}

bool WebServerRequest::performClose(Error* error) {
    return _writer->close(error);
}

std::string WebServerRequest::description() const {
    std::string text = _method + " " + _path;
    for (const auto& [key, value] : _query) { // std::map: sorted keys
        text += "\n  " + key + " = " + value;
    }
    text += "\n";
    for (const auto& [name, value] : _headers) {
        text += "\n" + name + ": " + value;
    }
    return text;
}
