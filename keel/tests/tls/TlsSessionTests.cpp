// Client sessions against s_server and our own server session: states before the handshake,
// name checks (wildcards), the peer's certificate against the openssl tool, stream edges and keys.
#include "KL_TcpClientSocket.h"
#include "KL_TlsCertificateInfo.h"
#include "TlsTestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

using namespace tls_test;

namespace {

// A client session over a new TCP connection to 127.0.0.1:port.
struct ClientSession {
    ClientSession(KL_TlsContext& context, int port)
        : socket(new KL_TcpClientSocket(KL_SOCKET_FLAG_CANCELLABLE)) {
        (void)socket->SetReadTimeout(10000);
        KL_InputStreamReference input;
        KL_OutputStreamReference output;
        connected =
            KL_SUCCEEDED(socket->Connect(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), port), 10000)) &&
            KL_SUCCEEDED(socket->GetInputStream(input)) && KL_SUCCEEDED(socket->GetOutputStream(output));
        session = std::make_unique<KL_TlsClientSession>(context, input, output);
        session->SetServerName("localhost");
    }
    std::unique_ptr<KL_TcpClientSocket> socket;
    std::unique_ptr<KL_TlsClientSession> session;
    bool connected = false;
};

std::string Hex(const KL_Byte* bytes, size_t size) {
    std::string text;
    char part[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(part, sizeof part, i == 0 ? "%02X" : ":%02X", bytes[i]);
        text += part;
    }
    return text;
}

std::string Capture(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t count = 0;
        while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            text.append(buffer, count);
        }
        pclose(pipe);
    }
    return text;
}

std::string Iso(const KL_DateTime& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02dZ", date.m_Year, date.m_Month, date.m_Day,
                  date.m_Hours, date.m_Minutes, date.m_Seconds);
    return text;
}

class TlsSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_Certificates = new Certificates(); }
    static void TearDownTestSuite() { delete s_Certificates; }
    void SetUp() override {
        if (!s_Certificates->Ok()) {
            GTEST_SKIP() << "the openssl tool could not make the test certificates";
        }
    }
    static Certificates* s_Certificates;
};

Certificates* TlsSession::s_Certificates = nullptr;

