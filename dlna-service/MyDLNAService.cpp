#include "MyDLNAService.h"

#include "KL_Check.h"
#include "KL_IpAddress.h"
#include "KL_List.h"
#include "KL_Log.h"
#include "KL_String.h"
#include "UP_FileMediaServer.h"
#include "UP_UPnPMessageHelper.h"

KL_SET_LOCAL_LOGGER("dlna.service");

namespace {

constexpr const char* kDefaultDeviceName = "Some iDevice";
constexpr const char* kManufacturer = "Lanyard";
// The project has no web page of its own yet; the description then carries empty URLs.
constexpr const char* kMakerURL = "";
constexpr const char* kModelNumber = "5.0";

} // namespace

MyDLNAService::MyDLNAService() = default;

MyDLNAService::~MyDLNAService() = default;

bool MyDLNAService::start(const std::string& folderPath, const std::string& deviceName) {
    // A started engine would start a second device at once; a restart first drops the old one.
    if (upnp.IsStarted()) {
        KL_LOG_WARNING("start refused: the media server already runs");
        return false;
    }
    if (!_mediaServer.IsNull()) {
        upnp.RemoveDevice(_mediaServer);
        _mediaServer = KL_Reference<UP_DeviceHost>();
    }

    const std::string name = deviceName.empty() ? kDefaultDeviceName : deviceName;
    const KL_String modelDescription = KL_String::Format("File Media Server from %s", name.c_str());
    const KL_String modelName = KL_String::Format("Media Server - %s", name.c_str());
    KL_Reference<UP_DeviceHost> device(
        new UP_FileMediaServer(folderPath.c_str(), name.c_str(), false, nullptr, 0, false), true);

    // Any failure of the interface enumeration, not only the general one, means nothing to serve on.
    KL_List<KL_IpAddress> addresses;
    if (const KL_Result result = UP_UPnPMessageHelper::GetIPAddresses(addresses, false);
        result != KL_SUCCESS) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result,
                            "(UP_UPnPMessageHelper::GetIPAddresses(addresses))");
        return false;
    }

    device->m_ModelDescription = modelDescription;
    device->m_ModelURL = kMakerURL;
    device->m_ModelNumber = kModelNumber;
    device->m_ModelName = modelName;
    device->m_Manufacturer = kManufacturer;
    device->m_ManufacturerURL = kMakerURL;

    upnp.AddDevice(device);
    if (const KL_Result result = upnp.Start(); result != KL_SUCCESS) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(upnp.Start())");
        upnp.RemoveDevice(device);
        return false;
    }
    // The engine starts even when its device fails to; then nothing is served.
    if (!device->IsStarted()) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, KL_FAILURE, "(device->IsStarted())");
        upnp.Stop();
        upnp.RemoveDevice(device);
        return false;
    }
    _mediaServer = device;
    return true;
}

bool MyDLNAService::stop() {
    return upnp.Stop() != KL_FAILURE;
}
