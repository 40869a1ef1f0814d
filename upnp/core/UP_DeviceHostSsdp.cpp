// The SSDP side of UP_DeviceHost: announcing and listening once the device serves, answering
// M-SEARCH, leaving the listeners before the tasks stop, and the byebye once the server stopped.
// All of it runs only when Start was given the engine's listen task.
#include "KL_Check.h"
#include "KL_HttpRequest.h"
#include "KL_HttpRequestContext.h"
#include "KL_HttpResponse.h"
#include "KL_IpAddress.h"
#include "KL_System.h"
#include "UP_DeviceHost.h"
#include "UP_HttpMessageHelper.h"
#include "UP_Service.h"
#include "UP_SsdpAnnounceInterfaceIterator.h"
#include "UP_SsdpConstants.h"
#include "UP_SsdpDeviceAnnounceTask.h"
#include "UP_SsdpDeviceSearchResponseInterfaceIterator.h"
#include "UP_SsdpDeviceSearchResponseTask.h"
#include "UP_SsdpListenTask.h"
#include "UP_SsdpSender.h"
#include "UP_TaskManager.h"
#include "UP_UPnPMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

namespace {

constexpr int64_t kAlivePauseMillis = 50;
constexpr uint32_t kStartDelayModulo = 100;
constexpr uint32_t kMaxSearchDelaySeconds = 5;

KL_Result SendNotify(KL_HttpRequest& request, KL_UdpSocket& socket, const KL_SocketAddress& target,
                     const KL_String& nt, const KL_String& usn, bool pause) {
    KL_CHECK(UP_SsdpSender::SendSsdp(request, usn.GetChars(), nt.GetChars(), socket, true, &target));
    if (pause) {
        (void)KL_System::Sleep(KL_TimeStamp::FromMillis(kAlivePauseMillis));
    }
    return KL_SUCCESS;
}

KL_Result SendResponse(KL_HttpResponse& response, KL_UdpSocket& socket, const KL_SocketAddress* address,
                       const KL_String& st, const KL_String& usn) {
    KL_LOG_FINE("Responding to a M-SEARCH request for %s", st.GetChars());
    return UP_SsdpSender::SendSsdp(response, usn.GetChars(), st.GetChars(), socket, false, address);
}

// Every target of the device and its embedded devices, in announcement order.
KL_Result AnnounceTargets(const UP_DeviceData& device, KL_HttpRequest& request, KL_UdpSocket& socket,
                          const KL_SocketAddress& target, bool pause) {
    const KL_String uuid = "uuid:" + device.GetUUID();
    if (device.GetParentUUID().IsEmpty()) {
        KL_CHECK(SendNotify(request, socket, target, "upnp:rootdevice", uuid + "::upnp:rootdevice", pause));
    }
    KL_CHECK(SendNotify(request, socket, target, uuid, uuid, pause));
    KL_CHECK(SendNotify(request, socket, target, device.GetDeviceType(), uuid + "::" + device.GetDeviceType(),
                        pause));
    for (const UP_Service* service : device.GetServices()) {
        if (service != nullptr) {
            KL_CHECK(SendNotify(request, socket, target, service->GetServiceType(),
                                uuid + "::" + service->GetServiceType(), pause));
        }
    }
    for (const KL_Reference<UP_DeviceData>& embedded : device.GetEmbeddedDevices()) {
        if (embedded) {
            KL_CHECK(AnnounceTargets(*embedded, request, socket, target, pause));
        }
    }
    return KL_SUCCESS;
}

} // namespace

KL_Size UP_DeviceHost::CountSsdpSearchResponses(const UP_DeviceData& device, const KL_String& st) {
    const bool all = st == "ssdp:all";
    const bool root = device.GetParentUUID().IsEmpty();
    KL_Size count = 0;
    count += ((all || st == "upnp:rootdevice") && root) ? 1 : 0;
    count += (all || st == "uuid:" + device.GetUUID()) ? 1 : 0;
    count += (all || st == device.GetDeviceType()) ? 1 : 0;
    for (const UP_Service* service : device.GetServices()) {
        count += (service != nullptr && (all || st == service->GetServiceType())) ? 1 : 0;
    }
    for (const KL_Reference<UP_DeviceData>& embedded : device.GetEmbeddedDevices()) {
        count += embedded ? CountSsdpSearchResponses(*embedded, st) : 0;
    }
    return count;
}

