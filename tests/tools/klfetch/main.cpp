// klfetch: fetches one URL with the runtime's HTTP client.
//
//   klfetch [--head] [--insecure] [--ca FILE] [--proxy URL] [-o FILE] URL
//
// GET (HEAD with --head), redirects followed as the client does. The status line and the
// response headers go to standard error, the body to FILE or standard output. Exit 0 for any
// HTTP answer; when none came, the result code's name is the last line on standard error and the
// exit status is 1 (2 for a usage error).
//   --insecure   a self-signed certificate and a name mismatch pass
//   --ca FILE    PEM or DER certificates of FILE are trusted besides the system's
//   --proxy URL  the proxy for http and https (otherwise the environment's rules apply)
#include "../ToolMain.h"
#include "KL_Base64.h"
#include "KL_DataBuffer.h"
#include "KL_HttpClient.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_HttpTlsConnector.h"
#include "KL_Result.h"
#include "KL_TlsContext.h"
#include "KL_Url.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

struct Options {
    bool head = false;
    bool insecure = false;
    std::string ca_file;
    std::string proxy;
    std::string output;
    std::string url;
};

int Usage() {
    std::fprintf(stderr, "usage: klfetch [--head] [--insecure] [--ca FILE] [--proxy URL] [-o FILE] URL\n");
    return 2;
}

bool ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--head") {
            options.head = true;
        } else if (arg == "--insecure") {
            options.insecure = true;
        } else if (arg == "--ca" && has_value) {
            options.ca_file = argv[++i];
        } else if (arg == "--proxy" && has_value) {
            options.proxy = argv[++i];
        } else if (arg == "-o" && has_value) {
            options.output = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && options.url.empty()) {
            options.url = arg;
        } else {
            return false;
        }
    }
    return !options.url.empty();
}

// Each PEM certificate block of the text, or the whole text as one DER certificate.
KL_Result AddTrustAnchors(KL_TlsContext& context, const std::string& bytes) {
    static const std::string begin = "-----BEGIN CERTIFICATE-----";
    static const std::string end = "-----END CERTIFICATE-----";
    if (bytes.find(begin) == std::string::npos) {
        return context.AddTrustAnchor(reinterpret_cast<const KL_Byte*>(bytes.data()),
                                      static_cast<KL_Size>(bytes.size()));
    }
    size_t at = 0;
    while ((at = bytes.find(begin, at)) != std::string::npos) {
        const size_t stop = bytes.find(end, at);
        if (stop == std::string::npos) {
            return KL_ERROR_INVALID_SYNTAX;
        }
        std::string base64;
        for (size_t i = at + begin.size(); i < stop; ++i) {
            if (bytes[i] != '\r' && bytes[i] != '\n' && bytes[i] != ' ' && bytes[i] != '\t') {
                base64 += bytes[i];
            }
        }
        KL_DataBuffer der;
        KL_Result result = KL_Base64::Decode(base64.data(), static_cast<KL_Size>(base64.size()), der);
        if (KL_SUCCEEDED(result)) {
            result = context.AddTrustAnchor(der.GetData(), der.GetDataSize());
        }
        if (KL_FAILED(result)) {
            return result;
        }
        at = stop + end.size();
    }
    return KL_SUCCESS;
}

KL_Result MakeConnector(const Options& options, std::unique_ptr<KL_TlsContext>& context,
                        KL_HttpClient::Connector*& connector) {
    const uint32_t connector_options = options.insecure ? 3 : 0;
    if (options.ca_file.empty()) {
        connector = new KL_HttpTlsConnector(connector_options);
        return KL_SUCCESS;
    }
    std::ifstream file(options.ca_file, std::ios::binary);
    if (!file) {
        return KL_ERROR_NO_SUCH_FILE;
    }
    std::stringstream bytes;
    bytes << file.rdbuf();
    context.reset(new KL_TlsContext(KL_TlsContext::OPTION_VERIFY_LATER |
                                    KL_TlsContext::OPTION_ADD_DEFAULT_TRUST_ANCHORS));
    const KL_Result result = AddTrustAnchors(*context, bytes.str());
    if (KL_FAILED(result)) {
        return result;
    }
    connector = new KL_HttpTlsConnector(*context, connector_options);
    return KL_SUCCESS;
}

KL_Result SetProxy(KL_HttpClient& client, const std::string& text) {
    std::string with_scheme = text.find("://") == std::string::npos ? "http://" + text : text;
    KL_Url url;
    const KL_Result result = url.Parse(with_scheme.c_str(), 0);
    if (KL_FAILED(result) || url.GetHost().IsEmpty()) {
        return KL_FAILED(result) ? result : KL_ERROR_INVALID_SYNTAX;
    }
    return client.SetProxy(url.GetHost().GetChars(), url.GetPort(), url.GetHost().GetChars(), url.GetPort());
}

void PrintHead(const KL_HttpResponse& response) {
    std::fprintf(stderr, "%s %d %s\n", response.GetProtocol().GetChars(),
                 static_cast<int>(response.GetStatusCode()), response.GetReasonPhrase().GetChars());
    for (const KL_HttpHeader* header : response.GetHeaders().GetHeaders()) {
        std::fprintf(stderr, "%s: %s\n", header->GetName().GetChars(), header->GetValue().GetChars());
    }
    std::fflush(stderr);
}

KL_Result WriteBody(const KL_HttpResponse& response, std::FILE* out) {
    KL_HttpEntity* entity = response.GetEntity();
    KL_InputStreamReference body;
    if (entity == nullptr || KL_FAILED(entity->GetInputStream(body)) || body.IsNull()) {
        return KL_SUCCESS;
    }
    char buffer[16384];
    for (;;) {
        KL_Size count = 0;
        const KL_Result result = body->Read(buffer, sizeof buffer, &count);
        if (result == KL_ERROR_EOS) {
            return KL_SUCCESS;
        }
        if (KL_FAILED(result)) {
            return result;
        }
        if (count != 0 && std::fwrite(buffer, 1, count, out) != count) {
            return KL_ERROR_WRITE_FAILED;
        }
    }
}

int Fetch(const Options& options) {
    std::unique_ptr<KL_TlsContext> context;
    KL_HttpClient::Connector* connector = nullptr;
    KL_Result result = MakeConnector(options, context, connector);
    if (KL_FAILED(result)) {
        return tool::Fail(result);
    }
    KL_HttpClient client(connector, true);
    if (!options.proxy.empty() && KL_FAILED(result = SetProxy(client, options.proxy))) {
        return tool::Fail(result);
    }
    KL_HttpRequest request(options.url.c_str(), options.head ? "HEAD" : "GET", KL_HTTP_PROTOCOL_1_1);
    if (!request.GetUrl().IsValid()) {
        return tool::Fail(KL_ERROR_INVALID_SYNTAX);
    }
    KL_HttpResponse* response = nullptr;
    result = client.SendRequest(request, response);
    if (KL_FAILED(result) || response == nullptr) {
        return tool::Fail(KL_FAILED(result) ? result : KL_FAILURE);
    }
    std::unique_ptr<KL_HttpResponse> owned(response);
    PrintHead(*response);
    std::FILE* out = options.output.empty() ? stdout : std::fopen(options.output.c_str(), "wb");
    if (out == nullptr) {
        return tool::Fail(KL_ERROR_WRITE_FAILED);
    }
    result = WriteBody(*response, out);
    if (out != stdout) {
        std::fclose(out);
    } else {
        std::fflush(stdout);
    }
    return KL_FAILED(result) ? tool::Fail(result) : 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        return Usage();
    }
    return Fetch(options);
}
