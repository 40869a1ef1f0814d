#include "UP_HttpRequestInputStream.h"

#include "KL_Socket.h"
#include "UP_HttpConnectionSlots.h"

namespace {

bool IsBounded(KL_Timeout timeout) {
    return timeout != 0 && timeout != KL_TIMEOUT_INFINITE;
}

} // namespace

UP_HttpRequestInputStream::UP_HttpRequestInputStream(const KL_InputStreamReference& source, KL_Socket* socket,
                                                     const UP_HttpServerLimits& limits,
                                                     UP_HttpConnectionSlots* slots)
    : m_Source(source), m_Socket(socket), m_Limits(limits), m_Slots(slots) {}

void UP_HttpRequestInputStream::ExpectHead() {
    m_Phase = Phase::Idle;
    m_HasDeadline = false;
}

void UP_HttpRequestInputStream::ExpectBody() {
    StartDeadline(Phase::Body, m_Limits.m_BodyDeadline);
}

void UP_HttpRequestInputStream::ExpectNothing() {
    m_Phase = Phase::Nothing;
    m_HasDeadline = false;
}

void UP_HttpRequestInputStream::StartDeadline(Phase phase, KL_Timeout length) {
    m_Phase = phase;
    m_HasDeadline = IsBounded(length);
    if (m_HasDeadline) {
        m_Deadline = Clock::now() + std::chrono::milliseconds(length);
    }
}

bool UP_HttpRequestInputStream::NextTimeout(KL_Timeout& timeout) {
    timeout = m_Limits.m_ReadTimeout;
    if (!m_HasDeadline) {
        return true;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_Deadline - Clock::now()).count();
    if (left <= 0) {
        return false;
    }
    if (!IsBounded(timeout) || static_cast<uint64_t>(left) < timeout) {
        timeout = static_cast<KL_Timeout>(left);
    }
    return true;
}

KL_Result UP_HttpRequestInputStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    if (m_Source.IsNull()) {
        return KL_ERROR_INVALID_STATE;
    }
    switch (m_Phase) {
    case Phase::Nothing:
        return m_Source->Read(buffer, bytes_to_read, bytes_read);
    case Phase::Idle:
        return ReadIdle(buffer, bytes_to_read, bytes_read);
    case Phase::Head:
    case Phase::Body:
        break;
    }
    KL_Timeout timeout = 0;
    if (!NextTimeout(timeout)) {
        return KL_ERROR_TIMEOUT;
    }
    (void)m_Socket->SetReadTimeout(timeout);
    KL_Result result = m_Source->Read(buffer, bytes_to_read, bytes_read);
    // A head cut short by a close to make room is the end of the connection, not a failure.
    if (result == KL_ERROR_CANCELLED && m_Phase == Phase::Head && m_Slots != nullptr &&
        m_Slots->IsClosed(m_Socket)) {
        return KL_ERROR_EOS;
    }
    return result;
}

KL_Result UP_HttpRequestInputStream::ReadIdle(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (m_Slots != nullptr && !m_Slots->SetPhase(m_Socket, UP_HttpConnectionSlots::Phase::Idle)) {
        return KL_ERROR_EOS;
    }
    (void)m_Socket->SetReadTimeout(IsBounded(m_Limits.m_IdleTimeout) ? m_Limits.m_IdleTimeout
                                                                     : m_Limits.m_ReadTimeout);
    KL_Result result = m_Source->Read(buffer, bytes_to_read, bytes_read);
    // A connection closed to make room while its request arrived drops that request: the
    // client sees the close and asks again.
    if (m_Slots != nullptr && !m_Slots->SetPhase(m_Socket, UP_HttpConnectionSlots::Phase::Receiving)) {
        if (bytes_read != nullptr) {
            *bytes_read = 0;
        }
        return KL_ERROR_EOS;
    }
    if (KL_SUCCEEDED(result)) {
        StartDeadline(Phase::Head, m_Limits.m_HeadDeadline);
    }
    return result;
}

KL_Result UP_HttpRequestInputStream::Seek(KL_Position offset) {
    return m_Source.IsNull() ? KL_ERROR_INVALID_STATE : m_Source->Seek(offset);
}

KL_Result UP_HttpRequestInputStream::Tell(KL_Position& offset) {
    offset = 0;
    return m_Source.IsNull() ? KL_ERROR_INVALID_STATE : m_Source->Tell(offset);
}

KL_Result UP_HttpRequestInputStream::GetSize(KL_LargeSize& size) {
    size = 0;
    return m_Source.IsNull() ? KL_ERROR_INVALID_STATE : m_Source->GetSize(size);
}

KL_Result UP_HttpRequestInputStream::GetAvailable(KL_LargeSize& available) {
    available = 0;
    return m_Source.IsNull() ? KL_ERROR_INVALID_STATE : m_Source->GetAvailable(available);
}
