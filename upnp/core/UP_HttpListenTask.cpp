#include "UP_HttpListenTask.h"

#include "KL_Log.h"
#include "KL_Socket.h"
#include "KL_TcpServerSocket.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpServerTask.h"
#include "UP_TaskManager.h"

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {
constexpr KL_Timeout kAcceptWait = 5000;
// After a failed accept (the cause, such as a full descriptor table, may last a while).
constexpr KL_Timeout kAcceptFailurePause = 100;
// Between two looks for room while every connection slot is busy.
constexpr KL_Timeout kRoomWait = 20;
} // namespace

UP_HttpListenTask::UP_HttpListenTask(KL_HttpRequestHandler* handler, KL_TcpServerSocket* socket,
                                     bool owns_socket, UP_HttpConnectionSlots* slots)
    : m_Handler(handler), m_Socket(socket), m_OwnsSocket(owns_socket), m_Slots(slots) {}

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
        if (result == KL_ERROR_TIMEOUT || result == KL_ERROR_WOULD_BLOCK) {
            continue;
        }
        if (result == KL_ERROR_CANCELLED) {
            KL_LOG_WARNING("UP_HttpListenTask exiting with %d (%s)", result, KL_GetResultText(result));
            return;
        }
        if (KL_FAILED(result)) {
            KL_LOG_WARNING("UP_HttpListenTask: accepting failed with %d (%s), trying again", result,
                           KL_GetResultText(result));
            (void)IsAborting(kAcceptFailurePause);
            continue;
        }
        if (client != nullptr) {
            Serve(client);
        }
    }
}

void UP_HttpListenTask::Serve(KL_Socket* client) {
    if (m_Slots != nullptr) {
        if (!m_Slots->Admit(client)) {
            delete client;
            return;
        }
        while (!m_Slots->MakeRoom() && !IsAborting(kRoomWait)) {
        }
    }
    UP_HttpServerTask* task = new UP_HttpServerTask(m_Handler, client, false, m_Slots);
    if (m_TaskManager != nullptr) {
        // Waits while every slot is taken; a self-destroying task that cannot start is deleted.
        (void)m_TaskManager->StartTask(task, nullptr, true);
    } else {
        (void)task->Start(nullptr, nullptr, true);
    }
}
