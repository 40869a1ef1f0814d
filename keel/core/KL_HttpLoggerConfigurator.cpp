#include "KL_HttpLoggerConfigurator.h"

#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_LogManager.h"
#include "KL_Logger.h"
#include "KL_Mutex.h"

KL_HttpLoggerConfigurator::KL_HttpLoggerConfigurator(KL_LogManager& manager, uint16_t port)
    : m_Manager(manager), m_Server(port) {
    (void)m_Server.SetTimeouts(KL_TIMEOUT_INFINITE, IO_TIMEOUT_MS);
    (void)m_Server.AddRequestHandler(this, "/", true, false);
}

KL_HttpLoggerConfigurator::~KL_HttpLoggerConfigurator() {
    Stop();
}

KL_Result KL_HttpLoggerConfigurator::Server::BindAndListen() {
    const KL_Result result = Bind();
    return KL_FAILED(result) ? result : m_Socket.Listen(20);
}

KL_Result KL_HttpLoggerConfigurator::Start() {
    KL_Result result = m_Server.BindAndListen();
    if (KL_FAILED(result)) {
        return result;
    }
    result = KL_Thread::Start();
    m_Started = KL_SUCCEEDED(result);
    return result;
}

void KL_HttpLoggerConfigurator::Stop() {
    m_Stopping.store(true);
    m_Server.Terminate();
    (void)m_Server.Abort();
    if (m_Started) {
        (void)Wait();
        m_Started = false;
    }
}

void KL_HttpLoggerConfigurator::Run() {
    while (!m_Stopping.load() && KL_SUCCEEDED(m_Server.Loop())) {
    }
}

KL_String KL_HttpLoggerConfigurator::MakePage(KL_LogManager& manager) {
    KL_AutoLock lock(manager.GetLock());
    KL_String page("<ul>");
    for (const KL_LogManager::ConfigEntry& entry : manager.GetConfigEntries()) {
        page += "<li>";
        page += entry.m_Key;
        page += "=";
        page += entry.m_Value;
        page += "</li>";
    }
    page += "</ul><ul>";
    for (const KL_Logger* logger : manager.GetLoggers()) {
        page += "<li>";
        page += logger->GetName();
        page += ", level=";
        page += KL_String::FromInteger(logger->GetLevel());
        page += ", handlers=";
        for (const KL_LogHandler* handler : logger->GetHandlers()) {
            page += handler->ToString();
        }
        page += "</li>";
    }
    page += "</ul>";
    return page;
}

KL_Result KL_HttpLoggerConfigurator::SetupResponse(KL_HttpRequest& request,
                                                   const KL_HttpRequestContext& /*context*/,
                                                   KL_HttpResponse& response) {
    if (!(request.GetMethod() == "GET")) {
        return KL_ERROR_HTTP_METHOD_NOT_SUPPORTED;
    }
    if (!m_Manager.IsEnabled()) {
        return KL_ERROR_INVALID_STATE;
    }
    KL_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) {
        return KL_ERROR_INTERNAL;
    }
    (void)entity->SetInputStream(MakePage(m_Manager));
    (void)entity->SetContentType("text/html");
    return KL_SUCCESS;
}
