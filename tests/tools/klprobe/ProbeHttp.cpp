// klprobe url, request, response, chunk-encode, chunk-decode: the URL parser, the HTTP head
// parsers and the chunked coding, driven from the shell over standard input and output.
#include "KL_BufferedInputStream.h"
#include "KL_HttpChunkedInputStream.h"
#include "KL_HttpChunkedOutputStream.h"
#include "KL_HttpEntity.h"
#include "KL_HttpEntityBodyInputStream.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_HttpUrl.h"
#include "KL_SocketAddress.h"
#include "Probe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// A file descriptor as a stream: read as it comes, so a head is parsed without slurping input.
class FdInputStream : public KL_InputStream {
public:
    explicit FdInputStream(int fd) : m_Fd(fd) {}
    KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) override {
        if (bytes_read != nullptr) {
            *bytes_read = 0;
        }
        if (bytes_to_read == 0) {
            return KL_SUCCESS;
        }
        ssize_t n;
        do {
            n = ::read(m_Fd, buffer, bytes_to_read);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return KL_ResultFromErrno(errno);
        }
        if (n == 0) {
            return KL_ERROR_EOS;
        }
        m_Position += static_cast<KL_Position>(n);
        if (bytes_read != nullptr) {
            *bytes_read = static_cast<KL_Size>(n);
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override {
        offset = m_Position;
        return KL_SUCCESS;
    }
    KL_Result GetSize(KL_LargeSize&) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result GetAvailable(KL_LargeSize& available) override {
        available = 0;
        return KL_SUCCESS;
    }

private:
    int m_Fd;
    KL_Position m_Position = 0;
};

class FdOutputStream : public KL_OutputStream {
public:
    explicit FdOutputStream(int fd) : m_Fd(fd) {}
    KL_Result Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) override {
        if (bytes_written != nullptr) {
            *bytes_written = 0;
        }
        ssize_t n;
        do {
            n = ::write(m_Fd, data, bytes_to_write);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return KL_ResultFromErrno(errno);
        }
        if (bytes_written != nullptr) {
            *bytes_written = static_cast<KL_Size>(n);
        }
        return KL_SUCCESS;
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position&) override { return KL_ERROR_NOT_SUPPORTED; }

private:
    int m_Fd;
};

KL_InputStreamReference BufferedStdin() {
    KL_InputStreamReference raw(new FdInputStream(0), true);
    return KL_InputStreamReference(new KL_BufferedInputStream(raw), true);
}

void PrintHeaders(const KL_HttpHeaders& headers) {
    for (const KL_HttpHeader* header : headers.GetHeaders()) {
        std::printf("header: %s: %s\n", header->GetName().GetChars(), header->GetValue().GetChars());
    }
}

void PrintUrlParts(const KL_Url& url) {
    std::printf("scheme: %s\n", url.GetScheme().GetChars());
    std::printf("host: %s\n", url.GetHost().GetChars());
    std::printf("port: %u\n", static_cast<unsigned>(url.GetPort()));
    std::printf("path: %s\n", url.GetPath().GetChars());
    if (url.HasQuery()) {
        std::printf("query: %s\n", url.GetQuery().GetChars());
    }
    if (url.HasFragment()) {
        std::printf("fragment: %s\n", url.GetFragment().GetChars());
    }
}

// Copies an input stream to an output stream until KL_ERROR_EOS.
KL_Result CopyToEnd(KL_InputStream& input, KL_OutputStream& output) {
    static char buffer[65536];
    for (;;) {
        KL_Size count = 0;
        KL_Result result = input.Read(buffer, sizeof buffer, &count);
        if (result == KL_ERROR_EOS) {
            return KL_SUCCESS;
        }
        if (KL_FAILED(result)) {
            return result;
        }
        result = output.WriteFully(buffer, count);
        if (KL_FAILED(result)) {
            return result;
        }
    }
}

// Fills the buffer from the stream; fewer bytes only at the end of the stream.
KL_Result ReadPiece(KL_InputStream& input, char* buffer, KL_Size size, KL_Size& filled) {
    filled = 0;
    while (filled < size) {
        KL_Size count = 0;
        const KL_Result result = input.Read(buffer + filled, size - filled, &count);
        if (result == KL_ERROR_EOS) {
            return KL_SUCCESS;
        }
        if (KL_FAILED(result)) {
            return result;
        }
        filled += count;
    }
    return KL_SUCCESS;
}

bool ParseEndpoint(const std::string& text, KL_SocketAddress& endpoint) {
    const size_t colon = text.rfind(':');
    return colon != std::string::npos &&
           KL_SUCCEEDED(endpoint.m_IpAddress.Parse(text.substr(0, colon).c_str())) &&
           klprobe::ParseNumber(text.substr(colon + 1), 65535, endpoint.m_Port);
}

} // namespace

