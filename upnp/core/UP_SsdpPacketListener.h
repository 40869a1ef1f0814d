// UP_SsdpPacketListener: receives every SSDP datagram (M-SEARCH, NOTIFY) that the engine's
// listen task reads. The device host implements it.
//
// OnSsdpPacket runs on the listen task's thread while the task holds its listener lock: it must
// not add or remove listeners, and should only queue work.
#pragma once

#include "KL_Result.h"

class KL_HttpRequest;
class KL_HttpRequestContext;

class UP_SsdpPacketListener {
public:
    virtual ~UP_SsdpPacketListener() = default;
    virtual KL_Result OnSsdpPacket(KL_HttpRequest& request, const KL_HttpRequestContext& context) = 0;
};