TEST_F(TlsSession, AnswersInvalidStateBeforeTheHandshake) {
    KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
    KL_TlsClientSession session(context, KL_InputStreamReference(), KL_OutputStreamReference());
    KL_TlsCertificateInfo info;
    KL_DataBuffer id;
    EXPECT_EQ(session.GetHandshakeStatus(), KL_ERROR_INVALID_STATE);
    EXPECT_EQ(session.VerifyPeerCertificate(), KL_ERROR_INVALID_STATE);
    EXPECT_EQ(session.VerifyDnsNameMatch("localhost"), KL_ERROR_INVALID_STATE);
    EXPECT_EQ(session.VerifyDnsNameMatch(nullptr), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(session.GetSessionId(id), KL_ERROR_INVALID_STATE);
    EXPECT_EQ(session.GetCipherSuiteId(), 0u);
    EXPECT_EQ(session.GetPeerCertificateInfo(info), KL_ERROR_INVALID_STATE);
    // Without streams the handshake fails as a lost connection.
    EXPECT_EQ(session.Handshake(), KL_ERROR_CONNECTION_ABORTED);
}

TEST_F(TlsSession, WildcardNamesCoverOneLabel) {
    OpenSslServer server(*s_Certificates, "wildcard");
    KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
    ClientSession client(context, server.Port());
    ASSERT_TRUE(client.connected);
    ASSERT_EQ(client.session->Handshake(), KL_SUCCESS);
    EXPECT_EQ(client.session->VerifyPeerCertificate(), KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR);
    const std::pair<const char*, KL_Result> rows[] = {
        {"a.localhost", KL_SUCCESS}, {"A.LocalHost", KL_SUCCESS},   {"wild", KL_SUCCESS},
        {"localhost", KL_FAILURE},   {"a.b.localhost", KL_FAILURE},
    };
    for (const auto& [name, expected] : rows) {
        EXPECT_EQ(client.session->VerifyDnsNameMatch(name), expected) << name;
    }
}

TEST_F(TlsSession, DescribesThePeerCertificateAsOpensslDoes) {
    OpenSslServer server(*s_Certificates, "leaf");
    KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
    ClientSession client(context, server.Port());
    ASSERT_TRUE(client.connected);
    ASSERT_EQ(client.session->Handshake(), KL_SUCCESS);
    KL_TlsCertificateInfo info;
    ASSERT_EQ(client.session->GetPeerCertificateInfo(info, 0), KL_SUCCESS);
    EXPECT_EQ(client.session->GetPeerCertificateInfo(info, 5), KL_ERROR_NO_SUCH_ITEM);
    const std::string pem = s_Certificates->Path("leaf.pem");
    const std::string expected = Capture("openssl x509 -in " + pem +
                                         " -noout -subject -issuer -dates -dateopt iso_8601 -nameopt RFC2253 "
                                         "-fingerprint -sha1") +
                                 Capture("openssl x509 -in " + pem + " -noout -fingerprint -md5");
    const std::string actual =
        "subject=OU=" + std::string(info.subject.organizational_name.GetChars()) +
        ",O=" + info.subject.organization.GetChars() + ",CN=" + info.subject.common_name.GetChars() +
        "\nissuer=OU=" + info.issuer.organizational_name.GetChars() +
        ",O=" + info.issuer.organization.GetChars() + ",CN=" + info.issuer.common_name.GetChars() +
        "\nnotBefore=" + Iso(info.issue_date) + "\nnotAfter=" + Iso(info.expiration_date) +
        "\nsha1 Fingerprint=" + Hex(info.fingerprint.sha1, 20) +
        "\nmd5 Fingerprint=" + Hex(info.fingerprint.md5, 16) + "\n";
    EXPECT_EQ(actual, expected);
    ASSERT_EQ(info.alternate_names.GetItemCount(), 1u);
    EXPECT_EQ(*info.alternate_names.GetFirstItem(), "localhost");
}

TEST_F(TlsSession, OwnServerSessionServesAndCloses) {
    KeelTlsServer server(true);
    ASSERT_TRUE(server.Ok());
    KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
    ClientSession client(context, std::stoi(server.Url("x").substr(10)));
    ASSERT_TRUE(client.connected);
    ASSERT_EQ(client.session->Handshake(), KL_SUCCESS);
    EXPECT_EQ(client.session->GetHandshakeStatus(), KL_SUCCESS);
    EXPECT_EQ(client.session->VerifyPeerCertificate(), KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED);
    EXPECT_EQ(client.session->VerifyDnsNameMatch("localhost"), KL_SUCCESS);
    EXPECT_NE(client.session->GetCipherSuiteId(), 0u);
    KL_DataBuffer id;
    EXPECT_EQ(client.session->GetSessionId(id), KL_SUCCESS);
    KL_TlsCertificateInfo info;
    ASSERT_EQ(client.session->GetPeerCertificateInfo(info), KL_SUCCESS);
    EXPECT_EQ(info.subject.common_name, "localhost");
    EXPECT_EQ(info.issuer.organization, "Keel");
    KL_InputStreamReference input;
    ASSERT_EQ(client.session->GetInputStream(input), KL_SUCCESS);
    char byte = 0;
    KL_Size count = 7;
    EXPECT_EQ(input->Read(&byte, 0, &count), KL_SUCCESS);
    EXPECT_EQ(count, 0u);
    // The server drops the TCP connection without a word: the end of the stream.
    EXPECT_EQ(input->Read(&byte, 1, &count), KL_ERROR_EOS);
    KL_Position position = 1;
    EXPECT_EQ(input->Seek(0), KL_ERROR_NOT_IMPLEMENTED);
    EXPECT_EQ(input->Tell(position), KL_SUCCESS);
    EXPECT_EQ(position, 0u);
}

// Failures that really happen, each through openssl s_server, and the result code each reaches.
TEST_F(TlsSession, RealFailuresReachTheirResultCodes) {
    struct Case {
        const char* certificate;
        std::vector<std::string> server_options;
        bool trust_ca;
        KL_Result handshake;
        const char* host; // for the name check after a good handshake
        KL_Result name_check;
    };
    // Only ciphers for an ECDSA key while the server holds an RSA one: no cipher to agree on.
    const std::vector<std::string> no_shared_cipher = {"-no_tls1_3", "-cipher",
                                                       "ECDHE-ECDSA-AES128-GCM-SHA256"};
    const Case cases[] = {
        {"expired", {}, true, KL_ERROR_TLS_CERTIFICATE_EXPIRED, nullptr, KL_SUCCESS},
        {"self", {}, false, KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED, nullptr, KL_SUCCESS},
        {"leaf", {}, false, KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR, nullptr, KL_SUCCESS},
        {"leaf", {}, true, KL_SUCCESS, "elsewhere.invalid", KL_FAILURE},
        {"leaf", {}, true, KL_SUCCESS, "localhost", KL_SUCCESS},
        {"leaf", no_shared_cipher, true, KL_ERROR_TLS_ALERT_HANDSHAKE_FAILED, nullptr, KL_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.certificate) + " options " + std::to_string(c.server_options.size()) +
                     " trusted " + std::to_string(c.trust_ca));
        OpenSslServer server(*s_Certificates, c.certificate, c.server_options);
        ASSERT_NE(server.Port(), 0);
        KL_TlsContext context(0);
        if (c.trust_ca) {
            const std::string der = ReadFile(s_Certificates->Path("ca.der"));
            ASSERT_EQ(context.AddTrustAnchor(reinterpret_cast<const KL_Byte*>(der.data()),
                                             static_cast<KL_Size>(der.size())),
                      KL_SUCCESS);
        }
        ClientSession client(context, server.Port());
        ASSERT_TRUE(client.connected);
        EXPECT_EQ(client.session->Handshake(), c.handshake);
        if (c.host != nullptr) {
            EXPECT_EQ(client.session->VerifyDnsNameMatch(c.host), c.name_check);
        }
    }
}

