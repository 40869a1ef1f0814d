// UP_HttpListenTask: accepts the connections of a UP_HttpServer and starts one UP_HttpServerTask
// for each through its own task manager (which bounds how many run at once: when all slots are
// taken, new connections wait in the listen backlog).
//
// With the server's connection slots, a peer that holds as many connections as it may has the
// next one closed at once unless one of its own is idle (that one is closed instead), and when
// every slot is taken the connection idle longest is closed to make room (the task waits for
// room while every connection is busy). A failed accept (no
// descriptors or memory left, a connection aborted before it was taken) is logged and retried
// after 100 ms: only cancellation ends the task.
#pragma once

#include "UP_ThreadTask.h"

class KL_HttpRequestHandler;
class KL_Socket;
class KL_TcpServerSocket;
class UP_HttpConnectionSlots;

class UP_HttpListenTask : public UP_ThreadTask {
public:
    // handler: what new connection tasks hand requests to (not owned); socket: listening, owned
    // only when owns_socket; slots: null (no per-peer bound, no limits), or the server's.
    UP_HttpListenTask(KL_HttpRequestHandler* handler, KL_TcpServerSocket* socket, bool owns_socket = false,
                      UP_HttpConnectionSlots* slots = nullptr);
    ~UP_HttpListenTask() override;

    void DoRun() override;
    // Cancels the listening socket, which wakes the accept.
    void DoAbort() override;

protected:
    // Starts the connection task of a new client (or refuses the client).
    void Serve(KL_Socket* client);

    KL_HttpRequestHandler* m_Handler;
    KL_TcpServerSocket* m_Socket;
    bool m_OwnsSocket;
    UP_HttpConnectionSlots* m_Slots;
};
