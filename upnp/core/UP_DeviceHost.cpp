#include "UP_DeviceHost.h"

#include "KL_Check.h"
#include "KL_HttpEntity.h"
#include "KL_HttpFileRequestHandler.h"
#include "KL_HttpRequest.h"
#include "KL_HttpRequestContext.h"
#include "KL_HttpResponse.h"
#include "KL_HttpStaticRequestHandler.h"
#include "KL_IpAddress.h"
#include "KL_List.h"
#include "UP_ActionCall.h"
#include "UP_FrameworkDefaults.h"
#include "UP_HttpMessageHelper.h"
#include "UP_HttpRequestHandler.h"
#include "UP_HttpServer.h"
#include "UP_Service.h"
#include "UP_TaskManager.h"
#include "UP_UPnPMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.devicehost");

namespace {

constexpr KL_Cardinal kMaxHttpClients = 100;

KL_String MakeFriendlyName(const char* friendly_name, bool show_ip) {
    KL_String name(friendly_name);
    if (show_ip) {
        KL_List<KL_IpAddress> ips;
        if (KL_SUCCEEDED(UP_UPnPMessageHelper::GetIPAddresses(ips, false)) && !ips.IsEmpty()) {
            name += " (" + ips.GetFirstItem()->ToString() + ")";
        }
    }
    return name;
}

} // namespace

UP_DeviceHost::UP_DeviceHost(const char* description_path, const char* uuid, const char* device_type,
                             const char* friendly_name, bool show_ip, uint16_t port, bool allow_port_rebind)
    : UP_DeviceData(nullptr, uuid, UP_FrameworkDefaults::Instance().GetDefaultDeviceLease(), device_type,
                    MakeFriendlyName(friendly_name, show_ip).GetChars()),
      m_Port(port), m_AllowPortRebind(allow_port_rebind) {
    (void)SetDescriptionUrl(KL_HttpUrl("", 0, description_path != nullptr ? description_path : "/"));
}

UP_DeviceHost::~UP_DeviceHost() {
    if (m_Started.load()) {
        (void)UP_DeviceHost::Stop();
    }
    m_HttpServer.Release();
    m_TaskManager.Release();
}

KL_Result UP_DeviceHost::SetupIcons() {
    return KL_SUCCESS;
}

KL_Result UP_DeviceHost::SetupDevice() {
    KL_Result res = SetupServices();
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(SetupServices())");
        return res;
    }
    res = SetupIcons();
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, res, "(SetupIcons())");
        return res;
    }
    return KL_SUCCESS;
}

void UP_DeviceHost::AbandonStart() {
    m_Serving = false;
    if (!m_HttpServer.IsNull() && m_HttpServer->IsRunning()) {
        (void)m_HttpServer->Stop();
    }
    if (!m_TaskManager.IsNull()) {
        (void)m_TaskManager->StopAllTasks();
    }
    // What SetupServices added must go, or the next Start would add it a second time.
    ClearChildren();
    m_HttpServer.Release();
    m_TaskManager.Release();
}

KL_Result UP_DeviceHost::Start(UP_SsdpListenTask* listen_task) {
    if (m_Started.load()) {
        KL_LOG_WARNING("Device host %s already started", GetFriendlyName().GetChars());
        return KL_ERROR_INVALID_STATE;
    }
    m_TaskManager = KL_Reference<UP_TaskManager>(new UP_TaskManager(0));
    m_HttpServer = KL_Reference<UP_HttpServer>(
        new UP_HttpServer(KL_IpAddress::Any, m_Port, m_AllowPortRebind, kMaxHttpClients, false));
    // The handler is in place, and the services set up, before the server accepts anything.
    KL_Result res = m_HttpServer->AddRequestHandler(new UP_HttpRequestHandler(this), "/", true, true);
    if (KL_SUCCEEDED(res)) {
        res = SetupDevice();
    }
    if (KL_SUCCEEDED(res)) {
        res = m_HttpServer->Start();
    }
    if (KL_FAILED(res)) {
        AbandonStart();
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(Start())");
        return res;
    }
    m_Port = m_HttpServer->GetPort();
    KL_HttpUrl description = m_DescriptionURL;
    (void)description.SetPort(m_Port);
    (void)SetDescriptionUrl(description);
    m_Serving = true;

    res = StartSsdp(listen_task);
    if (KL_FAILED(res)) {
        AbandonStart();
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(StartSsdp())");
        return res;
    }
    m_Started = true;
    return KL_SUCCESS;
}

KL_Result UP_DeviceHost::Stop(UP_SsdpListenTask* listen_task) {
    if (!m_Started.load()) {
        KL_LOG_WARNING("Device host %s not started", GetFriendlyName().GetChars());
        return KL_ERROR_INVALID_STATE;
    }
    m_Started = false;
    StopSsdpListening(listen_task);
    (void)m_TaskManager->StopAllTasks();
    (void)m_HttpServer->Stop();
    m_Serving = false;
    AnnounceByeBye();
    ClearChildren();
    m_HttpServer.Release();
    m_TaskManager.Release();
    return KL_SUCCESS;
}

