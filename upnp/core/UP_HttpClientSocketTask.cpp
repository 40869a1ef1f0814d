#include "UP_HttpClientSocketTask.h"

#include "KL_Check.h"
#include "KL_HttpConnectionManager.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpRequestContext.h"
#include "KL_HttpResponse.h"
#include "KL_HttpTlsConnector.h"
#include "KL_Log.h"
#include "KL_NullOutputStream.h"
#include "KL_StreamToStreamCopy.h"
#include "KL_System.h"
#include "UP_FrameworkDefaults.h"
#include "UP_HttpMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.http.client");

namespace {

constexpr KL_Timeout kClientTimeout = 60000;
constexpr KL_Timeout kQueueWait = 100;
constexpr int64_t kCleanupIntervalSeconds = 30;
// A response body is read (and dropped) up to this size; a longer one is cut and its connection
// closed rather than pooled, so a callback server cannot hold the task with an endless body.
constexpr KL_LargeSize kMaxDrainedBody = 1024 * 1024;

class AbortAwareConnector : public KL_HttpClient::Connector {
public:
    explicit AbortAwareConnector(UP_ThreadTask& task) : m_Task(task) {}
    [[nodiscard]] KL_Result Connect(const KL_HttpUrl& url, KL_HttpClient& client,
                                    const KL_HttpProxyAddress* proxy, bool reuse,
                                    KL_HttpClient::Connection*& connection) override {
        connection = nullptr;
        if (m_Task.IsAborting(0)) {
            return KL_ERROR_CANCELLED;
        }
        return m_Connector.Connect(url, client, proxy, reuse, connection);
    }

private:
    UP_ThreadTask& m_Task;
    KL_HttpTlsConnector m_Connector;
};

KL_TimeStamp Now() {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    return now;
}

} // namespace

UP_HttpClientSocketTask::UP_HttpClientSocketTask(KL_HttpRequest* request, bool wait_forever)
    : m_Connector(new AbortAwareConnector(*this)), m_Client(m_Connector.get(), false),
      m_WaitForever(wait_forever) {
    m_Client.SetUserAgent(UP_FrameworkDefaults::Instance().GetDefaultUserAgent().GetChars());
    m_Client.SetTimeouts(kClientTimeout, kClientTimeout, kClientTimeout);
    if (request != nullptr) {
        (void)AddRequest(request);
    }
}

UP_HttpClientSocketTask::~UP_HttpClientSocketTask() {
    KL_HttpRequest* request = nullptr;
    while (KL_SUCCEEDED(m_Requests.Pop(request, 0)) && request != nullptr) {
        delete request;
        request = nullptr;
    }
}

void UP_HttpClientSocketTask::DoAbort() {
    m_Client.Abort();
}

KL_Result UP_HttpClientSocketTask::AddRequest(KL_HttpRequest* request) {
    KL_CHECK_POINTER(request);
    return m_Requests.Push(request, KL_TIMEOUT_INFINITE);
}

KL_Result UP_HttpClientSocketTask::SetHttpClientConfig(const KL_HttpClient::Config& config) {
    return m_Client.SetConfig(config);
}

void UP_HttpClientSocketTask::DoRun() {
    KL_TimeStamp last_cleanup = Now();
    for (;;) {
        KL_HttpRequest* request = nullptr;
        if (KL_FAILED(m_Requests.Pop(request, kQueueWait)) || request == nullptr) {
            if ((Now() - last_cleanup).ToSeconds() > kCleanupIntervalSeconds) {
                if (KL_HttpConnectionManager* manager = KL_HttpConnectionManager::GetExistingInstance()) {
                    (void)manager->Cleanup();
                }
                last_cleanup = Now();
            }
            if (!m_WaitForever || IsAborting(0)) {
                return;
            }
            continue;
        }
        if (IsAborting(0)) {
            delete request;
            return;
        }
        SendOne(request);
    }
}

void UP_HttpClientSocketTask::SendOne(KL_HttpRequest* request) {
    KL_HttpResponse* response = nullptr;
    KL_HttpRequestContext context;
    KL_Result res = m_Client.SendRequest(*request, response, &context);
    if (KL_LocalLogger.GetIfLoggable(KL_LOG_LEVEL_FINER) != nullptr) {
        KL_String prefix = KL_String::Format("UP_HttpClientSocketTask::DoRun (res = %d):", res);
        UP_HttpMessageHelper::ToLog(KL_LocalLogger, KL_LOG_LEVEL_FINER, prefix.GetChars(), response);
    }
    KL_SocketInfo info;
    info.local_address = context.GetLocalAddress();
    info.remote_address = context.GetRemoteAddress();
    (void)ProcessResponse(res, *request, info, response);
    delete response;
    delete request;
}

KL_Result UP_HttpClientSocketTask::ProcessResponse(KL_Result result, KL_HttpRequest&, const KL_SocketInfo&,
                                                   KL_HttpResponse* response) {
    KL_LOG_FINE("UP_HttpClientSocketTask::ProcessResponse (result=%d)", result);
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("request failed: %d (%s)", result, KL_GetResultText(result));
        return result;
    }
    if (response == nullptr) {
        KL_LOG_WARNING("@@@ NULL pointer parameter");
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_HttpEntity* entity = response->GetEntity();
    KL_InputStreamReference body;
    if (entity == nullptr || KL_FAILED(entity->GetInputStream(body)) || !body) {
        return KL_SUCCESS;
    }
    KL_LargeSize size = entity->ContentLengthIsKnown() ? entity->GetContentLength() : kMaxDrainedBody;
    if (size == 0) {
        return KL_SUCCESS;
    }
    if (size > kMaxDrainedBody) {
        size = kMaxDrainedBody;
    }
    KL_NullOutputStream output;
    KL_Result copied = KL_StreamToStreamCopy(*body, output, 0, size);
    if (copied == KL_ERROR_EOS && !entity->ContentLengthIsKnown()) {
        return KL_SUCCESS; // a body of unknown length ended before the cap
    }
    if (KL_FAILED(copied)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, copied,
                            "(KL_StreamToStreamCopy(*body, output, 0, entity->GetContentLength()))");
        return copied;
    }
    return KL_SUCCESS;
}
