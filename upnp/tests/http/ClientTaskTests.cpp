#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_System.h"
#include "UP_HttpClientSocketTask.h"
#include "UP_TaskManager.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A loopback listener that answers every request with a fixed answer and records the request
// lines, until it is destroyed.
class CannedServer {
public:
    explicit CannedServer(std::string answer) : m_Answer(std::move(answer)) {
        m_Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t length = sizeof(address);
        ::getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_Port = ntohs(address.sin_port);
        ::listen(m_Fd, 8);
        m_Thread = std::thread([this] { Serve(); });
    }
    ~CannedServer() {
        m_Stop = true;
        ::shutdown(m_Fd, SHUT_RDWR);
        int client = m_Client.load();
        if (client >= 0) {
            ::shutdown(client, SHUT_RDWR);
        }
        m_Thread.join();
        ::close(m_Fd);
    }
    uint16_t GetPort() const { return m_Port; }
    std::vector<std::string> GetRequestLines() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_RequestLines;
    }

private:
    void Serve() {
        while (!m_Stop) {
            int client = ::accept(m_Fd, nullptr, nullptr);
            if (client < 0) {
                return;
            }
            m_Client = client;
            if (m_Stop) {
                ::shutdown(client, SHUT_RDWR);
            }
            timeval tv{5, 0};
            ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
            std::string head;
            char c;
            while (!m_Stop && ::recv(client, &c, 1, 0) == 1) {
                head += c;
                if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) {
                    {
                        std::lock_guard<std::mutex> lock(m_Mutex);
                        m_RequestLines.push_back(head.substr(0, head.find("\r\n")));
                    }
                    ::send(client, m_Answer.data(), m_Answer.size(), MSG_NOSIGNAL);
                    head.clear();
                }
            }
            m_Client = -1;
            ::close(client);
        }
    }

    std::string m_Answer;
    int m_Fd;
    uint16_t m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::atomic<int> m_Client{-1};
    std::mutex m_Mutex;
    std::vector<std::string> m_RequestLines;
    std::thread m_Thread;
};

struct Outcome {
    std::atomic<int> calls{0};
    std::atomic<int> status{0};
    std::atomic<KL_Result> processed{KL_FAILURE};
};

class RecordingTask : public UP_HttpClientSocketTask {
public:
    RecordingTask(KL_HttpRequest* request, bool wait_forever, Outcome& outcome)
        : UP_HttpClientSocketTask(request, wait_forever), m_Outcome(outcome) {}
    KL_Result ProcessResponse(KL_Result result, KL_HttpRequest& request, const KL_SocketInfo& info,
                              KL_HttpResponse* response) override {
        m_Outcome.status = response ? response->GetStatusCode() : 0;
        KL_Result processed = UP_HttpClientSocketTask::ProcessResponse(result, request, info, response);
        m_Outcome.processed = processed;
        ++m_Outcome.calls;
        return processed;
    }

private:
    Outcome& m_Outcome;
};

KL_HttpRequest* Notify(uint16_t port, const char* path) {
    std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    return new KL_HttpRequest(url.c_str(), "NOTIFY", KL_HTTP_PROTOCOL_1_1);
}

bool WaitForNoTasks(UP_TaskManager& manager) {
    for (int i = 0; i < 400 && manager.GetTaskCount() != 0; ++i) {
        KL_System::Sleep(KL_TimeStamp::FromMillis(50));
    }
    return manager.GetTaskCount() == 0;
}

} // namespace

// One request, not waiting for more: the request goes out, an error answer is read to its end
// without failing, and the task ends by itself.
TEST(HttpClientSocketTaskTest, SendsItsRequestAndEnds) {
    CannedServer server("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\nerror");
    UP_TaskManager manager;
    Outcome outcome;
    ASSERT_EQ(manager.StartTask(new RecordingTask(Notify(server.GetPort(), "/cb"), false, outcome)),
              KL_SUCCESS);
    ASSERT_TRUE(WaitForNoTasks(manager));
    EXPECT_EQ(outcome.calls.load(), 1);
    EXPECT_EQ(outcome.status.load(), 500);
    EXPECT_EQ(outcome.processed.load(), KL_SUCCESS);
    EXPECT_EQ(server.GetRequestLines(), std::vector<std::string>{"NOTIFY /cb HTTP/1.1"});
}

// Waiting for ever: requests added later go out in order until the task is stopped; a request
// that cannot be sent reaches ProcessResponse with its failure.
TEST(HttpClientSocketTaskTest, WaitsForFurtherRequestsUntilStopped) {
    CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    UP_TaskManager manager;
    Outcome outcome;
    RecordingTask* task = new RecordingTask(nullptr, true, outcome);
    ASSERT_EQ(manager.StartTask(task), KL_SUCCESS);
    ASSERT_EQ(task->AddRequest(Notify(server.GetPort(), "/1")), KL_SUCCESS);
    ASSERT_EQ(task->AddRequest(Notify(server.GetPort(), "/2")), KL_SUCCESS);
    for (int i = 0; i < 400 && outcome.calls.load() < 2; ++i) {
        KL_System::Sleep(KL_TimeStamp::FromMillis(50));
    }
    EXPECT_EQ(outcome.calls.load(), 2);
    EXPECT_EQ(outcome.processed.load(), KL_SUCCESS);
    EXPECT_EQ(manager.StopAllTasks(), KL_SUCCESS);
    EXPECT_EQ(manager.GetTaskCount(), 0u);
    EXPECT_EQ(server.GetRequestLines(),
              (std::vector<std::string>{"NOTIFY /1 HTTP/1.1", "NOTIFY /2 HTTP/1.1"}));

    // Nobody listens on a port of a closed listener: the failure is handed to ProcessResponse.
    uint16_t closed_port = 0;
    {
        CannedServer gone("");
        closed_port = gone.GetPort();
    }
    UP_TaskManager second;
    Outcome failed;
    ASSERT_EQ(second.StartTask(new RecordingTask(Notify(closed_port, "/x"), false, failed)), KL_SUCCESS);
    ASSERT_TRUE(WaitForNoTasks(second));
    EXPECT_EQ(failed.calls.load(), 1);
    EXPECT_EQ(failed.status.load(), 0);
    EXPECT_TRUE(KL_FAILED(failed.processed.load()));
}

// Stopping the task cancels a send whose answer never comes.
TEST(HttpClientSocketTaskTest, StopCancelsAStalledSend) {
    CannedServer silent("");
    UP_TaskManager manager;
    Outcome outcome;
    ASSERT_EQ(manager.StartTask(new RecordingTask(Notify(silent.GetPort(), "/slow"), true, outcome)),
              KL_SUCCESS);
    for (int i = 0; i < 200 && silent.GetRequestLines().empty(); ++i) {
        KL_System::Sleep(KL_TimeStamp::FromMillis(50));
    }
    ASSERT_EQ(silent.GetRequestLines().size(), 1u);
    std::future<KL_Result> stopped =
        std::async(std::launch::async, [&manager] { return manager.StopAllTasks(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(outcome.calls.load(), 1);
    EXPECT_TRUE(KL_FAILED(outcome.processed.load()));
}
