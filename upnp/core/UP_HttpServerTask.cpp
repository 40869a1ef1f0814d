#include "UP_HttpServerTask.h"

#include "KL_HttpRequestHandler.h"
#include "KL_Log.h"
#include "KL_Socket.h"
#include "UP_HttpConnectionSlots.h"

KL_SET_LOCAL_LOGGER("upnp.core.http");

UP_HttpServerTask::UP_HttpServerTask(KL_HttpRequestHandler* handler, KL_Socket* socket,
                                     bool stay_alive_forever, UP_HttpConnectionSlots* slots)
    : UP_HttpServerSocketTask(socket, stay_alive_forever), m_Handler(handler) {
    if (slots != nullptr) {
        SetLimits(slots->GetLimits(), slots);
    }
    if (m_Socket != nullptr) {
        (void)m_Socket->SetNoDelay(true);
        (void)m_Socket->SetQuickAck(true);
    }
}

UP_HttpServerTask::~UP_HttpServerTask() {
    // Before the socket goes: the slots may cancel a listed socket at any time.
    if (m_Slots != nullptr) {
        m_Slots->Leave(m_Socket);
    }
}

KL_Result UP_HttpServerTask::SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                           KL_HttpResponse& response) {
    if (m_Handler == nullptr) {
        KL_LOG_SEVERE("@@@ NULL pointer parameter");
        return KL_ERROR_INVALID_PARAMETERS;
    }
    return m_Handler->SetupResponse(request, context, response);
}
