// Hostile answers: every answer cut at every byte and randomly mutated answers (seeded; the seed
// is printed, KEEL_TEST_SEED repeats one) end in a result code or a response, never a crash, and
// memory stays bounded. Also: an Abort between redirects.
#include "ClientTestSupport.h"
#include "KL_HttpConnectionManager.h"
#include "KL_MemoryStream.h"
#include "ScriptServer.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using namespace client_test;

namespace {

const std::string kAnswers[] = {
    "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-A: b\r\n\r\nhello",
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x=y\r\nde\r\n0\r\nT: v\r\n\r\n",
    "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 302 Found\r\nLocation: y\r\nConnection: keep-alive\r\n\r\n",
};

// One fetch against a server that answers the bytes once and closes.
Outcome FetchAnswer(const std::string& bytes) {
    ScriptServer server([&](const std::string&, int index) {
        return index == 0 ? Reply{bytes, true} : Reply{"HTTP/1.1 404 No\r\nContent-Length: 0\r\n\r\n", true};
    });
    KL_HttpClient client;
    (void)client.SetTimeouts(5000, 5000, 5000);
    return Fetch(client, server.Url("/a/b"));
}

TEST(HttpClientBadInput, AnswersCutAtEveryByte) {
    for (const std::string& answer : kAnswers) {
        for (size_t cut = 0; cut < answer.size(); ++cut) {
            const Outcome outcome = FetchAnswer(answer.substr(0, cut));
            EXPECT_TRUE(KL_FAILED(outcome.result) || outcome.status != 0 || KL_FAILED(outcome.body_result))
                << "cut at " << cut;
        }
    }
}

TEST(HttpClientBadInput, MutatedAnswers) {
    const char* fixed = std::getenv("KEEL_TEST_SEED");
    const unsigned seed =
        fixed != nullptr ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : std::random_device()();
    std::printf("mutation seed %u (KEEL_TEST_SEED=%u repeats it)\n", seed, seed);
    std::mt19937 random(seed);
    for (int round = 0; round < 60; ++round) {
        std::string answer = kAnswers[round % 3];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % answer.size();
            switch (random() % 3) {
            case 0:
                answer[at] = static_cast<char>(random() % 256);
                break;
            case 1:
                answer.erase(at, 1 + random() % 3);
                break;
            default:
                answer.insert(at, std::string(1 + random() % 8, static_cast<char>(random() % 256)));
            }
            if (answer.empty()) {
                answer = "x";
            }
        }
        (void)FetchAnswer(answer); // any result will do; sanitizers judge the rest
    }
}

TEST(HttpClientBadInput, EndlessHeadsStopAtTheirBounds) {
    const std::string heads[] = {
        "HTTP/1.1 200 OK\r\n" + std::string(300000, 'h'),
        "HTTP/1.1 200 OK\r\n" +
            [] {
                std::string lines;
                for (int i = 0; i < 20000; ++i) {
                    lines += "X-" + std::to_string(i) + ": v\r\n";
                }
                return lines;
            }(),
        std::string(300000, 'H'),
    };
    for (const std::string& head : heads) {
        EXPECT_EQ(FetchAnswer(head).result, KL_ERROR_NOT_ENOUGH_SPACE) << head.substr(0, 20);
    }
}

TEST(HttpClientBadInput, UnusableLocationsEndTheRedirects) {
    for (const char* location : {"http://", "https://", "http://:80/x", "HTTP://127.0.0.1:99999/", ""}) {
        const Outcome outcome = FetchAnswer(std::string("HTTP/1.1 302 Found\r\nLocation: ") + location +
                                            "\r\nContent-Length: 0\r\n\r\n");
        EXPECT_TRUE(outcome.status == 302 || outcome.status == 404 || KL_FAILED(outcome.result)) << location;
    }
}

// A connection over fixed bytes whose deletion aborts its client: deleting the redirect
// answer (which holds it) lands between two redirects.
class AbortingConnection : public KL_HttpClient::Connection {
public:
    AbortingConnection(KL_HttpClient& client, const char* answer)
        : m_Client(client), m_Input(new KL_MemoryStream(answer, static_cast<KL_Size>(std::strlen(answer)))),
          m_Output(new KL_MemoryStream()) {}
    ~AbortingConnection() override {
        (void)KL_HttpConnectionManager::GetInstance()->UntrackConnection(this);
        (void)m_Client.Abort();
    }
    KL_InputStreamReference& GetInputStream() override { return m_Input; }
    KL_OutputStreamReference& GetOutputStream() override { return m_Output; }
    KL_Result GetInfo(KL_SocketInfo&) override { return KL_SUCCESS; }
    bool SupportsPersistence() override { return true; }
    bool IsRecycled() override { return false; }
    KL_Result Recycle() override {
        delete this;
        return KL_SUCCESS;
    }
    KL_Result Abort() override { return KL_SUCCESS; }

private:
    KL_HttpClient& m_Client;
    KL_InputStreamReference m_Input;
    KL_OutputStreamReference m_Output;
};

class AbortingConnector : public KL_HttpClient::Connector {
public:
    KL_Result Connect(const KL_HttpUrl&, KL_HttpClient& client, const KL_HttpProxyAddress*, bool,
                      KL_HttpClient::Connection*& connection) override {
        ++m_Connects;
        connection = new AbortingConnection(
            client, "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 4\r\n\r\nbody");
        const KL_Result result = client.TrackConnection(connection);
        if (KL_FAILED(result)) {
            delete connection;
            connection = nullptr;
        }
        return result;
    }
    int m_Connects = 0;
};

TEST(HttpClient, AbortBetweenRedirectsIsCancelled) {
    AbortingConnector connector;
    KL_HttpClient client(&connector);
    KL_HttpRequest request("http://127.0.0.1:1/", "GET", KL_HTTP_PROTOCOL_1_1);
    KL_HttpResponse* response = nullptr;
    EXPECT_EQ(client.SendRequest(request, response), KL_ERROR_CANCELLED);
    EXPECT_EQ(response, nullptr);
    EXPECT_EQ(connector.m_Connects, 1);
}

} // namespace
