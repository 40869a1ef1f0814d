// dlnaserve: shares one folder as a DLNA media server (a UP_FileMediaServer on a UPnP engine,
// announced over SSDP) for end-to-end checks and benchmarks (never installed).
//
//   dlnaserve FOLDER NAME [--port P]
//
// Prints "device at URL" (the description URL on the first LAN address) once the device serves,
// runs until SIGINT or SIGTERM, then stops the engine (byebye sent) and exits 0. A failed start
// prints the result code's name on standard error and exits 1.
#include "../ToolMain.h"
#include "KL_List.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "UP_FileMediaServer.h"
#include "UP_UPnP.h"
#include "UP_UPnPMessageHelper.h"

#include <cstdio>
#include <cstring>

namespace {

// The media server with the start result kept: the engine only logs a device that fails.
class ServedMediaServer : public UP_FileMediaServer {
public:
    using UP_FileMediaServer::UP_FileMediaServer;
    KL_Result Start(UP_SsdpListenTask* listen_task = nullptr) override {
        m_StartResult = UP_FileMediaServer::Start(listen_task);
        return m_StartResult;
    }
    KL_Result GetStartResult() const { return m_StartResult; }

private:
    KL_Result m_StartResult = KL_FAILURE;
};

int Usage() {
    std::fprintf(stderr, "usage: dlnaserve FOLDER NAME [--port P]\n");
    return 1;
}

// The first LAN address, else loopback.
KL_String HostAddress() {
    KL_List<KL_IpAddress> ips;
    if (KL_SUCCEEDED(UP_UPnPMessageHelper::GetIPAddresses(ips, false)) && !ips.IsEmpty()) {
        return ips.GetFirstItem()->ToString();
    }
    return KL_String("127.0.0.1");
}

// The descriptive fields the application's DLNA service sets.
void Describe(UP_DeviceData& device, const char* name) {
    device.m_ModelDescription = KL_String::Format("File Media Server from %s", name);
    device.m_ModelName = KL_String::Format("Media Server - %s", name);
    device.m_ModelNumber = "5.0";
    device.m_Manufacturer = "Lanyard";
    device.m_ManufacturerURL = "";
    device.m_ModelURL = "";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const char* folder = argv[1];
    const char* name = argv[2];
    uint16_t port = 0;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            if (!tool::ParsePort(argv[++i], port)) {
                return Usage();
            }
        } else {
            return Usage();
        }
    }

    const sigset_t signals = tool::BlockStopSignals();

    auto* server = new ServedMediaServer(folder, name, false, nullptr, port, false);
    KL_Reference<UP_DeviceHost> device(server);
    Describe(*server, name);
    UP_UPnP upnp;
    (void)upnp.AddDevice(device);
    const KL_Result result = upnp.Start();
    if (KL_FAILED(result)) {
        return tool::Fail(result);
    }
    if (!server->IsStarted()) {
        (void)upnp.Stop();
        return tool::Fail(server->GetStartResult());
    }
    std::printf("device at %s\n", server->GetDescriptionUrl(HostAddress().GetChars()).GetChars());
    std::fflush(stdout);

    tool::WaitForStopSignal(signals);
    (void)upnp.Stop();
    return 0;
}
