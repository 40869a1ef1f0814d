// UP_SsdpSearchTask: the control-point side of SSDP. It sends an M-SEARCH (twice) and hands every
// answer that arrives within the frequency to its listener, pass after pass while the frequency
// is at least 1 s. Nothing in the device framework starts one; tests use it as a search client.
//
//   KL_HttpRequest* search = new KL_HttpRequest(KL_HttpUrl("239.255.255.250", 1900, "*"), "M-SEARCH",
//   "HTTP/1.1");
//   ... Host, MAN, MX, ST ...
//   UP_SsdpSearchTask task(new KL_UdpSocket(KL_SOCKET_FLAG_CANCELLABLE), &listener, search, one_pass);
//   task.Start();
#pragma once

#include "KL_Result.h"
#include "KL_SocketInfo.h"
#include "KL_TimeStamp.h"
#include "UP_ThreadTask.h"

class KL_HttpRequest;
class KL_HttpResponse;
class KL_UdpSocket;

// Receives the answers of a search, on the search task's thread.
class UP_SsdpSearchListener {
public:
    virtual ~UP_SsdpSearchListener() = default;
    virtual KL_Result OnSsdpSearchResponse(KL_HttpResponse& response, const KL_SocketInfo& info) = 0;
};

class UP_SsdpSearchTask : public UP_ThreadTask {
public:
    // Takes the socket and the request; the listener is not owned. frequency 0 means 30 s.
    UP_SsdpSearchTask(KL_UdpSocket* socket, UP_SsdpSearchListener* listener, KL_HttpRequest* request,
                      const KL_TimeStamp& frequency);
    ~UP_SsdpSearchTask() override;

    void DoRun() override;
    void DoAbort() override;

private:
    // Sends the request twice; its failure is logged and handed up.
    KL_Result SendSearch();
    // Hands answers to the listener until the deadline (ms on the monotonic clock).
    void ReadResponses(int64_t deadline);

    KL_UdpSocket* m_Socket;
    UP_SsdpSearchListener* m_Listener;
    KL_HttpRequest* m_Request;
    KL_TimeStamp m_Frequency;
};
