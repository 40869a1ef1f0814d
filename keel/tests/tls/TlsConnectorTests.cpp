// The default connector over real TLS servers: certificate verdicts by option, the pool's
// per-name matching, and the CONNECT tunnel.
#include "../client/ClientTestSupport.h"
#include "KL_HttpTlsConnector.h"
#include "TlsTestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

using namespace tls_test;

namespace {

class TlsConnector : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_Certificates = new Certificates(); }
    static void TearDownTestSuite() {
        s_Servers.clear();
        delete s_Certificates;
    }
    void SetUp() override {
        if (!s_Certificates->Ok()) {
            GTEST_SKIP() << "the openssl tool could not make the test certificates";
        }
    }
    static OpenSslServer& Server(const std::string& name) {
        auto& server = s_Servers[name];
        if (!server) {
            server = std::make_unique<OpenSslServer>(*s_Certificates, name);
        }
        return *server;
    }
    static void Trust(KL_TlsContext& context) {
        const std::string der = ReadFile(s_Certificates->Path("ca.der"));
        ASSERT_EQ(context.AddTrustAnchor(reinterpret_cast<const KL_Byte*>(der.data()),
                                         static_cast<KL_Size>(der.size())),
                  KL_SUCCESS);
    }

    static Certificates* s_Certificates;
    static std::map<std::string, std::unique_ptr<OpenSslServer>> s_Servers;
};

Certificates* TlsConnector::s_Certificates = nullptr;
std::map<std::string, std::unique_ptr<OpenSslServer>> TlsConnector::s_Servers;

TEST_F(TlsConnector, JudgesCertificatesByOption) {
    struct Case {
        const char* certificate;
        uint32_t context_options;
        bool trust_ca;
        uint32_t connector_options;
        const char* host;
        KL_Result expected;
    };
    const Case cases[] = {
        {"self", 1, false, 0, "localhost", KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED},
        {"self", 1, false, 1, "localhost", KL_SUCCESS},
        {"self", 1, false, 1, "127.0.0.1", KL_ERROR_TLS_DNS_NAME_MISMATCH},
        {"self", 1, false, 2, "localhost", KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED},
        {"self", 1, false, 3, "127.0.0.1", KL_SUCCESS},
        {"leaf", 1, true, 0, "localhost", KL_SUCCESS},
        {"leaf", 1, false, 0, "localhost", KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR},
        {"leaf", 1, false, 1, "localhost", KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR},
        {"leaf", 1, true, 0, "127.0.0.1", KL_ERROR_TLS_DNS_NAME_MISMATCH},
        {"leaf", 1, true, 2, "127.0.0.1", KL_SUCCESS},
        {"leaf", 0, true, 0, "localhost", KL_SUCCESS},
        {"leaf", 0, false, 0, "localhost", KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR},
        {"expired", 1, true, 0, "localhost", KL_ERROR_TLS_CERTIFICATE_EXPIRED},
        {"expired", 0, true, 0, "localhost", KL_ERROR_TLS_CERTIFICATE_EXPIRED},
        {"altname", 1, true, 0, "localhost", KL_SUCCESS},
    };
    for (const Case& c : cases) {
        KL_TlsContext context(c.context_options);
        if (c.trust_ca) {
            Trust(context);
        }
        KL_HttpClient client(new KL_HttpTlsConnector(context, c.connector_options), true);
        const client_test::Outcome outcome = client_test::Fetch(client, Server(c.certificate).Url(c.host));
        EXPECT_EQ(outcome.result, c.expected) << c.certificate << " context " << c.context_options
                                              << " connector " << c.connector_options << " " << c.host;
        if (c.expected == KL_SUCCESS) {
            EXPECT_EQ(outcome.status, 200);
        }
    }
}

TEST_F(TlsConnector, DefaultClientRejectsSelfSigned) {
    KL_HttpClient client;
    EXPECT_EQ(client_test::Fetch(client, Server("self").Url("localhost")).result,
              KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED);
}

