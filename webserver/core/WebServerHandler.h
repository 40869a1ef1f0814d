#pragma once

#include "WebServerRequest.h"
#include "WebServerResponse.h"

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

// The handler run on the pool of long file operations (copies, moves, removals, uploads that may
// copy across file systems) instead of the workers that every connection needs. An exception it
// throws answers 500.
WebServerAsyncProcessBlock RunOnFileOperationsPool(WebServerProcessBlock process);

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
