#include "UP_SsdpListenTask.h"

#include "KL_BufferedInputStream.h"
#include "KL_Check.h"
#include "KL_HttpRequest.h"
#include "KL_MemoryStream.h"
#include "KL_UdpSocket.h"
#include "UP_HttpRequestContext.h"
#include "UP_InputDatagramStream.h"
#include "UP_SsdpConstants.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

constexpr KL_Timeout kReceiveErrorPauseMillis = 100;

} // namespace

UP_SsdpListenTask::UP_SsdpListenTask(KL_UdpSocket* socket)
    : UP_HttpServerSocketTask(socket, true), m_UdpSocket(socket) {}

UP_SsdpListenTask::~UP_SsdpListenTask() {
    m_DatagramStream.Release();
    m_Listeners.Clear();
}

KL_Result UP_SsdpListenTask::AddListener(UP_SsdpPacketListener* listener) {
    KL_AutoLock lock(m_Mutex);
    return m_Listeners.Add(listener);
}

KL_Result UP_SsdpListenTask::RemoveListener(UP_SsdpPacketListener* listener) {
    KL_AutoLock lock(m_Mutex);
    (void)m_Listeners.Remove(listener);
    return KL_SUCCESS;
}

KL_Result UP_SsdpListenTask::GetInputStream(KL_InputStreamReference& stream) {
    if (m_DatagramStream.IsNull()) {
        if (m_UdpSocket == nullptr) {
            return KL_ERROR_INVALID_STATE;
        }
        m_Datagrams = new UP_InputDatagramStream(m_UdpSocket, UP_SSDP_INPUT_DATAGRAM_SIZE);
        m_DatagramStream = KL_InputStreamReference(m_Datagrams);
    }
    stream = m_DatagramStream;
    return KL_SUCCESS;
}

KL_Result UP_SsdpListenTask::GetInfo(KL_SocketInfo& info) {
    if (m_Datagrams == nullptr) {
        return KL_FAILURE;
    }
    return m_Datagrams->GetInfo(info);
}

KL_Result UP_SsdpListenTask::Read(KL_BufferedInputStreamReference&, KL_HttpRequest*& request,
                                  UP_HttpRequestContext& context) {
    request = nullptr;
    KL_InputStreamReference input;
    KL_CHECK(GetInputStream(input));
    // The whole datagram in one read: the buffer holds at most one.
    auto datagram = std::make_unique<uint8_t[]>(UP_SSDP_INPUT_DATAGRAM_SIZE);
    KL_Size size = 0;
    KL_Result result = input->Read(datagram.get(), UP_SSDP_INPUT_DATAGRAM_SIZE, &size);
    if (KL_FAILED(result)) {
        if (result != KL_ERROR_TIMEOUT && result != KL_ERROR_CANCELLED) {
            KL_LOG_WARNING("SSDP receive failed (%d)", static_cast<int>(result));
            (void)IsAborting(kReceiveErrorPauseMillis);
        }
        return result;
    }
    KL_SocketInfo info;
    (void)GetInfo(info);
    context.SetLocalAddress(info.local_address);
    context.SetRemoteAddress(info.remote_address);
    // Parsed from its own bytes: its end ends the message, and what follows the head is dropped.
    KL_InputStreamReference bytes(new KL_MemoryStream(datagram.get(), size));
    KL_BufferedInputStream head(bytes, UP_SSDP_INPUT_DATAGRAM_SIZE);
    result = KL_HttpRequest::Parse(head, &info.local_address, request);
    if (KL_FAILED(result)) {
        KL_LOG_FINE("dropped a datagram of %u bytes from %s (%d)", static_cast<unsigned>(size),
                    info.remote_address.ToString().GetChars(), static_cast<int>(result));
        return KL_ERROR_INVALID_SYNTAX;
    }
    context.SetRequest(request);
    return KL_SUCCESS;
}

KL_Result UP_SsdpListenTask::SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                           KL_HttpResponse&) {
    KL_AutoLock lock(m_Mutex);
    for (UP_SsdpPacketListener* listener : m_Listeners) {
        (void)listener->OnSsdpPacket(request, context);
    }
    return KL_ERROR_TERMINATED;
}
