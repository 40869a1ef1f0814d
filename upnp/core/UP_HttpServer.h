// UP_HttpServer: the HTTP server of a device host. It accepts TCP connections on its port (a
// UP_HttpListenTask), runs one keep-alive connection task per connection (UP_HttpServerTask) under
// its own task manager, and hands every request to the first request handler registered for its
// path. ServeFile and ServeStream answer a request with a file or a stream: byte ranges,
// conditional requests and the DLNA headers.
//
//   UP_HttpServer server(KL_IpAddress::Any, 0, true, 100, false);
//   server.AddRequestHandler(new UP_HttpRequestHandler(host), "/", true, true);
//   KL_CHECK(server.Start());          // port 0: a random free port in 1024..2047
//   ... server.GetPort() ...
//   server.Stop();                     // aborts every connection; a stopped server stays stopped
//
// Handlers may be added while the server runs: the handler list is locked.
//
// Hostile clients: each connection lives under UP_HttpServerLimits (the wait for a request, a
// whole head and a whole body are bounded, a client that reads nothing is given up), and the
// connection slots are valued by what each connection does (UP_HttpConnectionSlots,
// UP_HttpSlotRules): while a slot is free every newcomer gets one; when every slot is taken a
// newcomer takes the place of the cheapest connection that may give way (a refused request's
// drain, idle, receiving slowly, an answer read slower than a listener reads, a long-paused
// answer, what a peer holds beyond its share of 16), or waits a moment for room, kept-alive
// connections being told to end after their answer, and is answered 503 only when none came.
// The listen task never waits for room.
#pragma once

#include "KL_DateTime.h"
#include "KL_HttpRequestHandler.h"
#include "KL_HttpServer.h"
#include "KL_InputStream.h"
#include "KL_IpAddress.h"
#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_Types.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpServerLimits.h"

#include <cstdint>

class KL_HttpRequest;
class KL_HttpRequestContext;
class KL_HttpResponse;
class UP_TaskManager;

// The largest request body a connection task reads into memory; a longer one is answered
// 413 and the connection is closed.
constexpr uint64_t UP_HTTP_SERVER_MAX_REQUEST_BODY = 1024 * 1024;

class UP_HttpServer : public KL_HttpRequestHandler, public KL_HttpServer {
public:
    // address: kept, but binding always uses every interface. max_clients bounds the connections
    // served at once (the listen task takes one of them); the server's manager has
    // UP_HttpConnectionSlots::kMaxEnding more places for connections closed to make room whose
    // tasks are still ending. reuse_address binds with port reuse.
    UP_HttpServer(const KL_IpAddress& address = KL_IpAddress::Any, uint16_t port = 0,
                  bool allow_random_port_on_bind_failure = true, KL_Cardinal max_clients = 100,
                  bool reuse_address = false);
    ~UP_HttpServer() override; // calls Stop

    // As a handler of its own connection tasks: the first handler for the request's path
    // (KL_ERROR_NO_SUCH_ITEM when none), then "Date" and (with "Accept-Language") "Content-Language".
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;
    // Binds (port 0 or a taken port with random ports allowed: up to 100 random ports in
    // 1024..2047) and starts the listen task. KL_ERROR_INVALID_STATE when running or stopped.
    [[nodiscard]] virtual KL_Result Start();
    // Ends the listen task and every connection task and returns once they have ended.
    // KL_ERROR_INVALID_STATE unless running.
    virtual KL_Result Stop();
    // The requested port; after Start the port actually bound.
    virtual uint16_t GetPort() const;
    // The limits of connections accepted from now on (tests set short ones before Start).
    void SetLimits(const UP_HttpServerLimits& limits) { m_Slots.SetLimits(limits); }

    // The handler list, locked (handlers may be added while connections are served).
    KL_Result AddRequestHandler(KL_HttpRequestHandler* handler, const char* path,
                                bool include_children = false, bool transfer_ownership = false) override;
    KL_HttpRequestHandler* FindRequestHandler(KL_HttpRequest& request) override;
    KL_List<KL_HttpRequestHandler*> FindRequestHandlers(KL_HttpRequest& request) override;

    // Answers with the file at file_path: KL_ERROR_NO_SUCH_ITEM for a path with a ".." component,
    // anything but a regular file, or a file that cannot be opened; 304 for If-Modified-Since
    // (without Range); Last-Modified and Cache-Control; the MIME type for the asking client.
    // Never blocks on opening (a FIFO is refused).
    [[nodiscard]] static KL_Result ServeFile(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                             KL_HttpResponse& response, const char* file_path);
    // The same for a file already open (a UP_FileInputStream): its status comes from the open
    // descriptor, its MIME type from file_name.
    [[nodiscard]] static KL_Result ServeFile(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                             KL_HttpResponse& response, const KL_InputStreamReference& file,
                                             const char* file_name);
    // Answers with a stream: Range (one that cannot be read is ignored), Accept-Ranges, and the
    // DLNA headers ContentFeatures (when asked), TransferMode and TimeSeekRange (406).
    [[nodiscard]] static KL_Result ServeStream(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                               KL_HttpResponse& response,
                                               const KL_InputStreamReference& stream,
                                               const char* content_type);
    // The request's "If-Modified-Since" as RFC 1123, RFC 1036 or ANSI date; -1 when absent.
    [[nodiscard]] static KL_Result GetIfModifiedSince(const KL_HttpRequest& request, KL_DateTime& date);

    bool IsRunning() const { return m_Running; }
    UP_TaskManager* GetTaskManager() { return m_TaskManager.AsPointer(); }

private:
    KL_Result BindRandomPort();

    KL_Reference<UP_TaskManager> m_TaskManager;
    KL_IpAddress m_Address;
    uint32_t m_Port;
    bool m_AllowRandomPortOnBindFailure;
    bool m_ReuseAddress;
    bool m_Running = false;
    bool m_Aborted = false;
    KL_Mutex m_HandlersLock;
    KL_Mutex m_StateLock;
    // Outlives every connection task: Stop (also from the destructor) waits for them.
    UP_HttpConnectionSlots m_Slots;
};
