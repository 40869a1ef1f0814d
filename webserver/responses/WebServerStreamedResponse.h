#pragma once

#include "WebServerResponse.h"

#include <functional>
#include <memory>
#include <string>

// Produces the next piece of a streamed body at once: empty bytes end the body, none is a failure
// (with the error).
using WebServerStreamBlock = std::function<std::optional<Data>(Error* error)>;
// Produces the next piece later: calls the completion once per read, on any thread.
using WebServerAsyncStreamBlock = std::function<void(WebServerBodyReaderCompletionBlock completion)>;

// A response whose body a closure produces piece by piece. Its length is unknown, so the body is
// sent with chunked transfer coding.
class WebServerStreamedResponse : public WebServerResponse {
public:
    WebServerStreamedResponse(std::string contentType, WebServerAsyncStreamBlock block);
    WebServerStreamedResponse(std::string contentType, WebServerStreamBlock block);

    static std::shared_ptr<WebServerStreamedResponse> responseWithContentType(std::string contentType,
                                                                              WebServerStreamBlock block);
    // Named apart from the synchronous form: a generic lambda would fit both closure types.
    static std::shared_ptr<WebServerStreamedResponse>
    responseWithContentTypeAsyncStreamBlock(std::string contentType, WebServerAsyncStreamBlock block);

    bool implementsAsyncRead() const override { return true; }
    void asyncReadDataWithCompletion(WebServerBodyReaderCompletionBlock completion) override;
    // For readers that pull synchronously (the gzip encoder): runs the closure and waits for its
    // piece.
    std::optional<Data> readData(Error* error) override;
    std::string description() const override;

protected:
    WebServerAsyncStreamBlock _block;
};
