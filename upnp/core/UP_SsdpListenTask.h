// UP_SsdpListenTask: reads every datagram arriving on the engine's SSDP socket (UDP 1900), parses
// it as an HTTP request and hands it to every registered packet listener (the device hosts).
// Nothing is ever written back on this socket. It runs from the engine's Start to its Stop.
//
// Each datagram is parsed on its own: a datagram that is cut short, is no HTTP, or carries bytes
// after its empty line never spills into the next one.
#pragma once

#include "KL_InputStream.h"
#include "KL_List.h"
#include "KL_Mutex.h"
#include "UP_HttpServerSocketTask.h"
#include "UP_SsdpPacketListener.h"

class KL_UdpSocket;
class UP_InputDatagramStream;

class UP_SsdpListenTask : public UP_HttpServerSocketTask {
public:
    // Takes the (bound) socket.
    explicit UP_SsdpListenTask(KL_UdpSocket* socket);
    ~UP_SsdpListenTask() override;

    // Listeners are not owned; no duplicate check. Both 0.
    KL_Result AddListener(UP_SsdpPacketListener* listener);
    // Removes the first entry for the listener; once it returns, that entry is no longer called.
    KL_Result RemoveListener(UP_SsdpPacketListener* listener);

    // The datagram stream over the socket (made on first use, the same one every time).
    [[nodiscard]] KL_Result GetInputStream(KL_InputStreamReference& stream) override;
    // The last datagram's receiving socket and sender; -1 before any stream exists.
    KL_Result GetInfo(KL_SocketInfo& info) override;
    // Reads and parses the next datagram. A receive error other than a time-out or a cancel
    // pauses 100 ms, so a failing socket cannot make the loop spin.
    [[nodiscard]] KL_Result Read(KL_BufferedInputStreamReference& stream, KL_HttpRequest*& request,
                                 UP_HttpRequestContext& context) override;
    // Calls every listener (under the listener lock) and answers KL_ERROR_TERMINATED: nothing is
    // written.
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

private:
    KL_UdpSocket* m_UdpSocket; // the same object as m_Socket
    KL_InputStreamReference m_DatagramStream;
    UP_InputDatagramStream* m_Datagrams = nullptr; // the object m_DatagramStream holds
    KL_List<UP_SsdpPacketListener*> m_Listeners;
    KL_Mutex m_Mutex;
};
