// Basic and Digest access authentication, checked with credentials computed here.

#include "CoreTestSupport.h"
#include "WebServerDigestNonces.h"
#include "foundation/Digest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

using coretest::get;
using coretest::HttpReply;

namespace {

class CoreAuthentication : public coretest::ServerTest {
protected:
    void SetUp() override { coretest::addEchoHandler(*server, &handlerCalls); }

    bool startWith(const std::string& method, std::optional<std::string> realm = std::string("R")) {
        ServerOptions options{
            {WebServerOption_AuthenticationMethod, method},
            {WebServerOption_AuthenticationAccounts, ServerAccounts{{"u", "p"}, {"other", "pw2"}}}};
        if (realm) {
            options[WebServerOption_AuthenticationRealm] = *realm;
        }
        return startServer(options);
    }

    // The nonce the server offers in its challenge.
    std::string challengeNonce() {
        HttpReply reply = get(port(), "/secret");
        const std::string* challenge = reply.header("WWW-Authenticate");
        std::smatch match;
        if (!challenge ||
            !std::regex_match(*challenge, match,
                              std::regex("Digest realm=\"R\", nonce=\"([0-9a-f]{64})\", qop=\"auth\""))) {
            ADD_FAILURE() << "unexpected challenge " << (challenge ? *challenge : "(none)");
            return {};
        }
        return match[1];
    }

    static std::string md5(const std::string& text) { return platform::md5Hex(text); }

    static std::string digestHeader(const std::string& user, const std::string& password,
                                    const std::string& realm, const std::string& nonce,
                                    const std::string& method, const std::string& uri) {
        const std::string ha1 = md5(user + ":" + realm + ":" + password);
        const std::string ha2 = md5(method + ":" + uri);
        const std::string response = md5(ha1 + ":" + nonce + ":" + ha2);
        return "Authorization: Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
               "\", uri=\"" + uri + "\", response=\"" + response + "\"\r\n";
    }

    // An answer with qop=auth, as curl, browsers and neon give it (`blank` around each "=").
    static std::string digestHeaderWithQop(const std::string& nonce, const std::string& nc,
                                           const std::string& uri, const std::string& blank = "") {
        const std::string ha1 = md5("u:R:p");
        const std::string response = md5(ha1 + ":" + nonce + ":" + nc + ":c0ffee:auth:" + md5("GET:" + uri));
        const std::string eq = blank + "=" + blank;
        return "Authorization: Digest username" + eq + "\"u\", realm" + eq + "\"R\", nonce" + eq + "\"" +
               nonce + "\", uri" + eq + "\"" + uri + "\", cnonce" + eq + "\"c0ffee\", nc" + eq + nc +
               ", qop" + eq + "auth, response" + eq + "\"" + response + "\"\r\n";
    }
};

} // namespace

TEST_F(CoreAuthentication, Basic) {
    ASSERT_TRUE(startWith(WebServerAuthenticationMethod_Basic));
    HttpReply reply = get(port(), "/secret");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 401 Unauthorized");
    ASSERT_NE(reply.header("WWW-Authenticate"), nullptr);
    EXPECT_EQ(*reply.header("WWW-Authenticate"), "Basic realm=\"R\"");
    EXPECT_EQ(reply.header("Content-Length"), nullptr);
    for (const std::string value :
         {"Basic dTpx", "basic dTpw", "Basic  dTpw", "Basic", "Digest dTpw", "dTpw"}) {
        EXPECT_EQ(get(port(), "/secret", "Authorization: " + value + "\r\n").status, 401) << value;
    }
    EXPECT_EQ(handlerCalls, 0);
    // "u:p" and "other:pw2" in Base64.
    EXPECT_EQ(get(port(), "/secret", "Authorization: Basic dTpw\r\n").body, "GET /secret\n");
    EXPECT_EQ(get(port(), "/secret", "Authorization: Basic b3RoZXI6cHcy\r\n").status, 200);
    EXPECT_EQ(handlerCalls, 2);
}

