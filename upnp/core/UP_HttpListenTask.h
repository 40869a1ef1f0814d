// UP_HttpListenTask: accepts the connections of a UP_HttpServer and starts one UP_HttpServerTask
// for each through its own task manager (which bounds how many run at once: when all slots are
// taken, new connections wait in the listen backlog).
#pragma once

#include "UP_ThreadTask.h"

class KL_HttpRequestHandler;
class KL_TcpServerSocket;

class UP_HttpListenTask : public UP_ThreadTask {
public:
    // handler: what new connection tasks hand requests to (not owned); socket: listening, owned
    // only when owns_socket.
    UP_HttpListenTask(KL_HttpRequestHandler* handler, KL_TcpServerSocket* socket, bool owns_socket = false);
    ~UP_HttpListenTask() override;

    void DoRun() override;
    // Cancels the listening socket, which wakes the accept.
    void DoAbort() override;

protected:
    KL_HttpRequestHandler* m_Handler;
    KL_TcpServerSocket* m_Socket;
    bool m_OwnsSocket;
};
