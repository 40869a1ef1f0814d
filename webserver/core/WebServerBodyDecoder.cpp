#include "WebServerBodyDecoder.h"

#include "WebServerRequestErrors.h"

namespace {

Error zlibError(int code, const char* what) {
    return Error::make(kZlibErrorDomain, code, what);
}

} // namespace

WebServerBodyDecoder::WebServerBodyDecoder(WebServerRequest* request, WebServerBodyWriter* writer)
    : _request(request), _writer(writer) {}

bool WebServerBodyDecoder::open(Error* error) {
    return _writer->open(error);
}
bool WebServerBodyDecoder::writeData(const Data& data, Error* error) {
    return _writer->writeData(data, error);
}
bool WebServerBodyDecoder::close(Error* error) {
    return _writer->close(error);
}

WebServerGZipDecoder::WebServerGZipDecoder(WebServerRequest* request, WebServerBodyWriter* writer)
    : WebServerBodyDecoder(request, writer) {}

WebServerGZipDecoder::~WebServerGZipDecoder() {
    if (_streamOpen) {
        inflateEnd(&_stream);
    }
}

bool WebServerGZipDecoder::open(Error* error) {
    const int result = inflateInit2(&_stream, 15 + 16); // gzip wrapper only
    if (result != Z_OK) {
        platform::setError(error, zlibError(result, "Failed initializing inflate stream"));
        return false;
    }
    _streamOpen = true;
    _slice.resize(kSliceSize);
    if (!WebServerBodyDecoder::open(error)) {
        inflateEnd(&_stream);
        _streamOpen = false;
        return false;
    }
    return true;
}

bool WebServerGZipDecoder::flushSlice(Data& slice, Error* error) {
    const std::size_t produced = kSliceSize - _stream.avail_out;
    if (produced == 0) {
        return true;
    }
    _decodedBytes += produced;
    if (_decodedBytes > kMaximumExpansion * _encodedBytes + kExpansionAllowance) {
        platform::setError(error, WebServerBodyExpansionError());
        return false;
    }
    // A full slice goes out as it is; a partial one is copied (cheaper than refilling the buffer).
    const bool ok =
        produced == slice.size()
            ? _writer->writeData(slice, error)
            : _writer->writeData(Data(slice.begin(), slice.begin() + static_cast<std::ptrdiff_t>(produced)),
                                 error);
    _stream.next_out = slice.data();
    _stream.avail_out = static_cast<uInt>(kSliceSize);
    return ok;
}

bool WebServerGZipDecoder::writeData(const Data& data, Error* error) {
    if (data.empty()) {
        return true;
    }
    if (_finished) {
        return true; // bytes after the end of the gzip stream are ignored
    }
    Data& slice = _slice;
    _encodedBytes += data.size();
    _stream.next_in = const_cast<Bytef*>(data.data());
    _stream.avail_in = static_cast<uInt>(data.size());
    _stream.next_out = slice.data();
    _stream.avail_out = static_cast<uInt>(kSliceSize);
    while (true) {
        const int result = inflate(&_stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            _finished = true;
        } else if (result != Z_OK && !(result == Z_BUF_ERROR && _stream.avail_in == 0)) {
            platform::setError(error, zlibError(result, "Failed inflating gzip body"));
            return false;
        }
        const bool sliceFull = _stream.avail_out == 0;
        if (sliceFull || _finished || _stream.avail_in == 0) {
            if (!flushSlice(slice, error)) {
                return false;
            }
        }
        if (_finished || (_stream.avail_in == 0 && !sliceFull)) {
            return true;
        }
    }
}

bool WebServerGZipDecoder::close(Error* error) {
    if (_streamOpen) {
        inflateEnd(&_stream);
        _streamOpen = false;
    }
    if (!_finished) {
        // The body ended before its gzip stream did: the content is incomplete.
        Error ignored;
        _writer->close(&ignored);
        platform::setError(error, zlibError(Z_DATA_ERROR, "Gzip body ended before the end of its stream"));
        return false;
    }
    return WebServerBodyDecoder::close(error);
}
