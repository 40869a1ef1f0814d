// MyDLNAService: the application's handle on the DLNA media server. One object per start: it
// owns a UPnP engine, publishes one file media server for the chosen folder under the chosen
// device name, and stops the engine (byebye sent, tasks joined) on `stop` or when it goes.
//
//   auto service = std::make_shared<MyDLNAService>();
//   if (service->start("/home/me/Videos", "Living room")) { ... service->stop(); }
//
// Both methods run on the caller's thread (the application's main thread); the engine and the
// device run their own threads.
#pragma once

#include "KL_Reference.h"
#include "UP_DeviceHost.h"
#include "UP_UPnP.h"

#include <string>

class MyDLNAService {
public:
    MyDLNAService();
    // Stops a running engine; the device, its delegate and its HTTP server go with it.
    ~MyDLNAService();
    MyDLNAService(const MyDLNAService&) = delete;
    MyDLNAService& operator=(const MyDLNAService&) = delete;

    // Publishes the folder as a media server named deviceName ("Some iDevice" when empty). True
    // only when the engine and its device both run; on false nothing is left running.
    bool start(const std::string& folderPath, const std::string& deviceName);
    // Stops the engine; true unless it failed (stopping a stopped engine is no failure).
    bool stop();

    // The device of the last successful start; null before.
    const KL_Reference<UP_DeviceHost>& mediaServer() const { return _mediaServer; }

private:
    UP_UPnP upnp;
    KL_Reference<UP_DeviceHost> _mediaServer;
};