TEST_F(TlsSession, InputStreamTellsTheBytesRead) {
    KeelTlsServer server;
    ASSERT_TRUE(server.Ok());
    KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
    ClientSession client(context, std::stoi(server.Url("x").substr(10)));
    ASSERT_TRUE(client.connected);
    ASSERT_EQ(client.session->Handshake(), KL_SUCCESS);
    KL_InputStreamReference input;
    KL_OutputStreamReference output;
    ASSERT_EQ(client.session->GetInputStream(input), KL_SUCCESS);
    ASSERT_EQ(client.session->GetOutputStream(output), KL_SUCCESS);
    ASSERT_EQ(output->WriteString("GET / HTTP/1.1\r\n\r\n"), KL_SUCCESS);
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    std::string received;
    char buffer[8];
    while (received.size() < answer.size()) {
        KL_Size count = 0;
        ASSERT_EQ(input->Read(buffer, sizeof buffer, &count), KL_SUCCESS);
        received.append(buffer, count);
    }
    EXPECT_EQ(received, answer);
    KL_Position position = 0;
    EXPECT_EQ(input->Tell(position), KL_SUCCESS);
    EXPECT_EQ(position, answer.size());
}

TEST_F(TlsSession, LoadsKeysInEachFormat) {
    const std::string key = s_Certificates->Path("leaf.key");
    const std::string p12 = s_Certificates->Path("leaf.p12");
    ASSERT_TRUE(tls_test::Run("openssl pkcs12 -export -passout pass:secret -inkey " + key + " -in " +
                              s_Certificates->Path("leaf.pem") + " -out " + p12));
    ASSERT_TRUE(tls_test::Run("openssl pkcs8 -topk8 -v2 aes-128-cbc -passout pass:secret -in " + key +
                              " -outform DER -out " + key + ".p8"));
    struct Row {
        uint32_t format;
        std::string file;
        const char* password;
        KL_Result expected;
    };
    const Row rows[] = {
        {KL_TlsContext::KEY_FORMAT_RSA, key, nullptr, KL_SUCCESS},
        {KL_TlsContext::KEY_FORMAT_PKCS8, key + ".p8", "secret", KL_SUCCESS},
        {KL_TlsContext::KEY_FORMAT_PKCS8, key + ".p8", "wrong", KL_ERROR_TLS_INVALID_KEY},
        {KL_TlsContext::KEY_FORMAT_PKCS12, p12, "secret", KL_SUCCESS},
        {KL_TlsContext::KEY_FORMAT_PKCS12, p12, "wrong", KL_ERROR_TLS_INVALID_KEY},
        {KL_TlsContext::KEY_FORMAT_RSA, s_Certificates->Path("leaf.pem"), nullptr, KL_ERROR_TLS_INVALID_KEY},
        {3, key, nullptr, KL_ERROR_INVALID_PARAMETERS},
    };
    for (const Row& row : rows) {
        KL_TlsContext context(0);
        const std::string bytes = ReadFile(row.file);
        EXPECT_EQ(context.LoadKey(row.format, reinterpret_cast<const KL_Byte*>(bytes.data()),
                                  static_cast<KL_Size>(bytes.size()), row.password),
                  row.expected)
            << row.file << " format " << row.format;
    }
    KL_TlsContext context(0);
    const std::string bytes = ReadFile(key);
    ASSERT_EQ(context.LoadKey(0, reinterpret_cast<const KL_Byte*>(bytes.data()),
                              static_cast<KL_Size>(bytes.size())),
              KL_SUCCESS);
    EXPECT_EQ(context.SelfSignCertificate("name", "org", "unit"), KL_SUCCESS);
    EXPECT_EQ(context.AddTrustAnchor(reinterpret_cast<const KL_Byte*>("junk"), 4),
              KL_ERROR_TLS_BAD_CERTIFICATE);
}

TEST(TlsContext, DefaultTrustAnchorsComeFromTheSystemBundle) {
    const KL_TlsContext::TrustAnchor* table = KL_TlsContext::GetTrustAnchorTable(0);
    ASSERT_NE(table, nullptr);
    size_t count = 0;
    while (table[count].m_Data != nullptr && table[count].m_Size != 0) {
        ++count;
    }
    EXPECT_GT(count, 10u); // Debian's ca-certificates
    ASSERT_NE(KL_TlsContext::GetTrustAnchorTable(2), nullptr);
    EXPECT_EQ(KL_TlsContext::GetTrustAnchorTable(2)[0].m_Data, nullptr);
    EXPECT_EQ(KL_TlsContext::GetTrustAnchorTable(1), nullptr);
    EXPECT_EQ(KL_TlsContext::GetDefaultContext(), KL_TlsContext::GetDefaultContext());
    EXPECT_EQ(KL_TlsContext::GetDefaultContext()->GetOptions(), 5u);
}

} // namespace
