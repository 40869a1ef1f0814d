#include "WebServer.h"
#include "WebServerFunctions.h"
#include "dispatch/GlobalQueue.h"

#include "foundation/RegularExpression.h"

// Handler registration: every adder ends in addHandlerWithMatchBlock, which puts the new handler
// first in the list.

namespace {

WebServerAsyncProcessBlock wrapProcessBlock(WebServerProcessBlock processBlock) {
    return [processBlock = std::move(processBlock)](const std::shared_ptr<WebServerRequest>& request,
                                                    WebServerCompletionBlock completion) {
        completion(processBlock(request));
    };
}

} // namespace

// ---- Handlers ----

void WebServer::addHandlerWithMatchBlock(WebServerMatchBlock matchBlock, WebServerProcessBlock processBlock) {
    addHandlerWithMatchBlock(std::move(matchBlock), wrapProcessBlock(std::move(processBlock)));
}

void WebServer::addHandlerWithMatchBlock(WebServerMatchBlock matchBlock,
                                         WebServerAsyncProcessBlock processBlock) {
    _handlers.insert(_handlers.begin(),
                     std::make_shared<WebServerHandler>(std::move(matchBlock), std::move(processBlock)));
}

void WebServer::addDefaultHandlerForMethod(const std::string& method, WebServerRequestFactory requestClass,
                                           WebServerProcessBlock processBlock) {
    addDefaultHandlerForMethod(method, std::move(requestClass), wrapProcessBlock(std::move(processBlock)));
}

void WebServer::addDefaultHandlerForMethod(const std::string& method, WebServerRequestFactory requestClass,
                                           WebServerAsyncProcessBlock processBlock) {
    addHandlerWithMatchBlock(
        [method, requestClass](const std::string& requestMethod, const Url& url,
                               const HeaderDictionary& headers, const std::string& path,
                               const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
            if (requestMethod != method) {
                return nullptr;
            }
            return requestClass(requestMethod, url, headers, path, query);
        },
        std::move(processBlock));
}

void WebServer::addHandlerForMethod(const std::string& method, const std::string& path,
                                    WebServerRequestFactory requestClass,
                                    WebServerProcessBlock processBlock) {
    addHandlerForMethod(method, path, std::move(requestClass), wrapProcessBlock(std::move(processBlock)));
}

void WebServer::addHandlerForMethod(const std::string& method, const std::string& path,
                                    WebServerRequestFactory requestClass,
                                    WebServerAsyncProcessBlock processBlock) {
    if (path.empty() || path[0] != '/' || !requestClass) {
        return;
    }
    addHandlerWithMatchBlock(
        [method, path, requestClass](const std::string& requestMethod, const Url& url,
                                     const HeaderDictionary& headers, const std::string& requestPath,
                                     const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
            if (requestMethod != method || !platform::equalsIgnoringCase(requestPath, path)) {
                return nullptr;
            }
            return requestClass(requestMethod, url, headers, requestPath, query);
        },
        std::move(processBlock));
}

void WebServer::addHandlerForMethodPathRegex(const std::string& method, const std::string& regex,
                                             WebServerRequestFactory requestClass,
                                             WebServerProcessBlock processBlock) {
    addHandlerForMethodPathRegex(method, regex, std::move(requestClass),
                                 wrapProcessBlock(std::move(processBlock)));
}

void WebServer::addHandlerForMethodPathRegex(const std::string& method, const std::string& regex,
                                             WebServerRequestFactory requestClass,
                                             WebServerAsyncProcessBlock processBlock) {
    auto expression = platform::RegularExpression::create(regex, {.caseInsensitive = true});
    if (!expression || !requestClass) {
        return;
    }
    addHandlerWithMatchBlock(
        [method, expression,
         requestClass](const std::string& requestMethod, const Url& url, const HeaderDictionary& headers,
                       const std::string& requestPath,
                       const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
            if (requestMethod != method) {
                return nullptr;
            }
            auto matches = expression->allMatchCaptures(requestPath);
            if (matches.empty()) {
                return nullptr;
            }
            auto request = requestClass(requestMethod, url, headers, requestPath, query);
            if (!request) {
                return nullptr;
            }
            std::vector<std::string> captures;
            for (const auto& match : matches) {
                for (const auto& group : match) {
                    captures.push_back(group.value_or("")); // a group that took no part: empty text
                }
            }
            request->setAttribute(std::move(captures), WebServerRequestAttribute_RegexCaptures);
            return request;
        },
        std::move(processBlock));
}

void WebServer::removeAllHandlers() {
    _handlers.clear();
}

namespace {

platform::dispatch::GlobalQueue& poolOf(WebServerStep::Pool pool) {
    return pool == WebServerStep::Pool::longOperations ? platform::dispatch::GlobalQueue::longOperations()
                                                       : platform::dispatch::GlobalQueue::fileOperations();
}

// Runs one step on its pool, then the next one on its own, until a step answers.
void runStep(WebServerStep::Pool pool, WebServerStep::Block step, std::shared_ptr<WebServerRequest> request,
             WebServerCompletionBlock completion) {
    poolOf(pool).async(
        [step = std::move(step), request = std::move(request), completion = std::move(completion)]() mutable {
            WebServerStep outcome;
            try {
                outcome = step();
            } catch (...) {
                outcome = nullptr;
            }
            step = nullptr; // what the step held goes before the next step runs, or the answer is given
            if (outcome.next()) {
                runStep(outcome.pool(), std::move(outcome.next()), std::move(request), std::move(completion));
                return;
            }
            // Only the connection keeps the request from here on, so it goes before the exchange ends
            // (see WebServerConnection::_endOfLife).
            request.reset();
            completion(outcome.response());
        });
}

WebServerAsyncProcessBlock runInSteps(WebServerStep::Pool first, WebServerStepBlock process) {
    return [first, process = std::move(process)](const std::shared_ptr<WebServerRequest>& request,
                                                 WebServerCompletionBlock completion) {
        runStep(
            first, [process, request]() -> WebServerStep { return process(request); }, request,
            std::move(completion));
    };
}

} // namespace

WebServerAsyncProcessBlock RunOnFileOperationsPool(WebServerProcessBlock process) {
    return runInSteps(WebServerStep::Pool::fileOperations,
                      [process = std::move(process)](const std::shared_ptr<WebServerRequest>& request) {
                          return WebServerStep(process(request));
                      });
}

WebServerAsyncProcessBlock RunStepsOnFileOperationsPool(WebServerStepBlock process) {
    return runInSteps(WebServerStep::Pool::fileOperations, std::move(process));
}

WebServerAsyncProcessBlock RunOnLongOperationsPool(WebServerStepBlock process) {
    return runInSteps(WebServerStep::Pool::longOperations, std::move(process));
}
