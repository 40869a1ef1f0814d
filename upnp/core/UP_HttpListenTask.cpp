#include "UP_HttpListenTask.h"

#include "KL_Log.h"
#include "KL_Socket.h"
#include "KL_TcpServerSocket.h"
#include "UP_HttpServerTask.h"
#include "UP_TaskManager.h"

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {
constexpr KL_Timeout kAcceptWait = 5000;
}

UP_HttpListenTask::UP_HttpListenTask(KL_HttpRequestHandler* handler, KL_TcpServerSocket* socket,
                                     bool owns_socket)
    : m_Handler(handler), m_Socket(socket), m_OwnsSocket(owns_socket) {}

UP_HttpListenTask::~UP_HttpListenTask() {
    if (m_OwnsSocket) {
        delete m_Socket;
    }
}

void UP_HttpListenTask::DoAbort() {
    if (m_Socket != nullptr) {
        m_Socket->Cancel();
    }
}

void UP_HttpListenTask::DoRun() {
    if (m_Socket == nullptr) {
        KL_LOG_FATAL("@@@ NULL pointer parameter");
        return;
    }
    while (!IsAborting(0)) {
        KL_Socket* client = nullptr;
        KL_Result result = m_Socket->WaitForNewClient(client, kAcceptWait, KL_SOCKET_FLAG_CANCELLABLE);
        if (result == KL_ERROR_TIMEOUT) {
            continue;
        }
        if (KL_FAILED(result)) {
            KL_LOG_WARNING("UP_HttpListenTask exiting with %d (%s)", result, KL_GetResultText(result));
            return;
        }
        if (client == nullptr) {
            continue;
        }
        UP_HttpServerTask* task = new UP_HttpServerTask(m_Handler, client, false);
        if (m_TaskManager != nullptr) {
            // Waits while every slot is taken; a self-destroying task that cannot start is deleted.
            (void)m_TaskManager->StartTask(task, nullptr, true);
        } else {
            (void)task->Start(nullptr, nullptr, true);
        }
    }
}
