// UP_SsdpSender: formats one SSDP packet (NOTIFY request or M-SEARCH response) for one target and
// sends it as one datagram.
//
//   UP_SsdpSender::SendSsdp(request, "uuid:U::upnp:rootdevice", "upnp:rootdevice", socket, true, &to);
#pragma once

#include "KL_Result.h"

class KL_HttpMessage;
class KL_HttpRequest;
class KL_HttpResponse;
class KL_SocketAddress;
class KL_UdpSocket;

class UP_SsdpSender {
public:
    // Sets "USN"; with notify "NT" = target, else "ST" = target and "Date" = now (RFC 1123).
    // Values replace earlier ones in place. 0.
    static KL_Result FormatPacket(KL_HttpMessage& message, const char* usn, const char* target, bool notify);
    // FormatPacket, then the message text as one datagram to the address (null: the socket's
    // connected peer). A failed send is logged and handed up.
    [[nodiscard]] static KL_Result SendSsdp(KL_HttpRequest& request, const char* usn, const char* target,
                                            KL_UdpSocket& socket, bool notify,
                                            const KL_SocketAddress* address);
    [[nodiscard]] static KL_Result SendSsdp(KL_HttpResponse& response, const char* usn, const char* target,
                                            KL_UdpSocket& socket, bool notify,
                                            const KL_SocketAddress* address);

private:
    static KL_Result Send(const KL_HttpMessage& message, KL_UdpSocket& socket,
                          const KL_SocketAddress* address);
};
