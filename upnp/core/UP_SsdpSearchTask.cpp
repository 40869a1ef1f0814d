#include "UP_SsdpSearchTask.h"

#include "KL_BufferedInputStream.h"
#include "KL_Check.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"
#include "KL_System.h"
#include "KL_UdpSocket.h"
#include "UP_InputDatagramStream.h"
#include "UP_OutputDatagramStream.h"
#include "UP_SsdpConstants.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

constexpr KL_Timeout kWriteTimeout = 10000;
constexpr KL_Timeout kResolveTimeout = 30000;
constexpr KL_Timeout kErrorPauseMillis = 150;
constexpr int64_t kDefaultFrequencySeconds = 30;

int64_t NowMillis() {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    return now.ToMillis();
}

} // namespace

UP_SsdpSearchTask::UP_SsdpSearchTask(KL_UdpSocket* socket, UP_SsdpSearchListener* listener,
                                     KL_HttpRequest* request, const KL_TimeStamp& frequency)
    : m_Socket(socket), m_Listener(listener), m_Request(request), m_Frequency(frequency) {
    if (m_Frequency.ToNanos() <= 0) {
        m_Frequency = KL_TimeStamp::FromSeconds(kDefaultFrequencySeconds);
    }
    if (m_Socket != nullptr) {
        (void)m_Socket->SetReadTimeout(m_Frequency.ToTimeoutMillis());
        (void)m_Socket->SetWriteTimeout(kWriteTimeout);
    }
}

UP_SsdpSearchTask::~UP_SsdpSearchTask() {
    delete m_Socket;
    delete m_Request;
}

void UP_SsdpSearchTask::DoAbort() {
    if (m_Socket != nullptr) {
        (void)m_Socket->Cancel();
    }
}

KL_Result UP_SsdpSearchTask::SendSearch() {
    KL_CHECK_POINTER(m_Socket);
    KL_CHECK_POINTER(m_Request);
    KL_IpAddress host;
    KL_CHECK(host.ResolveName(m_Request->GetUrl().GetHost(), kResolveTimeout));
    const uint16_t port = m_Request->GetUrl().GetPort() != 0 ? m_Request->GetUrl().GetPort() : UP_SSDP_PORT;
    const KL_SocketAddress target(host, port);
    for (int round = 0; round < 2; ++round) {
        UP_OutputDatagramStream output_stream(m_Socket, UP_SSDP_OUTPUT_DATAGRAM_SIZE, &target);
        KL_Result result = m_Request->Emit(output_stream);
        if (KL_SUCCEEDED(result)) {
            result = output_stream.Flush();
        }
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(m_Request->Emit(output_stream))");
            return result;
        }
    }
    return KL_SUCCESS;
}

void UP_SsdpSearchTask::ReadResponses(int64_t deadline) {
    auto datagram = std::make_unique<uint8_t[]>(UP_SSDP_INPUT_DATAGRAM_SIZE);
    for (int64_t now = NowMillis(); now < deadline && !IsAborting(0); now = NowMillis()) {
        (void)m_Socket->SetReadTimeout(static_cast<KL_Timeout>(deadline - now));
        UP_InputDatagramStream input(m_Socket, UP_SSDP_INPUT_DATAGRAM_SIZE);
        KL_Size size = 0;
        KL_Result result = input.Read(datagram.get(), UP_SSDP_INPUT_DATAGRAM_SIZE, &size);
        if (result == KL_ERROR_TIMEOUT || result == KL_ERROR_CANCELLED) {
            continue;
        }
        if (KL_FAILED(result)) {
            KL_LOG_WARNING("UP_SsdpSearchTask got an error (%d) waiting for response",
                           static_cast<int>(result));
            (void)IsAborting(kErrorPauseMillis);
            continue;
        }
        KL_SocketInfo info;
        (void)input.GetInfo(info);
        KL_BufferedInputStream head(KL_InputStreamReference(new KL_MemoryStream(datagram.get(), size)),
                                    UP_SSDP_INPUT_DATAGRAM_SIZE);
        KL_HttpResponse* response = nullptr;
        if (KL_SUCCEEDED(KL_HttpResponse::Parse(head, response)) && response != nullptr) {
            if (m_Listener != nullptr) {
                (void)m_Listener->OnSsdpSearchResponse(*response, info);
            }
            delete response;
        }
    }
}

void UP_SsdpSearchTask::DoRun() {
    if (m_Socket == nullptr || m_Request == nullptr) {
        KL_LOG_SEVERE("@@@ NULL pointer parameter");
        return;
    }
    const bool repeat = m_Frequency.ToMillis() >= 1000;
    do {
        const int64_t deadline = NowMillis() + m_Frequency.ToMillis();
        if (KL_SUCCEEDED(SendSearch())) {
            ReadResponses(deadline);
        } else if (IsAborting(kErrorPauseMillis)) {
            return;
        }
    } while (repeat && !IsAborting(0));
}
