// Runs one exchange through KL_HttpServer::RespondToClient over memory streams and splits the
// answer into status line, headers and body.
#pragma once

#include "KL_HttpRequestContext.h"
#include "KL_HttpServer.h"
#include "KL_MemoryStream.h"

#include <string>

namespace server_test {

struct Exchange {
    KL_Result m_Result = KL_SUCCESS;
    std::string m_StatusLine;
    std::string m_Head; // header lines, each ending with CR LF
    std::string m_Body;
    bool m_HasHead = false;

    // The value of the first header of that name (exact case), or "(none)".
    std::string Header(const std::string& name) const {
        const std::string key = "\r\n" + name + ": ";
        const std::string lines = "\r\n" + m_Head;
        const size_t at = lines.find(key);
        if (at == std::string::npos) {
            return "(none)";
        }
        const size_t start = at + key.size();
        return lines.substr(start, lines.find("\r\n", start) - start);
    }
};

inline Exchange Serve(KL_HttpServer& server, const std::string& request) {
    KL_InputStreamReference input(new KL_MemoryStream(request.data(), static_cast<KL_Size>(request.size())));
    KL_Reference<KL_MemoryStream> written(new KL_MemoryStream());
    KL_OutputStreamReference output(written);
    const KL_SocketAddress local(KL_IpAddress(127, 0, 0, 1), 8080);
    Exchange exchange;
    exchange.m_Result = server.RespondToClient(input, output, KL_HttpRequestContext(&local, nullptr));
    const std::string all(reinterpret_cast<const char*>(written->GetData()), written->GetDataSize());
    const size_t line_end = all.find("\r\n");
    const size_t head_end = all.find("\r\n\r\n");
    if (line_end == std::string::npos || head_end == std::string::npos) {
        exchange.m_Body = all;
        return exchange;
    }
    exchange.m_HasHead = true;
    exchange.m_StatusLine = all.substr(0, line_end);
    exchange.m_Head = all.substr(line_end + 2, head_end + 2 - (line_end + 2));
    exchange.m_Body = all.substr(head_end + 4);
    return exchange;
}

inline std::string Get(const std::string& path, const std::string& headers = "", const char* method = "GET") {
    return std::string(method) + " " + path + " HTTP/1.1\r\nHost: test\r\n" + headers + "\r\n";
}

} // namespace server_test
