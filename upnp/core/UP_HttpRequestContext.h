// UP_HttpRequestContext: the addresses of a request's connection (KL_HttpRequestContext) plus the
// request itself, so that lookups that depend on the client (UP_ProtocolInfo) can read its
// headers, and a hook that runs once the answer to the request has been written.
//
// The connection task makes one per request; handlers receive it as a KL_HttpRequestContext and
// get it back with UP_HttpRequestContext::From. A context is made and destroyed on one thread
// (it lives on the stack of the connection task), and From finds it on that thread only.
#pragma once

#include "KL_HttpRequestContext.h"
#include "KL_Result.h"

#include <functional>

class KL_HttpRequest;

class UP_HttpRequestContext : public KL_HttpRequestContext {
public:
    // Called with the write's result once the response's last byte went out (or the write failed,
    // or no response was written: then with KL_FAILURE).
    using ResponseWrittenCallback = std::function<void(KL_Result)>;

    explicit UP_HttpRequestContext(const KL_SocketAddress* local_address = nullptr,
                                   const KL_SocketAddress* remote_address = nullptr,
                                   const KL_HttpRequest* request = nullptr);
    ~UP_HttpRequestContext();
    UP_HttpRequestContext(const UP_HttpRequestContext&) = delete;
    UP_HttpRequestContext& operator=(const UP_HttpRequestContext&) = delete;

    // The request (not owned), or null.
    const KL_HttpRequest* GetRequest() const { return m_Request; }
    void SetRequest(const KL_HttpRequest* request) { m_Request = request; }

    // A handler asks to be told when its answer has been sent (a later call replaces the hook).
    // Const so that handlers, which see a const context, can set it.
    void SetResponseWrittenCallback(ResponseWrittenCallback callback) const;
    // Runs the hook once (if any) and clears it. The destructor runs it with KL_FAILURE.
    void NotifyResponseWritten(KL_Result result) const;

    // The context as a UP_HttpRequestContext when it is one alive on the calling thread, else null.
    static const UP_HttpRequestContext* From(const KL_HttpRequestContext* context);

private:
    const KL_HttpRequest* m_Request;
    mutable const UP_HttpRequestContext* m_NextOnThread;
    mutable ResponseWrittenCallback m_ResponseWritten;
};
