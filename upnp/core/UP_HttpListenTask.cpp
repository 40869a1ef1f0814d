#include "UP_HttpListenTask.h"

#include "KL_Log.h"
#include "KL_OutputStream.h"
#include "KL_Socket.h"
#include "KL_TcpServerSocket.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpServerSocketTask.h"
#include "UP_HttpServerTask.h"
#include "UP_TaskManager.h"

#include <chrono>

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {
// Also how often the progress of answers is looked at (UP_HttpConnectionSlots::WatchProgress).
constexpr KL_Timeout kAcceptWait = 500;
// After a failed accept (the cause, such as a full descriptor table, may last a while).
constexpr KL_Timeout kAcceptFailurePause = 100;

// A connection that gets no slot is told so and closed; the answer fits an empty socket buffer,
// so it is written without waiting (whatever does not go out at once is dropped).
void RefuseBusy(KL_Socket* client) {
    static const char kBusy[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                                "Connection: close\r\nServer: " UP_HTTP_SERVER_HEADER "\r\n\r\n";
    KL_OutputStreamReference output;
    (void)client->SetWriteTimeout(0);
    if (KL_SUCCEEDED(client->GetOutputStream(output)) && output) {
        (void)output->Write(kBusy, sizeof(kBusy) - 1);
    }
    delete client;
}
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
    auto next_watch = std::chrono::steady_clock::now();
    while (!IsAborting(0)) {
        KL_Socket* client = nullptr;
        KL_Result result = m_Socket->WaitForNewClient(client, kAcceptWait, KL_SOCKET_FLAG_CANCELLABLE);
        if (m_Slots != nullptr && std::chrono::steady_clock::now() >= next_watch) {
            m_Slots->WatchProgress();
            next_watch = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAcceptWait);
        }
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
    if (m_Slots != nullptr && !m_Slots->Admit(client)) {
        RefuseBusy(client);
        return;
    }
    UP_HttpServerTask* task = new UP_HttpServerTask(m_Handler, client, false, m_Slots);
    if (m_TaskManager != nullptr) {
        // Without slots, waits while every place of the manager is taken; with them there is
        // always a place. A self-destroying task that cannot start is deleted.
        (void)m_TaskManager->StartTask(task, nullptr, true);
    } else {
        (void)task->Start(nullptr, nullptr, true);
    }
}
