#pragma once

#include "WebServerBody.h"

#include <zlib.h>

class WebServerRequest;

// A stage in front of a request's body writer: the base stage passes everything through.
class WebServerBodyDecoder : public WebServerBodyWriter {
public:
    WebServerBodyDecoder(WebServerRequest* request, WebServerBodyWriter* writer);
    bool open(Error* error) override;
    bool writeData(const Data& data, Error* error) override;
    bool close(Error* error) override;

protected:
    WebServerRequest* _request; // not owned: the request owns its decoders
    WebServerBodyWriter* _writer;
};

// Inflates a gzip-coded request body. Output is handed to the next writer in slices of a fixed
// size, so memory stays bounded whatever the expansion; a body that ends before the end of its
// gzip stream fails at close. A body that decodes to more than kMaximumExpansion times its encoded
// bytes plus kExpansionAllowance fails (413) before that much has been passed on, so a small
// compression bomb never fills a disk.
class WebServerGZipDecoder : public WebServerBodyDecoder {
public:
    static constexpr std::size_t kSliceSize = 256 * 1024;
    static constexpr std::uint64_t kMaximumExpansion = 64;
    static constexpr std::uint64_t kExpansionAllowance = 16 * 1024 * 1024;

    WebServerGZipDecoder(WebServerRequest* request, WebServerBodyWriter* writer);
    ~WebServerGZipDecoder() override;
    bool open(Error* error) override;
    bool writeData(const Data& data, Error* error) override;
    bool close(Error* error) override;

private:
    bool flushSlice(Data& slice, Error* error);
    z_stream _stream{};
    Data _slice; // the output buffer, allocated once when opened
    std::uint64_t _encodedBytes = 0;
    std::uint64_t _decodedBytes = 0;
    bool _streamOpen = false;
    bool _finished = false;
};

inline constexpr const char* kZlibErrorDomain = "ZlibErrorDomain";