KL_Result UP_DeviceHost::StartSsdp(UP_SsdpListenTask* listen_task) {
    if (listen_task == nullptr) {
        return KL_SUCCESS;
    }
    // Answers still pending at the last Stop were dropped with the answer task.
    m_PendingSearches.Clear();
    m_AnswerRate.Clear();
    KL_CHECK_SEVERE(m_TaskManager->StartTask(
        new UP_SsdpDeviceSearchResponseTask(this, &m_PendingSearches, &m_AnswerRate), nullptr, true));
    const KL_TimeStamp delay = KL_TimeStamp::FromMillis(KL_System::GetRandomInteger() % kStartDelayModulo);
    const KL_TimeStamp interval = UP_SsdpDeviceAnnounceTask::ComputeInterval(GetLeaseTime());
    auto* task = new UP_SsdpDeviceAnnounceTask(this, interval, GetByeByeFirst(), GetExtraBroadcast());
    KL_CHECK_SEVERE(m_TaskManager->StartTask(task, &delay, true));
    KL_CHECK_SEVERE(listen_task->AddListener(this));
    m_SsdpListenTask = listen_task;
    return KL_SUCCESS;
}

void UP_DeviceHost::StopSsdpListening(UP_SsdpListenTask* listen_task) {
    if (m_SsdpListenTask != nullptr) {
        (void)m_SsdpListenTask->RemoveListener(this);
    }
    if (listen_task != nullptr && listen_task != m_SsdpListenTask) {
        (void)listen_task->RemoveListener(this);
    }
}

void UP_DeviceHost::AnnounceByeBye() {
    if (m_SsdpListenTask == nullptr) {
        return;
    }
    m_SsdpListenTask = nullptr;
    KL_NetworkInterfaceList if_list;
    KL_Result result = UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, true);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result,
                            "(UP_UPnPMessageHelper::GetNetworkInterfaces(if_list, true))");
    } else {
        (void)if_list.Apply(
            UP_SsdpAnnounceInterfaceIterator(this, UP_SSDP_ANNOUNCE_BYEBYE, GetExtraBroadcast()));
    }
    KL_DeleteNetworkInterfaces(if_list);
}

KL_Result UP_DeviceHost::OnSsdpPacket(KL_HttpRequest& request, const KL_HttpRequestContext& context) {
    if (request.GetMethod() != "M-SEARCH") {
        return KL_FAILURE;
    }
    const KL_SocketAddress& remote = context.GetRemoteAddress();
    const char* st = request.GetHeaders().GetHeaderValue("ST");
    if (KL_LocalLogger.GetIfLoggable(KL_LOG_LEVEL_FINER) != nullptr) {
        const KL_String prefix = KL_String::Format(
            "UP_DeviceHost::OnSsdpPacket M-SEARCH for %s from %s:%d", st != nullptr ? st : "Unknown",
            remote.m_IpAddress.ToString().GetChars(), static_cast<int>(remote.m_Port));
        UP_HttpMessageHelper::ToLog(KL_LocalLogger, KL_LOG_LEVEL_FINER, prefix.GetChars(), &request);
    }
    KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_SEVERE, st);
    const KL_HttpUrl& url = request.GetUrl();
    const char* man = request.GetHeaders().GetHeaderValue("MAN");
    if (url.GetPath() != "*" || url.HasQuery() || request.GetProtocol() != "HTTP/1.1" || man == nullptr ||
        KL_String::Compare(man, "\"ssdp:discover\"", true) != 0) {
        return KL_FAILURE;
    }
    uint32_t mx = 0;
    KL_CHECK_SEVERE(UP_UPnPMessageHelper::GetMX(request, mx));

    // Work is queued only for what will be answered, and only for single hosts on a network this
    // host answers on (no reflection of forged searches), one per searching host and target (a
    // flooding host cannot crowd the others out; another control point of the same host is
    // answered with it); a full table answers at once rather than drop the search.
    const KL_String target(st);
    if (CountSsdpSearchResponses(*this, target) == 0) {
        return KL_FAILURE;
    }
    KL_NetworkInterfaceList interfaces;
    KL_Result result = UP_UPnPMessageHelper::GetNetworkInterfaces(interfaces, true);
    if (KL_SUCCEEDED(result) &&
        !UP_SsdpDeviceSearchResponseInterfaceIterator::IsAnswerableSender(interfaces, remote.m_IpAddress)) {
        result = KL_FAILURE;
    }
    if (KL_SUCCEEDED(result)) {
        const uint32_t seconds =
            mx == 0 ? 0 : KL_System::GetRandomInteger() % std::min(mx, kMaxSearchDelaySeconds);
        const int64_t due = UP_SsdpAnswerRate::Now() + static_cast<int64_t>(seconds) * 1000;
        if (m_PendingSearches.Add(remote, target, due) == UP_SsdpPendingSearches::Added::kFull) {
            KL_LOG_FINE("M-SEARCH from %s answered at once: %d answers pending", remote.ToString().GetChars(),
                        static_cast<int>(UP_SsdpPendingSearches::kMaxInAll));
            UP_SsdpPendingSearches::Answer answer;
            answer.m_Host = remote.m_IpAddress;
            answer.m_ST = target;
            (void)answer.m_Ports.Add(remote.m_Port);
            UP_SsdpDeviceSearchResponseTask::SendAnswer(this, &m_AnswerRate, interfaces, answer);
        }
    }
    KL_DeleteNetworkInterfaces(interfaces);
    return result;
}

