// klserve: serves a folder with the runtime's HTTP server loop and its file handler (listings on,
// no index file), until SIGINT or SIGTERM.
//
//   klserve FOLDER PORT [--localhost]
//
// Prints "listening on URL" once the socket listens. --localhost binds 127.0.0.1; otherwise every
// IPv4 address is bound and the URL names the first usable interface's (127.0.0.1 when none).
// PORT 0 picks an ephemeral port. A failed start prints the result code's name on standard error
// and exits 1; a signal stops the server and exits 0.
#include "../ToolMain.h"
#include "KL_HttpFileRequestHandler.h"
#include "KL_HttpServer.h"
#include "KL_IpAddress.h"
#include "KL_NetworkInterface.h"
#include "KL_Result.h"

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: klserve FOLDER PORT [--localhost]\n");
    return 1;
}

KL_IpAddress AdvertisedAddress() {
    KL_NetworkInterfaceList interfaces;
    KL_IpAddress address(127, 0, 0, 1);
    if (KL_SUCCEEDED(KL_GetUsableNetworkInterfaces(interfaces, false, false))) {
        for (const KL_NetworkInterface* interface : interfaces) {
            if (interface->GetAddresses().GetItemCount() != 0) {
                address = interface->GetAddresses().GetFirstItem()->m_PrimaryAddress;
                break;
            }
        }
    }
    KL_DeleteNetworkInterfaces(interfaces);
    return address;
}

} // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    if (argc < 3 || argc > 4 || !tool::ParsePort(argv[2], port) ||
        (argc == 4 && std::strcmp(argv[3], "--localhost") != 0)) {
        return Usage();
    }
    const bool localhost = argc == 4;

    const sigset_t signals = tool::BlockStopSignals();

    KL_HttpServer server(localhost ? KL_IpAddress(127, 0, 0, 1) : KL_IpAddress::Any, port, false);
    // Listening before the ready line: a client right after it is queued, not refused.
    const KL_Result result = server.Listen(128);
    if (KL_FAILED(result)) {
        return tool::Fail(result);
    }
    (void)server.AddRequestHandler(new KL_HttpFileRequestHandler("/", argv[1], true, nullptr), "/", true,
                                   true);

    const KL_IpAddress host = localhost ? KL_IpAddress(127, 0, 0, 1) : AdvertisedAddress();
    std::printf("listening on http://%s:%u/\n", host.ToString().GetChars(),
                static_cast<unsigned>(server.GetPort()));
    std::fflush(stdout);

    std::thread loop([&server] { (void)server.Loop(true); });
    tool::WaitForStopSignal(signals);
    server.Terminate();
    (void)server.Abort();
    loop.join();
    return 0;
}