KLPROBE_COMMAND(url, "url TEXT") {
    if (args.size() != 1) {
        return klprobe::Usage("url TEXT");
    }
    KL_Url url;
    const KL_Result result = url.Parse(args[0].c_str(), 0);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    PrintUrlParts(url);
    std::printf("valid: %s\n", url.IsValid() ? "true" : "false");
    const uint16_t default_port = KL_HttpUrl::GetDefaultPort(url.GetSchemeId());
    std::printf("string: %s\n", url.ToStringWithDefaultPort(default_port, true).GetChars());
    std::printf("request: %s\n", url.ToRequestString(false).GetChars());
    return 0;
}

KLPROBE_COMMAND(request, "request [--endpoint IP:PORT] <HEAD") {
    KL_SocketAddress endpoint;
    const KL_SocketAddress* endpoint_given = nullptr;
    if (args.size() == 2 && args[0] == "--endpoint" && ParseEndpoint(args[1], endpoint)) {
        endpoint_given = &endpoint;
    } else if (!args.empty()) {
        return klprobe::Usage("request [--endpoint IP:PORT] <HEAD");
    }
    KL_InputStreamReference input = BufferedStdin();
    KL_HttpRequest* request = nullptr;
    const KL_Result result =
        KL_HttpRequest::Parse(static_cast<KL_BufferedInputStream&>(*input), endpoint_given, request);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("method: %s\n", request->GetMethod().GetChars());
    std::printf("protocol: %s\n", request->GetProtocol().GetChars());
    PrintUrlParts(request->GetUrl());
    PrintHeaders(request->GetHeaders());
    delete request;
    return 0;
}

KLPROBE_COMMAND(response, "response [--body FILE] <MESSAGE") {
    const char* body_path = nullptr;
    if (args.size() == 2 && args[0] == "--body") {
        body_path = args[1].c_str();
    } else if (!args.empty()) {
        return klprobe::Usage("response [--body FILE] <MESSAGE");
    }
    KL_InputStreamReference input = BufferedStdin();
    KL_HttpResponse* response = nullptr;
    KL_Result result = KL_HttpResponse::Parse(static_cast<KL_BufferedInputStream&>(*input), response);
    if (KL_FAILED(result)) {
        return klprobe::Fail(result);
    }
    std::printf("protocol: %s\n", response->GetProtocol().GetChars());
    std::printf("status: %d\n", static_cast<int>(response->GetStatusCode()));
    std::printf("reason: %s\n", response->GetReasonPhrase().GetChars());
    PrintHeaders(response->GetHeaders());
    std::fflush(stdout);
    if (body_path != nullptr) {
        KL_HttpEntity entity(response->GetHeaders());
        KL_HttpEntityBodyInputStream body(input, entity.GetContentLength(), entity.ContentLengthIsKnown(),
                                          entity.IsChunked(), nullptr, false);
        FILE* file = std::fopen(body_path, "wb");
        if (file == nullptr) {
            delete response;
            return klprobe::Fail(KL_ResultFromErrno(errno));
        }
        FdOutputStream output(fileno(file));
        result = CopyToEnd(body, output);
        std::fclose(file);
    }
    delete response;
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}

// Hyphenated names are registered by hand (the macro takes an identifier).
static int ChunkEncode(const klprobe::Args& args) {
    uint32_t piece = 65536;
    if (args.size() == 2 && args[0] == "--piece") {
        if (!klprobe::ParseNumber(args[1], 0x1000000, piece) || piece == 0) {
            return klprobe::Usage("chunk-encode [--piece N] <DATA");
        }
    } else if (!args.empty()) {
        return klprobe::Usage("chunk-encode [--piece N] <DATA");
    }
    FdInputStream input(0);
    FdOutputStream output(1);
    std::string buffer(piece, '\0');
    KL_Result result = KL_SUCCESS;
    {
        KL_HttpChunkedOutputStream chunked(output);
        for (;;) {
            KL_Size filled = 0;
            result = ReadPiece(input, buffer.data(), static_cast<KL_Size>(piece), filled);
            if (KL_FAILED(result) || filled == 0) {
                break;
            }
            result = chunked.WriteFully(buffer.data(), filled);
            if (KL_FAILED(result)) {
                break;
            }
        }
    } // the last chunk
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}

static int ChunkDecode(const klprobe::Args& args) {
    if (!args.empty()) {
        return klprobe::Usage("chunk-decode <CHUNKED");
    }
    KL_HttpChunkedInputStream chunked(BufferedStdin());
    FdOutputStream output(1);
    const KL_Result result = CopyToEnd(chunked, output);
    return KL_FAILED(result) ? klprobe::Fail(result) : 0;
}

static klprobe::Registration chunk_encode_registration("chunk-encode", "chunk-encode [--piece N] <DATA",
                                                       &ChunkEncode);
static klprobe::Registration chunk_decode_registration("chunk-decode", "chunk-decode <CHUNKED", &ChunkDecode);