TEST_F(TlsConnector, PoolsVerifiedConnectionsPerHostName) {
    KeelTlsServer server;
    ASSERT_TRUE(server.Ok());
    KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
    KL_HttpClient client(new KL_HttpTlsConnector(context, KL_HttpTlsConnector::OPTION_ACCEPT_SELF_SIGNED),
                         true);
    EXPECT_EQ(client_test::Fetch(client, server.Url("localhost")).body, "ok");
    // Same address, another name: the connection verified for localhost must not serve it.
    EXPECT_EQ(client_test::Fetch(client, server.Url("127.0.0.1")).result, KL_ERROR_TLS_DNS_NAME_MISMATCH);
    EXPECT_EQ(client_test::Fetch(client, server.Url("localhost")).body, "ok");
    EXPECT_EQ(server.Accepts(), 2);
}

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A TCP socket (in fd, always) listening on 127.0.0.1 on a free port; false when that failed.
bool ListenOnLoopback(int& fd, uint16_t& port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

// A proxy stub on loopback: answers CONNECT with the given head and then, for a 200, relays the
// bytes to the target port.
class ConnectStub {
public:
    ConnectStub(std::string head, int target_port) : m_Head(std::move(head)), m_Target(target_port) {
        if (ListenOnLoopback(m_Listener, m_Port)) {
            m_Thread = std::thread([this] { Serve(); });
        }
    }
    ~ConnectStub() {
        m_Stop = true;
        if (m_Thread.joinable()) {
            m_Thread.join();
        }
        close(m_Listener);
    }
    uint16_t Port() const { return m_Port; }
    std::string RequestLine() const { return m_Request.substr(0, m_Request.find("\r\n")); }

private:
    bool Wait(int fd) {
        for (int i = 0; i < 500 && !m_Stop; ++i) {
            pollfd entry{fd, POLLIN, 0};
            if (poll(&entry, 1, 20) > 0) {
                return true;
            }
        }
        return false;
    }
    void Serve() {
        if (!Wait(m_Listener)) {
            return;
        }
        const int client = accept(m_Listener, nullptr, nullptr);
        char c = 0;
        while (m_Request.find("\r\n\r\n") == std::string::npos && Wait(client) && read(client, &c, 1) == 1) {
            m_Request += c;
        }
        (void)send(client, m_Head.data(), m_Head.size(), MSG_NOSIGNAL);
        if (m_Head.rfind("HTTP/1.1 200 Connection established\r\n\r\n", 0) == 0) {
            Relay(client);
        }
        close(client);
    }
    void Relay(int client) {
        const int target = socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = LoopbackAddress(static_cast<uint16_t>(m_Target));
        if (connect(target, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            pollfd entries[2] = {{client, POLLIN, 0}, {target, POLLIN, 0}};
            char buffer[4096];
            while (!m_Stop && poll(entries, 2, 20) >= 0) {
                for (int i = 0; i < 2; ++i) {
                    if ((entries[i].revents & (POLLIN | POLLHUP)) != 0) {
                        const ssize_t count = read(entries[i].fd, buffer, sizeof buffer);
                        if (count <= 0 ||
                            send(entries[1 - i].fd, buffer, static_cast<size_t>(count), MSG_NOSIGNAL) < 0) {
                            close(target);
                            return;
                        }
                    }
                }
            }
        }
        close(target);
    }

    std::string m_Head;
    int m_Target;
    int m_Listener = -1;
    uint16_t m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
    std::string m_Request;
};

// Answers every connection with fixed bytes once the client has said something, then closes.
class BlurtServer {
public:
    explicit BlurtServer(std::string bytes) : m_Bytes(std::move(bytes)) {
        if (ListenOnLoopback(m_Listener, m_Port)) {
            m_Thread = std::thread([this] { Serve(); });
        }
    }
    ~BlurtServer() {
        m_Thread.join();
        close(m_Listener);
    }
    std::string Url() const { return "https://localhost:" + std::to_string(m_Port) + "/"; }

private:
    void Serve() {
        pollfd entry{m_Listener, POLLIN, 0};
        if (poll(&entry, 1, 10000) <= 0) {
            return;
        }
        const int client = accept(m_Listener, nullptr, nullptr);
        pollfd hello{client, POLLIN, 0};
        char buffer[4096];
        if (poll(&hello, 1, 10000) > 0 && read(client, buffer, sizeof buffer) > 0) {
            (void)send(client, m_Bytes.data(), m_Bytes.size(), MSG_NOSIGNAL);
        }
        close(client);
    }

    std::string m_Bytes;
    int m_Listener = -1;
    uint16_t m_Port = 0;
    std::thread m_Thread;
};

TEST_F(TlsConnector, ProtocolFailuresKeepTheirMeaning) {
    const std::pair<std::string, KL_Result> cases[] = {
        {"HTTP/1.0 400 Bad Request\r\n\r\n", KL_ERROR_TLS_INVALID_VERSION},
        {"", KL_ERROR_EOS},
        {std::string("\x15\x03\x03\x00\x02\x02\x28", 7), KL_ERROR_TLS_ALERT_HANDSHAKE_FAILED},
        {std::string("\x15\x03\x03\x00\x02\x02\x46", 7), KL_ERROR_TLS_ALERT_INVALID_VERSION},
    };
    for (const auto& [bytes, expected] : cases) {
        BlurtServer server(bytes);
        KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
        KL_HttpClient client(new KL_HttpTlsConnector(context, 3), true);
        EXPECT_EQ(client_test::Fetch(client, server.Url()).result, expected) << bytes.size();
    }
}

TEST_F(TlsConnector, TunnelsThroughConnectProxies) {
    const int port = Server("self").Port();
    struct Case {
        std::string head;
        KL_Result expected;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 Connection established\r\n\r\n", KL_SUCCESS},
        {"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n",
         KL_ERROR_HTTP_INVALID_RESPONSE_LINE},
        {"HTTP/1.1 200 OK\r\n" + std::string(20000, 'x'), KL_ERROR_HTTP_INVALID_RESPONSE_LINE},
        {"HTTP/1.1 200 OK\r\nX: y\r\n", KL_ERROR_EOS},
        {"HTTP/1.1200 OK\r\n\r\n", KL_ERROR_HTTP_INVALID_RESPONSE_LINE},
        {"", KL_ERROR_EOS},
    };
    for (const Case& c : cases) {
        ConnectStub stub(c.head, port);
        KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
        KL_HttpClient client(new KL_HttpTlsConnector(context, KL_HttpTlsConnector::OPTION_ACCEPT_SELF_SIGNED),
                             true);
        (void)client.SetProxy("127.0.0.1", stub.Port(), "127.0.0.1", stub.Port());
        const client_test::Outcome outcome = client_test::Fetch(client, Server("self").Url("localhost"));
        EXPECT_EQ(outcome.result, c.expected) << c.head.substr(0, 40);
        EXPECT_EQ(stub.RequestLine(), "CONNECT localhost:" + std::to_string(port) + " HTTP/1.1");
    }
}

} // namespace
