#pragma once

#include "WebServerTypes.h"

#include <functional>
#include <optional>

// Receives a request body piece by piece: open, any number of writes, close.
class WebServerBodyWriter {
public:
    virtual ~WebServerBodyWriter() = default;
    virtual bool open(Error* error) = 0;
    virtual bool writeData(const Data& data, Error* error) = 0;
    virtual bool close(Error* error) = 0;
};

// Completion of an asynchronous read: the next piece (empty at the end of the body) or none with
// the error.
using WebServerBodyReaderCompletionBlock = std::function<void(std::optional<Data> data, const Error& error)>;

// Produces a response body piece by piece: open, reads until an empty piece, close.
class WebServerBodyReader {
public:
    virtual ~WebServerBodyReader() = default;
    virtual bool open(Error* error) = 0;
    // The next piece; empty at the end of the body; none on failure (with the error).
    virtual std::optional<Data> readData(Error* error) = 0;
    virtual void close() = 0;
    // Readers that produce their pieces asynchronously answer true and implement
    // asyncReadDataWithCompletion, which is then preferred over readData.
    virtual bool implementsAsyncRead() const { return false; }
    virtual void asyncReadDataWithCompletion(WebServerBodyReaderCompletionBlock block) {
        Error error;
        auto data = readData(&error);
        block(std::move(data), error);
    }
};
