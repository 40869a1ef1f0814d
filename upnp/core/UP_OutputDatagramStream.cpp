#include "UP_OutputDatagramStream.h"

#include "KL_Check.h"
#include "KL_UdpSocket.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

UP_OutputDatagramStream::UP_OutputDatagramStream(KL_UdpSocket* socket, KL_Size buffer_size,
                                                 const KL_SocketAddress* target)
    : m_Socket(socket) {
    (void)m_Buffer.Reserve(buffer_size);
    if (target != nullptr) {
        m_Target = *target;
    }
}

KL_Result UP_OutputDatagramStream::Write(const void* data, KL_Size bytes_to_write, KL_Size* bytes_written) {
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (bytes_to_write == 0) {
        return KL_SUCCESS;
    }
    KL_CHECK_POINTER(data);
    const KL_Size size = m_Buffer.GetDataSize();
    if (bytes_to_write > UINT32_MAX - size) {
        return KL_ERROR_OUT_OF_RANGE;
    }
    if (size + bytes_to_write > m_Buffer.GetBufferSize()) {
        KL_CHECK(m_Buffer.Reserve(size + bytes_to_write));
    }
    std::memcpy(m_Buffer.UseData() + size, data, bytes_to_write);
    KL_CHECK(m_Buffer.SetDataSize(size + bytes_to_write));
    if (bytes_written != nullptr) {
        *bytes_written = bytes_to_write;
    }
    return KL_SUCCESS;
}

KL_Result UP_OutputDatagramStream::Seek(KL_Position) {
    return KL_FAILURE;
}

KL_Result UP_OutputDatagramStream::Tell(KL_Position&) {
    return KL_FAILURE;
}

KL_Result UP_OutputDatagramStream::Flush() {
    KL_CHECK_POINTER(m_Socket);
    // A failed send is handed up: the caller must not take a lost datagram for a sent one.
    const KL_Result result = m_Socket->Send(m_Buffer, m_Target ? &*m_Target : nullptr);
    (void)m_Buffer.SetDataSize(0);
    return result;
}
