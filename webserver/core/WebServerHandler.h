#pragma once

#include "WebServerRequest.h"
#include "WebServerResponse.h"

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>

// Decides whether a handler takes a request: a new request object when it does, else none.
using WebServerMatchBlock = std::function<std::shared_ptr<WebServerRequest>(
    const std::string& method, const Url& url, const HeaderDictionary& headers, const std::string& path,
    const QueryDictionary& query)>;
// Answers a request at once (none makes the connection answer 500).
using WebServerProcessBlock =
    std::function<std::shared_ptr<WebServerResponse>(const std::shared_ptr<WebServerRequest>& request)>;
// Delivers the answer of an asynchronous handler; called exactly once, on any thread.
using WebServerCompletionBlock = std::function<void(std::shared_ptr<WebServerResponse> response)>;
// Answers a request later by calling the completion.
using WebServerAsyncProcessBlock = std::function<void(const std::shared_ptr<WebServerRequest>& request,
                                                      WebServerCompletionBlock completion)>;

// Looks at a matched request whose body has not been read yet (after authentication): a response
// refuses it at once, before "100 Continue" and without its body; none lets the body be read.
using WebServerHeadCheckBlock =
    std::function<std::shared_ptr<WebServerResponse>(const std::shared_ptr<WebServerRequest>& request)>;

// One step of a handler that works in steps on the pools of file work: the answer, or the next step
// and the pool it runs on. A writer waits for item locks only on the file-operations pool, and its
// long work (a copy, a recursive removal) runs without them on the long-operations pool, so however
// many long steps run, a quick write waits only for other quick writes.
class WebServerStep {
public:
    using Block = std::function<WebServerStep()>;
    enum class Pool { fileOperations, longOperations };

    // The answer (none answers 500).
    WebServerStep(std::nullptr_t = nullptr) {}
    template <class Response>
    requires std::derived_from<Response, WebServerResponse> WebServerStep(std::shared_ptr<Response> response)
        : _response(std::move(response)) {}

    // The quick last steps, which may wait for item locks.
    static WebServerStep onFileOperations(Block next) {
        return WebServerStep(Pool::fileOperations, std::move(next));
    }
    // Long work, holding no item lock.
    static WebServerStep onLongOperations(Block next) {
        return WebServerStep(Pool::longOperations, std::move(next));
    }

    const std::shared_ptr<WebServerResponse>& response() const { return _response; }
    Pool pool() const { return _pool; }
    Block& next() { return _next; }

private:
    WebServerStep(Pool pool, Block next) : _pool(pool), _next(std::move(next)) {}

    std::shared_ptr<WebServerResponse> _response;
    Pool _pool = Pool::fileOperations;
    Block _next;
};

using WebServerStepBlock = std::function<WebServerStep(const std::shared_ptr<WebServerRequest>& request)>;

// The handler run on the file-operations pool (writes that may wait for an item's lock) instead of
// the workers that every connection needs. An exception it throws answers 500.
WebServerAsyncProcessBlock RunOnFileOperationsPool(WebServerProcessBlock process);
// The same for a handler in steps whose first step is quick (it may hop to the long pool).
WebServerAsyncProcessBlock RunStepsOnFileOperationsPool(WebServerStepBlock process);
// A handler in steps whose first step is long work (a copy): it runs on the long-operations pool
// and hops to the file-operations pool for the step that takes item locks.
WebServerAsyncProcessBlock RunOnLongOperationsPool(WebServerStepBlock process);

// One entry of a server's handler list.
class WebServerHandler {
public:
    WebServerHandler(WebServerMatchBlock matchBlock, WebServerAsyncProcessBlock asyncProcessBlock)
        : _matchBlock(std::move(matchBlock)), _asyncProcessBlock(std::move(asyncProcessBlock)) {}

    const WebServerMatchBlock& matchBlock() const { return _matchBlock; }
    const WebServerAsyncProcessBlock& asyncProcessBlock() const { return _asyncProcessBlock; }
    // Optional; set before the server starts.
    const WebServerHeadCheckBlock& headCheckBlock() const { return _headCheckBlock; }
    void setHeadCheckBlock(WebServerHeadCheckBlock block) { _headCheckBlock = std::move(block); }

private:
    WebServerMatchBlock _matchBlock;
    WebServerAsyncProcessBlock _asyncProcessBlock;
    WebServerHeadCheckBlock _headCheckBlock;
};
