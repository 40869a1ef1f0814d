// upnpdevice: hosts the Counter test device (upnp/tests/support/CounterDevice.h, library
// upnp_test_support) for end-to-end checks (never installed).
//
//   upnpdevice [--port P] [--name NAME]
//
// The device runs in a UPnP engine (SSDP on UDP 1900: run it only inside a network namespace of
// the test's own). Prints "device at URL" (the description URL) once the device answers, runs
// until SIGINT or SIGTERM, then stops the engine (byebye sent) and exits 0. A failed start prints
// the result code's name on standard error ("FAILURE" when the device itself did not start) and
// exits 1.
#include "../ToolMain.h"
#include "CounterDevice.h"
#include "KL_List.h"
#include "KL_Result.h"
#include "UP_UPnP.h"
#include "UP_UPnPMessageHelper.h"

#include <cstdio>
#include <cstring>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: upnpdevice [--port P] [--name NAME]\n");
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

} // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    const char* name = "Lanyard Test Device";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            if (!tool::ParsePort(argv[++i], port)) {
                return Usage();
            }
        } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
            name = argv[++i];
        } else {
            return Usage();
        }
    }

    const sigset_t signals = tool::BlockStopSignals();

    // The device runs in an engine: announced over SSDP and answering M-SEARCH. A device that
    // failed inside the engine's start is "FAILURE".
    KL_Reference<UP_DeviceHost> device(new CounterDevice(name, port));
    UP_UPnP upnp;
    KL_Result result = upnp.AddDevice(device);
    if (KL_SUCCEEDED(result)) {
        result = upnp.Start();
    }
    if (KL_SUCCEEDED(result) && !device->IsStarted()) {
        result = KL_FAILURE;
        (void)upnp.Stop();
    }
    if (KL_FAILED(result)) {
        return tool::Fail(result);
    }
    std::printf("device at %s\n", device->GetDescriptionUrl(HostAddress().GetChars()).GetChars());
    std::fflush(stdout);

    tool::WaitForStopSignal(signals);
    (void)upnp.Stop(); // byebye sent
    return 0;
}
