// The stream adapter hands each failure of the underlying streams up as the TLS layer's result:
// the end of the stream KL_ERROR_EOS, a time-out KL_ERROR_TIMEOUT, anything else
// KL_ERROR_CONNECTION_ABORTED, whichever read or write of a handshake and an exchange fails.
#include "KL_TcpClientSocket.h"
#include "TlsTestSupport.h"

#include <gtest/gtest.h>
#include <memory>

using namespace tls_test;

namespace {

// Counts the reads and writes of a pair of streams together; the n-th call fails.
struct CallCounter {
    int calls = 0;
    int fail_at = 0;
    KL_Result failure = KL_SUCCESS;
    bool Fails() { return ++calls == fail_at; }
};

class FailingInput : public KL_InputStream {
public:
    FailingInput(const KL_InputStreamReference& inner, CallCounter& counter)
        : m_Inner(inner), m_Counter(counter) {}
    KL_Result Read(void* buffer, KL_Size size, KL_Size* bytes_read) override {
        if (bytes_read != nullptr) {
            *bytes_read = 0;
        }
        return m_Counter.Fails() ? m_Counter.failure : m_Inner->Read(buffer, size, bytes_read);
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override { return m_Inner->Tell(offset); }
    KL_Result GetSize(KL_LargeSize& size) override { return m_Inner->GetSize(size); }
    KL_Result GetAvailable(KL_LargeSize& available) override { return m_Inner->GetAvailable(available); }

private:
    KL_InputStreamReference m_Inner;
    CallCounter& m_Counter;
};

class FailingOutput : public KL_OutputStream {
public:
    FailingOutput(const KL_OutputStreamReference& inner, CallCounter& counter)
        : m_Inner(inner), m_Counter(counter) {}
    KL_Result Write(const void* data, KL_Size size, KL_Size* bytes_written) override {
        if (bytes_written != nullptr) {
            *bytes_written = 0;
        }
        return m_Counter.Fails() ? m_Counter.failure : m_Inner->Write(data, size, bytes_written);
    }
    KL_Result Seek(KL_Position) override { return KL_ERROR_NOT_SUPPORTED; }
    KL_Result Tell(KL_Position& offset) override { return m_Inner->Tell(offset); }

private:
    KL_OutputStreamReference m_Inner;
    CallCounter& m_Counter;
};

// A handshake, a request and its answer; the first failure.
KL_Result Exchange(int port, CallCounter& counter) {
    KL_TcpClientSocket socket(KL_SOCKET_FLAG_CANCELLABLE);
    (void)socket.SetReadTimeout(10000);
    KL_InputStreamReference input;
    KL_OutputStreamReference output;
    if (KL_FAILED(socket.Connect(KL_SocketAddress(KL_IpAddress(127, 0, 0, 1), port), 10000)) ||
        KL_FAILED(socket.GetInputStream(input)) || KL_FAILED(socket.GetOutputStream(output))) {
        return KL_ERROR_CONNECTION_REFUSED;
    }
    KL_TlsContext context(KL_TlsContext::OPTION_VERIFY_LATER);
    KL_TlsClientSession session(context, KL_InputStreamReference(new FailingInput(input, counter)),
                                KL_OutputStreamReference(new FailingOutput(output, counter)));
    KL_Result result = session.Handshake();
    if (KL_FAILED(result)) {
        return result;
    }
    KL_InputStreamReference tls_input;
    KL_OutputStreamReference tls_output;
    (void)session.GetInputStream(tls_input);
    (void)session.GetOutputStream(tls_output);
    const char request[] = "GET / HTTP/1.1\r\n\r\n";
    result = tls_output->WriteFully(request, sizeof request - 1);
    std::string answer;
    char buffer[256];
    while (KL_SUCCEEDED(result) && answer.find("\r\n\r\nok") == std::string::npos) {
        KL_Size count = 0;
        result = tls_input->Read(buffer, sizeof buffer, &count);
        answer.append(buffer, count);
    }
    return result;
}

TEST(TlsStreamAdapter, HandsUpEveryStreamFailure) {
    KeelTlsServer server;
    ASSERT_TRUE(server.Ok());
    const int port = std::stoi(server.Url("x").substr(10));
    const std::pair<KL_Result, KL_Result> kinds[] = {
        {KL_ERROR_EOS, KL_ERROR_EOS},
        {KL_ERROR_TIMEOUT, KL_ERROR_TIMEOUT},
        {KL_ERROR_CONNECTION_RESET, KL_ERROR_CONNECTION_ABORTED},
        {KL_ERROR_CANCELLED, KL_ERROR_CONNECTION_ABORTED},
    };
    for (const auto& [failure, expected] : kinds) {
        for (int call = 1;; ++call) {
            CallCounter counter;
            counter.fail_at = call;
            counter.failure = failure;
            const KL_Result result = Exchange(port, counter);
            if (counter.calls < call) {
                EXPECT_EQ(result, KL_SUCCESS);
                break;
            }
            EXPECT_EQ(result, expected) << "failure " << failure << " at call " << call;
            ASSERT_LT(call, 200);
        }
    }
}

} // namespace
