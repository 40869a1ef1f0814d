#include "UP_InputDatagramStream.h"

#include "KL_Check.h"
#include "KL_UdpSocket.h"

#include <algorithm>
#include <cstring>

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

UP_InputDatagramStream::UP_InputDatagramStream(KL_UdpSocket* socket, KL_Size buffer_size) : m_Socket(socket) {
    (void)m_Buffer.Reserve(buffer_size);
}

KL_Result UP_InputDatagramStream::Read(void* buffer, KL_Size bytes_to_read, KL_Size* bytes_read) {
    if (bytes_read != nullptr) {
        *bytes_read = 0;
    }
    KL_CHECK_POINTER(m_Socket);
    KL_Result result = KL_SUCCESS;
    if (m_Buffer.GetDataSize() == 0) {
        KL_SocketAddress sender;
        result = m_Socket->Receive(m_Buffer, &sender);
        KL_SocketInfo info;
        (void)m_Socket->GetInfo(info);
        m_Info.local_address = info.local_address;
        m_Info.remote_address = sender;
        m_ReadPosition = 0;
        if (KL_FAILED(result)) {
            (void)m_Buffer.SetDataSize(0);
            return result;
        }
    }
    if (bytes_to_read == 0) {
        return result;
    }
    KL_CHECK_POINTER(buffer);
    const KL_Size left = m_Buffer.GetDataSize() - m_ReadPosition;
    const KL_Size count = std::min(left, bytes_to_read);
    if (count > 0) {
        std::memcpy(buffer, m_Buffer.GetData() + m_ReadPosition, count);
    }
    m_ReadPosition += count;
    if (bytes_read != nullptr) {
        *bytes_read = count;
    }
    if (m_ReadPosition >= m_Buffer.GetDataSize()) {
        m_ReadPosition = 0;
        (void)m_Buffer.SetDataSize(0);
    }
    return KL_SUCCESS;
}

KL_Result UP_InputDatagramStream::Seek(KL_Position) {
    return KL_FAILURE;
}

KL_Result UP_InputDatagramStream::Skip(KL_LargeSize) {
    return KL_FAILURE;
}

KL_Result UP_InputDatagramStream::Tell(KL_Position&) {
    return KL_FAILURE;
}

KL_Result UP_InputDatagramStream::GetSize(KL_LargeSize&) {
    return KL_FAILURE;
}

KL_Result UP_InputDatagramStream::GetAvailable(KL_LargeSize&) {
    return KL_FAILURE;
}

KL_Result UP_InputDatagramStream::GetInfo(KL_SocketInfo& info) const {
    info = m_Info;
    return KL_SUCCESS;
}
