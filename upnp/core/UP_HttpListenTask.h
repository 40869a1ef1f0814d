// UP_HttpListenTask: accepts the connections of a UP_HttpServer and starts one UP_HttpServerTask
// for each through its own task manager.
//
// With the server's connection slots it never waits: each accepted connection is admitted (the
// slots may close another one to make room for it, see UP_HttpConnectionSlots) and its task
// started at once, or it is answered 503 without waiting and closed. About twice a second it
// has the slots look at which answers make progress. Without slots, a start waits while every
// place of the manager is taken (new connections wait in the listen backlog). A failed accept
// (no descriptors or memory left, a connection aborted before it was taken) is logged and
// retried after 100 ms: only cancellation ends the task.
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
