// UP_HttpServerSocketTask: the keep-alive loop of one connection: read a request (head through a
// 4096-byte buffer, body into memory, at most UP_HTTP_SERVER_MAX_REQUEST_BODY bytes), let
// SetupResponse answer it, write the answer, and go on while the connection is kept alive.
// Handler failures become fixed 403, 404 and 500 pages. The socket is owned.
//
// Requests are read under the limits of UP_HttpServerLimits (UP_HttpRequestInputStream): the
// wait for a request, a whole head and a whole body are bounded; a client that takes nothing of
// an answer for the write time-out is given up. A body that a GET or HEAD declares is read and
// dropped like any other (a larger one than the bound is refused with 413 and closes). A head whose
// Content-Length is not one plain number, or that pairs it with a Transfer-Encoding, is refused
// with 400 and closes; a transfer coding other than chunked with 501.
//
// A connection the server ends after a whole answer (the client asked for "Connection: close" or
// spoke HTTP/1.0, the answer has no length, the request was refused, or the connection was told to
// end to make room) is closed gracefully: the sending side is shut down once the answer is out,
// and what the client still sends (a request already pipelined) is read and dropped for at most
// 2 s and 16 MiB, or until the client ends its side. Closing with it unread would reset the
// connection and drop the end of the answer. A connection cancelled (closed to make room, the
// server stopping) ends at once.
//
// Subclasses supply SetupResponse (UP_HttpServerTask forwards to a request handler); a datagram
// listener reuses the loop with its own GetInputStream and GetInfo and stay_alive_forever.
#pragma once

#include "KL_BufferedInputStream.h"
#include "KL_InputStream.h"
#include "KL_OutputStream.h"
#include "KL_Result.h"
#include "KL_SocketInfo.h"
#include "UP_HttpConnectionSlots.h"
#include "UP_HttpServerLimits.h"
#include "UP_ThreadTask.h"

class KL_HttpRequest;
class KL_HttpRequestContext;
class KL_HttpResponse;
class KL_BsdSocketOutputStream;
class KL_Socket;
class UP_FileInputStream;
class UP_HttpRequestContext;
class UP_HttpRequestInputStream;

// The server identification every answer carries unless it has its own "Server" header.
#define UP_HTTP_SERVER_HEADER "UPnP/1.0 DLNADOC/1.50 Lanyard/1.0.0"

class UP_HttpServerSocketTask : public UP_ThreadTask {
public:
    // Takes the socket; the default limits (read time-out 60 s, write time-out 10 min).
    explicit UP_HttpServerSocketTask(KL_Socket* socket, bool stay_alive_forever = false);
    // Cancels, then deletes the socket.
    ~UP_HttpServerSocketTask() override;

    void DoRun() override;
    // Cancels the socket: a blocked read or write returns.
    void DoAbort() override;

    [[nodiscard]] virtual KL_Result SetupResponse(KL_HttpRequest& request,
                                                  const KL_HttpRequestContext& context,
                                                  KL_HttpResponse& response) = 0;
    [[nodiscard]] virtual KL_Result GetInputStream(KL_InputStreamReference& stream);
    virtual KL_Result GetInfo(KL_SocketInfo& info);
    // Reads one request (head and body). KL_ERROR_EOS / KL_ERROR_TIMEOUT: the connection is over.
    // A body above the limit gives KL_ERROR_NOT_ENOUGH_SPACE with the request handed out (its body
    // not read): the caller answers 413 and closes. So do a body framed in a way that cannot be
    // read safely (KL_ERROR_INVALID_SYNTAX: 400; KL_ERROR_NOT_IMPLEMENTED, an unknown transfer
    // coding: 501).
    [[nodiscard]] virtual KL_Result Read(KL_BufferedInputStreamReference& stream, KL_HttpRequest*& request,
                                         UP_HttpRequestContext& context);
    // Writes the head, then (unless headers_only) the body. keep_alive comes back cleared when the
    // answer cannot keep the connection.
    [[nodiscard]] virtual KL_Result Write(KL_HttpResponse& response, bool& keep_alive, bool headers_only);
    // Makes the response (null for KL_ERROR_TERMINATED: nothing is written). Always 0.
    virtual KL_Result RespondToClient(KL_HttpRequest& request, UP_HttpRequestContext& context,
                                      KL_HttpResponse*& response);
    [[nodiscard]] virtual KL_Result SendResponseHeaders(KL_HttpResponse& response, KL_OutputStream& output,
                                                        bool& keep_alive);
    [[nodiscard]] virtual KL_Result SendResponseBody(KL_HttpResponse& response, KL_OutputStream& output);

protected:
    // The limits of the server whose connection this is; slots (null: none) lists the socket.
    void SetLimits(const UP_HttpServerLimits& limits, UP_HttpConnectionSlots* slots);
    // Notes in the slots (if any) what the connection does; false when it was closed to make room.
    bool SetPhase(UP_HttpConnectionSlots::Phase phase);
    // One pass of the loop; false ends the connection.
    bool ServeOneRequest(KL_BufferedInputStreamReference& stream);
    KL_Result ReadBody(KL_BufferedInputStreamReference& buffered_input_stream, KL_HttpRequest& request);
    KL_Result CopyBounded(KL_InputStream& from, KL_OutputStream& to);
    void SendContinue(const KL_HttpRequest& request);
    void RespondAndClose(KL_Result refusal);
    // Ends the connection after its last answer without cutting that answer.
    void Drain(KL_BufferedInputStreamReference& stream);
    // A file body of known length sent with sendfile from the file's current position.
    KL_Result SendFileBody(UP_FileInputStream& file, KL_BsdSocketOutputStream& socket, KL_LargeSize size);

    KL_Socket* m_Socket;
    bool m_StayAliveForever;
    UP_HttpServerLimits m_Limits;
    UP_HttpConnectionSlots* m_Slots = nullptr;
    // The stream requests are read through (held by DoRun's buffered stream); null before DoRun.
    UP_HttpRequestInputStream* m_RequestStream = nullptr;
    // The server ends the connection after a whole answer: DoRun drains it before it closes.
    bool m_DrainOnEnd = false;
};
