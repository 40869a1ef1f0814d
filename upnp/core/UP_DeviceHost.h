// UP_DeviceHost: a UPnP root device hosted by this process. It owns an HTTP server and a task
// manager and answers GET of its description and SCPDs, SOAP control POSTs and GENA
// SUBSCRIBE/UNSUBSCRIBE. It is abstract: a concrete device supplies its services (SetupServices)
// and its action handling (OnAction).
//
//   class MyDevice : public UP_DeviceHost { KL_Result SetupServices() override; ... };
//   MyDevice device(...);
//   KL_CHECK(device.Start());   // binds, sets up the services, serves
//   ...
//   device.Stop();              // stops the tasks and the server, clears the services
//
// Threads: SetupResponse and the handlers below it run on the HTTP server's connection threads,
// concurrently; services lock their own state. Start and Stop run on the caller's thread.
//
// The SSDP side (listening, announcing, answering searches) lives in UP_DeviceHostSsdp.cpp:
// Start and Stop call its hooks at their place in the sequence.
#pragma once

#include "KL_HttpRequestHandler.h"
#include "KL_IpAddress.h"
#include "KL_List.h"
#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"
#include "UP_DeviceData.h"
#include "UP_DeviceIcon.h"
#include "UP_SsdpAnswerRate.h"
#include "UP_SsdpPacketListener.h"
#include "UP_SsdpPendingSearches.h"

#include <atomic>
#include <cstdint>

class KL_HttpRequest;
class KL_HttpRequestContext;
class KL_HttpResponse;
class UP_ActionCall;
class UP_HttpServer;
class UP_Service;
class UP_TaskManager;
class UP_SsdpListenTask;
class KL_UdpSocket;
class KL_SocketAddress;

class UP_DeviceHost : public UP_DeviceData, public UP_SsdpPacketListener, public KL_HttpRequestHandler {
public:
    // description_path: the path of the description URL (e.g. "/DeviceDescription.xml"). A null
    // or empty UUID gets a random one. show_ip appends " (first LAN address)" to the name.
    // port 0: any; allow_port_rebind: a taken port is replaced by a random one.
    UP_DeviceHost(const char* description_path, const char* uuid, const char* device_type,
                  const char* friendly_name, bool show_ip = false, uint16_t port = 0,
                  bool allow_port_rebind = true);
    // Stops a started host.
    ~UP_DeviceHost() override;

    virtual void SetExtraBroadcast(bool extra_broadcast) { m_ExtraBroadcast = extra_broadcast; }
    virtual void SetByeByeFirst(bool byebye_first) { m_ByeByeFirst = byebye_first; }
    // The requested port; after Start the port actually bound.
    virtual uint16_t GetPort() const { return m_Port; }

    // The HTTP entry: GET/HEAD (SCPD, description, else ProcessHttpGetRequest), POST (SOAP),
    // SUBSCRIBE/UNSUBSCRIBE (GENA); any other method 405. When it has set a status itself it
    // answers 0, so that status and body are sent as they are.
    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

    using UP_DeviceData::AddIcon;
    // Serves the icon from file_root (its URL path must begin with url_root; else
    // KL_ERROR_INVALID_PARAMETERS). Needs the server: call it from SetupIcons.
    virtual KL_Result AddIcon(const UP_DeviceIcon& icon, const char* file_root, const char* url_root = "/");
    // Serves the icon from memory (copied when asked; else borrowed for the server's life).
    virtual KL_Result AddIcon(const UP_DeviceIcon& icon, const void* data, KL_Size size, bool copy);

    // The concrete device creates and adds its services here.
    virtual KL_Result SetupServices() = 0;
    // 0 here.
    virtual KL_Result SetupIcons();
    // SetupServices, then SetupIcons.
    virtual KL_Result SetupDevice();

    // KL_ERROR_INVALID_STATE when started. A failure leaves the host stopped, without services.
    // With the engine's SSDP listen task the host also announces itself and answers M-SEARCH.
    virtual KL_Result Start(UP_SsdpListenTask* listen_task = nullptr);
    // KL_ERROR_INVALID_STATE when stopped. Clears the services (a new Start sets them up again).
    // With a listen task: leaves it first, and sends byebye once the server stopped.
    virtual KL_Result Stop(UP_SsdpListenTask* listen_task = nullptr);
    bool IsStarted() const { return m_Started.load(); }

