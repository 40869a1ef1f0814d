// UP_HttpRequestInputStream: what a server connection reads its requests through. It sits on the
// socket's input stream and gives each read the time that is left:
//   - waiting for a request's first byte: the idle time-out, the connection marked idle in its
//     slots (which may close it to make room);
//   - in a head: what is left of the head's deadline, which starts at its first byte;
//   - in a body: what is left of the body's deadline;
//   - otherwise the socket's read time-out as it stands.
// A deadline that has passed is KL_ERROR_TIMEOUT. A connection closed to make room while it waits
// for a request or reads its head reads the end of the stream (KL_ERROR_EOS): it ends quietly.
#pragma once

#include "KL_InputStream.h"
#include "UP_HttpServerLimits.h"

#include <chrono>

class KL_Socket;
class UP_HttpConnectionSlots;

class UP_HttpRequestInputStream : public KL_InputStream {
public:
    // socket: not owned, whose read time-out is set before each read; slots: null or the
    // server's, where socket is listed.
    UP_HttpRequestInputStream(const KL_InputStreamReference& source, KL_Socket* socket,
                              const UP_HttpServerLimits& limits, UP_HttpConnectionSlots* slots);

    // The next read waits for a request: idle until its first byte, then the head's deadline.
    void ExpectHead();
    // The body's deadline starts now.
    void ExpectBody();
    // Reads keep the socket's read time-out.
    void ExpectNothing();

    [[nodiscard]] KL_Result Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
    [[nodiscard]] KL_Result GetSize(KL_LargeSize& size) override;
    [[nodiscard]] KL_Result GetAvailable(KL_LargeSize& available) override;

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Nothing, Idle, Head, Body };

    void StartDeadline(Phase phase, KL_Timeout length);
    // The time-out of the next read; false when the deadline has passed.
    bool NextTimeout(KL_Timeout& timeout);
    KL_Result ReadIdle(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read);

    KL_InputStreamReference m_Source;
    KL_Socket* m_Socket;
    UP_HttpServerLimits m_Limits;
    UP_HttpConnectionSlots* m_Slots;
    Phase m_Phase = Phase::Nothing;
    bool m_HasDeadline = false;
    Clock::time_point m_Deadline;
};
