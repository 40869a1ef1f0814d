// Throughput of the request-head parser, the chunked-body decoder and the multipart parser.

#include "WebServerChunkedBodyParser.h"
#include "WebServerMIMEStreamParser.h"
#include "http/HttpRequestHead.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const std::string kHead = "GET /list?path=%2Fphotos%2F2024 HTTP/1.1\r\n"
                          "Host: 192.168.1.20:8080\r\n"
                          "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 Chrome/120.0\r\n"
                          "Accept: application/json, text/javascript, */*; q=0.01\r\n"
                          "Accept-Encoding: gzip, deflate\r\n"
                          "Accept-Language: en-US,en;q=0.9\r\n"
                          "Connection: keep-alive\r\n\r\n";

void RequestHead(benchmark::State& state) {
    for (auto _ : state) {
        platform::HttpRequestHead head;
        head.appendBytes(reinterpret_cast<const std::uint8_t*>(kHead.data()), kHead.size());
        benchmark::DoNotOptimize(head.isHeaderComplete());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kHead.size()));
}
BENCHMARK(RequestHead);

void ChunkedBody(benchmark::State& state) {
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));
    std::string body;
    char line[32];
    for (int i = 0; i < 64; ++i) {
        const int n = std::snprintf(line, sizeof line, "%zx\r\n", chunk);
        body.append(line, static_cast<std::size_t>(n));
        body.append(chunk, 'x');
        body.append("\r\n");
    }
    body.append("0\r\n\r\n");
    for (auto _ : state) {
        WebServerChunkedBodyParser parser;
        std::size_t total = 0;
        parser.feed(reinterpret_cast<const std::uint8_t*>(body.data()), body.size(),
                    [&total](const std::uint8_t*, std::size_t n) {
                        total += n;
                        return true;
                    });
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(ChunkedBody)->Arg(1024)->Arg(64 * 1024);

void MultiPartText(benchmark::State& state) {
    std::string body;
    for (int i = 0; i < 100; ++i) {
        body += "--BOUNDARYxyz\r\nContent-Disposition: form-data; name=\"field" + std::to_string(i) +
                "\"\r\n\r\n" + std::string(1000, 'v') + "\r\n";
    }
    body += "--BOUNDARYxyz--\r\n";
    for (auto _ : state) {
        WebServerMultiPartArgumentList arguments;
        WebServerMultiPartFileList files;
        auto parser = WebServerMIMEStreamParser::create("BOUNDARYxyz", std::nullopt, arguments, files);
        for (std::size_t offset = 0; offset < body.size(); offset += 4096) {
            parser->appendBytes(body.data() + offset, std::min<std::size_t>(4096, body.size() - offset));
        }
        benchmark::DoNotOptimize(parser->isAtEnd());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(MultiPartText);

} // namespace
