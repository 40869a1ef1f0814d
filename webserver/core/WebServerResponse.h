#pragma once

#include "WebServerBody.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class WebServerBodyEncoder;

// A response and the source of its body. The base class has no body; subclasses produce one.
class WebServerResponse : public WebServerBodyReader, public std::enable_shared_from_this<WebServerResponse> {
public:
    WebServerResponse();
    explicit WebServerResponse(int statusCode);
    ~WebServerResponse() override;

    static std::shared_ptr<WebServerResponse> response() { return std::make_shared<WebServerResponse>(); }
    static std::shared_ptr<WebServerResponse> responseWithStatusCode(int statusCode) {
        return std::make_shared<WebServerResponse>(statusCode);
    }
    // 301 when permanent, else 307, with "Location".
    static std::shared_ptr<WebServerResponse> responseWithRedirect(const Url& location, bool permanent);

    const std::optional<std::string>& contentType() const { return _type; }
    void setContentType(std::optional<std::string> type) { _type = std::move(type); }
    std::uint64_t contentLength() const { return _length; }
    void setContentLength(std::uint64_t length) { _length = length; }
    int statusCode() const { return _status; }
    void setStatusCode(int status) { _status = status; }
    std::uint64_t cacheControlMaxAge() const { return _maxAge; }
    void setCacheControlMaxAge(std::uint64_t maxAge) { _maxAge = maxAge; }
    const std::optional<Date>& lastModifiedDate() const { return _lastModified; }
    void setLastModifiedDate(std::optional<Date> date) { _lastModified = date; }
    const std::optional<std::string>& eTag() const { return _eTag; }
    void setETag(std::optional<std::string> eTag) { _eTag = std::move(eTag); }
    bool isGZipContentEncodingEnabled() const { return _gzipped; }
    void setGzipContentEncodingEnabled(bool enabled) { _gzipped = enabled; }
    // Additional header fields in the order of their names.
    const std::map<std::string, std::string>& additionalHeaders() const { return _headers; }
    // Sets (or with none removes) an additional header field.
    void setValueForAdditionalHeader(std::optional<std::string> value, const std::string& header);

    bool hasBody() const { return _type.has_value(); }
    bool usesChunkedTransferEncoding() const { return _type.has_value() && _length == kWebServerNotFound; }

    // The body reader: the base class has no body.
    bool open(Error* error) override;
    std::optional<Data> readData(Error* error) override;
    void close() override;

    // The reader chain as the connection drives it (encoders behind the response).
    void prepareForReading();
    bool performOpen(Error* error);
    void performReadDataWithCompletion(WebServerBodyReaderCompletionBlock block);
    void performClose();

    virtual std::string description() const;

    // A body the connection may send straight from an open file (sendfile(2)): the descriptor and
    // the bytes still to send from `offset` on. Offered only between performOpen and performClose,
    // and only when the body goes out as it is: no encoder behind the response, a known length.
    struct FileBody {
        int descriptor;
        std::uint64_t offset;
        std::uint64_t length;
    };
    std::optional<FileBody> performFileBody() const;

protected:
    // The file body of an opened response, for the subclasses that serve one.
    virtual std::optional<FileBody> fileBody() const { return std::nullopt; }

    std::optional<std::string> _type;
    std::uint64_t _length = kWebServerNotFound;
    int _status = 200;
    std::uint64_t _maxAge = 0;
    std::optional<Date> _lastModified;
    std::optional<std::string> _eTag;
    std::map<std::string, std::string> _headers;
    bool _gzipped = false;
    bool _opened = false;
    std::vector<std::unique_ptr<WebServerBodyEncoder>> _encoders;
    WebServerBodyReader* _reader = this;
};
