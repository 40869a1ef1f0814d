#include "WebServerStreamedResponse.h"

#include <condition_variable>
#include <mutex>

WebServerStreamedResponse::WebServerStreamedResponse(std::string contentType, WebServerAsyncStreamBlock block)
    : _block(std::move(block)) {
    _type = std::move(contentType);
}

WebServerStreamedResponse::WebServerStreamedResponse(std::string contentType, WebServerStreamBlock block)
    : WebServerStreamedResponse(std::move(contentType),
                                WebServerAsyncStreamBlock([block = std::move(block)](
                                                              WebServerBodyReaderCompletionBlock completion) {
                                    Error error;
                                    auto data = block(&error);
                                    completion(std::move(data), error);
                                })) {}

std::shared_ptr<WebServerStreamedResponse>
WebServerStreamedResponse::responseWithContentType(std::string contentType, WebServerStreamBlock block) {
    return std::make_shared<WebServerStreamedResponse>(std::move(contentType), std::move(block));
}

std::shared_ptr<WebServerStreamedResponse>
WebServerStreamedResponse::responseWithContentTypeAsyncStreamBlock(std::string contentType,
                                                                   WebServerAsyncStreamBlock block) {
    return std::make_shared<WebServerStreamedResponse>(std::move(contentType), std::move(block));
}

void WebServerStreamedResponse::asyncReadDataWithCompletion(WebServerBodyReaderCompletionBlock completion) {
    _block(std::move(completion));
}

std::optional<Data> WebServerStreamedResponse::readData(Error* error) {
    struct Result {
        std::mutex lock;
        std::condition_variable arrived;
        bool done = false;
        std::optional<Data> data;
        Error error;
    };
    auto result = std::make_shared<Result>();
    _block([result](std::optional<Data> data, const Error& pieceError) {
        std::lock_guard<std::mutex> guard(result->lock);
        if (result->done) {
            return; // a closure that answers twice: only the first piece counts
        }
        result->data = std::move(data);
        result->error = pieceError;
        result->done = true;
        result->arrived.notify_all();
    });
    std::unique_lock<std::mutex> guard(result->lock);
    result->arrived.wait(guard, [&result] { return result->done; });
    if (!result->data) {
        platform::setError(error, result->error);
    }
    return std::move(result->data);
}

std::string WebServerStreamedResponse::description() const {
    return WebServerResponse::description() + "\n\n<STREAM>";
}