    // SSDP (UP_DeviceHostSsdp.cpp). An M-SEARCH this host answers queues one pending answer for the
    // host's answer task (one per searching host and target, which answers every port of the host
    // that searched meanwhile; only for single hosts on a network it answers on). When
    // UP_SSDP_MAX_PENDING_SEARCHES answers wait, the search is answered at once (once).
    KL_Result OnSsdpPacket(KL_HttpRequest& request, const KL_HttpRequestContext& context) override;
    // Sends every target of this device matching st (exact compare) through the socket.
    virtual KL_Result SendSsdpSearchResponse(KL_HttpResponse& response, KL_UdpSocket& socket, const char* st,
                                             const KL_SocketAddress* address);
    static KL_Result SendSsdpSearchResponse(const UP_DeviceData& device, KL_HttpResponse& response,
                                            KL_UdpSocket& socket, const char* st,
                                            const KL_SocketAddress* address);
    // Sends one NOTIFY per target of the device (and its embedded devices) to the request's URL;
    // type: UP_SSDP_ANNOUNCE_BYEBYE, _ALIVE or _UPDATE.
    static KL_Result Announce(const UP_DeviceData& device, KL_HttpRequest& request, KL_UdpSocket& socket,
                              int type);
    // The number of datagrams one answer of the device (embedded devices included) to st holds.
    static KL_Size CountSsdpSearchResponses(const UP_DeviceData& device, const KL_String& st);

    // The action handler; the default refuses every action with 401 "Invalid Action" and -1.
    virtual KL_Result OnAction(UP_ActionCall& call, const KL_HttpRequestContext& context);
    virtual KL_Result ProcessGetDescription(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                            KL_HttpResponse& response);
    virtual KL_Result ProcessGetSCPD(UP_Service* service, KL_HttpRequest& request,
                                     const KL_HttpRequestContext& context, KL_HttpResponse& response);
    // Any other GET or HEAD; the default serves nothing (KL_ERROR_NO_SUCH_ITEM).
    virtual KL_Result ProcessHttpGetRequest(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                            KL_HttpResponse& response);
    virtual KL_Result ProcessHttpPostRequest(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                             KL_HttpResponse& response);
    virtual KL_Result ProcessHttpSubscriberRequest(KL_HttpRequest& request,
                                                   const KL_HttpRequestContext& context,
                                                   KL_HttpResponse& response);

    // While started; null otherwise.
    UP_HttpServer* GetHttpServer() const { return m_HttpServer.AsPointer(); }
    const KL_Reference<UP_TaskManager>& GetTaskManager() const { return m_TaskManager; }

protected:
    bool GetExtraBroadcast() const { return m_ExtraBroadcast; }
    bool GetByeByeFirst() const { return m_ByeByeFirst; }

private:
    // The SSDP hooks (UP_DeviceHostSsdp.cpp): announcing and listening once the device serves,
    // leaving the listeners before the tasks stop, and the byebye after the server stopped.
    KL_Result StartSsdp(UP_SsdpListenTask* listen_task);
    void StopSsdpListening(UP_SsdpListenTask* listen_task);
    void AnnounceByeBye();
    // Drops services, server and task manager after a failed Start.
    void AbandonStart();
    // The SOAP steps after the service was found (UP_DeviceHostSoap.cpp).
    KL_Result ProcessSoapAction(UP_Service* service, const char* action_name, KL_HttpRequest& request,
                                const KL_HttpRequestContext& context, KL_HttpResponse& response);
    KL_Result RunAction(UP_ActionCall& call, const KL_XmlElementNode* action, bool browse,
                        const KL_HttpRequestContext& context);

    KL_Reference<UP_TaskManager> m_TaskManager;
    KL_Reference<UP_HttpServer> m_HttpServer;
    bool m_ExtraBroadcast = false;
    uint16_t m_Port;
    bool m_AllowPortRebind;
    bool m_ByeByeFirst = true;
    std::atomic<bool> m_Started{false};
    // Set once the device is fully set up and its port known; requests before get 404.
    std::atomic<bool> m_Serving{false};
    // SSDP (UP_DeviceHostSsdp.cpp): the listen task while announced, the pending M-SEARCH
    // answers (who asked, for what: the listen task adds, the answer task takes) and the answer
    // datagrams sent to each host of late (both tasks take from it).
    UP_SsdpListenTask* m_SsdpListenTask = nullptr;
    UP_SsdpPendingSearches m_PendingSearches;
    UP_SsdpAnswerRate m_AnswerRate;
};
