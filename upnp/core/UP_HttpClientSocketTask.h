// UP_HttpClientSocketTask: sends queued HTTP requests one after another with its own KL_HttpClient
// and hands each response to ProcessResponse (by default: read and drop the body so that the
// connection can be reused). GENA uses it for NOTIFY.
//
//   UP_HttpClientSocketTask* task = new UP_HttpClientSocketTask(request);  // task owns request
//   manager->StartTask(task);          // self-destroying: ends ~100 ms after its queue runs empty
//
// AddRequest may be called from any thread; the task's own thread alone uses the client.
#pragma once

#include "KL_HttpClient.h"
#include "KL_Queue.h"
#include "KL_Result.h"
#include "KL_SocketInfo.h"
#include "UP_ThreadTask.h"

#include <memory>

class KL_HttpRequest;
class KL_HttpResponse;

class UP_HttpClientSocketTask : public UP_ThreadTask {
public:
    // request: the first request (owned) or null. wait_forever: keep waiting for requests after
    // the queue runs empty, until aborted.
    explicit UP_HttpClientSocketTask(KL_HttpRequest* request = nullptr, bool wait_forever = false);
    // Deletes every request still queued.
    ~UP_HttpClientSocketTask() override;

    // Aborts the client: a blocked send returns.
    void DoAbort() override;
    void DoRun() override;

    // Queues a further request (owned by the task from then on).
    virtual KL_Result AddRequest(KL_HttpRequest* request);
    virtual KL_Result SetHttpClientConfig(const KL_HttpClient::Config& config);
    // Called for every request sent: result of the send, the request, the connection's addresses
    // and the response (null when the send failed). Default: drains the body; the send's failure
    // or the drain's is returned.
    virtual KL_Result ProcessResponse(KL_Result result, KL_HttpRequest& request, const KL_SocketInfo& info,
                                      KL_HttpResponse* response);

protected:
    // The client's connector: the runtime's, refusing to connect once the task is aborting (an
    // abort that comes just before a send is not lost).
    std::unique_ptr<KL_HttpClient::Connector> m_Connector;
    KL_HttpClient m_Client;
    bool m_WaitForever;
    KL_Queue<KL_HttpRequest> m_Requests;

private:
    void SendOne(KL_HttpRequest* request);
};
