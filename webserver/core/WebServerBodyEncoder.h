#pragma once

#include "WebServerBody.h"

#include <zlib.h>

class WebServerResponse;

// A stage behind a response's body reader: the base stage passes everything through.
class WebServerBodyEncoder : public WebServerBodyReader {
public:
    WebServerBodyEncoder(WebServerResponse* response, WebServerBodyReader* reader);
    bool open(Error* error) override;
    std::optional<Data> readData(Error* error) override;
    void close() override;

protected:
    WebServerResponse* _response; // not owned: the response owns its encoders
    WebServerBodyReader* _reader;
};

// Deflates a response body with the gzip wrapper. Creating it marks the response as gzip-coded
// with an unknown length (so the body goes out chunked).
class WebServerGZipEncoder : public WebServerBodyEncoder {
public:
    static constexpr std::size_t kBufferSize = 256 * 1024;

    WebServerGZipEncoder(WebServerResponse* response, WebServerBodyReader* reader);
    ~WebServerGZipEncoder() override;
    bool open(Error* error) override;
    std::optional<Data> readData(Error* error) override;
    void close() override;

private:
    z_stream _stream{};
    bool _streamOpen = false;
    bool _finished = false;
};
