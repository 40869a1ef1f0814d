// UP_HttpListenTask: accepts the connections of a UP_HttpServer and starts one UP_HttpServerTask
// for each through its own task manager.
//
// With the server's connection slots it never waits: each accepted connection is admitted (the
// slots may close a cheaper one to make room for it, see UP_HttpConnectionSlots) and its task
// started at once. One for which no room can be made is held: the task keeps a bounded list of
// such newcomers (kMaxHeld, kMaxHeldPerPeer of one address), looks again every kRecheck while
// any waits, and gives a freed slot to the one whose address holds the least, then the one
// waiting longest; while answers keep finishing (the server is busy, not held) it waits on, up to
// kMaxWhileServing. With the list full, a newcomer takes the place of the one waiting longest of
// the address with the most waiting (its own when at its bound). One still without room after
// the limits' m_RoomWait with no answer finished meanwhile, or so put out of the list, is
// answered a fixed 503: the task writes it, shuts down
// its side and reads what the client sent for up to kDrainTime (bounded list, read without waiting), so that
// the client reads the status instead of a reset. About twice a second it has the slots sample how fast
// answers move. Without slots, a start waits while every place of the manager is taken (new
// connections wait in the listen backlog). A failed accept (no descriptors or memory left, a
// connection aborted before it was taken) is logged and retried after 100 ms: only cancellation
// ends the task.
#pragma once

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
    static constexpr size_t kMaxHeld = 128;
    static constexpr size_t kMaxHeldPerPeer = 16;
    static constexpr size_t kMaxDraining = 64;
    static constexpr std::chrono::milliseconds kRecheck{20};
    static constexpr std::chrono::milliseconds kDrainTime{1000};
    // How long a newcomer may wait while the server keeps finishing answers.
    static constexpr std::chrono::milliseconds kMaxWhileServing{10000};

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
    };
    struct Draining {
        KL_Socket* m_Client;
        Clock::time_point m_Until;
    };

    // Starts the connection task of a new client, or holds it.
    void Serve(KL_Socket* client);
    void StartConnection(KL_Socket* client);
    // Admits the held clients that can be, in turn; answers 503 to those that waited too long.
    void ServeHeld(Clock::time_point now);
    // Answers 503 and drains the client (closes it at once when too many drain).
    void Refuse(KL_Socket* client);
    // Reads what the refused clients sent; closes those at their end or past their time.
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