TEST_F(CoreAuthentication, DigestWithCorrectResponse) {
    ASSERT_TRUE(startWith(WebServerAuthenticationMethod_DigestAccess));
    const std::string nonce = challengeNonce();
    EXPECT_FALSE(nonce.empty());
    EXPECT_EQ(handlerCalls, 0);
    HttpReply reply = get(port(), "/secret?x=1", digestHeader("u", "p", "R", nonce, "GET", "/secret?x=1"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "GET /secret\n");
}

TEST_F(CoreAuthentication, DigestWithWrongPasswordOrUser) {
    ASSERT_TRUE(startWith(WebServerAuthenticationMethod_DigestAccess));
    const std::string nonce = challengeNonce();
    for (const std::string& header : {digestHeader("u", "wrong", "R", nonce, "GET", "/secret"),
                                      digestHeader("nobody", "p", "R", nonce, "GET", "/secret"),
                                      digestHeader("u", "p", "R", nonce, "POST", "/secret")}) {
        HttpReply reply = get(port(), "/secret", header);
        EXPECT_EQ(reply.status, 401) << header;
        ASSERT_NE(reply.header("WWW-Authenticate"), nullptr);
        EXPECT_EQ(reply.header("WWW-Authenticate")->find("stale"), std::string::npos);
    }
    EXPECT_EQ(handlerCalls, 0);
}

TEST_F(CoreAuthentication, DigestWithAStaleNonce) {
    ASSERT_TRUE(startWith(WebServerAuthenticationMethod_DigestAccess));
    const std::string nonce = challengeNonce();
    const std::string old = "0123456789abcdef0123456789abcdef";
    HttpReply reply = get(port(), "/secret", digestHeader("u", "p", "R", old, "GET", "/secret"));
    EXPECT_EQ(reply.status, 401);
    EXPECT_TRUE(
        std::regex_match(*reply.header("WWW-Authenticate"),
                         std::regex("Digest realm=\"R\", nonce=\"[0-9a-f]{64}\", qop=\"auth\", stale=TRUE")));
    // Another realm with another nonce is simply wrong, not stale.
    reply = get(port(), "/secret", digestHeader("u", "p", "Elsewhere", old, "GET", "/secret"));
    EXPECT_EQ(reply.header("WWW-Authenticate")->find("stale"), std::string::npos);
    EXPECT_EQ(handlerCalls, 0);
    (void)nonce;
}

// A sniffed header authorises its own request only, and only for the nonce's lifetime.
TEST_F(CoreAuthentication, DigestBindsTheRequestTargetAndExpires) {
    ASSERT_TRUE(
        startServer({{WebServerOption_AuthenticationMethod, WebServerAuthenticationMethod_DigestAccess},
                     {WebServerOption_AuthenticationAccounts, ServerAccounts{{"u", "p"}}},
                     {WebServerOption_AuthenticationRealm, std::string("R")},
                     {WebServerOption_DigestNonceLifetime, 1.0}}));
    const std::string header = digestHeader("u", "p", "R", challengeNonce(), "GET", "/secret");
    EXPECT_EQ(get(port(), "/other", header).status, 401); // the uri is not this request's
    EXPECT_EQ(get(port(), "/secret", header).status, 200);
    // The scheme in any case, and parameters found only at their boundaries (cnonce first).
    std::string lower = digestHeader("u", "p", "R", challengeNonce(), "GET", "/secret");
    lower.replace(lower.find("Digest"), 6, "dIGEST");
    EXPECT_EQ(get(port(), "/secret", lower).status, 200);
    std::string withCnonce = digestHeader("u", "p", "R", challengeNonce(), "GET", "/secret");
    withCnonce.insert(withCnonce.find("username"), "cnonce=\"x\", ");
    EXPECT_EQ(get(port(), "/secret", withCnonce).status, 200);
    const std::string unused = digestHeader("u", "p", "R", challengeNonce(), "GET", "/secret");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    HttpReply reply = get(port(), "/secret", unused);
    EXPECT_EQ(reply.status, 401);
    ASSERT_NE(reply.header("WWW-Authenticate"), nullptr);
    EXPECT_NE(reply.header("WWW-Authenticate")->find(", stale=TRUE"), std::string::npos);
    EXPECT_EQ(handlerCalls, 3);
}

// Every answer authorises one request: a sniffed header replayed (on its own URL or another) is
// refused, with stale=TRUE so that a client holding the password answers a fresh nonce.
TEST_F(CoreAuthentication, DigestAnswersAreTakenOnce) {
    ASSERT_TRUE(startWith(WebServerAuthenticationMethod_DigestAccess));
    const std::string withoutQop = digestHeader("u", "p", "R", challengeNonce(), "GET", "/secret");
    const std::string nonce = challengeNonce();
    const struct {
        std::string header;
        std::string path;
        int status;
    } cases[] = {
        {withoutQop, "/secret", 200},
        {withoutQop, "/secret", 401}, // without qop: once per nonce
        {digestHeaderWithQop(nonce, "00000001", "/secret"), "/secret", 200},
        {digestHeaderWithQop(nonce, "00000001", "/secret"), "/secret", 401}, // the same nc again
        {digestHeaderWithQop(nonce, "00000001", "/secret"), "/other", 401},
        {digestHeaderWithQop(nonce, "00000003", "/secret", " "), "/secret", 200}, // blanks around "="
        {digestHeaderWithQop(nonce, "00000002", "/secret"), "/secret", 200},      // out of order
        {digestHeaderWithQop(nonce, "00000002", "/secret"), "/secret", 401},
        {digestHeaderWithQop(nonce, "00000000", "/secret"), "/secret", 401},
    };
    for (const auto& c : cases) {
        HttpReply reply = get(port(), c.path, c.header);
        EXPECT_EQ(reply.status, c.status) << c.path << " " << c.header;
        if (c.status == 401 && c.path == "/secret" && c.header.find("00000000") == std::string::npos) {
            ASSERT_NE(reply.header("WWW-Authenticate"), nullptr);
            EXPECT_NE(reply.header("WWW-Authenticate")->find(", stale=TRUE"), std::string::npos) << c.header;
        }
    }
    EXPECT_EQ(handlerCalls, 4);
}

// Without credentials the answer comes on the head: no "100 Continue", no body read (a client
// announcing a gigabyte gets its 401 at once), no handler.
TEST_F(CoreAuthentication, RequestsWithoutCredentialsAreRefusedOnTheHead) {
    ASSERT_TRUE(startWith(WebServerAuthenticationMethod_DigestAccess));
    for (const std::string expect : {"", "Expect: 100-continue\r\n"}) {
        coretest::RawClient client;
        ASSERT_TRUE(client.connect(AF_INET, port()));
        ASSERT_TRUE(client.send("POST /secret HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n" + expect +
                                "Content-Length: 1000000000\r\n\r\nsome of it"));
        const std::string raw = client.readUntil("\r\n\r\n");
        EXPECT_EQ(raw.rfind("HTTP/1.1 401 ", 0), 0u) << raw; // nothing (no 100) before it
    }
    EXPECT_EQ(handlerCalls, 0);
    // With credentials, "100 Continue" comes first and the body is read.
    HttpReply reply = coretest::exchange(
        port(), "POST /secret HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n"
                "Expect: 100-continue\r\nContent-Length: 2\r\n" +
                    digestHeader("u", "p", "R", challengeNonce(), "POST", "/secret") + "\r\nhi");
    EXPECT_EQ(reply.raw.rfind("HTTP/1.1 100 Continue", 0), 0u) << reply.raw;
    EXPECT_NE(reply.raw.find("HTTP/1.1 200 OK"), std::string::npos) << reply.raw;
}

// The table of answers is bounded and fails closed: a nonce whose entry had to go is never taken
// as unused again, and an nc far below the highest seen is refused.
TEST(CoreDigestNonces, WindowAndBoundFailClosed) {
    WebServerDigestNonces nonces("key", 300);
    const std::string first = nonces.makeNonce();
    EXPECT_EQ(nonces.check(first), WebServerDigestNonces::State::fresh);
    std::string forged = first;
    forged[20] = forged[20] == '1' ? '2' : '1'; // another serial number with the same hash
    EXPECT_EQ(nonces.check(forged), WebServerDigestNonces::State::invalid);
    EXPECT_TRUE(nonces.recordAnswer(first, 100));
    EXPECT_TRUE(nonces.recordAnswer(first, 36));  // 64 below the highest: still within the window
    EXPECT_FALSE(nonces.recordAnswer(first, 35)); // beyond it
    EXPECT_FALSE(nonces.recordAnswer(first, 36));
    for (std::size_t i = 0; i < WebServerDigestNonces::kMaximumEntries; ++i) {
        ASSERT_TRUE(nonces.recordAnswer(nonces.makeNonce(), 1));
    }
    EXPECT_FALSE(nonces.recordAnswer(first, 200)); // forgotten, so no longer known to be unused
    EXPECT_FALSE(nonces.recordAnswer(first, std::nullopt));
    EXPECT_TRUE(nonces.recordAnswer(nonces.makeNonce(), std::nullopt)); // a new nonce still works
}
