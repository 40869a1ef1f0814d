#pragma once

#include "WebServerBody.h"

#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class WebServerBodyDecoder;

// Key of the request attribute under which a regular-expression handler stores its captures
// (a std::vector<std::string>).
inline constexpr const char* WebServerRequestAttribute_RegexCaptures =
    "WebServerRequestAttribute_RegexCaptures";

// A parsed request and the sink of its body. The base class discards the body; subclasses keep it.
class WebServerRequest : public WebServerBodyWriter, public std::enable_shared_from_this<WebServerRequest> {
public:
    WebServerRequest(const std::string& method, const Url& url, const HeaderDictionary& headers,
                     const std::string& path, const QueryDictionary& query);
    ~WebServerRequest() override;

    // Makes a request of class T, or none when its head is not acceptable (a negative
    // Content-Length, Content-Length together with chunked coding, or what T refuses).
    template <class T = WebServerRequest>
    static std::shared_ptr<T> create(const std::string& method, const Url& url,
                                     const HeaderDictionary& headers, const std::string& path,
                                     const QueryDictionary& query) {
        auto request = std::make_shared<T>(method, url, headers, path, query);
        return request->isValid() ? request : nullptr;
    }

    const std::string& method() const { return _method; }
    const Url& URL() const { return _url; }
    const HeaderDictionary& headers() const { return _headers; }
    const std::string& path() const { return _path; }
    const QueryDictionary& query() const { return _query; }
    const std::optional<std::string>& contentType() const { return _type; }
    std::uint64_t contentLength() const { return _length; }
    const std::optional<Date>& ifModifiedSince() const { return _modifiedSince; }
    const std::optional<std::string>& ifNoneMatch() const { return _noneMatch; }
    WebServerRange byteRange() const { return _range; }
    bool acceptsGzipContentEncoding() const { return _gzipAccepted; }
    bool usesChunkedTransferEncoding() const { return _chunked; }
    bool hasBody() const { return _type.has_value(); }
    bool hasByteRange() const { return _range.location != kWebServerNotFound || _range.length != 0; }

    const std::optional<Data>& localAddressData() const { return _localAddress; }
    void setLocalAddressData(std::optional<Data> address) { _localAddress = std::move(address); }
    const std::optional<Data>& remoteAddressData() const { return _remoteAddress; }
    void setRemoteAddressData(std::optional<Data> address) { _remoteAddress = std::move(address); }
    std::optional<std::string> localAddressString() const;
    std::optional<std::string> remoteAddressString() const;

    // Per-request values; setting an empty std::any removes the key.
    const std::any* attributeForKey(const std::string& key) const;
    void setAttribute(std::any value, const std::string& key);

    // The body writer: the base class accepts and discards everything.
    bool open(Error* error) override;
    bool writeData(const Data& data, Error* error) override;
    bool close(Error* error) override;

    // The writer chain as the connection drives it (decoders in front of the request).
    void prepareForWriting();
    bool performOpen(Error* error);
    bool performWriteData(const Data& data, Error* error);
    bool performClose(Error* error);

    virtual std::string description() const;

    // False when the head was refused at construction.
    bool isValid() const { return _valid; }

    // Noted when something the request needed could not be opened or made for want of
    // descriptors or memory (EMFILE, ENFILE, ENOMEM; see WebServerSharedFolder.h). Whatever
    // failure it was answered with then goes out as 503: nothing is known to be missing or wrong,
    // and the client may try again.
    void noteResourceShortage() const { _resourceShortage = true; }
    bool hadResourceShortage() const { return _resourceShortage; }

protected:
    // Subclasses refuse a request at construction by calling this.
    void setInvalid() { _valid = false; }

    std::string _method;
    Url _url;
    HeaderDictionary _headers;
    std::string _path;
    QueryDictionary _query;
    std::optional<std::string> _type;
    bool _chunked = false;
    std::uint64_t _length = kWebServerNotFound;
    std::optional<Date> _modifiedSince;
    std::optional<std::string> _noneMatch;
    WebServerRange _range;
    bool _gzipAccepted = false;
    std::optional<Data> _localAddress;
    std::optional<Data> _remoteAddress;
    bool _opened = false;
    std::vector<std::unique_ptr<WebServerBodyDecoder>> _decoders;
    std::map<std::string, std::any> _attributes;
    WebServerBodyWriter* _writer = this;

private:
    void parseRange();
    bool _valid = true;
    mutable std::atomic<bool> _resourceShortage{false};
};

// Makes the request object of a matched handler: a "request class".
using WebServerRequestFactory = std::function<std::shared_ptr<WebServerRequest>(
    const std::string& method, const Url& url, const HeaderDictionary& headers, const std::string& path,
    const QueryDictionary& query)>;

template <class T> WebServerRequestFactory WebServerRequestClass() {
    return [](const std::string& method, const Url& url, const HeaderDictionary& headers,
              const std::string& path, const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
        return WebServerRequest::create<T>(method, url, headers, path, query);
    };
}
