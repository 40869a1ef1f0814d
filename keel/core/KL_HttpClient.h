// KL_HttpClient: sends HTTP requests over connections its connector provides.
// For now only the connection interface the body streams rely on.
#pragma once

#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"

#include "KL_SocketInfo.h"

class KL_HttpClient {
public:
    // One connection to a server. A response body keeps its connection until the body has been
    // read to its end; then a persistent connection goes back to the pool with Recycle,
    // otherwise it is deleted, which closes it.
    class Connection {
    public:
        virtual ~Connection() = default;
        virtual KL_InputStreamReference& GetInputStream() = 0;
        virtual KL_OutputStreamReference& GetOutputStream() = 0;
        // Local and remote addresses of the connection's socket.
        [[nodiscard]] virtual KL_Result GetInfo(KL_SocketInfo& info) = 0;
        virtual bool SupportsPersistence() = 0;
        // True when the connection came from the pool.
        virtual bool IsRecycled() = 0;
        // Hands the connection back to the pool, which owns it from then on.
        virtual KL_Result Recycle() = 0;
        // Cancels the socket: reads and writes in progress fail.
        virtual KL_Result Abort() = 0;
    };
};
