#include "WebServerBodyEncoder.h"

#include "WebServerBodyDecoder.h"
#include "WebServerResponse.h"

WebServerBodyEncoder::WebServerBodyEncoder(WebServerResponse* response, WebServerBodyReader* reader)
    : _response(response), _reader(reader) {}

bool WebServerBodyEncoder::open(Error* error) {
    return _reader->open(error);
}
std::optional<Data> WebServerBodyEncoder::readData(Error* error) {
    return _reader->readData(error);
}
void WebServerBodyEncoder::close() {
    _reader->close();
}

WebServerGZipEncoder::WebServerGZipEncoder(WebServerResponse* response, WebServerBodyReader* reader)
    : WebServerBodyEncoder(response, reader) {
    response->setContentLength(kWebServerNotFound);
    response->setValueForAdditionalHeader("gzip", "Content-Encoding");
}

WebServerGZipEncoder::~WebServerGZipEncoder() {
    if (_streamOpen) {
        deflateEnd(&_stream);
    }
}

bool WebServerGZipEncoder::open(Error* error) {
    const int result =
        deflateInit2(&_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    if (result != Z_OK) {
        platform::setError(error,
                           Error::make(kZlibErrorDomain, result, "Failed initializing deflate stream"));
        return false;
    }
    _streamOpen = true;
    if (!WebServerBodyEncoder::open(error)) {
        deflateEnd(&_stream);
        _streamOpen = false;
        return false;
    }
    return true;
}

std::optional<Data> WebServerGZipEncoder::readData(Error* error) {
    if (_finished) {
        return Data();
    }
    Data output(kBufferSize);
    std::size_t produced = 0;
    do {
        auto piece = WebServerBodyEncoder::readData(error);
        if (!piece) {
            return std::nullopt;
        }
        _stream.next_in = piece->data();
        _stream.avail_in = static_cast<uInt>(piece->size());
        const int flush = piece->empty() ? Z_FINISH : Z_NO_FLUSH;
        while (true) {
            _stream.next_out = output.data() + produced;
            _stream.avail_out = static_cast<uInt>(output.size() - produced);
            const int result = deflate(&_stream, flush);
            produced = output.size() - _stream.avail_out;
            if (result == Z_STREAM_END) {
                _finished = true;
            } else if (result != Z_OK && result != Z_BUF_ERROR) {
                platform::setError(error, Error::make(kZlibErrorDomain, result, "Failed deflating body"));
                return std::nullopt;
            }
            if (_stream.avail_out != 0 || _finished) {
                break;
            }
            output.resize(output.size() * 2); // output full: make room and continue
        }
    } while (produced == 0 && !_finished);
    output.resize(produced);
    return output;
}

void WebServerGZipEncoder::close() {
    if (_streamOpen) {
        deflateEnd(&_stream);
        _streamOpen = false;
    }
    WebServerBodyEncoder::close();
}