KL_Result UP_DeviceHost::AddIcon(const UP_DeviceIcon& icon, const char* file_root, const char* url_root) {
    KL_CHECK_POINTER(file_root);
    KL_CHECK_POINTER(url_root);
    if (m_HttpServer.IsNull()) {
        return KL_ERROR_INVALID_STATE;
    }
    if (!icon.m_UrlPath.StartsWith(url_root)) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_CHECK(m_HttpServer->AddRequestHandler(new KL_HttpFileRequestHandler(url_root, file_root),
                                             icon.m_UrlPath.GetChars(), false, true));
    return UP_DeviceData::AddIcon(icon);
}

KL_Result UP_DeviceHost::AddIcon(const UP_DeviceIcon& icon, const void* data, KL_Size size, bool copy) {
    KL_CHECK_POINTER(data);
    if (m_HttpServer.IsNull()) {
        return KL_ERROR_INVALID_STATE;
    }
    KL_CHECK(m_HttpServer->AddRequestHandler(
        new KL_HttpStaticRequestHandler(data, size, icon.m_MimeType.GetChars(), copy),
        icon.m_UrlPath.GetChars(), false, true));
    return UP_DeviceData::AddIcon(icon);
}

KL_Result UP_DeviceHost::SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                       KL_HttpResponse& response) {
    UP_HttpMessageHelper::ToLog(KL_LocalLogger, KL_LOG_LEVEL_FINER,
                                "UP_DeviceHost::SetupResponse:", &request);
    if (!m_Serving.load()) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    const KL_String& method = request.GetMethod();
    if (method == "POST") {
        return ProcessHttpPostRequest(request, context, response);
    }
    if (method == "SUBSCRIBE" || method == "UNSUBSCRIBE") {
        return ProcessHttpSubscriberRequest(request, context, response);
    }
    if (method == "GET" || method == "HEAD") {
        UP_Service* service = nullptr;
        KL_String url = request.GetUrl().ToRequestString();
        if (KL_SUCCEEDED(FindServiceBySCPDURL(url.GetChars(), service, true))) {
            return ProcessGetSCPD(service, request, context, response);
        }
        if (request.GetUrl().GetPath() == m_DescriptionURL.GetPath()) {
            return ProcessGetDescription(request, context, response);
        }
        return ProcessHttpGetRequest(request, context, response);
    }
    response.SetStatus(405, "Bad Request");
    return KL_SUCCESS;
}

KL_Result UP_DeviceHost::ProcessGetDescription(KL_HttpRequest&, const KL_HttpRequestContext& context,
                                               KL_HttpResponse& response) {
    KL_String description;
    KL_Result res = GetDescription(description);
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(GetDescription(doc))");
        return res;
    }
    KL_LOG_FINEST("Returning description to %s: %s", context.GetRemoteAddress().ToString().GetChars(),
                  description.GetChars());
    KL_HttpEntity* entity = nullptr;
    KL_CHECK(UP_HttpMessageHelper::SetMessageBody(response, description, &entity));
    if (entity != nullptr) {
        (void)entity->SetContentType("text/xml; charset=\"utf-8\"");
    }
    return KL_SUCCESS;
}

KL_Result UP_DeviceHost::ProcessGetSCPD(UP_Service* service, KL_HttpRequest&,
                                        const KL_HttpRequestContext& context, KL_HttpResponse& response) {
    KL_CHECK_POINTER_LEVEL(KL_LOG_LEVEL_FATAL, service);
    KL_String scpd;
    KL_Result res = service->GetSCPDXML(scpd);
    if (KL_FAILED(res)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_FATAL, res, "(service->GetSCPDXML(doc))");
        return res;
    }
    KL_LOG_FINEST("Returning SCPD to %s: %s", context.GetRemoteAddress().ToString().GetChars(),
                  scpd.GetChars());
    KL_HttpEntity* entity = nullptr;
    KL_CHECK(UP_HttpMessageHelper::SetMessageBody(response, scpd, &entity));
    if (entity != nullptr) {
        (void)entity->SetContentType("text/xml; charset=\"utf-8\"");
    }
    return KL_SUCCESS;
}

KL_Result UP_DeviceHost::ProcessHttpGetRequest(KL_HttpRequest&, const KL_HttpRequestContext&,
                                               KL_HttpResponse&) {
    return KL_ERROR_NO_SUCH_ITEM;
}

KL_Result UP_DeviceHost::OnAction(UP_ActionCall& call, const KL_HttpRequestContext&) {
    call.SetActionError(UP_ACTION_ERROR_INVALID_ACTION);
    return KL_FAILURE;
}