KL_Result UP_DeviceHost::SendSsdpSearchResponse(KL_HttpResponse& response, KL_UdpSocket& socket,
                                                const char* st, const KL_SocketAddress* address) {
    return SendSsdpSearchResponse(*this, response, socket, st, address);
}

KL_Result UP_DeviceHost::SendSsdpSearchResponse(const UP_DeviceData& device, KL_HttpResponse& response,
                                                KL_UdpSocket& socket, const char* st,
                                                const KL_SocketAddress* address) {
    KL_CHECK_POINTER(st);
    const KL_String target(st);
    const bool all = target == "ssdp:all";
    (void)UP_UPnPMessageHelper::SetBootIdHeader(response, device.GetBootId());
    if (device.GetConfigId() != 0) {
        (void)UP_UPnPMessageHelper::SetConfigIdHeader(response, device.GetConfigId());
    }
    const KL_String uuid = "uuid:" + device.GetUUID();
    if ((all || target == "upnp:rootdevice") && device.GetParentUUID().IsEmpty()) {
        KL_CHECK(SendResponse(response, socket, address, "upnp:rootdevice", uuid + "::upnp:rootdevice"));
    }
    if (all || target == uuid) {
        KL_CHECK(SendResponse(response, socket, address, uuid, uuid));
    }
    if (all || target == device.GetDeviceType()) {
        KL_CHECK(SendResponse(response, socket, address, device.GetDeviceType(),
                              uuid + "::" + device.GetDeviceType()));
    }
    for (const UP_Service* service : device.GetServices()) {
        if (service != nullptr && (all || target == service->GetServiceType())) {
            KL_CHECK(SendResponse(response, socket, address, service->GetServiceType(),
                                  uuid + "::" + service->GetServiceType()));
        }
    }
    for (const KL_Reference<UP_DeviceData>& embedded : device.GetEmbeddedDevices()) {
        if (embedded) {
            KL_CHECK(SendSsdpSearchResponse(*embedded, response, socket, st, address));
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_DeviceHost::Announce(const UP_DeviceData& device, KL_HttpRequest& request, KL_UdpSocket& socket,
                                  int type) {
    KL_IpAddress address;
    KL_CHECK_FATAL(address.ResolveName(request.GetUrl().GetHost()));
    const KL_SocketAddress target(address, request.GetUrl().GetPort());
    KL_HttpHeaders& headers = request.GetHeaders();
    if (type == UP_SSDP_ANNOUNCE_ALIVE) {
        // Header order on the wire: Host, Location, Cache-Control, Server, NTS, USN, NT.
        (void)UP_UPnPMessageHelper::SetCacheMaxAge(request, device.GetLeaseTime());
        headers.SetHeader("Server", UP_SSDP_SERVER_HEADER);
        headers.SetHeader("NTS", "ssdp:alive");
    } else if (type == UP_SSDP_ANNOUNCE_UPDATE) {
        if (device.GetNextBootId() == 0) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, KL_ERROR_INTERNAL, "(device.GetNextBootId() != 0)");
            return KL_ERROR_INTERNAL;
        }
        headers.SetHeader("NTS", "ssdp:update");
        (void)UP_UPnPMessageHelper::SetNextBootIdHeader(request, device.GetNextBootId());
    } else {
        headers.SetHeader("NTS", "ssdp:byebye");
    }
    const char* location = headers.GetHeaderValue("Location");
    KL_LOG_FINER("Sending SSDP NOTIFY (%s) Request to %s (%s)", headers.GetHeaderValue("NTS"),
                 request.GetUrl().ToString().GetChars(), location != nullptr ? location : "");
    return AnnounceTargets(device, request, socket, target, type != UP_SSDP_ANNOUNCE_BYEBYE);
}
