// UP_HttpListenTask: accepts the connections of a UP_HttpServer and starts one UP_HttpServerTask
// for each through its own task manager.
//
// With the server's connection slots it never waits: a newcomer is admitted (the slots may close
// a cheaper connection to make room for it, see UP_HttpConnectionSlots) and its task started at
// once, or it is held. What becomes of the held ones is decided by UP_HttpWaitingList on a
// snapshot of the list: the task looks again every kRecheck while any waits, drops those whose
// client has gone, offers the slots to the others in turn (one pass of the slots for all) and
// answers 503 to those it refuses.
// A refused one is written its 503 without waiting, then its side of the connection
// is shut down and what the client still sends is read and dropped, in passes, for up to
// kDrainTime (at most kMaxDraining at once), so that the client reads the status instead of a
// reset. About twice a second the task has the slots sample how fast answers move. Without
// slots, a start waits while every place of the manager is taken (new connections wait in the
// listen backlog). A failed accept (no descriptors or memory left, a connection aborted before
// it was taken) is logged and retried after 100 ms: only cancellation ends the task.
#pragma once

#include "UP_HttpWaitingList.h"
#include "UP_ThreadTask.h"

#include <chrono>
#include <cstdint>
#include <vector>

class KL_HttpRequestHandler;
class KL_Socket;
class KL_TcpServerSocket;
class UP_HttpConnectionSlots;

class UP_HttpListenTask : public UP_ThreadTask {
public:
    static constexpr size_t kMaxDraining = 64;
    static constexpr std::chrono::milliseconds kRecheck{20};
    static constexpr std::chrono::milliseconds kDrainTime{1000};

    // handler: what new connection tasks hand requests to (not owned); socket: listening, owned
    // only when owns_socket; slots: null (no per-peer bound, no limits), or the server's.
    UP_HttpListenTask(KL_HttpRequestHandler* handler, KL_TcpServerSocket* socket, bool owns_socket = false,
                      UP_HttpConnectionSlots* slots = nullptr);
    ~UP_HttpListenTask() override;

    void DoRun() override;
    // Cancels the listening socket, which wakes the accept.
    void DoAbort() override;

protected:
    using Clock = std::chrono::steady_clock;
    struct Held {
        KL_Socket* m_Client;
        uint32_t m_Peer;
        Clock::time_point m_Since;
        bool m_Told; // it has told a connection to end after its answer
    };
    struct Draining {
        KL_Socket* m_Client;
        Clock::time_point m_Until;
        size_t m_Written; // of the 503
    };

    // Starts the connection task of a new client, or holds it.
    void Serve(KL_Socket* client);
    void StartConnection(KL_Socket* client);
    // Offers the slots to the held clients in turn; refuses or drops those the list says.
    void ServeHeld(Clock::time_point now);
    // The held clients as the waiting list sees them.
    std::vector<UP_HttpWaiterView> Snapshot(Clock::time_point now) const;
    // Answers 503 and drains the client (closes it at once when too many drain).
    void Refuse(KL_Socket* client);
    // Writes the rest of each 503, then shuts that side down, and reads what the refused clients
    // sent; closes those at their end or past their time.
    void Drain(Clock::time_point now);

    KL_HttpRequestHandler* m_Handler;
    KL_TcpServerSocket* m_Socket;
    bool m_OwnsSocket;
    UP_HttpConnectionSlots* m_Slots;
    std::vector<Held> m_Held;
    std::vector<Draining> m_Draining;
    Clock::time_point m_LastRecheck;
    // When the slots last reported an answer finished, and their count then.
    Clock::time_point m_LastAnswered;
    uint64_t m_Answered = 0;
};
