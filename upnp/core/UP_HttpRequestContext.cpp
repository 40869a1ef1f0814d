#include "UP_HttpRequestContext.h"

#include <utility>

namespace {
// The contexts alive on this thread, newest first (a handler's context is near the head).
thread_local const UP_HttpRequestContext* t_Contexts = nullptr;
} // namespace

UP_HttpRequestContext::UP_HttpRequestContext(const KL_SocketAddress* local_address,
                                             const KL_SocketAddress* remote_address,
                                             const KL_HttpRequest* request)
    : KL_HttpRequestContext(local_address, remote_address), m_Request(request), m_NextOnThread(t_Contexts) {
    t_Contexts = this;
}

UP_HttpRequestContext::~UP_HttpRequestContext() {
    NotifyResponseWritten(KL_FAILURE);
    for (const UP_HttpRequestContext** link = &t_Contexts; *link != nullptr;
         link = &(*link)->m_NextOnThread) {
        if (*link == this) {
            *link = m_NextOnThread;
            break;
        }
    }
}

void UP_HttpRequestContext::SetResponseWrittenCallback(ResponseWrittenCallback callback) const {
    m_ResponseWritten = std::move(callback);
}

void UP_HttpRequestContext::NotifyResponseWritten(KL_Result result) const {
    if (m_ResponseWritten) {
        ResponseWrittenCallback callback = std::move(m_ResponseWritten);
        m_ResponseWritten = nullptr;
        callback(result);
    }
}

const UP_HttpRequestContext* UP_HttpRequestContext::From(const KL_HttpRequestContext* context) {
    for (const UP_HttpRequestContext* known = t_Contexts; known != nullptr; known = known->m_NextOnThread) {
        if (static_cast<const KL_HttpRequestContext*>(known) == context) {
            return known;
        }
    }
    return nullptr;
}
