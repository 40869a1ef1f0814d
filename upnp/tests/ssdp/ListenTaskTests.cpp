// The listen task's loop over a datagram source that fails.
#include "KL_System.h"
#include "KL_UdpSocket.h"
#include "UP_SsdpListenTask.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Every read fails with an error that is neither a time-out nor a cancel.
class FailingStream : public KL_InputStream {
public:
    explicit FailingStream(std::atomic<int>& reads) : m_Reads(reads) {}
    KL_Result Read(void*, KL_Size, KL_Size* bytes_read) override {
        if (bytes_read != nullptr) {
            *bytes_read = 0;
        }
        ++m_Reads;
        return KL_ERROR_CONNECTION_RESET;
    }
    KL_Result Seek(KL_Position) override { return KL_FAILURE; }
    KL_Result Tell(KL_Position&) override { return KL_FAILURE; }
    KL_Result GetSize(KL_LargeSize&) override { return KL_FAILURE; }
    KL_Result GetAvailable(KL_LargeSize&) override { return KL_FAILURE; }

private:
    std::atomic<int>& m_Reads;
};

class FailingListenTask : public UP_SsdpListenTask {
public:
    explicit FailingListenTask(std::atomic<int>& reads)
        : UP_SsdpListenTask(new KL_UdpSocket(KL_SOCKET_FLAG_CANCELLABLE)),
          m_Stream(new FailingStream(reads)) {}
    KL_Result GetInputStream(KL_InputStreamReference& stream) override {
        stream = m_Stream;
        return KL_SUCCESS;
    }

private:
    KL_InputStreamReference m_Stream;
};

TEST(SsdpListenTask, PausesAfterAReceiveError) {
    std::atomic<int> reads{0};
    FailingListenTask task(reads);
    ASSERT_EQ(KL_SUCCESS, task.Start());
    (void)KL_System::Sleep(KL_TimeStamp::FromMillis(550));
    (void)task.Stop(true);
    // 100 ms after each failure: about 6 reads, never a spin.
    EXPECT_GE(reads.load(), 1);
    EXPECT_LE(reads.load(), 7);
}

} // namespace
