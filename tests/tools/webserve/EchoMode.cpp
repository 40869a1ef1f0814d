// The echo server: reports every request back as JSON, plus fixed routes for the cases that the
// end-to-end checks exercise (conditional requests, redirects, gzip, chunked bodies, handler faults).

#include "WebserveModes.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <chrono>
#include <thread>

namespace {

// Counts the body (after any decoding) without keeping it.
class CountingRequest : public WebServerRequest {
public:
    using WebServerRequest::WebServerRequest;
    bool writeData(const Data& data, Error*) override {
        _count += data.size();
        _crc = crc32(_crc, data.data(), static_cast<uInt>(data.size()));
        return true;
    }
    std::uint64_t count() const { return _count; }
    unsigned long crc() const { return _crc; }

private:
    std::uint64_t _count = 0;
    unsigned long _crc = crc32(0L, Z_NULL, 0);
};

// A body held in memory, handed out in pieces of at most `slice` bytes.
class BytesResponse : public WebServerResponse {
public:
    BytesResponse(std::string body, std::string type, std::size_t slice, bool knownLength)
        : _body(std::move(body)), _slice(slice) {
        setContentType(std::move(type));
        if (knownLength) {
            setContentLength(_body.size());
        }
    }
    std::optional<Data> readData(Error*) override {
        const std::size_t take = std::min(_slice, _body.size() - _offset);
        Data piece(_body.begin() + static_cast<std::ptrdiff_t>(_offset),
                   _body.begin() + static_cast<std::ptrdiff_t>(_offset + take));
        _offset += take;
        return piece;
    }

private:
    std::string _body;
    std::size_t _slice;
    std::size_t _offset = 0;
};

std::shared_ptr<WebServerResponse> jsonResponse(const nlohmann::json& object) {
    return std::make_shared<BytesResponse>(object.dump(), "application/json", 1 << 20, true);
}

std::shared_ptr<WebServerResponse> describe(const std::shared_ptr<WebServerRequest>& request) {
    nlohmann::json headers = nlohmann::json::object();
    for (const auto& [name, value] : request->headers()) {
        headers[name] = value;
    }
    nlohmann::json query = nlohmann::json::object();
    for (const auto& [name, value] : request->query()) {
        query[name] = value;
    }
    auto counting = std::dynamic_pointer_cast<CountingRequest>(request);
    return jsonResponse({{"method", request->method()},
                         {"path", request->path()},
                         {"query", query},
                         {"headers", headers},
                         {"bodyLength", counting ? counting->count() : 0},
                         {"bodyCRC32", counting ? counting->crc() : 0}});
}

WebServerMatchBlock anyRequest() {
    return [](const std::string& method, const Url& url, const HeaderDictionary& headers,
              const std::string& path, const QueryDictionary& query) -> std::shared_ptr<WebServerRequest> {
        return WebServerRequest::create<CountingRequest>(method, url, headers, path, query);
    };
}

std::shared_ptr<WebServerResponse> versionedResponse() {
    auto response = std::make_shared<BytesResponse>("version one\n", "text/plain", 1 << 20, true);
    response->setETag("\"v1\"");
    response->setLastModifiedDate(std::chrono::system_clock::time_point(std::chrono::seconds(1577880000)));
    response->setCacheControlMaxAge(60);
    return response;
}

void addFaultRoutes(WebServer& server) {
    auto plain = WebServerRequestClass<WebServerRequest>();
    server.addHandlerForMethod(
        "GET", "/none", plain,
        [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
            return nullptr;
        });
    server.addHandlerForMethod(
        "GET", "/throw", plain,
        [](const std::shared_ptr<WebServerRequest>&) -> std::shared_ptr<WebServerResponse> {
            throw std::runtime_error("handler failure");
        });
    server.addHandlerForMethod(
        "GET", "/twice", plain,
        [](const std::shared_ptr<WebServerRequest>& request, WebServerCompletionBlock completion) {
            completion(describe(request));
            completion(describe(request));
        });
    server.addHandlerForMethod(
        "GET", "/slow", plain,
        [](const std::shared_ptr<WebServerRequest>& request, WebServerCompletionBlock completion) {
            auto it = request->query().find("ms");
            const int ms = it == request->query().end() ? 100 : std::atoi(it->second.c_str());
            std::thread([request, completion, ms] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                completion(describe(request));
            }).detach();
        });
}

} // namespace

std::shared_ptr<WebServer> makeEchoServer(const std::string&) {
    auto server = std::make_shared<WebServer>();
    auto plain = WebServerRequestClass<WebServerRequest>();
    server->addHandlerWithMatchBlock(anyRequest(), describe);
    server->addHandlerForMethod(
        "GET", "/redirect", plain, [](const std::shared_ptr<WebServerRequest>& request) {
            auto target =
                Url::parse("http://" + request->URL().host() +
                           (request->URL().port() > 0 ? ":" + std::to_string(request->URL().port()) : "") +
                           "/redirected");
            return WebServerResponse::responseWithRedirect(*target, false);
        });
    server->addHandlerForMethod("GET", "/etag", plain,
                                [](const std::shared_ptr<WebServerRequest>&) { return versionedResponse(); });
    server->addHandlerForMethod("PUT", "/etag", WebServerRequestClass<CountingRequest>(),
                                [](const std::shared_ptr<WebServerRequest>&) { return versionedResponse(); });
    server->addHandlerForMethod("GET", "/gzip", plain, [](const std::shared_ptr<WebServerRequest>& request) {
        std::string body;
        for (int i = 0; i < 20000; ++i) {
            body += "line " + std::to_string(i) + " of a compressible body\n";
        }
        auto response = std::make_shared<BytesResponse>(std::move(body), "text/plain", 64 * 1024, true);
        response->setGzipContentEncodingEnabled(request->acceptsGzipContentEncoding());
        return response;
    });
    server->addHandlerForMethod("GET", "/chunked", plain, [](const std::shared_ptr<WebServerRequest>&) {
        return std::make_shared<BytesResponse>("first;second;third", "text/plain", 6, false);
    });
    addFaultRoutes(*server);
    addEchoUploadHandler(*server);
    return server;
}
